#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "testing/VariantMatchers.h"

using namespace vel::testing;

namespace vel::test {
namespace {

constexpr LCID kUs = 0x0409;
constexpr LCID kGb = 0x0809;
constexpr LCID kDe = 0x0407;
constexpr LCID kFr = 0x040C;

struct Row {
  const char* name;
  Var src;
  VARTYPE vt;
  HRESULT hr;  // expected result
  Var want;    // expected value when hr succeeds
  LCID lcid = kUs;
  USHORT flags = 0;
};

Row Ok(const char* name, Var src, VARTYPE vt, Var want, LCID lcid = kUs, USHORT flags = 0) {
  return Row{name, std::move(src), vt, S_OK, std::move(want), lcid, flags};
}
Row Fails(const char* name, Var src, VARTYPE vt, HRESULT hr, LCID lcid = kUs, USHORT flags = 0) {
  return Row{name, std::move(src), vt, hr, Empty(), lcid, flags};
}

Var ByRefI4(LONG* p) {
  return Make(VT_BYREF | VT_I4, [&](VARIANT& v) { v.plVal = p; });
}
Var ByRefVariant(VARIANT* p) {
  return Make(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = p; });
}

TEST(VariantChangeType, ConversionTable) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  LONG seven = 7;
  Var inner = Str(u"3.5");
  ValueObject object(I4(42));
  Var dispatch = Make(VT_DISPATCH, [&](VARIANT& v) {
    v.pdispVal = &object;
    object.AddRef();
  });
  Var unknown = Make(VT_UNKNOWN, [&](VARIANT& v) {
    v.punkVal = &object;
    object.AddRef();
  });

