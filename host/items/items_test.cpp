// libVelItems.so driven as a host drives it: registered by its own
// DllRegisterServer, created through COM activation, called through the
// VelItemsLib interfaces and through IDispatch.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "framework/VelItems.h"
#include "platform/com/comdef.h"
#include "platform/win32/winbase.h"
#include "testing/TempStore.h"

using namespace vel::testing;

namespace {

using EntryPoint = HRESULT (*)();
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);

std::string Narrow(const char16_t* s) { return s ? vel::ToUtf8(s) : std::string(); }

std::string GuidText(const GUID& g) {
  OLECHAR text[40];
  StringFromGUID2(g, text, 40);
  return Narrow(text);
}

// A VARIANT as "vt:text" for failure messages and comparisons.
std::string Describe(const VARIANT& v) {
  std::string text = std::to_string(v.vt) + ":";
  if (v.vt == VT_EMPTY || v.vt == VT_NULL) return text;
  if (v.vt & VT_ARRAY) return text + "array";
  VARIANT s;
  VariantInit(&s);
  if (SUCCEEDED(VariantChangeType(&s, &v, 0, VT_BSTR))) text += Narrow(s.bstrVal);
  VariantClear(&s);
  return text;
}

std::string ShortNs(const std::u16string& ns) {
  if (ns == kCoreNamespace) return "core";
  if (ns == kExtendedNamespace) return "ext";
  return Narrow(ns.c_str());
}

_variant_t Missing() {
  _variant_t v;
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

template <class T>
_variant_t Array(VARTYPE vt, std::initializer_list<T> elements) {
  SAFEARRAY* sa = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(elements.size()));
  void* data = nullptr;
  SafeArrayAccessData(sa, &data);
  std::copy(elements.begin(), elements.end(), static_cast<T*>(data));
  SafeArrayUnaccessData(sa);
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | vt;
  v.parray = sa;
  return _variant_t(v, false);
}
_variant_t ByteArray(std::initializer_list<BYTE> bytes) { return Array<BYTE>(VT_UI1, bytes); }

