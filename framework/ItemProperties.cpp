#include "framework/ItemProperties.h"

#include "platform/base/Ascii.h"
#include "platform/com/oleauto.h"
#include "ylib/YCOMUtilities.h"
#include "ylib/YException.h"
#include "ylib/YFileUtilities.h"

namespace vel::framework {

namespace {
constexpr char16_t kSource[] = u"ItemProperties";
}

std::u16string BstrText(BSTR text) { return std::u16string(BstrView(text)); }

std::u16string_view BstrView(BSTR text) {
  return text ? std::u16string_view(text, SysStringLen(text)) : std::u16string_view();
}

bool IsEmptyValue(const VARIANT& value) {
  return value.vt == VT_EMPTY ||
         (value.vt == VT_BSTR && (value.bstrVal == nullptr || SysStringLen(value.bstrVal) == 0));
}

ComPtr<IVelItem> NewItem() {
  return YErrorFrame({u"vel::framework::NewItem", kSource, __LINE__}, [&] {
    ComPtr<IUnknown> created = CYCOMUtils::CreateObject(CLSID_VelItem, u"VelItemsLib::VelItem", CLSCTX_ALL);
    ComPtr<IVelItem> item;
    YCheckHr(created.QueryInterface(item));
    return item;
  });
}

ComPtr<IVelProperties> PropertiesOf(IVelItem* item, const YFrame& f) {
  if (!item) YThrowHr(E_POINTER, f);
  ComPtr<IVelProperties> properties;
  YCheckHr(item->get_Properties(&properties));
  if (!properties) YThrowHr(E_POINTER, f);
  return properties;
}

void Put(IVelProperties* properties, const char16_t* name, const char16_t* ns, const _variant_t& value) {
  YCheckHr(properties->put_Value(_bstr_t(name), _bstr_t(ns), value));
}

void Put(IVelProperties* properties, const char16_t* name, const _variant_t& value) {
  Put(properties, name, kCoreNamespace, value);
}

void PutText(IVelProperties* properties, const char16_t* name, std::u16string_view text) {
  Put(properties, name, kCoreNamespace, _variant_t(text));
}

void Add(IVelProperties* properties, const _variant_t& value, std::u16string_view name, std::u16string_view ns) {
  YCheckHr(properties->Add(value, _bstr_t(name), _bstr_t(ns)));
}

bool Exists(IVelProperties* properties, const char16_t* name, const char16_t* ns) {
  VARIANT_BOOL exists = VARIANT_FALSE;
  YCheckHr(properties->Exists(_bstr_t(name), _bstr_t(ns), &exists));
  return exists == VARIANT_TRUE;
}

std::u16string PropertyName(IVelProperty* property) {
  _bstr_t name;
  YCheckHr(property->get_Name(name.GetAddress()));
  return std::u16string(name.view());
}

std::u16string PropertyNamespace(IVelProperty* property) {
  _bstr_t ns;
  YCheckHr(property->get_Namespace(ns.GetAddress()));
  return std::u16string(ns.view());
}

std::u16string LowerExtension(std::u16string_view path) {
  return vel::AsciiLowered(CYFileUtilities::GetFileExtension(path));
}

}  // namespace vel::framework
