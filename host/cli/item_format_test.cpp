// The JSON text of dates (what the stored value holds, to the millisecond)
// and of the line for a file that could not be read.
#include <gtest/gtest.h>

#include "host/cli/item_format.h"

namespace {

TEST(JsonDateText, PrintsTheStoredMilliseconds) {
  constexpr double kMs = 1.0 / 86400000.0;
  const double oct5noon = 39726.5;  // 2008-10-05 12:00
  struct Row {
    const char* name;
    double date;
    const char* want;
  } rows[] = {
      {"epoch", 0.0, "\"1899-12-30T00:00:00.000\""},
      {"noon", oct5noon, "\"2008-10-05T12:00:00.000\""},
      // Dates made from SYSTEMTIMEs carry half a millisecond more.
      {"half a millisecond stays that millisecond", oct5noon + 0.5 * kMs, "\"2008-10-05T12:00:00.000\""},
      {"999.5 ms is 999", oct5noon + 999.5 * kMs, "\"2008-10-05T12:00:00.999\""},
      {"a hair below a second is that second", oct5noon + 1000 * kMs - 1e-13, "\"2008-10-05T12:00:01.000\""},
      {"last millisecond of the day", 39726.0 + 86399999.5 * kMs, "\"2008-10-05T23:59:59.999\""},
      {"before 1899 the time counts forward", -1.25, "\"1899-12-29T06:00:00.000\""},
      {"out of range", 1e9, "null"},
  };
  for (const Row& r : rows) EXPECT_EQ(velitems::JsonDateText(r.date), r.want) << r.name;
}

TEST(ErrorJson, EscapesThePathAndTheReportAndWritesNullWithoutHresult) {
  struct Row {
    const char* name;
    std::string path;
    std::optional<std::string> hresult;
    std::string xml;
    const char* want;
  } rows[] = {
      {"no plugin", "a/b.xyz", std::nullopt, "", R"({"path":"a/b.xyz","error":{"hresult":null,"xml":""}})"},
      {"failed call", "x.m4a", "0x80045D53", "\r\n<error>\"q\"</error>",
       R"({"path":"x.m4a","error":{"hresult":"0x80045D53","xml":"\r\n<error>\"q\"</error>"}})"},
      {"quote and backslash in the path", "a\"b\\c", "0x80070002", "",
       R"({"path":"a\"b\\c","error":{"hresult":"0x80070002","xml":""}})"},
  };
  for (const Row& r : rows) EXPECT_EQ(velitems::ErrorJson(r.path, r.hresult, r.xml), r.want) << r.name;
}

}  // namespace

TEST(JsonString, EscapesWhatJsonForbidsAndKeepsTheRestAsItIs) {
  struct Row {
    const char* name;
    std::string text;
    const char* want;
  } rows[] = {
      {"empty", "", R"("")"},
      {"plain", "Title 7", R"("Title 7")"},
      {"quote and backslash inside runs", "a\"b\\c", R"("a\"b\\c")"},
      {"escapes at both ends", "\"x\\", R"("\"x\\")"},
      {"named controls", "\n\r\t", R"("\n\r\t")"},
      {"other controls", std::string("a\x01\x1F", 3) + std::string(1, '\0') + "b", R"("a\u0001\u001f\u0000b")"},
      {"UTF-8 passes through", "caf\xC3\xA9 \xF0\x9F\x8E\xB5", "\"caf\xC3\xA9 \xF0\x9F\x8E\xB5\""},
  };
  for (const Row& r : rows) EXPECT_EQ(velitems::JsonString(r.text), r.want) << r.name;
}
