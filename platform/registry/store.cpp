// The registry store's connection: where the file lives, opening and
// creating it, mapping SQLite failures to Win32 errors; the in-process image
// of what was read and the change counter that keeps it honest; transactions.
#include "platform/registry/store.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <thread>
#include <unordered_map>

#include "platform/registry/handles.h"
#include "platform/registry/store_db.h"
#include "platform/text.h"
#include "platform/win32/paths.h"
#include "platform/win32/winerror.h"

namespace vel::reg {
namespace {

// 'VELR': marks a database as ours, so another program's SQLite file is
// refused instead of being used as an empty registry.
constexpr int kApplicationId = 0x56454C52;
constexpr int kSchemaVersion = 1;
// Change-log rows older than this are dropped; waiters poll far more often.
constexpr std::int64_t kChangeLogKeepMs = 60'000;

// What RegistryImageEpoch may answer without the connection's lock while
// nothing can have changed: the image's epoch, published under the lock after
// a full check, good while the shared change counter still reads
// `generation`, until the next check of SQLite's data version is due and in
// the process it was published in. Every drop of the image takes it back.
struct QuickEpoch {
  std::atomic<std::uint64_t> epoch{0};  // 0: none published
  std::atomic<const std::atomic<std::uint64_t>*> counter{nullptr};
  std::atomic<std::uint64_t> generation{0};
  std::atomic<std::int64_t> untilMs{0};
  std::atomic<unsigned> forks{0};
};
QuickEpoch g_quickEpoch;

// The in-process image of the store (see Db::CachedChild).
struct Cache {
  std::unordered_map<std::string, std::int64_t> children;  // parent id bytes + folded name -> id, 0: none
  std::unordered_map<std::string, std::int64_t> paths;     // start id bytes + folded subkey path -> id
  std::unordered_map<std::int64_t, std::string> ancestry;  // key id -> ancestry, empty: deleted
  std::unordered_map<std::string, CachedValue> values;     // key id bytes + folded name
  std::unordered_map<std::int64_t, std::vector<CachedEntry>> subkeyLists;
  std::unordered_map<std::int64_t, std::vector<CachedEntry>> valueLists;
  std::unordered_map<std::int64_t, std::int64_t> mtimes;
  std::int64_t newestChange = -1;
  // Counts the drops: see RegistryImageEpoch.
  std::uint64_t epoch = 1;
  void Clear() {
    g_quickEpoch.epoch.store(0, std::memory_order_release);
    ++epoch;
    children.clear();
    paths.clear();
    ancestry.clear();
    values.clear();
    subkeyLists.clear();
    valueLists.clear();
    mtimes.clear();
    newestChange = -1;
  }
  std::size_t Size() const {
    return children.size() + paths.size() + ancestry.size() + values.size() + subkeyLists.size() + valueLists.size() +
           mtimes.size();
  }
};
// An image larger than this starts again (the store is small; a process that
// walks all of it does not keep all of it).
constexpr std::size_t kMostCachedItems = 50'000;
// How often the image is checked against SQLite's own data version too, for
// writers that changed the store without bumping the counter (a killed writer
// between its commit and the bump, other tools).
constexpr std::int64_t kDataVersionCheckMs = 1000;

std::string ItemKey(std::int64_t id, std::string_view folded) {
  std::string key(sizeof id, '\0');
  std::memcpy(key.data(), &id, sizeof id);
  key.append(folded);
  return key;
}

// The change counter every committing writer bumps: one 64-bit number in a
// small file beside the store, mapped shared, so a reader learns with one
// load whether any process has changed the store.
struct SharedCounter {
  std::atomic<std::uint64_t>* value = nullptr;
  bool writable = false;
};

struct Connection {
  std::mutex mutex;
  sqlite3* db = nullptr;
  unsigned forks = 0;  // ForkCount() when the connection was opened
  std::string path;
  std::unordered_map<const char*, sqlite3_stmt*> statements;
  std::int64_t classesRoot = 0;
  std::int64_t lastTrimMs = 0;
  std::set<std::string> reported;  // failures already written to stderr
  int busyMs = 5000;
  // An open RegistryTransaction: its thread alone uses the connection until
  // it ends; other threads wait on txDone.
  bool txOpen = false;
  std::thread::id txOwner;
  std::condition_variable txDone;
  Cache cache;
  SharedCounter counter;
  std::uint64_t seenGeneration = 0;
  std::int64_t seenDataVersion = -1;
  std::int64_t checkedMs = 0;
  // sqlite3_total_changes64 when the open write transaction began: a
  // transaction that wrote nothing tells no other process to drop its image.
  std::int64_t changesAtBegin = 0;
};

std::int64_t CoarseMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);  // from the vDSO: no system call
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

// The mapping itself stays: RegistryImageEpoch may be reading it without the
// lock at this moment. A connection is closed only on a reset or in a forked
// child, so what stays is a page or two in the life of a process.
void ForgetCounter(SharedCounter& counter) { counter = SharedCounter{}; }

// Maps "<store>-generation"; without it (a folder we may not write, a file
// system without shared mappings) every read asks SQLite, as before.
void MapCounter(SharedCounter& counter, const std::string& storePath) {
  ForgetCounter(counter);
  const std::string path = storePath + "-generation";
  bool writable = true;
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) {
    writable = false;
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  if (fd < 0) return;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      (st.st_size < static_cast<off_t>(sizeof(std::uint64_t)) &&
       (!writable || ftruncate(fd, sizeof(std::uint64_t)) != 0))) {
    close(fd);
    return;
  }
  void* map = mmap(nullptr, sizeof(std::uint64_t), writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (map == MAP_FAILED) return;
  static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "the counter is shared between processes");
  counter.value = static_cast<std::atomic<std::uint64_t>*>(map);
  counter.writable = writable;
}

