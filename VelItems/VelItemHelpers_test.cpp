// MergeItems over real host items (libVelItems.so registered in a fresh
// store), plus a test-only item that can hold one key twice, which the host's
// items never do.
#include "VelItems/VelItemHelpers.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/com/comobject.h"
#include "platform/registry/store.h"
#include "platform/text.h"
#include "platform/win32/winbase.h"
#include "testing/TempStore.h"
#include "ylib/YException.h"

using namespace vel::testing;

namespace {

constexpr char16_t kOther[] = u"urn:test:other";

struct Prop {
  const char16_t* name;
  const char16_t* ns;
  _variant_t value;
};

// An item holding the given properties in order, possibly one key twice.
class TestEnum : public vel::com::Implements<IEnumVARIANT> {
 public:
  std::vector<ComPtr<IVelProperty>> items;
  size_t at = 0;
  HRESULT Next(ULONG celt, VARIANT* out, ULONG* fetched) override {
    if (fetched) *fetched = 0;
    if (celt != 1) return E_INVALIDARG;
    VariantInit(out);
    if (at >= items.size()) return S_FALSE;
    out->vt = VT_DISPATCH;
    out->pdispVal = items[at++].get();
    out->pdispVal->AddRef();
    if (fetched) *fetched = 1;
    return S_OK;
  }
  HRESULT Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT Reset() override { return E_NOTIMPL; }
  HRESULT Clone(IEnumVARIANT**) override { return E_NOTIMPL; }
};

class TestItem : public vel::com::Implements<vel::com::DispatchImpl<IVelItem>, vel::com::DispatchImpl<IVelProperties>> {
 public:
  std::vector<ComPtr<IVelProperty>> properties;
  _bstr_t itemClass;
  _bstr_t label;

  HRESULT get_Label(BSTR* p) override { return (*p = label.copy(), S_OK); }
  HRESULT get_ItemClass(BSTR* p) override { return (*p = itemClass.copy(), S_OK); }
  HRESULT get_Properties(IVelProperties** pp) override { return QueryInterface(pp); }
  HRESULT get__NewEnum(IUnknown** pp) override {
    ComPtr<IEnumVARIANT> e;
    HRESULT hr = vel::com::CreateComObject<TestEnum>(&e);
    if (FAILED(hr)) return hr;
    static_cast<TestEnum*>(e.get())->items = properties;
    *pp = e.Detach();
    return S_OK;
  }
  // Not used by the merge.
  HRESULT get_Id(BSTR*) override { return E_NOTIMPL; }
  HRESULT put_Id(BSTR) override { return E_NOTIMPL; }
  HRESULT Clear() override { return E_NOTIMPL; }
  HRESULT put_Label(BSTR) override { return E_NOTIMPL; }
  HRESULT put_ItemClass(BSTR) override { return E_NOTIMPL; }
  HRESULT putref_Properties(IVelProperties*) override { return E_NOTIMPL; }
  HRESULT Clone(VARIANT, IVelItem**) override { return E_NOTIMPL; }
  HRESULT get_Item(LONG, IVelProperty**) override { return E_NOTIMPL; }
  HRESULT IndexOf(BSTR, BSTR, LONG*) override { return E_NOTIMPL; }
  HRESULT get_Value(BSTR, BSTR, VARIANT*) override { return E_NOTIMPL; }
  HRESULT put_Value(BSTR, BSTR, VARIANT) override { return E_NOTIMPL; }
  HRESULT Add(VARIANT, BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT Remove(BSTR, BSTR) override { return E_NOTIMPL; }
  HRESULT get_Count(LONG*) override { return E_NOTIMPL; }
  HRESULT Find(BSTR, BSTR, IVelProperty**) override { return E_NOTIMPL; }
  HRESULT Exists(BSTR, BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
};

class MergeItems : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    ASSERT_EQ(store_->RegisterModule("libVelItems.so"), "");
  }

