// Internals of the registry store: the process's one SQLite connection, its
// cached statements, transactions and the key-name encodings.
//
// Thread-safety: a Db object holds the connection's mutex for its lifetime;
// everything that takes a Db& runs under that mutex. Never hold a Db while
// waiting for anything but SQLite itself.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/com/types.h"

namespace vel::reg {

// Fixed ids of the root keys; HKEY_CLASSES_ROOT is HKLM\SOFTWARE\Classes.
constexpr std::int64_t kRootLocalMachine = 1;
constexpr std::int64_t kRootCurrentUser = 2;
constexpr std::int64_t kRootUsers = 3;
constexpr std::int64_t kRootCurrentConfig = 4;

// Kinds of change-log rows. The first two equal the REG_NOTIFY_CHANGE_* bits
// a waiter filters on.
constexpr int kChangeName = 0x1;     // a direct subkey was added or deleted
constexpr int kChangeLastSet = 0x4;  // a value was set or deleted
constexpr int kChangeDeleted = 0x100;  // the key itself was deleted

// A value as the in-process image of the store holds it.
struct CachedValue {
  bool exists = false;
  DWORD type = 0;
  std::string data;
};

// One row of a key's subkeys (name, mtime) or values (name, type, data), in
// enumeration order, as the in-process image holds it.
struct CachedEntry {
  std::u16string name;
  DWORD type = 0;
  std::string data;
  std::int64_t mtime = 0;
};
enum class ListKind { kSubkeys, kValues };

class Db {
 public:
  // Locks the connection, opening the store when it is not open yet, and
  // drops the in-process image of the store when any process has changed the
  // store since it was filled.
  Db();
  ~Db();
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;

  // ERROR_SUCCESS when the store is usable, else why not.
  LONG error() const { return error_; }
  sqlite3* handle() const;
  // A cached prepared statement, or null (then Fail has been called).
  sqlite3_stmt* Prepare(const char* sql);
  // Turns an SQLite failure into a Win32 error; damage is reported on
  // standard error once.
  LONG Fail(int rc);
  // Value of PRAGMA data_version: changes when another connection commits.
  std::int64_t DataVersion();
  // Id of HKLM\SOFTWARE\Classes, created when missing; 0 and *error on failure.
  std::int64_t ClassesRoot(LONG* error);

  // The in-process image of what was read: answers from memory while no
  // process has changed the store. Lookups answer false when the image does
  // not hold the item; the Cache* calls put what was just read from the store.
  bool CachedChild(std::int64_t parent, std::string_view folded, std::int64_t* child);
  void CacheChild(std::int64_t parent, std::string_view folded, std::int64_t child);
  // A whole subkey path below a key that was found (the folded names, each
  // followed by a folded separator): one lookup for what a walk finds.
  bool CachedPath(std::int64_t start, std::string_view foldedPath, std::int64_t* key);
  void CachePath(std::int64_t start, std::string_view foldedPath, std::int64_t key);
  // ancestry empty: the key no longer exists.
  bool CachedAncestry(std::int64_t key, std::string* ancestry);
  void CacheAncestry(std::int64_t key, std::string_view ancestry);
  const CachedValue* CachedValueOf(std::int64_t key, std::string_view folded);
  void CacheValue(std::int64_t key, std::string_view folded, CachedValue value);
  // A key's whole list of subkeys or values; null when not held.
  const std::vector<CachedEntry>* CachedList(ListKind kind, std::int64_t key);
  const std::vector<CachedEntry>* CacheList(ListKind kind, std::int64_t key, std::vector<CachedEntry> entries);
  bool CachedMtime(std::int64_t key, std::int64_t* mtime);
  void CacheMtime(std::int64_t key, std::int64_t mtime);
  bool CachedNewestChange(std::int64_t* seq);
  void CacheNewestChange(std::int64_t seq);
  // Inside a write transaction: WriteBegun right after it begins; Wrote
  // tells whether it has changed anything since; Committing right before its
  // commit tells other processes that a change is coming.
  void WriteBegun();
  bool Wrote() const;
  void Committing();
  // After a write of this process: drops the image; once a write that
  // changed something is committed, tells every other process to drop theirs.
  void Changed(bool committed);
  // True (and the image dropped) when a process has committed since this
  // call's Revalidate: then what the call read may be half from the image,
  // half from the changed store, and a "missing" answer is read again.
  bool MovedDuringCall();
  // Drops the image when another process has committed since it was filled.
  void Revalidate();
  // True when a process may have committed since *seen was taken (then *seen
  // is brought up to date): the shared change counter, and SQLite's data
  // version once a second or when the counter cannot be mapped. Costs no
  // system call in between.
  bool StoreChangedSince(std::uint64_t* seenGeneration, std::int64_t* seenVersion, std::int64_t* checkedMs);

 private:
  std::unique_lock<std::mutex> lock_;
  LONG error_;
};

// A cached statement, reset and unbound again when the object goes.
class Stmt {
 public:
  Stmt(Db& db, const char* sql) : s_(db.Prepare(sql)) {}
  ~Stmt();
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return s_ != nullptr; }
  Stmt& Int(int index, std::int64_t value);
  Stmt& Blob(int index, const void* data, std::size_t size);
  Stmt& Blob(int index, std::string_view bytes) { return Blob(index, bytes.data(), bytes.size()); }
  Stmt& Text(int index, std::string_view text);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  std::int64_t ColInt(int column) const;
  std::string_view ColBytes(int column) const;
  std::u16string ColName(int column) const;
  std::string ColText(int column) const;

 private:
  sqlite3_stmt* s_;
};

// BEGIN IMMEDIATE ... COMMIT; rolled back unless committed. A commit wakes
// this process's change waiters. Inside the thread's RegistryTransaction it is
// a savepoint: its failure undoes only its own changes, and waiters wake when
// the whole transaction commits.
class Tx {
 public:
  explicit Tx(Db& db) : db_(db) {}
  ~Tx();
  LONG Begin();
  LONG Commit();

 private:
  Db& db_;
  bool open_ = false;
  bool nested_ = false;  // a savepoint inside the thread's RegistryTransaction
};

// Key and value names are stored as given (UTF-16 code units, native order)
// and, for lookup and ordering, folded and big-endian so that SQLite's
// memcmp ordering of blobs is the code-unit ordering of the folded names.
std::string_view NameBytes(std::u16string_view name);
std::string FoldedKey(std::u16string_view name);

// Time stamps in FILETIME units (100 ns since 1601), and of the change log
// (milliseconds since 1970).
std::int64_t NowFileTime();
std::int64_t NowMs();

// Direct subkey by folded name: its id, or 0 when missing (or on error,
// then *error is set).
std::int64_t FindChild(Db& db, std::int64_t parent, std::string_view folded, LONG* error);
// The key's ancestry text ("/1/7/42/": ids from the root down), or
// ERROR_KEY_DELETED when the key no longer exists.
LONG KeyAncestry(Db& db, std::int64_t key, std::string* ancestry);
// Inside a write transaction: creates a subkey and logs the change.
std::int64_t AddChild(Db& db, std::int64_t parent, std::string_view parentAncestry, std::u16string_view name,
                      LONG* error);
// Inside a write transaction: stamps the key's write time and logs a change of that kind.
LONG Touch(Db& db, std::int64_t key, std::string_view ancestry, int kind);

// Appends a change-log row (inside a write transaction) and keeps the log short.
LONG LogChange(Db& db, std::int64_t key, std::string_view ancestry, int kind);

// Bumps the process's write generation and wakes waiting notifications.
void WakeWaiters();

}  // namespace vel::reg
