#include "audio/MetaDataItem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "contract/VelItemsLib.h"
#include "platform/com/oleauto.h"
#include "ylib/YException.h"

namespace {

std::u16string BstrOf(const VARIANT& v) {
  EXPECT_EQ(v.vt, VT_BSTR);
  return v.vt == VT_BSTR ? std::u16string(v.bstrVal, SysStringLen(v.bstrVal)) : std::u16string();
}

TEST(MetaDataItemTest, KeepsItsOwnCopyOfTheValue) {
  VARIANT source;
  VariantInit(&source);
  source.vt = VT_BSTR;
  source.bstrVal = SysAllocString(u"Blue Train");

  CMetaDataItem record(u"Title", kCoreNamespace, source, 1);
  // The editor frees its own value once the record is made.
  ASSERT_EQ(VariantClear(&source), S_OK);

  EXPECT_EQ(record.name, u"Title");
  EXPECT_EQ(record.namespaceUri, kCoreNamespace);
  EXPECT_EQ(record.dataType, 1);
  EXPECT_EQ(BstrOf(record.value), u"Blue Train");

  // A copied record outlives the one it came from.
  CMetaDataItemList list;
  {
    CMetaDataItem original = record;
    list.push_back(original);
    original.value.Clear();
  }
  record.value.Clear();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(BstrOf(list[0].value), u"Blue Train");
}

TEST(MetaDataItemTest, TakesAMovedValueOverAndKeepsListOrder) {
  _variant_t number(static_cast<short>(18));
  CMetaDataItemList list;
  list.emplace_back(u"Genre", kCoreNamespace, std::move(number), 0);
  list.emplace_back(u"Lyrics", kExtendedNamespace, _variant_t(u"la la"), 1);
  list.emplace_back(u"Title", kCoreNamespace, _variant_t(u"x"), 1);

  EXPECT_EQ(number.vt, VT_EMPTY);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].name, u"Genre");
  EXPECT_EQ(list[0].value.vt, VT_I2);
  EXPECT_EQ(list[0].value.iVal, 18);
  EXPECT_EQ(list[1].name, u"Lyrics");
  EXPECT_EQ(list[1].namespaceUri, kExtendedNamespace);
  EXPECT_EQ(BstrOf(list[1].value), u"la la");
  EXPECT_EQ(list[2].name, u"Title");
}

TEST(MetaDataItemTest, DefaultRecordIsEmpty) {
  const CMetaDataItem record;
  EXPECT_TRUE(record.name.empty());
  EXPECT_TRUE(record.namespaceUri.empty());
  EXPECT_EQ(record.value.vt, VT_EMPTY);
  EXPECT_EQ(record.dataType, 0);
}

// A byte array VARIANT (VT_ARRAY|VT_UI1) with the given lower bound.
_variant_t Bytes(const std::vector<BYTE>& bytes, LONG lower = 0) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, lower, static_cast<ULONG>(bytes.size()));
  void* data = nullptr;
  if (array != nullptr && SUCCEEDED(SafeArrayAccessData(array, &data))) {
    std::copy(bytes.begin(), bytes.end(), static_cast<BYTE*>(data));
    SafeArrayUnaccessData(array);
  }
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_ARRAY | VT_UI1;
  raw.parray = array;
  return _variant_t(raw, false);
}

struct SameDataCase {
  const char* name;
  _variant_t stored;
  _variant_t candidate;
  bool same;
};

TEST(MetaDataItemTest, IsSameDataTable) {
  const std::vector<BYTE> jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
  const SameDataCase cases[] = {
      {"same text", _variant_t(u"Blue Train"), _variant_t(u"Blue Train"), true},
      {"text differing in case", _variant_t(u"Blue Train"), _variant_t(u"blue train"), false},
      {"text of another length", _variant_t(u"Blue"), _variant_t(u"Blue "), false},
      {"number converted to the stored text", _variant_t(u"7"), _variant_t(7), true},
      {"text converted to the stored number", _variant_t(7), _variant_t(u"7"), true},
      {"other number", _variant_t(7), _variant_t(8), false},
      {"VT_I2 against a VT_I4 of the same value", _variant_t(static_cast<short>(18)), _variant_t(18), true},
      {"doubles", _variant_t(2.5), _variant_t(2.5), true},
      {"doubles apart", _variant_t(2.5), _variant_t(2.25), false},
      {"empty against empty", _variant_t(), _variant_t(), true},
      {"same bytes", Bytes(jpeg), Bytes(jpeg), true},
      {"same bytes from another lower bound", Bytes(jpeg), Bytes(jpeg, 1), true},
      {"one byte changed", Bytes(jpeg), Bytes({0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10}), false},
      {"shorter", Bytes(jpeg), Bytes({0xFF, 0xD8, 0xFF}), false},
      {"empty arrays", Bytes({}), Bytes({}), true},
      {"empty against bytes", Bytes({}), Bytes(jpeg), false},
  };
  for (const SameDataCase& c : cases) {
    const CMetaDataItem record(u"Picture", kExtendedNamespace, c.stored, 13);
    bool same = !c.same;
    EXPECT_NO_THROW(same = record.IsSameData(c.candidate)) << c.name;
    EXPECT_EQ(same, c.same) << c.name;
    // The record keeps its own value and type.
    EXPECT_EQ(record.value.vt, c.stored.vt) << c.name;
    EXPECT_TRUE(record.value == c.stored) << c.name;
  }
}

TEST(MetaDataItemTest, IsSameDataRaisesWhenTheValueCannotBeConverted) {
  const struct {
    const char* name;
    _variant_t stored;
    _variant_t candidate;
  } cases[] = {
      {"empty against a picture", Bytes({1, 2, 3}), _variant_t()},
      {"text against a number", _variant_t(7), _variant_t(u"seven")},
  };
  for (const auto& c : cases) {
    const CMetaDataItem record(u"Picture", kExtendedNamespace, c.stored, 13);
    try {
      record.IsSameData(c.candidate);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const CYException& report) {
      EXPECT_NE(report.GetXml().find(u"CMetaDataItem::IsSameData"), std::u16string::npos) << c.name;
    }
  }
}

}  // namespace
