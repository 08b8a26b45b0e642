#include "platform/base/PerThread.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_alive{0};

struct Counted {
  Counted() { ++g_alive; }
  ~Counted() { --g_alive; }
  int value = 0;
};

// Each thread has its own, made on first use, gone when the thread ends.
TEST(PerThreadTest, EachThreadHasItsOwnUntilItEnds) {
  std::vector<std::thread> threads;
  std::vector<Counted*> seen(4, nullptr);
  std::atomic<int> ready{0};
  std::atomic<bool> release{false};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      Counted* mine = vel::PerThread<Counted>::Get();
      ASSERT_NE(mine, nullptr);
      mine->value = t;
      EXPECT_EQ(vel::PerThread<Counted>::Get(), mine) << "the same one again";
      seen[t] = mine;
      ++ready;
      while (!release) std::this_thread::yield();
      EXPECT_EQ(vel::PerThread<Counted>::Get()->value, t) << "no other thread's";
    });
  }
  while (ready < 4) std::this_thread::yield();
  EXPECT_EQ(g_alive.load(), 4);
  EXPECT_EQ(std::set<Counted*>(seen.begin(), seen.end()).size(), 4u);
  release = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(g_alive.load(), 0) << "destroyed as their threads ended";
}

struct FirstUse {
  int value = 7;
  std::string owned;  // a destructor to run when the thread ends
};

// Loads the test library that waits in its loading for a byte on descriptor
// 1000, on a thread of its own, until Finish.
class SlowLoad {
 public:
  explicit SlowLoad(const std::string& bin) {
    if (pipe(gate_) != 0 || dup2(gate_[0], 1000) != 1000) return;
    close(gate_[0]);
    loader_ = std::thread([this, bin] {
      library_ = dlopen((bin + "/libvel_slow_to_load.so").c_str(), RTLD_NOW | RTLD_LOCAL);
      loaded_ = library_ != nullptr;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the loader waits in the library by now
  }
  // Whether the load was still under way; lets it end, and unloads the
  // library so that the next load waits again.
  bool Finish() {
    const bool stillLoading = !loaded_;
    const char byte = 1;
    EXPECT_EQ(write(gate_[1], &byte, 1), 1);
    loader_.join();
    close(gate_[1]);
    close(1000);
    EXPECT_TRUE(loaded_);
    if (library_) dlclose(library_);
    return stillLoading;
  }

 private:
  int gate_[2] = {-1, -1};
  std::atomic<bool> loaded_{false};
  void* library_ = nullptr;
  std::thread loader_;
};

// Runs use on a thread made before the slow load starts (making a thread
// also waits for a library being loaded) and tells whether it ended while
// the load was still under way.
bool EndsWhileALibraryLoads(const std::function<bool()>& use) {
  const char* bin = std::getenv("VEL_TEST_BIN");
  EXPECT_NE(bin, nullptr);
  if (bin == nullptr) return false;
  std::atomic<bool> go{false};
  std::atomic<bool> used{false};
  std::thread user([&] {
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    used = use();
  });
  SlowLoad load(bin);
  go = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!used && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bool usedWhileLoading = used;
  EXPECT_TRUE(load.Finish()) << "the library did not wait";
  user.join();
  return usedWhileLoading;
}

// A thread's first use does not wait for a library another thread is
// loading: not here (a C++ thread_local with a destructor would, its
// registration takes the dynamic loader's lock, held through the whole load),
// and not in a library loaded with dlopen (its thread-local storage would be
// made under a lock the loader holds too), for objects with and without a
// destructor and for a module's lock count. (The loader places a library's
// thread-local storage on the first use in the process; later threads'
// first uses do not wait.)
TEST(PerThreadTest, FirstUseDoesNotWaitForALibraryBeingLoaded) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "the slow library waits on x86-64 only";
#endif
  EXPECT_TRUE(EndsWhileALibraryLoads([] { return vel::PerThread<FirstUse>::Get() != nullptr; }))
      << "the first use waited for the library being loaded";

  const char* bin = std::getenv("VEL_TEST_BIN");
  ASSERT_NE(bin, nullptr);
  void* user = dlopen((std::string(bin) + "/libvel_per_thread_user.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(user, nullptr) << dlerror();
  auto use = reinterpret_cast<int (*)()>(dlsym(user, "VelUsePerThread"));
  ASSERT_NE(use, nullptr);
  // The first use in the process: thread-local storage of a library loaded
  // with dlopen would be placed then, under the loader's lock.
  EXPECT_TRUE(EndsWhileALibraryLoads([use] { return use() == 1; }))
      << "a first use in a library loaded with dlopen waited for the library being loaded";
  EXPECT_EQ(use(), 1) << "on this thread too";
  dlclose(user);
}

}  // namespace
