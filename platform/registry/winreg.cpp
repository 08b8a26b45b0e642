// The Reg* functions over the store: keys, values, enumeration, deletion.
#include "platform/registry/winreg.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry/handles.h"
#include "platform/registry/store_db.h"
#include "platform/text.h"

namespace vel::reg {
namespace {

constexpr std::size_t kMaxKeyNameChars = 255;
constexpr std::size_t kMaxValueNameChars = 16383;

// Components of a subkey path; empty components (doubled or trailing
// separators) are skipped.
std::vector<std::u16string_view> SplitPath(LPCWSTR subKey) {
  std::vector<std::u16string_view> parts;
  std::u16string_view rest(subKey != nullptr ? subKey : u"", U16Len(subKey));
  while (!rest.empty()) {
    std::size_t cut = rest.find(u'\\');
    std::u16string_view part = rest.substr(0, cut);
    if (!part.empty()) parts.push_back(part);
    if (cut == std::u16string_view::npos) break;
    rest.remove_prefix(cut + 1);
  }
  return parts;
}

// A read answers from the in-process image and from the store. When another
// process committed in between, a "missing" answer may mix the two (a key id
// from the image that the store no longer has): it is read again, from the
// store as it is now. Other answers are true of the store before that commit.
template <class Read>
LONG Settled(Db& db, Read read) {
  LONG e = read();
  if ((e == ERROR_FILE_NOT_FOUND || e == ERROR_KEY_DELETED || e == ERROR_NO_MORE_ITEMS) && db.MovedDuringCall())
    e = read();
  return e;
}

// Follows existing subkeys from `start`; ERROR_FILE_NOT_FOUND when one is
// missing, ERROR_KEY_DELETED when `start` itself is gone.
LONG Walk(Db& db, std::int64_t start, const std::vector<std::u16string_view>& parts, std::int64_t* out) {
  std::string foldedPath;
  if (!parts.empty()) {
    for (std::u16string_view part : parts) foldedPath += FoldedKey(part) + std::string("\0\\", 2);
    if (db.CachedPath(start, foldedPath, out)) return ERROR_SUCCESS;
  }
  std::int64_t id = start;
  for (std::u16string_view part : parts) {
    LONG error = ERROR_SUCCESS;
    std::int64_t child = FindChild(db, id, FoldedKey(part), &error);
    if (error != ERROR_SUCCESS) return error;
    if (child == 0) {
      if (id == start) {
        std::string ancestry;
        if (LONG e = KeyAncestry(db, start, &ancestry)) return e;
      }
      return ERROR_FILE_NOT_FOUND;
    }
    id = child;
  }
  if (parts.empty()) {
    std::string ancestry;
    if (LONG e = KeyAncestry(db, start, &ancestry)) return e;
  } else {
    db.CachePath(start, foldedPath, id);
  }
  *out = id;
  return ERROR_SUCCESS;
}

// After a lookup found nothing: missing item, or was the key deleted?
LONG MissingIn(Db& db, std::int64_t key, LONG missing) {
  std::string ancestry;
  LONG e = KeyAncestry(db, key, &ancestry);
  return e == ERROR_SUCCESS ? missing : e;
}

std::string ParentAncestry(const std::string& ancestry) {
  // "/1/7/42/" -> "/1/7/"
  std::size_t cut = ancestry.rfind('/', ancestry.size() - 2);
  return ancestry.substr(0, cut + 1);
}

// Upper bound of the ancestry texts strictly below `ancestry`.
// A key's subkeys (by folded name) or values (in creation order), read whole
// into the in-process image on first use.
LONG ListOf(Db& db, ListKind kind, std::int64_t key, const std::vector<CachedEntry>** out) {
  if ((*out = db.CachedList(kind, key)) != nullptr) return ERROR_SUCCESS;
  const bool subkeys = kind == ListKind::kSubkeys;
  Stmt s(db, subkeys ? "SELECT name,mtime FROM keys WHERE parent=? ORDER BY fold"
                     : "SELECT name,type,data FROM vals WHERE key=? ORDER BY id");
  if (!s.ok()) return db.error();
  s.Int(1, key);
  std::vector<CachedEntry> entries;
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    CachedEntry e;
    e.name = s.ColName(0);
    if (subkeys) {
      e.mtime = s.ColInt(1);
    } else {
      e.type = static_cast<DWORD>(s.ColInt(1));
      e.data = std::string(s.ColBytes(2));
    }
    entries.push_back(std::move(e));
  }
  if (rc != SQLITE_DONE) return db.Fail(rc);
  *out = db.CacheList(kind, key, std::move(entries));
  return ERROR_SUCCESS;
}

std::string SubtreeEnd(const std::string& ancestry) {
  std::string end = ancestry;
  end.back() = '0';  // the character after '/'
  return end;
}

// Inside a write transaction: deletes every key strictly below `key` with
// their values. *any tells whether there was one.
LONG DeleteBelow(Db& db, const std::string& ancestry, bool* any) {
  std::string end = SubtreeEnd(ancestry);
  {
    Stmt log(db,
             "INSERT INTO changes(key,ancestry,kind,stamp) SELECT id,ancestry,?,? FROM keys "
             "WHERE ancestry>? AND ancestry<?");
    if (!log.ok()) return db.error();
    int rc = log.Int(1, kChangeDeleted).Int(2, NowMs()).Text(3, ancestry)
                 .Text(4, end).Step();
    if (rc != SQLITE_DONE) return db.Fail(rc);
  }
  {
    Stmt vals(db, "DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE ancestry>? AND ancestry<?)");
    if (!vals.ok()) return db.error();
    int rc = vals.Text(1, ancestry).Text(2, end).Step();
    if (rc != SQLITE_DONE) return db.Fail(rc);
  }
  Stmt keys(db, "DELETE FROM keys WHERE ancestry>? AND ancestry<?");
  if (!keys.ok()) return db.error();
  int rc = keys.Text(1, ancestry).Text(2, end).Step();
  if (rc != SQLITE_DONE) return db.Fail(rc);
  *any = sqlite3_changes(db.handle()) > 0;
  return ERROR_SUCCESS;
}

// Inside a write transaction: deletes a key that has no subkeys left.
LONG DeleteOne(Db& db, std::int64_t key, const std::string& ancestry) {
  {
    Stmt vals(db, "DELETE FROM vals WHERE key=?");
    if (!vals.ok()) return db.error();
    int rc = vals.Int(1, key).Step();
    if (rc != SQLITE_DONE) return db.Fail(rc);
  }
  {
    Stmt del(db, "DELETE FROM keys WHERE id=?");
    if (!del.ok()) return db.error();
    int rc = del.Int(1, key).Step();
    if (rc != SQLITE_DONE) return db.Fail(rc);
  }
  if (LONG e = LogChange(db, key, ancestry, kChangeDeleted)) return e;
  std::string parentAncestry = ParentAncestry(ancestry);
  std::size_t start = parentAncestry.rfind('/', parentAncestry.size() - 2) + 1;
  std::int64_t parent = std::stoll(parentAncestry.substr(start));
  return Touch(db, parent, parentAncestry, kChangeName);
}

bool IsRoot(std::int64_t key) { return key >= kRootLocalMachine && key <= kRootCurrentConfig; }

void CopyName(const std::u16string& name, LPWSTR out, LPDWORD cch) {
  std::memcpy(out, name.data(), name.size() * sizeof(char16_t));
  out[name.size()] = u'\0';
  *cch = static_cast<DWORD>(name.size());
}

void PutFileTime(std::int64_t value, FILETIME* out) {
  if (out == nullptr) return;
  out->dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(value) & 0xFFFFFFFFu);
  out->dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(value) >> 32);
}

