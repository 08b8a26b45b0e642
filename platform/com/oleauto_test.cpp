#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "testing/VariantMatchers.h"

using namespace vel::testing;

namespace vel::test {
namespace {

std::u16string Text(BSTR b) { return std::u16string(b == nullptr ? u"" : b, SysStringLen(b)); }

// ---- BSTR --------------------------------------------------------------------

TEST(Bstr, LengthPrefixKeepsEmbeddedZeros) {
  BSTR b = SysAllocStringLen(u"a\0b\0", 4);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(SysStringLen(b), 4u);
  EXPECT_EQ(SysStringByteLen(b), 8u);
  DWORD prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
  EXPECT_EQ(prefix, 8u) << "byte length sits in the 4 bytes before the text";
  EXPECT_EQ(b[4], u'\0') << "zero terminated after the counted text";
  EXPECT_EQ(Text(b), std::u16string(u"a\0b\0", 4));

  // An odd byte count keeps every byte and a wide terminator after them.
  BSTR odd = SysAllocStringByteLen("xyz", 3);
  EXPECT_EQ(SysStringByteLen(odd), 3u);
  EXPECT_EQ(SysStringLen(odd), 1u);
  EXPECT_EQ(std::memcmp(odd, "xyz\0\0", 5), 0);

  // Null is the empty text; a null source allocates zeroed space.
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  BSTR blank = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(Text(blank), std::u16string(3, u'\0'));

  // Reallocating from a piece of the string itself must read it before freeing it.
  ASSERT_TRUE(SysReAllocStringLen(&b, b + 2, 2));
  EXPECT_EQ(Text(b), std::u16string(u"b\0", 2));
  ASSERT_TRUE(SysReAllocString(&odd, u"longer text"));
  EXPECT_EQ(Text(odd), u"longer text");

  SysFreeString(b);
  SysFreeString(odd);
  SysFreeString(blank);
  SysFreeString(nullptr);
}

// ---- SAFEARRAY -----------------------------------------------------------------

struct ArrayDeleter {
  void operator()(SAFEARRAY* psa) const { EXPECT_EQ(SafeArrayDestroy(psa), S_OK); }
};
using ArrayPtr = std::unique_ptr<SAFEARRAY, ArrayDeleter>;

TEST(SafeArray, LockCountingGuardsDestroyAndRedim) {
  ArrayPtr a(SafeArrayCreateVector(VT_I4, 0, 4));
  ASSERT_TRUE(a);
  void* data = nullptr;
  ASSERT_EQ(SafeArrayAccessData(a.get(), &data), S_OK);
  EXPECT_EQ(data, a->pvData);
  ASSERT_EQ(SafeArrayLock(a.get()), S_OK);
  EXPECT_EQ(a->cLocks, 2u);

  SAFEARRAYBOUND bigger{8, 0};
  EXPECT_EQ(SafeArrayDestroy(a.get()), DISP_E_ARRAYISLOCKED);
  EXPECT_EQ(SafeArrayRedim(a.get(), &bigger), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(a.get()), S_OK);
  EXPECT_EQ(SafeArrayDestroy(a.get()), DISP_E_ARRAYISLOCKED) << "one lock is still held";
  ASSERT_EQ(SafeArrayUnaccessData(a.get()), S_OK);
  EXPECT_EQ(SafeArrayUnlock(a.get()), E_UNEXPECTED) << "more unlocks than locks";
  EXPECT_EQ(SafeArrayRedim(a.get(), &bigger), S_OK);
  LONG ub = 0;
  ASSERT_EQ(SafeArrayGetUBound(a.get(), 1, &ub), S_OK);
  EXPECT_EQ(ub, 7);
}

TEST(SafeArray, DescriptorBoundsAndElementOrder) {
  // Dimension 1 has 3 elements from -1, dimension 2 has 2 elements from 10.
  SAFEARRAYBOUND bounds[2] = {{3, -1}, {2, 10}};
  ArrayPtr a(SafeArrayCreate(VT_I2, 2, bounds));
  ASSERT_TRUE(a);
  EXPECT_EQ(SafeArrayGetDim(a.get()), 2u);
  EXPECT_EQ(SafeArrayGetElemsize(a.get()), 2u);
  EXPECT_TRUE(a->fFeatures & FADF_HAVEVARTYPE);
  VARTYPE vt = 0;
  ASSERT_EQ(SafeArrayGetVartype(a.get(), &vt), S_OK);
  EXPECT_EQ(vt, VT_I2);
  DWORD stored;
  std::memcpy(&stored, reinterpret_cast<const char*>(a.get()) - 4, 4);
  EXPECT_EQ(stored, static_cast<DWORD>(VT_I2)) << "VARTYPE kept in the 4 bytes before the descriptor";

  LONG lb = 0, ub = 0;
  ASSERT_EQ(SafeArrayGetLBound(a.get(), 1, &lb), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(a.get(), 1, &ub), S_OK);
  EXPECT_EQ(lb, -1);
  EXPECT_EQ(ub, 1);
  ASSERT_EQ(SafeArrayGetLBound(a.get(), 2, &lb), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(a.get(), 2, &ub), S_OK);
  EXPECT_EQ(lb, 10);
  EXPECT_EQ(ub, 11);
  EXPECT_EQ(SafeArrayGetLBound(a.get(), 3, &lb), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(a.get(), 0, &ub), DISP_E_BADINDEX);

  // The first index varies fastest in memory.
  for (LONG j = 10; j <= 11; ++j) {
    for (LONG i = -1; i <= 1; ++i) {
      LONG idx[2] = {i, j};
      SHORT value = static_cast<SHORT>(i * 100 + j);
      ASSERT_EQ(SafeArrayPutElement(a.get(), idx, &value), S_OK);
      void* cell = nullptr;
      ASSERT_EQ(SafeArrayPtrOfIndex(a.get(), idx, &cell), S_OK);
      EXPECT_EQ(cell, static_cast<SHORT*>(a->pvData) + (i + 1) + (j - 10) * 3);
    }
  }
  LONG idx[2] = {1, 11};
  SHORT got = 0;
  ASSERT_EQ(SafeArrayGetElement(a.get(), idx, &got), S_OK);
  EXPECT_EQ(got, 111);
  LONG outside[2] = {2, 11};
  EXPECT_EQ(SafeArrayGetElement(a.get(), outside, &got), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayPutElement(a.get(), outside, &got), DISP_E_BADINDEX);
  LONG below[2] = {0, 9};
  void* cell = nullptr;
  EXPECT_EQ(SafeArrayPtrOfIndex(a.get(), below, &cell), DISP_E_BADINDEX);
  EXPECT_EQ(a->cLocks, 0u) << "element access must not leave locks behind";

  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, bounds), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, bounds), nullptr);
}

