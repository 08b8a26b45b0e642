#include "platform/com/comdef.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

ComPtr<IErrorInfo> MakeErrorInfo(const char16_t* source, const char16_t* description, REFGUID guid) {
  ComPtr<ICreateErrorInfo> create;
  EXPECT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetSource(const_cast<LPOLESTR>(source));
  create->SetDescription(const_cast<LPOLESTR>(description));
  create->SetGUID(guid);
  return ComPtr<IErrorInfo>(create);
}

const GUID kSomeGuid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(ComError, ReadsTheErrorInfoItHolds) {
  ComPtr<IErrorInfo> info = MakeErrorInfo(u"Vel.Source.1", u"<error/>", kSomeGuid);
  _com_error e(VEL_HR(0x80045D53), info, true);
  EXPECT_EQ(e.Error(), VEL_HR(0x80045D53));
  EXPECT_EQ(e.Description(), _bstr_t(u"<error/>"));
  EXPECT_EQ(e.Source(), _bstr_t(u"Vel.Source.1"));
  EXPECT_EQ(e.GUID(), kSomeGuid);
  ComPtr<IErrorInfo> again(e.ErrorInfo(), false);
  EXPECT_EQ(again.get(), info.get());

  _com_error copy = e;  // shares the error info
  EXPECT_EQ(copy.Description(), _bstr_t(u"<error/>"));

  _com_error bare(E_FAIL);
  EXPECT_EQ(bare.Description().length(), 0u);
  EXPECT_EQ(bare.ErrorInfo(), nullptr);
  EXPECT_EQ(bare.GUID(), GUID_NULL);
}

TEST(ComError, ErrorMessageIsTheSystemTextOrTheFallback) {
  EXPECT_EQ(std::u16string(_com_error(E_INVALIDARG).ErrorMessage()), u"The parameter is incorrect.");
  EXPECT_EQ(std::u16string(_com_error(VEL_HR(0x80045D53)).ErrorMessage()), u"IDispatch error #23379");
  EXPECT_EQ(std::u16string(_com_error(VEL_HR(0x8123ABCD)).ErrorMessage()), u"Unknown error 0x8123ABCD");
}

// An object that answers ISupportErrorInfo for one IID only.
struct SupportsOne : ISupportErrorInfo {
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_ISupportErrorInfo) {
      *ppv = this;
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override { return riid == kSomeGuid ? S_OK : S_FALSE; }
};

TEST(ComError, IssueErrorExTakesTheThreadErrorInfoOnlyWhenSupported) {
  SupportsOne object;
  SetErrorInfo(0, MakeErrorInfo(u"src", u"desc", kSomeGuid));
  try {
    _com_issue_errorex(E_FAIL, &object, IID_IDispatch);
    FAIL() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), E_FAIL);
    EXPECT_EQ(e.Description().length(), 0u);
  }
  try {
    _com_issue_errorex(E_FAIL, &object, kSomeGuid);
    FAIL() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Description(), _bstr_t(u"desc"));
  }
  IErrorInfo* left = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE) << "the error info was handed over";
}

TEST(BstrT, CopiesShareAndDetachUnshares) {
  _bstr_t a(u"hello");
  _bstr_t b = a;
  EXPECT_EQ(static_cast<const char16_t*>(a), static_cast<const char16_t*>(b)) << "copies share one BSTR";
  BSTR detached = b.Detach();
  EXPECT_NE(detached, static_cast<const char16_t*>(a)) << "a shared text is copied on Detach";
  EXPECT_EQ(std::u16string(detached), u"hello");
  SysFreeString(detached);
  EXPECT_EQ(a.length(), 5u);
  EXPECT_TRUE(!b);

  _bstr_t withNul(std::u16string_view(u"a\0b", 3));
  EXPECT_EQ(withNul.length(), 3u);
  EXPECT_NE(withNul, _bstr_t(u"a")) << "comparison uses the length, not the terminator";
  EXPECT_EQ(_bstr_t(), _bstr_t(u"")) << "the null text equals the empty text";
  EXPECT_LT(_bstr_t(u"abc"), _bstr_t(u"abd"));

  _bstr_t sum = u"x" + a;
  sum += _bstr_t(u"!");
  EXPECT_EQ(sum, _bstr_t(u"xhello!"));
  EXPECT_EQ(a, _bstr_t(u"hello")) << "concatenation leaves the operands alone";

  _bstr_t out;
  *out.GetAddress() = SysAllocString(u"filled");
  EXPECT_EQ(out, _bstr_t(u"filled"));
  _bstr_t shared = out;
  out.GetBSTR()[0] = u'F';
  EXPECT_EQ(shared, _bstr_t(u"filled")) << "GetBSTR unshares before a change in place";
  EXPECT_EQ(out, _bstr_t(u"Filled"));
}

