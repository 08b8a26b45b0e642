#include "platform/win32/ReplacingFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "platform/win32/winerror.h"
#include "testing/TempDir.h"

namespace fs = std::filesystem;
using vel::ReplacingFile;

namespace {

constexpr uid_t kNobody = 65534;

class ReplacingFileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_.File(name); }
  std::u16string WPath(const std::string& name) const { return dir_.WFile(name); }
  void Put(const std::string& name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  static std::string Slurp(const std::u16string& path) {
    std::ifstream in(vel::ToUtf8(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  vel::testing::TempDir dir_{"replacing"};
};

// Each writer reads the number in the file after taking the lock and writes
// it back one higher: without the lock, increments get lost.
TEST_F(ReplacingFileTest, WritersOfOneFileTakeTurnsSoNoEditIsLost) {
  Put("counter", "0");
  constexpr int kWriters = 4;
  constexpr int kRounds = 40;
  std::vector<std::thread> writers;
  std::vector<int> failures(kWriters, 0);
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int i = 0; i < kRounds; ++i) {
        ReplacingFile file(WPath("counter"));
        if (!file.Lock()) {
          ++failures[w];
          continue;
        }
        const std::string next = std::to_string(std::stoi(Slurp(file.target())) + 1);
        if (!file.Begin() || !file.Write(next.data(), next.size()) || !file.Commit()) ++failures[w];
      }
    });
  }
  for (std::thread& t : writers) t.join();
  EXPECT_EQ(failures, std::vector<int>(kWriters, 0));
  EXPECT_EQ(Get("counter"), std::to_string(kWriters * kRounds));
  EXPECT_EQ(Names(), std::vector<std::string>{"counter"});
}

// A program that does not take the lock changes the file while a writer
// works from what it read: the writer's copy must not take the file's place.
TEST_F(ReplacingFileTest, AFileChangedByAnotherProgramMeanwhileIsNotReplaced) {
  const struct {
    const char* name;
    void (*change)(const std::string& path);
  } cases[] = {
      {"appended in place", [](const std::string& path) { std::ofstream(path, std::ios::app) << " more"; }},
      {"rewritten in place, same size",
       [](const std::string& path) {
         std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a new modification time
         std::ofstream(path, std::ios::in | std::ios::out) << "OTHER";
       }},
      {"replaced by another file",
       [](const std::string& path) {
         std::ofstream(path + ".new") << "other";
         fs::rename(path + ".new", path);
       }},
  };
  for (const auto& c : cases) {
    Put("song", "first");
    ReplacingFile file(WPath("song"));
    ASSERT_TRUE(file.Lock()) << c.name;
    c.change(Path("song"));
    const std::string changed = Get("song");
    ASSERT_TRUE(file.Begin()) << c.name;
    ASSERT_TRUE(file.Write("mine!", 5)) << c.name;
    EXPECT_FALSE(file.Commit()) << c.name;
    EXPECT_EQ(file.error(), static_cast<DWORD>(ERROR_FILE_INVALID)) << c.name;
    EXPECT_EQ(Get("song"), changed) << c.name;
    EXPECT_EQ(Names(), std::vector<std::string>{"song"}) << c.name;
  }
}

