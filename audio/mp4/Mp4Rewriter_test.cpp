#include "audio/mp4/Mp4Rewriter.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "audio/MappedFile.h"
#include "platform/text.h"
#include "platform/win32/fileapi.h"
#include "testing/Mp4Builder.h"

namespace {

using namespace vel::testing;

Mp4UserDataBuilder UserDataOf(std::size_t bodySize, std::uint8_t seed = 0x90) {
  return [=](std::span<const std::uint8_t>, vel::ByteOrder order) -> std::optional<Bytes> {
    return AtomWriter{order}.UserData(bodySize, seed);
  };
}

// The bytes [offset, offset + size) of the new file a plan describes,
// without making the whole file.
Bytes OutputRange(std::span<const std::uint8_t> file, const Mp4RewritePlan& plan, std::uint64_t offset,
                  std::uint64_t size) {
  Bytes out;
  std::uint64_t at = 0;
  for (const Mp4OutputPiece& piece : plan.pieces) {
    const std::uint64_t from = std::max(at, offset);
    const std::uint64_t to = std::min(at + piece.size, offset + size);
    for (std::uint64_t i = from; i < to; ++i) {
      switch (piece.kind) {
        case Mp4OutputPiece::Kind::kOld: out.push_back(file[piece.offset + (i - at)]); break;
        case Mp4OutputPiece::Kind::kBytes: out.push_back(piece.bytes[i - at]); break;
        case Mp4OutputPiece::Kind::kBorrowed: out.push_back(piece.borrowed[i - at]); break;
        case Mp4OutputPiece::Kind::kZeros: out.push_back(0); break;
      }
    }
    at += piece.size;
  }
  return out;
}

class Mp4RewriterFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmp4w-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!locked_.empty()) Unlock(locked_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::u16string WidePath(const std::string& name) const { return vel::FromUtf8(Path(name)); }
  void Put(const std::string& name, const Bytes& bytes) const {
    std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<std::streamsize>(bytes.size()));
  }
  Bytes Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The names in folder (relative to the test's folder), sorted.
  std::vector<std::string> Names(const std::string& folder = "") const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? dir_ : Path(folder))) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Makes a folder refuse new files: without write permission, or (for the
  // superuser, whom permissions do not stop) immutable. False when neither
  // takes effect here.
  bool Lock(const std::string& folder) {
    const std::string path = Path(folder);
    if (geteuid() == 0) {
      if (std::system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0) return false;
    } else {
      chmod(path.c_str(), 0555);
    }
    locked_ = folder;
    const std::string probe = path + "/probe";
    if (FILE* f = std::fopen(probe.c_str(), "w")) {
      std::fclose(f);
      std::remove(probe.c_str());
      return false;
    }
    return true;
  }
  void Unlock(const std::string& folder) {
    const std::string path = Path(folder);
    if (geteuid() == 0) {
      std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
    } else {
      chmod(path.c_str(), 0755);
    }
    locked_.clear();
  }

  std::string dir_;
  std::string locked_;
};

TEST_F(Mp4RewriterFileTest, WritesThePlannedFile) {
  struct Row {
    const char* name;
    MovieLayout layout;
    std::size_t newBody;
  };
  const Row rows[] = {
      {"a: padding after moov", {}, 300},
      {"b: free after moov takes up growth", {.freeAfterMoov = 4096}, 300},
      {"c: free after moov takes up shrinking", {.freeAfterMoov = 4096}, 100},
      {"no udta yet", {.userData = false}, 40},
      {"little-endian", {.order = vel::ByteOrder::kLittle}, 300},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes in = MakeMovie(row.layout);
    Put("a.m4a", in);
    const Bytes expected = AssembleMp4Rewrite(in, PlanMp4UserDataRewrite(in, UserDataOf(row.newBody)));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(Mp4RewriteUserData(WidePath("a.m4a"), UserDataOf(row.newBody)), Mp4RewriteStatus::kWritten);
    EXPECT_EQ(Get("a.m4a"), expected);
    EXPECT_EQ(Names(), std::vector<std::string>{"a.m4a"});  // no temporary file left
  }
}

// More than one copy step of media after the change, and padding of its own
// zeros: the streamed file is exactly the planned one.
TEST_F(Mp4RewriterFileTest, LargeMediaIsStreamedWhole) {
  const Bytes in = MakeMovie({.mediaSize = (8u << 20) * 2 + 12345});
  Put("big.m4a", in);
  const Bytes expected = AssembleMp4Rewrite(in, PlanMp4UserDataRewrite(in, UserDataOf(500)));
  EXPECT_EQ(Mp4RewriteUserData(WidePath("big.m4a"), UserDataOf(500)), Mp4RewriteStatus::kWritten);
  const Bytes out = Get("big.m4a");
  ASSERT_EQ(out.size(), expected.size());
  EXPECT_TRUE(out == expected);
}

