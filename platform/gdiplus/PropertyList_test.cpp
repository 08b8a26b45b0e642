// PropertyList: copying the library's items, the EXIF repairs and the
// platform's buffer layouts, over item lists built here.
#include "platform/gdiplus/PropertyList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace vel::gdiplus {
namespace {

using namespace Gdiplus;
using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// A buffer as GdipGetAllPropertyItems fills it: the records, then the values.
// A value's offset of -1 places it after the others; any other offset is
// taken as given (relative to the buffer's start), to point values elsewhere.
struct FlatItem {
  PROPID id;
  WORD type;
  Bytes value;
  std::ptrdiff_t offset = -1;
  std::uint32_t length = UINT32_MAX;  // the record's length; UINT32_MAX: value.size()
};

Bytes BuildFlat(const std::vector<FlatItem>& items) {
  Bytes buffer(items.size() * sizeof(PropertyItem));
  std::vector<std::size_t> at;
  for (const FlatItem& item : items) {
    at.push_back(buffer.size());
    buffer.insert(buffer.end(), item.value.begin(), item.value.end());
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    PropertyItem record{};
    record.id = items[i].id;
    record.type = items[i].type;
    record.length = items[i].length == UINT32_MAX ? static_cast<ULONG>(items[i].value.size()) : items[i].length;
    const std::ptrdiff_t offset = items[i].offset == -1 ? static_cast<std::ptrdiff_t>(at[i]) : items[i].offset;
    // An address computed as an integer: it may lie outside the buffer on purpose.
    record.value = reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(buffer.data()) + offset);
    std::memcpy(buffer.data() + i * sizeof(PropertyItem), &record, sizeof record);
  }
  return buffer;
}

Property Item(PROPID id, WORD type, Bytes value) { return Property{id, type, std::move(value)}; }

