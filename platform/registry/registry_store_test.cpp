// The store file: where it lives, damaged or foreign files, unwritable
// places, and a lock held by another connection.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <signal.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdint>
#include <fstream>
#include <thread>

#include "platform/registry/store.h"

#include "testing/TempStore.h"

using namespace vel::testing;

namespace {

using RegistryStoreTest = TempStore;

LONG TouchStore() {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key);
  if (rc == ERROR_SUCCESS) RegCloseKey(key);
  return rc;
}

TEST_F(RegistryStoreTest, DefaultPathFollowsXdgDataHomeAndIsCreatedOnFirstUse) {
  unsetenv("VEL_REGISTRY");
  setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
  vel::RegistryReset();
  EXPECT_EQ(vel::RegistryPath(), dir_ + "/data/velitems/registry.db");
  HKEY key = Create(u"Software\\First");
  RegCloseKey(key);
  EXPECT_TRUE(std::filesystem::exists(dir_ + "/data/velitems/registry.db"));
  unsetenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  std::string oldHome = home != nullptr ? home : "";
  setenv("HOME", dir_.c_str(), 1);
  EXPECT_EQ(vel::RegistryPath(), dir_ + "/.local/share/velitems/registry.db");
  setenv("HOME", oldHome.c_str(), 1);
}

TEST_F(RegistryStoreTest, UnusableFilesGiveAnErrorAndOneMessage) {
  struct Case {
    const char* label;
    std::string content;  // written to the store file first
    LONG error;
  } cases[] = {
      {"garbage", std::string(4096, 'x'), ERROR_REGISTRY_CORRUPT},
      {"truncated header", "SQLite format 3", ERROR_REGISTRY_CORRUPT},
  };
  for (const Case& c : cases) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc) << c.content;
    vel::RegistryReset();
    testing::internal::CaptureStderr();
    EXPECT_EQ(TouchStore(), c.error) << c.label;
    EXPECT_EQ(RegSetValueExW(HKEY_CURRENT_USER, u"v", 0, REG_SZ, nullptr, 0), c.error) << c.label;
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(path_), std::string::npos) << c.label << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.label << ": " << err;
    // The damaged file is left for the user to look at.
    std::ifstream in(path_, std::ios::binary);
    std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(kept, c.content) << c.label;
  }
}

TEST_F(RegistryStoreTest, AnotherProgramsDatabaseIsRefused) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE songs(title TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TouchStore(), ERROR_REGISTRY_CORRUPT);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("not a registry store"), std::string::npos);
}

