#include "module/VelRegistrar.h"

#include "platform/registry/update.h"
#include "platform/win32/UniqueHandles.h"

namespace {

class Runner {
 public:
  explicit Runner(const VelRegReplacements& replacements) : replacements_(replacements) {}

  // A ForceRemove key, and everything below it, ends up holding exactly what
  // the script names: what else it held goes, what it already holds is left
  // as it is, so registering again changes nothing in the store.
  HRESULT Register(HKEY parent, const VelRegKey& k, bool exact = false) {
    exact = exact || k.flag == VelRegFlag::ForceRemove;
    const std::u16string name = VelExpandRegText(k.name, replacements_);
    vel::UniqueHKey key;
    LSTATUS rc = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                 nullptr, key.put(), nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    if (exact) {
      std::vector<std::u16string> subkeys;
      std::vector<std::u16string> values;
      for (const VelRegKey& child : k.children) subkeys.push_back(VelExpandRegText(child.name, replacements_));
      if (k.defaultValue) values.emplace_back();
      for (const VelRegValue& v : k.values) values.push_back(v.name);
      rc = vel::RegKeepOnly(key.get(), subkeys, values);
      if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    }
    if (k.defaultValue) {
      if (HRESULT hr = SetString(key.get(), nullptr, *k.defaultValue); FAILED(hr)) return hr;
    }
    for (const VelRegValue& v : k.values) {
      if (HRESULT hr = SetString(key.get(), v.name.c_str(), v.data); FAILED(hr)) return hr;
    }
    for (const VelRegKey& child : k.children) {
      if (HRESULT hr = Register(key.get(), child, exact); FAILED(hr)) return hr;
    }
    return S_OK;
  }

  // Visits every key even after a failure, so one stubborn key does not keep
  // the rest of the registration behind; the first failure is the result.
  HRESULT Unregister(HKEY parent, const VelRegKey& k) {
    const std::u16string name = VelExpandRegText(k.name, replacements_);
    if (k.flag == VelRegFlag::ForceRemove) {
      LSTATUS rc = RegDeleteTreeW(parent, name.c_str());
      return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
    }
    vel::UniqueHKey key;
    LSTATUS rc = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, key.put());
    if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    HRESULT result = S_OK;
    for (const VelRegKey& child : k.children) Keep(result, Unregister(key.get(), child));
    if (k.flag == VelRegFlag::NoRemove) return result;

    if (k.defaultValue) Keep(result, DeleteValue(key.get(), nullptr));
    for (const VelRegValue& v : k.values) Keep(result, DeleteValue(key.get(), v.name.c_str()));
    DWORD subKeys = 0;
    DWORD values = 0;
    rc = RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                          nullptr, nullptr, nullptr);
    key.reset();
    if (rc != ERROR_SUCCESS) {
      Keep(result, HRESULT_FROM_WIN32(rc));
    } else if (subKeys == 0 && values == 0) {
      rc = RegDeleteKeyW(parent, name.c_str());
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) Keep(result, HRESULT_FROM_WIN32(rc));
    }
    return result;
  }

 private:
  static void Keep(HRESULT& first, HRESULT hr) {
    if (SUCCEEDED(first) && FAILED(hr)) first = hr;
  }

  HRESULT SetString(HKEY key, const char16_t* name, const std::u16string& text) {
    const LSTATUS rc = vel::RegSetTextIfChanged(key, name, VelExpandRegText(text, replacements_));
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
  }

  static HRESULT DeleteValue(HKEY key, const char16_t* name) {
    LSTATUS rc = RegDeleteValueW(key, name);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
  }

  const VelRegReplacements& replacements_;
};

}  // namespace

std::u16string VelExpandRegText(const std::u16string& text, const VelRegReplacements& replacements) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == u'%') {
      for (const auto& [token, value] : replacements) {
        if (text.compare(i, token.size(), token) == 0) {
          out += value;
          i += token.size();
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

HRESULT VelRunRegScript(const VelRegScript& script, bool doRegister, const VelRegReplacements& replacements) {
  Runner runner(replacements);
  HRESULT result = S_OK;
  for (const VelRegKey& k : script.keys) {
    HRESULT hr = doRegister ? runner.Register(script.root, k) : runner.Unregister(script.root, k);
    if (FAILED(hr)) {
      if (doRegister) return hr;
      if (SUCCEEDED(result)) result = hr;
    }
  }
  return result;
}