class ItemsTest : public TempStore {
 protected:
  void SetUp() override {
    TempStore::SetUp();
    const char* bin = std::getenv("VEL_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    path_ = std::string(bin) + "/libVelItems.so";
    module_ = LoadLibraryW(vel::FromUtf8(path_).c_str());
    ASSERT_NE(module_, nullptr) << path_;
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
    TempStore::TearDown();
  }

  HRESULT Call(const char* entry) {
    auto fn = reinterpret_cast<EntryPoint>(GetProcAddress(module_, entry));
    return fn ? fn() : E_NOTIMPL;
  }

  static ComPtr<IVelItem> NewItem() {
    ComPtr<IVelItem> item;
    EXPECT_EQ(item.CreateInstance(CLSID_VelItem), S_OK);
    return item;
  }
  static ComPtr<IVelProperties> Props(IVelItem* item) {
    ComPtr<IVelProperties> props;
    EXPECT_EQ(item->get_Properties(&props), S_OK);
    return props;
  }
  static HRESULT Put(IVelItem* item, const char16_t* name, const char16_t* ns, const _variant_t& value) {
    return Props(item)->put_Value(_bstr_t(name).GetBSTR(), _bstr_t(ns).GetBSTR(), value);
  }
  static std::string Class(IVelItem* item) {
    BSTR s = nullptr;
    EXPECT_EQ(item->get_ItemClass(&s), S_OK);
    _bstr_t owned(s, false);
    return Narrow(s);
  }
  static std::string Label(IVelItem* item) {
    BSTR s = nullptr;
    EXPECT_EQ(item->get_Label(&s), S_OK);
    _bstr_t owned(s, false);
    return Narrow(s);
  }

  // The properties in enumeration order as "name|ns=vt:value"; every element
  // must be a VT_DISPATCH IVelProperty.
  static std::vector<std::string> Listing(IVelItem* item) {
    std::vector<std::string> out;
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(Props(item)->get__NewEnum(&unknown), S_OK);
    ComPtr<IEnumVARIANT> e;
    EXPECT_EQ(unknown.QueryInterface(e), S_OK);
    if (!e) return out;
    for (;;) {
      _variant_t element;
      ULONG fetched = 9;
      HRESULT hr = e->Next(1, element.GetAddress(), &fetched);
      if (hr != S_OK) {
        EXPECT_EQ(hr, S_FALSE);
        EXPECT_EQ(fetched, 0u);
        break;
      }
      EXPECT_EQ(element.vt, VT_DISPATCH);
      ComPtr<IVelProperty> p;
      EXPECT_EQ(element.punkVal->QueryInterface(IID_IVelProperty, reinterpret_cast<void**>(&p)), S_OK);
      BSTR name = nullptr, ns = nullptr;
      _variant_t value;
      p->get_Name(&name);
      p->get_Namespace(&ns);
      p->get_Value(value.GetAddress());
      out.push_back(Narrow(name) + "|" + ShortNs(ns ? ns : u"") + "=" + Describe(value));
      SysFreeString(name);
      SysFreeString(ns);
    }
    return out;
  }

  std::string path_;
  HMODULE module_ = nullptr;
};

using Strings = std::vector<std::string>;

// Argument arrays below are _variant_t arrays handed out as VARIANT arrays.
static_assert(sizeof(_variant_t) == sizeof(VARIANT));

// put_Value, Add and Remove, step by step, with the whole item after each step.
TEST_F(ItemsTest, PropertyOperationsKeepOneOrderedEntryPerKey) {
  enum class Op { Put, Add, Remove };
  struct Step {
    const char* what;
    Op op;
    const char16_t* name;
    const char16_t* ns;
    _variant_t value;
    HRESULT hr;
    Strings after;
  };
  const char16_t* core = kCoreNamespace;
  const char16_t* ext = kExtendedNamespace;
  const Step steps[] = {
      {"put appends", Op::Put, u"Title", core, u"A", S_OK, {"Title|core=8:A"}},
      {"put appends a second", Op::Put, u"Artist", core, u"B", S_OK, {"Title|core=8:A", "Artist|core=8:B"}},
      {"put replaces in place", Op::Put, u"Title", core, 7, S_OK, {"Title|core=3:7", "Artist|core=8:B"}},
      {"add appends", Op::Add, u"Album", core, u"C", S_OK, {"Title|core=3:7", "Artist|core=8:B", "Album|core=8:C"}},
      {"add of a present key replaces in place", Op::Add, u"Title", core, u"D", S_OK,
       {"Title|core=8:D", "Artist|core=8:B", "Album|core=8:C"}},
      {"names compare with case", Op::Add, u"title", core, u"e", S_OK,
       {"Title|core=8:D", "Artist|core=8:B", "Album|core=8:C", "title|core=8:e"}},
      {"the namespace is part of the key", Op::Put, u"Title", ext, u"F", S_OK,
       {"Title|core=8:D", "Artist|core=8:B", "Album|core=8:C", "title|core=8:e", "Title|ext=8:F"}},
      {"remove keeps the order of the rest", Op::Remove, u"Artist", core, {}, S_OK,
       {"Title|core=8:D", "Album|core=8:C", "title|core=8:e", "Title|ext=8:F"}},
      {"remove of an absent key succeeds", Op::Remove, u"Artist", core, {}, S_OK,
       {"Title|core=8:D", "Album|core=8:C", "title|core=8:e", "Title|ext=8:F"}},
      {"remove needs the namespace", Op::Remove, u"Album", ext, {}, S_OK,
       {"Title|core=8:D", "Album|core=8:C", "title|core=8:e", "Title|ext=8:F"}},
      {"an empty value is a value", Op::Put, u"Genre", core, _variant_t(), S_OK,
       {"Title|core=8:D", "Album|core=8:C", "title|core=8:e", "Title|ext=8:F", "Genre|core=0:"}},
      {"put without a name fails", Op::Put, u"", core, u"x", E_INVALIDARG,
       {"Title|core=8:D", "Album|core=8:C", "title|core=8:e", "Title|ext=8:F", "Genre|core=0:"}},
      {"add without a name fails", Op::Add, nullptr, core, u"x", E_INVALIDARG,
       {"Title|core=8:D", "Album|core=8:C", "title|core=8:e", "Title|ext=8:F", "Genre|core=0:"}},
  };
  ComPtr<IVelItem> item = NewItem();
  ComPtr<IVelProperties> props = Props(item);
  for (const Step& s : steps) {
    _bstr_t name(s.name), ns(s.ns);
    HRESULT hr = s.op == Op::Put   ? props->put_Value(name.GetBSTR(), ns.GetBSTR(), s.value)
                 : s.op == Op::Add ? props->Add(s.value, name.GetBSTR(), ns.GetBSTR())
                                   : props->Remove(name.GetBSTR(), ns.GetBSTR());
    EXPECT_EQ(hr, s.hr) << s.what;
    EXPECT_EQ(Listing(item), s.after) << s.what;
    LONG count = -1;
    EXPECT_EQ(props->get_Count(&count), S_OK);
    EXPECT_EQ(count, static_cast<LONG>(s.after.size())) << s.what;
  }

  // Exists and get_Value against the final state.
  struct Query {
    const char16_t* name;
    const char16_t* ns;
    bool exists;
    std::string value;
  };
  const Query queries[] = {
      {u"Title", core, true, "8:D"},  {u"Title", ext, true, "8:F"}, {u"TITLE", core, false, ""},
      {u"Album", ext, false, ""},     {u"Genre", core, true, "0:"}, {u"Title", u"", false, ""},
  };
  for (const Query& q : queries) {
    const std::string row = Narrow(q.name) + "|" + ShortNs(q.ns);
    _bstr_t name(q.name), ns(q.ns);
    VARIANT_BOOL exists = 7;
    EXPECT_EQ(props->Exists(name.GetBSTR(), ns.GetBSTR(), &exists), S_OK) << row;
    EXPECT_EQ(exists, q.exists ? VARIANT_TRUE : VARIANT_FALSE) << row;
    _variant_t value;
    SetErrorInfo(0, nullptr);
    HRESULT hr = props->get_Value(name.GetBSTR(), ns.GetBSTR(), value.GetAddress());
    if (q.exists) {
      EXPECT_EQ(hr, S_OK) << row;
      EXPECT_EQ(Describe(value), q.value) << row;
    } else {
      EXPECT_EQ(hr, E_INVALIDARG) << row;
      EXPECT_EQ(value.vt, VT_EMPTY) << row;
      IErrorInfo* info = nullptr;
      ASSERT_EQ(GetErrorInfo(0, &info), S_OK) << row;
      _com_error error(hr, info);
      EXPECT_EQ(Narrow(error.Source()), "VelItemsLib.VelItem.1") << row;
      EXPECT_EQ(error.GUID(), IID_IVelProperties) << row;
      EXPECT_NE(Narrow(error.Description()).find(Narrow(q.name)), std::string::npos) << row;
    }
  }
}

// A value passed by reference is stored as what it points to at that moment.
TEST_F(ItemsTest, ByReferenceValuesAreStoredDereferenced) {
  ComPtr<IVelItem> item = NewItem();
  LONG number = 5;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &number;
  ASSERT_EQ(Put(item, u"Track", kCoreNamespace, _variant_t(&ref)), S_OK);
  number = 6;
  EXPECT_EQ(Listing(item), Strings{"Track|core=3:5"});
}

TEST_F(ItemsTest, EnumerationIsAnOrderedSnapshotOfPropertyObjects) {
  ComPtr<IVelItem> item = NewItem();
  Put(item, u"A", kCoreNamespace, 1);
  Put(item, u"B", kExtendedNamespace, u"two");
  Put(item, u"Picture", kExtendedNamespace, ByteArray({1, 2, 3}));
  ComPtr<IVelProperties> props = Props(item);
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(props->get__NewEnum(&unknown), S_OK);
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unknown.QueryInterface(e), S_OK);

