// The handle table and WaitForSingleObject / WaitForMultipleObjects.
//
// One lock and one condition variable serve every in-process object: waits
// are short and rare in this module, and a single lock makes waiting for all
// of several objects atomic without lock ordering.
#include "platform/win32/handles.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/win32/winbase.h"

namespace vel::win32 {
namespace {

// Never destroyed: a detached thread that has just ended still signals it
// while the process may already be running its exit handlers.
std::condition_variable& Changed() {
  static std::condition_variable* cv = new std::condition_variable;
  return *cv;
}

// Threads that open and close files for every file they read must not all
// take one lock: the table is split in shards, each with its own lock, and
// each thread numbers its handles from blocks of its own, so that the handles
// of different threads mostly fall into different shards.
constexpr std::uintptr_t kShards = 16;
constexpr std::uintptr_t kBlock = 64 * 4;  // 64 handles

struct alignas(64) Shard {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
};

struct Table {
  Shard shards[kShards];
  // Multiples of four, as the platform hands out; never reused, so a stale
  // handle cannot reach a newer object.
  std::atomic<std::uintptr_t> nextBlock{kBlock};
};

Table& Handles() {
  static Table* table = new Table;  // outlives threads still closing handles at exit
  return *table;
}

Shard& ShardOf(std::uintptr_t value) { return Handles().shards[(value / kBlock) % kShards]; }

// This thread's next handle value.
std::uintptr_t NextValue() {
  thread_local std::uintptr_t next = 0, end = 0;
  if (next == end) {
    next = Handles().nextBlock.fetch_add(kBlock, std::memory_order_relaxed);
    end = next + kBlock;
  }
  const std::uintptr_t value = next;
  next += 4;
  return value;
}

}  // namespace

std::mutex& WaitLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

void NotifyWaiters() { Changed().notify_all(); }

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  const std::uintptr_t value = NextValue();
  Shard& shard = ShardOf(value);
  std::lock_guard<std::mutex> guard(shard.lock);
  shard.objects.emplace(value, std::move(object));
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  Shard& shard = ShardOf(value);
  std::lock_guard<std::mutex> guard(shard.lock);
  auto it = shard.objects.find(value);
  return it == shard.objects.end() ? nullptr : it->second;
}

namespace {

DWORD Wait(const std::vector<std::shared_ptr<KernelObject>>& objects, bool all, DWORD milliseconds) {
  using Clock = std::chrono::steady_clock;
  const std::optional<Clock::time_point> deadline =
      milliseconds == INFINITE ? std::nullopt
                               : std::optional<Clock::time_point>(Clock::now() + std::chrono::milliseconds(milliseconds));
  const DWORD me = GetCurrentThreadId();
  std::unique_lock<std::mutex> lock(WaitLock());
  for (;;) {
    if (all) {
      std::vector<size_t> claimed;
      std::optional<size_t> abandoned;
      for (size_t i = 0; i < objects.size(); ++i) {
        Claim c = objects[i]->TryClaim(me);
        if (c == Claim::kNotSignalled) break;
        if (c == Claim::kAbandoned && !abandoned) abandoned = i;
        claimed.push_back(i);
      }
      if (claimed.size() == objects.size()) {
        return abandoned ? WAIT_ABANDONED + static_cast<DWORD>(*abandoned) : WAIT_OBJECT_0;
      }
      for (auto it = claimed.rbegin(); it != claimed.rend(); ++it) objects[*it]->Unclaim(me);
    } else {
      for (size_t i = 0; i < objects.size(); ++i) {
        Claim c = objects[i]->TryClaim(me);
        if (c == Claim::kAcquired) return WAIT_OBJECT_0 + static_cast<DWORD>(i);
        if (c == Claim::kAbandoned) return WAIT_ABANDONED + static_cast<DWORD>(i);
      }
    }
    const auto now = Clock::now();
    if (deadline && now >= *deadline) return static_cast<DWORD>(WAIT_TIMEOUT);
    std::chrono::milliseconds poll(0);
    for (const auto& o : objects) {
      auto p = o->PollInterval();
      if (p.count() > 0 && (poll.count() == 0 || p < poll)) poll = p;
    }
    std::optional<Clock::time_point> wake = deadline;
    if (poll.count() > 0 && (!wake || now + poll < *wake)) wake = now + poll;
    if (wake) {
      Changed().wait_until(lock, *wake);
    } else {
      Changed().wait(lock);
    }
  }
}

DWORD WaitFor(const HANDLE* handles, DWORD count, bool all, DWORD milliseconds) {
  if (count == 0 || count > 64 || !handles) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<KernelObject>> objects;
  objects.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    auto o = LookupHandle(handles[i]);
    if (!o || !o->Waitable()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objects.push_back(std::move(o));
  }
  return Wait(objects, all, milliseconds);
}

}  // namespace
}  // namespace vel::win32

extern "C" {

BOOL CloseHandle(HANDLE hObject) {
  using namespace vel::win32;
  std::shared_ptr<KernelObject> dropped;  // destroyed after the table lock is released
  {
    const auto value = reinterpret_cast<std::uintptr_t>(hObject);
    Shard& shard = ShardOf(value);
    std::lock_guard<std::mutex> guard(shard.lock);
    auto it = shard.objects.find(value);
    if (it == shard.objects.end()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    dropped = std::move(it->second);
    shard.objects.erase(it);
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  return vel::win32::WaitFor(&hHandle, 1, false, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
  return vel::win32::WaitFor(lpHandles, nCount, bWaitAll != FALSE, dwMilliseconds);
}

}  // extern "C"