TEST(SafeArray, BstrElementsAreCopiedAndRedimFreesDropped) {
  ArrayPtr a(SafeArrayCreateVector(VT_BSTR, 1, 3));
  ASSERT_TRUE(a);
  EXPECT_TRUE(a->fFeatures & FADF_BSTR);
  BSTR mine = SysAllocStringLen(u"x\0y", 3);
  for (LONG i = 1; i <= 3; ++i) ASSERT_EQ(SafeArrayPutElement(a.get(), &i, mine), S_OK);
  LONG two = 2;
  BSTR* cells = static_cast<BSTR*>(a->pvData);
  EXPECT_NE(cells[1], mine) << "PutElement stores a copy";
  mine[0] = u'z';
  BSTR got = nullptr;
  ASSERT_EQ(SafeArrayGetElement(a.get(), &two, &got), S_OK);
  EXPECT_NE(got, cells[1]) << "GetElement hands out a copy";
  EXPECT_EQ(Text(got), std::u16string(u"x\0y", 3));
  SysFreeString(got);
  SysFreeString(mine);

  // Replacing an element frees the old text (the leak checker sees it otherwise).
  BSTR empty = SysAllocString(u"");
  ASSERT_EQ(SafeArrayPutElement(a.get(), &two, empty), S_OK);
  SysFreeString(empty);

  // A copy is deep.
  SAFEARRAY* raw = nullptr;
  ASSERT_EQ(SafeArrayCopy(a.get(), &raw), S_OK);
  ArrayPtr copy(raw);
  EXPECT_NE(static_cast<BSTR*>(copy->pvData)[0], cells[0]);
  EXPECT_EQ(Text(static_cast<BSTR*>(copy->pvData)[0]), Text(cells[0]));
  VARTYPE vt = 0;
  ASSERT_EQ(SafeArrayGetVartype(copy.get(), &vt), S_OK);
  EXPECT_EQ(vt, VT_BSTR);

  // Shrinking frees the dropped texts; growing adds null (empty) ones; the lower bound may move.
  SAFEARRAYBOUND one{1, 0};
  ASSERT_EQ(SafeArrayRedim(a.get(), &one), S_OK);
  SAFEARRAYBOUND four{4, 5};
  ASSERT_EQ(SafeArrayRedim(a.get(), &four), S_OK);
  cells = static_cast<BSTR*>(a->pvData);
  EXPECT_EQ(Text(cells[0]), std::u16string(u"x\0y", 3));
  for (int i = 1; i < 4; ++i) EXPECT_EQ(cells[i], nullptr);
  LONG lb = 0;
  ASSERT_EQ(SafeArrayGetLBound(a.get(), 1, &lb), S_OK);
  EXPECT_EQ(lb, 5);

  // CopyData refuses another shape and otherwise replaces the target's texts.
  EXPECT_EQ(SafeArrayCopyData(copy.get(), a.get()), E_INVALIDARG);
  ArrayPtr target(SafeArrayCreateVector(VT_BSTR, 0, 3));
  LONG zero = 0;
  BSTR old = SysAllocString(u"old");
  ASSERT_EQ(SafeArrayPutElement(target.get(), &zero, old), S_OK);
  SysFreeString(old);
  ASSERT_EQ(SafeArrayCopyData(copy.get(), target.get()), S_OK);
  EXPECT_EQ(Text(static_cast<BSTR*>(target->pvData)[0]), std::u16string(u"x\0y", 3));
}