// Forks of this process so far, counted in the child: a connection opened
// before a fork belongs to the parent. (Asking getpid() on every call would
// cost a system call per registry read.)
std::atomic<unsigned> g_forks{0};

unsigned ForkCount() {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, [] { g_forks.fetch_add(1, std::memory_order_relaxed); });
    return true;
  }();
  (void)registered;
  return g_forks.load(std::memory_order_relaxed);
}

Connection& Conn() {
  static Connection* c = new Connection;  // lives until exit, also for late callers
  return *c;
}

void Report(Connection& c, const std::string& what, LONG error) {
  std::string key = c.path + '\n' + what;
  if (!c.reported.insert(key).second) return;
  std::fprintf(stderr, "registry store %s: %s (error %d)\n", c.path.c_str(), what.c_str(), static_cast<int>(error));
}

// An errno with no Win32 counterpart reads as "cannot open the store".
LONG MapErrno(int e) { return static_cast<LONG>(vel::win32::ErrorFromErrno(e, ERROR_CANTOPEN)); }

LONG MapResult(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return ERROR_BUSY;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA:
      return ERROR_REGISTRY_CORRUPT;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return ERROR_ACCESS_DENIED;
    case SQLITE_CANTOPEN:
      return ERROR_CANTOPEN;
    case SQLITE_FULL:
      return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
      return ERROR_OUTOFMEMORY;
    case SQLITE_TOOBIG:
      return ERROR_INVALID_PARAMETER;
    default:
      return ERROR_REGISTRY_IO_FAILED;
  }
}

// Creates the folders leading to the file.
int MakeParents(const std::string& path) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (path[i] != '/') continue;
    std::string dir = path.substr(0, i);
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

// SQLite's own errno after a failed open is that of its last fallback
// attempt; ask the file system what stands in the way.
LONG WhyCannotOpen(const std::string& path) {
  if (access(path.c_str(), F_OK) == 0) {
    return access(path.c_str(), R_OK | W_OK) == 0 ? ERROR_CANTOPEN : MapErrno(errno);
  }
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  return access(dir.c_str(), W_OK | X_OK) == 0 ? ERROR_CANTOPEN : MapErrno(errno);
}

void CloseLocked(Connection& c, bool finalize) {
  if (finalize) {
    for (auto& [sql, stmt] : c.statements) sqlite3_finalize(stmt);
    if (c.db != nullptr) sqlite3_close_v2(c.db);
  }
  // After fork the parent's connection is abandoned, not closed: closing it
  // here would drop locks the parent still holds.
  c.statements.clear();
  c.db = nullptr;
  c.classesRoot = 0;
  c.cache.Clear();
  ForgetCounter(c.counter);
  c.seenDataVersion = -1;
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

int QueryInt(sqlite3* db, const char* sql, std::int64_t* out) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      *out = sqlite3_column_int64(s, 0);
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(s);
  return rc;
}

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name BLOB NOT NULL,
  fold BLOB NOT NULL,
  ancestry TEXT NOT NULL,
  mtime INTEGER NOT NULL,
  UNIQUE(parent, fold));
CREATE INDEX IF NOT EXISTS keys_ancestry ON keys(ancestry);
CREATE TABLE IF NOT EXISTS vals(
  id INTEGER PRIMARY KEY,
  key INTEGER NOT NULL,
  name BLOB NOT NULL,
  fold BLOB NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, fold));
