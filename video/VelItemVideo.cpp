#include "video/VelItemVideo.h"

#include "contract/VelComBoundary.h"
#include "framework/PluginIdentity.h"
#include "platform/win32/shlobj.h"

namespace {
constexpr char16_t kSource[] = u"VelItemVideo";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const char16_t* kProgId = kProgIdVelItemVideo;
const vel::framework::PluginIdentity kIdentity{u"CVelItemVideo", kSource, kProgId, u"Video", CSIDL_MYVIDEO};
}  // namespace

HRESULT CVelItemVideo::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return kIdentity.QueryCapability(nCapability, pbRetVal);
}

HRESULT CVelItemVideo::get_Name(BSTR* pVal) { return kIdentity.Name(pVal); }

HRESULT CVelItemVideo::get_CustomStoragePath(BSTR* pVal) { return kIdentity.CustomStoragePath(pVal); }

HRESULT CVelItemVideo::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemVideo::ValidateItem", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pStatus); });
}

HRESULT CVelItemVideo::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemVideo::ReadMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, ppiRetVal); });
}

HRESULT CVelItemVideo::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemVideo::WriteMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f); });
}

HRESULT CVelItemVideo::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemVideo::GetItemPath", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pVal); });
}
