// ReadAhead: reads ahead, on a thread of its own, the first file of each kind
// (by its extension, case-blind) that it is offered, and drops what it read.
// velitems read offers every file a folder listing shows: what reading a kind
// needs (the media graph's FFmpeg libraries, the graphics library, their
// codecs) is then loaded while the files before it are read, instead of
// holding up the read when the first file of that kind comes up. Kinds are
// read in the order offered, one at a time, each once per object.
//
// Thread safety: Offer may be called from any thread; read runs on the
// object's own thread (after startThread), one call at a time. Destruction
// drops what is still queued and waits for a read under way.
#pragma once

#include <cctype>
#include <condition_variable>
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
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == path.size()) return;
    std::string kind = path.substr(dot + 1);
    for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::lock_guard<std::mutex> hold(lock_);
    if (stop_ || !kinds_.insert(std::move(kind)).second) return;
    queue_.push_back(path);
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wake_.notify_one();
  }

 private:
  void Run() {
    startThread_();
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      wake_.wait(hold, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      const std::string path = std::move(queue_.front());
      queue_.pop_front();
      hold.unlock();
      read_(path);
      hold.lock();
    }
  }

  std::function<void()> startThread_;
  std::function<void(const std::string&)> read_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;
  std::set<std::string> kinds_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace vel::cli