CREATE INDEX IF NOT EXISTS vals_order ON vals(key, id);
CREATE TABLE IF NOT EXISTS changes(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  key INTEGER NOT NULL,
  ancestry TEXT NOT NULL,
  kind INTEGER NOT NULL,
  stamp INTEGER NOT NULL);
)sql";

// Inside a write transaction: tables, root keys, version marks.
int CreateSchema(sqlite3* db) {
  int rc = Exec(db, kSchema);
  if (rc != SQLITE_OK) return rc;
  static const char16_t* const kRoots[] = {u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER", u"HKEY_USERS",
                                           u"HKEY_CURRENT_CONFIG"};
  sqlite3_stmt* s = nullptr;
  rc = sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO keys(id,parent,name,fold,ancestry,mtime) VALUES(?,0,?,?,?,?)", -1,
                          &s, nullptr);
  for (int i = 0; rc == SQLITE_OK && i < 4; ++i) {
    std::u16string_view name = kRoots[i];
    std::string_view bytes = NameBytes(name);
    std::string folded = FoldedKey(name);
    std::string ancestry(1, '/');
    ancestry.append(std::to_string(i + 1)).push_back('/');
    sqlite3_bind_int64(s, 1, i + 1);
    sqlite3_bind_blob(s, 2, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(s, 3, folded.data(), static_cast<int>(folded.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s, 4, ancestry.data(), static_cast<int>(ancestry.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 5, NowFileTime());
    rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
    sqlite3_reset(s);
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_OK) return rc;
  std::string marks = "PRAGMA application_id=" + std::to_string(kApplicationId) +
                      "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
  return Exec(db, marks.c_str());
}

// Opens c.path; on failure returns the Win32 error and has reported it.
LONG OpenLocked(Connection& c) {
  c.path = vel::RegistryPath();
  if (int e = MakeParents(c.path)) {
    LONG err = MapErrno(e);
    Report(c, std::string("cannot create its folder: ") + std::strerror(e), err);
    return err;
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(c.path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    LONG err = (rc & 0xFF) == SQLITE_CANTOPEN ? WhyCannotOpen(c.path) : MapResult(rc);
    Report(c, std::string("cannot open: ") + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)), err);
    sqlite3_close_v2(db);
    return err;
  }
  sqlite3_busy_timeout(db, c.busyMs);
  std::int64_t appId = 0;
  std::int64_t version = 0;
  std::int64_t tables = 0;
  // The first read finds out whether the file is a database at all.
  rc = QueryInt(db, "PRAGMA application_id", &appId);
  if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA user_version", &version);
  if (rc == SQLITE_OK) rc = QueryInt(db, "SELECT count(*) FROM sqlite_schema", &tables);
  if (rc == SQLITE_OK && ((tables != 0 && appId != kApplicationId) || version > kSchemaVersion)) {
    Report(c, version > kSchemaVersion ? "made by a newer version" : "not a registry store", ERROR_REGISTRY_CORRUPT);
    sqlite3_close_v2(db);
    return ERROR_REGISTRY_CORRUPT;
  }
  if (rc == SQLITE_OK) rc = Exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;");
  if (rc == SQLITE_OK && version != kSchemaVersion) {
    rc = Exec(db, "BEGIN IMMEDIATE");
    if (rc == SQLITE_OK) {
      rc = CreateSchema(db);
      rc = rc == SQLITE_OK ? Exec(db, "COMMIT") : rc;
      if (rc != SQLITE_OK) Exec(db, "ROLLBACK");
    }
  }
  if (rc != SQLITE_OK) {
    LONG err = (rc & 0xFF) == SQLITE_CANTOPEN ? WhyCannotOpen(c.path) : MapResult(rc);
    if (err != ERROR_BUSY) Report(c, sqlite3_errmsg(db), err);
    sqlite3_close_v2(db);
    return err;
  }
  c.db = db;
  c.forks = ForkCount();
  MapCounter(c.counter, c.path);
  c.seenGeneration = c.counter.value != nullptr ? c.counter.value->load(std::memory_order_acquire) : 0;
  c.checkedMs = 0;
  return ERROR_SUCCESS;
}

}  // namespace

Db::Db() : lock_(Conn().mutex), error_(ERROR_SUCCESS) {
  Connection& c = Conn();
  const std::thread::id self = std::this_thread::get_id();
  c.txDone.wait(lock_, [&] { return !c.txOpen || c.txOwner == self; });
  if (c.db != nullptr && c.forks != ForkCount()) {
    // A forked child has a connection of its own, and no transaction.
    CloseLocked(c, false);
    c.txOpen = false;
  }
  if (c.db == nullptr) error_ = OpenLocked(c);
  if (error_ == ERROR_SUCCESS) Revalidate();
}

