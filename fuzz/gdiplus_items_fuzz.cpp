// libFuzzer target for the GDI+ property repairs: arbitrary bytes as the
// start of a JPEG file (its EXIF block found and walked) and as a property
// list the library might have delivered, which is then repaired for that
// block and handed out through the platform's buffer layouts; each item, as
// the image plugin fetches it, is then turned into an item property by the
// plugin's conversion. Nothing may read or write outside the bytes given or
// the buffers sized as asked.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "image/GdiPlusReader.h"
#include "platform/base/ByteReader.h"
#include "platform/gdiplus/ExifBlock.h"
#include "platform/gdiplus/PropertyList.h"
#include "ylib/YException.h"

namespace {

using namespace vel::gdiplus;

// Items from the fuzz bytes: tag (16 bits), type (8), length (8), value.
std::vector<Property> ItemsFrom(vel::ByteReader reader) {
  std::vector<Property> items;
  while (reader.remaining() >= 4 && items.size() < 256) {
    Property item;
    item.id = reader.U16();
    item.type = reader.U8();
    const std::uint8_t length = reader.U8();
    const auto value = reader.Bytes(std::min<std::uint64_t>(length, reader.remaining()));
    item.value.assign(value.begin(), value.end());
    items.push_back(std::move(item));
  }
  return items;
}

// The item the plugin fetched into buffer, converted as the plugin does: its
// value only as far as it lies in the buffer. A converted value always has
// its property's name.
void ConvertAsThePluginDoes(const Gdiplus::PropertyItem& record, std::span<const std::uint8_t> buffer) {
  const auto* value = static_cast<const std::uint8_t*>(record.value);
  if (record.length > 0 && (value < buffer.data() || value + record.length > buffer.data() + buffer.size()))
    std::abort();
  try {
    const vel::image::ConvertedProperty property =
        vel::image::GDI2Prop(record.id, record.type, {value, record.length});
    if (property.value.vt != VT_EMPTY && (property.name == nullptr || property.nameSpace == nullptr)) std::abort();
  } catch (const CYException&) {
    // A report is a clean end.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first two bytes split the input into the file and the item list.
  const std::size_t split = std::min<std::size_t>(size - 2, data[0] | data[1] << 8);
  const std::span<const std::uint8_t> file(data + 2, split);
  const std::span<const std::uint8_t> rest(data + 2 + split, size - 2 - split);

  ExifLayout layout;
  if (const auto block = FindJpegExifBlock(file)) {
    if (block->data() < file.data() || block->data() + block->size() > file.data() + file.size()) std::abort();
    if (const auto walked = WalkExifBlock(*block)) layout = *walked;
  } else if (const auto walked = WalkExifBlock(file)) {
    layout = *walked;
  }
  // Each entry of an IFD takes 12 bytes of the block (the two IFDs may overlap).
  if (layout.mainTags.size() * 12 > file.size() || layout.thumbnailTags.size() * 12 > file.size()) std::abort();

  PropertyList list(ItemsFrom(vel::ByteReader(rest)));
  list.FixUpExif(layout);
  for (const Property& item : list.items()) {
    if (item.value.size() % ElementSize(item.type) != 0) std::abort();
  }

  // The platform's layouts: the whole list, then each item into a buffer of
  // exactly its size.
  UINT total = 0, count = 0;
  if (list.GetSize(&total, &count) != Gdiplus::Ok || count != list.GetCount()) std::abort();
  std::vector<std::uint8_t> all(total);
  if (count > 0 && list.GetAll(total, count, reinterpret_cast<Gdiplus::PropertyItem*>(all.data())) != Gdiplus::Ok) {
    std::abort();
  }
  for (const Property& item : list.items()) {
    UINT itemSize = 0;
    if (list.GetItemSize(item.id, &itemSize) != Gdiplus::Ok) std::abort();
    std::vector<std::uint8_t> one(itemSize);
    auto* record = reinterpret_cast<Gdiplus::PropertyItem*>(one.data());
    if (list.GetItem(item.id, itemSize, record) != Gdiplus::Ok || record->id != item.id) std::abort();
    ConvertAsThePluginDoes(*record, one);
  }

  // The same items as the library's flat buffer, read back.
  const PropertyList copied = PropertyList::FromFlatItems(all, count);
  if (copied.GetCount() != count) std::abort();
  return 0;
}
