#include "framework/VelItemPluginFactory.h"

#include "module/VelComBoundary.h"

namespace {
constexpr char16_t kSource[] = u"VelItemPluginFactory";
constexpr const IID& kFactory = IID_IVelItemPluginFactory;
constexpr const char16_t* kProgId = kProgIdVelItemPluginFactory;
}  // namespace

HRESULT CVelItemPluginFactory::CreateWithMimeType(BSTR strMimeType, IVelItemPlugin** ppiRetVal) {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::CreateWithMimeType", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, ppiRetVal); });
}

HRESULT CVelItemPluginFactory::CreateWithFile(BSTR strFilePath, IVelItemPlugin** ppiRetVal) {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::CreateWithFile", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, ppiRetVal); });
}

HRESULT CVelItemPluginFactory::CreateWithItem(IVelItem* piItem, IVelItemPlugin** ppiRetVal) {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::CreateWithItem", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, ppiRetVal); });
}

HRESULT CVelItemPluginFactory::GetRegisteredMimeTypes(VARIANT* pvarMIMEs) {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::GetRegisteredMimeTypes", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pvarMIMEs); });
}

HRESULT CVelItemPluginFactory::IsRegisteredMimeType(BSTR strMimeType, VARIANT_BOOL* pbRetVal) {
  return VelComBoundary(kFactory, kProgId, {u"CVelItemPluginFactory::IsRegisteredMimeType", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pbRetVal); });
}
