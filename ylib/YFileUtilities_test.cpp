#include "ylib/YFileUtilities.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32/fileapi.h"
#include "ylib/YBufMalloc.h"
#include "ylib/YException.h"
#include "ylib/YFile.h"
#include "ylib/YTime.h"
#include "platform/text.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

std::string U8(std::u16string_view s) { return vel::ToUtf8(s); }

// The report a call raises: its entries (description, code) without stack
// entries, and the details by name.
struct Report {
  std::vector<std::pair<std::string, int>> entries;
  std::vector<std::pair<std::string, std::string>> details;
  std::string Detail(const std::string& name) const {
    for (const auto& d : details) {
      if (d.first == name) return d.second;
    }
    return "<missing>";
  }
};

std::optional<Report> Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const CYException& x) {
    Report r;
    for (const auto& entry : x.GetTree().GetChildren()) {
      std::string description;
      int code = 0;
      for (const auto& child : entry->GetChildren()) {
        const std::string name = U8(child->GetName());
        if (name == "description") {
          description = U8(child->GetValue());
        } else if (name == "errorcode") {
          code = std::stoi(U8(child->GetValue()));
        } else if (name != "sourcefile" && name != "sourceline" && name != "sourcefunction") {
          r.details.emplace_back(name, U8(child->GetValue()));
        }
      }
      if (code != 1005) r.entries.emplace_back(description, code);
    }
    return r;
  }
  return std::nullopt;
}

using Entries = std::vector<std::pair<std::string, int>>;
constexpr int kHrFileNotFound = static_cast<int>(0x80070002u);
constexpr int kHrPathNotFound = static_cast<int>(0x80070003u);

// Path texts: no file system, so the drive-letter examples are fine here.
TEST(CYFileUtilitiesText, NamesPathsAndExtensions) {
  struct Row {
    std::u16string path, name, folder, stem, ext;
  };
  const std::vector<Row> rows = {
      {u"C:\\dir\\a.txt", u"a.txt", u"C:\\dir\\", u"a", u".txt"},
      {u"a.txt", u"a.txt", u"", u"a", u".txt"},
      {u"C:\\dir\\", u"", u"C:\\dir\\", u"", u""},
      {u"archive.tar.gz", u"archive.tar.gz", u"", u"archive.tar", u".gz"},
      {u"C:\\dir\\archive.tar.gz", u"archive.tar.gz", u"C:\\dir\\", u"archive.tar", u".gz"},
      {u".profile", u".profile", u"", u"", u""},
      {u"C:\\dir\\.profile", u".profile", u"C:\\dir\\", u"", u""},
      {u"C:\\my.dir\\file", u"file", u"C:\\my.dir\\", u"file", u""},
      {u"/home/u/name.", u"name.", u"/home/u/", u"name", u"."},
      {u"/home/u\\mixed.mp3", u"mixed.mp3", u"/home/u\\", u"mixed", u".mp3"},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(U8(CYFileUtilities::GetFilenameFromPath(r.path)), U8(r.name)) << U8(r.path);
    EXPECT_EQ(U8(CYFileUtilities::GetPathFromFilename(r.path)), U8(r.folder)) << U8(r.path);
    EXPECT_EQ(U8(CYFileUtilities::GetFilenameWithoutExtension(r.path)), U8(r.stem)) << U8(r.path);
    EXPECT_EQ(U8(CYFileUtilities::GetFileExtension(r.path)), U8(r.ext)) << U8(r.path);
  }
}

