#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/winbase.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Lock files go to a folder of this test run, not the machine-wide one.
class NamedMutex : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vel-win32-sync-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    setenv("VEL_MUTEX_DIR", (dir_ / "locks").c_str(), 1);
  }
  void TearDown() override {
    unsetenv("VEL_MUTEX_DIR");
    fs::remove_all(dir_);
  }

  static std::string Child() { return (fs::read_symlink("/proc/self/exe").parent_path() / "win32_mutex_child").string(); }

  static pid_t Spawn(std::vector<std::string> args) {
    args.insert(args.begin(), Child());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    return pid;
  }
  static int ExitCode(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
  }

  fs::path dir_;
};

struct LoopArgs {
  const char16_t* name;
  std::string file;
  int rounds;
  std::atomic<bool> failed{false};
};

DWORD LoopThread(LPVOID p) {
  auto* a = static_cast<LoopArgs*>(p);
  HANDLE m = CreateMutexW(nullptr, FALSE, a->name);
  int fd = open(a->file.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0644);
  const std::string start = "S t" + std::to_string(GetCurrentThreadId()) + "\n";
  const std::string end = "E t" + std::to_string(GetCurrentThreadId()) + "\n";
  for (int i = 0; i < a->rounds; ++i) {
    if (WaitForSingleObject(m, INFINITE) != WAIT_OBJECT_0) a->failed = true;
    if (write(fd, start.data(), start.size()) < 0) a->failed = true;
    usleep(100);
    if (write(fd, end.data(), end.size()) < 0) a->failed = true;
    if (!ReleaseMutex(m)) a->failed = true;
  }
  close(fd);
  CloseHandle(m);
  return 0;
}

TEST_F(NamedMutex, ProcessesAndThreadsHoldItInTurn) {
  const std::string file = (dir_ / "log").string();
  constexpr int kRounds = 150;
  pid_t a = Spawn({"loop", "Global\\vel-turns", file, std::to_string(kRounds)});
  pid_t b = Spawn({"loop", "Global\\vel-turns", file, std::to_string(kRounds)});
  LoopArgs args{u"Global\\vel-turns", file, kRounds};
  HANDLE threads[2];
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, LoopThread, &args, 0, nullptr);
  EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, INFINITE), WAIT_OBJECT_0);
  for (HANDLE t : threads) CloseHandle(t);
  EXPECT_EQ(ExitCode(a), 0);
  EXPECT_EQ(ExitCode(b), 0);
  EXPECT_FALSE(args.failed);

  std::ifstream in(file);
  std::string kind, who, open;
  std::map<std::string, int> rounds;
  int line = 0;
  while (in >> kind >> who) {
    ++line;
    if (kind == "S") {
      ASSERT_EQ(open, "") << "line " << line << ": " << who << " entered while " << open << " held the mutex";
      open = who;
    } else {
      ASSERT_EQ(open, who) << "line " << line;
      open.clear();
      ++rounds[who];
    }
  }
  EXPECT_EQ(rounds.size(), 4u);
  for (auto& [w, n] : rounds) EXPECT_EQ(n, kRounds) << w;
}

DWORD TryFromOtherThread(LPVOID p) { return WaitForSingleObject(*static_cast<HANDLE*>(p), 0); }

DWORD RunOnOtherThread(LPTHREAD_START_ROUTINE routine, HANDLE h) {
  struct Call {
    LPTHREAD_START_ROUTINE routine;
    HANDLE h;
    DWORD result;
  } call{routine, h, 0};
  HANDLE t = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* c = static_cast<Call*>(p);
        c->result = c->routine(&c->h);
        return 0;
      },
      &call, 0, nullptr);
  WaitForSingleObject(t, INFINITE);
  CloseHandle(t);
  return call.result;
}

TEST_F(NamedMutex, RecursiveForTheOwnerOnly) {
  for (const char16_t* name : {static_cast<const char16_t*>(nullptr), u"Global\\vel-recursive", u"Local\\vel-r"}) {
    SCOPED_TRACE(name ? "named" : "unnamed");
    HANDLE m = CreateMutexW(nullptr, TRUE, name);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0);
    EXPECT_EQ(RunOnOtherThread(TryFromOtherThread, m), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_EQ(RunOnOtherThread(TryFromOtherThread, m), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ReleaseMutex(m));
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    // Free now; the other thread takes it and ends holding it.
    EXPECT_EQ(RunOnOtherThread(TryFromOtherThread, m), WAIT_OBJECT_0);
    EXPECT_FALSE(ReleaseMutex(m));
    EXPECT_EQ(WaitForSingleObject(m, 1000), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(m));
    EXPECT_TRUE(CloseHandle(m));
  }
}

