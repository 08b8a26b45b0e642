#include "framework/PluginIdentity.h"

#include "contract/VelComBoundary.h"
#include "contract/VelItemPluginsLib.h"
#include "framework/VelPluginHelpers.h"

namespace vel::framework {

PluginIdentity::PluginIdentity(const char16_t* className, const char16_t* source, const char16_t* progId,
                               const char16_t* name, int storageFolder)
    : queryCapabilityFrame_(std::u16string(className) + u"::QueryCapability"),
      nameFrame_(std::u16string(className) + u"::get_Name"),
      storagePathFrame_(std::u16string(className) + u"::get_CustomStoragePath"),
      source_(source),
      progId_(progId),
      name_(name),
      storageFolder_(storageFolder) {}

HRESULT PluginIdentity::QueryCapability(LONG capability, VARIANT_BOOL* result) const noexcept {
  return VelComBoundary(IID_IVelItemPlugin, progId_, {queryCapabilityFrame_.c_str(), source_, __LINE__},
                        [&] { CVelPluginHelpers::QueryCapability(capability, result); });
}

HRESULT PluginIdentity::Name(BSTR* result) const noexcept {
  return VelComBoundary(IID_IVelItemPlugin, progId_, {nameFrame_.c_str(), source_, __LINE__},
                        [&] { CVelPluginHelpers::Name(name_, result); });
}

HRESULT PluginIdentity::CustomStoragePath(BSTR* result) const noexcept {
  return VelComBoundary(IID_IVelItemPlugin, progId_, {storagePathFrame_.c_str(), source_, __LINE__},
                        [&] { CVelPluginHelpers::StoragePath(storageFolder_, result); });
}

}  // namespace vel::framework
