#include "framework/VelPluginHelpers.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/oleauto.h"
#include "platform/registry/store.h"
#include "platform/text.h"
#include "ylib/YException.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YPerformanceTimer.h"
#include "ylib/YRegistry.h"

namespace {
constexpr char16_t kSource[] = u"VelPluginHelpers";
constexpr char16_t kPluginsKey[] = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins\\";

// An answer of RegisteredExt2MimeType under one image of the registry.
struct KnownMimeType {
  std::uint64_t epoch;
  std::u16string clsid;
  std::u16string extension;
  std::u16string mimeType;
};
constexpr std::size_t kMostKnownMimeTypes = 64;
thread_local std::vector<KnownMimeType> t_knownMimeTypes;
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
    // Asked for every file a plugin reads: each thread keeps the answers it
    // had while the registry stays as it was, and asks no other thread.
    const std::uint64_t epoch = vel::RegistryImageEpoch();
    for (const KnownMimeType& known : t_knownMimeTypes) {
      if (known.epoch == epoch && known.clsid == clsid && known.extension == extension) return known.mimeType;
    }
    const std::u16string key = kPluginsKey + std::u16string(clsid);
    std::u16string mimeType = CYRegistry::GetStringValue(key, std::u16string(extension).c_str(), u"");
    std::erase_if(t_knownMimeTypes, [&](const KnownMimeType& known) { return known.epoch != epoch; });
    if (t_knownMimeTypes.size() == kMostKnownMimeTypes) t_knownMimeTypes.erase(t_knownMimeTypes.begin());
    t_knownMimeTypes.push_back({epoch, std::u16string(clsid), std::u16string(extension), mimeType});
    return mimeType;
  });
}
