// MP4 atom primitives shared by the tag reader and the file rewriter: atom
// headers in all three size forms, bounded walks over an atom's children, and
// the file-type check that decides whether a file is ours to read or write.
//
// Every function here takes the whole file as a span and a limit (the end of
// the enclosing atom) and never reads outside either; a header that does not
// fit, a size below its header's or an atom that runs past its parent gives
// nothing, and a walk stops there.
//
// Byte order: ordinary files keep their headers big-endian. A file whose first
// atom reads as "ftyp" only little-endian is taken as little-endian
// throughout: sizes and the atom types that the walks compare are read in that
// order (so a type compares equal to Mp4Type("moov") either way). The item
// types inside "ilst" are four bytes as stored and are not handled here.
//
// Thread safety: pure functions over caller-owned bytes; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/base/ByteOrder.h"

// A four-character code as the number a big-endian read gives.
constexpr std::uint32_t Mp4Type(const char (&text)[5]) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

struct Mp4Atom {
  std::uint64_t offset = 0;      // of the header
  std::uint64_t size = 0;        // header included; a size field of 0 is resolved to the limit
  std::uint32_t headerSize = 8;  // 8, or 16 when a 64-bit size follows the type
  std::uint32_t type = 0;        // read in the file's byte order; compare with Mp4Type(...)

  std::uint64_t body() const noexcept { return offset + headerSize; }
  std::uint64_t end() const noexcept { return offset + size; }
  std::uint64_t bodySize() const noexcept { return size - headerSize; }
};

// The atom whose header starts at offset, inside [offset, limit); limit is
// clamped to the span's size. Size field 1: a 64-bit size follows the type;
// size field 0: the atom runs to limit.
std::optional<Mp4Atom> ReadMp4Atom(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::uint64_t limit,
                                   vel::ByteOrder order) noexcept;

// The atoms one after another in [begin, end). Next gives nothing at the end
// and at the first malformed header; malformed() then tells the two apart.
class Mp4AtomWalker {
 public:
  Mp4AtomWalker(std::span<const std::uint8_t> bytes, std::uint64_t begin, std::uint64_t end,
                vel::ByteOrder order) noexcept;
  // The children of parent.
  Mp4AtomWalker(std::span<const std::uint8_t> bytes, const Mp4Atom& parent, vel::ByteOrder order) noexcept
      : Mp4AtomWalker(bytes, parent.body(), parent.end(), order) {}

  std::optional<Mp4Atom> Next() noexcept;
  bool malformed() const noexcept { return malformed_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::uint64_t position_;
  std::uint64_t end_;
  vel::ByteOrder order_;
  bool malformed_ = false;
};

// The first child of parent with the given type; nothing when there is none
// before the end or before a malformed child.
std::optional<Mp4Atom> FindMp4Child(std::span<const std::uint8_t> bytes, const Mp4Atom& parent, std::uint32_t type,
                                    vel::ByteOrder order) noexcept;

struct Mp4FileType {
  vel::ByteOrder order = vel::ByteOrder::kBig;
  Mp4Atom ftyp;
  std::uint32_t majorBrand = 0;
};

// The 17 major brands of files this module reads and writes ("M4A ", "mp42",
// "3gp4" ...); "isom" and every other brand are not among them.
bool IsAcceptedMp4Brand(std::uint32_t majorBrand) noexcept;

// The file type when the file starts with an "ftyp" atom whose major brand is
// accepted; nothing otherwise.
std::optional<Mp4FileType> DetectMp4File(std::span<const std::uint8_t> bytes) noexcept;
