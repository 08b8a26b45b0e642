#include "image/VelItemImage.h"

#include "contract/VelComBoundary.h"
#include "framework/PluginIdentity.h"
#include "platform/win32/shlobj.h"

namespace {
constexpr char16_t kSource[] = u"VelItemImage";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const IID& kImage = IID_IVelItemImage;
constexpr const char16_t* kProgId = kProgIdVelItemImage;
const vel::framework::PluginIdentity kIdentity{u"CVelItemImage", kSource, kProgId, u"Image", CSIDL_MYPICTURES};
}  // namespace

HRESULT CVelItemImage::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return kIdentity.QueryCapability(nCapability, pbRetVal);
}

HRESULT CVelItemImage::get_Name(BSTR* pVal) { return kIdentity.Name(pVal); }

HRESULT CVelItemImage::get_CustomStoragePath(BSTR* pVal) { return kIdentity.CustomStoragePath(pVal); }

HRESULT CVelItemImage::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemImage::ValidateItem", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pStatus); });
}

HRESULT CVelItemImage::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemImage::ReadMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, ppiRetVal); });
}

HRESULT CVelItemImage::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemImage::WriteMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f); });
}

HRESULT CVelItemImage::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemImage::GetItemPath", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pVal); });
}

HRESULT CVelItemImage::ReadIPTCKeywords(BSTR strFilePath, VARIANT* varKeywords) {
  return VelComBoundary(kImage, kProgId, {u"CVelItemImage::ReadIPTCKeywords", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, varKeywords); });
}

HRESULT CVelItemImage::WriteIPTCKeywords(BSTR strFilePath, VARIANT varKeywords) {
  return VelComBoundary(kImage, kProgId, {u"CVelItemImage::WriteIPTCKeywords", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f); });
}
