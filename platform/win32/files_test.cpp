// Files, directories, the C runtime's descriptors, shell folders and the event log.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "platform/win32/crtio.h"
#include "platform/win32/eventlog.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/paths.h"
#include "platform/win32/shlobj.h"

namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velfiles-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // A path below the folder, as module text with forward slashes.
  std::u16string P(const std::string& rel) const { return vel::FromUtf8(dir_ + "/" + rel); }
  // The same path written with backslashes.
  std::u16string Backslashed(const std::string& rel) const {
    std::u16string p = P(rel);
    for (auto& c : p) c = c == u'/' ? u'\\' : c;
    return p;
  }
  void Write(const std::string& rel, const std::string& content) const {
    std::ofstream(dir_ + "/" + rel, std::ios::binary) << content;
  }
  std::string Read(const std::string& rel) const {
    std::ifstream in(dir_ + "/" + rel, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void MakeReadOnly(const std::string& rel) const { chmod((dir_ + "/" + rel).c_str(), 0444); }

  HANDLE Open(const std::u16string& path, DWORD access, DWORD share, DWORD disposition) const {
    return CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }

  std::string dir_;
};

// The one errno mapping the file functions, the registry store and the named
// mutexes share; each caller names what an errno without a counterpart means.
TEST(ErrnoMapping, OneTableWithTheCallersFallback) {
  struct Row { const char* name; int err; DWORD expected; };
  const Row rows[] = {
      {"none", 0, ERROR_SUCCESS},
      {"ENOENT without a path", ENOENT, ERROR_PATH_NOT_FOUND},
      {"ENOTDIR", ENOTDIR, ERROR_PATH_NOT_FOUND},
      {"EACCES", EACCES, ERROR_ACCESS_DENIED},
      {"EROFS", EROFS, ERROR_ACCESS_DENIED},
      {"EEXIST without a path", EEXIST, ERROR_ALREADY_EXISTS},
      {"ENOSPC", ENOSPC, ERROR_DISK_FULL},
      {"EMFILE", EMFILE, ERROR_TOO_MANY_OPEN_FILES},
      {"ENAMETOOLONG", ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
      {"ENOMEM", ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
      {"no counterpart", EPIPE, ERROR_CANTOPEN},
  };
  for (const Row& r : rows) EXPECT_EQ(vel::win32::ErrorFromErrno(r.err, static_cast<DWORD>(ERROR_CANTOPEN)), r.expected) << r.name;
}

TEST_F(FilesTest, ErrnoOnAPathTellsAMissingFileFromAMissingFolder) {
  struct Row { const char* name; int err; std::string path; DWORD expected; };
  const std::vector<Row> rows = {
      {"missing file in a folder", ENOENT, dir_ + "/missing.txt", ERROR_FILE_NOT_FOUND},
      {"missing folder", ENOENT, dir_ + "/no/missing.txt", ERROR_PATH_NOT_FOUND},
      {"exists", EEXIST, dir_ + "/a.txt", ERROR_FILE_EXISTS},
      {"no counterpart", EPIPE, dir_ + "/a.txt", ERROR_INVALID_FUNCTION},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(vel::win32::ErrorFromErrno(r.err, r.path, ERROR_FILE_EXISTS), r.expected) << r.name;
  }
}

TEST_F(FilesTest, PathFormsNameTheSameFileOrNone) {
  Write("a.txt", "abc");
  struct Row {
    const char* name;
    std::u16string path;
    DWORD error;  // 0: opens
  };
  const std::vector<Row> rows = {
      {"forward slashes", P("a.txt"), 0},
      {"backslashes", Backslashed("a.txt"), 0},
      {"extended prefix", u"\\\\?\\" + Backslashed("a.txt"), 0},
      {"drive letter", u"C:\\dir\\a.txt", ERROR_PATH_NOT_FOUND},
      {"drive relative", u"c:a.txt", ERROR_PATH_NOT_FOUND},
      {"network", u"\\\\server\\share\\a.txt", ERROR_PATH_NOT_FOUND},
      {"extended network", u"\\\\?\\UNC\\server\\share\\a.txt", ERROR_PATH_NOT_FOUND},
      {"empty", u"", ERROR_PATH_NOT_FOUND},
  };
  for (const auto& r : rows) {
    HANDLE h = Open(r.path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    if (r.error == 0) {
      ASSERT_NE(h, INVALID_HANDLE_VALUE) << r.name << " error " << GetLastError();
      EXPECT_EQ(GetFileSize(h, nullptr), 3u) << r.name;
      EXPECT_TRUE(CloseHandle(h)) << r.name;
    } else {
      EXPECT_EQ(h, INVALID_HANDLE_VALUE) << r.name;
      EXPECT_EQ(GetLastError(), r.error) << r.name;
    }
  }
}

TEST_F(FilesTest, CreateFileDispositionsAndErrors) {
  Write("old.txt", "old content");
  Write("plain", "x");
  struct Row {
    const char* name;
    std::u16string path;
    DWORD disposition;
    DWORD lastError;  // after success, or the failure
    bool ok;
  };
  const std::vector<Row> rows = {
      {"open missing", P("missing.txt"), OPEN_EXISTING, ERROR_FILE_NOT_FOUND, false},
      {"open in missing folder", P("nodir/x.txt"), OPEN_EXISTING, ERROR_PATH_NOT_FOUND, false},
      {"create below a file", P("plain/x.txt"), CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, false},
      {"create new over existing", P("old.txt"), CREATE_NEW, ERROR_FILE_EXISTS, false},
      {"create new", P("new1.txt"), CREATE_NEW, ERROR_SUCCESS, true},
      {"open always new", P("new2.txt"), OPEN_ALWAYS, ERROR_SUCCESS, true},
      {"open always existing", P("old.txt"), OPEN_ALWAYS, ERROR_ALREADY_EXISTS, true},
      {"truncate existing missing", P("missing.txt"), TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND, false},
  };
  for (const auto& r : rows) {
    HANDLE h = Open(r.path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, r.disposition);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, r.ok) << r.name;
    EXPECT_EQ(GetLastError(), r.lastError) << r.name;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  EXPECT_EQ(Read("old.txt"), "old content");  // OPEN_ALWAYS keeps the content

  HANDLE h = Open(P("old.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  CloseHandle(h);
  EXPECT_EQ(Read("old.txt"), "");

  // A directory needs backup semantics; a read-only file cannot be opened to write.
  fs::create_directory(dir_ + "/sub");
  EXPECT_EQ(Open(P("sub"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  Write("ro.txt", "keep");
  MakeReadOnly("ro.txt");
  EXPECT_EQ(Open(P("ro.txt"), GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Read("ro.txt"), "keep");
  h = Open(P("ro.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

TEST_F(FilesTest, ShareModesExcludeEachOther) {
  Write("log.txt", "first line\n");
  // The log writer's way: read and write, sharing read only.
  HANDLE writer = Open(P("log.txt"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);

  EXPECT_EQ(Open(P("log.txt"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // A second writer that would empty the file fails before it does so.
  EXPECT_EQ(Open(P("log.txt"), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(Read("log.txt"), "first line\n");
  // A reader that lets others write may read along; one that denies writing may not.
  HANDLE reader = Open(P("log.txt"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(P("log.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  // Attribute queries meet no share mode.
  HANDLE attributes = Open(P("log.txt"), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(attributes, INVALID_HANDLE_VALUE);
  CloseHandle(attributes);
  CloseHandle(reader);

  CloseHandle(writer);
  HANDLE again = Open(P("log.txt"), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  EXPECT_NE(again, INVALID_HANDLE_VALUE);
  CloseHandle(again);
  // Exclusive (share 0) keeps out even readers.
  HANDLE exclusive = Open(P("log.txt"), GENERIC_READ, 0, OPEN_EXISTING);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(P("log.txt"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  CloseHandle(exclusive);
}

// The metadata readers' open: a snapshot reader outside share modes, with the
// size at the open; folders and missing files fail as CreateFileW fails.
TEST_F(FilesTest, OpenFileForReadingMeetsNoShareMode) {
  Write("song.m4a", "0123456789");
  HANDLE exclusive = Open(P("song.m4a"), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
  ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
  std::int64_t size = -1;
  HANDLE reader = vel::OpenFileForReading(P("song.m4a").c_str(), &size);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(size, 10);
  char buf[16] = {};
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(reader, buf, sizeof buf, &got, nullptr));
  EXPECT_EQ(std::string(buf, got), "0123456789");
  // It reads only, and keeps nobody out.
  EXPECT_FALSE(WriteFile(reader, "x", 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(exclusive);
  HANDLE another = Open(P("song.m4a"), GENERIC_READ, 0, OPEN_EXISTING);
  EXPECT_NE(another, INVALID_HANDLE_VALUE);
  CloseHandle(another);
  CloseHandle(reader);

  const struct {
    const char* name;
    DWORD error;
  } failures[] = {{"", ERROR_ACCESS_DENIED}, {"missing.m4a", ERROR_FILE_NOT_FOUND},
                  {"nofolder/x.m4a", ERROR_PATH_NOT_FOUND}};
  for (const auto& f : failures) {
    EXPECT_EQ(vel::OpenFileForReading(P(f.name).c_str(), &size), INVALID_HANDLE_VALUE) << f.name;
    EXPECT_EQ(GetLastError(), f.error) << f.name;
  }
}

TEST_F(FilesTest, AttributeDataAgreesWithFindData) {
  Write("a.wav", std::string(70000, 'x'));
  ASSERT_EQ(mkdir((dir_ + "/sub").c_str(), 0755), 0);
  for (const char* name : {"a.wav", "sub"}) {
    WIN32_FILE_ATTRIBUTE_DATA a{};
    ASSERT_TRUE(GetFileAttributesExW(P(name).c_str(), GetFileExInfoStandard, &a)) << name;
    WIN32_FIND_DATAW f{};
    HANDLE h = FindFirstFileW(P(name).c_str(), &f);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
    FindClose(h);
    EXPECT_EQ(a.dwFileAttributes, f.dwFileAttributes) << name;
    EXPECT_EQ(a.nFileSizeLow, f.nFileSizeLow) << name;
    EXPECT_EQ(a.ftLastWriteTime.dwLowDateTime, f.ftLastWriteTime.dwLowDateTime) << name;
    EXPECT_EQ(a.dwFileAttributes, GetFileAttributesW(P(name).c_str())) << name;
  }
  WIN32_FILE_ATTRIBUTE_DATA a{};
  GetFileAttributesExW(P("a.wav").c_str(), GetFileExInfoStandard, &a);
  EXPECT_EQ(a.nFileSizeLow, 70000u);
  EXPECT_FALSE(GetFileAttributesExW(P("missing").c_str(), GetFileExInfoStandard, &a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, ReadWriteSeekAndSize) {
  HANDLE h = Open(P("data.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(h, "0123456789", 10, &n, nullptr));
  EXPECT_EQ(n, 10u);
  EXPECT_EQ(SetFilePointer(h, 2, nullptr, FILE_BEGIN), 2u);
  char buf[8] = {};
  ASSERT_TRUE(ReadFile(h, buf, 3, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "234");
  EXPECT_EQ(SetFilePointer(h, -2, nullptr, FILE_END), 8u);
  ASSERT_TRUE(ReadFile(h, buf, 8, &n, nullptr));  // short read at the end is success
  EXPECT_EQ(std::string(buf, n), "89");
  ASSERT_TRUE(ReadFile(h, buf, 8, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(SetFilePointer(h, -20, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));

  // Beyond 4 GiB: the high parts carry the rest (a sparse file).
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
  EXPECT_EQ(high, 1);
  ASSERT_TRUE(WriteFile(h, "z", 1, &n, nullptr));
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(h, &sizeHigh), 6u);
  EXPECT_EQ(sizeHigh, 1u);
  LARGE_INTEGER size;
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, 0x100000006LL);
  CloseHandle(h);

  // Access is checked per handle.
  h = Open(P("data.bin"), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(ReadFile(h, buf, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(GetFileSizeEx(h, &size));
  CloseHandle(h);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(GetFileSize(h, nullptr), INVALID_FILE_SIZE);
}

// Another process may shorten a mapped file here; the pages that vanish read
// as zeros rather than ending the process. Other bus errors still end it.
TEST_F(FilesTest, AViewOfAShortenedFileReadsZerosPastTheNewEnd) {
  const long page = sysconf(_SC_PAGESIZE);
  Write("s.bin", std::string(static_cast<size_t>(3 * page), 'x'));
  HANDLE f = Open(P("s.bin"), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  HANDLE m = CreateFileMappingW(f, nullptr, PAGE_READONLY, 0, 0, nullptr);
  CloseHandle(f);
  ASSERT_NE(m, nullptr);
  const auto* view = static_cast<const volatile char*>(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0));
  CloseHandle(m);
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(truncate((dir_ + "/s.bin").c_str(), page + 10), 0);
  EXPECT_EQ(view[0], 'x');
  EXPECT_EQ(view[page + 9], 'x');
  EXPECT_EQ(view[page + 10], 0);  // past the end on the last page: zeros, as always
  EXPECT_EQ(view[2 * page], 0);   // a page that vanished
  EXPECT_EQ(view[3 * page - 1], 0);
  EXPECT_TRUE(UnmapViewOfFile(const_cast<const char*>(view)));

  // A bus error that is not about a view ends the process as before (under
  // a sanitizer, through the sanitizer's report).
  const auto ended = [](int status) { return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0); };
  EXPECT_EXIT(raise(SIGBUS), ended, "");
}

TEST_F(FilesTest, ReadOnlyMappingsOfWholeFiles) {
  Write("m.bin", "mapped bytes");
  Write("empty.bin", "");
  HANDLE f = Open(P("m.bin"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  HANDLE m = CreateFileMappingW(f, nullptr, PAGE_READONLY, 0, 0, nullptr);
  ASSERT_NE(m, nullptr);
  CloseHandle(f);  // the mapping keeps the file
  const void* view = MapViewOfFile(m, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(view, nullptr);
  CloseHandle(m);  // the view keeps the mapping
  EXPECT_EQ(std::string(static_cast<const char*>(view), 12), "mapped bytes");
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  // Empty files, writable mappings, views past the end and write-only handles are refused.
  f = Open(P("empty.bin"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(CreateFileMappingW(f, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_INVALID));
  CloseHandle(f);
  f = Open(P("m.bin"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(CreateFileMappingW(f, nullptr, 0x04 /* PAGE_READWRITE */, 0, 0, nullptr), nullptr);
  EXPECT_EQ(CreateFileMappingW(f, nullptr, PAGE_READONLY, 0, 13, nullptr), nullptr);
  m = CreateFileMappingW(f, nullptr, PAGE_READONLY, 0, 0, nullptr);
  EXPECT_EQ(MapViewOfFile(m, FILE_MAP_READ, 0, 0, 13), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  CloseHandle(m);
  CloseHandle(f);
  f = Open(P("m.bin"), GENERIC_WRITE, 0, OPEN_EXISTING);
  EXPECT_EQ(CreateFileMappingW(f, nullptr, PAGE_READONLY, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(FlushFileBuffers(f));
  CloseHandle(f);
}

TEST_F(FilesTest, FileTimesAreFileTimesOfNow) {
  Write("t.txt", "x");
  HANDLE h = Open(P("t.txt"), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME created, accessed, written, now;
  ASSERT_TRUE(GetFileTime(h, &created, &accessed, &written));
  CloseHandle(h);
  GetSystemTimeAsFileTime(&now);
  auto ticks = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  const ULONGLONG tenSeconds = 10ULL * 10000000ULL;
  for (FILETIME t : {created, accessed, written}) {
    EXPECT_LE(ticks(t), ticks(now) + tenSeconds);
    EXPECT_GE(ticks(t) + tenSeconds, ticks(now));
  }
}

TEST_F(FilesTest, FindPatternsAndAttributes) {
  Write("a.txt", "1");
  Write("b.txt", "22");
  Write("abc.dat", "333");
  Write(".profile", "");
  fs::create_directory(dir_ + "/sub");
  Write("ro.txt", "r");
  MakeReadOnly("ro.txt");

  auto names = [&](const std::u16string& pattern) {
    std::vector<std::string> out;
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW(pattern.c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return out;
    do {
      out.push_back(vel::ToUtf8(d.cFileName));
    } while (FindNextFileW(h, &d));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(h));
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(names(P("*.txt")), (std::vector<std::string>{"a.txt", "b.txt", "ro.txt"}));
  EXPECT_EQ(names(Backslashed("?.txt")), (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(names(P("a*")), (std::vector<std::string>{"a.txt", "abc.dat"}));
  EXPECT_EQ(names(P(".pro*")), (std::vector<std::string>{".profile"}));
  EXPECT_EQ(names(P("abc.dat")), (std::vector<std::string>{"abc.dat"}));

  WIN32_FIND_DATAW d;
  HANDLE h = FindFirstFileW(P("sub").c_str(), &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
  h = FindFirstFileW(P("abc.dat").c_str(), &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(d.nFileSizeLow, 3u);
  FindClose(h);
  h = FindFirstFileW(P("ro.txt").c_str(), &d);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(d.dwFileAttributes, FILE_ATTRIBUTE_READONLY);
  FindClose(h);

  struct Row {
    const char* name;
    std::u16string pattern;
    DWORD error;
  };
  for (const Row& r : std::vector<Row>{{"no match", P("*.none"), ERROR_FILE_NOT_FOUND},
                                       {"missing name", P("none.txt"), ERROR_FILE_NOT_FOUND},
                                       {"missing folder", P("nodir/*"), ERROR_PATH_NOT_FOUND},
                                       {"missing folder, plain name", P("nodir/x"), ERROR_PATH_NOT_FOUND},
                                       {"trailing separator", P("sub/"), ERROR_FILE_NOT_FOUND}}) {
    EXPECT_EQ(FindFirstFileW(r.pattern.c_str(), &d), INVALID_HANDLE_VALUE) << r.name;
    EXPECT_EQ(GetLastError(), r.error) << r.name;
  }

  EXPECT_EQ(GetFileAttributesW(P("sub").c_str()), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(P("ro.txt").c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(GetFileAttributesW(P("none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, DeleteMoveAndCreateDirectoryErrors) {
  Write("a.txt", "a");
  Write("b.txt", "b");
  Write("ro.txt", "r");
  MakeReadOnly("ro.txt");
  fs::create_directory(dir_ + "/sub");

  EXPECT_FALSE(DeleteFileW(P("ro.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileW(P("none.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(P("nodir/none.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(DeleteFileW(P("sub").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_FALSE(MoveFileW(P("a.txt").c_str(), P("b.txt").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Read("b.txt"), "b");
  EXPECT_FALSE(MoveFileExW(P("a.txt").c_str(), P("ro.txt").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(MoveFileExW(P("a.txt").c_str(), Backslashed("b.txt").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Read("b.txt"), "a");
  EXPECT_FALSE(fs::exists(dir_ + "/a.txt"));
  EXPECT_TRUE(MoveFileW(P("b.txt").c_str(), P("sub/c.txt").c_str()));
  EXPECT_EQ(Read("sub/c.txt"), "a");
  EXPECT_FALSE(MoveFileW(P("none").c_str(), P("other").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_FALSE(CreateDirectoryW(P("sub").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(P("x/y").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(CreateDirectoryW(P("ro.txt/y").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(CreateDirectoryW(u"C:\\x", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(CreateDirectoryW(Backslashed("x").c_str(), nullptr));
  EXPECT_TRUE(fs::is_directory(dir_ + "/x"));
}

TEST_F(FilesTest, ShortLongAndTemporaryPaths) {
  Write("long name.txt", "");
  char16_t buf[MAX_PATH];
  EXPECT_EQ(GetShortPathNameW(P("long name.txt").c_str(), buf, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(GetShortPathNameW(P("none.txt").c_str(), buf, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  const std::u16string given = u"\\\\?\\" + Backslashed("long name.txt");
  const DWORD needed = GetLongPathNameW(given.c_str(), nullptr, 0);
  EXPECT_EQ(needed, given.size() + 1);
  EXPECT_EQ(GetLongPathNameW(given.c_str(), buf, needed - 1), needed);  // too small: the size again
  EXPECT_EQ(GetLongPathNameW(given.c_str(), buf, needed), given.size());
  EXPECT_EQ(std::u16string(buf), given);
  EXPECT_EQ(GetLongPathNameW(P("none.txt").c_str(), buf, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetLongPathNameW(u"C:\\Windows", buf, MAX_PATH), 0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  const char* old = getenv("TMPDIR");
  const std::string saved = old ? old : "";
  for (const auto& [tmpdir, expected] : std::vector<std::pair<const char*, std::u16string>>{
           {"/var/tmp", u"/var/tmp/"}, {"/var/tmp/", u"/var/tmp/"}, {"", u"/tmp/"}}) {
    setenv("TMPDIR", tmpdir, 1);
    const DWORD n = GetTempPathW(0, nullptr);
    EXPECT_EQ(n, expected.size() + 1) << tmpdir;
    std::u16string out(n, u'\0');
    EXPECT_EQ(GetTempPathW(n, out.data()), expected.size()) << tmpdir;
    EXPECT_EQ(std::u16string(out.c_str()), expected) << tmpdir;
  }
  if (old) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

TEST_F(FilesTest, CRuntimeDescriptors) {
  const std::u16string path = Backslashed("crt.bin");
  int fd = _wopen(path.c_str(), _O_BINARY | _O_CREAT | _O_RDWR, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(_write(fd, "abcdef", 6), 6);
  EXPECT_EQ(_close(fd), 0);
  // Without _O_TRUNC the old tail stays.
  fd = _wopen(path.c_str(), _O_BINARY | _O_CREAT | _O_RDWR, _S_IREAD | _S_IWRITE);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(_write(fd, "XY", 2), 2);
  _close(fd);
  EXPECT_EQ(Read("crt.bin"), "XYcdef");
  fd = _wopen(path.c_str(), _O_BINARY | _O_RDONLY);
  char buf[8];
  EXPECT_EQ(_read(fd, buf, 8), 6);
  EXPECT_EQ(_write(fd, "x", 1), -1);  // opened for reading only
  _close(fd);
  fd = _wopen(path.c_str(), _O_WRONLY | _O_TRUNC);
  _close(fd);
  EXPECT_EQ(Read("crt.bin"), "");

  int err = 0;
  EXPECT_EQ(_wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY, _S_IWRITE), -1);
  _get_errno(&err);
  EXPECT_EQ(err, 17);  // EEXIST
  EXPECT_EQ(_wopen(P("nodir/x").c_str(), _O_RDONLY), -1);
  _get_errno(&err);
  EXPECT_EQ(err, 2);  // ENOENT
  EXPECT_EQ(_wopen(u"C:\\x", _O_RDONLY), -1);
  _get_errno(&err);
  EXPECT_EQ(err, 2);

  // Created without _S_IWRITE: read-only.
  fd = _wopen(P("ro.bin").c_str(), _O_CREAT | _O_WRONLY, _S_IREAD);
  ASSERT_GE(fd, 0);
  _close(fd);
  EXPECT_EQ(GetFileAttributesW(P("ro.bin").c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(_wchmod(path.c_str(), _S_IREAD), 0);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(_wchmod(path.c_str(), _S_IREAD | _S_IWRITE), 0);
  EXPECT_EQ(GetFileAttributesW(path.c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(_wchmod(P("none").c_str(), _S_IREAD), -1);
  _get_errno(&err);
  EXPECT_EQ(err, 2);

  char16_t text[1024];
  EXPECT_EQ(_wcserror_s(text, 1024, 2), 0);
  EXPECT_EQ(std::u16string(text), u"No such file or directory");
  EXPECT_EQ(_wcserror_s(text, 3, 13), 0);
  EXPECT_EQ(std::u16string(text), u"Pe");
}

TEST_F(FilesTest, CRuntimeStreamsOnWidePaths) {
  Write("s.txt", "stream");
  struct Case {
    const char* name;
    std::u16string path;
    std::u16string mode;
    int error;  // 0: opens
  };
  const std::vector<Case> cases = {
      {"rb, backslashes", Backslashed("s.txt"), u"rb", 0},
      {"r, long-path prefix", u"\\\\?\\" + Backslashed("s.txt"), u"r", 0},
      {"rt", P("s.txt"), u"rt", 0},
      {"missing file", P("none.txt"), u"rb", 2},
      {"missing folder", P("nodir/s.txt"), u"rb", 2},
      {"drive letter", u"C:\\s.txt", u"rb", 2},
      {"a folder", P(""), u"rb", 13},
      {"bad mode", P("s.txt"), u"x", 22},
      {"bad mode letter", P("s.txt"), u"rq", 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    errno = 0;
    FILE* stream = _wfopen(c.path.c_str(), c.mode.c_str());
    if (c.error == 0) {
      ASSERT_NE(stream, nullptr);
      char buf[16] = {};
      EXPECT_EQ(fread(buf, 1, sizeof buf, stream), 6u);
      EXPECT_STREQ(buf, "stream");
      fclose(stream);
    } else {
      EXPECT_EQ(stream, nullptr);
      int err = 0;
      _get_errno(&err);
      EXPECT_EQ(err, c.error);
    }
  }
  FILE* stream = _wfopen(P("w.bin").c_str(), u"w+b");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(fwrite("ab", 1, 2, stream), 2u);
  fclose(stream);
  EXPECT_EQ(Read("w.bin"), "ab");
  EXPECT_EQ(_wfopen(nullptr, u"r"), nullptr);
  EXPECT_EQ(_wfopen(P("s.txt").c_str(), nullptr), nullptr);
}

TEST_F(FilesTest, ShellFoldersFollowXdgUserDirs) {
  const std::string home = dir_ + "/home";
  const std::string config = dir_ + "/config";
  fs::create_directories(config);
  const char* oldHome = getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);

  auto folder = [](int csidl) -> std::u16string {
    LPITEMIDLIST list = nullptr;
    HRESULT hr = SHGetSpecialFolderLocation(nullptr, csidl, &list);
    if (FAILED(hr)) return u"<hr>";
    char16_t path[MAX_PATH];
    const BOOL ok = SHGetPathFromIDListW(list, path);
    IMalloc* malloc = nullptr;
    EXPECT_EQ(SHGetMalloc(&malloc), S_OK);
    malloc->Free(list);
    malloc->Release();
    return ok ? std::u16string(path) : u"<fail>";
  };
  const std::u16string h = vel::FromUtf8(home);
  // No user-dirs.dirs: the usual names below the home folder.
  EXPECT_EQ(folder(CSIDL_MYMUSIC), h + u"/Music");
  EXPECT_EQ(folder(CSIDL_MYVIDEO), h + u"/Videos");
  EXPECT_EQ(folder(CSIDL_MYPICTURES), h + u"/Pictures");

  std::ofstream(config + "/user-dirs.dirs") << "# written by a test\n"
                                               "XDG_MUSIC_DIR=\"$HOME/Musik\"\n"
                                               "XDG_VIDEOS_DIR=\"/srv/videos/\"\n"
                                               "XDG_PICTURES_DIR=unquoted\n";
  EXPECT_EQ(folder(CSIDL_MYMUSIC), h + u"/Musik");
  EXPECT_EQ(folder(CSIDL_MYVIDEO), u"/srv/videos");
  EXPECT_EQ(folder(CSIDL_MYPICTURES), h + u"/Pictures");

  LPITEMIDLIST list = reinterpret_cast<LPITEMIDLIST>(1);
  EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, 5, &list), E_INVALIDARG);
  EXPECT_EQ(list, nullptr);
  EXPECT_FALSE(SHGetPathFromIDListW(nullptr, nullptr));
  unsetenv("XDG_CONFIG_HOME");
  if (oldHome) setenv("HOME", savedHome.c_str(), 1);
}

TEST(EventLogTest, SourcesReportToSyslog) {
  HANDLE source = RegisterEventSourceW(nullptr, u"Vel test source");
  ASSERT_NE(source, nullptr);
  LPCWSTR strings[] = {u"Vel test  (YLib 1.0)\n\nmessage\r\n"};
  EXPECT_TRUE(ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr));
  EXPECT_TRUE(DeregisterEventSource(source));
  EXPECT_FALSE(ReportEventW(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(DeregisterEventSource(source));
  EXPECT_EQ(RegisterEventSourceW(u"\\\\otherhost", u"x"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));

  using vel::win32::EventSyslogPriority;
  EXPECT_EQ(EventSyslogPriority(EVENTLOG_ERROR_TYPE), LOG_ERR);
  EXPECT_EQ(EventSyslogPriority(EVENTLOG_WARNING_TYPE), LOG_WARNING);
  EXPECT_EQ(EventSyslogPriority(EVENTLOG_INFORMATION_TYPE), LOG_INFO);
  EXPECT_EQ(vel::win32::EventSyslogText(1, strings), "Vel test  (YLib 1.0)\n\nmessage");
  LPCWSTR two[] = {u"a\r\nb", u"c"};
  EXPECT_EQ(vel::win32::EventSyslogText(2, two), "a\nb\nc");
}

}  // namespace
