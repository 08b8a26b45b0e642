#include "audio/mp4/Mp4Atom.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<std::uint32_t, 17> kAcceptedBrands = {
    Mp4Type("M4A "), Mp4Type("m4a "), Mp4Type("M4B "), Mp4Type("m4b "), Mp4Type("M4P "), Mp4Type("m4p "),
    Mp4Type("mp41"), Mp4Type("MP41"), Mp4Type("mp42"), Mp4Type("MP42"), Mp4Type("NDAS"), Mp4Type("3gp4"),
    Mp4Type("3GP4"), Mp4Type("3gp5"), Mp4Type("3GP5"), Mp4Type("3gp6"), Mp4Type("3GP6")};

}  // namespace

std::optional<Mp4Atom> ReadMp4Atom(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t limit,
                                   vel::ByteOrder order) noexcept {
  limit = std::min<std::uint64_t>(limit, bytes.size());
  if (offset > limit || limit - offset < 8) return std::nullopt;
  Mp4Atom atom;
  atom.offset = offset;
  const std::uint32_t size32 = vel::LoadU32Unchecked(bytes.data() + offset, order);
  atom.type = vel::LoadU32Unchecked(bytes.data() + offset + 4, order);
  if (size32 == 1) {
    if (limit - offset < 16) return std::nullopt;
    atom.headerSize = 16;
    atom.size = vel::LoadU64Unchecked(bytes.data() + offset + 8, order);
  } else if (size32 == 0) {
    atom.size = limit - offset;
  } else {
    atom.size = size32;
  }
  if (atom.size < atom.headerSize || atom.size > limit - offset) return std::nullopt;
  return atom;
}

Mp4AtomWalker::Mp4AtomWalker(std::span<const std::uint8_t> bytes, std::uint64_t begin, std::uint64_t end,
                             vel::ByteOrder order) noexcept
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
                                    vel::ByteOrder order) noexcept {
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
  for (vel::ByteOrder order : {vel::ByteOrder::kBig, vel::ByteOrder::kLittle}) {
    auto ftyp = ReadMp4Atom(bytes, 0, bytes.size(), order);
    if (!ftyp || ftyp->type != Mp4Type("ftyp")) continue;
    if (ftyp->bodySize() < 4) return std::nullopt;
    const std::uint32_t brand = vel::LoadU32Unchecked(bytes.data() + ftyp->body(), order);
    if (!IsAcceptedMp4Brand(brand)) return std::nullopt;
    return Mp4FileType{order, *ftyp, brand};
  }
  return std::nullopt;
}