TEST(SafeArray, VariantAndInterfaceElementsHoldReferences) {
  ValueObject object(I4(1));
  {
    ArrayPtr units(SafeArrayCreateVector(VT_UNKNOWN, 0, 2));
    LONG i = 0;
    ASSERT_EQ(SafeArrayPutElement(units.get(), &i, static_cast<IUnknown*>(&object)), S_OK);
    EXPECT_EQ(object.refs.load(), 2u);
    IUnknown* got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(units.get(), &i, &got), S_OK);
    EXPECT_EQ(got, &object);
    EXPECT_EQ(object.refs.load(), 3u);
    got->Release();

    ArrayPtr variants(SafeArrayCreateVector(VT_VARIANT, 0, 2));
    EXPECT_EQ(SafeArrayGetElemsize(variants.get()), sizeof(VARIANT));
    Var holder = Make(VT_DISPATCH, [&](VARIANT& v) {
      v.pdispVal = &object;
      object.AddRef();
    });
    ASSERT_EQ(SafeArrayPutElement(variants.get(), &i, holder.get()), S_OK);
    EXPECT_EQ(object.refs.load(), 4u);
    Var text = Str(u"value");
    LONG one = 1;
    ASSERT_EQ(SafeArrayPutElement(variants.get(), &one, text.get()), S_OK);
    Var back;
    ASSERT_EQ(SafeArrayGetElement(variants.get(), &one, back.get()), S_OK);
    EXPECT_TRUE(SameValue(*back.get(), *text.get()));
    EXPECT_NE(back->bstrVal, static_cast<VARIANT*>(variants->pvData)[1].bstrVal);
  }
  EXPECT_EQ(object.refs.load(), 1u) << "destroying the arrays releases their references";
}

// ---- dates ---------------------------------------------------------------------