  std::vector<Row> rows;
  // integers and their ranges
  rows.push_back(Ok("I4 65535 to UI2", I4(65535), VT_UI2, UI2(65535)));
  rows.push_back(Fails("I4 70000 to UI2 overflows", I4(70000), VT_UI2, DISP_E_OVERFLOW));
  rows.push_back(Fails("I4 -1 to UI4 overflows", I4(-1), VT_UI4, DISP_E_OVERFLOW));
  rows.push_back(Fails("I4 -129 to I1 overflows", I4(-129), VT_I1, DISP_E_OVERFLOW));
  rows.push_back(Fails("UI1 255 to I1 overflows", UI1(255), VT_I1, DISP_E_OVERFLOW));
  rows.push_back(Fails("I8 max to I4 overflows", I8(std::numeric_limits<LONGLONG>::max()), VT_I4, DISP_E_OVERFLOW));
  rows.push_back(Fails("UI8 max to I8 overflows", UI8(std::numeric_limits<ULONGLONG>::max()), VT_I8, DISP_E_OVERFLOW));
  rows.push_back(Ok("I2 -5 to INT", I2(-5), VT_INT, Int(-5)));
  rows.push_back(Ok("UI8 max to R8", UI8(std::numeric_limits<ULONGLONG>::max()), VT_R8, R8(18446744073709551616.0)));
  // float to integer rounds half to even
  rows.push_back(Ok("R8 2.5 to I4 rounds to even", R8(2.5), VT_I4, I4(2)));
  rows.push_back(Ok("R8 3.5 to I4 rounds to even", R8(3.5), VT_I4, I4(4)));
  rows.push_back(Ok("R8 -2.5 to I4 rounds to even", R8(-2.5), VT_I4, I4(-2)));
  rows.push_back(Ok("R8 2.5001 to I2 rounds up", R8(2.5001), VT_I2, I2(3)));
  rows.push_back(Ok("R4 0.5 to UI1 rounds to 0", R4(0.5f), VT_UI1, UI1(0)));
  rows.push_back(Ok("R8 -0.5 to UI1 rounds to 0", R8(-0.5), VT_UI1, UI1(0)));
  rows.push_back(Fails("R8 -0.6 to UI1 overflows", R8(-0.6), VT_UI1, DISP_E_OVERFLOW));
  rows.push_back(Fails("R8 32767.5 to I2 rounds out of range", R8(32767.5), VT_I2, DISP_E_OVERFLOW));
  rows.push_back(Fails("R8 NaN to I4 overflows", R8(nan), VT_I4, DISP_E_OVERFLOW));
  rows.push_back(Fails("R8 1e20 to I8 overflows", R8(1e20), VT_I8, DISP_E_OVERFLOW));
  rows.push_back(Fails("R8 1e39 to R4 overflows", R8(1e39), VT_R4, DISP_E_OVERFLOW));
  rows.push_back(Ok("DATE 2.5 to I4", Date(2.5), VT_I4, I4(2)));
  // text to number
  rows.push_back(Fails("BSTR abc to R8", Str(u"abc"), VT_R8, DISP_E_TYPEMISMATCH));
  rows.push_back(Fails("BSTR empty to I4", Str(u""), VT_I4, DISP_E_TYPEMISMATCH));
  rows.push_back(Fails("BSTR 12abc to I4", Str(u"12abc"), VT_I4, DISP_E_TYPEMISMATCH));
  rows.push_back(Ok("BSTR grouped with spaces to R8", Str(u"  1,234.5  "), VT_R8, R8(1234.5)));
  rows.push_back(Ok("BSTR 0.1 to R8", Str(u"0.1"), VT_R8, R8(0.1)));
  rows.push_back(Ok("BSTR -12 to I4", Str(u"-12"), VT_I4, I4(-12)));
  rows.push_back(Ok("BSTR trailing minus to I4", Str(u"12-"), VT_I4, I4(-12)));
  rows.push_back(Ok("BSTR parentheses to I4", Str(u"(5)"), VT_I4, I4(-5)));
  rows.push_back(Ok("BSTR +.5E1 to I4", Str(u"+.5E1"), VT_I4, I4(5)));
  rows.push_back(Ok("BSTR &HFF to I4", Str(u"&HFF"), VT_I4, I4(255)));
  rows.push_back(Ok("BSTR &O17 to UI1", Str(u"&o17"), VT_UI1, UI1(15)));
  rows.push_back(Fails("BSTR &HG to I4", Str(u"&HG"), VT_I4, DISP_E_TYPEMISMATCH));
  rows.push_back(Ok("BSTR 1.5E3 to I4", Str(u"1.5E3"), VT_I4, I4(1500)));
  rows.push_back(Ok("BSTR 2.5 to I4 rounds to even", Str(u"2.5"), VT_I4, I4(2)));
  rows.push_back(Ok("BSTR 3.5 to I4 rounds to even", Str(u"3.5"), VT_I4, I4(4)));
  rows.push_back(Fails("BSTR 70000 to UI2 overflows", Str(u"70000"), VT_UI2, DISP_E_OVERFLOW));
  rows.push_back(Fails("BSTR 1e400 to R8 overflows", Str(u"1e400"), VT_R8, DISP_E_OVERFLOW));
  rows.push_back(Ok("BSTR 1e-400 to R8 is 0", Str(u"1e-400"), VT_R8, R8(0)));
  rows.push_back(Ok("de BSTR 1,5 to R8", Str(u"1,5"), VT_R8, R8(1.5), kDe));
  rows.push_back(Ok("de BSTR 1.234,5 to R8", Str(u"1.234,5"), VT_R8, R8(1234.5), kDe));
  rows.push_back(Ok("en-US BSTR 1,5 is grouping", Str(u"1,5"), VT_R8, R8(15)));
  rows.push_back(Ok("fr BSTR with space grouping to R8", Str(u"1 234,25"), VT_R8, R8(1234.25), kFr));
  // number to text
  rows.push_back(Ok("R8 0.1 to BSTR", R8(0.1), VT_BSTR, Str(u"0.1")));
  rows.push_back(Ok("R8 1.5 to BSTR", R8(1.5), VT_BSTR, Str(u"1.5")));
  rows.push_back(Ok("R8 1e20 to BSTR", R8(1e20), VT_BSTR, Str(u"1E+20")));
  rows.push_back(Ok("R8 1e15 to BSTR", R8(1e15), VT_BSTR, Str(u"1E+15")));
  rows.push_back(Ok("R8 15 digits to BSTR", R8(123456789012345.0), VT_BSTR, Str(u"123456789012345")));
  rows.push_back(Ok("R8 1/3 to BSTR", R8(1.0 / 3.0), VT_BSTR, Str(u"0.333333333333333")));
  rows.push_back(Ok("R8 0.0001 to BSTR", R8(0.0001), VT_BSTR, Str(u"0.0001")));
  rows.push_back(Ok("R8 -2.5e-7 to BSTR", R8(-2.5e-7), VT_BSTR, Str(u"-2.5E-07")));
  rows.push_back(Ok("R8 100 to BSTR", R8(100), VT_BSTR, Str(u"100")));
  rows.push_back(Ok("R4 0.1 to BSTR", R4(0.1f), VT_BSTR, Str(u"0.1")));
  rows.push_back(Ok("R4 16777216 to BSTR", R4(16777216.0f), VT_BSTR, Str(u"1.677722E+07")));
  rows.push_back(Ok("I4 -42 to BSTR", I4(-42), VT_BSTR, Str(u"-42")));
  rows.push_back(
      Ok("UI8 max to BSTR", UI8(std::numeric_limits<ULONGLONG>::max()), VT_BSTR, Str(u"18446744073709551615")));
  rows.push_back(Ok("de R8 1.5 to BSTR", R8(1.5), VT_BSTR, Str(u"1,5"), kDe));
  rows.push_back(Ok("fr R8 -0.25 to BSTR", R8(-0.25), VT_BSTR, Str(u"-0,25"), kFr));
  rows.push_back(Ok("en-GB R8 1.5 to BSTR", R8(1.5), VT_BSTR, Str(u"1.5"), kGb));
  // booleans
  rows.push_back(Ok("BOOL true to I4", Bool(true), VT_I4, I4(-1)));
  rows.push_back(Ok("BOOL true to UI1", Bool(true), VT_UI1, UI1(255)));
  rows.push_back(Ok("BOOL true to R8", Bool(true), VT_R8, R8(-1)));
  rows.push_back(Ok("BOOL false to I2", Bool(false), VT_I2, I2(0)));
  rows.push_back(Ok("I4 5 to BOOL", I4(5), VT_BOOL, Bool(true)));
  rows.push_back(Ok("R8 0 to BOOL", R8(0), VT_BOOL, Bool(false)));
  rows.push_back(Ok("BOOL true to BSTR", Bool(true), VT_BSTR, Str(u"-1")));
  rows.push_back(Ok("BOOL true to BSTR alpha", Bool(true), VT_BSTR, Str(u"True"), kDe, VARIANT_ALPHABOOL));
  rows.push_back(Ok("BOOL false to BSTR alpha", Bool(false), VT_BSTR, Str(u"False"), kUs, VARIANT_ALPHABOOL));
  rows.push_back(Ok("de BOOL true to BSTR localbool", Bool(true), VT_BSTR, Str(u"Wahr"), kDe, VARIANT_LOCALBOOL));
  rows.push_back(Ok("BSTR true to BOOL", Str(u"true"), VT_BOOL, Bool(true)));
  rows.push_back(Ok("BSTR ' False ' to BOOL", Str(u" False "), VT_BOOL, Bool(false)));
  rows.push_back(Ok("BSTR #TRUE# to BOOL", Str(u"#TRUE#"), VT_BOOL, Bool(true)));
  rows.push_back(Ok("de BSTR Falsch to BOOL", Str(u"Falsch"), VT_BOOL, Bool(false), kDe, VARIANT_LOCALBOOL));
  rows.push_back(Ok("BSTR 2 to BOOL", Str(u"2"), VT_BOOL, Bool(true)));
  rows.push_back(Ok("BSTR 0 to BOOL", Str(u"0"), VT_BOOL, Bool(false)));
  rows.push_back(Fails("BSTR yes to BOOL", Str(u"yes"), VT_BOOL, DISP_E_TYPEMISMATCH));
  // empty and null
  rows.push_back(Ok("EMPTY to I4", Empty(), VT_I4, I4(0)));
  rows.push_back(Ok("EMPTY to BSTR", Empty(), VT_BSTR, Str(u"")));
  rows.push_back(Ok("EMPTY to BOOL", Empty(), VT_BOOL, Bool(false)));
  rows.push_back(Ok("EMPTY to DATE", Empty(), VT_DATE, Date(0)));
  rows.push_back(Ok("EMPTY to NULL", Empty(), VT_NULL, Null()));
  rows.push_back(Ok("I4 to EMPTY", I4(3), VT_EMPTY, Empty()));
  rows.push_back(Ok("NULL to NULL", Null(), VT_NULL, Null()));
  rows.push_back(Ok("NULL to EMPTY", Null(), VT_EMPTY, Empty()));
  rows.push_back(Fails("NULL to I4", Null(), VT_I4, DISP_E_TYPEMISMATCH));
  rows.push_back(Fails("NULL to BSTR", Null(), VT_BSTR, DISP_E_TYPEMISMATCH));
  rows.push_back(Fails("I4 to NULL", I4(1), VT_NULL, DISP_E_TYPEMISMATCH));
  rows.push_back(Fails("ERROR to I4", Error(DISP_E_PARAMNOTFOUND), VT_I4, DISP_E_TYPEMISMATCH));
  rows.push_back(Ok("ERROR to ERROR", Error(DISP_E_PARAMNOTFOUND), VT_ERROR, Error(DISP_E_PARAMNOTFOUND)));
  // decimal and currency
  rows.push_back(Ok("BSTR 1.50 to DECIMAL keeps scale", Str(u"1.50"), VT_DECIMAL, Dec(150, 2)));
  rows.push_back(Ok("de BSTR -1,5 to DECIMAL", Str(u"-1,5"), VT_DECIMAL, Dec(15, 1, true), kDe));
  rows.push_back(Ok("BSTR DECIMAL max", Str(u"79228162514264337593543950335"), VT_DECIMAL,
                    Dec(0xFFFFFFFFFFFFFFFFull, 0, false, 0xFFFFFFFFu)));
  rows.push_back(
      Fails("BSTR DECIMAL max + 1 overflows", Str(u"79228162514264337593543950336"), VT_DECIMAL, DISP_E_OVERFLOW));
  rows.push_back(Ok("BSTR 31 fraction digits to DECIMAL rounds to 28", Str(u"0.1234567890123456789012345678501"),
                    VT_DECIMAL, Dec(0x6D797A91BE38F34Full, 28, false, 0x03FD35EBu)));
  rows.push_back(Ok("DECIMAL 12.345 to BSTR", Dec(12345, 3), VT_BSTR, Str(u"12.345")));
  rows.push_back(Ok("DECIMAL -0.050 to BSTR", Dec(50, 3, true), VT_BSTR, Str(u"-0.05")));
  rows.push_back(Ok("de DECIMAL 12.345 to BSTR", Dec(12345, 3), VT_BSTR, Str(u"12,345"), kDe));
  rows.push_back(Ok("DECIMAL 2.5 to I4 rounds to even", Dec(25, 1), VT_I4, I4(2)));
  rows.push_back(Ok("DECIMAL -3.5 to I4 rounds to even", Dec(35, 1, true), VT_I4, I4(-4)));
  rows.push_back(Ok("DECIMAL 1.5 to R8", Dec(15, 1), VT_R8, R8(1.5)));
  rows.push_back(Fails("DECIMAL scale 29 is invalid", Dec(1, 29), VT_R8, E_INVALIDARG));
  rows.push_back(Ok("R8 0.1 to DECIMAL", R8(0.1), VT_DECIMAL, Dec(1, 1)));
  rows.push_back(Ok("I8 min to DECIMAL", I8(std::numeric_limits<LONGLONG>::min()), VT_DECIMAL,
                    Dec(0x8000000000000000ull, 0, true)));
  rows.push_back(Fails("R8 1e30 to DECIMAL overflows", R8(1e30), VT_DECIMAL, DISP_E_OVERFLOW));
  rows.push_back(Ok("CY 1.5 to BSTR", Cy(15000), VT_BSTR, Str(u"1.5")));
  rows.push_back(Ok("CY 2.5 to I4 rounds to even", Cy(25000), VT_I4, I4(2)));
  rows.push_back(Ok("CY 3.5 to I4 rounds to even", Cy(35000), VT_I4, I4(4)));
  rows.push_back(Ok("CY 1.5 to DECIMAL", Cy(15000), VT_DECIMAL, Dec(15000, 4)));
  rows.push_back(Ok("R8 2.5 to CY", R8(2.5), VT_CY, Cy(25000)));
  rows.push_back(Ok("BSTR 0.00025 to CY rounds to even", Str(u"0.00025"), VT_CY, Cy(2)));
  rows.push_back(Ok("BSTR 0.00035 to CY rounds to even", Str(u"0.00035"), VT_CY, Cy(4)));
  rows.push_back(Ok("DECIMAL 0.00005 to CY rounds to even", Dec(5, 5), VT_CY, Cy(0)));
  rows.push_back(Fails("I8 max to CY overflows", I8(std::numeric_limits<LONGLONG>::max()), VT_CY, DISP_E_OVERFLOW));
  // dates
  rows.push_back(Ok("BSTR US date to DATE", Str(u"10/5/2008"), VT_DATE, Date(39726)));
  rows.push_back(Ok("de BSTR date and time to DATE", Str(u"05.10.2008 12:00:00"), VT_DATE, Date(39726.5), kDe));
  rows.push_back(Fails("BSTR not a date to DATE", Str(u"not a date"), VT_DATE, DISP_E_TYPEMISMATCH));
  rows.push_back(Ok("DATE to BSTR en-US", Date(39726.5), VT_BSTR, Str(u"10/5/2008 12:00:00 PM")));
  rows.push_back(Ok("DATE to BSTR de", Date(39726.5), VT_BSTR, Str(u"05.10.2008 12:00:00"), kDe));
  rows.push_back(Ok("DATE to R8", Date(39726.25), VT_R8, R8(39726.25)));
  rows.push_back(Ok("R8 to DATE", R8(-1.25), VT_DATE, Date(-1.25)));
  rows.push_back(Fails("R8 3e6 to DATE overflows", R8(3e6), VT_DATE, DISP_E_OVERFLOW));
  rows.push_back(Ok("BOOL true to DATE", Bool(true), VT_DATE, Date(-1)));
  // references, objects and arrays
  rows.push_back(Ok("BYREF I4 to BSTR", ByRefI4(&seven), VT_BSTR, Str(u"7")));
  rows.push_back(Ok("BYREF VARIANT to R8", ByRefVariant(inner.get()), VT_R8, R8(3.5)));
  rows.push_back(Ok("DISPATCH to I4 via value property", dispatch, VT_I4, I4(42)));
  rows.push_back(Ok("DISPATCH to BSTR via value property", dispatch, VT_BSTR, Str(u"42")));
  rows.push_back(Ok("UNKNOWN to R8 via IDispatch", unknown, VT_R8, R8(42)));
  rows.push_back(Fails("DISPATCH with NOVALUEPROP", dispatch, VT_I4, DISP_E_TYPEMISMATCH, kUs, VARIANT_NOVALUEPROP));
  rows.push_back(Fails("null DISPATCH to I4", Make(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; }), VT_I4,
                       DISP_E_TYPEMISMATCH));
  rows.push_back(Ok("UNKNOWN to DISPATCH", unknown, VT_DISPATCH, dispatch));
  rows.push_back(Ok("DISPATCH to UNKNOWN", dispatch, VT_UNKNOWN, unknown));
  rows.push_back(
      Ok("EMPTY to DISPATCH", Empty(), VT_DISPATCH, Make(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; })));
  rows.push_back(Fails("I4 to DISPATCH", I4(1), VT_DISPATCH, DISP_E_TYPEMISMATCH));
  rows.push_back(Ok("ARRAY UI1 to BSTR", Bytes({0x41, 0, 0x42, 0}), VT_BSTR, Str(u"AB")));
  rows.push_back(Ok("BSTR to ARRAY UI1", Str(u"AB"), VT_ARRAY | VT_UI1, Bytes({0x41, 0, 0x42, 0})));
  rows.push_back(Ok("ARRAY I4 to ARRAY I4 copies", I4Array({1, 2, 3}), VT_ARRAY | VT_I4, I4Array({1, 2, 3})));
  rows.push_back(Fails("ARRAY I4 to ARRAY R8", I4Array({1}), VT_ARRAY | VT_R8, DISP_E_TYPEMISMATCH));
  rows.push_back(Fails("ARRAY I4 to I4", I4Array({1}), VT_I4, DISP_E_TYPEMISMATCH));
  rows.push_back(Fails("I4 to VT 15", I4(1), 15, DISP_E_BADVARTYPE));
  rows.push_back(Fails("I4 to BYREF I4", I4(1), VT_BYREF | VT_I4, DISP_E_BADVARTYPE));

  for (Row& row : rows) {
    Var out;
    const HRESULT hr = VariantChangeTypeEx(out.get(), row.src.get(), row.lcid, row.flags, row.vt);
    EXPECT_EQ(hr, row.hr) << row.name << ": got " << Describe(*out.get());
    if (SUCCEEDED(row.hr) && SUCCEEDED(hr)) {
      EXPECT_TRUE(SameValue(*out.get(), *row.want.get()))
          << row.name << ": got " << Describe(*out.get()) << ", want " << Describe(*row.want.get());
    }
    if (FAILED(hr)) {
      EXPECT_EQ(out->vt, VT_EMPTY) << row.name << ": a failed conversion must leave the destination alone";
    }
  }
  rows.clear();
  dispatch = Empty();
  unknown = Empty();
  EXPECT_EQ(object.refs.load(), 1u) << "conversions must balance AddRef and Release";
  EXPECT_GT(object.invokes, 0);
}

