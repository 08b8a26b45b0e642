// Byte order and the unchecked fixed-width loads and stores every parser and
// writer of the project builds on. "Unchecked" means the caller has made sure
// the bytes are there; everything else reads through ByteReader.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>

namespace vel {

enum class ByteOrder : int { kLittle = 0, kBig = 1 };

inline std::uint16_t LoadU16Unchecked(const std::uint8_t* p, ByteOrder order) noexcept {
  return order == ByteOrder::kBig ? static_cast<std::uint16_t>((p[0] << 8) | p[1])
                                  : static_cast<std::uint16_t>((p[1] << 8) | p[0]);
}

inline std::uint32_t LoadU24Unchecked(const std::uint8_t* p, ByteOrder order) noexcept {
  return order == ByteOrder::kBig
             ? (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2]
             : (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

inline std::uint32_t LoadU32Unchecked(const std::uint8_t* p, ByteOrder order) noexcept {
  return order == ByteOrder::kBig
             ? (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3]
             : (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
}

inline std::uint64_t LoadU64Unchecked(const std::uint8_t* p, ByteOrder order) noexcept {
  const std::uint64_t first = LoadU32Unchecked(p, order);
  const std::uint64_t second = LoadU32Unchecked(p + 4, order);
  return order == ByteOrder::kBig ? (first << 32) | second : (second << 32) | first;
}

inline void StoreU16Unchecked(std::uint8_t* p, std::uint16_t value, ByteOrder order) noexcept {
  if (order == ByteOrder::kBig) {
    p[0] = static_cast<std::uint8_t>(value >> 8);
    p[1] = static_cast<std::uint8_t>(value);
  } else {
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
  }
}

inline void StoreU32Unchecked(std::uint8_t* p, std::uint32_t value, ByteOrder order) noexcept {
  for (int i = 0; i < 4; ++i) {
    const int shift = order == ByteOrder::kBig ? 24 - 8 * i : 8 * i;
    p[i] = static_cast<std::uint8_t>(value >> shift);
  }
}

inline void StoreU64Unchecked(std::uint8_t* p, std::uint64_t value, ByteOrder order) noexcept {
  for (int i = 0; i < 8; ++i) {
    const int shift = order == ByteOrder::kBig ? 56 - 8 * i : 8 * i;
    p[i] = static_cast<std::uint8_t>(value >> shift);
  }
}

}  // namespace vel