  // Later changes to the item do not reach an enumerator handed out before.
  Props(item)->Remove(_bstr_t(u"A").GetBSTR(), _bstr_t(kCoreNamespace).GetBSTR());
  Put(item, u"B", kExtendedNamespace, u"changed");
  Put(item, u"C", kCoreNamespace, 3);

  auto names = [](VARIANT* v, ULONG n) {
    std::string out;
    for (ULONG i = 0; i < n; ++i) {
      EXPECT_EQ(v[i].vt, VT_DISPATCH);
      ComPtr<IVelProperty> p;
      if (v[i].vt != VT_DISPATCH || FAILED(v[i].pdispVal->QueryInterface(IID_IVelProperty, reinterpret_cast<void**>(&p))))
        return out + "?";
      BSTR name = nullptr;
      _variant_t value;
      p->get_Name(&name);
      p->get_Value(value.GetAddress());
      out += Narrow(name) + "=" + Describe(value) + ";";
      SysFreeString(name);
    }
    return out;
  };
  VARIANT v[3];
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(2, v, &fetched), S_OK);
  EXPECT_EQ(fetched, 2u);
  EXPECT_EQ(names(v, fetched), "A=3:1;B=8:two;");
  for (ULONG i = 0; i < fetched; ++i) VariantClear(&v[i]);

  ASSERT_EQ(e->Next(3, v, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 1u);
  EXPECT_EQ(names(v, fetched), "Picture=8209:array;");
  for (ULONG i = 0; i < fetched; ++i) VariantClear(&v[i]);
  EXPECT_EQ(e->Next(1, v, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(v[0].vt, VT_EMPTY);

  // Reset, Skip and Clone move through the same snapshot.
  EXPECT_EQ(e->Reset(), S_OK);
  EXPECT_EQ(e->Skip(1), S_OK);
  ComPtr<IEnumVARIANT> copy;
  ASSERT_EQ(e->Clone(&copy), S_OK);
  EXPECT_EQ(e->Skip(5), S_FALSE);
  ASSERT_EQ(copy->Next(1, v, nullptr), S_OK);
  EXPECT_EQ(names(v, 1), "B=8:two;");
  VariantClear(&v[0]);
  EXPECT_EQ(copy->Next(2, v, nullptr), E_POINTER);

  EXPECT_EQ(Listing(item), (Strings{"B|ext=8:changed", "Picture|ext=8209:array", "C|core=3:3"}));
}

// The members of a property that the module does not call, read once each.
TEST_F(ItemsTest, PropertyObjectDescribesItsValue) {
  ComPtr<IVelItem> item = NewItem();
  Put(item, u"Title", kCoreNamespace, u"Song");
  Put(item, u"Numbers", kExtendedNamespace, Array<LONG>(VT_I4, {1, 2}));
  Put(item, u"Flag", u"", _variant_t(true));
  struct Row {
    LONG index;
    LONG vt;
    const char* typeName;
    const char* expanded;
    VARIANT_BOOL isArray;
    const char* text;  // null: no text form
  };
  const Row rows[] = {
      {0, VT_BSTR, "VT_BSTR", "{urn:zandor:vel:core}Title", VARIANT_FALSE, "Song"},
      {1, VT_ARRAY | VT_I4, "VT_ARRAY|VT_I4", "{urn:zandor:vel:extended}Numbers", VARIANT_TRUE, nullptr},
      {2, VT_BOOL, "VT_BOOL", "Flag", VARIANT_FALSE, "True"},
  };
  ComPtr<IVelProperties> props = Props(item);
  for (const Row& r : rows) {
    ComPtr<IVelProperty> p;
    ASSERT_EQ(props->get_Item(r.index, &p), S_OK) << r.expanded;
    LONG index = -1, vt = -1;
    VARIANT_BOOL isArray = 1;
    BSTR typeName = nullptr, expanded = nullptr, text = nullptr;
    EXPECT_EQ(p->get_Index(&index), S_OK);
    EXPECT_EQ(index, r.index) << r.expanded;
    p->get_ValueType(&vt);
    EXPECT_EQ(vt, r.vt) << r.expanded;
    p->get_IsArray(&isArray);
    EXPECT_EQ(isArray, r.isArray) << r.expanded;
    p->get_ValueTypeName(&typeName);
    EXPECT_EQ(Narrow(typeName), r.typeName);
    p->get_ExpandedName(&expanded);
    EXPECT_EQ(Narrow(expanded), r.expanded);
    HRESULT hr = p->get_Text(&text);
    if (r.text) {
      EXPECT_EQ(hr, S_OK) << r.expanded;
      EXPECT_EQ(Narrow(text), r.text);
    } else {
      EXPECT_TRUE(FAILED(hr)) << r.expanded;
      EXPECT_EQ(text, nullptr);
    }
    SysFreeString(typeName);
    SysFreeString(expanded);
    SysFreeString(text);
  }
  ComPtr<IVelProperty> none;
  EXPECT_EQ(props->get_Item(3, &none), DISP_E_BADINDEX);
  EXPECT_EQ(props->Find(_bstr_t(u"Title").GetBSTR(), _bstr_t(u"").GetBSTR(), &none), S_FALSE);
  EXPECT_EQ(none.get(), nullptr);
}

class CloneMissing : public ItemsTest, public ::testing::WithParamInterface<int> {};

TEST_P(CloneMissing, MakesAnIndependentCopy) {
  _variant_t missing = GetParam() == 0 ? Missing() : _variant_t();
  ComPtr<IVelItem> source = NewItem();
  Put(source, u"Title", kCoreNamespace, u"Song");
  Put(source, u"Picture", kExtendedNamespace, ByteArray({9, 8}));
  source->put_ItemClass(_bstr_t(u"Audio").GetBSTR());
  source->put_Label(_bstr_t(u"label").GetBSTR());
  source->put_Id(_bstr_t(u"id-1").GetBSTR());
  const Strings content = Listing(source);

  ComPtr<IVelItem> copy;
  ASSERT_EQ(source->Clone(missing, &copy), S_OK);
  ASSERT_TRUE(copy);
  EXPECT_FALSE(copy.IsSameObject(source.get()));
  EXPECT_EQ(Listing(copy), content);
  EXPECT_EQ(Class(copy), "Audio");
  EXPECT_EQ(Label(copy), "label");
  BSTR id = nullptr;
  copy->get_Id(&id);
  EXPECT_EQ(Narrow(id), "") << "a copy is another item";
  SysFreeString(id);

  // Changing either one leaves the other as it was.
  Put(copy, u"Title", kCoreNamespace, u"Other");
  Props(copy)->Remove(_bstr_t(u"Picture").GetBSTR(), _bstr_t(kExtendedNamespace).GetBSTR());
  copy->put_ItemClass(_bstr_t(u"Video").GetBSTR());
  EXPECT_EQ(Listing(source), content);
  EXPECT_EQ(Class(source), "Audio");
  Put(source, u"New", kCoreNamespace, 1);
  EXPECT_EQ(Listing(copy), Strings{"Title|core=8:Other"});
}
INSTANTIATE_TEST_SUITE_P(Items, CloneMissing, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "ParamNotFound" : "Empty"; });

TEST_F(ItemsTest, CloneIntoAnItemReplacesItsContent) {
  ComPtr<IVelItem> source = NewItem();
  Put(source, u"Title", kCoreNamespace, u"Song");
  Put(source, u"Duration", kCoreNamespace, 12.5);
  source->put_ItemClass(_bstr_t(u"Video").GetBSTR());
  source->put_Label(_bstr_t(u"from file").GetBSTR());
  const Strings content = Listing(source);

  for (VARTYPE vt : {VT_DISPATCH, VT_UNKNOWN}) {
    ComPtr<IVelItem> target = NewItem();
    Put(target, u"HostOnly", kExtendedNamespace, 1);
    Put(target, u"Title", kCoreNamespace, u"old");
    target->put_ItemClass(_bstr_t(u"Image").GetBSTR());
    target->put_Id(_bstr_t(u"host-id").GetBSTR());
    _variant_t t(static_cast<IDispatch*>(target.get()));
    if (vt == VT_UNKNOWN) t = _variant_t(static_cast<IUnknown*>(target.get()));

    ComPtr<IVelItem> result;
    ASSERT_EQ(source->Clone(t, &result), S_OK) << vt;
    EXPECT_TRUE(result.IsSameObject(target.get())) << vt;
    EXPECT_EQ(Listing(target), content) << vt;
    EXPECT_EQ(Class(target), "Video");
    EXPECT_EQ(Label(target), "from file");
    BSTR id = nullptr;
    target->get_Id(&id);
    EXPECT_EQ(Narrow(id), "host-id") << "the target stays the item it was";
    SysFreeString(id);
    Put(target, u"Title", kCoreNamespace, u"changed");
    EXPECT_EQ(Listing(source), content) << vt;
  }

  // Into itself: nothing changes.
  ComPtr<IVelItem> same;
  ASSERT_EQ(source->Clone(_variant_t(static_cast<IDispatch*>(source.get())), &same), S_OK);
  EXPECT_TRUE(same.IsSameObject(source.get()));
  EXPECT_EQ(Listing(source), content);

  // Targets that are neither missing nor an item.
  ComPtr<IVelEnum> list;
  ASSERT_EQ(list.CreateInstance(CLSID_VelEnum), S_OK);
  struct Bad {
    const char* what;
    _variant_t target;
  };
  const Bad bad[] = {
      {"number", _variant_t(5)},
      {"null object", _variant_t(static_cast<IDispatch*>(nullptr))},
      {"not an item", _variant_t(static_cast<IUnknown*>(list.get()))},
      {"other error", [] { _variant_t v; v.vt = VT_ERROR; v.scode = E_FAIL; return v; }()},
  };
  for (const Bad& b : bad) {
    ComPtr<IVelItem> result;
    EXPECT_EQ(source->Clone(b.target, &result), E_INVALIDARG) << b.what;
    EXPECT_EQ(result.get(), nullptr) << b.what;
  }
}

// An item of another copy of the library is reached through its interfaces only.
TEST_F(ItemsTest, CloneWorksWithItemsOfAnotherImplementation) {
  const std::string copyPath = dir_ + "/libVelItemsCopy.so";
  std::filesystem::copy_file(path_, copyPath);
  HMODULE other = LoadLibraryW(vel::FromUtf8(copyPath).c_str());
  ASSERT_NE(other, nullptr);
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(GetProcAddress(other, "DllGetClassObject"));
  ASSERT_NE(getClassObject, nullptr);
  {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(CLSID_VelItem, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    ComPtr<IVelItem> foreign;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVelItem, reinterpret_cast<void**>(&foreign)), S_OK);
    ComPtr<IVelItem> ours = NewItem();

    Put(foreign, u"Stale", kCoreNamespace, 1);
    Put(ours, u"Title", kCoreNamespace, u"Song");
    Put(ours, u"Rating", kExtendedNamespace, 4);
    ours->put_ItemClass(_bstr_t(u"Audio").GetBSTR());
    ComPtr<IVelItem> result;
    ASSERT_EQ(ours->Clone(_variant_t(static_cast<IDispatch*>(foreign.get())), &result), S_OK);
    EXPECT_TRUE(result.IsSameObject(foreign.get()));
    EXPECT_EQ(Listing(foreign), Listing(ours));
    EXPECT_EQ(Class(foreign), "Audio");

    Put(foreign, u"Extra", kCoreNamespace, 2);
    foreign->put_Label(_bstr_t(u"L").GetBSTR());
    ASSERT_EQ(foreign->Clone(_variant_t(static_cast<IUnknown*>(ours.get())), &result), S_OK);
    EXPECT_EQ(Listing(ours), Listing(foreign));
    EXPECT_EQ(Label(ours), "L");

    // putref_Properties copies another item's properties the same way.
    ComPtr<IVelItem> third = NewItem();
    ASSERT_EQ(third->putref_Properties(Props(foreign)), S_OK);
    EXPECT_EQ(Listing(third), Listing(foreign));
  }
  auto canUnload = reinterpret_cast<EntryPoint>(GetProcAddress(other, "DllCanUnloadNow"));
  EXPECT_EQ(canUnload(), S_OK);
  FreeLibrary(other);
}

