// The read-ahead of velitems read: the first file of each kind, in the order
// offered, once, on one thread; destruction waits for the read under way.
#include "host/cli/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using vel::cli::ReadAhead;

TEST(ReadAhead, ReadsTheFirstFileOfEachKindInTheOrderOffered) {
  std::mutex lock;
  std::vector<std::string> read;
  std::atomic<int> started{0};
  std::promise<void> done;
  {
    ReadAhead ahead([&] { ++started; },
                    [&](const std::string& path) {
                      std::lock_guard<std::mutex> hold(lock);
                      read.push_back(path);
                      if (read.size() == 3) done.set_value();
                    });
    for (const char* path : {"d/1.mms", "d/2.mms", "d/a.AVI", "d/b.avi", "d/c.Mms", "d/noext", "d.x/noext",
                             "d/trailing.", "d/e.png", "d/sub/f.avi"})
      ahead.Offer(path);
    ASSERT_EQ(done.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  }
  EXPECT_EQ(read, (std::vector<std::string>{"d/1.mms", "d/a.AVI", "d/e.png"}));
  EXPECT_EQ(started, 1) << "one thread, started once";
}

TEST(ReadAhead, NothingOfferedStartsNoThreadAndDestructionWaitsForTheReadUnderWay) {
  int started = 0;
  { ReadAhead idle([&] { ++started; }, [](const std::string&) {}); }
  EXPECT_EQ(started, 0);

  std::promise<void> inRead;
  std::atomic<bool> finished{false};
  {
    ReadAhead ahead([] {},
                    [&](const std::string&) {
                      inRead.set_value();
                      std::this_thread::sleep_for(std::chrono::milliseconds(100));
                      finished = true;
                    });
    ahead.Offer("one.jpg");
    ASSERT_EQ(inRead.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  }
  EXPECT_TRUE(finished);
}

}  // namespace
