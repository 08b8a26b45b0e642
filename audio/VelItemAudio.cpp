#include "audio/VelItemAudio.h"

#include "framework/VelPluginHelpers.h"
#include "module/VelComBoundary.h"
#include "platform/win32/shlobj.h"

namespace {
constexpr char16_t kSource[] = u"VelItemAudio";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const IID& kAudio = IID_IVelItemAudio;
constexpr const char16_t* kProgId = kProgIdVelItemAudio;
}  // namespace

HRESULT CVelItemAudio::FinalConstruct() {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemAudio::FinalConstruct", kSource, __LINE__}, [&] {
    ComPtr<IUnknown> video = m_classFactory.CreateObject(CLSID_VelItemVideo, u"VelItemPluginsLib::VelItemVideo");
    YCheckHr(video.QueryInterface(m_videoPlugin));
  });
}

void CVelItemAudio::FinalRelease() {
  YErrorFrameNoThrow({u"CVelItemAudio::FinalRelease", kSource, __LINE__}, [&] {
    m_videoPlugin = nullptr;
    m_classFactory.Clear();
  });
}

HRESULT CVelItemAudio::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemAudio::QueryCapability", kSource, __LINE__},
                        [&] { CVelPluginHelpers::QueryCapability(nCapability, pbRetVal); });
}

HRESULT CVelItemAudio::get_Name(BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemAudio::get_Name", kSource, __LINE__},
                        [&] { CVelPluginHelpers::Name(u"Audio", pVal); });
}

HRESULT CVelItemAudio::get_CustomStoragePath(BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemAudio::get_CustomStoragePath", kSource, __LINE__},
                        [&] { CVelPluginHelpers::StoragePath(CSIDL_MYMUSIC, pVal); });
}

HRESULT CVelItemAudio::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemAudio::ValidateItem", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pStatus); });
}

HRESULT CVelItemAudio::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemAudio::ReadMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, ppiRetVal); });
}

HRESULT CVelItemAudio::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemAudio::WriteMetadata", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f); });
}

HRESULT CVelItemAudio::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemAudio::GetItemPath", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, pVal); });
}

HRESULT CVelItemAudio::ReadPicture(BSTR strFilePath, VARIANT* varPicture) {
  return VelComBoundary(kAudio, kProgId, {u"CVelItemAudio::ReadPicture", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f, varPicture); });
}

HRESULT CVelItemAudio::WritePicture(BSTR strFilePath, VARIANT varPicture) {
  return VelComBoundary(kAudio, kProgId, {u"CVelItemAudio::WritePicture", kSource, __LINE__},
                        [&](const YFrame& f) { VelThrowNotImplemented(f); });
}
