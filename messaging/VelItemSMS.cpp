#include "messaging/VelItemSMS.h"

#include "framework/VelPluginHelpers.h"
#include "module/VelComBoundary.h"

namespace {
constexpr char16_t kSource[] = u"VelItemSMS";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const char16_t* kProgId = kProgIdVelItemSMS;
}  // namespace

HRESULT CVelItemSMS::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::QueryCapability", kSource, __LINE__},
                        [&] { CVelPluginHelpers::QueryCapability(nCapability, pbRetVal); });
}

HRESULT CVelItemSMS::get_Name(BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::get_Name", kSource, __LINE__},
                        [&] { CVelPluginHelpers::Name(u"SMS", pVal); });
}

HRESULT CVelItemSMS::get_CustomStoragePath(BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::get_CustomStoragePath", kSource, __LINE__},
                        [&] { CVelPluginHelpers::StoragePath(0, pVal); });
}

HRESULT CVelItemSMS::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::ValidateItem", kSource, __LINE__},
                        [&](const YFrame& f) { *VelOutParam(pStatus, f) = EVelValidateStatus_OK; });
}

HRESULT CVelItemSMS::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::ReadMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, ppiRetVal); });
}

HRESULT CVelItemSMS::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::WriteMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f); });
}

HRESULT CVelItemSMS::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::GetItemPath", kSource, __LINE__},
                        [&](const YFrame& f) { VelOutParam(pVal, f); });
}