// The data-buffer protocol shared by RegQueryValueExW and RegEnumValueW.
LONG PutData(std::string_view data, LPBYTE out, LPDWORD cb) {
  if (cb == nullptr) return ERROR_SUCCESS;
  const auto size = static_cast<DWORD>(data.size());
  if (out != nullptr) {
    if (*cb < size) {
      *cb = size;
      return ERROR_MORE_DATA;
    }
    if (size != 0) std::memcpy(out, data.data(), size);
  }
  *cb = size;
  return ERROR_SUCCESS;
}

}  // namespace
}  // namespace vel::reg

using namespace vel::reg;

extern "C" {

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Db db;
  if (db.error()) return db.error();
  return Settled(db, [&]() -> LONG {
    KeyRef from;
    if (LONG e = ResolveKey(hKey, db, &from)) return e;
    std::int64_t key = 0;
    if (LONG e = Walk(db, from.key, SplitPath(lpSubKey), &key)) return e;
    std::int64_t changeSeq = 0;
    if (LONG e = NewestChange(db, &changeSeq)) return e;
    *phkResult = NewHandle(key, samDesired, changeSeq);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                        REGSAM samDesired, const SECURITY_ATTRIBUTES* lpSecurityAttributes, PHKEY phkResult,
                        LPDWORD lpdwDisposition) {
  if (phkResult == nullptr) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  std::vector<std::u16string_view> parts = SplitPath(lpSubKey);
  for (std::u16string_view part : parts) {
    if (part.size() > kMaxKeyNameChars) return ERROR_INVALID_PARAMETER;
  }
  Db db;
  if (db.error()) return db.error();
  KeyRef from;
  if (LONG e = ResolveKey(hKey, db, &from)) return e;
  std::int64_t key = 0;
  // Most calls find the key: look before taking the write lock.
  LONG found = Walk(db, from.key, parts, &key);
  DWORD disposition = REG_OPENED_EXISTING_KEY;
  if (found == ERROR_FILE_NOT_FOUND) {
    if (!(from.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    Tx tx(db);
    if (LONG e = tx.Begin()) return e;
    std::string ancestry;
    if (LONG e = KeyAncestry(db, from.key, &ancestry)) return e;
    key = from.key;
    for (std::u16string_view part : parts) {
      LONG error = ERROR_SUCCESS;
      std::int64_t child = FindChild(db, key, FoldedKey(part), &error);
      if (error == ERROR_SUCCESS && child == 0) {
        child = AddChild(db, key, ancestry, part, &error);
        disposition = REG_CREATED_NEW_KEY;
      }
      if (error != ERROR_SUCCESS) return error;
      key = child;
      ancestry += std::to_string(child) + "/";
    }
    if (LONG e = tx.Commit()) return e;
  } else if (found != ERROR_SUCCESS) {
    return found;
  }
  std::int64_t changeSeq = 0;
  if (LONG e = NewestChange(db, &changeSeq)) return e;
  *phkResult = NewHandle(key, samDesired, changeSeq);
  if (lpdwDisposition != nullptr) *lpdwDisposition = disposition;
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) { return CloseKeyHandle(hKey); }

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
  if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
  Db db;
  if (db.error()) return db.error();
  return Settled(db, [&]() -> LONG {
    KeyRef k;
    if (LONG e = ResolveKey(hKey, db, &k)) return e;
    if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    std::u16string_view name(lpValueName != nullptr ? lpValueName : u"", vel::U16Len(lpValueName));
    const std::string folded = FoldedKey(name);
    const CachedValue* cached = db.CachedValueOf(k.key, folded);
    if (cached == nullptr) {
      Stmt s(db, "SELECT type,data FROM vals WHERE key=? AND fold=?");
      if (!s.ok()) return db.error();
      int rc = s.Int(1, k.key).Blob(2, folded).Step();
      CachedValue value;
      if (rc == SQLITE_ROW) {
        value.exists = true;
        value.type = static_cast<DWORD>(s.ColInt(0));
        value.data = std::string(s.ColBytes(1));
      } else if (rc != SQLITE_DONE) {
        return db.Fail(rc);
      }
      db.CacheValue(k.key, folded, std::move(value));
      cached = db.CachedValueOf(k.key, folded);
    }
    if (!cached->exists) return MissingIn(db, k.key, ERROR_FILE_NOT_FOUND);
    if (lpType != nullptr) *lpType = cached->type;
    return PutData(cached->data, lpData, lpcbData);
  });
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
  if (lpData == nullptr && cbData != 0) return ERROR_INVALID_PARAMETER;
  std::u16string_view name(lpValueName != nullptr ? lpValueName : u"", vel::U16Len(lpValueName));
  if (name.size() > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  Db db;
  if (db.error()) return db.error();
  KeyRef k;
  if (LONG e = ResolveKey(hKey, db, &k)) return e;
  if (!(k.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Tx tx(db);
  if (LONG e = tx.Begin()) return e;
  std::string ancestry;
  if (LONG e = KeyAncestry(db, k.key, &ancestry)) return e;
  {
    // Replacing keeps the row, so the value keeps its place and first spelling.
    Stmt s(db,
           "INSERT INTO vals(key,name,fold,type,data) VALUES(?,?,?,?,?) "
           "ON CONFLICT(key,fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    if (!s.ok()) return db.error();
    std::string folded = FoldedKey(name);
    int rc = s.Int(1, k.key).Blob(2, NameBytes(name)).Blob(3, folded).Int(4, dwType).Blob(5, lpData, cbData).Step();
    if (rc != SQLITE_DONE) return db.Fail(rc);
  }
  if (LONG e = Touch(db, k.key, ancestry, kChangeLastSet)) return e;
  return tx.Commit();
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  std::u16string_view name(lpValueName != nullptr ? lpValueName : u"", vel::U16Len(lpValueName));
  Db db;
  if (db.error()) return db.error();
  KeyRef k;
  if (LONG e = ResolveKey(hKey, db, &k)) return e;
  if (!(k.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Tx tx(db);
  if (LONG e = tx.Begin()) return e;
  std::string ancestry;
  if (LONG e = KeyAncestry(db, k.key, &ancestry)) return e;
  {
    Stmt s(db, "DELETE FROM vals WHERE key=? AND fold=?");
    if (!s.ok()) return db.error();
    int rc = s.Int(1, k.key).Blob(2, FoldedKey(name)).Step();
    if (rc != SQLITE_DONE) return db.Fail(rc);
    if (sqlite3_changes(db.handle()) == 0) return ERROR_FILE_NOT_FOUND;
  }
  if (LONG e = Touch(db, k.key, ancestry, kChangeLastSet)) return e;
  return tx.Commit();
}

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
  Db db;
  if (db.error()) return db.error();
  KeyRef from;
  if (LONG e = ResolveKey(hKey, db, &from)) return e;
  Tx tx(db);
  if (LONG e = tx.Begin()) return e;
  std::int64_t key = 0;
  if (LONG e = Walk(db, from.key, SplitPath(lpSubKey), &key)) return e;
  if (IsRoot(key)) return ERROR_ACCESS_DENIED;
  {
    Stmt s(db, "SELECT 1 FROM keys WHERE parent=? LIMIT 1");
    if (!s.ok()) return db.error();
    int rc = s.Int(1, key).Step();
    if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;  // as the platform does for a key with subkeys
    if (rc != SQLITE_DONE) return db.Fail(rc);
  }
  std::string ancestry;
  if (LONG e = KeyAncestry(db, key, &ancestry)) return e;
  if (LONG e = DeleteOne(db, key, ancestry)) return e;
  return tx.Commit();
}

LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  Db db;
  if (db.error()) return db.error();
  KeyRef from;
  if (LONG e = ResolveKey(hKey, db, &from)) return e;
  // Without a subkey the key itself stays and loses its values.
  if (lpSubKey == nullptr && !(from.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  Tx tx(db);
  if (LONG e = tx.Begin()) return e;
  std::int64_t key = 0;
  if (LONG e = Walk(db, from.key, SplitPath(lpSubKey), &key)) return e;
  std::string ancestry;
  if (LONG e = KeyAncestry(db, key, &ancestry)) return e;
  bool hadSubkeys = false;
  if (LONG e = DeleteBelow(db, ancestry, &hadSubkeys)) return e;
  if (lpSubKey != nullptr && !IsRoot(key)) {
    if (LONG e = DeleteOne(db, key, ancestry)) return e;
  } else {
    Stmt vals(db, "DELETE FROM vals WHERE key=?");
    if (!vals.ok()) return db.error();
    int rc = vals.Int(1, key).Step();
    if (rc != SQLITE_DONE) return db.Fail(rc);
    bool hadValues = sqlite3_changes(db.handle()) > 0;
    if (hadValues) {
      if (LONG e = Touch(db, key, ancestry, kChangeLastSet)) return e;
    }
    if (hadSubkeys) {
      if (LONG e = Touch(db, key, ancestry, kChangeName)) return e;
    }
  }
  return tx.Commit();
}

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPWSTR lpClass,
                      LPDWORD lpcchClass, FILETIME* lpftLastWriteTime) {
  if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
  if (lpClass != nullptr && lpcchClass == nullptr) return ERROR_INVALID_PARAMETER;
  Db db;
  if (db.error()) return db.error();
  return Settled(db, [&]() -> LONG {
    KeyRef k;
    if (LONG e = ResolveKey(hKey, db, &k)) return e;
    if (!(k.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    const std::vector<CachedEntry>* list = nullptr;
    if (LONG e = ListOf(db, ListKind::kSubkeys, k.key, &list)) return e;
    if (dwIndex >= list->size()) return MissingIn(db, k.key, ERROR_NO_MORE_ITEMS);
    const CachedEntry& entry = (*list)[dwIndex];
    if (entry.name.size() >= *lpcchName) return ERROR_MORE_DATA;
    CopyName(entry.name, lpName, lpcchName);
    // Keys carry no class text.
    if (lpClass != nullptr && *lpcchClass > 0) lpClass[0] = u'\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    PutFileTime(entry.mtime, lpftLastWriteTime);
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                      LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
  if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
  Db db;
  if (db.error()) return db.error();
  return Settled(db, [&]() -> LONG {
    KeyRef k;
    if (LONG e = ResolveKey(hKey, db, &k)) return e;
    if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    const std::vector<CachedEntry>* list = nullptr;
    if (LONG e = ListOf(db, ListKind::kValues, k.key, &list)) return e;
    if (dwIndex >= list->size()) return MissingIn(db, k.key, ERROR_NO_MORE_ITEMS);
    const CachedEntry& entry = (*list)[dwIndex];
    if (entry.name.size() >= *lpcchValueName) return ERROR_MORE_DATA;
    CopyName(entry.name, lpValueName, lpcchValueName);
    if (lpType != nullptr) *lpType = entry.type;
    return PutData(entry.data, lpData, lpcbData);
  });
}

LSTATUS RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                         LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                         LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                         FILETIME* lpftLastWriteTime) {
  if (lpReserved != nullptr || (lpClass != nullptr && lpcchClass == nullptr)) return ERROR_INVALID_PARAMETER;
  Db db;
  if (db.error()) return db.error();
  return Settled(db, [&]() -> LONG {
    KeyRef k;
    if (LONG e = ResolveKey(hKey, db, &k)) return e;
    if (!(k.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    std::int64_t mtime = 0;
    if (!db.CachedMtime(k.key, &mtime)) {
      Stmt s(db, "SELECT mtime FROM keys WHERE id=?");
      if (!s.ok()) return db.error();
      int rc = s.Int(1, k.key).Step();
      if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
      if (rc != SQLITE_ROW) return db.Fail(rc);
      mtime = s.ColInt(0);
      db.CacheMtime(k.key, mtime);
    }
    const std::vector<CachedEntry>* subkeys = nullptr;
    const std::vector<CachedEntry>* values = nullptr;
    if (LONG e = ListOf(db, ListKind::kSubkeys, k.key, &subkeys)) return e;
    if (LONG e = ListOf(db, ListKind::kValues, k.key, &values)) return e;
    // Name lengths are in characters without the terminator.
    std::size_t maxSubKey = 0, maxValueName = 0, maxValue = 0;
    for (const CachedEntry& e : *subkeys) maxSubKey = std::max(maxSubKey, e.name.size());
    for (const CachedEntry& e : *values) {
      maxValueName = std::max(maxValueName, e.name.size());
      maxValue = std::max(maxValue, e.data.size());
    }
    if (lpClass != nullptr && *lpcchClass > 0) lpClass[0] = u'\0';
    if (lpcchClass != nullptr) *lpcchClass = 0;
    if (lpcSubKeys != nullptr) *lpcSubKeys = static_cast<DWORD>(subkeys->size());
    if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = static_cast<DWORD>(maxSubKey);
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
    if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(values->size());
    if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = static_cast<DWORD>(maxValueName);
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = static_cast<DWORD>(maxValue);
    if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
    PutFileTime(mtime, lpftLastWriteTime);
    return ERROR_SUCCESS;
  });
}

}  // extern "C"