// Another process shortens the file while it is being rewritten: the copy of
// its vanished bytes fails or is refused, and it does not replace the file.
TEST_F(Mp4RewriterFileTest, AFileShortenedMeanwhileIsNotReplaced) {
  const Bytes in = MakeMovie({.topLevelUserData = true, .mediaSize = 64 * 1024});
  Put("cut.m4a", in);
  const Mp4UserDataBuilder shortenThenBuild = [&](std::span<const std::uint8_t> old, vel::ByteOrder order) {
    EXPECT_EQ(truncate(Path("cut.m4a").c_str(), 4096), 0);
    return UserDataOf(300)(old, order);
  };
  EXPECT_EQ(Mp4RewriteUserData(WidePath("cut.m4a"), shortenThenBuild), Mp4RewriteStatus::kIoFailed);
  EXPECT_EQ(Get("cut.m4a"), Bytes(in.begin(), in.begin() + 4096));
  EXPECT_EQ(Names(), std::vector<std::string>{"cut.m4a"});
}

TEST_F(Mp4RewriterFileTest, FailuresLeaveTheFileAsItWas) {
  const AtomWriter w;
  const Bytes movie = MakeMovie({});
  const auto moov = TopLevel(movie, "moov", vel::ByteOrder::kBig);
  const auto ftyp = TopLevel(movie, "ftyp", vel::ByteOrder::kBig);
  struct Row {
    const char* name;
    Bytes file;
    Mp4UserDataBuilder build;
    Mp4RewriteStatus status;
    bool readOnly = false;
  };
  const Row rows[] = {
      {"empty file", {}, UserDataOf(10), Mp4RewriteStatus::kNotMp4},
      {"not MP4", Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 1, 2, 3}, UserDataOf(10), Mp4RewriteStatus::kNotMp4},
      {"brand not accepted", Cat({w.Ftyp("isom"), Bytes(movie.begin() + static_cast<std::ptrdiff_t>(ftyp->end()), movie.end())}), UserDataOf(10),
       Mp4RewriteStatus::kNotMp4},
      {"malformed moov", Cat({w.Ftyp("M4A "), w.Atom("moov", {w.Atom("mvhd", {Zeros(10)}), Zeros(6)})}),
       UserDataOf(10), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"truncated inside moov", Bytes(movie.begin(), movie.begin() + static_cast<std::ptrdiff_t>(moov->offset + 100)),
       UserDataOf(10), Mp4RewriteStatus::kLayoutNotUnderstood},
      {"builder leaves it", movie, [](std::span<const std::uint8_t>, vel::ByteOrder) -> std::optional<Bytes> {
         return std::nullopt;
       },
       Mp4RewriteStatus::kUnchanged},
      {"read-only file", movie, UserDataOf(10), Mp4RewriteStatus::kIoFailed, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Put("f.m4a", row.file);
    if (row.readOnly) chmod(Path("f.m4a").c_str(), 0444);
    EXPECT_EQ(Mp4RewriteUserData(WidePath("f.m4a"), row.build), row.status);
    EXPECT_EQ(Get("f.m4a"), row.file);
    EXPECT_EQ(Names(), std::vector<std::string>{"f.m4a"});
    chmod(Path("f.m4a").c_str(), 0644);
  }
  EXPECT_EQ(Mp4RewriteUserData(WidePath("missing.m4a"), UserDataOf(10)), Mp4RewriteStatus::kIoFailed);
  EXPECT_EQ(Mp4RewriteUserData(vel::FromUtf8(dir_), UserDataOf(10)), Mp4RewriteStatus::kIoFailed);
}

