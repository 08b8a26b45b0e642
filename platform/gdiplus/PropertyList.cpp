// PropertyList: copies of an image's property items in the platform's form.
#include "platform/gdiplus/PropertyList.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace vel::gdiplus {
namespace {

using namespace Gdiplus;

struct ThumbnailTag {
  std::uint16_t tag;
  PROPID thumbnail;
};

// The thumbnail IFD's tags and the numbers the platform lists them under.
constexpr ThumbnailTag kThumbnailTags[] = {
    {0x0100, PropertyTagThumbnailWidth},
    {0x0101, PropertyTagThumbnailHeight},
    {0x0102, PropertyTagThumbnailBitsPerSample},
    {0x0103, PropertyTagThumbnailCompression},
    {0x0106, PropertyTagThumbnailPhotometricInterp},
    {0x010E, PropertyTagThumbnailImageDescription},
    {0x010F, PropertyTagThumbnailEquipMake},
    {0x0110, PropertyTagThumbnailEquipModel},
    {0x0111, PropertyTagThumbnailStripOffsets},
    {0x0112, PropertyTagThumbnailOrientation},
    {0x0115, PropertyTagThumbnailSamplesPerPixel},
    {0x0116, PropertyTagThumbnailRowsPerStrip},
    {0x0117, PropertyTagThumbnailStripBytesCount},
    {0x011A, PropertyTagThumbnailResolutionX},
    {0x011B, PropertyTagThumbnailResolutionY},
    {0x011C, PropertyTagThumbnailPlanarConfig},
    {0x0128, PropertyTagThumbnailResolutionUnit},
    {0x012D, PropertyTagThumbnailTransferFunction},
    {0x0131, PropertyTagThumbnailSoftwareUsed},
    {0x0132, PropertyTagThumbnailDateTime},
    {0x013B, PropertyTagThumbnailArtist},
    {0x013E, PropertyTagThumbnailWhitePoint},
    {0x013F, PropertyTagThumbnailPrimaryChromaticities},
    {0x0211, PropertyTagThumbnailYCbCrCoefficients},
    {0x0212, PropertyTagThumbnailYCbCrSubsampling},
    {0x0213, PropertyTagThumbnailYCbCrPositioning},
    {0x0214, PropertyTagThumbnailRefBlackWhite},
    {0x8298, PropertyTagThumbnailCopyRight},
};

// The size of the unit whose bytes a byte-order swap reverses: a rational is
// two 32-bit numbers.
std::uint32_t SwapUnit(WORD type) {
  switch (type) {
    case PropertyTagTypeShort: return 2;
    case PropertyTagTypeLong:
    case PropertyTagTypeSLONG:
    case PropertyTagTypeRational:
    case PropertyTagTypeSRational: return 4;
    default: return 1;
  }
}

void SwapNumbers(Property& item) {
  const std::uint32_t unit = SwapUnit(item.type);
  if (unit == 1) return;
  for (std::size_t at = 0; at + unit <= item.value.size(); at += unit) {
    std::reverse(item.value.begin() + at, item.value.begin() + at + unit);
  }
}

// The record layout both the library and the platform use.
struct FlatRecord {
  std::uint32_t id;
  std::uint32_t length;
  std::uint16_t type;
  const void* value;
};
static_assert(sizeof(FlatRecord) == sizeof(PropertyItem));

}  // namespace

PROPID ThumbnailTagFor(std::uint16_t tag) {
  for (const ThumbnailTag& row : kThumbnailTags) {
    if (row.tag == tag) return row.thumbnail;
  }
  return 0;
}

std::uint32_t ElementSize(WORD type) {
  switch (type) {
    case PropertyTagTypeShort: return 2;
    case PropertyTagTypeLong:
    case PropertyTagTypeSLONG: return 4;
    case PropertyTagTypeRational:
    case PropertyTagTypeSRational: return 8;
    default: return 1;
  }
}

PropertyList::PropertyList(std::vector<Property> items) : items_(std::move(items)) {
  for (Property& item : items_) {
    const std::uint32_t element = ElementSize(item.type);
    item.value.resize(item.value.size() / element * element);
  }
}

PropertyList PropertyList::FromFlatItems(std::span<const std::uint8_t> buffer, std::uint32_t count) {
  std::vector<Property> items;
  const std::size_t fit = buffer.size() / sizeof(FlatRecord);
  const std::size_t n = std::min<std::size_t>(count, fit);
  items.reserve(n);
  const auto base = reinterpret_cast<std::uintptr_t>(buffer.data());
  for (std::size_t i = 0; i < n; ++i) {
    FlatRecord record;
    std::memcpy(&record, buffer.data() + i * sizeof(FlatRecord), sizeof record);
    Property item{record.id, record.type, {}};
    const auto at = reinterpret_cast<std::uintptr_t>(record.value);
    if (record.length != 0 && at >= base && at - base <= buffer.size() &&
        record.length <= buffer.size() - (at - base)) {
      const std::uint8_t* from = buffer.data() + (at - base);
      item.value.assign(from, from + record.length);
    }
    items.push_back(std::move(item));
  }
  return PropertyList(std::move(items));
}

