// velitems registry dump [KEY]: the registry store as readable text, one
// bracketed key path, its values one a line, then its subkeys, recursively.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "host/cli/commands.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"
#include "platform/win32/UniqueHandles.h"

namespace velitems {
namespace {

struct Root {
  const char* name;
  const char* abbreviation;
  HKEY key;
};

const Root kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE}, {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},   {"HKEY_USERS", "HKU", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG},
};

// Unquoted text with quotes, backslashes and control characters escaped.
std::string Escape(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    switch (c) {
      case u'\\': out += "\\\\"; break;
      case u'"': out += "\\\""; break;
      case u'\n': out += "\\n"; break;
      case u'\r': out += "\\r"; break;
      case u'\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += vel::ToUtf8(std::u16string_view(&c, 1));
        }
    }
  }
  return out;
}

// Escape() for whole strings; surrogate pairs must be converted together.
std::string Quote(std::u16string_view text) {
  std::string out = "\"";
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] < 0x20 || text[i] == u'\\' || text[i] == u'"') {
      out += vel::ToUtf8(text.substr(start, i - start));
      if (i < text.size()) out += Escape(text.substr(i, 1));
      start = i + 1;
    }
  }
  return out + "\"";
}

std::string TypeName(DWORD type) {
  static const char* const kNames[] = {"REG_NONE",
                                       "REG_SZ",
                                       "REG_EXPAND_SZ",
                                       "REG_BINARY",
                                       "REG_DWORD",
                                       "REG_DWORD_BIG_ENDIAN",
                                       "REG_LINK",
                                       "REG_MULTI_SZ",
                                       "REG_RESOURCE_LIST",
                                       "REG_FULL_RESOURCE_DESCRIPTOR",
                                       "REG_RESOURCE_REQUIREMENTS_LIST",
                                       "REG_QWORD"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  return "REG_TYPE_" + std::to_string(type);
}

std::string Hex(const std::vector<BYTE>& data) {
  std::string out;
  for (std::size_t i = 0; i < data.size(); ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, i == 0 ? "%02x" : " %02x", data[i]);
    out += buf;
  }
  return out;
}

std::u16string Utf16(const std::vector<BYTE>& data, std::size_t from, std::size_t count) {
  std::u16string out(count, u'\0');
  for (std::size_t i = 0; i < count; ++i) {
    out[i] = static_cast<char16_t>(data[from + 2 * i] | (data[from + 2 * i + 1] << 8));
  }
  return out;
}

std::string FormatData(DWORD type, const std::vector<BYTE>& data) {
  const std::string label = TypeName(type) + ":";
  switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
      if (data.size() % 2 != 0) break;
      std::u16string text = Utf16(data, 0, data.size() / 2);
      if (!text.empty() && text.back() == 0) text.pop_back();
      return label + Quote(text);
    }
    case REG_MULTI_SZ: {
      if (data.size() % 2 != 0) break;
      std::u16string all = Utf16(data, 0, data.size() / 2);
      std::string out = label;
      std::size_t pos = 0;
      bool first = true;
      while (pos < all.size()) {
        std::size_t end = all.find(u'\0', pos);
        if (end == std::u16string::npos) end = all.size();
        if (end == pos) break;  // the empty string ends the list
        out += (first ? "" : ",") + Quote(std::u16string_view(all).substr(pos, end - pos));
        first = false;
        pos = end + 1;
      }
      return out;
    }
    case REG_DWORD:
      if (data.size() == 4) {
        std::uint32_t v = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
        char buf[40];
        std::snprintf(buf, sizeof buf, "0x%08" PRIx32 " (%" PRIu32 ")", v, v);
        return label + buf;
      }
      break;
    case REG_QWORD:
      if (data.size() == 8) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | data[i];
        char buf[64];
        std::snprintf(buf, sizeof buf, "0x%016" PRIx64 " (%" PRIu64 ")", v, v);
        return label + buf;
      }
      break;
    default:
      return label + Hex(data);
  }
  // A string or number type whose size does not fit it: show the bytes.
  return label + "hex:" + Hex(data);
}

void Fail(const std::string& path, LONG error) {
  std::fprintf(stderr, "velitems: %s: registry error %d\n", path.c_str(), static_cast<int>(error));
}

