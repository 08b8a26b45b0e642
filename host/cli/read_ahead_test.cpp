// The read-ahead of velitems read: the first file of each kind, in the order
// offered, once, on one thread; destruction waits for the read under way.
#include "host/cli/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
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

// Only the kind being read ahead is pending: a file of it would wait for the
// same loading. A queued kind is not, and is no longer read ahead once asked
// for (its file is read by the caller). The end of a read moves Changes.
TEST(ReadAhead, OnlyTheKindBeingReadAheadIsPendingAndAQueuedKindAskedForIsDropped) {
  std::promise<void> inRead, release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> reads{0};
  std::mutex lock;
  std::vector<std::string> read;
  std::promise<void> allRead;
  ReadAhead ahead([] {},
                  [&](const std::string& path) {
                    {
                      std::lock_guard<std::mutex> hold(lock);
                      read.push_back(path);
                    }
                    if (reads++ == 0) {
                      inRead.set_value();
                      released.wait();
                    }
                    if (path == "d/e.wav") allRead.set_value();
                  });
  EXPECT_FALSE(ahead.Pending("d/a.avi")) << "nothing offered yet";
  ahead.Offer("d/a.avi");
  ahead.Offer("d/b.png");
  ahead.Offer("d/e.wav");
  ASSERT_EQ(inRead.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const std::uint64_t before = ahead.Changes();
  EXPECT_TRUE(ahead.Pending("other/c.AVI")) << "any file of the kind, case-blind";
  EXPECT_FALSE(ahead.Pending("d/c.png")) << "queued, not being read";
  EXPECT_FALSE(ahead.Pending("d/avi")) << "no kind";
  EXPECT_FALSE(ahead.Pending("d.avi/x")) << "no kind";
  release.set_value();
  for (int tries = 0; ahead.Changes() == before && tries < 60000; ++tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_NE(ahead.Changes(), before);
  EXPECT_FALSE(ahead.Pending("other/c.avi"));
  ASSERT_EQ(allRead.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
  std::lock_guard<std::mutex> hold(lock);
  EXPECT_EQ(read, (std::vector<std::string>{"d/a.avi", "d/e.wav"})) << "the PNG was asked for: not read ahead";
}

}  // namespace
