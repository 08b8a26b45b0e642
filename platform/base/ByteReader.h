// ByteReader: the one bounded reader every parser of the project takes its
// numbers and payloads from (MP4 atoms, WAVE chunks, WSP fields, ASF objects,
// EXIF blocks). A span, a position and a byte order.
//
// A read that would pass the end reads nothing, answers 0 (or an empty span),
// leaves the position where it was and marks the reader failed. The failure
// sticks, so a decoder may read several fields in a row and check ok() once at
// the end. Take(n) splits the next n bytes off as a reader of their own: a
// child can never read outside its parent, which is how a container bounds
// its children.
//
// Positions are 64-bit and relative to the reader's own first byte; origin()
// tells where that byte lies in the outermost reader, for formats that store
// absolute offsets.
//
// Thread safety: a reader belongs to one thread; the bytes it reads are the
// caller's and must outlive it.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "platform/base/ByteOrder.h"

namespace vel {

class ByteReader {
 public:
  ByteReader() noexcept = default;
  explicit ByteReader(std::span<const std::uint8_t> bytes, ByteOrder order = ByteOrder::kBig,
                      std::uint64_t origin = 0) noexcept
      : bytes_(bytes), origin_(origin), order_(order) {}

  std::uint8_t U8() noexcept {
    const std::uint8_t* p = Advance(1);
    return p ? *p : 0;
  }
  std::uint16_t U16() noexcept {
    const std::uint8_t* p = Advance(2);
    return p ? LoadU16Unchecked(p, order_) : 0;
  }
  std::uint32_t U24() noexcept {
    const std::uint8_t* p = Advance(3);
    return p ? LoadU24Unchecked(p, order_) : 0;
  }
  std::uint32_t U32() noexcept {
    const std::uint8_t* p = Advance(4);
    return p ? LoadU32Unchecked(p, order_) : 0;
  }
  std::uint64_t U64() noexcept {
    const std::uint8_t* p = Advance(8);
    return p ? LoadU64Unchecked(p, order_) : 0;
  }
  // The next n bytes as they are stored.
  std::span<const std::uint8_t> Bytes(std::uint64_t n) noexcept {
    const std::uint8_t* p = Advance(n);
    return p ? std::span<const std::uint8_t>(p, static_cast<std::size_t>(n)) : std::span<const std::uint8_t>();
  }
  std::string_view Chars(std::uint64_t n) noexcept {
    const std::span<const std::uint8_t> b = Bytes(n);
    return {reinterpret_cast<const char*>(b.data()), b.size()};
  }
  // The next n bytes as a reader of their own, in the same byte order; this
  // reader moves past them. Short: both fail, the child empty.
  ByteReader Take(std::uint64_t n) noexcept {
    const std::uint64_t at = position_;
    const std::uint8_t* p = Advance(n);
    if (!p) {
      ByteReader failed;
      failed.ok_ = false;
      return failed;
    }
    return ByteReader(std::span<const std::uint8_t>(p, static_cast<std::size_t>(n)), order_, origin_ + at);
  }
  // Everything from the position on, as Take(remaining()).
  ByteReader TakeRest() noexcept { return Take(remaining()); }
  // The next byte without consuming it; false (and nothing changes) at the end.
  bool Peek(std::uint8_t& byte) const noexcept {
    if (remaining() == 0) return false;
    byte = bytes_[static_cast<std::size_t>(position_)];
    return true;
  }
  // Moves forward by n; past the end it fails like a read.
  void Skip(std::uint64_t n) noexcept { Advance(n); }
  // Absolute within this reader; beyond the end it fails and stays put.
  void Seek(std::uint64_t position) noexcept {
    if (position > bytes_.size()) {
      ok_ = false;
      return;
    }
    position_ = position;
  }
  // Marks the reader failed, for a decoder that found a value it cannot take.
  void Fail() noexcept { ok_ = false; }

  std::uint64_t position() const noexcept { return position_; }
  std::uint64_t size() const noexcept { return bytes_.size(); }
  std::uint64_t remaining() const noexcept { return bytes_.size() - position_; }
  bool empty() const noexcept { return remaining() == 0; }
  bool ok() const noexcept { return ok_; }
  std::uint64_t origin() const noexcept { return origin_; }
  ByteOrder order() const noexcept { return order_; }
  void set_order(ByteOrder order) noexcept { order_ = order; }
  // All bytes, and the ones not read yet.
  std::span<const std::uint8_t> bytes() const noexcept { return bytes_; }
  std::span<const std::uint8_t> rest() const noexcept { return bytes_.subspan(static_cast<std::size_t>(position_)); }

 private:
  // The address of the next n bytes, moving past them; null (and failed) when
  // they are not there.
  const std::uint8_t* Advance(std::uint64_t n) noexcept {
    if (n > remaining()) {
      ok_ = false;
      return nullptr;
    }
    const std::uint8_t* p = bytes_.data() + position_;
    position_ += n;
    return p;
  }

  std::span<const std::uint8_t> bytes_;
  std::uint64_t position_ = 0;
  std::uint64_t origin_ = 0;
  ByteOrder order_ = ByteOrder::kBig;
  bool ok_ = true;
};

}  // namespace vel
