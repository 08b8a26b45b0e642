// CTagFrame: one metadata item of an MP4 file as the tag editor keeps it:
// its value, its item type, the data type code of its "data" atom and, for an
// item read from the file, the item's bytes exactly as they were stored.
//
// The stored bytes are what makes a rewrite lossless: a frame that nobody has
// changed is written back byte for byte (a track total, a locale, a PNG cover,
// a data type this editor does not know), and only a changed or new frame is
// encoded from its value. Changing a frame's value therefore drops its bytes.
//
// Thread safety: a plain value; one thread at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/comdef.h"

// Data type codes of the "data" atom, and the code of the computed duration.
inline constexpr int kTagTypeNumber = 0;
inline constexpr int kTagTypeText = 1;
inline constexpr int kTagTypeJpeg = 13;
inline constexpr int kTagTypeInteger = 21;
inline constexpr int kTagTypeDuration = 64;

class CTagFrame {
 public:
  _variant_t value;      // as read or as set; VT_EMPTY for an opaque frame
  std::string name;      // the item type's bytes; "----" + name for a freeform item
  int dataType = 0;      // the data atom's type code; 64 for the computed duration
  bool freeform = false; // a "----" item
  // The item could not be understood (no "data" child, a payload too short
  // for its type): it has no value and no lookup finds it, but its bytes are
  // written back so that the rewrite loses nothing.
  bool opaque = false;
  // Worked out from the file's structure ("durn", "srate", "bitr"), not read
  // from an item; never written. An item of the same name in a file is not
  // one of these.
  bool computed = false;
  // The whole item (header included) as read; empty for computed, new and
  // changed frames.
  std::vector<std::uint8_t> raw;
  // A cover that a picture being set is about to replace
  // (CTagBase::SetPictureReplaced with a reader of the parsed file) is not
  // read: its frame keeps where its payload lies in that file instead, and
  // its value stays empty until the picture set has been compared with those
  // bytes.
  struct FilePlace {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
  };
  std::optional<FilePlace> leftInFile;
  // The total of a "trkn" or "disk" pair as read (the value holds the number
  // only); a new number without a total of its own keeps it. -1: none.
  std::int64_t pairTotal = -1;

  // Whether other equals the stored value. Byte arrays compare by content.
  // Anything else is first converted to the stored value's type (as
  // VariantChangeType converts) and then compared as _variant_t compares; a
  // value that cannot be converted raises.
  bool IsSameData(const VARIANT& other) const;
};