TEST_F(Mp4RewriterFileTest, TheNewFileKeepsTheOriginalsPermissions) {
  for (mode_t mode : {0600, 0640, 0664}) {
    SCOPED_TRACE(mode);
    Put("p.m4a", MakeMovie({}));
    chmod(Path("p.m4a").c_str(), mode);
    ASSERT_EQ(Mp4RewriteUserData(WidePath("p.m4a"), UserDataOf(10)), Mp4RewriteStatus::kWritten);
    struct stat st {};
    ASSERT_EQ(stat(Path("p.m4a").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
  }
}

TEST_F(Mp4RewriterFileTest, UnwritableFolderLeavesTheFileAsItWas) {
  std::filesystem::create_directory(Path("locked"));
  const Bytes movie = MakeMovie({});
  Put("locked/f.m4a", movie);
  if (!Lock("locked")) GTEST_SKIP() << "this file system lets every folder here be written";
  EXPECT_EQ(Mp4RewriteUserData(WidePath("locked/f.m4a"), UserDataOf(300)), Mp4RewriteStatus::kIoFailed);
  Unlock("locked");
  EXPECT_EQ(Get("locked/f.m4a"), movie);
  EXPECT_EQ(Names("locked"), std::vector<std::string>{"f.m4a"});
}

// Every prefix of a small valid file, through the file: the file is either
// left as it was or holds exactly the planned new file, which readers find
// the new udta in.
TEST_F(Mp4RewriterFileTest, TruncationSweep) {
  const Bytes movie = MakeMovie({.mediaSize = 60});
  const Bytes newUserData = AtomWriter{}.UserData(33, 0x90);
  int written = 0;
  for (std::size_t n = 0; n <= movie.size(); ++n) {
    SCOPED_TRACE("prefix " + std::to_string(n));
    const Bytes prefix(movie.begin(), movie.begin() + static_cast<std::ptrdiff_t>(n));
    Put("t.m4a", prefix);
    const Mp4RewriteStatus status = Mp4RewriteUserData(WidePath("t.m4a"), UserDataOf(33));
    const Bytes now = Get("t.m4a");
    if (status == Mp4RewriteStatus::kWritten) {
      ++written;
      ASSERT_EQ(now, AssembleMp4Rewrite(prefix, PlanMp4UserDataRewrite(prefix, UserDataOf(33))));
      Mp4RewriteStatus failure = Mp4RewriteStatus::kWritten;
      const auto place = FindMp4UserData(now, failure);
      ASSERT_TRUE(place && place->udta);
      ASSERT_EQ(Bytes(now.begin() + static_cast<std::ptrdiff_t>(place->udta->offset),
                      now.begin() + static_cast<std::ptrdiff_t>(place->udta->end())),
                newUserData);
    } else {
      ASSERT_TRUE(status == Mp4RewriteStatus::kNotMp4 || status == Mp4RewriteStatus::kLayoutNotUnderstood)
          << static_cast<int>(status);
      ASSERT_EQ(now, prefix);
    }
    ASSERT_EQ(Names(), std::vector<std::string>{"t.m4a"});
  }
  // The prefixes that end inside the media still have a whole moov.
  EXPECT_GT(written, 0);
}

// A sparse file beyond 4 GiB: a 64-bit mdat size, co64 entries past 4 GiB,
// and a marker in the media's last bytes. Only the plan is checked: writing
// the new file would copy all of it.
TEST_F(Mp4RewriterFileTest, FilesBeyondFourGiB) {
  const AtomWriter w;
  const std::uint64_t mediaSize = (std::uint64_t{1} << 32) + 4096;
  const Bytes marker = Pattern(16, 0xC3);
  struct Row {
    const char* name;
    std::size_t freeAfterMoov;
    std::int64_t shift;
  };
  const Row rows[] = {
      {"padding inserted: everything after moov moves", 0, 100 + 2056},
      {"free after moov takes it: nothing moves", 4096, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    auto head = [&](std::uint64_t media) {
      const Bytes moov = w.Atom("moov", {w.Atom("mvhd", {Zeros(100)}),
                                         w.Trak(w.Co64({media, media + (std::uint64_t{1} << 32), media + mediaSize - 16})),
                                         w.UserData(200, 0x40)});
      return Cat({w.Ftyp("M4A "), moov, row.freeAfterMoov ? w.Free(row.freeAfterMoov) : Bytes(), w.U32(1),
                  w.Code("mdat"), w.U64(mediaSize + 16)});
    };
    const Bytes first = head(0);
    const Bytes bytes = head(first.size());
    const std::uint64_t mdatOffset = bytes.size() - 16;

    const std::u16string path = WidePath("huge.m4a");
    {
      HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      DWORD written = 0;
      EXPECT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
      LARGE_INTEGER to{};
      to.QuadPart = static_cast<LONGLONG>(bytes.size() + mediaSize - 16);
      EXPECT_TRUE(SetFilePointerEx(h, to, nullptr, FILE_BEGIN));
      EXPECT_TRUE(WriteFile(h, marker.data(), 16, &written, nullptr));
      CloseHandle(h);
    }
    CMappedFile mapped;
    ASSERT_EQ(mapped.Open(path), CMappedFile::Status::kOk);
    const auto file = mapped.bytes();
    ASSERT_EQ(file.size(), bytes.size() + mediaSize);

    const Mp4RewritePlan plan = PlanMp4UserDataRewrite(file, UserDataOf(300));
    ASSERT_EQ(plan.status, Mp4RewriteStatus::kWritten);
    EXPECT_EQ(plan.shift, row.shift);
    EXPECT_EQ(plan.size, file.size() + static_cast<std::uint64_t>(row.shift));
    // The head of the new file: its chunk offsets follow the media.
    const std::uint64_t newMdat = mdatOffset + static_cast<std::uint64_t>(row.shift);
    const Bytes newHead = OutputRange(file, plan, 0, newMdat + 16);
    ASSERT_EQ(newHead.size(), newMdat + 16);
    const std::uint64_t media = mdatOffset + 16;
    std::vector<std::uint64_t> expected = {media, media + (std::uint64_t{1} << 32), media + mediaSize - 16};
    for (auto& e : expected) e += static_cast<std::uint64_t>(row.shift);
    EXPECT_EQ(AbsoluteOffsets(newHead, vel::ByteOrder::kBig), expected);
    EXPECT_EQ(Bytes(newHead.end() - 16, newHead.end()), Bytes(bytes.end() - 16, bytes.end()));  // the 64-bit header
    EXPECT_EQ(OutputRange(file, plan, plan.size - 16, 16), marker);
    mapped.Close();
    std::filesystem::remove(Path("huge.m4a"));
  }
}

}  // namespace
