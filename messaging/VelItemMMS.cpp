#include "messaging/VelItemMMS.h"

#include "framework/VelPluginHelpers.h"
#include "module/VelComBoundary.h"

namespace {
constexpr char16_t kSource[] = u"VelItemMMS";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const IID& kMms = IID_IVelItemMMS;
constexpr const char16_t* kProgId = kProgIdVelItemMMS;
}  // namespace

HRESULT CVelItemMMS::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::QueryCapability", kSource, __LINE__},
                        [&] { CVelPluginHelpers::QueryCapability(nCapability, pbRetVal); });
}

HRESULT CVelItemMMS::get_Name(BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::get_Name", kSource, __LINE__},
                        [&] { CVelPluginHelpers::Name(u"MMS", pVal); });
}

HRESULT CVelItemMMS::get_CustomStoragePath(BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::get_CustomStoragePath", kSource, __LINE__},
                        [&] { CVelPluginHelpers::StoragePath(0, pVal); });
}

HRESULT CVelItemMMS::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::ValidateItem", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pStatus); });
}

HRESULT CVelItemMMS::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::ReadMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, ppiRetVal); });
}

HRESULT CVelItemMMS::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::WriteMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f); });
}

HRESULT CVelItemMMS::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::GetItemPath", kSource, __LINE__},
                        [&](const YFrame& f) { VelOutParam(pVal, f); });
}

HRESULT CVelItemMMS::CreateMMS(IVelItem* pItem, IVelItem* pSenderItem, IVelEnum* spRecipientEnum, VARIANT varFileList,
                               BSTR strTempFolder, BSTR* pstrMMSFilePath) {
  return VelComBoundary(kMms, kProgId, {u"CVelItemMMS::CreateMMS", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pstrMMSFilePath); });
}

HRESULT CVelItemMMS::CreateSMIL(IVelItem* pItem, BSTR strTempFolder, IUnknown** enumFiles) {
  return VelComBoundary(kMms, kProgId, {u"CVelItemMMS::CreateSMIL", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, enumFiles); });
}
