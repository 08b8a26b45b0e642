#include "platform/base/PerThread.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
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

// A thread's first use does not wait for a library another thread is
// loading (a C++ thread_local with a destructor would: its registration
// takes the dynamic loader's lock, held through the whole load).
TEST(PerThreadTest, FirstUseDoesNotWaitForALibraryBeingLoaded) {
#if !defined(__x86_64__)
  GTEST_SKIP() << "the slow library waits on x86-64 only";
#endif
  const char* bin = std::getenv("VEL_TEST_BIN");
  ASSERT_NE(bin, nullptr);
  // The library's loading waits for a byte on descriptor 1000.
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  ASSERT_EQ(dup2(gate[0], 1000), 1000);
  close(gate[0]);
  // Made first: making a thread also waits for a library being loaded.
  std::atomic<bool> go{false};
  std::atomic<bool> used{false};
  std::thread user([&] {
    while (!go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    used = vel::PerThread<FirstUse>::Get() != nullptr;
  });
  std::atomic<bool> loaded{false};
  std::thread loader([&] {
    void* library = dlopen((std::string(bin) + "/libvel_slow_to_load.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    loaded = library != nullptr;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the loader waits in the library by now
  go = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (!used && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const bool usedWhileLoading = used;
  const bool stillLoading = !loaded;
  const char byte = 1;
  EXPECT_EQ(write(gate[1], &byte, 1), 1);  // lets the load finish
  user.join();
  loader.join();
  close(gate[1]);
  close(1000);
  EXPECT_TRUE(stillLoading) << "the library did not wait";
  EXPECT_TRUE(loaded);
  EXPECT_TRUE(usedWhileLoading) << "the first use waited for the library being loaded";
}

}  // namespace
