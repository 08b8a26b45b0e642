#include "ylib/YFormat.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "platform/text.h"

namespace {

struct Row {
  const char* name;
  std::u16string got;
  std::u16string want;
};

void CheckRows(const std::initializer_list<Row>& rows) {
  for (const Row& r : rows) {
    EXPECT_EQ(vel::ToUtf8(r.got), vel::ToUtf8(r.want)) << "row: " << r.name;
  }
}

// A type that prints through the YFormatText extension point.
struct Tagged {
  int n;
};
std::u16string YFormatText(const Tagged& t) { return u"tag" + std::u16string(1, static_cast<char16_t>(u'0' + t.n)); }

TEST(YFormat, FormatsTheSystemsFormatTexts) {
  const std::u16string when = u"01.02.2024 10:11:12";
  CheckRows({
      {"log line", YFormat(u"%s [%-10s] TID:%d : %s\n", when, u"WARNING", 4242u, u"text"),
       u"01.02.2024 10:11:12 [WARNING   ] TID:4242 : text\n"},
      {"time", YFormat(u"%04d:%02d:%02d", 7, 5, 9), u"0007:05:09"},
      {"I64d", YFormat(u"%I64d", std::int64_t{-1234567890123}), u"-1234567890123"},
      {"timer", YFormat(u"==TIMER==\t%s\t%.8f\tms\n", u"Read", 1.5), u"==TIMER==\tRead\t1.50000000\tms\n"},
      {"hex byte", YFormat(u"%02x", 10), u"0a"},
      {"hex code", YFormat(u"0x%X", 0x80045D53u), u"0x80045D53"},
      {"%0.16f", YFormat(u"%0.16f", 0.1), u"0.1000000000000000"},
      {"%.15f", YFormat(u"%.15f", 2.0 / 3.0), u"0.666666666666667"},
      {"percent", YFormat(u"100%% of %d", 3), u"100% of 3"},
  });
}

TEST(YFormat, IntegersAreReadAtTheConversionsWidth) {
  CheckRows({
      {"%d of unsigned max", YFormat(u"%d", 0xFFFFFFFFu), u"-1"},
      {"%I64d of uint64 max", YFormat(u"%I64d", UINT64_MAX), u"-1"},
      {"%I64u of uint64 max", YFormat(u"%I64u", UINT64_MAX), u"18446744073709551615"},
      {"%I64u of int -1 widens by sign", YFormat(u"%I64u", -1), u"18446744073709551615"},
      {"%X of negative int", YFormat(u"%X", -2), u"FFFFFFFE"},
      {"%x of int64 cut to 32 bits", YFormat(u"%x", std::int64_t{0x123456789}), u"23456789"},
      {"%llx", YFormat(u"%llx", std::int64_t{0x123456789}), u"123456789"},
      {"%hd", YFormat(u"%hd", 0x18000), u"-32768"},
      {"%hu", YFormat(u"%hu", -1), u"65535"},
      {"%ld is 32 bits", YFormat(u"%ld", std::int64_t{0x100000001}), u"1"},
      {"%u of negative", YFormat(u"%u", -1), u"4294967295"},
      {"%o", YFormat(u"%o", 8), u"10"},
      {"%#x", YFormat(u"%#x", 255), u"0xff"},
      {"%+d", YFormat(u"%+d", 5), u"+5"},
      {"% d", YFormat(u"% d", 5), u" 5"},
      {"%-5d|", YFormat(u"%-5d|", 42), u"42   |"},
      {"%.3d", YFormat(u"%.3d", 7), u"007"},
      {"%*d", YFormat(u"%*d", 4, 7), u"   7"},
      {"negative * width left-justifies", YFormat(u"%*d|", -4, 7), u"7   |"},
      {"bool", YFormat(u"%d", true), u"1"},
      {"char16_t as number", YFormat(u"%d", u'A'), u"65"},
      {"%I64d of int64 min", YFormat(u"%I64d", INT64_MIN), u"-9223372036854775808"},
  });
}

TEST(YFormat, FloatsPrintAsCDoes) {
  CheckRows({
      {"%f", YFormat(u"%f", 3.14159), u"3.141590"},
      {"%e", YFormat(u"%e", 12345.678), u"1.234568e+04"},
      {"%E", YFormat(u"%E", 0.00012), u"1.200000E-04"},
      {"%g", YFormat(u"%g", 0.0001), u"0.0001"},
      {"%G", YFormat(u"%G", 1e-10), u"1E-10"},
      {"%10.2f", YFormat(u"%10.2f|", -1.005), u"     -1.00|"},
      {"%010.3f", YFormat(u"%010.3f", 3.5), u"000003.500"},
      {"%.*f", YFormat(u"%.*f", 2, 1.0), u"1.00"},
      {"integer for %f", YFormat(u"%.1f", 3), u"3.0"},
      {"float", YFormat(u"%.2f", 2.5f), u"2.50"},
      {"huge", YFormat(u"%.0f", 1e300).size() == 301 ? u"ok" : u"wrong length", u"ok"},
  });
}

TEST(YFormat, TextAndCharacters) {
  const char16_t* nullWide = nullptr;
  const char* nullNarrow = nullptr;
  std::u16string wide = u"wide";
  std::string narrow = "na\xC3\xAFve";  // UTF-8
  CheckRows({
      {"%s wide pointer", YFormat(u"[%s]", u"abc"), u"[abc]"},
      {"%s u16string", YFormat(u"[%s]", wide), u"[wide]"},
      {"%s u16string_view", YFormat(u"[%s]", std::u16string_view(wide).substr(1)), u"[ide]"},
      {"%S narrow UTF-8", YFormat(u"[%S]", narrow), u"[na\u00EFve]"},
      {"%S narrow literal", YFormat(u"[%S]", "abc"), u"[abc]"},
      {"%s with narrow text still decodes", YFormat(u"[%s]", "abc"), u"[abc]"},
      {"%S with wide text", YFormat(u"[%S]", u"abc"), u"[abc]"},
      {"null wide", YFormat(u"%s", nullWide), u"(null)"},
      {"null narrow", YFormat(u"%S", nullNarrow), u"(null)"},
      {"width", YFormat(u"[%6s]", u"ab"), u"[    ab]"},
      {"left", YFormat(u"[%-6s]", u"ab"), u"[ab    ]"},
      {"precision", YFormat(u"[%.2s]", u"abcdef"), u"[ab]"},
      {"%c", YFormat(u"%c%c", u'x', char16_t{0x20AC}), u"x\u20AC"},
      {"%c of int", YFormat(u"%c", 65), u"A"},
      {"%3c", YFormat(u"[%3c]", u'x'), u"[  x]"},
      {"YFormatText", YFormat(u"%s", Tagged{3}), u"tag3"},
      {"%p", YFormat(u"%p", reinterpret_cast<void*>(0xABC)), u"0000000000000ABC"},
      {"%p null", YFormat(u"%p", nullptr), u"0000000000000000"},
      {"no conversions", YFormat(u"plain"), u"plain"},
  });
}

TEST(YFormat, MistakesAreVisibleNotFatal) {
  CheckRows({
      {"text for %d", YFormat(u"%d", u"x"), u"(bad arg)"},
      {"number for %s", YFormat(u"%s", 5), u"(bad arg)"},
      {"double for %x", YFormat(u"%x", 1.5), u"(bad arg)"},
      {"pointer for %d", YFormat(u"%d", reinterpret_cast<void*>(1)), u"(bad arg)"},
      {"missing argument", YFormat(u"%d and %s", 1), u"1 and (missing arg)"},
      {"surplus ignored", YFormat(u"%d", 1, 2, 3), u"1"},
      {"unknown conversion kept", YFormat(u"%k|%d", 4), u"%k|4"},
      {"%n is not written through", YFormat(u"%n|%d", 4), u"%n|4"},
      {"trailing percent", YFormat(u"50%"), u"50%"},
      {"text as * width", YFormat(u"%*d|%d", u"x", 1, 2), u"(bad arg)|2"},
      {"huge width is capped", YFormat(u"%99999999d", 1).size() == 4096 ? u"capped" : u"not capped", u"capped"},
  });
}

TEST(YFormat, EveryPrefixOfAFormatIsSafe) {
  const std::u16string format = u"%-+ #0*.*I64d|%hhx%llX%5.2s%c%p%%%I32u%zu%lf%S%.*s%-*c";
  for (std::size_t n = 0; n <= format.size(); ++n) {
    const std::u16string_view prefix = std::u16string_view(format).substr(0, n);
    const std::u16string out = YFormat(prefix, 5, 3, INT64_MIN, 300, -1, u"wide", u'x', nullptr, 7u, std::size_t{9},
                                       2.5, "narrow", 2, u"abc", -3, u'y');
    EXPECT_LT(out.size(), 200u) << "prefix " << n;
  }
}

}  // namespace