TEST(PropertyListTest, CopiesOnlyValuesInsideTheBufferAndWholeElements) {
  struct Case {
    const char* name;
    FlatItem item;
    Bytes expected;
  };
  const std::vector<Case> cases = {
      {"ascii", {0x010F, PropertyTagTypeASCII, {'A', 'b', 0}}, {'A', 'b', 0}},
      {"short", {0x0112, PropertyTagTypeShort, {6, 0}}, {6, 0}},
      {"odd-length shorts keep whole ones", {0x0102, PropertyTagTypeShort, {8, 0, 8, 0, 8}}, {8, 0, 8, 0}},
      {"short item of a long type has no value", {0x0100, PropertyTagTypeLong, {1, 2, 3}}, {}},
      {"rational cut to whole pairs", {0x011A, PropertyTagTypeRational, Bytes(12, 1)}, Bytes(8, 1)},
      {"half a signed rational has no value", {0x9204, PropertyTagTypeSRational, Bytes(4, 1)}, {}},
      {"undefined of any length", {0x9000, PropertyTagTypeUndefined, {'0', '2', '3'}}, {'0', '2', '3'}},
      {"empty value", {0x9286, PropertyTagTypeUndefined, {}}, {}},
      {"value before the buffer", {0x010F, PropertyTagTypeASCII, {'x', 0}, -4096}, {}},
      {"value past the buffer", {0x010F, PropertyTagTypeASCII, {'x', 0}, 1 << 20}, {}},
      {"length past the buffer", {0x010F, PropertyTagTypeASCII, {'x', 0}, -1, 0x7FFFFFFF}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A second item after the one under test, so "past the buffer" really
    // means past all of it.
    const Bytes buffer = BuildFlat({c.item, {0x0001, PropertyTagTypeByte, {9}}});
    const PropertyList list = PropertyList::FromFlatItems(buffer, 2);
    ASSERT_EQ(list.GetCount(), 2u);
    EXPECT_EQ(list.items()[0].id, c.item.id);
    EXPECT_EQ(list.items()[0].type, c.item.type);
    EXPECT_THAT(list.items()[0].value, ElementsAreArray(c.expected));
    EXPECT_THAT(list.items()[1].value, ElementsAre(9));
  }
}

TEST(PropertyListTest, ACountLargerThanTheBufferTakesTheRecordsThatFit) {
  const Bytes buffer = BuildFlat({{0x0112, PropertyTagTypeShort, {1, 0}}});
  const PropertyList list = PropertyList::FromFlatItems(buffer, 1000);
  ASSERT_EQ(list.GetCount(), 1u);
  EXPECT_EQ(list.items()[0].id, 0x0112u);
  EXPECT_THAT(PropertyList::FromFlatItems({}, 3).items(), IsEmpty());
}

TEST(PropertyListTest, BigEndianNumbersAreSwappedByType) {
  struct Case {
    const char* name;
    WORD type;
    Bytes stored;   // as the big-endian block holds them
    Bytes swapped;  // in the platform's order
  };
  const std::vector<Case> cases = {
      {"short", PropertyTagTypeShort, {0x00, 0x06, 0x01, 0x02}, {0x06, 0x00, 0x02, 0x01}},
      {"long", PropertyTagTypeLong, {0x00, 0x00, 0x01, 0x2C}, {0x2C, 0x01, 0x00, 0x00}},
      {"slong", PropertyTagTypeSLONG, {0xFF, 0xFF, 0xFF, 0xFE}, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"rational", PropertyTagTypeRational, {0, 0, 0, 1, 0, 0, 0, 100}, {1, 0, 0, 0, 100, 0, 0, 0}},
      {"srational", PropertyTagTypeSRational, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2}, {0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0}},
      {"byte", PropertyTagTypeByte, {1, 2, 3, 4}, {1, 2, 3, 4}},
      {"ascii", PropertyTagTypeASCII, {'a', 'b', 'c', 0}, {'a', 'b', 'c', 0}},
      {"undefined", PropertyTagTypeUndefined, {'0', '2', '3', '0'}, {'0', '2', '3', '0'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const ByteOrder order : {ByteOrder::kBig, ByteOrder::kLittle}) {
      PropertyList list({Item(0x9999, c.type, c.stored)});
      list.FixUpExif(ExifLayout{order, {}, {}});
      EXPECT_THAT(list.items()[0].value, ElementsAreArray(order == ByteOrder::kBig ? c.swapped : c.stored));
    }
  }
}

TEST(PropertyListTest, ThumbnailItemsGetThumbnailNumbersAndTagsAreListedOnce) {
  struct Case {
    const char* name;
    std::vector<Property> items;
    ExifLayout layout;
    std::vector<std::pair<PROPID, Bytes>> expected;
  };
  const std::vector<Case> cases = {
      {"main and thumbnail share tags",
       {Item(0x0112, 3, {6, 0}), Item(0x011A, 5, Bytes(8, 72)), Item(0x0103, 3, {6, 0}), Item(0x0112, 3, {3, 0}),
        Item(0x011A, 5, Bytes(8, 30)), Item(0x829A, 5, Bytes(8, 1))},
       {ByteOrder::kLittle, {0x0112, 0x011A}, {0x0103, 0x0112, 0x011A, 0x0201}},
       {{0x0112, {6, 0}},
        {0x011A, Bytes(8, 72)},
        {PropertyTagThumbnailCompression, {6, 0}},
        {PropertyTagThumbnailOrientation, {3, 0}},
        {PropertyTagThumbnailResolutionX, Bytes(8, 30)},
        {0x829A, Bytes(8, 1)}}},
      {"a thumbnail tag the library dropped leaves the main item alone",
       {Item(0x0112, 3, {6, 0}), Item(0x829A, 5, Bytes(8, 1))},
       {ByteOrder::kLittle, {0x0112}, {0x0112}},
       {{0x0112, {6, 0}}, {0x829A, Bytes(8, 1)}}},
      {"a duplicate the layout does not explain is dropped",
       {Item(0x011A, 5, Bytes(8, 72)), Item(0x011A, 5, Bytes(8, 1))},
       {ByteOrder::kLittle, {0x011A}, {}},
       {{0x011A, Bytes(8, 72)}}},
      {"thumbnail tags without a thumbnail number stay",
       {Item(0x0201, 4, {0, 1, 0, 0})},
       {ByteOrder::kLittle, {}, {0x0201}},
       {{0x0201, {0, 1, 0, 0}}}},
      {"swapped and renumbered together",
       {Item(0x0112, 3, {0, 6}), Item(0x0112, 3, {0, 3})},
       {ByteOrder::kBig, {0x0112}, {0x0112}},
       {{0x0112, {6, 0}}, {PropertyTagThumbnailOrientation, {3, 0}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PropertyList list(c.items);
    list.FixUpExif(c.layout);
    std::vector<std::pair<PROPID, Bytes>> got;
    for (const Property& p : list.items()) got.emplace_back(p.id, p.value);
    EXPECT_EQ(got, c.expected);
  }
}

TEST(PropertyListTest, HandsItemsOutInThePlatformsBufferLayouts) {
  const PropertyList list({Item(0x010F, PropertyTagTypeASCII, {'M', 'k', 0}), Item(0x0112, PropertyTagTypeShort, {6, 0}),
                           Item(0x9286, PropertyTagTypeUndefined, {})});
  PROPID ids[3] = {};
  ASSERT_EQ(list.GetIdList(3, ids), Ok);
  EXPECT_THAT(ids, ElementsAre(0x010Fu, 0x0112u, 0x9286u));

  UINT size = 0;
  ASSERT_EQ(list.GetItemSize(0x010F, &size), Ok);
  EXPECT_EQ(size, sizeof(PropertyItem) + 3);
  std::vector<std::uint8_t> one(size);
  auto* item = reinterpret_cast<PropertyItem*>(one.data());
  ASSERT_EQ(list.GetItem(0x010F, size, item), Ok);
  EXPECT_EQ(item->id, 0x010Fu);
  EXPECT_EQ(item->type, PropertyTagTypeASCII);
  EXPECT_EQ(item->length, 3u);
  EXPECT_EQ(item->value, one.data() + sizeof(PropertyItem));
  EXPECT_STREQ(static_cast<const char*>(item->value), "Mk");

  PropertyItem empty{};
  ASSERT_EQ(list.GetItem(0x9286, sizeof empty, &empty), Ok);
  EXPECT_EQ(empty.length, 0u);
  EXPECT_EQ(empty.value, nullptr);

  UINT total = 0, count = 0;
  ASSERT_EQ(list.GetSize(&total, &count), Ok);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(total, 3 * sizeof(PropertyItem) + 3 + 2);
  std::vector<std::uint8_t> all(total);
  auto* items = reinterpret_cast<PropertyItem*>(all.data());
  ASSERT_EQ(list.GetAll(total, count, items), Ok);
  for (UINT i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i].id, list.items()[i].id);
    ASSERT_EQ(items[i].length, list.items()[i].value.size());
    if (items[i].length == 0) continue;
    const auto* value = static_cast<const std::uint8_t*>(items[i].value);
    ASSERT_GE(value, all.data() + count * sizeof(PropertyItem));
    ASSERT_LE(value + items[i].length, all.data() + all.size());
    EXPECT_EQ(Bytes(value, value + items[i].length), list.items()[i].value);
  }
}

TEST(PropertyListTest, FailingCallsClearTheirOutputs) {
  const PropertyList list({Item(0x010F, PropertyTagTypeASCII, {'M', 'k', 0})});
  struct Case {
    const char* name;
    std::function<Status(std::vector<std::uint8_t>&)> call;
    Status expected;
    std::size_t cleared;  // bytes of the output that must be zero afterwards
  };
  const std::vector<Case> cases = {
      {"id list of the wrong count",
       [&](std::vector<std::uint8_t>& out) { return list.GetIdList(2, reinterpret_cast<PROPID*>(out.data())); },
       InvalidParameter, 2 * sizeof(PROPID)},
      {"item buffer too small",
       [&](std::vector<std::uint8_t>& out) {
         return list.GetItem(0x010F, sizeof(PropertyItem) + 2, reinterpret_cast<PropertyItem*>(out.data()));
       },
       InvalidParameter, sizeof(PropertyItem)},
      {"item not there",
       [&](std::vector<std::uint8_t>& out) {
         return list.GetItem(0x0110, sizeof(PropertyItem) + 16, reinterpret_cast<PropertyItem*>(out.data()));
       },
       PropertyNotFound, sizeof(PropertyItem)},
      {"size of an item not there",
       [&](std::vector<std::uint8_t>& out) { return list.GetItemSize(0x0110, reinterpret_cast<UINT*>(out.data())); },
       PropertyNotFound, sizeof(UINT)},
      {"all items with the wrong count",
       [&](std::vector<std::uint8_t>& out) {
         return list.GetAll(64, 2, reinterpret_cast<PropertyItem*>(out.data()));
       },
       InvalidParameter, 2 * sizeof(PropertyItem)},
      {"all items into too small a buffer",
       [&](std::vector<std::uint8_t>& out) {
         return list.GetAll(sizeof(PropertyItem), 1, reinterpret_cast<PropertyItem*>(out.data()));
       },
       InvalidParameter, sizeof(PropertyItem)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> out(128, 0xAB);
    EXPECT_EQ(c.call(out), c.expected);
    EXPECT_THAT(Bytes(out.begin(), out.begin() + c.cleared), ::testing::Each(0));
  }
}

}  // namespace
}  // namespace vel::gdiplus
