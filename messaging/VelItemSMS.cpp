#include "messaging/VelItemSMS.h"

#include <algorithm>
#include <string>

#include "VelItems/VelItemHelpers.h"
#include "framework/VelItems.h"
#include "framework/VelPluginHelpers.h"
#include "messaging/vmessage/ReadvMessage.h"
#include "module/VelComBoundary.h"
#include "platform/com/oleauto.h"
#include "ylib/YCOMUtilities.h"
#include "ylib/YFormat.h"
#include "ylib/YTime.h"

namespace {
constexpr char16_t kSource[] = u"VelItemSMS";
constexpr const IID& kPlugin = IID_IVelItemPlugin;
constexpr const char16_t* kProgId = kProgIdVelItemSMS;

constexpr char16_t kMimeType[] = u"application/vnd.zandor.vexa.sms";
constexpr unsigned kReadBits = 0x1F1;  // everything but the status
constexpr LCID kSystemDefaultLocale = 0x800;

std::u16string_view View(BSTR s) { return s ? std::u16string_view(s, SysStringLen(s)) : std::u16string_view(); }

// "name <number>", or the number alone when there is no name.
std::u16string PartyText(BSTR names, BSTR numbers) {
  if (View(names).empty()) return std::u16string(View(numbers));
  return YFormat(u"%s <%s>", std::u16string(View(names)), std::u16string(View(numbers)));
}

// The record's date, or the date text read for the system's locale, dots
// taken as slashes when that fails. 0 when there is no date.
DATE MessageDate(const vMessageRecord& r) {
  if (r.date != 0) return r.date;
  if (View(r.dateText).empty()) return 0;
  std::u16string text(View(r.dateText));
  DATE date = 0;
  if (FAILED(VarDateFromStr(text.c_str(), kSystemDefaultLocale, 0, &date))) {
    std::replace(text.begin(), text.end(), u'.', u'/');
    if (FAILED(VarDateFromStr(text.c_str(), kSystemDefaultLocale, 0, &date))) date = 0;
  }
  return date;
}

void Put(IVelProperties* properties, const char16_t* name, const _variant_t& value) {
  YCheckHr(properties->put_Value(_bstr_t(name), _bstr_t(kCoreNamespace), value));
}

// The item of a ".vmg" file; only its class and type when the file cannot be read.
ComPtr<IVelItem> ReadMetadataImpl(const char16_t* path) {
  return YErrorFrame({u"CVelItemSMS::ReadMetadataImpl", kSource, __LINE__}, [&](const YFrame& f) {
    ComPtr<IVelItem> item;
    ComPtr<IUnknown> created = CYCOMUtils::CreateObject(CLSID_VelItem, u"VelItemsLib::VelItem", CLSCTX_ALL);
    YCheckHr(created.QueryInterface(item));
    YCheckHr(item->put_ItemClass(_bstr_t(u"Message")));
    ComPtr<IVelProperties> properties;
    YCheckHr(item->get_Properties(&properties));
    if (!properties) YThrowHr(E_POINTER, f);
    Put(properties, u"ItemType", _variant_t(kMimeType));

    vel::vmessage::UniqueRecord owner;
    if (ReadvMessage(path, kReadBits, owner.put()) != 0 || !owner) return item;
    const vMessageRecord* record = owner.get();

    const DATE date = MessageDate(*record);
    // The message's date is UTC.
    if (date != 0) Put(properties, u"CreationDate", _variant_t(CYTime::TimeToLocalTime(date), VT_DATE));
    if (!View(record->senderNumber).empty() || !View(record->senderName).empty()) {
      const std::u16string sender = PartyText(record->senderName, record->senderNumber);
      Put(properties, u"Received", _variant_t(true));
      Put(properties, u"Sender", _variant_t(sender));
      Put(properties, u"Title", _variant_t(sender));
    }
    if (!View(record->recipientNumbers).empty() || !View(record->recipientNames).empty()) {
      const std::u16string recipients = PartyText(record->recipientNames, record->recipientNumbers);
      Put(properties, u"Received", _variant_t(false));
      Put(properties, u"ToWhom", _variant_t(recipients));
      Put(properties, u"Title", _variant_t(recipients));
    }
    Put(properties, u"MessageText", _variant_t(View(record->body)));
    return item;
  });
}

// Brings the host's item up to date with the file; the file stays as it is.
void MergeFileIntoItem(const char16_t* path, IVelItem* hostItem) {
  YErrorFrame({u"CVelItemSMS::MergeFileIntoItem", kSource, __LINE__}, [&](const YFrame& f) {
    if (!hostItem) YThrow(kYErrInvalidParameter, f);
    ComPtr<IVelItem> host;
    YCheckHr(ComPtr<IUnknown>(hostItem).QueryInterface(host));
    ComPtr<IVelItem> fileItem = ReadMetadataImpl(path);
    ComPtr<IVelProperties> fileProperties;
    YCheckHr(fileItem->get_Properties(&fileProperties));
    if (!fileProperties) YThrowHr(E_POINTER, f);
    // The host keeps its own creation date.
    VARIANT_BOOL exists = VARIANT_FALSE;
    const _bstr_t creationDate(u"CreationDate");
    const _bstr_t ns(kCoreNamespace);
    YCheckHr(fileProperties->Exists(creationDate, ns, &exists));
    if (exists == VARIANT_TRUE) YCheckHr(fileProperties->Remove(creationDate, ns));
    ComPtr<IVelItem> merged = CVelItemHelpers::MergeItems(host, fileItem, 0);
    ComPtr<IVelItem> cloned;
    YCheckHr(merged->Clone(_variant_t(static_cast<IDispatch*>(host.GetInterfacePtr())), &cloned));
  });
}
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
                        [&](const YFrame& f) {
                          // The out-parameter is checked first: the right side of "=" runs before the left.
                          IVelItem** out = VelOutParam(ppiRetVal, f);
                          *out = ReadMetadataImpl(strFilePath).Detach();
                        });
}

HRESULT CVelItemSMS::WriteMetadata(BSTR strFilePath, IVelItem* pItem) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::WriteMetadata", kSource, __LINE__},
                        [&] { MergeFileIntoItem(strFilePath, pItem); });
}

HRESULT CVelItemSMS::GetItemPath(IVelItem* pItem, BSTR* pVal) {
  return VelComBoundary(kPlugin, kProgId, {u"CVelItemSMS::GetItemPath", kSource, __LINE__},
                        [&](const YFrame& f) { VelOutParam(pVal, f); });
}