TEST(VariantT, ConstructorsGiveThePlatformTypes) {
  struct Row {
    const char* name;
    _variant_t value;
    VARTYPE vt;
  };
  const Row rows[] = {
      {"short", _variant_t(short{2}), VT_I2},
      {"LONG", _variant_t(LONG{2}), VT_I4},
      {"int", _variant_t(2), VT_I4},
      {"LONGLONG", _variant_t(LONGLONG{2}), VT_I8},
      {"ULONG", _variant_t(ULONG{2}), VT_UI4},
      {"BYTE", _variant_t(BYTE{2}), VT_UI1},
      {"bool", _variant_t(true), VT_BOOL},
      {"float", _variant_t(2.0f), VT_R4},
      {"double", _variant_t(2.0), VT_R8},
      {"date", _variant_t(2.0, VT_DATE), VT_DATE},
      {"text", _variant_t(u"t"), VT_BSTR},
      {"_bstr_t", _variant_t(_bstr_t(u"t")), VT_BSTR},
  };
  for (const Row& row : rows) EXPECT_EQ(row.value.vt, row.vt) << row.name;
  EXPECT_EQ(_variant_t(true).boolVal, VARIANT_TRUE);
}

DECIMAL Dec(ULONGLONG mantissa, BYTE scale, bool negative = false) {
  DECIMAL d{};
  d.Lo64 = mantissa;
  d.scale = scale;
  d.sign = negative ? DECIMAL_NEG : 0;
  return d;
}

_variant_t Array(std::initializer_list<LONG> values) {
  SAFEARRAY* sa = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(values.size()));
  LONG i = 0;
  for (LONG v : values) {
    SafeArrayPutElement(sa, &i, &v);
    ++i;
  }
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ARRAY | VT_I4;
  v.parray = sa;
  return _variant_t(v, false);
}