SYSTEMTIME St(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st{};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

std::string Show(const SYSTEMTIME& st) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d dow %d", st.wYear, st.wMonth, st.wDay, st.wHour,
                st.wMinute, st.wSecond, st.wMilliseconds, st.wDayOfWeek);
  return buf;
}

TEST(OleDate, SystemTimeRoundTrip) {
  struct Case {
    SYSTEMTIME st;
    double date;
    WORD dayOfWeek;
  } cases[] = {
      {St(1899, 12, 30), 0.0, 6},       {St(2008, 10, 5, 12), 39726.5, 0}, {St(1899, 12, 29, 6), -1.25, 5},
      {St(1900, 3, 1, 18), 61.75, 4},   {St(2000, 2, 29), 36585.0, 2},     {St(100, 1, 1), -657434.0, 5},
      {St(9999, 12, 31), 2958465.0, 5},
  };
  for (const Case& c : cases) {
    SYSTEMTIME in = c.st;
    double date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&in, &date)) << Show(c.st);
    EXPECT_DOUBLE_EQ(date, c.date) << Show(c.st);
    SYSTEMTIME out{};
    ASSERT_TRUE(VariantTimeToSystemTime(c.date, &out)) << c.date;
    SYSTEMTIME want = c.st;
    want.wDayOfWeek = c.dayOfWeek;
    EXPECT_EQ(Show(out), Show(want)) << c.date;
  }
  // Milliseconds are ignored on the way in.
  SYSTEMTIME ms = St(2008, 10, 5, 12, 0, 0, 999);
  double date = 0;
  ASSERT_TRUE(SystemTimeToVariantTime(&ms, &date));
  EXPECT_EQ(date, 39726.5);

  for (SYSTEMTIME bad : {St(2008, 13, 1), St(2001, 2, 29), St(99, 12, 31), St(10000, 1, 1), St(2008, 1, 1, 24)}) {
    EXPECT_FALSE(SystemTimeToVariantTime(&bad, &date)) << Show(bad);
  }
  SYSTEMTIME out{};
  EXPECT_FALSE(VariantTimeToSystemTime(-657435.0, &out));
  EXPECT_FALSE(VariantTimeToSystemTime(2958466.0, &out));
}

TEST(OleDate, RoundsToTheNearestSecond) {
  const double second = 1.0 / 86400;
  struct Case {
    double date;
    const char* want;
  } cases[] = {
      {39726.5 + 0.4999 * second, "2008-10-05 12:00:00.000 dow 0"},
      {39726.5 + 0.5 * second, "2008-10-05 12:00:01.000 dow 0"},
      {39726.5 + 1.4999 * second, "2008-10-05 12:00:01.000 dow 0"},
      {39727 - 0.5 * second, "2008-10-06 00:00:00.000 dow 1"},           // carries into the next day
      {-1.0 - (86400 - 0.5) * second, "1899-12-30 00:00:00.000 dow 6"},  // negative: fraction counts forward
  };
  for (const Case& c : cases) {
    SYSTEMTIME out{};
    ASSERT_TRUE(VariantTimeToSystemTime(c.date, &out));
    EXPECT_EQ(Show(out), c.want) << c.date;
  }
}

constexpr LCID kUs = 0x0409, kGb = 0x0809, kDe = 0x0407, kFr = 0x040C, kInv = 0x007F;

