// ReadAhead: reads ahead, on a thread of its own, the first file of each kind
// (by its extension, case-blind) that it is offered, and drops what it read.
// velitems read offers every file a folder listing shows: what reading a kind
// needs (the media graph's FFmpeg libraries, the graphics library, their
// codecs) is then loaded while the files before it are read, instead of
// holding up the read when the first file of that kind comes up. Kinds are
// read in the order offered, one at a time, each once per object.
//
// Pending tells whether a file's kind is being read ahead right now: reading
// such a file would wait for the same loading, so velitems read sets it aside
// and reads later files meanwhile. A kind still queued is not pending (most
// kinds need nothing loaded, and which do is known only once one is read):
// the caller is about to read a file of it, so it is taken off the queue,
// where its read ahead would only wait for the caller's loading or repeat it.
//
// Thread safety: Offer, Pending and Changes may be called from any thread;
// read runs on the object's own thread (after startThread), one call at a
// time. Destruction drops what is still queued and waits for a read under
// way.
#pragma once

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>

namespace vel::cli {

class ReadAhead {
 public:
  ReadAhead(std::function<void()> startThread, std::function<void(const std::string&)> read)
      : startThread_(std::move(startThread)), read_(std::move(read)) {}
  ~ReadAhead() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // Queues path when it is the first of its kind; a name without an
  // extension has no kind.
  void Offer(const std::string& path) {
    std::string kind = KindOf(path);
    if (kind.empty()) return;
    std::lock_guard<std::mutex> hold(lock_);
    if (stop_ || !kinds_.insert(std::move(kind)).second) return;
    queue_.push_back(path);
    busy_.fetch_add(1, std::memory_order_release);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wake_.notify_one();
  }

  // True while a file of path's kind is being read ahead; false otherwise,
  // and path's kind is then no longer read ahead. While nothing is queued or
  // read ahead this costs one atomic load, no lock.
  bool Pending(const std::string& path) {
    if (busy_.load(std::memory_order_acquire) == 0) return false;
    const std::string kind = KindOf(path);
    if (kind.empty()) return false;
    std::lock_guard<std::mutex> hold(lock_);
    if (kind == readingKind_) return true;
    for (auto it = queue_.begin(); it != queue_.end(); ++it) {
      if (KindOf(*it) == kind) {
        queue_.erase(it);
        busy_.fetch_sub(1, std::memory_order_release);
        break;
      }
    }
    return false;
  }

  // Moves whenever a read ahead ends: a kind Pending answered true for is
  // then no longer pending.
  std::uint64_t Changes() const { return ended_.load(std::memory_order_acquire); }

 private:
  static std::string KindOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size()) return {};
    std::string kind = path.substr(dot + 1);
    for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return kind;
  }

  void Run() {
    startThread_();
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      const std::string path = std::move(queue_.front());
      queue_.pop_front();
      readingKind_ = KindOf(path);
      hold.unlock();
      read_(path);
      hold.lock();
      readingKind_.clear();
      busy_.fetch_sub(1, std::memory_order_release);
      ended_.fetch_add(1, std::memory_order_release);
    }
  }

  std::function<void()> startThread_;
  std::function<void(const std::string&)> read_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  std::set<std::string> kinds_;         // offered
  std::string readingKind_;             // the kind being read ahead, if any
  std::atomic<std::uint64_t> busy_{0};  // kinds queued or being read
  std::atomic<std::uint64_t> ended_{0};
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vel::cli