TEST(VariantT, EqualityNeedsTheSameTypeThenTheSameValue) {
  ComPtr<ICreateErrorInfo> one;
  ComPtr<ICreateErrorInfo> two;
  CreateErrorInfo(&one);
  CreateErrorInfo(&two);
  CY cy1{};
  cy1.int64 = 10000;
  CY cy2{};
  cy2.int64 = 10000;
  LONG target = 7;
  LONG same = 7;
  VARIANT ref1;
  VariantInit(&ref1);
  ref1.vt = VT_BYREF | VT_I4;
  ref1.plVal = &target;
  VARIANT ref2 = ref1;
  ref2.plVal = &same;
  struct Row {
    const char* name;
    _variant_t a;
    _variant_t b;
    bool equal;
  };
  const Row rows[] = {
      {"same I4", _variant_t(5), _variant_t(5), true},
      {"I4 vs I2 of the same number", _variant_t(5), _variant_t(short{5}), false},
      {"I4 vs R8", _variant_t(5), _variant_t(5.0), false},
      {"different I4", _variant_t(5), _variant_t(6), false},
      {"R8 by value", _variant_t(0.5), _variant_t(0.5), true},
      {"R8 NaN", _variant_t(std::nan("")), _variant_t(std::nan("")), false},
      {"BSTR same text", _variant_t(u"abc"), _variant_t(u"abc"), true},
      {"BSTR case differs", _variant_t(u"abc"), _variant_t(u"ABC"), false},
      {"BSTR prefix", _variant_t(u"abc"), _variant_t(std::u16string_view(u"abc\0", 4)), false},
      {"BSTR null vs empty", _variant_t(static_cast<const char16_t*>(nullptr)), _variant_t(u""), true},
      {"empty", _variant_t(), _variant_t(), true},
      {"bool", _variant_t(true), _variant_t(true), true},
      {"bool differs", _variant_t(true), _variant_t(false), false},
      {"same object", _variant_t(static_cast<IUnknown*>(one.get())), _variant_t(static_cast<IUnknown*>(one.get())), true},
      {"other object", _variant_t(static_cast<IUnknown*>(one.get())), _variant_t(static_cast<IUnknown*>(two.get())), false},
      {"CY", _variant_t(cy1), _variant_t(cy2), true},
      {"DECIMAL 1.0 vs 1.00", _variant_t(Dec(10, 1)), _variant_t(Dec(100, 2)), true},
      {"DECIMAL 1.0 vs 1.1", _variant_t(Dec(10, 1)), _variant_t(Dec(11, 1)), false},
      {"DECIMAL -0 vs 0", _variant_t(Dec(0, 3, true)), _variant_t(Dec(0, 0)), true},
      {"DECIMAL sign", _variant_t(Dec(5, 0, true)), _variant_t(Dec(5, 0)), false},
      {"arrays same content", Array({1, 2, 3}), Array({1, 2, 3}), true},
      {"arrays other content", Array({1, 2, 3}), Array({1, 2, 4}), false},
      {"arrays other length", Array({1, 2}), Array({1, 2, 3}), false},
      {"byref by target value", _variant_t(ref1), _variant_t(ref2), true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.a == row.b, row.equal) << row.name;
    EXPECT_EQ(row.b == row.a, row.equal) << row.name << " (reversed)";
  }
}

TEST(VariantT, ConversionsAndOwnership) {
  _variant_t text(u"42");
  EXPECT_EQ(static_cast<int>(text), 42);
  EXPECT_EQ(static_cast<double>(text), 42.0);
  EXPECT_EQ(text.vt, VT_BSTR) << "conversion operators leave the value alone";
  EXPECT_EQ(static_cast<_bstr_t>(_variant_t(7)), _bstr_t(u"7"));
  EXPECT_THROW(static_cast<void>(static_cast<int>(_variant_t(u"seven"))), _com_error);

  _variant_t v(u"abc");
  v.ChangeType(VT_BSTR);
  EXPECT_EQ(v.vt, VT_BSTR);
  _variant_t n(u"12");
  n.ChangeType(VT_I4);
  EXPECT_EQ(n.vt, VT_I4);
  EXPECT_EQ(n.lVal, 12);
  try {
    n.ChangeType(VT_UNKNOWN);
    FAIL() << "no exception";
  } catch (const _com_error& e) {
    EXPECT_EQ(e.Error(), DISP_E_TYPEMISMATCH);
  }

  VARIANT raw = v.Detach();
  EXPECT_EQ(v.vt, VT_EMPTY);
  _variant_t back(raw, false);
  EXPECT_EQ(raw.vt, VT_EMPTY) << "attached without a copy";
  EXPECT_EQ(back, _variant_t(u"abc"));

  ComPtr<ICreateErrorInfo> object;
  CreateErrorInfo(&object);
  {
    _variant_t held(static_cast<IUnknown*>(object.get()));
    ComPtr<IErrorInfo> asked(held);
    EXPECT_TRUE(asked) << "ComPtr from a VARIANT asks its object";
    EXPECT_TRUE(asked.IsSameObject(object.get()));
  }
  EXPECT_EQ(object->AddRef(), 2u) << "the VARIANT released its reference";
  object->Release();
}

}  // namespace
