// EXIF datum <-> item property, on Exiv2 values and EXIF data built in the
// test: the types each row yields, the values the reader leaves out instead of
// failing on, and the writer's "did it change" decisions.
#include "image/ExifConversions.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "contract/VelItemsLib.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"
#include "ylib/YException.h"
#include "ylib/YTime.h"

namespace {

using vel::image::Exiv2Prop;
using vel::image::ParseExifDate;
using vel::image::Prop2Exiv;

Exiv2::Value::AutoPtr MakeValue(Exiv2::TypeId type, const std::string& text) {
  Exiv2::Value::AutoPtr value = Exiv2::Value::create(type);
  value->read(text);
  return value;
}

DATE Date(int y, int mo, int d, int h, int mi, int s) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(y);
  st.wMonth = static_cast<WORD>(mo);
  st.wDay = static_cast<WORD>(d);
  st.wHour = static_cast<WORD>(h);
  st.wMinute = static_cast<WORD>(mi);
  st.wSecond = static_cast<WORD>(s);
  return CYTime::SystemTimeToVariantTime(st);
}

TEST(Exiv2Prop, EachValueTypeGivesTheVariantOfItsRow) {
  struct Row {
    const char* name;
    const char* key;
    Exiv2::TypeId type;
    std::string text;
    VARTYPE vt;        // VT_EMPTY: left out
    double number;     // numbers, and dates as DATE
    std::u16string s;  // texts
  };
  const Row rows[] = {
      {"short", "Exif.Photo.ISOSpeedRatings", Exiv2::unsignedShort, "400", VT_UI2, 400, u""},
      {"two shorts: the first", "Exif.Photo.ISOSpeedRatings", Exiv2::unsignedShort, "100 200", VT_UI2, 100, u""},
      {"long", "Exif.Photo.PixelXDimension", Exiv2::unsignedLong, "4000000000", VT_UI4, 4000000000.0, u""},
      {"text", "Exif.Image.Make", Exiv2::asciiString, "Canon", VT_BSTR, 0, u"Canon"},
      {"UTF-8 text", "Exif.Image.Model", Exiv2::asciiString, "Caf\xC3\xA9", VT_BSTR, 0, u"Caf\u00E9"},
      {"date", "Exif.Photo.DateTimeOriginal", Exiv2::asciiString, "2008:10:05 14:03:59", VT_DATE,
       Date(2008, 10, 5, 14, 3, 59), u""},
      {"date of three fields", "Exif.Photo.DateTimeOriginal", Exiv2::asciiString, "2008:10:05", VT_EMPTY, 0, u""},
      {"date of zeros", "Exif.Photo.DateTimeOriginal", Exiv2::asciiString, "0000:00:00 00:00:00", VT_EMPTY, 0, u""},
      {"rational", "Exif.Photo.FNumber", Exiv2::unsignedRational, "28/10", VT_R8, 2.8, u""},
      {"exposure", "Exif.Photo.ExposureTime", Exiv2::unsignedRational, "1/250", VT_R8, 0.004, u""},
      {"unsigned rational above 2^31", "Exif.Photo.FocalLength", Exiv2::unsignedRational, "3000000000/1000000000",
       VT_R8, 3.0, u""},
      {"signed rational", "Exif.Photo.ExposureBiasValue", Exiv2::signedRational, "-1/3", VT_R8, -1.0 / 3.0, u""},
      {"zero denominator", "Exif.Photo.FNumber", Exiv2::unsignedRational, "28/0", VT_EMPTY, 0, u""},
      {"rational 35 mm focal length", "Exif.Photo.FocalLengthIn35mmFilm", Exiv2::unsignedRational, "50/1", VT_EMPTY,
       0, u""},
      {"short 35 mm focal length", "Exif.Photo.FocalLengthIn35mmFilm", Exiv2::unsignedShort, "50", VT_UI2, 50, u""},
      {"version bytes", "Exif.Photo.ExifVersion", Exiv2::undefined, "48 50 50 48", VT_UI4, 0x30323230, u""},
      {"three bytes big endian", "Exif.Photo.ComponentsConfiguration", Exiv2::undefined, "1 2 3", VT_UI4, 0x010203,
       u""},
      {"two bytes signed", "Exif.Photo.FlashpixVersion", Exiv2::undefined, "255 255", VT_UI4, 0xFFFFFFFF, u""},
      {"no bytes", "Exif.Photo.ExifVersion", Exiv2::undefined, "", VT_EMPTY, 0, u""},
      {"five bytes", "Exif.Photo.ExifVersion", Exiv2::undefined, "1 2 3 4 5", VT_EMPTY, 0, u""},
      {"undefined text", "Exif.Image.Make", Exiv2::undefined, "65 66 0 67", VT_BSTR, 0, u"AB"},
      {"signed short", "Exif.Photo.Flash", Exiv2::signedShort, "-2", VT_I2, -2, u""},
      {"signed long", "Exif.Photo.Flash", Exiv2::signedLong, "-70000", VT_I4, -70000, u""},
      {"float: left out", "Exif.Photo.FNumber", Exiv2::tiffFloat, "2.8", VT_EMPTY, 0, u""},
      {"empty short", "Exif.Photo.ISOSpeedRatings", Exiv2::unsignedShort, "", VT_EMPTY, 0, u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const Exiv2::Value::AutoPtr value = MakeValue(r.type, r.text);
    const vel::image::ConvertedProperty p = Exiv2Prop(r.key, *value);
    ASSERT_NE(p.name, nullptr);
    EXPECT_EQ(std::u16string(p.nameSpace), kCoreNamespace);
    ASSERT_EQ(p.value.vt, r.vt);
    switch (r.vt) {
      case VT_EMPTY:
        break;
      case VT_BSTR:
        EXPECT_EQ(std::u16string(p.value.bstrVal), r.s);
        break;
      default: {
        _variant_t number;
        number.ChangeType(VT_R8, &p.value);
        EXPECT_NEAR(number.dblVal, r.number, 1e-9);
      }
    }
  }
  const Exiv2::Value::AutoPtr other = MakeValue(Exiv2::asciiString, "x");
  EXPECT_EQ(Exiv2Prop("Exif.Image.Software", *other).name, nullptr);
  EXPECT_EQ(Exiv2Prop("Exif.Image.Software", *other).value.vt, VT_EMPTY);
}

TEST(Exiv2Prop, ParseExifDateNeedsAllSixFields) {
  EXPECT_EQ(ParseExifDate("2008:10:05 14:03:59").vt, VT_DATE);
  EXPECT_EQ(ParseExifDate("2008:10:05 14:03").vt, VT_EMPTY);
  EXPECT_EQ(ParseExifDate("").vt, VT_EMPTY);
  EXPECT_EQ(ParseExifDate("2008:13:05 14:03:59").vt, VT_EMPTY);
}

class Prop2ExivTest : public ::testing::Test {
 protected:
  Exiv2::ExifData data_;
  bool Write(const char16_t* name, const _variant_t& value) { return Prop2Exiv(data_, name, kCoreNamespace, value); }
  std::string Text(const char* key) {
    const auto found = data_.findKey(Exiv2::ExifKey(key));
    return found == data_.end() ? "(absent)" : found->toString();
  }
  Exiv2::TypeId Type(const char* key) { return data_.findKey(Exiv2::ExifKey(key))->typeId(); }
};

TEST_F(Prop2ExivTest, WritesEachTypeAndSkipsValuesTheFileHolds) {
  struct Row {
    const char* name;
    const char16_t* property;
    const char* key;
    const char* before;  // the file's value (text of before_type), null: absent
    Exiv2::TypeId beforeType;
    _variant_t value;
    bool changed;
    const char* after;
    Exiv2::TypeId afterType;
  };
  const Row rows[] = {
      {"exposure into an empty file", u"ExposureTime", "Exif.Photo.ExposureTime", nullptr, Exiv2::unsignedRational,
       _variant_t(0.004), true, "2/500", Exiv2::unsignedRational},
      {"exposure equal within 2^-23", u"ExposureTime", "Exif.Photo.ExposureTime", "1/250", Exiv2::unsignedRational,
       _variant_t(0.004), false, "1/250", Exiv2::unsignedRational},
      {"exposure changed", u"ExposureTime", "Exif.Photo.ExposureTime", "1/250", Exiv2::unsignedRational,
       _variant_t(0.008), true, "4/500", Exiv2::unsignedRational},
      {"signed bias", u"ExposureBiasValue", "Exif.Photo.ExposureBiasValue", nullptr, Exiv2::signedRational,
       _variant_t(-1.0 / 3.0), true, "-3333333/10000000", Exiv2::signedRational},
      {"big unsigned rational equal", u"FocalLength", "Exif.Photo.FocalLength", "3000000000/1000000000",
       Exiv2::unsignedRational, _variant_t(3.0), false, "3000000000/1000000000", Exiv2::unsignedRational},
      {"35 mm focal length saturates", u"FocalLengthIn35mmFilm", "Exif.Photo.FocalLengthIn35mmFilm", nullptr,
       Exiv2::unsignedShort, _variant_t(70000), true, "65535", Exiv2::unsignedShort},
      {"text", u"Make", "Exif.Image.Make", "Canon", Exiv2::asciiString, _variant_t(u"Nikon"), true, "Nikon",
       Exiv2::asciiString},
      {"same text", u"Make", "Exif.Image.Make", "Canon", Exiv2::asciiString, _variant_t(u"Canon"), false, "Canon",
       Exiv2::asciiString},
      {"date", u"DateTimeOriginal", "Exif.Photo.DateTimeOriginal", nullptr, Exiv2::asciiString,
       _variant_t(Date(2008, 10, 5, 14, 3, 59), VT_DATE), true, "2008:10:05 14:03:59", Exiv2::asciiString},
      {"same date", u"DateTimeOriginal", "Exif.Photo.DateTimeOriginal", "2008:10:05 14:03:59", Exiv2::asciiString,
       _variant_t(Date(2008, 10, 5, 14, 3, 59), VT_DATE), false, "2008:10:05 14:03:59", Exiv2::asciiString},
      {"version bytes", u"ExifVersion", "Exif.Photo.ExifVersion", nullptr, Exiv2::undefined,
       _variant_t(0x30323230u, VT_UI4), true, "48 50 50 48", Exiv2::undefined},
      {"orientation from an int", u"Orientation", "Exif.Image.Orientation", "1", Exiv2::unsignedShort, _variant_t(6),
       true, "6", Exiv2::unsignedShort},
      {"two ISO values stay", u"ISOSpeedRatings", "Exif.Photo.ISOSpeedRatings", "100 200", Exiv2::unsignedShort,
       _variant_t(400), false, "100 200", Exiv2::unsignedShort},
      {"empty removes", u"Make", "Exif.Image.Make", "Canon", Exiv2::asciiString, _variant_t(), true, "(absent)",
       Exiv2::asciiString},
      {"empty on nothing", u"Make", "Exif.Image.Make", nullptr, Exiv2::asciiString, _variant_t(), false, "(absent)",
       Exiv2::asciiString},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    data_.clear();
    if (r.before) data_[r.key].setValue(MakeValue(r.beforeType, r.before).get());
    EXPECT_EQ(Write(r.property, r.value), r.changed);
    EXPECT_EQ(Text(r.key), r.after);
    if (std::string(r.after) != "(absent)") {
      EXPECT_EQ(Type(r.key), r.afterType);
    }
  }
  EXPECT_FALSE(Prop2Exiv(data_, u"Make", u"urn:other", _variant_t(u"x")));
  EXPECT_FALSE(Prop2Exiv(data_, u"lat", kGeoNamespace, _variant_t(1.5)));
}

TEST_F(Prop2ExivTest, AValueWithoutTheRowsTypeFailsWithItsDetails) {
  struct Row {
    const char* name;
    const char16_t* property;
    _variant_t value;
    std::vector<std::u16string> details;
  };
  const Row rows[] = {
      {"text for a rational",
       u"FNumber",
       _variant_t(u"abc"),
       {u"<PropertyType>8</PropertyType>", u"<PropertyValue>abc</PropertyValue>", u"<ExifType>5</ExifType>",
        u"<ExifTag>Exif.Photo.FNumber</ExifTag>"}},
      {"negative 35 mm focal length",
       u"FocalLengthIn35mmFilm",
       _variant_t(-5),
       {u"<ExifType>18</ExifType>", u"<ExifTag>Exif.Photo.FocalLengthIn35mmFilm</ExifTag>"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    data_.clear();
    try {
      Write(r.property, r.value);
      ADD_FAILURE() << "no report";
    } catch (const CYException& e) {
      const std::u16string xml = e.GetXml();
      EXPECT_NE(xml.find(u"Failed to convert property to correct exif type"), std::u16string::npos)
          << vel::ToUtf8(xml);
      EXPECT_NE(xml.find(u"<errorcode>1015</errorcode>"), std::u16string::npos) << vel::ToUtf8(xml);
      for (const std::u16string& detail : r.details) {
        EXPECT_NE(xml.find(detail), std::u16string::npos) << vel::ToUtf8(detail) << "\n" << vel::ToUtf8(xml);
      }
    }
    EXPECT_TRUE(data_.empty());
  }
}

}  // namespace
