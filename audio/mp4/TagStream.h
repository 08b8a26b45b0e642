// CTagStream: byte-order-aware reads over a span of bytes with a position,
// as the tag editor has always spelled them. It is a thin facade over
// vel::ByteReader, the project's one bounded reader, so its rules are the
// reader's:
//
// A read that would pass the end reads nothing, answers 0 (or an empty span)
// and marks the stream failed; the position stays where it was. The failure
// sticks, so a decoder may read several fields in a row and check ok() once
// at the end instead of after every field.
//
// Positions are 64-bit and absolute within the span. reader() hands the
// underlying reader to the decoders that take one (vel::adts, vel::mp4).
//
// Thread safety: a stream belongs to one thread; the bytes it reads are the
// caller's and must outlive it.
#pragma once

#include <cstdint>
#include <span>

#include "platform/base/ByteReader.h"

class CTagStream {
 public:
  CTagStream(std::span<const std::uint8_t> bytes, vel::ByteOrder order) noexcept : reader_(bytes, order) {}

  std::uint8_t ReadByte() noexcept { return reader_.U8(); }
  std::uint16_t ReadUInt16() noexcept { return reader_.U16(); }
  std::uint32_t ReadUInt32() noexcept { return reader_.U32(); }
  std::uint64_t ReadUInt64() noexcept { return reader_.U64(); }
  // The next n bytes as they are stored.
  std::span<const std::uint8_t> ReadBytes(std::uint64_t n) noexcept { return reader_.Bytes(n); }
  // Moves forward by n; past the end it fails like a read.
  void Skip(std::uint64_t n) noexcept { reader_.Skip(n); }
  // Absolute; a position beyond the end fails and leaves the position alone.
  void Seek(std::uint64_t position) noexcept { reader_.Seek(position); }

  std::uint64_t Tell() const noexcept { return reader_.position(); }
  std::uint64_t Size() const noexcept { return reader_.size(); }
  std::uint64_t Remaining() const noexcept { return reader_.remaining(); }
  bool ok() const noexcept { return reader_.ok(); }
  std::span<const std::uint8_t> bytes() const noexcept { return reader_.bytes(); }

  vel::ByteReader& reader() noexcept { return reader_; }

 private:
  vel::ByteReader reader_;
};