TEST(CYFileUtilitiesText, ConcatenationRelativityAndSeparators) {
  struct Concat {
    std::u16string first, second, result;
  };
  for (const Concat& c : std::vector<Concat>{{u"C:\\dir", u"\\file", u"C:\\dir\\file"},
                                             {u"C:\\dir\\", u"file", u"C:\\dir\\file"},
                                             {u"C:\\dir", u"//file", u"C:\\dir\\/file"},
                                             {u"/home/u/", u"a.mp3", u"/home/u/a.mp3"},
                                             {u"", u"", u""},
                                             {u"C:\\dir", u"", u"C:\\dir"}}) {
    EXPECT_EQ(U8(CYFileUtilities::ConcatPathname(c.first, c.second)), U8(c.result))
        << U8(c.first) << " + " << U8(c.second);
  }
  // Paths the module makes for others join with the file system's separator;
  // one the caller already put at the end stays the only one.
  EXPECT_EQ(U8(CYFileUtilities::ConcatPathname(u"out", u"a.txt", kNativePathSeparator)), "out/a.txt");
  EXPECT_EQ(U8(CYFileUtilities::ConcatPathname(u"out\\", u"a.txt", kNativePathSeparator)), "out\\a.txt");
  const auto r = Raised([] { CYFileUtilities::ConcatPathname(u"", u"file"); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"Invalid function parameter.", 1010}}));
  EXPECT_EQ(r->Detail("CYFileUtilities::ConcatPathname()str1"), "");
  EXPECT_EQ(r->Detail("CYFileUtilities::ConcatPathname()str2"), "file");

  struct Relative {
    std::u16string path;
    bool relative;
  };
  for (const Relative& c : std::vector<Relative>{{u"", true},
                                                 {u"C:\\x", false},
                                                 {u"C:x", false},
                                                 {u"\\\\server\\share", false},
                                                 {u"\\dir", true},
                                                 {u"dir\\x", true},
                                                 {u"//server/share", true}}) {
    EXPECT_EQ(CYFileUtilities::IsRelativePath(c.path), c.relative) << U8(c.path);
  }

  std::u16string p = u"C:\\dir";
  CYFileUtilities::EnsurePathSeparatorAtEnd(p, u"\\");
  EXPECT_EQ(U8(p), "C:\\dir\\");
  p = u"/home/";
  CYFileUtilities::EnsurePathSeparatorAtEnd(p, u"\\");
  EXPECT_EQ(U8(p), "/home/");
  p.clear();
  CYFileUtilities::EnsurePathSeparatorAtEnd(p, u"\\");
  EXPECT_EQ(U8(p), "");
  EXPECT_EQ(U8(CYFileUtilities::SetPathSeparator(u"a/b\\c", u'|')), "a|b|c");
}

TEST(CYFileUtilitiesText, ExtendedLengthForms) {
  struct Row {
    std::u16string path, unicode;
  };
  for (const Row& r : std::vector<Row>{{u"C:/dir/a.txt", u"\\\\?\\C:\\dir\\a.txt"},
                                       {u"//server/share/a", u"\\\\?\\UNC\\server\\share\\a"},
                                       {u"\\\\?\\C:\\x", u"\\\\?\\C:\\x"},
                                       {u"\\\\?\\UNC\\s\\x", u"\\\\?\\UNC\\s\\x"},
                                       {u"dir\\a.txt", u"dir\\a.txt"},
                                       {u"/home/u/a.txt", u"\\home\\u\\a.txt"},
                                       {u"", u""}}) {
    EXPECT_EQ(U8(CYFileUtilities::GetUnicodePath(r.path)), U8(r.unicode)) << U8(r.path);
  }
  for (const Row& r : std::vector<Row>{{u"\\\\?\\UNC\\server\\share", u"\\\\server\\share"},
                                       {u"\\\\?\\C:\\x", u"C:\\x"},
                                       {u"C:\\x\\\\?\\y", u"C:\\x\\\\?\\y"},
                                       {u"/home/u", u"/home/u"}}) {
    std::u16string p = r.path;
    CYFileUtilities::RemoveUnicodePath(p);
    EXPECT_EQ(U8(p), U8(r.unicode)) << U8(r.path);
  }
}

class CYFileUtilitiesDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velfileutil-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::u16string P(const std::string& rel) const { return vel::FromUtf8(dir_ + "/" + rel); }
  // The same path as the module writes it: backslashes.
  std::u16string B(const std::string& rel) const { return CYFileUtilities::SetPathSeparator(P(rel), u'\\'); }
  void Write(const std::string& rel, const std::string& content) const {
    std::ofstream(dir_ + "/" + rel, std::ios::binary) << content;
  }
  std::string Read(const std::string& rel) const {
    std::ifstream in(dir_ + "/" + rel, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string dir_;
};

TEST_F(CYFileUtilitiesDisk, ExistenceDirectoriesAndSizes) {
  Write("a.txt", "12345");
  fs::create_directory(dir_ + "/sub");
  EXPECT_TRUE(CYFileUtilities::FileExists(P("a.txt")));
  EXPECT_TRUE(CYFileUtilities::FileExists(B("a.txt")));
  EXPECT_TRUE(CYFileUtilities::FileExists(B("*.txt")));  // the name is a pattern
  EXPECT_FALSE(CYFileUtilities::FileExists(P("b.txt")));
  EXPECT_TRUE(CYFileUtilities::IsDirectory(u"C:/"));  // a drive root, without the disk
  EXPECT_TRUE(CYFileUtilities::IsDirectory(B("sub\\")));
  EXPECT_TRUE(CYFileUtilities::IsDirectory(P("sub/")));
  EXPECT_FALSE(CYFileUtilities::IsDirectory(P("a.txt")));
  EXPECT_FALSE(CYFileUtilities::IsDirectory(P("none")));

  EXPECT_NO_THROW(CYFileUtilities::CheckFileExists(P("a.txt")));
  const auto r = Raised([&] { CYFileUtilities::CheckFileExists(P("b.txt")); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"The system cannot find the file specified.", kHrFileNotFound}}));
  EXPECT_EQ(r->Detail("File"), U8(P("b.txt")));

  EXPECT_EQ(CYFileUtilities::GetFileSize(B("a.txt")), 5u);
  EXPECT_EQ(CYFileUtilities::GetFileSize(P("none.txt")), 0u);
  fs::resize_file(dir_ + "/a.txt", 0x100000005ULL);  // sparse, beyond 4 GiB
  EXPECT_EQ(CYFileUtilities::GetFileSize(P("a.txt")), 0x100000005ULL);
}

TEST_F(CYFileUtilitiesDisk, FileTimesAndTheirErrorOrder) {
  Write("t.txt", "x");
  SYSTEMTIME now;
  GetSystemTime(&now);
  const DATE expected = CYTime::SystemTimeToVariantTime(now);
  for (int which : {0, 1, 2}) {
    EXPECT_NEAR(CYFileUtilities::GetFileTime(B("t.txt"), which, 0), expected, 10.0 / 86400) << which;
  }
  SYSTEMTIME local;
  GetLocalTime(&local);
  EXPECT_NEAR(CYFileUtilities::GetFileTime(P("t.txt"), 2, 1), CYTime::SystemTimeToVariantTime(local), 10.0 / 86400);

  auto r = Raised([&] { CYFileUtilities::GetFileTime(P("t.txt"), 3, 0); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"Invalid function parameter.", 1010}}));
  r = Raised([&] { CYFileUtilities::GetFileTime(P("none.txt"), 3, 0); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"The system cannot find the file specified.", kHrFileNotFound},
                                 {"Failed to open file.", 1016}}));
  EXPECT_EQ(r->Detail("File"), U8(P("none.txt")));
}

TEST_F(CYFileUtilitiesDisk, ShortLongAndTemporaryPaths) {
  Write("long name.txt", "");
  bool ok = true;
  EXPECT_EQ(U8(CYFileUtilities::GetShortFilePath(P("long name.txt"), ok)), U8(B("long name.txt")));
  EXPECT_FALSE(ok);
  EXPECT_EQ(U8(CYFileUtilities::GetLongFilePath(P("long name.txt"))), U8(B("long name.txt")));
  const auto r = Raised([&] { CYFileUtilities::GetLongFilePath(P("none")); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"The system cannot find the file specified.", kHrFileNotFound}}));
  EXPECT_EQ(r->Detail("FileSentToWin32"), U8(B("none")));

  const char* old = getenv("TMPDIR");
  const std::string saved = old ? old : "";
  setenv("TMPDIR", dir_.c_str(), 1);
  const std::u16string temp = CYFileUtilities::GetTempDirectory();
  EXPECT_EQ(U8(temp), U8(B("")));  // the folder, ending in a separator
  setenv("TMPDIR", (dir_ + "/missing").c_str(), 1);
  EXPECT_TRUE(Raised([] { CYFileUtilities::GetTempDirectory(); }));
  if (old) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST_F(CYFileUtilitiesDisk, ShellFolders) {
  const std::string config = dir_ + "/config";
  fs::create_directory(config);
  std::ofstream(config + "/user-dirs.dirs") << "XDG_MUSIC_DIR=\"" << dir_ << "/music\"\n";
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(U8(CYFileUtilities::SHGetFolder(CSIDL_MYMUSIC)), dir_ + "/music");
  const auto r = Raised([] { CYFileUtilities::SHGetFolder(5); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"The parameter is incorrect.", static_cast<int>(0x80070057u)}}));
  unsetenv("XDG_CONFIG_HOME");
  const auto bad = Raised([] { CYFileUtilities::SHGetPathFromItemListAndDisposeIt(nullptr); });
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->entries, (Entries{{"SHGetPath failed.", 2010}}));
}