void Db::Revalidate() {
  Connection& c = Conn();
  bool checkVersion = c.counter.value == nullptr;
  if (c.counter.value != nullptr) {
    const std::uint64_t generation = c.counter.value->load(std::memory_order_acquire);
    if (generation != c.seenGeneration) {
      c.cache.Clear();
      c.seenGeneration = generation;
    }
    const std::int64_t now = CoarseMs();
    if (now - c.checkedMs >= kDataVersionCheckMs) {
      c.checkedMs = now;
      checkVersion = true;
    }
  }
  if (checkVersion) {
    const std::int64_t version = DataVersion();
    if (version != c.seenDataVersion) {
      c.cache.Clear();
      c.seenDataVersion = version;
    }
  }
  if (c.cache.Size() > kMostCachedItems) c.cache.Clear();
}

bool Db::StoreChangedSince(std::uint64_t* seenGeneration, std::int64_t* seenVersion, std::int64_t* checkedMs) {
  Connection& c = Conn();
  bool changed = false;
  bool checkVersion = c.counter.value == nullptr;
  if (c.counter.value != nullptr) {
    const std::uint64_t generation = c.counter.value->load(std::memory_order_acquire);
    changed = generation != *seenGeneration;
    *seenGeneration = generation;
    const std::int64_t now = CoarseMs();
    if (now - *checkedMs >= kDataVersionCheckMs) {
      *checkedMs = now;
      checkVersion = true;
    }
  }
  if (checkVersion) {
    const std::int64_t version = DataVersion();
    changed = changed || version != *seenVersion;
    *seenVersion = version;
  }
  return changed;
}

bool Db::MovedDuringCall() {
  Connection& c = Conn();
  bool moved;
  if (c.counter.value != nullptr) {
    moved = c.counter.value->load(std::memory_order_acquire) != c.seenGeneration;
  } else {
    moved = DataVersion() != c.seenDataVersion;
  }
  if (moved) Revalidate();
  return moved;
}

void Db::WriteBegun() { Conn().changesAtBegin = sqlite3_total_changes64(Conn().db); }

bool Db::Wrote() const { return sqlite3_total_changes64(Conn().db) != Conn().changesAtBegin; }

void Db::Committing() {
  // Bumped before the commit too: a reader that sees the new rows has seen
  // this bump first, so it knows to drop what it took from the old ones.
  Connection& c = Conn();
  if (Wrote() && c.counter.value != nullptr && c.counter.writable)
    c.counter.value->fetch_add(1, std::memory_order_acq_rel);
}

void Db::Changed(bool committed) {
  Connection& c = Conn();
  c.cache.Clear();
  if (!committed || !Wrote() || c.counter.value == nullptr || !c.counter.writable) return;
  c.seenGeneration = c.counter.value->fetch_add(1, std::memory_order_acq_rel) + 1;
}

bool Db::CachedChild(std::int64_t parent, std::string_view folded, std::int64_t* child) {
  const Cache& cache = Conn().cache;
  auto it = cache.children.find(ItemKey(parent, folded));
  if (it == cache.children.end()) return false;
  *child = it->second;
  return true;
}

void Db::CacheChild(std::int64_t parent, std::string_view folded, std::int64_t child) {
  Conn().cache.children.insert_or_assign(ItemKey(parent, folded), child);
}

bool Db::CachedPath(std::int64_t start, std::string_view foldedPath, std::int64_t* key) {
  const Cache& cache = Conn().cache;
  auto it = cache.paths.find(ItemKey(start, foldedPath));
  if (it == cache.paths.end()) return false;
  *key = it->second;
  return true;
}

void Db::CachePath(std::int64_t start, std::string_view foldedPath, std::int64_t key) {
  Conn().cache.paths.insert_or_assign(ItemKey(start, foldedPath), key);
}

bool Db::CachedAncestry(std::int64_t key, std::string* ancestry) {
  const Cache& cache = Conn().cache;
  auto it = cache.ancestry.find(key);
  if (it == cache.ancestry.end()) return false;
  *ancestry = it->second;
  return true;
}

void Db::CacheAncestry(std::int64_t key, std::string_view ancestry) {
  Conn().cache.ancestry.insert_or_assign(key, std::string(ancestry));
}

