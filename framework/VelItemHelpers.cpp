#include "framework/VelItemHelpers.h"

#include <map>
#include <string>
#include <vector>

#include "ylib/YCOMUtilities.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"VelItemHelpers";

struct Property {
  _bstr_t name;
  _bstr_t ns;
  _variant_t value;
};

std::u16string KeyOf(const Property& p) {
  return std::u16string(p.name.view()) + u"|" + std::u16string(p.ns.view());
}

// The item's properties in its enumeration order.
std::vector<Property> ReadProperties(IVelItem* item) {
  return YErrorFrame({u"CVelItemHelpers::ReadProperties", kSource, __LINE__}, [&](const YFrame& f) {
    ComPtr<IVelProperties> properties;
    YCheckHr(item->get_Properties(&properties));
    if (!properties) YThrowHr(E_POINTER, f);
    ComPtr<IUnknown> unknown;
    YCheckHr(properties->get__NewEnum(&unknown));
    if (!unknown) YThrowHr(E_POINTER, f);
    ComPtr<IEnumVARIANT> enumerator;
    YCheckHr(unknown.QueryInterface(enumerator));
    std::vector<Property> result;
    for (;;) {
      _variant_t element;
      ULONG fetched = 0;
      const HRESULT hr = enumerator->Next(1, element.GetAddress(), &fetched);
      YCheckHr(hr);
      if (hr == S_FALSE || fetched == 0) break;
      // An element that is no property is passed over.
      ComPtr<IVelProperty> property(static_cast<const VARIANT&>(element));
      if (!property) continue;
      Property p;
      YCheckHr(property->get_Name(p.name.GetAddress()));
      YCheckHr(property->get_Namespace(p.ns.GetAddress()));
      YCheckHr(property->get_Value(p.value.GetAddress()));
      result.push_back(std::move(p));
    }
    return result;
  });
}

// Same type and equal content. Types without a defined equality (records)
// never count as equal, so mode 2 leaves such a property out.
bool SameValue(const _variant_t& a, const _variant_t& b) {
  try {
    return a == b;
  } catch (const _com_error&) {
    return false;
  }
}

// The class (or label) rule: a one-sided text is taken; with both set,
// mode 0 takes b's, mode 1 a's and other modes none.
void MergeText(IVelItem* a, IVelItem* b, IVelItem* result, int mode, HRESULT (IVelItem::*get)(BSTR*),
               HRESULT (IVelItem::*put)(BSTR)) {
  YErrorFrame({u"CVelItemHelpers::MergeText", kSource, __LINE__}, [&] {
    _bstr_t textA;
    _bstr_t textB;
    YCheckHr((a->*get)(textA.GetAddress()));
    YCheckHr((b->*get)(textB.GetAddress()));
    if (textA.length() == 0)
      YCheckHr((result->*put)(textB));
    else if (textB.length() == 0)
      YCheckHr((result->*put)(textA));
    else if (mode == 0)
      YCheckHr((result->*put)(textB));
    else if (mode == 1)
      YCheckHr((result->*put)(textA));
  });
}

}  // namespace

ComPtr<IVelItem> CVelItemHelpers::MergeItems(IVelItem* a, IVelItem* b, int mode) {
  return YErrorFrame({u"CVelItemHelpers::MergeItems", kSource, __LINE__}, [&](const YFrame& f) {
    if (!a && !b) return ComPtr<IVelItem>();
    if (!a || !b) YThrow(kYErrInvalidParameter, f);

    ComPtr<IVelItem> result;
    ComPtr<IUnknown> created = CYCOMUtils::CreateObject(CLSID_VelItem, u"VelItemsLib::VelItem", CLSCTX_ALL);
    YCheckHr(created.QueryInterface(result));
    ComPtr<IVelProperties> target;
    YCheckHr(result->get_Properties(&target));
    if (!target) YThrowHr(E_POINTER, f);
    auto add = [&](const Property& p) { YCheckHr(target->Add(p.value, p.name, p.ns)); };

    // b's properties by key, ordinal order; equal keys keep b's order.
    std::multimap<std::u16string, Property> fromB;
    for (Property& p : ReadProperties(b)) {
      std::u16string key = KeyOf(p);
      fromB.emplace(std::move(key), std::move(p));
    }

    for (const Property& p : ReadProperties(a)) {
      auto [first, last] = fromB.equal_range(KeyOf(p));
      if (first == last) {
        add(p);
        continue;
      }
      const Property& q = first->second;
      if (mode == 0)
        add(q);
      else if (mode == 1)
        add(p);
      else if (mode == 2 && SameValue(p.value, q.value))
        add(p);
      fromB.erase(first, last);
    }
    for (const auto& [key, p] : fromB) add(p);

    MergeText(a, b, result, mode, &IVelItem::get_ItemClass, &IVelItem::put_ItemClass);
    MergeText(a, b, result, mode, &IVelItem::get_Label, &IVelItem::put_Label);
    return result;
  });
}