  static ComPtr<IVelItem> Item(const std::vector<Prop>& props, const char16_t* cls = u"", const char16_t* label = u"") {
    ComPtr<IVelItem> item;
    EXPECT_EQ(CoCreateInstance(CLSID_VelItem, nullptr, CLSCTX_ALL, IID_IVelItem, reinterpret_cast<void**>(&item)),
              S_OK);
    ComPtr<IVelProperties> set;
    EXPECT_EQ(item->get_Properties(&set), S_OK);
    for (const Prop& p : props) EXPECT_EQ(set->Add(p.value, _bstr_t(p.name), _bstr_t(p.ns)), S_OK);
    EXPECT_EQ(item->put_ItemClass(_bstr_t(cls)), S_OK);
    EXPECT_EQ(item->put_Label(_bstr_t(label)), S_OK);
    return item;
  }

  // A test item: each property lives in a host item of its own, so one key can occur twice.
  static ComPtr<IVelItem> Duplicating(const std::vector<Prop>& props, const char16_t* cls = u"") {
    ComPtr<IVelItem> result;
    EXPECT_EQ(vel::com::CreateComObject<TestItem>(&result), S_OK);
    auto* item = static_cast<TestItem*>(static_cast<vel::com::DispatchImpl<IVelItem>*>(result.get()));
    item->itemClass = cls;
    for (const Prop& p : props) {
      ComPtr<IVelItem> holder = Item({p});
      ComPtr<IVelProperties> set;
      holder->get_Properties(&set);
      ComPtr<IUnknown> unk;
      set->get__NewEnum(&unk);
      ComPtr<IEnumVARIANT> e(unk);
      _variant_t v;
      ULONG n = 0;
      EXPECT_EQ(e->Next(1, v.GetAddress(), &n), S_OK);
      item->properties.push_back(ComPtr<IVelProperty>(static_cast<const VARIANT&>(v)));
    }
    return result;
  }