const CachedValue* Db::CachedValueOf(std::int64_t key, std::string_view folded) {
  const Cache& cache = Conn().cache;
  auto it = cache.values.find(ItemKey(key, folded));
  return it == cache.values.end() ? nullptr : &it->second;
}

void Db::CacheValue(std::int64_t key, std::string_view folded, CachedValue value) {
  Conn().cache.values.insert_or_assign(ItemKey(key, folded), std::move(value));
}

const std::vector<CachedEntry>* Db::CachedList(ListKind kind, std::int64_t key) {
  const Cache& cache = Conn().cache;
  const auto& lists = kind == ListKind::kSubkeys ? cache.subkeyLists : cache.valueLists;
  auto it = lists.find(key);
  return it == lists.end() ? nullptr : &it->second;
}

const std::vector<CachedEntry>* Db::CacheList(ListKind kind, std::int64_t key, std::vector<CachedEntry> entries) {
  Cache& cache = Conn().cache;
  auto& lists = kind == ListKind::kSubkeys ? cache.subkeyLists : cache.valueLists;
  return &lists.insert_or_assign(key, std::move(entries)).first->second;
}

bool Db::CachedMtime(std::int64_t key, std::int64_t* mtime) {
  const Cache& cache = Conn().cache;
  auto it = cache.mtimes.find(key);
  if (it == cache.mtimes.end()) return false;
  *mtime = it->second;
  return true;
}

void Db::CacheMtime(std::int64_t key, std::int64_t mtime) { Conn().cache.mtimes.insert_or_assign(key, mtime); }

bool Db::CachedNewestChange(std::int64_t* seq) {
  const std::int64_t cached = Conn().cache.newestChange;
  if (cached < 0) return false;
  *seq = cached;
  return true;
}

void Db::CacheNewestChange(std::int64_t seq) { Conn().cache.newestChange = seq; }

Db::~Db() = default;

sqlite3* Db::handle() const { return Conn().db; }