TEST(VariantChangeType, InPlaceAndFailureKeepsDestination) {
  Var v = Str(u"  2.5 ");
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_R8), S_OK);
  EXPECT_EQ(v->vt, VT_R8);
  EXPECT_EQ(v->dblVal, 2.5);
  ASSERT_EQ(VariantChangeType(v.get(), v.get(), 0, VT_BSTR), S_OK);
  ASSERT_EQ(v->vt, VT_BSTR);

  // A failure leaves the destination holding its old value, in place too.
  Var big = I4(70000);
  Var dest = Str(u"kept");
  EXPECT_EQ(VariantChangeType(dest.get(), big.get(), 0, VT_UI2), DISP_E_OVERFLOW);
  EXPECT_TRUE(SameValue(*dest.get(), *Str(u"kept").get()));
  EXPECT_EQ(VariantChangeType(big.get(), big.get(), 0, VT_UI2), DISP_E_OVERFLOW);
  EXPECT_TRUE(SameValue(*big.get(), *I4(70000).get()));

  // A BYREF source converted in place becomes a value, the referenced one unchanged.
  LONG target = 9;
  Var ref = Make(VT_BYREF | VT_I4, [&](VARIANT& x) { x.plVal = &target; });
  ASSERT_EQ(VariantChangeType(ref.get(), ref.get(), 0, VT_BSTR), S_OK);
  EXPECT_TRUE(SameValue(*ref.get(), *Str(u"9").get()));
  EXPECT_EQ(target, 9);
}

