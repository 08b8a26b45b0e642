#include "ylib/YVariant.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/com/oleauto.h"
#include "testing/ReportMatchers.h"
#include "ylib/YTime.h"

using namespace vel::testing;

namespace {

_variant_t Typed(VARTYPE vt, const std::function<void(VARIANT&)>& set) {
  _variant_t v;
  set(v);
  v.vt = vt;
  return v;
}

_variant_t Bytes(const std::vector<BYTE>& bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  SafeArrayAccessData(array, &data);
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  SafeArrayUnaccessData(array);
  _variant_t v;
  v.vt = VT_ARRAY | VT_UI1;
  v.parray = array;
  return v;
}

_variant_t Ints(const std::vector<LONG>& values) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(values.size()));
  for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
    LONG value = values[static_cast<std::size_t>(i)];
    SafeArrayPutElement(array, &i, &value);
  }
  _variant_t v;
  v.vt = VT_ARRAY | VT_I4;
  v.parray = array;
  return v;
}

DATE Date(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s, WORD ms = 0) {
  SYSTEMTIME st{y, mo, 0, d, h, mi, s, ms};
  return CYTime::SystemTimeToVariantTime(st);
}

struct XsdCase {
  const char* name;
  _variant_t value;
  std::u16string type;
  std::u16string text;
};

TEST(CYVariantToXSDString, TypesAndTexts) {
  const BSTR controls = SysAllocStringLen(u"a\u0007b\tc\nd\re\u001f", 10);
  const BSTR embeddedZero = SysAllocStringLen(u"ab\0cd", 5);
  const std::vector<XsdCase> cases = {
      {"I2 -5", Typed(VT_I2, [](VARIANT& v) { v.iVal = -5; }), u"integer", u"-5"},
      {"UI8 all bits", Typed(VT_UI8, [](VARIANT& v) { v.ullVal = ~0ull; }), u"integer", u"-1"},
      {"UI4 above 2^31", Typed(VT_UI4, [](VARIANT& v) { v.ulVal = 0x80000000u; }), u"integer", u"2147483648"},
      {"I1 -128", Typed(VT_I1, [](VARIANT& v) { v.cVal = -128; }), u"integer", u"-128"},
      {"UI1 255", Typed(VT_UI1, [](VARIANT& v) { v.bVal = 255; }), u"integer", u"255"},
      {"INT", Typed(VT_INT, [](VARIANT& v) { v.intVal = -7; }), u"integer", u"-7"},
      {"I8 min", Typed(VT_I8, [](VARIANT& v) { v.llVal = INT64_MIN; }), u"integer", u"-9223372036854775808"},
      {"R8 0.1", Typed(VT_R8, [](VARIANT& v) { v.dblVal = 0.1; }), u"decimal", u"0.100000000000000"},
      {"R4 1.5", Typed(VT_R4, [](VARIANT& v) { v.fltVal = 1.5f; }), u"decimal", u"1.500000000000000"},
      {"R8 -1e20", Typed(VT_R8, [](VARIANT& v) { v.dblVal = -1e20; }), u"decimal",
       u"-100000000000000000000.000000000000000"},
      {"BSTR controls", Typed(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocStringLen(controls, 10); }), u"string",
       u"a_b\tc\nd\re_"},
      {"BSTR stops at zero", Typed(VT_BSTR, [&](VARIANT& v) { v.bstrVal = SysAllocStringLen(embeddedZero, 5); }),
       u"string", u"ab"},
      {"BSTR null", Typed(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; }), u"string", u""},
      {"BOOL 1", Typed(VT_BOOL, [](VARIANT& v) { v.boolVal = 1; }), u"boolean", u"true"},
      {"BOOL true", Typed(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), u"boolean", u"true"},
      {"BOOL false", Typed(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_FALSE; }), u"boolean", u"false"},
      {"DATE", Typed(VT_DATE, [](VARIANT& v) { v.date = Date(2008, 10, 5, 12, 0, 0); }), u"dateTime",
       u"2008-10-05T12:00:00Z"},
      {"DATE drops milliseconds, never rounds up",
       Typed(VT_DATE, [](VARIANT& v) { v.date = Date(2008, 12, 31, 23, 59, 59, 999); }), u"dateTime",
       u"2008-12-31T23:59:59Z"},
      {"bytes empty", Bytes({}), u"base64binary", u""},
      {"bytes one", Bytes({0xFF}), u"base64binary", u"/w=="},
      {"bytes two", Bytes({'h', 'i'}), u"base64binary", u"aGk="},
      {"strings a,b", CYVariant::StringVectorToVariant({u"a", u"b"}), u"stringlist", u"a,b"},
      {"strings empty", CYVariant::StringVectorToVariant({}), u"stringlist", u""},
      {"ints", Ints({1, -2, 30}), u"integerlist", u"1,-2,30"},
      {"ints empty", Ints({}), u"integerlist", u""},
  };
  SysFreeString(controls);
  SysFreeString(embeddedZero);
  for (const XsdCase& c : cases) {
    std::u16string type = u"unset";
    std::u16string text;
    try {
      text = CYVariant::ToXSDString(c.value, type);
    } catch (const CYException& x) {
      ADD_FAILURE() << c.name << ": " << U8(x.GetText(kYTextForLog));
      continue;
    }
    EXPECT_EQ(U8(type), U8(c.type)) << c.name;
    EXPECT_EQ(U8(text), U8(c.text)) << c.name;
  }
}

