// ForEachOrdered: results come out in input order whatever order the workers
// finish in, emit never overlaps, and each worker starts once.
#include "host/cli/ordered_parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using vel::cli::ForEachOrdered;
using vel::cli::ForEachOrderedFrom;

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

// Inputs a predicate sets aside are produced after later ones, once it lets
// them go, and still come out in their place.
TEST(ForEachOrderedFrom, SetAsideInputsAreProducedLaterAndEmittedInTheirPlace) {
  for (const std::size_t threads : {1, 2}) {
    SCOPED_TRACE(threads);
    std::atomic<bool> loading{true};
    std::atomic<std::uint64_t> changes{0};
    struct Aside {
      std::atomic<bool>& loading;
      std::atomic<std::uint64_t>& changes;
      bool SetAside(const int& input) const { return loading && input >= 3 && input <= 5; }
      std::uint64_t Changes() const { return changes; }
    };
    int taken = 0;
    std::mutex lock;
    std::vector<int> produced, emitted;
    ForEachOrderedFrom<int, int>(
        [&](int& input) {
          if (taken == 20) return false;
          input = taken++;
          return true;
        },
        Aside{loading, changes}, 1024, threads, [] {},
        [&](const int& input, std::size_t) {
          {
            std::lock_guard<std::mutex> hold(lock);
            produced.push_back(input);
          }
          if (input == 10) {  // what the set-aside inputs waited for is done
            loading = false;
            ++changes;
          } else if (input > 10) {
            // Another worker must not run out of inputs (and take the
            // set-aside ones for that) before this happened.
            for (int tries = 0; loading && tries < 30000; ++tries)
              std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          return input * 10;
        },
        [&](std::size_t i, const int& input, int& result) {
          EXPECT_EQ(static_cast<int>(i), input);
          EXPECT_EQ(result, input * 10);
          emitted.push_back(input);
        });
    std::vector<int> all(20);
    for (int i = 0; i < 20; ++i) all[i] = i;
    EXPECT_EQ(emitted, all);
    auto at = [&](int input) { return std::find(produced.begin(), produced.end(), input) - produced.begin(); };
    for (int input : {3, 4, 5}) EXPECT_GT(at(input), at(10)) << input;
    if (threads == 1) {
      EXPECT_EQ(produced, (std::vector<int>{0, 1, 2, 6, 7, 8, 9, 10, 3, 4, 5, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
    }
  }
}

// Inputs that are never let go are still produced: when as many inputs as
// allowed are held, and when no input is left. However long one input takes,
// no more than the bound are held.
TEST(ForEachOrderedFrom, HoldsNoMoreThanTheBoundAndProducesWhatIsSetAsideForGood) {
  struct Row {
    const char* name;
    std::size_t threads;
    std::size_t maxHeld;
    bool evensAside;
    bool slowFirst;  // the first input takes long enough for the others to take every other input
  };
  const Row rows[] = {{"one thread", 1, 4, true, false},
                      {"three threads", 3, 4, true, false},
                      {"bound of one", 2, 1, true, false},
                      {"a slow input", 2, 4, false, true},
                      {"a slow input and some set aside", 3, 4, true, true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    struct EvenAside {
      bool on;
      bool SetAside(const int& input) const { return on && input % 2 == 0; }
      std::uint64_t Changes() const { return 0; }
    };
    std::mutex lock;
    int taken = 0;
    std::size_t emittedCount = 0, mostHeld = 0;
    std::vector<int> emitted;
    ForEachOrderedFrom<int, int>(
        [&](int& input) {
          if (taken == 41) return false;
          input = taken++;
          std::lock_guard<std::mutex> hold(lock);
          mostHeld = std::max(mostHeld, static_cast<std::size_t>(taken) - emittedCount);
          return true;
        },
        EvenAside{r.evensAside}, r.maxHeld, r.threads, [] {},
        [&](const int& input, std::size_t i) {
          if (r.slowFirst && i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
          return input;
        },
        [&](std::size_t, const int& input, int&) {
          std::lock_guard<std::mutex> hold(lock);
          emitted.push_back(input);
          ++emittedCount;
        });
    ASSERT_EQ(emitted.size(), 41u);
    for (int i = 0; i < 41; ++i) EXPECT_EQ(emitted[i], i);
    // One more than the bound: the input being emitted when the count was taken.
    EXPECT_LE(mostHeld, r.maxHeld + 1) << "held at most";
  }
}
}  // namespace