// Prints one key and everything below it; false if any part failed.
bool DumpKey(HKEY key, const std::string& path, bool* first) {
  std::string out = (*first ? "[" : "\n[") + path + "]\n";
  *first = false;
  bool ok = true;
  std::vector<char16_t> name(256);
  std::vector<BYTE> data(256);
  int retries = 0;
  for (DWORD i = 0;; ++i) {
    DWORD cch = static_cast<DWORD>(name.size());
    DWORD cb = static_cast<DWORD>(data.size());
    DWORD type = 0;
    LONG rc = RegEnumValueW(key, i, name.data(), &cch, nullptr, &type, data.data(), &cb);
    if (rc == ERROR_MORE_DATA) {
      DWORD maxName = 0, maxData = 0;
      RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                       nullptr, nullptr);
      if (++retries > 3) {
        Fail(path, rc);
        ok = false;
        break;
      }
      name.resize(std::max<std::size_t>(name.size(), std::size_t{maxName} + 1));
      data.resize(std::max<std::size_t>({data.size(), std::size_t{maxData}, std::size_t{cb}}));
      --i;  // the same index again with room
      continue;
    }
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      Fail(path, rc);
      ok = false;
      break;
    }
    std::u16string_view valueName(name.data(), cch);
    out += valueName.empty() ? "@" : Quote(valueName);
    out += "=" + FormatData(type, std::vector<BYTE>(data.begin(), data.begin() + cb)) + "\n";
  }
  std::fputs(out.c_str(), stdout);

  std::vector<std::u16string> subkeys;
  for (DWORD i = 0;; ++i) {
    char16_t sub[256];
    DWORD cch = 256;
    LONG rc = RegEnumKeyExW(key, i, sub, &cch, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) {
      Fail(path, rc);
      return false;
    }
    subkeys.emplace_back(sub, cch);
  }
  for (const std::u16string& sub : subkeys) {
    vel::UniqueHKey child;
    std::string childPath = path + "\\" + vel::ToUtf8(sub);
    LONG rc = RegOpenKeyExW(key, sub.c_str(), 0, KEY_READ, child.put());
    if (rc == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile by someone else
    if (rc != ERROR_SUCCESS) {
      Fail(childPath, rc);
      ok = false;
      continue;
    }
    ok = DumpKey(child.get(), childPath, first) && ok;
  }
  return ok;
}

// Opens a KEY text: root name or abbreviation, then components. The path
// printed keeps the case the keys were stored with.
int DumpPath(const std::string& text) {
  std::string rest = text;
  while (!rest.empty() && rest.back() == '\\') rest.pop_back();
  std::string rootText = rest.substr(0, rest.find('\\'));
  rest = rest.size() > rootText.size() ? rest.substr(rootText.size() + 1) : std::string();
  const Root* root = nullptr;
  for (const Root& r : kRoots) {
    if (vel::CompareNoCase(vel::FromUtf8(rootText), vel::FromUtf8(r.name)) == 0 ||
        vel::CompareNoCase(vel::FromUtf8(rootText), vel::FromUtf8(r.abbreviation)) == 0) {
      root = &r;
    }
  }
  if (root == nullptr) return UsageError("\"" + text + "\" does not begin with a registry root");

  vel::UniqueHKey key;
  LONG rc = RegOpenKeyExW(root->key, nullptr, 0, KEY_READ, key.put());
  std::string path = root->name;
  std::u16string components = vel::FromUtf8(rest);
  std::size_t pos = 0;
  while (rc == ERROR_SUCCESS && pos < components.size()) {
    std::size_t end = std::min(components.find(u'\\', pos), components.size());
    std::u16string want = components.substr(pos, end - pos);
    pos = end + 1;
    if (want.empty()) continue;
    // The stored spelling, found among the parent's subkeys.
    std::u16string stored = want;
    for (DWORD i = 0;; ++i) {
      char16_t sub[256];
      DWORD cch = 256;
      if (RegEnumKeyExW(key.get(), i, sub, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
      if (vel::CompareNoCase(std::u16string_view(sub, cch), want) == 0) {
        stored.assign(sub, cch);
        break;
      }
    }
    vel::UniqueHKey child;
    rc = RegOpenKeyExW(key.get(), want.c_str(), 0, KEY_READ, child.put());
    key = std::move(child);
    path += "\\" + vel::ToUtf8(stored);
  }
  if (rc == ERROR_FILE_NOT_FOUND) {
    std::fprintf(stderr, "velitems: registry key not found: %s\n", text.c_str());
    return 1;
  }
  if (rc != ERROR_SUCCESS) {
    Fail(text, rc);
    return 1;
  }
  bool first = true;
  const bool ok = DumpKey(key.get(), path, &first);
  return ok ? 0 : 1;
}

}  // namespace

int RunRegistry(const Args& args) {
  if (args.empty() || args[0] != "dump") return UsageError("registry: expected \"dump\"");
  if (args.size() > 2) return UsageError("registry dump takes at most one KEY");
  if (args.size() == 2) return DumpPath(args[1]);
  // Every root; HKEY_CLASSES_ROOT is already within HKEY_LOCAL_MACHINE.
  int status = 0;
  bool first = true;
  for (const Root& r : kRoots) {
    if (r.key == HKEY_CLASSES_ROOT) continue;
    vel::UniqueHKey key;
    LONG rc = RegOpenKeyExW(r.key, nullptr, 0, KEY_READ, key.put());
    if (rc != ERROR_SUCCESS) {
      Fail(r.name, rc);
      return 1;
    }
    if (!DumpKey(key.get(), r.name, &first)) status = 1;
  }
  return status;
}

}  // namespace velitems
