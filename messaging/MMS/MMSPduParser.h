// The reading of a binary MMS PDU behind CMMSCodec2: the header fields up to
// Content-Type, the multipart body, and one body entry. Every read goes
// through a vel::ByteReader bounded by the bytes given; a body entry's
// declared header length bounds its content type and headers.
//
// Results are those of CMMSCodec2's static members (offsets, sizes, kMmsErr
// codes); trace lines go to the log at level 4.
//
// Thread safety: no state; any thread.
#pragma once

#include <cstdint>
#include <span>

class CMMSHeader;
class CMultipartContainer;
class CMultipartFile;

namespace vel::mms {

// The offset of the body, or kMmsErrBadHeader.
int ParseHeader(std::span<const std::uint8_t> bytes, CMMSHeader& header);
// Bytes consumed (> 0), 0, or a negative code; parts read before an error stay.
int ParseMultipartFiles(std::span<const std::uint8_t> bytes, CMultipartContainer& container);
// The entry's total size, or a negative code.
int ReadMultipartFile(std::span<const std::uint8_t> bytes, CMultipartFile& part);

}  // namespace vel::mms