sqlite3_stmt* Db::Prepare(const char* sql) {
  Connection& c = Conn();
  if (c.db == nullptr) return nullptr;
  auto it = c.statements.find(sql);
  if (it != c.statements.end()) return it->second;
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v3(c.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
  if (rc != SQLITE_OK) {
    Fail(rc);
    return nullptr;
  }
  c.statements.emplace(sql, s);
  return s;
}

LONG Db::Fail(int rc) {
  Connection& c = Conn();
  LONG err = MapResult(rc);
  if (err == ERROR_REGISTRY_CORRUPT || err == ERROR_REGISTRY_IO_FAILED || err == ERROR_DISK_FULL) {
    Report(c, c.db != nullptr ? sqlite3_errmsg(c.db) : sqlite3_errstr(rc), err);
  }
  if (error_ == ERROR_SUCCESS) error_ = err;
  return err;
}

std::int64_t Db::DataVersion() {
  Stmt s(*this, "PRAGMA data_version");
  return s.ok() && s.Step() == SQLITE_ROW ? s.ColInt(0) : -1;
}

std::int64_t Db::ClassesRoot(LONG* error) {
  Connection& c = Conn();
  if (c.classesRoot != 0) {
    std::string ancestry;
    LONG e = KeyAncestry(*this, c.classesRoot, &ancestry);
    if (e == ERROR_SUCCESS) return c.classesRoot;
    if (e != ERROR_KEY_DELETED) return *error = e, 0;
    c.classesRoot = 0;
  }
  static const std::u16string_view kPath[] = {u"SOFTWARE", u"Classes"};
  // Usually present: look without taking the write lock first.
  std::int64_t id = kRootLocalMachine;
  for (std::u16string_view name : kPath) {
    LONG e = ERROR_SUCCESS;
    id = FindChild(*this, id, FoldedKey(name), &e);
    if (e != ERROR_SUCCESS) return *error = e, 0;
    if (id == 0) break;
  }
  if (id == 0) {
    Tx tx(*this);
    if (LONG e = tx.Begin()) return *error = e, 0;
    id = kRootLocalMachine;
    std::string ancestry = "/1/";
    for (std::u16string_view name : kPath) {
      LONG e = ERROR_SUCCESS;
      std::int64_t child = FindChild(*this, id, FoldedKey(name), &e);
      if (e == ERROR_SUCCESS && child == 0) child = AddChild(*this, id, ancestry, name, &e);
      if (e != ERROR_SUCCESS) return *error = e, 0;
      id = child;
      ancestry += std::to_string(child) + "/";
    }
    if (LONG e = tx.Commit()) return *error = e, 0;
  }
  c.classesRoot = id;
  return id;
}

std::int64_t FindChild(Db& db, std::int64_t parent, std::string_view folded, LONG* error) {
  std::int64_t child = 0;
  if (db.CachedChild(parent, folded, &child)) return child;
  Stmt s(db, "SELECT id FROM keys WHERE parent=? AND fold=?");
  if (!s.ok()) return *error = db.error(), 0;
  int rc = s.Int(1, parent).Blob(2, folded).Step();
  if (rc == SQLITE_ROW) {
    child = s.ColInt(0);
  } else if (rc != SQLITE_DONE) {
    *error = db.Fail(rc);
    return 0;
  }
  db.CacheChild(parent, folded, child);
  return child;
}

LONG KeyAncestry(Db& db, std::int64_t key, std::string* ancestry) {
  if (db.CachedAncestry(key, ancestry)) return ancestry->empty() ? ERROR_KEY_DELETED : ERROR_SUCCESS;
  Stmt s(db, "SELECT ancestry FROM keys WHERE id=?");
  if (!s.ok()) return db.error();
  int rc = s.Int(1, key).Step();
  if (rc == SQLITE_ROW) {
    *ancestry = s.ColText(0);
    db.CacheAncestry(key, *ancestry);
    return ERROR_SUCCESS;
  }
  if (rc != SQLITE_DONE) return db.Fail(rc);
  db.CacheAncestry(key, "");
  return ERROR_KEY_DELETED;
}

std::int64_t AddChild(Db& db, std::int64_t parent, std::string_view parentAncestry, std::u16string_view name,
                      LONG* error) {
  std::int64_t now = NowFileTime();
  {
    Stmt ins(db, "INSERT INTO keys(parent,name,fold,ancestry,mtime) VALUES(?,?,?,'',?)");
    if (!ins.ok()) return *error = db.error(), 0;
    std::string folded = FoldedKey(name);
    int rc = ins.Int(1, parent).Blob(2, NameBytes(name)).Blob(3, folded).Int(4, now).Step();
    if (rc != SQLITE_DONE) return *error = db.Fail(rc), 0;
  }
  std::int64_t child = sqlite3_last_insert_rowid(db.handle());
  std::string ancestry = std::string(parentAncestry) + std::to_string(child) + "/";
  Stmt up(db, "UPDATE keys SET ancestry=? WHERE id=?");
  if (!up.ok()) return *error = db.error(), 0;
  int rc = up.Text(1, ancestry).Int(2, child).Step();
  if (rc != SQLITE_DONE) return *error = db.Fail(rc), 0;
  if (LONG e = Touch(db, parent, parentAncestry, kChangeName)) return *error = e, 0;
  return child;
}

LONG Touch(Db& db, std::int64_t key, std::string_view ancestry, int kind) {
  Stmt s(db, "UPDATE keys SET mtime=? WHERE id=?");
  if (!s.ok()) return db.error();
  int rc = s.Int(1, NowFileTime()).Int(2, key).Step();
  if (rc != SQLITE_DONE) return db.Fail(rc);
  return LogChange(db, key, ancestry, kind);
}

Stmt::~Stmt() {
  if (s_ != nullptr) {
    sqlite3_reset(s_);
    sqlite3_clear_bindings(s_);
  }
}

Stmt& Stmt::Int(int index, std::int64_t value) {
  sqlite3_bind_int64(s_, index, value);
  return *this;
}

Stmt& Stmt::Blob(int index, const void* data, std::size_t size) {
  // A null pointer would bind SQL NULL; an empty name or value is a blob.
  static const char kEmpty = 0;
  sqlite3_bind_blob64(s_, index, size == 0 ? &kEmpty : data, size, SQLITE_STATIC);
  return *this;
}

Stmt& Stmt::Text(int index, std::string_view text) {
  sqlite3_bind_text64(s_, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
  return *this;
}

int Stmt::Step() { return sqlite3_step(s_); }

std::int64_t Stmt::ColInt(int column) const { return sqlite3_column_int64(s_, column); }

std::string_view Stmt::ColBytes(int column) const {
  const void* p = sqlite3_column_blob(s_, column);
  int n = sqlite3_column_bytes(s_, column);
  return p == nullptr ? std::string_view() : std::string_view(static_cast<const char*>(p), static_cast<std::size_t>(n));
}

std::u16string Stmt::ColName(int column) const {
  std::string_view b = ColBytes(column);
  std::u16string out(b.size() / 2, u'\0');
  if (!out.empty()) std::memcpy(out.data(), b.data(), out.size() * 2);
  return out;
}

std::string Stmt::ColText(int column) const {
  const unsigned char* p = sqlite3_column_text(s_, column);
  return p == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(p));
}

Tx::~Tx() {
  if (!open_) return;
  // Inside a RegistryTransaction only this call's own changes are undone.
  Exec(db_.handle(), nested_ ? "ROLLBACK TO vel_call; RELEASE vel_call" : "ROLLBACK");
  db_.Changed(false);  // what was read inside may be gone
}

LONG Tx::Begin() {
  if (open_) return ERROR_SUCCESS;
  nested_ = Conn().txOpen;  // this thread's: any other thread waited in Db()
  Stmt s(db_, nested_ ? "SAVEPOINT vel_call" : "BEGIN IMMEDIATE");
  if (!s.ok()) return db_.error();
  int rc = s.Step();
  if (rc != SQLITE_DONE) return db_.Fail(rc);
  open_ = true;
  if (!nested_) {
    db_.WriteBegun();
    // Waiting for the write lock may have let another process commit.
    db_.Revalidate();
  }
  return ERROR_SUCCESS;
}

LONG Tx::Commit() {
  Stmt s(db_, nested_ ? "RELEASE vel_call" : "COMMIT");
  if (!s.ok()) return db_.error();
  if (!nested_) db_.Committing();
  int rc = s.Step();
  if (rc != SQLITE_DONE) return db_.Fail(rc);  // the destructor rolls back
  open_ = false;
  // Changes inside a RegistryTransaction are seen when it commits.
  db_.Changed(!nested_);
  if (!nested_ && db_.Wrote()) WakeWaiters();
  return ERROR_SUCCESS;
}

std::string_view NameBytes(std::u16string_view name) {
  return std::string_view(reinterpret_cast<const char*>(name.data()), name.size() * 2);
}

std::string FoldedKey(std::u16string_view name) {
  std::string out;
  out.resize(name.size() * 2);
  for (std::size_t i = 0; i < name.size(); ++i) {
    char16_t f = vel::FoldCase(name[i]);
    out[2 * i] = static_cast<char>(f >> 8);
    out[2 * i + 1] = static_cast<char>(f & 0xFF);
  }
  return out;
}

std::int64_t NowFileTime() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 10'000'000 + ts.tv_nsec / 100 + 116'444'736'000'000'000LL;
}

