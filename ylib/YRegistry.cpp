#include "ylib/YRegistry.h"

#include <array>

#include "platform/com/hresult.h"
#include "platform/text.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"YRegistry";

struct Root {
  std::u16string_view name;
  HKEY key;
};

HKEY RootKey(std::u16string_view name) {
  const std::array<Root, 5> roots = {{{u"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                                      {u"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                                      {u"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
                                      {u"HKEY_USERS", HKEY_USERS},
                                      {u"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}}};
  for (const Root& r : roots) {
    if (r.name == name) return r.key;
  }
  return nullptr;
}

// The entries of a failed registry call: the system text, then the library's own.
CYException RegistryFailure(LONG error, const YErrorDef& what, std::u16string_view key, const YFrame& frame) {
  CYException x = YReportWin32(static_cast<DWORD>(error), frame);
  x.AddEntry(what.message, what.code, frame.source, frame.line, frame.function);
  x.AddDetail(u"Registry key", key);
  return x;
}

std::u16string ValuePath(std::u16string_view path, const char16_t* valueName) {
  std::u16string p(path);
  p += u'\\';
  if (valueName) p += valueName;
  return p;
}

}  // namespace

LONG CYRegistry::RegOpenRegKey(vel::UniqueHKey& out, std::u16string_view path, bool bThrow, bool bWrite, bool bCreate,
                               bool bUse64bitHive) {
  return YErrorFrame(VEL_FRAME(u"CYRegistry::RegOpenRegKey"), [&](const YFrame& frame) -> LONG {
    out.reset();
    const size_t firstSep = path.find(u'\\');
    const HKEY root = RootKey(path.substr(0, firstSep));
    if (!root) YThrow(kYErrInvalidParameter, frame);

    std::vector<std::u16string> parts;
    if (firstSep != std::u16string_view::npos) {
      std::u16string_view rest = path.substr(firstSep + 1);
      while (!rest.empty()) {
        const size_t sep = rest.find(u'\\');
        const std::u16string_view part = rest.substr(0, sep);
        if (!part.empty()) parts.emplace_back(part);
        rest = sep == std::u16string_view::npos ? std::u16string_view() : rest.substr(sep + 1);
      }
    }
    if (parts.empty()) parts.emplace_back();  // the root itself, as a key of its own

    const REGSAM base = KEY_READ | (bUse64bitHive ? KEY_WOW64_64KEY : 0);
    if (!bCreate) {
      // Opening needs no walk: the registry follows the whole path in one
      // call (empty components skipped alike), and this runs for every file.
      const std::u16string subKey(firstSep == std::u16string_view::npos ? std::u16string_view()
                                                                          : path.substr(firstSep + 1));
      const LONG rc = RegOpenKeyExW(root, subKey.c_str(), 0, base | (bWrite ? KEY_WRITE : 0), out.put());
      if (rc != ERROR_SUCCESS) {
        if (!bThrow) return rc;
        throw RegistryFailure(rc, kYErrOpenRegistryKey, path, frame);
      }
      return ERROR_SUCCESS;
    }
    vel::UniqueHKey current;
    for (size_t i = 0; i < parts.size(); ++i) {
      const bool last = i + 1 == parts.size();
      // A key can only be created below a handle that may create subkeys, so a
      // creating walk opens the keys on its way with that right as well.
      const REGSAM access = base | (bWrite && last ? KEY_WRITE : 0) | (bCreate && !last ? KEY_CREATE_SUB_KEY : 0);
      const HKEY parent = current ? current.get() : root;
      vel::UniqueHKey next;
      const LONG rc = bCreate ? RegCreateKeyExW(parent, parts[i].c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                                nullptr, next.put(), nullptr)
                              : RegOpenKeyExW(parent, parts[i].c_str(), 0, access, next.put());
      if (rc != ERROR_SUCCESS) {
        if (!bThrow && !bCreate) return rc;
        throw RegistryFailure(rc, kYErrOpenRegistryKey, path, frame);
      }
      current = std::move(next);  // the parent closes as soon as the child is open
    }
    out = std::move(current);
    return ERROR_SUCCESS;
  });
}

std::u16string CYRegistry::GetStringValue(std::u16string_view path, const char16_t* valueName,
                                          const char16_t* defaultValue, bool bUse64bitHive) {
  return YErrorFrame(VEL_FRAME(u"CYRegistry::GetStringValue"), [&](const YFrame& frame) -> std::u16string {
    vel::UniqueHKey key;
    if (RegOpenRegKey(key, path, defaultValue == nullptr, false, false, bUse64bitHive) != ERROR_SUCCESS) {
      return defaultValue;
    }
    LONG rc = ERROR_SUCCESS;
    std::u16string text;
    // A value that grows between the two queries is read again.
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD type = 0;
      DWORD size = 0;
      rc = RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &size);
      if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) rc = ERROR_INVALID_DATA;
      if (rc != ERROR_SUCCESS) break;
      std::u16string data(size / 2 + 1, u'\0');
      DWORD got = size;
      rc = RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
      if (rc == ERROR_MORE_DATA) continue;
      if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) rc = ERROR_INVALID_DATA;
      if (rc != ERROR_SUCCESS) break;
      data.resize(got / 2);
      const size_t end = data.find(u'\0');  // stored with or without its terminator
      text = data.substr(0, end);
      break;
    }
    if (rc == ERROR_SUCCESS) return text;
    if (defaultValue) return defaultValue;
    CYException x = RegistryFailure(rc, kYErrReadRegistryValue, ValuePath(path, valueName), frame);
    x.AddDetail(u"bUse64bitHive", bUse64bitHive ? 1 : 0, false);
    throw x;
  });
}

