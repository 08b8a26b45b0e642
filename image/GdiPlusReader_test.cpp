// GDI+ property items to item properties: each value type of the map's rows,
// values shorter than their type needs, and tags outside the map.
#include "image/GdiPlusReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "contract/VelItemsLib.h"
#include "platform/com/oleauto.h"
#include "platform/gdiplus/gdiplus.h"
#include "ylib/YTime.h"

namespace {

using vel::image::GDI2Prop;
using Bytes = std::vector<std::uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(GDI2Prop, EachPropertyTypeGivesTheVariantOfItsRow) {
  SYSTEMTIME st{};
  st.wYear = 2008;
  st.wMonth = 10;
  st.wDay = 5;
  st.wHour = 14;
  st.wMinute = 3;
  st.wSecond = 59;
  const DATE taken = CYTime::SystemTimeToVariantTime(st);
  struct Row {
    const char* name;
    std::uint32_t tag;
    std::uint16_t type;
    Bytes value;
    VARTYPE vt;  // VT_EMPTY: left out
    double number;
    std::u16string text;
  };
  const Row rows[] = {
      {"rational", 0x829D, Gdiplus::PropertyTagTypeRational, {28, 0, 0, 0, 10, 0, 0, 0}, VT_R8, 2.8, u""},
      {"unsigned rational above 2^31", 0x920A, Gdiplus::PropertyTagTypeRational, {0x00, 0x5E, 0xD0, 0xB2, 0x00, 0xCA, 0x9A, 0x3B},
       VT_R8, 3.0, u""},
      {"signed rational", 0x9204, Gdiplus::PropertyTagTypeSRational, {0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0}, VT_R8, -1.0 / 3.0,
       u""},
      {"zero denominator", 0x829D, Gdiplus::PropertyTagTypeRational, {28, 0, 0, 0, 0, 0, 0, 0}, VT_EMPTY, 0, u""},
      {"short rational", 0x829D, Gdiplus::PropertyTagTypeRational, {28, 0, 0, 0}, VT_EMPTY, 0, u""},
      {"text", 0x010F, Gdiplus::PropertyTagTypeASCII, Text(std::string("Canon\0", 6)), VT_BSTR, 0, u"Canon"},
      {"text without terminator", 0x0110, Gdiplus::PropertyTagTypeASCII, Text("VC-1"), VT_BSTR, 0, u"VC-1"},
      {"date", 0x9003, Gdiplus::PropertyTagTypeASCII, Text("2008:10:05 14:03:59"), VT_DATE, taken, u""},
      {"date of zeros", 0x9003, Gdiplus::PropertyTagTypeASCII, Text("0000:00:00 00:00:00"), VT_EMPTY, 0, u""},
      {"short", 0x8827, Gdiplus::PropertyTagTypeShort, {0x90, 0x01}, VT_I2, 400, u""},
      {"one byte of a short", 0x8827, Gdiplus::PropertyTagTypeShort, {0x90}, VT_EMPTY, 0, u""},
      {"long", 0xA002, Gdiplus::PropertyTagTypeLong, {0x40, 0x01, 0, 0}, VT_I4, 320, u""},
      {"signed long", 0xA002, Gdiplus::PropertyTagTypeSLONG, {0xFE, 0xFF, 0xFF, 0xFF}, VT_I4, -2, u""},
      {"byte", 0x0112, Gdiplus::PropertyTagTypeByte, {6}, VT_UI1, 6, u""},
      {"version bytes", 0x9000, Gdiplus::PropertyTagTypeUndefined, Text("0220"), VT_UI4, 0x30323230, u""},
      {"three version bytes", 0x9000, Gdiplus::PropertyTagTypeUndefined, Text("022"), VT_EMPTY, 0, u""},
      {"undefined text", 0x010F, Gdiplus::PropertyTagTypeUndefined, Text("AB"), VT_BSTR, 0, u"AB"},
      {"unknown type", 0x010F, 8, Text("AB"), VT_EMPTY, 0, u""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const vel::image::ConvertedProperty p = GDI2Prop(r.tag, r.type, r.value);
    ASSERT_NE(p.name, nullptr);
    EXPECT_EQ(std::u16string(p.nameSpace), kCoreNamespace);
    ASSERT_EQ(p.value.vt, r.vt);
    if (r.vt == VT_BSTR) {
      EXPECT_EQ(std::u16string(p.value.bstrVal), r.text);
    } else if (r.vt != VT_EMPTY) {
      _variant_t number;
      number.ChangeType(VT_R8, &p.value);
      EXPECT_NEAR(number.dblVal, r.number, 1e-9);
    }
  }
  const vel::image::ConvertedProperty other = GDI2Prop(0x5100, Gdiplus::PropertyTagTypeLong, Bytes{1, 0, 0, 0});
  EXPECT_EQ(other.name, nullptr);
  EXPECT_EQ(other.value.vt, VT_EMPTY);
}

}  // namespace