// An editor that commits more than once keeps the file locked in between:
// the new file is locked at once (a non-blocking lock of it fails), a second
// writer waits until the holder lets go and then works from its last result,
// and a change by another program after a commit is still refused.
TEST_F(ReplacingFileTest, CommitAndHoldKeepsTheNewFileLocked) {
  const auto lockedByOthers = [&] {
    const int fd = ::open(Path("song").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool busy = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return busy;
  };
  Put("song", "one");
  ReplacingFile first(WPath("song"));
  ASSERT_TRUE(first.Lock());
  ASSERT_TRUE(first.Begin());
  ASSERT_TRUE(first.Write("two", 3));
  ASSERT_TRUE(first.CommitAndHold()) << first.error();
  EXPECT_EQ(Get("song"), "two");
  EXPECT_TRUE(lockedByOthers());

  std::string secondRead;
  bool secondCommitted = false;
  std::thread second([&] {
    ReplacingFile file(WPath("song"));
    if (!file.Lock()) return;
    secondRead = Slurp(file.target());
    const std::string next = secondRead + "+three";
    secondCommitted = file.Begin() && file.Write(next.data(), next.size()) && file.Commit();
  });
  ASSERT_TRUE(first.Begin());
  ASSERT_TRUE(first.Write("two more", 8));
  ASSERT_TRUE(first.CommitAndHold()) << first.error();
  EXPECT_TRUE(lockedByOthers());
  first.Discard();
  second.join();
  EXPECT_TRUE(secondCommitted);
  EXPECT_EQ(secondRead, "two more");
  EXPECT_EQ(Get("song"), "two more+three");
  EXPECT_FALSE(lockedByOthers());

  ReplacingFile third(WPath("song"));
  ASSERT_TRUE(third.Lock());
  ASSERT_TRUE(third.Begin());
  ASSERT_TRUE(third.Write("four", 4));
  ASSERT_TRUE(third.CommitAndHold());
  std::ofstream(Path("song"), std::ios::app) << " by another program";
  ASSERT_TRUE(third.Begin());
  ASSERT_TRUE(third.Write("five", 4));
  EXPECT_FALSE(third.Commit());
  EXPECT_EQ(third.error(), static_cast<DWORD>(ERROR_FILE_INVALID));
  EXPECT_EQ(Get("song"), "four by another program");
  EXPECT_EQ(Names(), std::vector<std::string>{"song"});
}

TEST_F(ReplacingFileTest, AReadOnlyFileCanBeLockedButNotReplaced) {
  Put("ro.bin", "keep");
  chmod(Path("ro.bin").c_str(), 0444);
  ReplacingFile file(WPath("ro.bin"));
  ASSERT_TRUE(file.Lock());  // a writer that changes nothing does not fail
  EXPECT_FALSE(file.Begin());
  EXPECT_EQ(file.error(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(Get("ro.bin"), "keep");
  EXPECT_EQ(Names(), std::vector<std::string>{"ro.bin"});
}

TEST_F(ReplacingFileTest, CopyOriginalLetsALibraryEditTheTemporaryFileInPlace) {
  Put("a.bin", "hello world");
  ReplacingFile file(WPath("a.bin"));
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.CopyOriginal());
  {
    std::fstream edit(vel::ToUtf8(file.temporaryPath()), std::ios::in | std::ios::out | std::ios::binary);
    edit.seekp(0);
    edit << "HELLO";
  }
  EXPECT_EQ(Get("a.bin"), "hello world");
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(Get("a.bin"), "HELLO world");
  EXPECT_EQ(Names(), std::vector<std::string>{"a.bin"});
}

// The new file is made of written bytes and ranges of the original, in the
// order given; a range past the original's end fails and changes nothing.
TEST_F(ReplacingFileTest, CopyOriginalRangeAppendsPartsOfTheOriginalBetweenWrites) {
  // Over 3 MiB of patterned bytes, so that a range spans many copy steps.
  std::string original(3 * (1u << 20) + 17, '\0');
  for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<char>(i * 31 + i / 251);
  const std::uint64_t size = original.size();
  struct Piece {
    const char* text;  // written when not null
    std::uint64_t offset, length;  // else this range of the original
  };
  struct Case {
    const char* name;
    std::vector<Piece> pieces;
  };
  const Case cases[] = {
      {"the whole file", {{nullptr, 0, size}}},
      {"a new start, the rest from byte 10", {{"NEW", 0, 0}, {nullptr, 10, size - 10}}},
      {"a middle range between writes", {{"<", 0, 0}, {nullptr, 1000, 2'500'000}, {">", 0, 0}}},
      {"the end replaced", {{nullptr, 0, size - 128}, {"TAIL", 0, 0}}},
      {"ranges out of order, one empty", {{nullptr, size - 5, 5}, {nullptr, 7, 0}, {nullptr, 0, 5}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Put("r.bin", original);
    std::string expected;
    ReplacingFile file(WPath("r.bin"));
    ASSERT_TRUE(file.Open());
    for (const Piece& piece : c.pieces) {
      if (piece.text) {
        ASSERT_TRUE(file.Write(piece.text, std::strlen(piece.text)));
        expected += piece.text;
      } else {
        ASSERT_TRUE(file.CopyOriginalRange(piece.offset, piece.length)) << file.error();
        expected += original.substr(piece.offset, piece.length);
      }
    }
    EXPECT_EQ(Get("r.bin"), original);
    ASSERT_TRUE(file.Commit()) << file.error();
    EXPECT_TRUE(Get("r.bin") == expected);  // (not EXPECT_EQ: megabytes in a failure message)
    EXPECT_EQ(Names(), std::vector<std::string>{"r.bin"});
  }

  Put("r.bin", original);
  ReplacingFile file(WPath("r.bin"));
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("x", 1));
  EXPECT_FALSE(file.CopyOriginalRange(size - 10, 11));
  EXPECT_EQ(file.error(), static_cast<DWORD>(ERROR_HANDLE_EOF));
  EXPECT_FALSE(file.Commit());
  EXPECT_TRUE(Get("r.bin") == original);
  EXPECT_EQ(Names(), std::vector<std::string>{"r.bin"});
}

TEST_F(ReplacingFileTest, ANewFileIsCreatedButNeverOverAFileThatAppearedMeanwhile) {
  {
    ReplacingFile file(WPath("new.bin"));
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write("made", 4));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(Get("new.bin"), "made");
  }
  ReplacingFile file(WPath("late.bin"));
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("ours", 4));
  Put("late.bin", "theirs");
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(file.error(), static_cast<DWORD>(ERROR_FILE_EXISTS));
  EXPECT_EQ(Get("late.bin"), "theirs");
  EXPECT_EQ(Names(), (std::vector<std::string>{"late.bin", "new.bin"}));
}

TEST_F(ReplacingFileTest, ExtendedAttributesAreKept) {
  Put("x.bin", "old");
  if (setxattr(Path("x.bin").c_str(), "user.vel.origin", "camera", 6, 0) != 0)
    GTEST_SKIP() << "this file system keeps no user attributes";
  ReplacingFile file(WPath("x.bin"));
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("new", 3));
  ASSERT_TRUE(file.Commit());
  char value[16] = {};
  ASSERT_EQ(getxattr(Path("x.bin").c_str(), "user.vel.origin", value, sizeof value), 6);
  EXPECT_EQ(std::string(value, 6), "camera");
}

