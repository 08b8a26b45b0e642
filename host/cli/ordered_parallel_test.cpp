// ForEachOrdered: results come out in input order whatever order the workers
// finish in, emit never overlaps, and each worker starts once.
#include "host/cli/ordered_parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using vel::cli::ForEachOrdered;

TEST(ForEachOrdered, EmitsEveryResultInInputOrder) {
  struct Row {
    const char* name;
    std::size_t count;
    int workers;
    int expectedStarts;
  };
  const Row rows[] = {
      {"no inputs", 0, 4, 1},
      {"one worker", 9, 1, 1},
      {"one input, many workers", 1, 8, 1},
      {"more inputs than workers", 40, 4, 4},
      {"more workers than inputs", 3, 8, 3},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::atomic<int> starts{0};
    std::atomic<bool> emitting{false};
    bool overlapped = false;
    std::vector<std::size_t> order;
    std::vector<std::string> texts;
    ForEachOrdered<std::string>(
        r.count, r.workers, [&] { ++starts; },
        [&](std::size_t i) {
          // Later inputs finish first more often than not: the order has to be restored.
          std::this_thread::sleep_for(std::chrono::microseconds((r.count - i) * 50));
          return "item " + std::to_string(i);
        },
        [&](std::size_t i, std::string& text) {
          if (emitting.exchange(true)) overlapped = true;
          order.push_back(i);
          texts.push_back(std::move(text));
          emitting = false;
        });
    EXPECT_EQ(starts.load(), r.expectedStarts);
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), r.count);
    for (std::size_t i = 0; i < r.count; ++i) {
      EXPECT_EQ(order[i], i);
      EXPECT_EQ(texts[i], "item " + std::to_string(i));
    }
  }
}

TEST(ForEachOrdered, OneWorkerRunsOnTheCallingThread) {
  std::set<std::thread::id> seen;
  ForEachOrdered<int>(
      5, 1, [] {},
      [&](std::size_t i) {
        seen.insert(std::this_thread::get_id());
        return static_cast<int>(i);
      },
      [](std::size_t, int&) {});
  EXPECT_EQ(seen, std::set<std::thread::id>{std::this_thread::get_id()});
}

TEST(ForEachOrdered, WorkersProduceAtTheSameTime) {
  // The first two inputs each wait for the other to have started: only two
  // workers running side by side get both past the wait.
  std::mutex lock;
  std::condition_variable changed;
  int arrived = 0;
  std::vector<bool> metTheOther(2, false);
  ForEachOrdered<int>(
      2, 2, [] {},
      [&](std::size_t i) {
        std::unique_lock<std::mutex> hold(lock);
        ++arrived;
        changed.notify_all();
        metTheOther[i] = changed.wait_for(hold, std::chrono::seconds(30), [&] { return arrived == 2; });
        return static_cast<int>(i);
      },
      [](std::size_t, int&) {});
  EXPECT_TRUE(metTheOther[0]);
  EXPECT_TRUE(metTheOther[1]);
}

}  // namespace
