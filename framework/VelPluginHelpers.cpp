#include "framework/VelPluginHelpers.h"

#include <string>

#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "ylib/YException.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YPerformanceTimer.h"
#include "ylib/YRegistry.h"

namespace {
constexpr char16_t kSource[] = u"VelPluginHelpers";
constexpr char16_t kPluginsKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins\\";
}

void CVelPluginHelpers::QueryCapability(LONG capability, VARIANT_BOOL* result) {
  YErrorFrame({u"CVelPluginHelpers::QueryCapability", kSource, __LINE__}, [&](const YFrame& f) {
    if (!result) YThrow(kYErrInvalidParameter, f);
    *result = VARIANT_FALSE;
  });
}

void CVelPluginHelpers::Name(std::u16string_view name, BSTR* result) {
  YErrorFrame({u"CVelPluginHelpers::Name", kSource, __LINE__}, [&](const YFrame& f) {
    if (!result) YThrow(kYErrInvalidParameter, f);
    *result = nullptr;
    BSTR text = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
    if (!text) throw std::bad_alloc();
    *result = text;
  });
}

void CVelPluginHelpers::StoragePath(int csidl, BSTR* result) {
  YErrorFrame({u"CVelPluginHelpers::StoragePath", kSource, __LINE__}, [&](const YFrame& f) {
    if (!result) YThrow(kYErrInvalidParameter, f);
    *result = nullptr;
    if (csidl == 0) return;
    const std::u16string path = CYFileUtilities::SHGetFolder(csidl);
    BSTR text = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
    if (!text) throw std::bad_alloc();
    *result = text;
  });
}

std::u16string CVelPluginHelpers::RegisteredExt2MimeType(std::u16string_view clsid, std::u16string_view extension) {
  return YErrorFrame({u"CVelPluginHelpers::RegisteredExt2MimeType", kSource, __LINE__}, [&] {
    CYPerformanceTimer timer(u"RegisteredExt2MimeType", 0.0, false);
    // Only names that start with "." are extensions. The registry finds a
    // value by name without regard to case itself: one lookup instead of a
    // walk over every value, for every file read.
    if (extension.empty() || extension[0] != u'.') return std::u16string();
    const std::u16string key = kPluginsKey + std::u16string(clsid);
    return CYRegistry::GetStringValue(key, std::u16string(extension).c_str(), u"");
  });
}