TEST_F(NamedMutex, SameNameSameMutexAndTimeouts) {
  SetLastError(1);
  HANDLE first = CreateMutexW(nullptr, TRUE, u"Global\\vel-same");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(GetLastError(), 0u);
  HANDLE second = CreateMutexW(nullptr, FALSE, u"Global\\vel-same");
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(RunOnOtherThread(TryFromOtherThread, second), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(ExitCode(Spawn({"exists", "Global\\vel-same"})), 0);
  EXPECT_EQ(ExitCode(Spawn({"try", "Global\\vel-same", "150"})), 1) << "another process timed out";
  EXPECT_TRUE(ReleaseMutex(second));  // one mutex: either handle releases it
  EXPECT_EQ(ExitCode(Spawn({"try", "Global\\vel-same", "150"})), 0);
  // A different namespace is a different mutex.
  EXPECT_EQ(ExitCode(Spawn({"exists", "Local\\vel-same"})), 1);
  CloseHandle(first);
  CloseHandle(second);
  EXPECT_EQ(ExitCode(Spawn({"exists", "Global\\vel-same"})), 1) << "the last handle is closed";
  // Events and mutexes share the name space.
  HANDLE m = CreateMutexW(nullptr, FALSE, u"vel-kind");
  SetLastError(0);
  EXPECT_EQ(CreateEventW(nullptr, TRUE, FALSE, u"vel-kind"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(m);
}

TEST_F(NamedMutex, DeadOwnerLeavesItAbandoned) {
  const std::string ready = (dir_ / "ready").string();
  HANDLE m = CreateMutexW(nullptr, FALSE, u"Global\\vel-abandoned");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(ExitCode(Spawn({"hold", "Global\\vel-abandoned", ready})), 0);
  ASSERT_TRUE(fs::exists(ready));
  EXPECT_EQ(WaitForSingleObject(m, 2000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(m));
  EXPECT_EQ(WaitForSingleObject(m, 0), WAIT_OBJECT_0) << "abandoned once, then normal again";
  EXPECT_TRUE(ReleaseMutex(m));
  // A child still waiting when the owner dies gets it abandoned too.
  EXPECT_EQ(ExitCode(Spawn({"hold", "Global\\vel-abandoned", ready})), 0);
  EXPECT_EQ(ExitCode(Spawn({"try", "Global\\vel-abandoned", "2000"})), 2);
  CloseHandle(m);
}

TEST(Handles, BadHandlesFail) {
  HANDLE bogus = reinterpret_cast<HANDLE>(0x7777770);
  SetLastError(0);
  EXPECT_EQ(WaitForSingleObject(bogus, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseHandle(bogus));
  EXPECT_FALSE(SetEvent(bogus));
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_FALSE(ReleaseMutex(e)) << "an event is no mutex";
  EXPECT_TRUE(CloseHandle(e));
  EXPECT_FALSE(CloseHandle(e)) << "closed twice";
}

// Threads open and close handles at the same time: every handle is its own,
// reaches its own object from any thread, and closes once.
TEST(Handles, ThreadsOpenAndCloseTheirOwn) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 300;  // more than one block of numbers each
  std::vector<std::vector<HANDLE>> opened(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        HANDLE e = CreateEventW(nullptr, TRUE, i % 2 == 0, nullptr);  // signalled when i is even
        opened[t].push_back(e);
        if (i % 3 == 0) {
          CloseHandle(opened[t][i / 2]);  // some close while others open
          opened[t][i / 2] = nullptr;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<HANDLE> distinct;
  std::size_t open = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i) {
      HANDLE e = opened[t][i];
      if (!e) continue;
      ++open;
      distinct.insert(e);
      EXPECT_EQ(WaitForSingleObject(e, 0), i % 2 == 0 ? WAIT_OBJECT_0 : static_cast<DWORD>(WAIT_TIMEOUT))
          << "thread " << t << " handle " << i << " reaches its own event";
    }
  }
  EXPECT_EQ(distinct.size(), open) << "no number is handed out twice";
  for (HANDLE e : distinct) EXPECT_TRUE(CloseHandle(e)) << "closed by another thread than its opener";
  for (HANDLE e : distinct) EXPECT_FALSE(CloseHandle(e)) << "closed twice";
}

struct Waiter {
  HANDLE event;
  std::atomic<int>* woken;
};

DWORD WaitAndCount(LPVOID p) {
  auto* w = static_cast<Waiter*>(p);
  if (WaitForSingleObject(w->event, 1000) == WAIT_OBJECT_0) ++*w->woken;
  return 7;
}

TEST(Events, AutoResetWakesOneManualWakesAll) {
  for (bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    std::atomic<int> woken{0};
    HANDLE e = CreateEventW(nullptr, manual, FALSE, nullptr);
    Waiter w{e, &woken};
    HANDLE threads[3];
    for (HANDLE& t : threads) t = CreateThread(nullptr, 0, WaitAndCount, &w, 0, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(3, threads, FALSE, 100), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForMultipleObjects(3, threads, TRUE, manual ? 3000 : 500),
              manual ? WAIT_OBJECT_0 : static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(woken, manual ? 3 : 1);
    EXPECT_EQ(WaitForSingleObject(e, 0), manual ? WAIT_OBJECT_0 : static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForMultipleObjects(3, threads, TRUE, 5000), WAIT_OBJECT_0);
    for (HANDLE t : threads) CloseHandle(t);
    CloseHandle(e);
  }
}

TEST(Events, WaitForAnyReportsTheIndex) {
  HANDLE e[3];
  for (HANDLE& h : e) h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetEvent(e[2]);
  EXPECT_EQ(WaitForMultipleObjects(3, e, FALSE, 0), WAIT_OBJECT_0 + 2);
  SetEvent(e[0]);
  EXPECT_EQ(WaitForMultipleObjects(3, e, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(WaitForSingleObject(e[0], 0), WAIT_OBJECT_0) << "a failed wait for all consumed nothing";
  HANDLE initiallySet = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(initiallySet, 0), WAIT_OBJECT_0);
  for (HANDLE h : e) CloseHandle(h);
  CloseHandle(initiallySet);
}

DWORD ReportId(LPVOID p) {
  *static_cast<DWORD*>(p) = GetCurrentThreadId();
  return 0;
}

TEST(Threads, IdsAndCompletion) {
  DWORD inside = 0, reported = 0;
  HANDLE t = CreateThread(nullptr, 64 * 1024, ReportId, &inside, 0, &reported);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(WaitForSingleObject(t, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(inside, reported);
  EXPECT_NE(reported, GetCurrentThreadId());
  EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
  EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
  EXPECT_TRUE(SetThreadPriority(t, THREAD_PRIORITY_NORMAL));
  EXPECT_TRUE(CloseHandle(t));
  LONGLONG f = 0, a = 0, b = 0;
  EXPECT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_TRUE(QueryPerformanceCounter(&a));
  Sleep(20);
  EXPECT_TRUE(QueryPerformanceCounter(&b));
  EXPECT_GE(b - a, f / 50);
}

DWORD TryEnter(LPVOID p) { return TryEnterCriticalSection(static_cast<LPCRITICAL_SECTION>(p)); }

TEST(CriticalSection, RecursiveAndExclusive) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs));
  auto other = [&] {
    DWORD got = 99;
    struct Arg {
      LPCRITICAL_SECTION cs;
      DWORD* got;
    } arg{&cs, &got};
    HANDLE t = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
          auto* a = static_cast<Arg*>(p);
          *a->got = TryEnter(a->cs);
          if (*a->got) LeaveCriticalSection(a->cs);
          return 0;
        },
        &arg, 0, nullptr);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    return got;
  };
  EXPECT_EQ(other(), 0u);
  LeaveCriticalSection(&cs);
  EXPECT_EQ(other(), 0u);
  LeaveCriticalSection(&cs);
  EXPECT_EQ(other(), 1u);
  DeleteCriticalSection(&cs);
}

}  // namespace
