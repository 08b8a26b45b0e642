// RegNotifyChangeKeyValue: a synchronous wait on the store's change log.
//
// Every write appends rows to the log in its own transaction. A waiter notes
// the newest row when it starts, then sleeps until this process commits, its
// handle is closed, or a poll interval passes; it then looks for newer rows
// that concern its key (or subtree) and filter. The store's change counter
// makes the poll free when no other process wrote (SQLite's data version is
// asked once a second, or at every poll where the counter cannot be mapped).
#include <memory>
#include <string>

#include "platform/registry/handles.h"
#include "platform/registry/store_db.h"
#include "platform/registry/winreg.h"

namespace {

constexpr int kPollMs = 15;
constexpr DWORD kKnownFilters =
    REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
constexpr DWORD kThreadAgnostic = 0x10000000;  // meaningful only for asynchronous waits

}  // namespace

using namespace vel::reg;

extern "C" LSTATUS RegNotifyChangeKeyValue(HKEY hKey, BOOL bWatchSubtree, DWORD dwNotifyFilter, HANDLE hEvent,
                                           BOOL fAsynchronous) {
  // Only synchronous waits exist here; the event is ignored for those, as on the platform.
  if (fAsynchronous) return ERROR_CALL_NOT_IMPLEMENTED;
  if ((dwNotifyFilter & ~(kKnownFilters | kThreadAgnostic)) != 0 || (dwNotifyFilter & kKnownFilters) == 0) {
    return ERROR_INVALID_PARAMETER;
  }
  const int watched = static_cast<int>(dwNotifyFilter & (REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET));

  std::uint64_t generation = WriteGeneration();
  KeyRef k;
  std::string ancestry;
  std::string subtreeEnd;
  std::int64_t lastSeq = 0;
  // What the store looked like at the last look: its change counter, SQLite's
  // data version, and when that was last asked.
  std::uint64_t storeGeneration = 0;
  std::int64_t dataVersion = -1;
  std::int64_t checkedMs = 0;
  bool pending = false;
  {
    Db db;
    if (db.error()) return db.error();
    if (LONG e = ResolveKey(hKey, db, &k)) return e;
    if (!(k.access & KEY_NOTIFY)) return ERROR_ACCESS_DENIED;
    if (LONG e = KeyAncestry(db, k.key, &ancestry)) return e;
    if (LONG e = NewestChange(db, &lastSeq, true)) return e;
    const std::int64_t reported = k.handle ? k.handle->reportedSeq.load() : lastSeq;
    if (reported < lastSeq) {
      lastSeq = reported;
      pending = true;  // changes since the last report: look before sleeping
    }
    db.StoreChangedSince(&storeGeneration, &dataVersion, &checkedMs);
  }
  subtreeEnd = ancestry;
  subtreeEnd.back() = '0';
  // A predefined root has no handle to close; it still needs one to wait on.
  std::shared_ptr<KeyHandle> handle = k.handle ? k.handle : std::make_shared<KeyHandle>();

  for (;;) {
    if (!pending) {
      std::uint64_t before = generation;
      if (!WaitForChange(handle, &generation, kPollMs)) return ERROR_INVALID_HANDLE;
      Db db;
      if (db.error()) return db.error();
      // Another process's commit shows in the store; this process's in the generation.
      if (!db.StoreChangedSince(&storeGeneration, &dataVersion, &checkedMs) && generation == before) continue;
    }
    pending = false;
    Db db;
    if (db.error()) return db.error();
    // Rows up to the newest are looked at once, so others' busy keys do not
    // make every later poll scan them again.
    std::int64_t newest = 0;
    {
      if (LONG e = NewestChange(db, &newest, true)) return e;
    }
    if (newest <= lastSeq) continue;
    Stmt s(db,
           "SELECT key,kind FROM changes WHERE seq>?1 AND seq<=?2 AND "
           "(key=?3 OR (?4 AND ancestry>?5 AND ancestry<?6))");
    if (!s.ok()) return db.error();
    s.Int(1, lastSeq).Int(2, newest).Int(3, k.key).Int(4, bWatchSubtree ? 1 : 0).Text(5, ancestry).Text(6, subtreeEnd);
    lastSeq = newest;
    bool changed = false;
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
      const int kind = static_cast<int>(s.ColInt(1));
      if (kind == kChangeDeleted && s.ColInt(0) == k.key) return ERROR_KEY_DELETED;
      if (kind & watched) changed = true;
    }
    if (rc != SQLITE_DONE) return db.Fail(rc);
    if (changed) {
      handle->reportedSeq.store(newest);
      return ERROR_SUCCESS;
    }
  }
}
