#include "messaging/VelItemMMS.h"

#include "contract/VelComBoundary.h"
#include "framework/VelItemHelpers.h"
#include "framework/ItemProperties.h"
#include "framework/PluginIdentity.h"
#include "messaging/MMS/MMSCodec2.h"
#include "messaging/VelMMSFileHelper.h"
#include "ylib/YCOMUtilities.h"
#include "ylib/YLogging.h"
#include "ylib/YVariant.h"

namespace {
constexpr char16_t kSource[] = u"VelItemMMS";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const IID& kMms = IID_IVelItemMMS;
constexpr const char16_t* kProgId = kProgIdVelItemMMS;
const vel::framework::PluginIdentity kIdentity{u"CVelItemMMS", kSource, kProgId, u"MMS", 0};
constexpr char16_t kMmsMimeType[] = u"application/vnd.zandor.vexa.mms";

using vel::framework::PutText;
}  // namespace

ComPtr<IVelItem> CVelItemMMS::ReadMetadataImpl(const std::u16string& path) {
  return YErrorFrame({u"CVelItemMMS::ReadMetadataImpl", kSource, __LINE__}, [&](const YFrame& f) {
    ComPtr<IVelItem> item;
    ComPtr<IUnknown> created = CYCOMUtils::CreateObject(CLSID_VelItem, u"VelItemsLib::VelItem", CLSCTX_ALL);
    YCheckHr(created.QueryInterface(item));
    YCheckHr(item->put_ItemClass(_bstr_t(u"Message")));

    CMMSCodec2 codec;
    if (codec.ParseMmsMessage(path) != 0) return item;
    const CMMSHeader& header = *codec.GetHeader();

    ComPtr<IVelProperties> properties;
    YCheckHr(item->get_Properties(&properties));
    if (!properties) YThrowHr(E_POINTER, f);
    PutText(properties, u"ItemType", kMmsMimeType);
    CYLogging::Log(kYLogDebug, u"dwDate = %d\n", static_cast<int>(header.date));
    std::u16string to;
    int index = 0;
    while (const MmsAddress* entry = header.GetNextTo(index)) {
      if (!entry->has_value()) continue;
      CYLogging::Log(kYLogDebug, u"GetNextCC = %s\n", **entry);
      if (!to.empty()) to += u"; ";
      to += **entry;
    }
    if (!header.subject.empty()) PutText(properties, u"Title", header.subject);
    if (!header.from.empty()) PutText(properties, u"Sender", header.from);
    if (!to.empty()) PutText(properties, u"ToWhom", to);
    YCheckHr(properties->put_Value(_bstr_t(u"Received"), _bstr_t(kCoreNamespace),
                                   _variant_t(!header.from.empty())));
    return item;
  });
}

HRESULT CVelItemMMS::QueryCapability(LONG nCapability, VARIANT_BOOL* pbRetVal) {
  return kIdentity.QueryCapability(nCapability, pbRetVal);
}

HRESULT CVelItemMMS::get_Name(BSTR* pVal) { return kIdentity.Name(pVal); }

HRESULT CVelItemMMS::get_CustomStoragePath(BSTR* pVal) { return kIdentity.CustomStoragePath(pVal); }

HRESULT CVelItemMMS::ValidateItem(IVelItem* pItem, LONG* pStatus) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::ValidateItem", kSource, __LINE__},
                        [&](const YFrame& f) {
                          LONG* status = VelOutParam(pStatus, f);
                          if (!pItem) YThrowHr(E_POINTER, f);
                          ComPtr<IVelItem> item(pItem);
                          CMMSCodec2 codec;
                          // Whatever keeps the file from decoding, a missing file included, is corruption.
                          *status = codec.ParseMmsMessage(VelItemText(item, u"URI")) == 0
                                        ? EVelValidateStatus_OK
                                        : EVelValidateStatus_FileCorrupt;
                        });
}

HRESULT CVelItemMMS::ReadMetadata(BSTR strFilePath, IVelItem** ppiRetVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::ReadMetadata", kSource, __LINE__},
                        [&](const YFrame& f) {
                          IVelItem** out = VelOutParam(ppiRetVal, f);
                          *out = ReadMetadataImpl(std::u16string(_bstr_t(strFilePath, true).view())).Detach();
                        });
}

HRESULT CVelItemMMS::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::WriteMetadata", kSource, __LINE__},
                        [&](const YFrame& f) {
                          if (!pItem) YThrowHr(E_POINTER, f);
                          ComPtr<IVelItem> host(pItem);
                          ComPtr<IVelItem> fresh = ReadMetadataImpl(std::u16string(_bstr_t(strFilePath, true).view()));
                          ComPtr<IVelItem> merged = CVelItemHelpers::MergeItems(host, fresh, 0);
                          ComPtr<IVelItem> target;
                          YCheckHr(merged->Clone(_variant_t(static_cast<IDispatch*>(host.get())), &target));
                        });
}

HRESULT CVelItemMMS::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemMMS::GetItemPath", kSource, __LINE__},
                        [&](const YFrame& f) { VelOutParam(pVal, f); });
}

HRESULT CVelItemMMS::CreateMMS(IVelItem* pItem, IVelItem* pSenderItem, IVelEnum* spRecipientEnum, VARIANT varFileList,
                               BSTR strTempFolder, BSTR* pstrMMSFilePath) {
  return VelComBoundary(kMms, kProgId, {u"CVelItemMMS::CreateMMS", kSource, __LINE__},
                        [&](const YFrame& f) {
                          BSTR* out = VelOutParam(pstrMMSFilePath, f);
                          const std::vector<std::u16string> files = CYVariant::VariantToStringVector(varFileList);
                          const std::u16string folder(_bstr_t(strTempFolder, true).view());
                          ComPtr<IVelEnum> recipients(spRecipientEnum);
                          ComPtr<IVelItem> sender(pSenderItem);
                          ComPtr<IVelItem> item(pItem);
                          const std::u16string path =
                              CVelMMSFileHelper::CreateMMSFile(item, sender, recipients, files, folder);
                          *out = _bstr_t(std::u16string_view(path)).Detach();
                        });
}

HRESULT CVelItemMMS::CreateSMIL(IVelItem* pItem, BSTR strTempFolder, IUnknown** enumFiles) {
  return VelComBoundary(kMms, kProgId, {u"CVelItemMMS::CreateSMIL", kSource, __LINE__},
                        [&](const YFrame& f) {
                          IUnknown** out = VelOutParam(enumFiles, f);
                          if (!pItem) YThrowHr(E_POINTER, f);
                          ComPtr<IVelItem> item(pItem);
                          ComPtr<IVelEnum> parts = CVelMMSFileHelper::ExtractFilesFromMMS(
                              item, std::u16string(_bstr_t(strTempFolder, true).view()));
                          ComPtr<IUnknown> unknown(parts.get());
                          *out = unknown.Detach();
                        });
}
