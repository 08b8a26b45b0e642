// The writing side of the MP4 tag editor: the frame list as an "ilst" atom,
// and the new movie user data ("udta") that carries it: udta, meta (version
// 0), the fixed handler, the item list, then whatever else the old meta and
// the old udta held, unchanged.
//
// Frames read from the file and not changed since are written as the bytes
// they were read from; changed and new frames are encoded by the item codec
// (ItemCodec.h); computed frames are never written; a frame whose value was
// left in the file (CTagFrame::leftInFile) raises. A large picture is
// best written in pieces (BuildUserDataPieces), straight from its frame.
//
// Thread safety: pure functions over caller-owned data; any thread.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "audio/mp4/Mp4RewritePlan.h"
#include "audio/mp4/TagFrame.h"
#include "platform/base/ByteOrder.h"

namespace vel::mp4 {

// The "ilst" atom of frames. A list too large for a 32-bit size raises
// (kYErrInvalidParameter).
std::vector<std::uint8_t> WriteItemList(std::span<const CTagFrame> frames, ByteOrder order);

// The new udta atom for frames; oldUserData is a whole udta atom as it stands
// in the file, or empty. Too large for a 32-bit size: raises.
std::vector<std::uint8_t> BuildUserData(std::span<const CTagFrame> frames, std::span<const std::uint8_t> oldUserData,
                                        ByteOrder order);
// The same udta in pieces: runs of 64 KiB or more (a cover's array, an item
// kept as read) are borrowed from frames, not copied, so they must outlive the
// pieces; BuildUserData is these pieces joined.
Mp4UserDataPieces BuildUserDataPieces(std::span<const CTagFrame> frames, std::span<const std::uint8_t> oldUserData,
                                      ByteOrder order);

}  // namespace vel::mp4
