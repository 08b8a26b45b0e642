#include "audio/mp4/TagStream.h"

const std::uint8_t* CTagStream::Take(std::uint64_t n) noexcept {
  if (n > Remaining()) {
    ok_ = false;
    return nullptr;
  }
  const std::uint8_t* p = bytes_.data() + position_;
  position_ += n;
  return p;
}

std::uint8_t CTagStream::ReadByte() noexcept {
  const std::uint8_t* p = Take(1);
  return p ? *p : 0;
}

std::uint16_t CTagStream::ReadUInt16() noexcept {
  const std::uint8_t* p = Take(2);
  return p ? LoadU16Unchecked(p, order_) : 0;
}

std::uint32_t CTagStream::ReadUInt32() noexcept {
  const std::uint8_t* p = Take(4);
  return p ? LoadU32Unchecked(p, order_) : 0;
}

std::uint64_t CTagStream::ReadUInt64() noexcept {
  const std::uint8_t* p = Take(8);
  return p ? LoadU64Unchecked(p, order_) : 0;
}

std::span<const std::uint8_t> CTagStream::ReadBytes(std::uint64_t n) noexcept {
  const std::uint8_t* p = Take(n);
  return p ? bytes_.subspan(static_cast<std::size_t>(p - bytes_.data()), static_cast<std::size_t>(n))
           : std::span<const std::uint8_t>();
}

void CTagStream::Skip(std::uint64_t n) noexcept { Take(n); }

void CTagStream::Seek(std::uint64_t position) noexcept {
  if (position > bytes_.size()) {
    ok_ = false;
    return;
  }
  position_ = position;
}