TEST_F(ItemsTest, EnumHoldsItemsInOrder) {
  ComPtr<IVelEnum> list;
  ASSERT_EQ(list.CreateInstance(CLSID_VelEnum), S_OK);
  ComPtr<IVelItem> a = NewItem(), b = NewItem(), c = NewItem();
  EXPECT_EQ(list->Add(_variant_t(static_cast<IDispatch*>(a.get())), Missing()), S_OK);
  EXPECT_EQ(list->Add(_variant_t(static_cast<IUnknown*>(b.get())), Missing()), S_OK);
  EXPECT_EQ(list->Add(_variant_t(static_cast<IDispatch*>(c.get())), _variant_t(0)), S_OK) << "before the first";

  struct Bad {
    const char* what;
    _variant_t item;
    _variant_t before;
  };
  const Bad bad[] = {
      {"number", _variant_t(5), Missing()},
      {"null", _variant_t(static_cast<IUnknown*>(nullptr)), Missing()},
      {"not an item", _variant_t(static_cast<IUnknown*>(list.get())), Missing()},
      {"position past the end", _variant_t(static_cast<IDispatch*>(a.get())), _variant_t(4)},
  };
  for (const Bad& x : bad) EXPECT_TRUE(FAILED(list->Add(x.item, x.before))) << x.what;

  LONG count = 0;
  ASSERT_EQ(list->get_Count(&count), S_OK);
  EXPECT_EQ(count, 3);

  struct Lookup {
    const char* what;
    _variant_t index;
    HRESULT hr;
    IVelItem* expected;
  };
  const Lookup lookups[] = {
      {"VT_INT 0", _variant_t(0, VT_INT), S_OK, c.get()},
      {"VT_I4 1", _variant_t(1), S_OK, a.get()},
      {"VT_I2 2", _variant_t(static_cast<short>(2)), S_OK, b.get()},
      {"past the end", _variant_t(3), DISP_E_BADINDEX, nullptr},
      {"negative", _variant_t(-1), DISP_E_BADINDEX, nullptr},
      {"text", _variant_t(u"1"), DISP_E_TYPEMISMATCH, nullptr},
      {"missing", Missing(), DISP_E_TYPEMISMATCH, nullptr},
  };
  for (const Lookup& l : lookups) {
    _variant_t item;
    EXPECT_EQ(list->Item(l.index, item.GetAddress()), l.hr) << l.what;
    if (l.expected) {
      EXPECT_EQ(item.vt, VT_DISPATCH) << l.what;
      ComPtr<IVelItem> got(item);
      EXPECT_TRUE(got.IsSameObject(l.expected)) << l.what;
    } else {
      EXPECT_EQ(item.vt, VT_EMPTY) << l.what;
    }
  }

  ComPtr<IUnknown> unknown;
  ASSERT_EQ(list->get__NewEnum(&unknown), S_OK);
  ComPtr<IEnumVARIANT> e;
  ASSERT_EQ(unknown.QueryInterface(e), S_OK);
  VARIANT v[4];
  ULONG fetched = 0;
  EXPECT_EQ(e->Next(4, v, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 3u);
  IVelItem* order[] = {c.get(), a.get(), b.get()};
  for (ULONG i = 0; i < fetched; ++i) {
    EXPECT_EQ(v[i].vt, VT_DISPATCH);
    ComPtr<IVelItem> got(v[i]);
    EXPECT_TRUE(got.IsSameObject(order[i])) << i;
    VariantClear(&v[i]);
  }

  EXPECT_EQ(list->Remove(_variant_t(0)), S_OK);
  LONG at = -9;
  EXPECT_EQ(list->IndexOf(_variant_t(static_cast<IUnknown*>(b.get())), &at), S_OK);
  EXPECT_EQ(at, 1);
  EXPECT_EQ(list->IndexOf(_variant_t(static_cast<IUnknown*>(c.get())), &at), S_OK);
  EXPECT_EQ(at, -1);
}

TEST_F(ItemsTest, DispatchFindsMembersByNameIgnoringCase) {
  ComPtr<IVelItem> item = NewItem();
  IDispatch* disp = item.get();
  for (const char16_t* spelling : {u"ItemClass", u"itemclass", u"ITEMCLASS"}) {
    LPOLESTR name = const_cast<LPOLESTR>(spelling);
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK) << Narrow(spelling);
    EXPECT_EQ(id, 4) << Narrow(spelling);
  }
  LPOLESTR unknownName = const_cast<LPOLESTR>(u"Colour");
  DISPID id = 0;
  EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, &unknownName, 1, 0, &id), DISP_E_UNKNOWNNAME);

  // ItemClass = "Audio", then read back both ways.
  _variant_t value(u"Audio");
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put{&value, &named, 1, 1};
  ASSERT_EQ(disp->Invoke(4, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Class(item), "Audio");
  _variant_t result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(disp->Invoke(4, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result.GetAddress(), nullptr, nullptr), S_OK);
  EXPECT_EQ(Describe(result), "8:Audio");

  // Properties.Value(name, ns) = 3, read back; an absent key is an exception.
  _variant_t propsVar;
  ASSERT_EQ(disp->Invoke(5, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, propsVar.GetAddress(), nullptr, nullptr), S_OK);
  ASSERT_EQ(propsVar.vt, VT_DISPATCH);
  IDispatch* props = propsVar.pdispVal;
  LPOLESTR valueName = const_cast<LPOLESTR>(u"value");
  DISPID valueId = 0;
  ASSERT_EQ(props->GetIDsOfNames(IID_NULL, &valueName, 1, 0, &valueId), S_OK);
  _variant_t putArgs[3] = {_variant_t(3), _variant_t(kCoreNamespace), _variant_t(u"Track")};  // reversed
  DISPPARAMS putValue{putArgs, &named, 3, 1};
  ASSERT_EQ(props->Invoke(valueId, IID_NULL, 0, DISPATCH_PROPERTYPUT, &putValue, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(Listing(item), Strings{"Track|core=3:3"});
  _variant_t getArgs[2] = {_variant_t(kCoreNamespace), _variant_t(u"Track")};
  DISPPARAMS getValue{getArgs, nullptr, 2, 0};
  result.Clear();
  ASSERT_EQ(props->Invoke(valueId, IID_NULL, 0, DISPATCH_PROPERTYGET, &getValue, result.GetAddress(), nullptr, nullptr),
            S_OK);
  EXPECT_EQ(Describe(result), "3:3");
  getArgs[1] = _variant_t(u"Absent");
  EXCEPINFO info{};
  result.Clear();
  EXPECT_EQ(props->Invoke(valueId, IID_NULL, 0, DISPATCH_PROPERTYGET, &getValue, result.GetAddress(), &info, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(info.scode, E_INVALIDARG);
  EXPECT_EQ(Narrow(info.bstrSource), "VelItemsLib.VelItem.1");
  SysFreeString(info.bstrSource);
  SysFreeString(info.bstrDescription);
  SysFreeString(info.bstrHelpFile);

  // Clone() with its argument left out.
  _variant_t cloneArg = Missing();
  DISPPARAMS cloneParams{&cloneArg, nullptr, 1, 0};
  result.Clear();
  ASSERT_EQ(disp->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &cloneParams, result.GetAddress(), nullptr, nullptr), S_OK);
  ASSERT_EQ(result.vt, VT_DISPATCH);
  ComPtr<IVelItem> copy(result);
  ASSERT_TRUE(copy);
  EXPECT_EQ(Listing(copy), Strings{"Track|core=3:3"});
}

TEST_F(ItemsTest, CanUnloadOnlyWithoutObjectsOrLocks) {
  {
    ComPtr<IVelItem> item = NewItem();
    ComPtr<IVelProperties> props = Props(item);
    Put(item, u"A", kCoreNamespace, 1);
    ComPtr<IUnknown> e;
    props->get__NewEnum(&e);
    item = nullptr;
    EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE) << "the property set and enumerator live on";
  }
  EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);

  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_VelEnum, CLSCTX_ALL, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(Call("DllCanUnloadNow"), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(Call("DllCanUnloadNow"), S_OK);
}

TEST_F(ItemsTest, RegistrationWritesAndRemovesItsKeys) {
  struct Expect {
    std::u16string key;
    const char16_t* value;  // null: the default value
    std::string data;
  };
  std::vector<Expect> expected;
  auto addClass = [&](const CLSID& clsid, const char16_t* name, const char* description) {
    OLECHAR text[40];
    StringFromGUID2(clsid, text, 40);
    const std::u16string progId = u"VelItemsLib." + std::u16string(name);
    const std::u16string clsidKey = u"CLSID\\" + std::u16string(text);
    const std::string narrowProgId = Narrow(progId.c_str());
    expected.push_back({progId, nullptr, description});
    expected.push_back({progId + u"\\CLSID", nullptr, GuidText(clsid)});
    expected.push_back({progId + u"\\CurVer", nullptr, narrowProgId + ".1"});
    expected.push_back({progId + u".1", nullptr, description});
    expected.push_back({progId + u".1\\CLSID", nullptr, GuidText(clsid)});
    expected.push_back({clsidKey, nullptr, description});
    expected.push_back({clsidKey + u"\\ProgID", nullptr, narrowProgId + ".1"});
    expected.push_back({clsidKey + u"\\VersionIndependentProgID", nullptr, narrowProgId});
    expected.push_back({clsidKey + u"\\InprocServer32", nullptr, path_});
    expected.push_back({clsidKey + u"\\InprocServer32", u"ThreadingModel", "Free"});
  };
  addClass(CLSID_VelItem, u"VelItem", "VelItem Class");
  addClass(CLSID_VelEnum, u"VelEnum", "VelEnum Class");

  for (const Expect& e : expected) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, e.key.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS) << Narrow(e.key.c_str());
    EXPECT_EQ(Narrow(GetString(key, e.value).c_str()), e.data) << Narrow(e.key.c_str());
    RegCloseKey(key);
  }

  // A registration over a stale one replaces the class key as a whole; other classes stay.
  HKEY stale = Create(u"unused");
  RegCloseKey(stale);
  OLECHAR itemClsid[40];
  StringFromGUID2(CLSID_VelItem, itemClsid, 40);
  const std::u16string staleKey = u"CLSID\\" + std::u16string(itemClsid) + u"\\Stale";
  const std::u16string otherKey = u"CLSID\\{00000000-1111-2222-3333-444444444444}";
  for (const std::u16string& k : {staleKey, otherKey}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, k.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  HKEY probe = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, staleKey.c_str(), 0, KEY_READ, &probe), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
  for (const Expect& e : expected) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, e.key.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND)
        << Narrow(e.key.c_str());
    if (key) RegCloseKey(key);
  }
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, otherKey.c_str(), 0, KEY_READ, &probe), ERROR_SUCCESS);
  RegCloseKey(probe);
  ComPtr<IVelItem> item;
  EXPECT_EQ(item.CreateInstance(CLSID_VelItem), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(Call("DllUnregisterServer"), S_OK) << "a second unregistration finds nothing to do";
}

