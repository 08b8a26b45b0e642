// ByteWriter: appends numbers and bytes in one byte order to a caller's byte
// vector, and patches numbers already written (a size field known only once
// its content is written). The writers of the project (MP4 items, WSP fields,
// ASF objects) build their output through it.
//
// Patch* at a position that does not hold the whole number is a programming
// error; it writes nothing and answers false.
//
// Thread safety: a writer belongs to one thread, as does its vector.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "platform/base/ByteOrder.h"

namespace vel {

class ByteWriter {
 public:
  explicit ByteWriter(std::vector<std::uint8_t>& out, ByteOrder order = ByteOrder::kBig) noexcept
      : out_(out), order_(order) {}

  void PutU8(std::uint8_t value) { out_.push_back(value); }
  void PutU16(std::uint16_t value) { StoreU16Unchecked(Grow(2), value, order_); }
  void PutU32(std::uint32_t value) { StoreU32Unchecked(Grow(4), value, order_); }
  void PutU64(std::uint64_t value) { StoreU64Unchecked(Grow(8), value, order_); }
  void PutBytes(std::span<const std::uint8_t> bytes) {
    // Grown, then copied: GCC 12 at -O3 takes vector::insert of a constant
    // span into an empty vector for an overflow (-Wstringop-overflow).
    if (!bytes.empty()) std::memcpy(Grow(bytes.size()), bytes.data(), bytes.size());
  }
  void PutChars(std::string_view text) { out_.insert(out_.end(), text.begin(), text.end()); }
  // n copies of a byte (padding, reserved fields).
  void PutFill(std::size_t n, std::uint8_t value = 0) { out_.insert(out_.end(), n, value); }

  bool PatchU16(std::size_t at, std::uint16_t value) noexcept {
    if (!Fits(at, 2)) return false;
    StoreU16Unchecked(out_.data() + at, value, order_);
    return true;
  }
  bool PatchU32(std::size_t at, std::uint32_t value) noexcept {
    if (!Fits(at, 4)) return false;
    StoreU32Unchecked(out_.data() + at, value, order_);
    return true;
  }
  bool PatchU64(std::size_t at, std::uint64_t value) noexcept {
    if (!Fits(at, 8)) return false;
    StoreU64Unchecked(out_.data() + at, value, order_);
    return true;
  }

  // Where the next byte goes.
  std::size_t position() const noexcept { return out_.size(); }
  ByteOrder order() const noexcept { return order_; }
  std::vector<std::uint8_t>& bytes() noexcept { return out_; }

 private:
  std::uint8_t* Grow(std::size_t n) {
    out_.resize(out_.size() + n);
    return out_.data() + out_.size() - n;
  }
  bool Fits(std::size_t at, std::size_t n) const noexcept { return at <= out_.size() && n <= out_.size() - at; }

  std::vector<std::uint8_t>& out_;
  ByteOrder order_;
};

}  // namespace vel
