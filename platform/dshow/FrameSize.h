// The frame size of a video stream from its codec's own headers, for streams
// whose container does not state it and which the media graph does not
// decode: MPEG-4 Part 2 (the video object layer header, in the decoder
// configuration or at the start of the first frame) and H.263 (the first
// picture header). Every read is bounded by the bytes given.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace vel::dshow {

struct FrameSize {
  int width = 0;
  int height = 0;
};

// The size in the first rectangular video object layer header found in bytes
// (a start code 00 00 01 20..2F); nothing when there is none or it is cut off.
std::optional<FrameSize> Mpeg4VolFrameSize(std::span<const std::uint8_t> bytes);

// The size in the H.263 picture header at the start of bytes: the standard
// source formats, and the custom format of an extended (PLUSPTYPE) header;
// nothing for anything else.
std::optional<FrameSize> H263FrameSize(std::span<const std::uint8_t> bytes);

}  // namespace vel::dshow
