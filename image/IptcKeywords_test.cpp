// IPTC keyword lists, on IPTC data built in the test: UTF-8 with its coded
// character set, older Windows-1252 bytes, and no change for the same list.
#include "image/IptcKeywords.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using vel::image::ReadIptcKeywords;
using vel::image::WriteIptcKeywords;

std::vector<std::string> Stored(const Exiv2::IptcData& data, const char* key) {
  std::vector<std::string> out;
  for (const Exiv2::Iptcdatum& datum : data) {
    if (datum.key() == key) out.push_back(datum.toString());
  }
  return out;
}

TEST(IptcKeywords, WritesUtf8WithItsCharacterSetAndReadsItBack) {
  Exiv2::IptcData data;
  data.add(Exiv2::IptcKey("Iptc.Application2.Keywords"), Exiv2::Value::create(Exiv2::string).get());
  data["Iptc.Application2.Caption"] = std::string("kept");
  const std::vector<std::u16string> keywords = {u"Sea", u"Caf\u00E9", u"\u5317\u4EAC"};
  EXPECT_TRUE(WriteIptcKeywords(data, keywords));
  EXPECT_EQ(Stored(data, "Iptc.Application2.Keywords"),
            (std::vector<std::string>{"Sea", "Caf\xC3\xA9", "\xE5\x8C\x97\xE4\xBA\xAC"}));
  EXPECT_EQ(Stored(data, "Iptc.Envelope.CharacterSet"), std::vector<std::string>{"\x1B%G"});
  EXPECT_EQ(Stored(data, "Iptc.Application2.Caption"), std::vector<std::string>{"kept"});
  EXPECT_EQ(ReadIptcKeywords(data), keywords);
  EXPECT_FALSE(WriteIptcKeywords(data, keywords));
  // A different order is a different list.
  EXPECT_TRUE(WriteIptcKeywords(data, {u"Caf\u00E9", u"Sea", u"\u5317\u4EAC"}));
  EXPECT_TRUE(WriteIptcKeywords(data, {}));
  EXPECT_TRUE(ReadIptcKeywords(data).empty());
  EXPECT_FALSE(WriteIptcKeywords(data, {}));
}

TEST(IptcKeywords, AsciiNeedsNoCharacterSetAndOldBytesReadAsWindows1252) {
  Exiv2::IptcData data;
  EXPECT_TRUE(WriteIptcKeywords(data, {u"Sea", u"Beach"}));
  EXPECT_TRUE(Stored(data, "Iptc.Envelope.CharacterSet").empty());
  EXPECT_EQ(ReadIptcKeywords(data), (std::vector<std::u16string>{u"Sea", u"Beach"}));

  Exiv2::IptcData old;
  Exiv2::StringValue latin("Caf\xE9");
  old.add(Exiv2::IptcKey("Iptc.Application2.Keywords"), &latin);
  Exiv2::StringValue euro("\x80 5");
  old.add(Exiv2::IptcKey("Iptc.Application2.Keywords"), &euro);
  EXPECT_EQ(ReadIptcKeywords(old), (std::vector<std::u16string>{u"Caf\u00E9", u"\u20AC 5"}));
  // Rewriting them as they read turns them into UTF-8.
  EXPECT_TRUE(WriteIptcKeywords(old, ReadIptcKeywords(old)));
  EXPECT_EQ(Stored(old, "Iptc.Application2.Keywords"), (std::vector<std::string>{"Caf\xC3\xA9", "\xE2\x82\xAC 5"}));
}

}  // namespace
