// The atom helpers of the MP4 tag code: item types as stored text, an atom's
// bytes made portable, child lookups by stored type, and the "meta" of a udta
// that holds (or may take) the item list.
//
// Item types and the markers inside udta are compared as the four bytes they
// are stored as, whatever the header byte order; only sizes and the types of
// the walks over moov follow the file's byte order (Mp4Atom.h).
//
// Thread safety: pure functions over caller-owned bytes; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "audio/mp4/Mp4Atom.h"

namespace vel::mp4 {

// The four type bytes of an atom as they are stored (a view into bytes).
std::string_view StoredType(std::span<const std::uint8_t> bytes, const Mp4Atom& atom) noexcept;

// The atom's body (after its header).
std::span<const std::uint8_t> AtomBody(std::span<const std::uint8_t> bytes, const Mp4Atom& atom) noexcept;

// The atom's bytes, with a size field of 0 ("to the end of the parent")
// replaced by the size it stood for, so that the bytes stay valid anywhere.
std::vector<std::uint8_t> RawAtom(std::span<const std::uint8_t> bytes, const Mp4Atom& atom, ByteOrder order);

// The first child in [begin, end) whose stored type equals type, without
// regard to ASCII case / exactly.
std::optional<Mp4Atom> FindChildNoCase(std::span<const std::uint8_t> bytes, std::uint64_t begin, std::uint64_t end,
                                       std::string_view type, ByteOrder order) noexcept;
std::optional<Mp4Atom> FindChildExact(std::span<const std::uint8_t> bytes, std::uint64_t begin, std::uint64_t end,
                                      std::string_view type, ByteOrder order) noexcept;

// The "meta" child of a udta that holds the items, and where its children
// begin (after version and flags, or at once for a meta without them).
struct TagMeta {
  Mp4Atom meta;
  std::uint64_t childrenBegin = 0;
};

// The meta that holds an item list; else the first meta of the item-list
// handler (or of none); else nothing. Another handler's meta (an ID3 meta of
// a 3GP file, say) is never taken.
std::optional<TagMeta> FindTagMeta(std::span<const std::uint8_t> bytes, const Mp4Atom& udta, ByteOrder order) noexcept;

}  // namespace vel::mp4