TEST(VariantChangeType, UserDefaultLocaleFollowsEnvironment) {
  Var half = R8(1.5);
  struct Case {
    const char* var;
    const char* value;
    const char16_t* number;
    const char16_t* date;
  } cases[] = {
      {nullptr, nullptr, u"1.5", u"10/5/2008"},
      {"LANG", "C", u"1.5", u"10/5/2008"},
      {"LANG", "de_DE.UTF-8", u"1,5", u"05.10.2008"},
      {"LC_NUMERIC", "fr_FR.UTF-8", u"1,5", u"05.10.2008"},  // dates from LANG
      {"LC_TIME", "en_GB.UTF-8", u"1,5", u"05/10/2008"},     // numbers from LANG
      {"LC_ALL", "POSIX", u"1.5", u"10/5/2008"},             // over LANG
  };
  for (const Case& c : cases) {
    LocaleEnv env;  // starts with every locale variable unset
    env.Set("LANG", "de_DE.UTF-8");
    if (c.var == nullptr || std::strcmp(c.var, "LANG") == 0) unsetenv("LANG");
    if (c.var != nullptr) env.Set(c.var, c.value);
    Var out;
    ASSERT_EQ(VariantChangeType(out.get(), half.get(), 0, VT_BSTR), S_OK);
    EXPECT_TRUE(SameValue(*out.get(), *Str(c.number).get()))
        << (c.value ? c.value : "unset") << ": " << Describe(*out.get());
    Var date = Date(39726);
    ASSERT_EQ(VariantChangeType(out.get(), date.get(), 0, VT_BSTR), S_OK);
    EXPECT_TRUE(SameValue(*out.get(), *Str(c.date).get()))
        << (c.value ? c.value : "unset") << ": " << Describe(*out.get());
    // The system default does not follow the user.
    ASSERT_EQ(VariantChangeTypeEx(out.get(), half.get(), LOCALE_SYSTEM_DEFAULT, 0, VT_BSTR), S_OK);
    EXPECT_TRUE(SameValue(*out.get(), *Str(u"1.5").get()));
  }
}