TEST_F(ReplacingFileTest, RootReplacingAnotherUsersFileKeepsItsOwnerAndMode) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a file away";
  Put("theirs.bin", "private");
  ASSERT_EQ(chown(Path("theirs.bin").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chmod(Path("theirs.bin").c_str(), 0600), 0);
  ReplacingFile file(WPath("theirs.bin"));
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("edited", 6));
  ASSERT_TRUE(file.Commit());
  struct stat st {};
  ASSERT_EQ(stat(Path("theirs.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_gid, kNobody);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Get("theirs.bin"), "edited");
}

// A user who may write the folder but not the file must not replace the file
// by renaming over it.
TEST_F(ReplacingFileTest, AWritableFolderDoesNotMakeAnUnwritableFileReplaceable) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  Put("roots.bin", "root's");
  ASSERT_EQ(chmod(Path("roots.bin").c_str(), 0644), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0777), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(2);
    ReplacingFile file(WPath("roots.bin"));
    if (file.Open()) _exit(3);
    _exit(file.error() == static_cast<DWORD>(ERROR_ACCESS_DENIED) ? 0 : 4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Get("roots.bin"), "root's");
  EXPECT_EQ(Names(), std::vector<std::string>{"roots.bin"});
}

TEST_F(ReplacingFileTest, ATerminatedWriterLeavesNoTemporaryFile) {
  Put("big.bin", "original");
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ReplacingFile file(WPath("big.bin"));
      if (!file.Open() || !file.Write("partial", 7)) _exit(2);
      raise(signal);
      _exit(3);  // not reached: the default action ends the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(Names(), std::vector<std::string>{"big.bin"});
    EXPECT_EQ(Get("big.bin"), "original");
  }
}

// A killed writer's temporary file goes with the next write of the same file;
// a living writer's (its lock held) and other files stay.
TEST_F(ReplacingFileTest, BeginSweepsTemporaryFilesOfGoneWriters) {
  Put("a.bin", "a");
  Put("a.bin.0123456789ab.tmp", "stale");
  Put("a.bin.ba9876543210.tmp", "alive");
  Put("a.bin.tmp", "not ours");
  Put("b.bin.0123456789ab.tmp", "another file's");
  const int alive = open(Path("a.bin.ba9876543210.tmp").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(alive, 0);
  ASSERT_EQ(flock(alive, LOCK_EX), 0);
  ReplacingFile file(WPath("a.bin"));
  ASSERT_TRUE(file.Open());
  ASSERT_TRUE(file.Write("A", 1));
  ASSERT_TRUE(file.Commit());
  close(alive);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.bin", "a.bin.ba9876543210.tmp", "a.bin.tmp", "b.bin.0123456789ab.tmp"}));
}

}  // namespace
