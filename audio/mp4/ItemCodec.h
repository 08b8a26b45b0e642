// The MP4 item codec: one row per kind of item ("gnre", "rtng", "trkn" and
// "disk", the flags, "covr", text, integer bytes, freeform "----" items, and
// the two items worked out from the movie), each with the data type its
// properties are stored with, its decoder and its encoder.
//
// Reading picks the row by the item's type (ASCII case ignored). A row whose
// decoder does not take the stored data type, and an item no row names, is
// decoded by the untyped row of its stored data type (text), else kept as
// bytes. Writing picks the row by the frame's name when its data type is the
// row's, else the untyped row of the frame's data type (text, integer bytes);
// a frame that matches none has no encoding and is not written.
//
// Thread safety: constant data and pure functions; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "audio/mp4/Mp4Atom.h"
#include "audio/mp4/TagFrame.h"
#include "platform/base/ByteReader.h"
#include "platform/base/ByteWriter.h"

namespace vel::mp4 {

// One item as stored: the file, the item atom and, for every row but the
// freeform one, its "data" atom's type code and payload (after type and
// locale).
struct StoredItem {
  std::span<const std::uint8_t> file;
  Mp4Atom atom;
  ByteOrder order = ByteOrder::kBig;
  std::uint32_t dataType = 0;
  ByteReader payload;
};

// Sets frame's value (and pair total) from item; false when the row does not
// decode this stored data type and the untyped rows are to.
using ItemDecoder = bool (*)(const StoredItem& item, CTagFrame& frame);
// Appends the item frame is written as; nothing when its value has no encoding.
using ItemEncoder = void (*)(const CTagFrame& frame, ByteWriter& out);

struct ItemCodec {
  std::string_view role;                   // names the row in reports and tests
  std::array<std::string_view, 2> types;   // item types it serves; none: an untyped row
  int dataType;                            // stored with; -1: as the item says (freeform)
  ItemDecoder decode;                      // null: the untyped rows decode it
  ItemEncoder encode;                      // null: never written
  bool wholeItem = false;                  // decodes the item's children itself (freeform)
};

std::span<const ItemCodec> ItemCodecs() noexcept;
// The row serving an item type (ASCII case ignored); null for none.
const ItemCodec* FindItemCodec(std::string_view type) noexcept;
// The data type a property of that item type is stored with: its row's, or
// text for an item type no row names.
int ItemDataType(std::string_view type) noexcept;

// Decodes the item atom into frame (name, raw and opaque set by the caller):
// value, data type, pair total; an item that gives no value stays opaque.
void DecodeItem(std::span<const std::uint8_t> file, const Mp4Atom& atom, ByteOrder order, CTagFrame& frame);
// Where an item's value lies when DecodeItem would take it as the bytes they
// are (a cover, integer bytes, a data type no row reads): the payload of its
// first "data" atom, by offset into file, and that atom's data type. Nothing
// for an item decoded otherwise (text, a row of its own, freeform) or that
// gives no value.
struct PayloadPlace {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  int dataType = 0;
};
std::optional<PayloadPlace> BytesPayloadPlace(std::span<const std::uint8_t> file, const Mp4Atom& atom, ByteOrder order);
// Appends the item a changed or new frame is written as.
void EncodeItem(const CTagFrame& frame, ByteWriter& out);
// The same, except that an item made of the frame's byte array as it is (a
// cover, integer bytes) gets only its headers appended: the array's bytes
// are answered, for the caller to put right after them (they stay valid while
// the frame keeps its value). Empty when EncodeItem's whole item was appended.
std::span<const std::uint8_t> EncodeItemHead(const CTagFrame& frame, ByteWriter& out);

}  // namespace vel::mp4
