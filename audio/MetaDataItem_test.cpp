#include "audio/MetaDataItem.h"

#include <gtest/gtest.h>

#include <utility>

#include "framework/VelItems.h"

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

}  // namespace
