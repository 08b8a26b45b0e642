// PropertyList: the property items of one image, held as copies in the
// platform's form, and handed out through the GDI+ calls' buffer layouts.
//
// What the list puts right in what libgdiplus delivers:
// - each value is copied only from inside the buffer the library filled, and
//   only as many bytes as its length says;
// - values of numeric types (SHORT, LONG, SLONG, RATIONAL, SRATIONAL) are cut
//   to whole elements; an item shorter than one element has no value
//   (length 0, value null), so a reader of "the first number" never reads
//   past the item;
// - with FixUpExif: numbers of a big-endian EXIF block are swapped into the
//   platform's little-endian order, element by element by type; the
//   thumbnail IFD's items get the thumbnail tag numbers (PropertyTagThumbnail*);
//   a tag the library listed twice is listed once.
//
// Thread safety: a plain value; const members may be called from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/gdiplus/ExifBlock.h"
#include "platform/gdiplus/gdiplus.h"

namespace vel::gdiplus {

struct Property {
  Gdiplus::PROPID id = 0;
  WORD type = 0;
  std::vector<std::uint8_t> value;
};

// The thumbnail tag number for a tag of the thumbnail IFD; 0 when it has none.
Gdiplus::PROPID ThumbnailTagFor(std::uint16_t tag);
// Bytes of one element of a numeric type; 1 for bytes, text and undefined.
std::uint32_t ElementSize(WORD type);

class PropertyList {
 public:
  PropertyList() = default;
  explicit PropertyList(std::vector<Property> items);

  // The count records at the start of buffer, as GdipGetAllPropertyItems
  // laid them out (the record layout of Gdiplus::PropertyItem), with their
  // values. A value that does not lie wholly inside buffer is left empty.
  static PropertyList FromFlatItems(std::span<const std::uint8_t> buffer, std::uint32_t count);

  // The repairs above for the items of an image whose EXIF block has layout.
  void FixUpExif(const ExifLayout& layout);

  const std::vector<Property>& items() const noexcept { return items_; }
  UINT GetCount() const noexcept { return static_cast<UINT>(items_.size()); }

  // The GDI+ calls' semantics (outputs cleared first; InvalidParameter for
  // null outputs or counts that differ from GetCount; PropertyNotFound;
  // InsufficientBuffer never: a buffer too small is InvalidParameter, as on
  // the platform).
  Gdiplus::Status GetIdList(UINT numOfProperty, Gdiplus::PROPID* list) const;
  Gdiplus::Status GetItemSize(Gdiplus::PROPID id, UINT* size) const;
  Gdiplus::Status GetItem(Gdiplus::PROPID id, UINT propSize, Gdiplus::PropertyItem* buffer) const;
  Gdiplus::Status GetSize(UINT* totalBufferSize, UINT* numProperties) const;
  Gdiplus::Status GetAll(UINT totalBufferSize, UINT numProperties, Gdiplus::PropertyItem* allItems) const;

 private:
  const Property* Find(Gdiplus::PROPID id) const;

  std::vector<Property> items_;
};

}  // namespace vel::gdiplus