std::int64_t NowMs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

LONG LogChange(Db& db, std::int64_t key, std::string_view ancestry, int kind) {
  Connection& c = Conn();
  std::int64_t now = NowMs();
  Stmt s(db, "INSERT INTO changes(key,ancestry,kind,stamp) VALUES(?,?,?,?)");
  if (!s.ok()) return db.error();
  int rc = s.Int(1, key).Text(2, ancestry).Int(3, kind).Int(4, now).Step();
  if (rc != SQLITE_DONE) return db.Fail(rc);
  if (now - c.lastTrimMs > 10'000) {
    c.lastTrimMs = now;
    Stmt trim(db, "DELETE FROM changes WHERE stamp<?");
    if (!trim.ok()) return db.error();
    rc = trim.Int(1, now - kChangeLogKeepMs).Step();
    if (rc != SQLITE_DONE) return db.Fail(rc);
  }
  return ERROR_SUCCESS;
}

}  // namespace vel::reg

namespace vel {

namespace {

// The published epoch when it still holds, else 0. Every field is read
// between two reads of the epoch: a record republished meanwhile is not used.
std::uint64_t QuickImageEpoch() {
  reg::QuickEpoch& q = reg::g_quickEpoch;
  const std::uint64_t epoch = q.epoch.load(std::memory_order_acquire);
  if (epoch == 0) return 0;
  const std::atomic<std::uint64_t>* counter = q.counter.load(std::memory_order_acquire);
  const std::uint64_t generation = q.generation.load(std::memory_order_acquire);
  const std::int64_t untilMs = q.untilMs.load(std::memory_order_acquire);
  const unsigned forks = q.forks.load(std::memory_order_acquire);
  if (q.epoch.load(std::memory_order_acquire) != epoch) return 0;
  if (counter == nullptr || counter->load(std::memory_order_acquire) != generation) return 0;
  if (reg::CoarseMs() >= untilMs || reg::ForkCount() != forks) return 0;
  return epoch;
}

}  // namespace

std::uint64_t RegistryImageEpoch() {
  // Threads that ask for every file they read must not all queue on the
  // connection's lock to learn that nothing changed.
  if (const std::uint64_t epoch = QuickImageEpoch()) return epoch;
  reg::Db db;
  reg::Connection& c = reg::Conn();
  // A store that cannot be read gives a new number every time: nothing
  // derived from it is kept.
  if (db.error() != ERROR_SUCCESS) {
    ++c.cache.epoch;
    return c.cache.epoch;
  }
  // Db has just checked the image as RegistryImageEpoch always did: the
  // counter read now, SQLite's data version at most kDataVersionCheckMs ago.
  reg::QuickEpoch& q = reg::g_quickEpoch;
  q.epoch.store(0, std::memory_order_release);
  if (c.counter.value != nullptr && !c.txOpen) {
    q.counter.store(c.counter.value, std::memory_order_release);
    q.generation.store(c.seenGeneration, std::memory_order_release);
    q.untilMs.store(c.checkedMs + reg::kDataVersionCheckMs, std::memory_order_release);
    q.forks.store(c.forks, std::memory_order_release);
    q.epoch.store(c.cache.epoch, std::memory_order_release);
  }
  return c.cache.epoch;
}

void RegistryReset() {
  reg::CloseAllHandles();
  reg::Connection& c = reg::Conn();
  std::lock_guard<std::mutex> lock(c.mutex);
  reg::CloseLocked(c, c.forks == reg::ForkCount());
  c.reported.clear();
}

RegistryTransaction::~RegistryTransaction() { Rollback(); }

LONG RegistryTransaction::Begin(int waitMilliseconds) {
  reg::Db db;
  if (db.error() != ERROR_SUCCESS) return db.error();
  reg::Connection& c = reg::Conn();
  if (c.txOpen) return ERROR_INVALID_FUNCTION;  // one at a time per thread
  // Transactions of other processes queue on the store's write lock.
  sqlite3_busy_timeout(c.db, waitMilliseconds);
  const int rc = reg::Exec(c.db, "BEGIN IMMEDIATE");
  sqlite3_busy_timeout(c.db, c.busyMs);
  if (rc != SQLITE_OK) return db.Fail(rc);
  db.WriteBegun();
  db.Revalidate();
  c.txOpen = true;
  c.txOwner = std::this_thread::get_id();
  open_ = true;
  return ERROR_SUCCESS;
}

LONG RegistryTransaction::Commit() {
  if (!open_) return ERROR_INVALID_FUNCTION;
  LONG result = ERROR_SUCCESS;
  bool wrote = false;
  {
    reg::Db db;
    reg::Connection& c = reg::Conn();
    wrote = db.Wrote();
    db.Committing();
    const int rc = reg::Exec(c.db, "COMMIT");
    if (rc != SQLITE_OK) {
      result = db.Fail(rc);
      reg::Exec(c.db, "ROLLBACK");
    }
    db.Changed(result == ERROR_SUCCESS);
    if (result == ERROR_SUCCESS && wrote) {
      // A transaction writes many keys at once (a registration): folded into
      // the store file now, the log is empty, and the next process to open the
      // store has nothing to replay. Only when no other connection is using
      // the log at this moment: it never waits for one.
      sqlite3_busy_timeout(c.db, 0);
      sqlite3_wal_checkpoint_v2(c.db, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
      sqlite3_busy_timeout(c.db, c.busyMs);
    }
    c.txOpen = false;
    open_ = false;
  }
  reg::Conn().txDone.notify_all();
  if (result == ERROR_SUCCESS && wrote) reg::WakeWaiters();
  return result;
}

void RegistryTransaction::Rollback() noexcept {
  if (!open_) return;
  {
    reg::Db db;
    reg::Connection& c = reg::Conn();
    if (c.db != nullptr) reg::Exec(c.db, "ROLLBACK");
    db.Changed(false);
    c.txOpen = false;
    open_ = false;
  }
  reg::Conn().txDone.notify_all();
}

void RegistrySetBusyTimeout(int milliseconds) {
  reg::Connection& c = reg::Conn();
  std::lock_guard<std::mutex> lock(c.mutex);
  c.busyMs = milliseconds;
  if (c.db != nullptr) sqlite3_busy_timeout(c.db, milliseconds);
}

std::string RegistryPath() {
  const char* explicitPath = std::getenv("VEL_REGISTRY");
  if (explicitPath != nullptr && *explicitPath != 0) return explicitPath;
  std::string base;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == 0) {
      passwd pw{};
      passwd* found = nullptr;
      char buf[4096];
      if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr) home = found->pw_dir;
    }
    base = std::string(home != nullptr ? home : "") + "/.local/share";
  }
  return base + "/velitems/registry.db";
}

}  // namespace vel
