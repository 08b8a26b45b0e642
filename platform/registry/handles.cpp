#include "platform/registry/handles.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <unordered_map>

namespace vel::reg {
namespace {

constexpr REGSAM kGenericRead = 0x80000000;
constexpr REGSAM kGenericWrite = 0x40000000;
constexpr REGSAM kGenericExecute = 0x20000000;
constexpr REGSAM kGenericAll = 0x10000000;
constexpr REGSAM kMaximumAllowed = 0x02000000;

struct Table {
  std::mutex mutex;
  std::condition_variable changed;
  std::unordered_map<std::uintptr_t, std::shared_ptr<KeyHandle>> handles;
  std::uintptr_t next = 0x1000;  // never reused, so a stale handle stays invalid
  std::uint64_t generation = 0;
};

Table& Handles() {
  static Table* t = new Table;  // lives until exit, also for late callers
  return *t;
}

REGSAM MapGeneric(REGSAM access) {
  REGSAM out = access & 0x00FFFFFF;
  if (access & (kGenericRead | kGenericExecute)) out |= KEY_READ;
  if (access & kGenericWrite) out |= KEY_WRITE;
  if (access & (kGenericAll | kMaximumAllowed)) out |= KEY_ALL_ACCESS;
  return out;
}

}  // namespace

LONG ResolveKey(HKEY hKey, Db& db, KeyRef* out) {
  const auto value = reinterpret_cast<std::uintptr_t>(hKey);
  if (hKey == HKEY_CLASSES_ROOT) {
    LONG error = ERROR_SUCCESS;
    out->key = db.ClassesRoot(&error);
    out->access = KEY_ALL_ACCESS;
    return error;
  }
  if (hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_USERS || hKey == HKEY_CURRENT_CONFIG) {
    out->key = hKey == HKEY_LOCAL_MACHINE  ? kRootLocalMachine
               : hKey == HKEY_CURRENT_USER ? kRootCurrentUser
               : hKey == HKEY_USERS        ? kRootUsers
                                           : kRootCurrentConfig;
    out->access = KEY_ALL_ACCESS;
    return ERROR_SUCCESS;
  }
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  auto it = t.handles.find(value);
  if (it == t.handles.end()) return ERROR_INVALID_HANDLE;
  out->handle = it->second;
  out->key = it->second->key;
  out->access = it->second->access;
  return ERROR_SUCCESS;
}

LONG NewestChange(Db& db, std::int64_t* seq, bool fresh) {
  if (!fresh && db.CachedNewestChange(seq)) return ERROR_SUCCESS;
  Stmt s(db, "SELECT coalesce(max(seq),0) FROM changes");
  if (!s.ok()) return db.error();
  int rc = s.Step();
  if (rc != SQLITE_ROW) return db.Fail(rc);
  *seq = s.ColInt(0);
  db.CacheNewestChange(*seq);
  return ERROR_SUCCESS;
}

HKEY NewHandle(std::int64_t key, REGSAM access, std::int64_t changeSeq) {
  auto h = std::make_shared<KeyHandle>();
  h->key = key;
  h->reportedSeq.store(changeSeq);
  h->access = MapGeneric(access);
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  std::uintptr_t value = t.next;
  t.next += 8;
  t.handles.emplace(value, std::move(h));
  return reinterpret_cast<HKEY>(value);
}

LONG CloseKeyHandle(HKEY hKey) {
  if (hKey == HKEY_CLASSES_ROOT || hKey == HKEY_LOCAL_MACHINE || hKey == HKEY_CURRENT_USER || hKey == HKEY_USERS ||
      hKey == HKEY_CURRENT_CONFIG) {
    return ERROR_SUCCESS;  // the roots are never really open
  }
  Table& t = Handles();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.handles.find(reinterpret_cast<std::uintptr_t>(hKey));
    if (it == t.handles.end()) return ERROR_INVALID_HANDLE;
    it->second->closed = true;
    const bool waited = it->second->waiters > 0;
    t.handles.erase(it);
    // Only a thread waiting on this very handle needs to hear of it; waking
    // every waiter at each close would cost the other waiters a poll each.
    if (!waited) return ERROR_SUCCESS;
  }
  t.changed.notify_all();
  return ERROR_SUCCESS;
}

void CloseAllHandles() {
  Table& t = Handles();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    for (auto& [value, h] : t.handles) h->closed = true;
    t.handles.clear();
  }
  t.changed.notify_all();
}

void WakeWaiters() {
  Table& t = Handles();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    ++t.generation;
  }
  t.changed.notify_all();
}

std::uint64_t WriteGeneration() {
  Table& t = Handles();
  std::lock_guard<std::mutex> lock(t.mutex);
  return t.generation;
}

bool WaitForChange(const std::shared_ptr<KeyHandle>& handle, std::uint64_t* generation, int ms) {
  Table& t = Handles();
  std::unique_lock<std::mutex> lock(t.mutex);
  ++handle->waiters;
  t.changed.wait_for(lock, std::chrono::milliseconds(ms),
                     [&] { return handle->closed || t.generation != *generation; });
  --handle->waiters;
  *generation = t.generation;
  return !handle->closed;
}

}  // namespace vel::reg
