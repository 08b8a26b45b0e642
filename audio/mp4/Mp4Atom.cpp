#include "audio/mp4/Mp4Atom.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::uint32_t, 17> kAcceptedBrands = {
    Mp4Type("M4A "), Mp4Type("m4a "), Mp4Type("M4B "), Mp4Type("m4b "), Mp4Type("M4P "), Mp4Type("m4p "),
    Mp4Type("mp41"), Mp4Type("MP41"), Mp4Type("mp42"), Mp4Type("MP42"), Mp4Type("NDAS"), Mp4Type("3gp4"),
    Mp4Type("3GP4"), Mp4Type("3gp5"), Mp4Type("3GP5"), Mp4Type("3gp6"), Mp4Type("3GP6")};

}  // namespace

std::uint16_t LoadU16Unchecked(const std::uint8_t* p, Mp4ByteOrder order) noexcept {
  return order == Mp4ByteOrder::kBig ? static_cast<std::uint16_t>((p[0] << 8) | p[1])
                                     : static_cast<std::uint16_t>((p[1] << 8) | p[0]);
}

std::uint32_t LoadU32Unchecked(const std::uint8_t* p, Mp4ByteOrder order) noexcept {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | p[order == Mp4ByteOrder::kBig ? i : 3 - i];
  return v;
}

std::uint64_t LoadU64Unchecked(const std::uint8_t* p, Mp4ByteOrder order) noexcept {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[order == Mp4ByteOrder::kBig ? i : 7 - i];
  return v;
}

void StoreU32Unchecked(std::uint8_t* p, std::uint32_t value, Mp4ByteOrder order) noexcept {
  for (int i = 0; i < 4; ++i) p[order == Mp4ByteOrder::kBig ? 3 - i : i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void StoreU64Unchecked(std::uint8_t* p, std::uint64_t value, Mp4ByteOrder order) noexcept {
  for (int i = 0; i < 8; ++i) p[order == Mp4ByteOrder::kBig ? 7 - i : i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::optional<Mp4Atom> ReadMp4Atom(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t limit,
                                   Mp4ByteOrder order) noexcept {
  limit = std::min<std::uint64_t>(limit, bytes.size());
  if (offset > limit || limit - offset < 8) return std::nullopt;
  Mp4Atom atom;
  atom.offset = offset;
  const std::uint32_t size32 = LoadU32Unchecked(bytes.data() + offset, order);
  atom.type = LoadU32Unchecked(bytes.data() + offset + 4, order);
  if (size32 == 1) {
    if (limit - offset < 16) return std::nullopt;
    atom.headerSize = 16;
    atom.size = LoadU64Unchecked(bytes.data() + offset + 8, order);
  } else if (size32 == 0) {
    atom.size = limit - offset;
  } else {
    atom.size = size32;
  }
  if (atom.size < atom.headerSize || atom.size > limit - offset) return std::nullopt;
  return atom;
}

Mp4AtomWalker::Mp4AtomWalker(std::span<const std::uint8_t> bytes, std::uint64_t begin, std::uint64_t end,
                             Mp4ByteOrder order) noexcept
    : bytes_(bytes), position_(begin), end_(std::min<std::uint64_t>(end, bytes.size())), order_(order) {}

std::optional<Mp4Atom> Mp4AtomWalker::Next() noexcept {
  if (malformed_ || position_ >= end_) return std::nullopt;
  auto atom = ReadMp4Atom(bytes_, position_, end_, order_);
  if (!atom) {
    malformed_ = true;
    return std::nullopt;
  }
  position_ = atom->end();
  return atom;
}

std::optional<Mp4Atom> FindMp4Child(std::span<const std::uint8_t> bytes, const Mp4Atom& parent, std::uint32_t type,
                                    Mp4ByteOrder order) noexcept {
  Mp4AtomWalker walker(bytes, parent, order);
  while (auto child = walker.Next()) {
    if (child->type == type) return child;
  }
  return std::nullopt;
}

bool IsAcceptedMp4Brand(std::uint32_t majorBrand) noexcept {
  return std::find(kAcceptedBrands.begin(), kAcceptedBrands.end(), majorBrand) != kAcceptedBrands.end();
}

std::optional<Mp4FileType> DetectMp4File(std::span<const std::uint8_t> bytes) noexcept {
  for (Mp4ByteOrder order : {Mp4ByteOrder::kBig, Mp4ByteOrder::kLittle}) {
    auto ftyp = ReadMp4Atom(bytes, 0, bytes.size(), order);
    if (!ftyp || ftyp->type != Mp4Type("ftyp")) continue;
    if (ftyp->bodySize() < 4) return std::nullopt;
    const std::uint32_t brand = LoadU32Unchecked(bytes.data() + ftyp->body(), order);
    if (!IsAcceptedMp4Brand(brand)) return std::nullopt;
    return Mp4FileType{order, *ftyp, brand};
  }
  return std::nullopt;
}