// Writers, readers and copies on one item from several threads at once.
TEST_F(ItemsTest, ConcurrentCallsOnOneItemLoseNothing) {
  ComPtr<IVelItem> item = NewItem();
  constexpr int kThreads = 4;
  constexpr int kKeys = 100;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ComPtr<IVelProperties> props = Props(item);
      _bstr_t ns(kCoreNamespace);
      for (int i = 0; i < kKeys; ++i) {
        _bstr_t keep(vel::FromUtf8("k" + std::to_string(t) + "_" + std::to_string(i)));
        _bstr_t drop(vel::FromUtf8("d" + std::to_string(t) + "_" + std::to_string(i)));
        EXPECT_EQ(props->put_Value(keep.GetBSTR(), ns.GetBSTR(), _variant_t(i)), S_OK);
        EXPECT_EQ(props->Add(_variant_t(u"x"), drop.GetBSTR(), ns.GetBSTR()), S_OK);
        EXPECT_EQ(props->Remove(drop.GetBSTR(), ns.GetBSTR()), S_OK);
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 50; ++i) {
      ComPtr<IVelItem> copy;
      EXPECT_EQ(item->Clone(Missing(), &copy), S_OK);
      ComPtr<IVelItem> target = NewItem();
      EXPECT_EQ(item->Clone(_variant_t(static_cast<IDispatch*>(target.get())), &copy), S_OK);
      ComPtr<IVelItem> back;
      EXPECT_EQ(target->Clone(_variant_t(static_cast<IDispatch*>(copy.get())), &back), S_OK);
      Listing(item);
    }
  });
  for (std::thread& t : threads) t.join();
  LONG count = 0;
  ASSERT_EQ(Props(item)->get_Count(&count), S_OK);
  EXPECT_EQ(count, kThreads * kKeys);
}

}  // namespace
