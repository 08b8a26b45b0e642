// The JSON text of dates: what the stored value holds, to the millisecond.
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

}  // namespace