void PropertyList::FixUpExif(const ExifLayout& layout) {
  if (layout.order == ByteOrder::kBig) {
    for (Property& item : items_) SwapNumbers(item);
  }
  // The library lists IFD0's items before IFD1's and gives both the same tag
  // numbers: a tag the thumbnail holds and that occurs more often in the list
  // than in IFD0 is the thumbnail's at its last occurrence.
  std::unordered_set<std::uint16_t> done;
  for (const std::uint16_t tag : layout.thumbnailTags) {
    if (!done.insert(tag).second) continue;
    const PROPID thumbnail = ThumbnailTagFor(tag);
    if (thumbnail == 0) continue;
    const auto listed = std::count_if(items_.begin(), items_.end(), [&](const Property& p) { return p.id == tag; });
    const auto inMain = std::count(layout.mainTags.begin(), layout.mainTags.end(), tag);
    if (listed <= inMain) continue;
    const auto last = std::find_if(items_.rbegin(), items_.rend(), [&](const Property& p) { return p.id == tag; });
    last->id = thumbnail;
  }
  // The platform lists a tag once; the first occurrence is the main image's.
  std::unordered_set<PROPID> seen;
  std::erase_if(items_, [&](const Property& p) { return !seen.insert(p.id).second; });
}

const Property* PropertyList::Find(PROPID id) const {
  for (const Property& item : items_) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

Status PropertyList::GetIdList(UINT numOfProperty, PROPID* list) const {
  if (list == nullptr) return InvalidParameter;
  std::fill_n(list, numOfProperty, PROPID{0});
  if (numOfProperty != items_.size()) return InvalidParameter;
  for (std::size_t i = 0; i < items_.size(); ++i) list[i] = items_[i].id;
  return Ok;
}

Status PropertyList::GetItemSize(PROPID id, UINT* size) const {
  if (size == nullptr) return InvalidParameter;
  *size = 0;
  const Property* item = Find(id);
  if (item == nullptr) return PropertyNotFound;
  *size = static_cast<UINT>(sizeof(PropertyItem) + item->value.size());
  return Ok;
}

Status PropertyList::GetItem(PROPID id, UINT propSize, PropertyItem* buffer) const {
  if (buffer == nullptr) return InvalidParameter;
  std::memset(static_cast<void*>(buffer), 0, std::min<std::size_t>(propSize, sizeof(PropertyItem)));
  const Property* item = Find(id);
  if (item == nullptr) return PropertyNotFound;
  if (propSize < sizeof(PropertyItem) + item->value.size()) return InvalidParameter;
  buffer->id = item->id;
  buffer->type = item->type;
  buffer->length = static_cast<ULONG>(item->value.size());
  if (!item->value.empty()) {
    auto* value = reinterpret_cast<std::uint8_t*>(buffer + 1);
    std::memcpy(value, item->value.data(), item->value.size());
    buffer->value = value;
  }
  return Ok;
}

Status PropertyList::GetSize(UINT* totalBufferSize, UINT* numProperties) const {
  if (totalBufferSize) *totalBufferSize = 0;
  if (numProperties) *numProperties = 0;
  if (totalBufferSize == nullptr || numProperties == nullptr) return InvalidParameter;
  std::size_t total = items_.size() * sizeof(PropertyItem);
  for (const Property& item : items_) total += item.value.size();
  *totalBufferSize = static_cast<UINT>(total);
  *numProperties = GetCount();
  return Ok;
}

Status PropertyList::GetAll(UINT totalBufferSize, UINT numProperties, PropertyItem* allItems) const {
  if (allItems == nullptr) return InvalidParameter;
  std::memset(static_cast<void*>(allItems), 0,
              std::min<std::size_t>(totalBufferSize, std::size_t{numProperties} * sizeof(PropertyItem)));
  UINT total = 0, count = 0;
  GetSize(&total, &count);
  if (numProperties != count || totalBufferSize < total) return InvalidParameter;
  auto* values = reinterpret_cast<std::uint8_t*>(allItems + count);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const Property& item = items_[i];
    allItems[i].id = item.id;
    allItems[i].type = item.type;
    allItems[i].length = static_cast<ULONG>(item.value.size());
    if (!item.value.empty()) {
      std::memcpy(values, item.value.data(), item.value.size());
      allItems[i].value = values;
      values += item.value.size();
    }
  }
  return Ok;
}

}  // namespace vel::gdiplus
