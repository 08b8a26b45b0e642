// CTagStream: byte-order-aware reads over a span of bytes with a position.
// The tag reader takes every number and every payload out of an MP4 or ADTS
// file through one of these, so no parse can read outside the bytes it was
// given.
//
// A read that would pass the end reads nothing, answers 0 (or an empty span)
// and marks the stream failed; the position stays where it was. The failure
// sticks, so a decoder may read several fields in a row and check
// ok() once at the end instead of after every field.
//
// Positions are 64-bit and absolute within the span.
//
// Thread safety: a stream belongs to one thread; the bytes it reads are the
// caller's and must outlive it.
#pragma once

#include <cstdint>
#include <span>

#include "audio/mp4/Mp4Atom.h"

class CTagStream {
 public:
  CTagStream(std::span<const std::uint8_t> bytes, Mp4ByteOrder order) noexcept : bytes_(bytes), order_(order) {}

  std::uint8_t ReadByte() noexcept;
  std::uint16_t ReadUInt16() noexcept;
  std::uint32_t ReadUInt32() noexcept;
  std::uint64_t ReadUInt64() noexcept;
  // The next n bytes as they are stored.
  std::span<const std::uint8_t> ReadBytes(std::uint64_t n) noexcept;
  // Moves forward by n; past the end it fails like a read.
  void Skip(std::uint64_t n) noexcept;
  // Absolute; a position beyond the end fails and leaves the position alone.
  void Seek(std::uint64_t position) noexcept;

  std::uint64_t Tell() const noexcept { return position_; }
  std::uint64_t Size() const noexcept { return bytes_.size(); }
  std::uint64_t Remaining() const noexcept { return bytes_.size() - position_; }
  bool ok() const noexcept { return ok_; }
  std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }

 private:
  // The address of the next n bytes, or null (and failed) when they are not there.
  const std::uint8_t* Take(std::uint64_t n) noexcept;

  std::span<const std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
  Mp4ByteOrder order_ = Mp4ByteOrder::kBig;
  bool ok_ = true;
};
