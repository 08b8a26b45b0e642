#include "audio/wma/AttributeValue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/ByteArray.h"
#include "audio/wma/AttributeText.h"
#include "platform/com/oleauto.h"
#include "platform/text.h"

namespace {

using vel::ByteOrder;
using vel::wma::AttributeFromValue;
using vel::wma::ValueFromAttribute;
using Bytes = std::vector<std::uint8_t>;

// "VT 3: 7" style text of a value, enough to compare rows.
std::string Describe(const _variant_t& v) {
  switch (v.vt) {
    case VT_I4: case VT_INT: return "I4/INT " + std::to_string(v.lVal) + (v.vt == VT_INT ? " (INT)" : "");
    case VT_I2: return "I2 " + std::to_string(v.iVal);
    case VT_I8: return "I8 " + std::to_string(v.llVal);
    case VT_BOOL: return v.boolVal ? "BOOL true" : "BOOL false";
    case VT_BSTR: return "BSTR " + vel::ToUtf8(v.bstrVal ? v.bstrVal : u"");
    case VT_ARRAY | VT_UI1:
    case VT_ARRAY | VT_I1: {
      std::string out = v.vt == (VT_ARRAY | VT_UI1) ? "UI1[" : "I1[";
      const auto* p = static_cast<const std::uint8_t*>(v.parray->pvData);
      for (ULONG i = 0; i < v.parray->rgsabound[0].cElements; ++i) out += std::to_string(p[i]) + ",";
      return out + "]";
    }
    default: return "VT " + std::to_string(v.vt);
  }
}

TEST(AttributeValue, ReadsEachTypeInBothByteOrders) {
  struct Row {
    const char* name;
    WMT_ATTR_DATATYPE type;
    Bytes bytes;
    ByteOrder order;
    std::string want;  // "" for dropped
  };
  const Row rows[] = {
      {"DWORD little", WMT_TYPE_DWORD, {0x07, 0, 0, 0}, ByteOrder::kLittle, "I4/INT 7"},
      {"DWORD big", WMT_TYPE_DWORD, {0, 0, 0, 0x07}, ByteOrder::kBig, "I4/INT 7"},
      {"DWORD negative", WMT_TYPE_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, ByteOrder::kLittle, "I4/INT -1"},
      {"DWORD of 3 bytes", WMT_TYPE_DWORD, {1, 2, 3}, ByteOrder::kLittle, ""},
      {"WORD little", WMT_TYPE_WORD, {0x34, 0x12}, ByteOrder::kLittle, "I2 4660"},
      {"WORD big", WMT_TYPE_WORD, {0x12, 0x34}, ByteOrder::kBig, "I2 4660"},
      {"WORD of 1 byte", WMT_TYPE_WORD, {1}, ByteOrder::kLittle, ""},
      {"QWORD little", WMT_TYPE_QWORD, {0xD2, 0x02, 0x96, 0x49, 0, 0, 0, 0}, ByteOrder::kLittle, "I8 1234567890"},
      {"QWORD big", WMT_TYPE_QWORD, {0, 0, 0, 0, 0x49, 0x96, 0x02, 0xD2}, ByteOrder::kBig, "I8 1234567890"},
      {"QWORD of 7 bytes", WMT_TYPE_QWORD, {1, 2, 3, 4, 5, 6, 7}, ByteOrder::kLittle, ""},
      {"BOOL 1 byte", WMT_TYPE_BOOL, {2}, ByteOrder::kLittle, "BOOL true"},
      {"BOOL 1 zero byte", WMT_TYPE_BOOL, {0}, ByteOrder::kLittle, "BOOL false"},
      {"BOOL 2 bytes, 1", WMT_TYPE_BOOL, {1, 0}, ByteOrder::kLittle, "BOOL true"},
      {"BOOL 2 bytes, negative", WMT_TYPE_BOOL, {0, 0x80}, ByteOrder::kLittle, "BOOL false"},
      {"BOOL 4 bytes big, 1", WMT_TYPE_BOOL, {0, 0, 0, 1}, ByteOrder::kBig, "BOOL true"},
      {"BOOL 4 bytes little read big", WMT_TYPE_BOOL, {1, 0, 0, 0}, ByteOrder::kBig, "BOOL true"},
      {"BOOL 4 bytes negative", WMT_TYPE_BOOL, {0xFF, 0xFF, 0xFF, 0xFF}, ByteOrder::kLittle, "BOOL false"},
      {"BOOL 3 bytes", WMT_TYPE_BOOL, {1, 1, 1}, ByteOrder::kLittle, "BOOL false"},
      {"BOOL empty", WMT_TYPE_BOOL, {}, ByteOrder::kLittle, ""},
      {"STRING terminated", WMT_TYPE_STRING, {'H', 0, 'i', 0, 0, 0, 'x', 0}, ByteOrder::kBig, "BSTR Hi"},
      {"STRING unterminated stays inside", WMT_TYPE_STRING, {'H', 0, 'i'}, ByteOrder::kBig, "BSTR H"},
      {"STRING one byte", WMT_TYPE_STRING, {'H'}, ByteOrder::kBig, "BSTR "},
      {"STRING empty", WMT_TYPE_STRING, {}, ByteOrder::kBig, ""},
      {"BINARY", WMT_TYPE_BINARY, {1, 2, 3}, ByteOrder::kBig, "UI1[1,2,3,]"},
      {"BINARY empty", WMT_TYPE_BINARY, {}, ByteOrder::kBig, ""},
      {"GUID bytes", WMT_TYPE_GUID, {9, 8}, ByteOrder::kBig, "I1[9,8,]"},
      {"unknown type", static_cast<WMT_ATTR_DATATYPE>(7), {1, 2, 3, 4}, ByteOrder::kBig, ""},
  };
  for (const Row& row : rows) {
    const auto value = ValueFromAttribute(row.type, row.bytes, row.order);
    EXPECT_EQ(value ? Describe(*value) : "", row.want) << row.name;
  }
}

TEST(AttributeValue, WritesEachTypeInBothByteOrders) {
  struct Row {
    const char* name;
    _variant_t value;
    ByteOrder order;
    bool written;
    WMT_ATTR_DATATYPE type;
    Bytes bytes;
  };
  const Bytes three = {1, 2, 3};
  _variant_t signedBytes;
  {
    SAFEARRAY* a = SafeArrayCreateVector(VT_I1, 0, 2);
    static_cast<std::uint8_t*>(a->pvData)[0] = 0x33;
    static_cast<std::uint8_t*>(a->pvData)[1] = 0x22;
    signedBytes.vt = VT_ARRAY | VT_I1;
    signedBytes.parray = a;
  }
  const Row rows[] = {
      {"VT_I4 little", _variant_t(7, VT_I4), ByteOrder::kLittle, true, WMT_TYPE_DWORD, {7, 0, 0, 0}},
      {"VT_INT big", _variant_t(7, VT_INT), ByteOrder::kBig, true, WMT_TYPE_DWORD, {0, 0, 0, 7}},
      {"VT_I2 little", _variant_t(static_cast<short>(0x1234)), ByteOrder::kLittle, true, WMT_TYPE_WORD, {0x34, 0x12}},
      {"VT_I8 big", _variant_t(static_cast<long long>(0x0102030405060708)), ByteOrder::kBig, true, WMT_TYPE_QWORD,
       {1, 2, 3, 4, 5, 6, 7, 8}},
      {"VT_BOOL true: one byte 1", _variant_t(true), ByteOrder::kLittle, true, WMT_TYPE_BOOL, {1}},
      {"VT_BOOL false", _variant_t(false), ByteOrder::kBig, true, WMT_TYPE_BOOL, {0}},
      {"text with terminator, always little-endian", _variant_t(u"A\u20AC"), ByteOrder::kBig, true, WMT_TYPE_STRING,
       {'A', 0, 0xAC, 0x20, 0, 0}},
      {"bytes", MakeByteArrayVariant(three.data(), three.size()), ByteOrder::kBig, true, WMT_TYPE_BINARY, three},
      {"signed bytes: GUID", signedBytes, ByteOrder::kBig, true, WMT_TYPE_GUID, {0x33, 0x22}},
      {"empty text", _variant_t(u""), ByteOrder::kLittle, false, WMT_TYPE_DWORD, {}},
      {"VT_EMPTY", _variant_t(), ByteOrder::kLittle, false, WMT_TYPE_DWORD, {}},
      {"VT_R8", _variant_t(1.5), ByteOrder::kLittle, false, WMT_TYPE_DWORD, {}},
      {"VT_UI4", _variant_t(7u, VT_UI4), ByteOrder::kLittle, false, WMT_TYPE_DWORD, {}},
  };
  for (const Row& row : rows) {
    const auto out = AttributeFromValue(row.value, row.order);
    ASSERT_EQ(out.has_value(), row.written) << row.name;
    if (!out) continue;
    EXPECT_EQ(out->type, row.type) << row.name;
    EXPECT_EQ(out->bytes, row.bytes) << row.name;
    // What was written reads back as the same value.
    const auto back = ValueFromAttribute(out->type, out->bytes, row.order);
    ASSERT_TRUE(back.has_value()) << row.name;
    EXPECT_EQ(Describe(*back), Describe(row.value.vt == VT_INT ? _variant_t(row.value.lVal, VT_I4) : row.value))
        << row.name;
  }
}

TEST(AttributeText, RatingTrackAndGuidTexts) {
  struct RatingRow {
    std::u16string text;
    bool isNumber;
    std::int32_t want;
  };
  for (const RatingRow& row : {RatingRow{u"42", true, 42}, RatingRow{u"007", true, 7}, RatingRow{u"abc", false, 0},
                               RatingRow{u"", false, 0}, RatingRow{u" 4", false, 0}, RatingRow{u"-4", false, 0},
                               RatingRow{u"99999999999", true, 2147483647}}) {
    bool isNumber = !row.isNumber;
    EXPECT_EQ(vel::wma::RatingFromText(row.text, isNumber), row.want) << vel::ToUtf8(row.text);
    EXPECT_EQ(isNumber, row.isNumber) << vel::ToUtf8(row.text);
  }
  struct TrackRow {
    std::u16string text;
    std::int32_t want;
  };
  for (const TrackRow& row : {TrackRow{u"07", 7}, TrackRow{u"7/12", 7}, TrackRow{u"  \t-3x", -3}, TrackRow{u"+5", 5},
                              TrackRow{u"x7", 0}, TrackRow{u"", 0}, TrackRow{u"99999999999", 2147483647},
                              TrackRow{u"-99999999999", -2147483647 - 1}}) {
    EXPECT_EQ(vel::wma::TrackNumberFromText(row.text), row.want) << vel::ToUtf8(row.text);
  }
  const Bytes id = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(vel::ToUtf8(vel::wma::GuidTextFromBytes(id)), "{00112233-4455-6677-8899-aabbccddeeff}");
  EXPECT_EQ(vel::wma::GuidTextFromBytes(std::span<const std::uint8_t>(id.data(), 15)), u"") << "15 bytes";
  const Bytes seventeen(17, 1);
  EXPECT_EQ(vel::wma::GuidTextFromBytes(seventeen), u"") << "17 bytes";
}

}  // namespace