TEST(OleDate, TextPerLocale) {
  // Dates written in each locale and read back.
  struct Out {
    LCID lcid;
    double date;
    ULONG flags;
    const char16_t* text;
  } written[] = {
      {kUs, 39726.5, 0, u"10/5/2008 12:00:00 PM"},
      {kUs, 39726.0, 0, u"10/5/2008"},
      {kUs, 39726.75 + 30.0 / 86400, 0, u"10/5/2008 6:00:30 PM"},
      {kUs, 0.0, 0, u"12:00:00 AM"},
      {kUs, 0.2708333333333333, 0, u"6:30:00 AM"},
      {kUs, 0.0, VAR_DATEVALUEONLY, u"12/30/1899"},
      {kUs, 39726.5, VAR_DATEVALUEONLY, u"10/5/2008"},
      {kUs, 39726.5, VAR_TIMEVALUEONLY, u"12:00:00 PM"},
      {kUs, -1.25, 0, u"12/29/1899 6:00:00 AM"},
      {kUs, -657434.0, 0, u"1/1/0100"},
      {kGb, 39726.5, 0, u"05/10/2008 12:00:00"},
      {kGb, 39726.0, 0, u"05/10/2008"},
      {kDe, 39726.75, 0, u"05.10.2008 18:00:00"},
      {kDe, 0.2708333333333333, 0, u"06:30:00"},
      {kFr, 39726.5, 0, u"05/10/2008 12:00:00"},
      {kInv, 39726.5, 0, u"10/05/2008 12:00:00"},
      {LOCALE_SYSTEM_DEFAULT, 39726.5, 0, u"10/5/2008 12:00:00 PM"},
      {0x0C07, 39726.5, 0, u"05.10.2008 12:00:00"},  // de-AT: the language's default layout
  };
  for (const Out& w : written) {
    BSTR text = nullptr;
    ASSERT_EQ(VarBstrFromDate(w.date, w.lcid, w.flags, &text), S_OK) << ToUtf8(w.text);
    EXPECT_EQ(Text(text), w.text) << std::hex << w.lcid;
    if (w.flags == 0) {
      DATE back = -1;
      ASSERT_EQ(VarDateFromStr(text, w.lcid, 0, &back), S_OK) << ToUtf8(w.text);
      EXPECT_NEAR(back, w.date, 1e-9) << ToUtf8(w.text);
    }
    SysFreeString(text);
  }
  BSTR none = nullptr;
  EXPECT_EQ(VarBstrFromDate(2958466.0, kUs, 0, &none), E_INVALIDARG);
  EXPECT_EQ(none, nullptr);

  // Texts only read.
  struct In {
    LCID lcid;
    const char16_t* text;
    ULONG flags;
    HRESULT hr;
    double date;
  } read[] = {
      {kUs, u"2008-10-05", 0, S_OK, 39726.0},
      {kDe, u"2008-10-05T12:00:00", 0, S_OK, 39726.5},
      {kFr, u"2008-10-05 12:00:00", 0, S_OK, 39726.5},
      {kGb, u"2008-10-05T06:00:00.250", 0, S_OK, 39726.25},
      {kUs, u"  10/5/08  ", 0, S_OK, 39726.0},
      {kUs, u"1/1/30", 0, S_OK, 10959.0},
      {kUs, u"10-5-2008 18:00", 0, S_OK, 39726.75},
      {kUs, u"10/5/2008 12:00 am", 0, S_OK, 39726.0},
      {kUs, u"13/5/2008", 0, S_OK, 39581.0},  // no 13th month: read as day/month
      {kUs, u"October 5, 2008", 0, S_OK, 39726.0},
      {kGb, u"5 Oct 2008", 0, S_OK, 39726.0},
      {kDe, u"5. Oktober 2008", 0, S_OK, 39726.0},
      {kFr, u"5 f\u00e9vrier 2008", 0, S_OK, 39483.0},
      {kUs, u"10/5/2008 12:00:00 PM", VAR_DATEVALUEONLY, S_OK, 39726.0},
      {kUs, u"10/5/2008 12:00:00 PM", VAR_TIMEVALUEONLY, S_OK, 0.5},
      {kUs, u"abc", 0, DISP_E_TYPEMISMATCH, 0},
      {kUs, u"", 0, DISP_E_TYPEMISMATCH, 0},
      {kUs, u"13/13/2008", 0, DISP_E_TYPEMISMATCH, 0},
      {kUs, u"2/30/2008", 0, DISP_E_TYPEMISMATCH, 0},
      {kUs, u"10/5/2008 25:00", 0, DISP_E_TYPEMISMATCH, 0},
      {kUs, u"10/5/2008 13:00 PM", 0, DISP_E_TYPEMISMATCH, 0},
      {kUs, u"10/5/2008 12:00:00 XM", 0, DISP_E_TYPEMISMATCH, 0},
      {kUs, u"1/2/3/4", 0, DISP_E_TYPEMISMATCH, 0},
      {kUs, u"5", 0, DISP_E_TYPEMISMATCH, 0},
  };
  for (const In& r : read) {
    DATE date = -99;
    EXPECT_EQ(VarDateFromStr(r.text, r.lcid, r.flags, &date), r.hr) << ToUtf8(r.text);
    if (r.hr == S_OK) {
      EXPECT_NEAR(date, r.date, 1e-9) << ToUtf8(r.text);
    }
  }
}