TEST_F(CYFileUtilitiesDisk, DeleteMoveAndReadOnly) {
  Write("src.txt", "new");
  Write("dst.txt", "old");
  CYFileUtilities::SetFileReadonly(P("dst.txt"), true);
  EXPECT_EQ(GetFileAttributesW(P("dst.txt").c_str()), FILE_ATTRIBUTE_READONLY);

  auto r = Raised([&] { CYFileUtilities::MoveFileW(P("src.txt"), P("dst.txt"), true); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"Cannot create a file when that file already exists.", static_cast<int>(0x800700B7u)},
                                 {"Failed to move file.", 2008}}));
  EXPECT_EQ(r->Detail("SrcFile"), U8(P("src.txt")));
  EXPECT_EQ(r->Detail("DstFile"), U8(P("dst.txt")));

  CYFileUtilities::MoveFileW(B("src.txt"), B("dst.txt"), false);  // replaces the read-only file
  EXPECT_EQ(Read("dst.txt"), "new");
  EXPECT_FALSE(fs::exists(dir_ + "/src.txt"));

  CYFileUtilities::SetFileReadonly(P("dst.txt"), true);
  r = Raised([&] { CYFileUtilities::DeleteFileW(P("dst.txt"), false); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"Access is denied.", static_cast<int>(0x80070005u)},
                                 {"Failed to delete file.", 2012}}));
  CYFileUtilities::DeleteFileW(P("dst.txt"), true);
  EXPECT_FALSE(fs::exists(dir_ + "/dst.txt"));

  r = Raised([&] { CYFileUtilities::SetFileReadonly(P("none"), true); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"No such file or directory", 2}}));
}

