// ReadvMessage: a ".vmg" file read into a vMessageRecord.
//
//   vel::vmessage::UniqueRecord record;
//   if (ReadvMessage(path, kvMessageAll, record.put()) == 0) { use(*record.get()); }
//
// The file is tried as 8-bit text first (UTF-8 when it is valid UTF-8, else
// the ANSI code page) and then as UTF-16 little-endian, with or without a
// byte-order mark; the first reading CvMessageReader accepts gives the record.
// A file whose first line may be 8-bit text is read in pieces for the 8-bit
// reading when it is valid UTF-8, so that its bytes are not held beside its
// text (twice their size in UTF-16); otherwise, and for the UTF-16 reading,
// it is read whole (the UTF-16 reading is a view of it).
//
// Thread safety: no shared state; any thread.
#pragma once

#include <cstddef>

#include "messaging/vmessage/vMessageReader.h"
#include "platform/base/UniqueAny.h"
#include "platform/com/types.h"

// ReadvMessage results besides 0 and E_OUTOFMEMORY.
inline constexpr int kvMessageFileMissing = -1;
inline constexpr int kvMessageFileUnreadable = -2;
inline constexpr int kvMessageOpenFailed = -3;
inline constexpr int kvMessageNotAccepted = -7;

// Allocated with the COM task allocator; the caller frees it (and its
// strings) with FreevMessageRecord, or holds it in vel::vmessage::UniqueRecord.
struct vMessageRecord {
  DATE date;           // the date text read for the user's locale; 0 when it is no date
  int status;          // 0 READ, 1 UNREAD, 2 SENT, 3 UNSENT; 0 for anything else
  int recipientCount;  // vCards met inside envelopes
  BSTR body;
  BSTR senderNumber;
  BSTR senderName;
  BSTR recipientNumbers;  // ";"-joined
  BSTR recipientNames;    // ";"-joined
  BSTR dateText;
};

void FreevMessageRecord(vMessageRecord* record) noexcept;

// 0 with *record set; kvMessageFileMissing, kvMessageFileUnreadable,
// E_OUTOFMEMORY, kvMessageOpenFailed or kvMessageNotAccepted with *record null.
int ReadvMessage(const char16_t* path, unsigned bits, vMessageRecord** record) noexcept;

namespace vel::vmessage {

// 8-bit text is read this many bytes at a time, twice (to check it is UTF-8
// and count its text, then to decode it), so the file's bytes are never held
// beside their text; other text is read whole.
inline constexpr std::size_t kEightBitPieceBytes = 64 * 1024;

// The owner of a record ReadvMessage gave: frees it with FreevMessageRecord.
using UniqueRecord = UniqueAny<NullHandleTraits<vMessageRecord*, FreevMessageRecord>>;

}  // namespace vel::vmessage
