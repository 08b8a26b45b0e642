#include "ylib/YString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/winbase.h"
#include "testing/ReportMatchers.h"
#include "ylib/YBufMalloc.h"
#include "ylib/YBufSafeArray.h"

using namespace vel::testing;

namespace {

using Tokens = std::vector<std::u16string>;

TEST(CYStringHelper, TokenizeString) {
  struct Case {
    const char* name;
    std::u16string text;
    const char16_t* delimiters;
    Tokens want;
  };
  const std::vector<Case> cases = {
      {"runs and ends", u"|a||b|", u"|", {u"a", u"b"}},
      {"empty text", u"", u"|", {}},
      {"only delimiters", u"|||", u"|", {}},
      {"no delimiter in text", u"abc", u",", {u"abc"}},
      {"several delimiters", u" a,b ;c", u" ,;", {u"a", u"b", u"c"}},
      {"empty text, null delimiters", u"", nullptr, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(CYStringHelper::TokenizeString(c.text, c.delimiters), c.want) << c.name;
  ExpectCode([] { CYStringHelper::TokenizeString(u"a|b", u""); }, 1010, "empty delimiters");
  ExpectCode([] { CYStringHelper::TokenizeString(u"a|b", nullptr); }, 1010, "null delimiters");
}

TEST(CYStringHelper, UnTokenizeAndIntegers) {
  EXPECT_EQ(CYStringHelper::UnTokenizeString({u"a", u"", u"c"}, u", "), u"a, , c");
  EXPECT_EQ(CYStringHelper::UnTokenizeString({}, u","), u"");
  EXPECT_EQ(CYStringHelper::UnTokenizeString({u"one"}, u","), u"one");
  EXPECT_EQ(CYStringHelper::IntToString(-2147483647 - 1), u"-2147483648");
  std::u16string text = u"Track ";
  CYStringHelper::AppendInt(text, 7);
  EXPECT_EQ(text, u"Track 7");
}

TEST(CYStringHelper, ConvertNewlinesTo) {
  struct Case {
    const char* name;
    std::u16string text;
    std::u16string newline;
    std::u16string want;
  };
  const std::vector<Case> cases = {
      {"all three ends to CRLF", u"a\r\nb\rc\nd", u"\r\n", u"a\r\nb\r\nc\r\nd"},
      {"all three ends to LF", u"a\r\nb\rc\nd", u"\n", u"a\nb\nc\nd"},
      {"LF CR is two ends", u"a\n\rb", u"|", u"a||b"},
      {"CR CR LF is two ends", u"a\r\r\nb", u"|", u"a||b"},
      {"trailing CR", u"a\r", u"\r\n", u"a\r\n"},
      {"no ends", u"abc", u"\r\n", u"abc"},
  };
  for (const Case& c : cases) EXPECT_EQ(CYStringHelper::ConvertNewlinesTo(c.text, c.newline), c.want) << c.name;
}

TEST(CYStringHelper, MultiByteToString) {
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t length;
    UINT codePage;
    std::u16string want;
  };
  const std::vector<Case> cases = {
      {"UTF-8 up to the zero", "gr\xC3\xBC\xC3\x9F", 0, CP_UTF8, u"gr\u00fc\u00df"},
      {"explicit length stops early", "abcdef", 3, CP_UTF8, u"abc"},
      {"explicit length keeps a zero", std::string("a\0b", 3), 3, CP_UTF8, std::u16string(u"a\0b", 3)},
      {"1252 euro sign", "\x80", 0, 1252, u"\u20ac"},
      {"ANSI is 1252", "\xE9", 0, CP_ACP, u"\u00e9"},
      {"invalid UTF-8 gives empty", "a\xC3", 2, CP_UTF8, u""},
      {"empty", "", 0, CP_UTF8, u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(U8(CYStringHelper::MultiByteToString(c.bytes.c_str(), c.length, c.codePage)), U8(c.want)) << c.name;
  }
}

TEST(CYStringHelper, StringToMultiByteAndBackThroughBuffers) {
  CYBufMalloc heap;
  CYStringHelper::StringToMultiByte(u"\u00e9t\u00e9 \u20ac", heap, CP_UTF8);
  ASSERT_EQ(heap.GetSize(), 9u) << "no terminator";
  EXPECT_EQ(std::string(static_cast<const char*>(heap.GetBuf()), 9), "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(CYStringHelper::MultiByteToString(heap, CP_UTF8), u"\u00e9t\u00e9 \u20ac");

  CYBufSafeArray array;
  CYStringHelper::StringToMultiByte(u"caf\u00e9", array, 1252);
  EXPECT_EQ(array.GetSize(), 4u);
  EXPECT_EQ(CYStringHelper::MultiByteToString(array, 1252), u"caf\u00e9");
  ExpectCode([&] { array.GetBuf(); }, 2007, "the conversion unlocks what it locked");

  CYStringHelper::StringToMultiByte(u"", array, CP_UTF8);
  EXPECT_EQ(array.GetSize(), 0u);
  EXPECT_EQ(CYStringHelper::MultiByteToString(array, CP_UTF8), u"");
  CYStringHelper::StringToMultiByte(u"", heap, CP_UTF8);
  EXPECT_EQ(heap.GetSize(), 0u);
}

TEST(CYStringHelper, ExpandEnvironment) {
  // The variables the test process always has are enough to show the expansion.
  char16_t value[4096];
  const DWORD n = GetEnvironmentVariableW(u"PATH", value, 4096);
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, 4096u);
  const std::u16string path(value, n);
  EXPECT_EQ(CYStringHelper::ExpandEnvironment(u"<%PATH%>"), u"<" + path + u">");
  EXPECT_EQ(CYStringHelper::ExpandEnvironment(u"%VEL_SURELY_UNSET_NAME%x"), u"%VEL_SURELY_UNSET_NAME%x");
  EXPECT_EQ(CYStringHelper::ExpandEnvironment(u"100%"), u"100%");
  EXPECT_EQ(CYStringHelper::ExpandEnvironment(u""), u"");
}

}  // namespace
