#include "framework/DateFolder.h"

#include "framework/ItemProperties.h"

#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YFormat.h"
#include "ylib/YTime.h"

namespace vel::framework {
namespace {

constexpr char16_t kSource[] = u"DateFolder";
constexpr int kLastWriteTime = 2;

// The core property's value; VT_EMPTY when the item has none (the item model
// refuses to read an absent key).
_variant_t ValueOf(IVelProperties* properties, const char16_t* name) {
  _variant_t value;
  if (Exists(properties, name, kCoreNamespace))
    YCheckHr(properties->get_Value(_bstr_t(name), _bstr_t(kCoreNamespace), value.GetAddress()));
  return value;
}

}  // namespace

std::u16string DateFolder(IVelItemPlugin* plugin, IVelItem* item) {
  return YErrorFrame({u"vel::framework::DateFolder", kSource, __LINE__}, [&](const YFrame& f) {
    if (!plugin) YThrow(kYErrInvalidParameter, f);
    // A missing item is a bad argument here (the shared helper calls it a null pointer).
    if (!item) YThrow(kYErrInvalidParameter, f);
    ComPtr<IVelProperties> properties = PropertiesOf(item, f);
    const _variant_t uriValue = ValueOf(properties, u"URI");
    const std::u16string uri = uriValue.vt == VT_BSTR ? BstrText(uriValue.bstrVal) : std::u16string();

    ComPtr<IVelItem> reread;
    if (!Exists(properties, u"CreationDate", kCoreNamespace)) {
      YCheckHr(plugin->ReadMetadata(_bstr_t(std::u16string_view(uri)), &reread));
      properties = PropertiesOf(reread, f);
    }

    DATE date = 0.0;
    if (Exists(properties, u"CreationDate", kCoreNamespace)) {
      _variant_t value = ValueOf(properties, u"CreationDate");
      value.ChangeType(VT_R8);
      date = value.dblVal;
    } else {
      date = CYTime::TimeToLocalTime(CYFileUtilities::GetFileTime(uri, kLastWriteTime, 0));
    }
    return YFormat(u"%d-%02d", CYTime::Year(date), CYTime::Month(date));
  });
}

}  // namespace vel::framework