TEST_F(RegistryStoreTest, AFileInTheWayOfTheFolderGivesAnError) {
  std::ofstream(dir_ + "/file") << "x";
  setenv("VEL_REGISTRY", (dir_ + "/file/sub/registry.db").c_str(), 1);
  vel::RegistryReset();
  testing::internal::CaptureStderr();
  EXPECT_EQ(TouchStore(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
}

TEST_F(RegistryStoreTest, AnUnwritableFolderGivesAccessDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  std::filesystem::create_directory(dir_ + "/locked");
  std::filesystem::permissions(dir_ + "/locked", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  setenv("VEL_REGISTRY", (dir_ + "/locked/registry.db").c_str(), 1);
  vel::RegistryReset();
  testing::internal::CaptureStderr();
  EXPECT_EQ(TouchStore(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
}

TEST_F(RegistryStoreTest, ALockHeldElsewhereMakesWritesWaitThenFail) {
  HKEY key = Create(u"Software\\Locked");
  ASSERT_EQ(SetDword(key, u"before", 1), ERROR_SUCCESS);
  vel::RegistrySetBusyTimeout(300);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path_.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SetDword(key, u"during", 2), ERROR_BUSY);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  // Readers are not held up.
  EXPECT_EQ(RegQueryValueExW(key, u"before", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(other);
  EXPECT_EQ(SetDword(key, u"after", 3), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(key, u"during", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

// A key as another process sees it: runs probe in a forked child, which has a
// connection of its own; true when probe returned true there.
template <class Probe>
bool InAnotherProcess(Probe probe) {
  const pid_t child = fork();
  if (child == 0) _exit(probe() ? 0 : 1);
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool KeyExists(const char16_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

TEST_F(RegistryStoreTest, ATransactionIsSeenWholeOrNotAtAll) {
  vel::RegistryTransaction tx;
  ASSERT_EQ(tx.Begin(), ERROR_SUCCESS);
  HKEY key = Create(u"Software\\Unit\\Inner");
  ASSERT_EQ(SetDword(key, u"v", 7), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_TRUE(KeyExists(u"Software\\Unit\\Inner"));  // this thread sees its own changes
  EXPECT_TRUE(InAnotherProcess([] { return !KeyExists(u"Software\\Unit"); }));
  // Another thread of this process waits for the end instead of seeing half.
  std::atomic<bool> committed{false};
  std::atomic<bool> sawCommitted{false};
  std::thread reader([&] {
    const bool exists = KeyExists(u"Software\\Unit\\Inner");
    sawCommitted = exists && committed;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  committed = true;
  ASSERT_EQ(tx.Commit(), ERROR_SUCCESS);
  reader.join();
  EXPECT_TRUE(sawCommitted);
  // Folded into the store file: the next process has no log to replay.
  std::error_code error;
  EXPECT_EQ(std::filesystem::file_size(vel::RegistryPath() + "-wal", error), 0u) << error.message();
  EXPECT_TRUE(InAnotherProcess([] { return KeyExists(u"Software\\Unit\\Inner"); }));
}

TEST_F(RegistryStoreTest, RollbackAndAKilledProcessLeaveTheStoreAsItWas) {
  {
    vel::RegistryTransaction tx;
    ASSERT_EQ(tx.Begin(), ERROR_SUCCESS);
    RegCloseKey(Create(u"Software\\RolledBack"));
    tx.Rollback();
  }
  EXPECT_FALSE(KeyExists(u"Software\\RolledBack"));
  {
    vel::RegistryTransaction tx;
    ASSERT_EQ(tx.Begin(), ERROR_SUCCESS);
    RegCloseKey(Create(u"Software\\Dropped"));
  }  // no commit
  EXPECT_FALSE(KeyExists(u"Software\\Dropped"));
  EXPECT_FALSE(InAnotherProcess([] {
    vel::RegistryTransaction tx;
    if (tx.Begin() != ERROR_SUCCESS) return false;
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Killed", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    kill(getpid(), SIGKILL);
    return true;
  }));
  EXPECT_FALSE(KeyExists(u"Software\\Killed"));
  // The killed writer's lock went with it.
  vel::RegistryTransaction tx;
  ASSERT_EQ(tx.Begin(1000), ERROR_SUCCESS);
  EXPECT_EQ(tx.Commit(), ERROR_SUCCESS);
}

TEST_F(RegistryStoreTest, TransactionsOfTwoProcessesTakeTurns) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    vel::RegistryTransaction tx;
    if (tx.Begin() != ERROR_SUCCESS) _exit(2);
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\First", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegCloseKey(key);
    if (write(ready[1], "x", 1) != 1) _exit(3);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    _exit(tx.Commit() == ERROR_SUCCESS ? 0 : 4);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  vel::RegistryTransaction tx;
  ASSERT_EQ(tx.Begin(), ERROR_SUCCESS);  // waits for the child's commit
  EXPECT_TRUE(KeyExists(u"Software\\First"));
  RegCloseKey(Create(u"Software\\Second"));
  EXPECT_EQ(tx.Commit(), ERROR_SUCCESS);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(KeyExists(u"Software\\First"));
  EXPECT_TRUE(KeyExists(u"Software\\Second"));
}

// Reads are served from memory, yet a change another process made is seen by
// the very next read: values, keys that appear, keys that go.
TEST_F(RegistryStoreTest, ReadsSeeAnotherProcesssChangeAtOnce) {
  HKEY key = Create(u"Software\\Seen");
  ASSERT_EQ(SetDword(key, u"v", 1), ERROR_SUCCESS);
  HKEY doomed = Create(u"Software\\Doomed");
  auto read = [&] {
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG rc = RegQueryValueExW(key, u"v", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    return rc == ERROR_SUCCESS ? static_cast<LONG>(value) : -rc;
  };
  for (int round = 0; round < 3; ++round) {  // the later rounds come from memory
    EXPECT_EQ(read(), 1);
    EXPECT_FALSE(KeyExists(u"Software\\Seen\\Later"));
    EXPECT_EQ(RegQueryValueExW(doomed, u"missing", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
  }
  ASSERT_TRUE(InAnotherProcess([] {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Seen", 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return false;
    const DWORD two = 2;
    HKEY later = nullptr;
    const bool ok = RegSetValueExW(k, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof two) ==
                        ERROR_SUCCESS &&
                    RegCreateKeyExW(k, u"Later", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &later, nullptr) ==
                        ERROR_SUCCESS &&
                    RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Doomed") == ERROR_SUCCESS;
    return ok;
  }));
  EXPECT_EQ(read(), 2);
  EXPECT_TRUE(KeyExists(u"Software\\Seen\\Later"));
  EXPECT_EQ(RegQueryValueExW(doomed, u"missing", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
  RegCloseKey(doomed);
  RegCloseKey(key);
}

// The image's number stays while nothing changes, for every thread, and
// moves at once when another process or this one writes; a program that
// writes the store without bumping the change counter is seen at SQLite's
// next data-version check.
TEST_F(RegistryStoreTest, TheImageEpochMovesWithEveryChange) {
  HKEY key = Create(u"Software\\Epoch");
  const std::uint64_t first = vel::RegistryImageEpoch();
  EXPECT_EQ(vel::RegistryImageEpoch(), first);
  std::uint64_t onAnotherThread = 0;
  std::thread([&] { onAnotherThread = vel::RegistryImageEpoch(); }).join();
  EXPECT_EQ(onAnotherThread, first);

  ASSERT_TRUE(InAnotherProcess([] {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Epoch", 0, KEY_ALL_ACCESS, &k) != ERROR_SUCCESS) return false;
    const DWORD one = 1;
    return RegSetValueExW(k, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one) == ERROR_SUCCESS;
  }));
  const std::uint64_t afterOther = vel::RegistryImageEpoch();
  EXPECT_NE(afterOther, first) << "another process's change";
  EXPECT_EQ(vel::RegistryImageEpoch(), afterOther);

  ASSERT_EQ(SetDword(key, u"w", 1), ERROR_SUCCESS);
  const std::uint64_t afterOwn = vel::RegistryImageEpoch();
  EXPECT_NE(afterOwn, afterOther) << "this process's change";

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(vel::RegistryPath().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE probe(x); INSERT INTO probe VALUES(1)", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::uint64_t later = afterOwn;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (later == afterOwn && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    later = vel::RegistryImageEpoch();
  }
  EXPECT_NE(later, afterOwn) << "a write that did not bump the counter";
  RegCloseKey(key);
}

}  // namespace