  // "name|ns=text" per property in order, then "class=", "label=".
  static std::vector<std::string> Dump(IVelItem* item) {
    std::vector<std::string> out;
    ComPtr<IVelProperties> set;
    item->get_Properties(&set);
    ComPtr<IUnknown> unk;
    set->get__NewEnum(&unk);
    ComPtr<IEnumVARIANT> e(unk);
    for (;;) {
      _variant_t v;
      ULONG n = 0;
      if (e->Next(1, v.GetAddress(), &n) != S_OK || n == 0) break;
      ComPtr<IVelProperty> p(static_cast<const VARIANT&>(v));
      _bstr_t name, ns, text;
      p->get_Name(name.GetAddress());
      p->get_Namespace(ns.GetAddress());
      p->get_Text(text.GetAddress());
      out.push_back(vel::ToUtf8(std::u16string(name.view())) + "|" +
                    (ns == _bstr_t(kCoreNamespace) ? std::string("core") : vel::ToUtf8(std::u16string(ns.view()))) +
                    "=" + vel::ToUtf8(std::u16string(text.view())));
    }
    _bstr_t cls, label;
    item->get_ItemClass(cls.GetAddress());
    item->get_Label(label.GetAddress());
    out.push_back("class=" + vel::ToUtf8(std::u16string(cls.view())));
    out.push_back("label=" + vel::ToUtf8(std::u16string(label.view())));
    return out;
  }
};

using Lines = std::vector<std::string>;

TEST_F(MergeItems, ModesDecideSharedPropertiesClassAndLabel) {
  // a: Title A, Artist X; b: Title B, Album Y, and two b-only keys that sort "Alpha" before "Zeta".
  ComPtr<IVelItem> a = Item({{u"Title", kCoreNamespace, u"A"}, {u"Artist", kCoreNamespace, u"X"},
                             {u"Count", kCoreNamespace, _variant_t(5)}, {u"Same", kCoreNamespace, u"s"}},
                            u"Audio", u"la");
  ComPtr<IVelItem> b = Item({{u"Zeta", kCoreNamespace, u"z"}, {u"Title", kCoreNamespace, u"B"},
                             {u"Count", kCoreNamespace, _variant_t(short{5})}, {u"Same", kCoreNamespace, u"s"},
                             {u"Alpha", kCoreNamespace, u"y"}, {u"Title", kOther, u"other"}},
                            u"Video", u"lb");
  struct Row {
    int mode;
    Lines expected;
  };
  const Row rows[] = {
      {0, {"Title|core=B", "Artist|core=X", "Count|core=5", "Same|core=s", "Alpha|core=y", "Title|urn:test:other=other",
           "Zeta|core=z", "class=Video", "label=lb"}},
      {1, {"Title|core=A", "Artist|core=X", "Count|core=5", "Same|core=s", "Alpha|core=y", "Title|urn:test:other=other",
           "Zeta|core=z", "class=Audio", "label=la"}},
      // Equal values only: "Count" differs in type (VT_I4 against VT_I2).
      {2, {"Artist|core=X", "Same|core=s", "Alpha|core=y", "Title|urn:test:other=other", "Zeta|core=z", "class=",
           "label="}},
      {7, {"Artist|core=X", "Alpha|core=y", "Title|urn:test:other=other", "Zeta|core=z", "class=", "label="}},
  };
  for (const Row& r : rows) {
    ComPtr<IVelItem> merged = CVelItemHelpers::MergeItems(a, b, r.mode);
    ASSERT_TRUE(merged) << "mode " << r.mode;
    EXPECT_EQ(Dump(merged), r.expected) << "mode " << r.mode;
  }
}

TEST_F(MergeItems, AOneSidedClassOrLabelIsTakenInEveryMode) {
  for (int mode : {0, 1, 2, 7}) {
    ComPtr<IVelItem> merged =
        CVelItemHelpers::MergeItems(Item({}, u"Audio", u""), Item({}, u"", u"from b"), mode);
    EXPECT_EQ(Dump(merged), (Lines{"class=Audio", "label=from b"})) << "mode " << mode;
  }
}

TEST_F(MergeItems, AnItemMergedWithItselfKeepsItsProperties) {
  ComPtr<IVelItem> a = Item({{u"Title", kCoreNamespace, u"T"}, {u"Bitrate", kCoreNamespace, _variant_t(128)}},
                            u"Audio", u"l");
  EXPECT_EQ(Dump(CVelItemHelpers::MergeItems(a, a, 0)), Dump(a));
}

TEST_F(MergeItems, DuplicatedKeys) {
  // b holds Title twice: only its first can be taken.
  ComPtr<IVelItem> merged = CVelItemHelpers::MergeItems(
      Item({{u"Title", kCoreNamespace, u"a"}}),
      Duplicating({{u"Title", kCoreNamespace, u"first"}, {u"Title", kCoreNamespace, u"second"}}), 0);
  EXPECT_EQ(Dump(merged), (Lines{"Title|core=first", "class=", "label="}));

  // a holds Title twice: its second occurrence finds no entry of b any more and is added as a-only.
  merged = CVelItemHelpers::MergeItems(
      Duplicating({{u"Title", kCoreNamespace, u"a1"}, {u"Title", kCoreNamespace, u"a2"}}, u"Audio"),
      Item({{u"Title", kCoreNamespace, u"b"}}), 2);
  EXPECT_EQ(Dump(merged), (Lines{"Title|core=a2", "class=Audio", "label="}));
}

TEST_F(MergeItems, NullArguments) {
  EXPECT_FALSE(CVelItemHelpers::MergeItems(nullptr, nullptr, 0));
  ComPtr<IVelItem> a = Item({});
  for (auto [x, y] : {std::pair<IVelItem*, IVelItem*>{a.get(), nullptr}, {nullptr, a.get()}}) {
    try {
      CVelItemHelpers::MergeItems(x, y, 0);
      ADD_FAILURE() << "no report for one null argument";
    } catch (const CYException& e) {
      EXPECT_EQ(e.GetCode(), 1010);
      EXPECT_NE(e.GetXml().find(u"CVelItemHelpers::MergeItems"), std::u16string::npos);
    }
  }
}

}  // namespace