TEST_F(CYFileUtilitiesDisk, BuildDirectoryChains) {
  CYFileUtilities::BuildDirectory(B("a\\b\\c"));
  EXPECT_TRUE(fs::is_directory(dir_ + "/a/b/c"));
  CYFileUtilities::BuildDirectory(P("a/b/c"));  // exists: nothing to do
  CYFileUtilities::BuildDirectory(u"\\\\?\\" + B("x\\\\y\\"));  // doubled and trailing separators
  EXPECT_TRUE(fs::is_directory(dir_ + "/x/y"));

  Write("file", "");
  auto r = Raised([&] { CYFileUtilities::BuildDirectory(P("file")); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"Failed to create directory.", 2001}}));
  EXPECT_EQ(r->Detail("Directory"), U8(P("file")));
  r = Raised([&] { CYFileUtilities::BuildDirectory(P("file/sub/deeper")); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"The system cannot find the path specified.", kHrPathNotFound}}));
  r = Raised([&] { CYFileUtilities::BuildDirectory(u""); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"Invalid function parameter.", 1010}}));
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char buf[4];
  for (unsigned char c : bytes) {
    snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

TEST_F(CYFileUtilitiesDisk, WriteTextFileEncodings) {
  struct Row {
    int encoding;
    const char* bytes;
  };
  for (const Row& r : std::vector<Row>{{4, "EF BB BF 61 62 63"},
                                       {2, "FF FE 61 00 62 00 63 00"},
                                       {3, "FE FF 00 61 00 62 00 63"},
                                       {1, "61 62 63"}}) {
    const std::string name = "enc" + std::to_string(r.encoding) + "/out.txt";
    CYFileUtilities::WriteTextFile(B(name), u"abc", false, r.encoding);  // builds the folder too
    EXPECT_EQ(Hex(Read(name)), r.bytes) << r.encoding;
  }
  // Non-ASCII text: the ANSI code page (1252 by default) and UTF-8.
  CYFileUtilities::WriteTextFile(P("ansi.txt"), u"\u00e9\u20ac", false, 1);
  EXPECT_EQ(Hex(Read("ansi.txt")), "E9 80");
  CYFileUtilities::WriteTextFile(P("utf8.txt"), u"\u00e9", false, 4);
  EXPECT_EQ(Hex(Read("utf8.txt")), "EF BB BF C3 A9");

  // Rewriting empties the old content.
  CYFileUtilities::WriteTextFile(P("enc4/out.txt"), u"z", false, 1);
  EXPECT_EQ(Read("enc4/out.txt"), "z");
}

TEST_F(CYFileUtilitiesDisk, WriteTextFileAppendDetection) {
  struct Row {
    const char* name;
    std::string before;  // "<none>": no file
    int encoding;
    std::string after;   // hex, or "1010"
  };
  const std::vector<Row> rows = {
      {"detect UTF-16LE", "\xFF\xFE\x61\x00"s, 0, "FF FE 61 00 62 00"},
      {"detect UTF-16BE", "\xFE\xFF\x00\x61"s, 0, "FE FF 00 61 00 62"},
      {"detect UTF-8", "\xEF\xBB\xBF\x61", 0, "EF BB BF 61 62"},
      {"detect ANSI", "xyz", 0, "78 79 7A 62"},
      {"given encoding, other mark", "\xFF\xFE\x61\x00"s, 4, "FF FE 61 00 62"},
      {"empty file gets a mark", "", 2, "FF FE 62 00"},
      {"missing file gets a mark", "<none>", 4, "EF BB BF 62"},
      {"detect on missing file", "<none>", 0, "1010"},
      {"detect on empty file", "", 0, "1010"},
      {"detect on two bytes", "ab", 0, "1010"},
  };
  int i = 0;
  for (const Row& r : rows) {
    const std::string name = "append" + std::to_string(i++) + ".txt";
    if (r.before != "<none>") Write(name, r.before);
    const auto raised = Raised([&] { CYFileUtilities::WriteTextFile(P(name), u"b", true, r.encoding); });
    if (r.after == "1010") {
      ASSERT_TRUE(raised) << r.name;
      EXPECT_EQ(raised->entries, (Entries{{"Invalid function parameter.", 1010}})) << r.name;
      EXPECT_EQ(raised->Detail("Filename"), U8(P(name))) << r.name;
      EXPECT_EQ(raised->Detail("Content"), "b") << r.name;
      EXPECT_TRUE(fs::exists(dir_ + "/" + name)) << r.name;  // created or kept by then
    } else {
      EXPECT_FALSE(raised) << r.name;
      EXPECT_EQ(Hex(Read(name)), r.after) << r.name;
    }
  }
  // Detection without append, and a bare file name, fail too.
  Write("keep.txt", "old");
  auto raised = Raised([&] { CYFileUtilities::WriteTextFile(P("keep.txt"), u"b", false, 0); });
  ASSERT_TRUE(raised);
  EXPECT_EQ(Read("keep.txt"), "");  // emptied before the encoding was refused
  raised = Raised([&] { CYFileUtilities::WriteTextFile(u"bare.txt", u"b", false, 1); });
  ASSERT_TRUE(raised);
  EXPECT_EQ(raised->entries, (Entries{{"Invalid function parameter.", 1010}}));
  EXPECT_EQ(raised->Detail("Filename"), "bare.txt");
}

TEST_F(CYFileUtilitiesDisk, WriteTextFileSharesReadOnly) {
  HANDLE other = CreateFileW(P("busy.txt").c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  const auto raised = Raised([&] { CYFileUtilities::WriteTextFile(P("busy.txt"), u"b", true, 1); });
  CloseHandle(other);
  ASSERT_TRUE(raised);
  EXPECT_EQ(raised->entries[0].second, static_cast<int>(0x80070020u));
}

TEST_F(CYFileUtilitiesDisk, CYFileKeepsTheOldTail) {
  Write("f.bin", "0123456789");
  {
    CYFile file;
    const auto r = Raised([&] { file.WriteBytes("x", 1); });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->entries, (Entries{{"File not open.", 2006}}));
    file.Open(B("f.bin"), true);
    EXPECT_EQ(file.WriteBytes("ab", 2), 2);
  }
  EXPECT_EQ(Read("f.bin"), "ab23456789");

  CYFile created;
  created.Open(P("new/dir/g.bin"), true);  // builds the folders
  EXPECT_EQ(created.WriteBytes("xyz", 3), 3);
  created.Close();
  EXPECT_EQ(Read("new/dir/g.bin"), "xyz");

  CYFile reader;
  auto r = Raised([&] { reader.Open(P("none.bin"), false); });
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"The system cannot find the file specified.", kHrFileNotFound}}));
  reader.Open(P("f.bin"), false);
  r = Raised([&] { reader.WriteBytes("x", 1); });  // opened for reading: the C runtime's text
  ASSERT_TRUE(r);
  EXPECT_EQ(r->entries, (Entries{{"Bad file descriptor", 9}}));
}

}  // namespace