TEST(OleDate, UserDefaultLocaleReadsLcTime) {
  LocaleEnv env;
  env.Set("LANG", "en_US.UTF-8");
  env.Set("LC_TIME", "de_DE.UTF-8");
  BSTR text = nullptr;
  ASSERT_EQ(VarBstrFromDate(39726.5, LOCALE_USER_DEFAULT, 0, &text), S_OK);
  EXPECT_EQ(Text(text), u"05.10.2008 12:00:00");
  SysFreeString(text);
  DATE date = 0;
  ASSERT_EQ(VarDateFromStr(u"06.10.2008", LOCALE_USER_DEFAULT, 0, &date), S_OK);
  EXPECT_EQ(date, 39727.0);
  env.Set("LC_ALL", "en_GB");
  ASSERT_EQ(VarDateFromStr(u"06/10/2008", LOCALE_USER_DEFAULT, 0, &date), S_OK);
  EXPECT_EQ(date, 39727.0);
}

}  // namespace
}  // namespace vel::test

namespace vel::test {
namespace {

// Every prefix and a run of byte mutations of valid texts must end in a clean
// result or DISP_E_TYPEMISMATCH / DISP_E_OVERFLOW, never a crash (the suite also
// runs under the sanitizers).
TEST(OleTextParsers, PrefixesAndMutationsFailCleanly) {
  const std::u16string seeds[] = {
      u"10/5/2008 12:00:00 PM",        u"2008-10-05T06:00:00.250", u"5. Oktober 2008", u"  -1.234,5E+3  ", u"(&HFFFF)",
      u"79228162514264337593543950335"};
  const VARTYPE targets[] = {VT_DATE, VT_R8, VT_I4, VT_DECIMAL, VT_CY, VT_BOOL, VT_UI1};
  auto check = [&](const std::u16string& text) {
    for (LCID lcid : {LCID{0x0409}, LCID{0x0407}}) {
      Var src = Str(text);
      for (VARTYPE vt : targets) {
        Var out;
        const HRESULT hr = VariantChangeTypeEx(out.get(), src.get(), lcid, 0, vt);
        ASSERT_TRUE(hr == S_OK || hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW)
            << ToUtf8(text) << " -> " << VtName(vt) << ": 0x" << std::hex << hr;
        if (hr == S_OK) {
          EXPECT_EQ(out->vt, vt);
        }
      }
    }
  };
  unsigned state = 12345;
  auto next = [&] { return state = state * 1103515245u + 12345u; };
  const char16_t alphabet[] = u"0123456789/.-:, TAPMEe&H()+";
  for (const std::u16string& seed : seeds) {
    for (std::size_t n = 0; n <= seed.size(); ++n) check(seed.substr(0, n));
    for (int round = 0; round < 200; ++round) {
      std::u16string text = seed;
      for (int k = 0; k < 3; ++k) {
        const std::size_t pos = (next() >> 8) % (text.size() + 1);
        const char16_t c = alphabet[(next() >> 8) % (std::size(alphabet) - 1)];
        switch ((next() >> 8) % 3) {
          case 0:
            text.insert(pos, 1, c);
            break;
          case 1:
            if (pos < text.size()) text.erase(pos, 1);
            break;
          default:
            if (pos < text.size()) text[pos] = c;
            break;
        }
      }
      check(text);
    }
  }
}

}  // namespace
}  // namespace vel::test