TEST(CYVariantToXSDString, LongByteArraysStayOnOneLine) {
  std::vector<BYTE> bytes(300);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i * 7);
  std::u16string type;
  const std::u16string text = CYVariant::ToXSDString(Bytes(bytes), type);
  EXPECT_EQ(text.size(), 400u);
  EXPECT_EQ(text.find_first_of(u"\r\n"), std::u16string::npos);
  EXPECT_EQ(U8(text.substr(0, 8)), "AAcOFRwj");
}

TEST(CYVariantToXSDString, Failures) {
  struct FailCase {
    const char* name;
    _variant_t value;
    int code;
    std::u16string varType;
  };
  long referenced = 3;
  const std::vector<FailCase> cases = {
      {"empty", _variant_t(), 2017, u"0"},
      {"null", Typed(VT_NULL, [](VARIANT&) {}), 2017, u"1"},
      {"reference", Typed(VT_BYREF | VT_I4, [&](VARIANT& v) { v.plVal = reinterpret_cast<LONG*>(&referenced); }),
       2017, u"16387"},
      {"currency", Typed(VT_CY, [](VARIANT& v) { v.cyVal.int64 = 1; }), 2017, u"6"},
      {"string with comma", CYVariant::StringVectorToVariant({u"a", u"b,c"}), 2021, u"<missing>"},
  };
  for (const FailCase& c : cases) {
    std::u16string type;
    auto report = ReportOf([&] { CYVariant::ToXSDString(c.value, type); });
    if (!report) continue;
    EXPECT_EQ(report->GetCode(), c.code) << c.name;
    EXPECT_EQ(U8(Origin(*report, u"VarType")), U8(c.varType)) << c.name;
    EXPECT_EQ(U8(Origin(*report, u"sourcefunction")), "CYVariant::ToXSDString") << c.name;
  }
}

TEST(CYVariant, NumbersByType) {
  EXPECT_EQ(CYVariant::ToInt(Typed(VT_I1, [](VARIANT& v) { v.cVal = -1; })), -1);
  EXPECT_EQ(CYVariant::ToInt(Typed(VT_UI2, [](VARIANT& v) { v.uiVal = 0xFFFF; })), 0xFFFF);
  EXPECT_EQ(CYVariant::ToInt(Typed(VT_UINT, [](VARIANT& v) { v.uintVal = 0xFFFFFFFFu; })), 0xFFFFFFFFll);
  EXPECT_EQ(CYVariant::ToInt(Typed(VT_I4, [](VARIANT& v) { v.lVal = INT32_MIN; })), INT32_MIN);
  EXPECT_DOUBLE_EQ(CYVariant::ToFloat(Typed(VT_R4, [](VARIANT& v) { v.fltVal = 0.25f; })), 0.25);
  for (VARTYPE vt : {VT_EMPTY, VT_R8, VT_BSTR, VT_BOOL, VT_DATE, VT_CY, VT_DECIMAL}) {
    _variant_t v;
    v.vt = vt;
    EXPECT_FALSE(CYVariant::IsIntegerVariant(v)) << vt;
    if (vt != VT_R8) ExpectCode([&] { CYVariant::ToInt(v); }, 1010, std::to_string(vt));
    v.vt = VT_EMPTY;
  }
  ExpectCode([] { CYVariant::ToFloat(Typed(VT_I4, [](VARIANT& v) { v.lVal = 1; })); }, 1010, "ToFloat of VT_I4");
  EXPECT_TRUE(CYVariant::IsFloatVariant(Typed(VT_R4, [](VARIANT&) {})));
  EXPECT_FALSE(CYVariant::IsFloatVariant(Typed(VT_DATE, [](VARIANT&) {})));
}

TEST(CYVariant, StringAndIntegerListsRoundTrip) {
  const std::vector<std::u16string> strings = {u"first", u"", u"\u00e9t\u00e9", u"last"};
  _variant_t v = CYVariant::StringVectorToVariant(strings);
  EXPECT_EQ(v.vt, VT_ARRAY | VT_BSTR);
  LONG lower = -1;
  SafeArrayGetLBound(v.parray, 1, &lower);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(CYVariant::GetSafeArraySize(v), 4);
  EXPECT_EQ(CYVariant::VariantToStringVector(v), strings);
  EXPECT_EQ(CYVariant::VariantToIntVector(Ints({5, -6})), (std::vector<std::int32_t>{5, -6}));
}

TEST(CYVariant, WrongArraysAreInvalidVariantTypes) {
  _variant_t nullArray;
  nullArray.vt = VT_ARRAY | VT_BSTR;
  nullArray.parray = nullptr;
  struct Case {
    const char* name;
    std::function<void()> call;
  };
  const _variant_t ints = Ints({1});
  const _variant_t strings = CYVariant::StringVectorToVariant({u"x"});
  const _variant_t scalar = Typed(VT_I4, [](VARIANT& v) { v.lVal = 1; });
  const std::vector<Case> cases = {
      {"size of a scalar", [&] { CYVariant::GetSafeArraySize(scalar); }},
      {"size of a null array", [&] { CYVariant::GetSafeArraySize(nullArray); }},
      {"strings from ints", [&] { CYVariant::VariantToStringVector(ints); }},
      {"ints from strings", [&] { CYVariant::VariantToIntVector(strings); }},
      {"strings from a null array", [&] { CYVariant::VariantToStringVector(nullArray); }},
  };
  for (const Case& c : cases) {
    auto report = ReportOf(c.call);
    if (!report) continue;
    EXPECT_EQ(report->GetCode(), 1015) << c.name;
    EXPECT_EQ(U8(Origin(*report, u"description")), "Invalid variant type") << c.name;
  }
  nullArray.vt = VT_EMPTY;
}

}  // namespace
