#include "framework/VelPluginHelpers.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/base/PerThread.h"
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

// A short text kept in place.
template <std::size_t N>
struct ShortText {
  std::size_t size = 0;
  char16_t text[N];
  static bool Fits(std::u16string_view v) { return v.size() <= N; }
  void Set(std::u16string_view v) {
    size = v.size();
    std::copy(v.begin(), v.end(), text);
  }
  std::u16string_view View() const { return {text, size}; }
};

// An answer of RegisteredExt2MimeType under one image of the registry.
struct KnownMimeType {
  std::uint64_t epoch;
  ShortText<40> clsid;
  ShortText<16> extension;
  ShortText<80> mimeType;
};
// Each thread's answers: plain data, so this module may still be unloaded
// (see vel::PerThread).
struct KnownMimeTypes {
  static constexpr std::size_t kSize = 16;
  KnownMimeType entries[kSize];
  std::size_t count = 0;
  std::size_t next = 0;  // replaced next when the table is full
};
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
    KnownMimeTypes* known = vel::PerThread<KnownMimeTypes>::Get();  // null: nothing kept
    if (known) {
      for (std::size_t i = 0; i < known->count; ++i) {
        const KnownMimeType& entry = known->entries[i];
        if (entry.epoch == epoch && entry.clsid.View() == clsid && entry.extension.View() == extension)
          return std::u16string(entry.mimeType.View());
      }
    }
    const std::u16string key = kPluginsKey + std::u16string(clsid);
    std::u16string mimeType = CYRegistry::GetStringValue(key, std::u16string(extension).c_str(), u"");
    if (known && decltype(KnownMimeType::clsid)::Fits(clsid) && decltype(KnownMimeType::extension)::Fits(extension) &&
        decltype(KnownMimeType::mimeType)::Fits(mimeType)) {
      std::size_t slot = known->count;
      for (std::size_t i = 0; i < known->count; ++i) {
        if (known->entries[i].epoch != epoch) {  // from an older image: no longer of use
          slot = i;
          break;
        }
      }
      if (slot == KnownMimeTypes::kSize) {
        slot = known->next;
        known->next = (known->next + 1) % KnownMimeTypes::kSize;
      }
      KnownMimeType& entry = known->entries[slot];
      entry.epoch = epoch;
      entry.clsid.Set(clsid);
      entry.extension.Set(extension);
      entry.mimeType.Set(mimeType);
      if (slot == known->count) ++known->count;
    }
    return mimeType;
  });
}