TEST(Variant, CopyClearAndIndirection) {
  // Copies are deep: texts with embedded zeros and arrays are duplicated.
  Var text = Str(std::u16string_view(u"a\0b", 3));
  Var copy;
  ASSERT_EQ(VariantCopy(copy.get(), text.get()), S_OK);
  EXPECT_NE(copy->bstrVal, text->bstrVal);
  EXPECT_TRUE(SameValue(*copy.get(), *text.get()));

  Var array = I4Array({4, 5});
  ASSERT_EQ(VariantCopy(copy.get(), array.get()), S_OK);  // replaces (and frees) the text
  EXPECT_NE(copy->parray, array->parray);
  EXPECT_TRUE(SameValue(*copy.get(), *array.get()));

  // A locked array cannot be cleared.
  ASSERT_EQ(SafeArrayLock(copy->parray), S_OK);
  EXPECT_EQ(VariantClear(copy.get()), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(copy->parray), S_OK);

  // BYREF: VariantCopy copies the reference, VariantCopyInd the value.
  BSTR shared = SysAllocString(u"shared");
  Var ref = Make(VT_BYREF | VT_BSTR, [&](VARIANT& v) { v.pbstrVal = &shared; });
  ASSERT_EQ(VariantCopy(copy.get(), ref.get()), S_OK);
  EXPECT_EQ(copy->pbstrVal, &shared);
  ASSERT_EQ(VariantCopyInd(copy.get(), ref.get()), S_OK);
  ASSERT_EQ(copy->vt, VT_BSTR);
  EXPECT_NE(copy->bstrVal, shared);
  EXPECT_EQ(std::u16string(copy->bstrVal), u"shared");
  ASSERT_EQ(VariantCopyInd(ref.get(), ref.get()), S_OK);  // in place
  EXPECT_EQ(ref->vt, VT_BSTR);
  SysFreeString(shared);

  // An invalid type is refused and the VARIANT left alone.
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 15;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantCopy(copy.get(), &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(copy->vt, VT_BSTR);
}

}  // namespace
}  // namespace vel::test