DWORD CYRegistry::GetDWORDValue(std::u16string_view path, const char16_t* valueName, DWORD defaultValue,
                                bool bThrow) {
  return YErrorFrame(VEL_FRAME(u"CYRegistry::GetDWORDValue"), [&](const YFrame& frame) -> DWORD {
    vel::UniqueHKey key;
    if (RegOpenRegKey(key, path, bThrow, false, false, false) != ERROR_SUCCESS) return defaultValue;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    LONG rc = RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value)) rc = ERROR_INVALID_DATA;
    if (rc == ERROR_MORE_DATA) rc = ERROR_INVALID_DATA;  // larger than a DWORD: not one
    if (rc == ERROR_SUCCESS) return value;
    if (!bThrow) return defaultValue;
    throw RegistryFailure(rc, kYErrReadRegistryValue, ValuePath(path, valueName), frame);
  });
}

void CYRegistry::SetValue(std::u16string_view path, const char16_t* valueName, const char16_t* text) {
  YErrorFrame(VEL_FRAME(u"CYRegistry::SetValue"), [&](const YFrame& frame) {
    if (!text) YThrowHr(E_FAIL, frame);
    vel::UniqueHKey key;
    RegOpenRegKey(key, path, true, true, true, false);
    const size_t bytes = (vel::U16Len(text) + 1) * sizeof(char16_t);
    const LONG rc = RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                   static_cast<DWORD>(bytes));
    if (rc != ERROR_SUCCESS) throw RegistryFailure(rc, kYErrWriteRegistryValue, ValuePath(path, valueName), frame);
  });
}

void CYRegistry::SetValue(std::u16string_view path, const char16_t* valueName, DWORD value) {
  YErrorFrame(VEL_FRAME(u"CYRegistry::SetValue"), [&](const YFrame& frame) {
    vel::UniqueHKey key;
    RegOpenRegKey(key, path, true, true, true, false);
    const LONG rc =
        RegSetValueExW(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (rc != ERROR_SUCCESS) throw RegistryFailure(rc, kYErrWriteRegistryValue, ValuePath(path, valueName), frame);
  });
}

std::vector<std::u16string> CYRegistry::GetSubKeyNames(std::u16string_view path) {
  return YErrorFrame(VEL_FRAME(u"CYRegistry::GetSubKeyNames"), [&] {
    std::vector<std::u16string> names;
    vel::UniqueHKey key;
    if (RegOpenRegKey(key, path, false, false, false, false) != ERROR_SUCCESS) return names;
    char16_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = 256;
      if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  });
}

std::vector<YRegValueName> CYRegistry::GetValueNames(std::u16string_view path, long type) {
  return YErrorFrame(VEL_FRAME(u"CYRegistry::GetValueNames"), [&] {
    std::vector<YRegValueName> names;
    vel::UniqueHKey key;
    if (RegOpenRegKey(key, path, false, false, false, false) != ERROR_SUCCESS) return names;
    char16_t name[16384];  // the longest value name; left uninitialised, this runs for every file read
    for (DWORD i = 0;; ++i) {
      DWORD length = 16384;
      DWORD valueType = 0;
      if (RegEnumValueW(key.get(), i, name, &length, nullptr, &valueType, nullptr, nullptr) != ERROR_SUCCESS) {
        break;
      }
      if (type == -1 || static_cast<DWORD>(type) == valueType) names.push_back({std::u16string(name, length), valueType});
    }
    return names;
  });
}

bool CYRegistry::Exists(std::u16string_view path, const char16_t* valueName) {
  return YErrorFrame(VEL_FRAME(u"CYRegistry::Exists"), [&] {
    {
      vel::UniqueHKey key;
      if (RegOpenRegKey(key, path, false, false, false, false) != ERROR_SUCCESS) return false;
    }
    if (!valueName) return true;
    for (const YRegValueName& v : GetValueNames(path, -1)) {
      if (vel::CompareNoCase(v.name, valueName) == 0) return true;
    }
    return false;
  });
}
