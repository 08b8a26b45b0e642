#include "audio/mp4/Mp4RewritePlan.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/base/ByteWriter.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"Mp4RewritePlan";

// The padding put after a new udta when nothing else can take up a change in
// its size: room for the next few edits without moving the media again.
constexpr std::uint64_t kPaddingSize = 2056;
constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();

// Old bytes that the new file holds changed (an enclosing size, shifted
// offsets). Patches never overlap.
struct Mp4Patch {
  std::uint64_t offset = 0;
  std::vector<std::uint8_t> bytes;
  std::uint64_t end() const noexcept { return offset + bytes.size(); }
};

// The numbers that are absolute file offsets, found on the way.
struct Mp4OffsetTables {
  std::vector<Mp4Atom> chunkOffsets;             // "stco" and "co64", checked to hold their entries
  std::vector<std::uint64_t> fragmentBases;      // where a tfhd's 64-bit base-data-offset is
  std::vector<Mp4Atom> fragmentIndexes;          // "tfra", checked to hold their entries
};

struct Mp4Layout {
  Mp4UserDataPlace place;
  std::vector<Mp4Atom> moovChildren;
  std::optional<Mp4Atom> afterMoov;  // the top-level atom right after moov
  Mp4OffsetTables tables;
};

// The children of parent; false when the walk meets a malformed child (the
// children then do not fill their parent exactly).
bool ReadChildren(std::span<const std::uint8_t> file, const Mp4Atom& parent, vel::ByteOrder order,
                  std::vector<Mp4Atom>& children) {
  return YErrorFrame(VEL_FRAME(u"ReadChildren"), [&] {
    children.clear();
    Mp4AtomWalker walker(file, parent, order);
    while (auto child = walker.Next()) children.push_back(*child);
    return !walker.malformed();
  });
}

const Mp4Atom* FirstOfType(const std::vector<Mp4Atom>& atoms, std::uint32_t type) noexcept {
  for (const Mp4Atom& atom : atoms) {
    if (atom.type == type) return &atom;
  }
  return nullptr;
}

// A full box's version and flags word; the caller has checked that the body holds it.
std::uint32_t VersionAndFlags(std::span<const std::uint8_t> file, const Mp4Atom& atom, vel::ByteOrder order) noexcept {
  return vel::LoadU32Unchecked(file.data() + atom.body(), order);
}

// stco / co64: version and flags, an entry count, then the entries.
bool IsWholeChunkOffsetTable(std::span<const std::uint8_t> file, const Mp4Atom& table, vel::ByteOrder order) noexcept {
  if (table.bodySize() < 8) return false;
  const std::uint64_t count = vel::LoadU32Unchecked(file.data() + table.body() + 4, order);
  const std::uint64_t width = table.type == Mp4Type("co64") ? 8 : 4;
  return count <= (table.bodySize() - 8) / width;
}

// The chunk offset tables of one track (trak/mdia/minf/stbl). A track
// without one of those levels has none; a malformed level is false.
bool ReadTrackTables(std::span<const std::uint8_t> file, const Mp4Atom& trak, vel::ByteOrder order,
                     Mp4OffsetTables& tables) {
  return YErrorFrame(VEL_FRAME(u"ReadTrackTables"), [&] {
    Mp4Atom level = trak;
    std::vector<Mp4Atom> children;
    for (std::uint32_t type : {Mp4Type("mdia"), Mp4Type("minf"), Mp4Type("stbl")}) {
      if (!ReadChildren(file, level, order, children)) return false;
      const Mp4Atom* inner = FirstOfType(children, type);
      if (inner == nullptr) return true;
      level = *inner;
    }
    if (!ReadChildren(file, level, order, children)) return false;
    for (const Mp4Atom& child : children) {
      if (child.type != Mp4Type("stco") && child.type != Mp4Type("co64")) continue;
      if (!IsWholeChunkOffsetTable(file, child, order)) return false;
      tables.chunkOffsets.push_back(child);
    }
    return true;
  });
}

// The base data offsets of a movie fragment's track fragments (moof/traf/tfhd
// with flag 0x000001). Offsets relative to the fragment move with it.
bool ReadFragmentBases(std::span<const std::uint8_t> file, const Mp4Atom& moof, vel::ByteOrder order,
                       Mp4OffsetTables& tables) {
  return YErrorFrame(VEL_FRAME(u"ReadFragmentBases"), [&] {
    std::vector<Mp4Atom> trafs;
    if (!ReadChildren(file, moof, order, trafs)) return false;
    std::vector<Mp4Atom> children;
    for (const Mp4Atom& traf : trafs) {
      if (traf.type != Mp4Type("traf")) continue;
      if (!ReadChildren(file, traf, order, children)) return false;
      for (const Mp4Atom& tfhd : children) {
        if (tfhd.type != Mp4Type("tfhd")) continue;
        if (tfhd.bodySize() < 8) return false;  // version and flags, track id
        if ((VersionAndFlags(file, tfhd, order) & 0x000001u) == 0) continue;
        if (tfhd.bodySize() < 16) return false;
        tables.fragmentBases.push_back(tfhd.body() + 8);
      }
    }
    return true;
  });
}

struct Mp4FragmentIndexShape {
  std::uint64_t count = 0;
  std::uint64_t entrySize = 0;
  bool wide = false;  // version 1: 64-bit time and moof offset
};

// A tfra's entries: version and flags, track id, the widths of the three
// numbers after the offset, the count, then the entries.
std::optional<Mp4FragmentIndexShape> FragmentIndexShape(std::span<const std::uint8_t> file, const Mp4Atom& tfra,
                                                        vel::ByteOrder order) noexcept {
  if (tfra.bodySize() < 16) return std::nullopt;
  const std::uint32_t version = VersionAndFlags(file, tfra, order) >> 24;
  if (version > 1) return std::nullopt;  // an entry layout we do not know: its offsets could not follow
  const std::uint32_t widths = vel::LoadU32Unchecked(file.data() + tfra.body() + 8, order);
  Mp4FragmentIndexShape shape;
  shape.wide = version == 1;
  shape.count = vel::LoadU32Unchecked(file.data() + tfra.body() + 12, order);
  shape.entrySize = (shape.wide ? 16 : 8) + ((widths >> 4) & 3) + 1 + ((widths >> 2) & 3) + 1 + (widths & 3) + 1;
  if (shape.count > (tfra.bodySize() - 16) / shape.entrySize) return std::nullopt;
  return shape;
}

bool ReadFragmentIndexes(std::span<const std::uint8_t> file, const Mp4Atom& mfra, vel::ByteOrder order,
                         Mp4OffsetTables& tables) {
  return YErrorFrame(VEL_FRAME(u"ReadFragmentIndexes"), [&] {
    std::vector<Mp4Atom> children;
    if (!ReadChildren(file, mfra, order, children)) return false;
    for (const Mp4Atom& child : children) {
      if (child.type != Mp4Type("tfra")) continue;
      if (!FragmentIndexShape(file, child, order)) return false;
      tables.fragmentIndexes.push_back(child);
    }
    return true;
  });
}

// Walks the file as far as a rewrite needs: the top level (a malformed walk
// before moov is fatal; after it the rest is carried along as it is), moov's
// children, and every table of absolute offsets.
std::optional<Mp4Layout> ReadLayout(std::span<const std::uint8_t> file, Mp4RewriteStatus& failure) {
  return YErrorFrame(VEL_FRAME(u"ReadLayout"), [&]() -> std::optional<Mp4Layout> {
    const auto type = DetectMp4File(file);
    if (!type) {
      failure = Mp4RewriteStatus::kNotMp4;
      return std::nullopt;
    }
    failure = Mp4RewriteStatus::kLayoutNotUnderstood;
    const vel::ByteOrder order = type->order;
    Mp4Layout layout;
    layout.place.order = order;

    std::optional<Mp4Atom> moov;
    bool afterMoovSeen = false;
    bool topLevelUserData = false;
    std::vector<Mp4Atom> fragments;
    std::vector<Mp4Atom> fragmentIndexes;
    Mp4AtomWalker top(file, type->ftyp.end(), file.size(), order);
    while (auto atom = top.Next()) {
      if (moov && !afterMoovSeen) {
        layout.afterMoov = atom;
        afterMoovSeen = true;
      }
      if (!moov && atom->type == Mp4Type("moov")) {
        moov = atom;
      } else if (atom->type == Mp4Type("udta")) {
        topLevelUserData = true;
      } else if (atom->type == Mp4Type("moof")) {
        fragments.push_back(*atom);
      } else if (atom->type == Mp4Type("mfra")) {
        fragmentIndexes.push_back(*atom);
      }
    }
    if (!moov) return std::nullopt;
    layout.place.moov = *moov;

    if (!ReadChildren(file, *moov, order, layout.moovChildren)) return std::nullopt;
    if (const Mp4Atom* udta = FirstOfType(layout.moovChildren, Mp4Type("udta"))) layout.place.udta = *udta;
    // Players read the first udta they meet; a second one would leave them
    // reading the old tags.
    if (!layout.place.udta && topLevelUserData) return std::nullopt;

    for (const Mp4Atom& child : layout.moovChildren) {
      if (child.type == Mp4Type("trak") && !ReadTrackTables(file, child, order, layout.tables)) return std::nullopt;
    }
    for (const Mp4Atom& moof : fragments) {
      if (!ReadFragmentBases(file, moof, order, layout.tables)) return std::nullopt;
    }
    for (const Mp4Atom& mfra : fragmentIndexes) {
      if (!ReadFragmentIndexes(file, mfra, order, layout.tables)) return std::nullopt;
    }
    return layout;
  });
}

// offset moved by shift when it points at moved bytes; nothing when the result
// does not fit in limit.
std::optional<std::uint64_t> ShiftedOffset(std::uint64_t offset, std::uint64_t movedFrom, std::int64_t shift,
                                           std::uint64_t limit) noexcept {
  if (offset < movedFrom) return offset;
  if (shift >= 0) {
    const auto up = static_cast<std::uint64_t>(shift);
    if (offset > limit || up > limit - offset) return std::nullopt;
    return offset + up;
  }
  const std::uint64_t down = 0 - static_cast<std::uint64_t>(shift);
  if (down > offset) return std::nullopt;
  return offset - down;
}

// count numbers of width bytes at the given old offsets, each moved by the
// rule above; false when one no longer fits its width. Adds one patch per
// table that changed.
bool ShiftNumbers(std::span<const std::uint8_t> file, std::uint64_t first, std::uint64_t count, std::uint64_t stride,
                  std::uint32_t width, std::uint64_t movedFrom, std::int64_t shift, vel::ByteOrder order,
                  std::vector<Mp4Patch>& patches) {
  return YErrorFrame(VEL_FRAME(u"ShiftNumbers"), [&] {
    if (count == 0) return true;
    Mp4Patch patch;
    patch.offset = first;
    const std::uint64_t length = (count - 1) * stride + width;
    patch.bytes.assign(file.begin() + static_cast<std::ptrdiff_t>(first),
                       file.begin() + static_cast<std::ptrdiff_t>(first + length));
    bool changed = false;
    vel::ByteWriter numbers(patch.bytes, order);
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::size_t at = static_cast<std::size_t>(i * stride);
      const std::uint8_t* p = patch.bytes.data() + at;
      const std::uint64_t old = width == 4 ? vel::LoadU32Unchecked(p, order) : vel::LoadU64Unchecked(p, order);
      const auto moved = ShiftedOffset(old, movedFrom, shift, width == 4 ? kMax32 : kMax64);
      if (!moved) return false;
      if (*moved == old) continue;
      changed = true;
      if (width == 4) {
        numbers.PatchU32(at, static_cast<std::uint32_t>(*moved));
      } else {
        numbers.PatchU64(at, *moved);
      }
    }
    if (changed) patches.push_back(std::move(patch));
    return true;
  });
}

// Patches for every absolute offset that points at moved bytes.
bool ShiftOffsetTables(std::span<const std::uint8_t> file, const Mp4OffsetTables& tables, std::uint64_t movedFrom,
                       std::int64_t shift, vel::ByteOrder order, std::vector<Mp4Patch>& patches) {
  return YErrorFrame(VEL_FRAME(u"ShiftOffsetTables"), [&] {
    for (const Mp4Atom& table : tables.chunkOffsets) {
      const std::uint64_t count = vel::LoadU32Unchecked(file.data() + table.body() + 4, order);
      const std::uint32_t width = table.type == Mp4Type("co64") ? 8 : 4;
      if (!ShiftNumbers(file, table.body() + 8, count, width, width, movedFrom, shift, order, patches)) return false;
    }
    for (std::uint64_t base : tables.fragmentBases) {
      if (!ShiftNumbers(file, base, 1, 8, 8, movedFrom, shift, order, patches)) return false;
    }
    for (const Mp4Atom& tfra : tables.fragmentIndexes) {
      const auto shape = FragmentIndexShape(file, tfra, order);
      if (!shape) return false;
      // Each entry: time, then the moof offset, both of the version's width.
      const std::uint32_t width = shape->wide ? 8 : 4;
      if (!ShiftNumbers(file, tfra.body() + 16 + width, shape->count, shape->entrySize, width, movedFrom, shift, order,
                        patches)) {
        return false;
      }
    }
    return true;
  });
}

// A "free" atom of size bytes, all zero after its header.
void AppendFreeAtom(std::uint64_t size, vel::ByteOrder order, std::vector<Mp4OutputPiece>& pieces) {
  YErrorFrame(VEL_FRAME(u"AppendFreeAtom"), [&] {
    Mp4OutputPiece header;
    header.kind = Mp4OutputPiece::Kind::kBytes;
    vel::ByteWriter out(header.bytes, order);
    out.PutU32(size <= kMax32 ? static_cast<std::uint32_t>(size) : 1);
    out.PutU32(Mp4Type("free"));
    if (size > kMax32) out.PutU64(size);
    header.size = header.bytes.size();
    const std::uint64_t zeros = size - header.size;
    pieces.push_back(std::move(header));
    if (zeros > 0) pieces.push_back(Mp4OutputPiece{Mp4OutputPiece::Kind::kZeros, 0, zeros, {}});
  });
}

// The old bytes [begin, end) with the patches that fall into them.
void AppendOldBytes(std::uint64_t begin, std::uint64_t end, const std::vector<Mp4Patch>& patches,
                    std::vector<Mp4OutputPiece>& pieces) {
  YErrorFrame(VEL_FRAME(u"AppendOldBytes"), [&] {
    std::uint64_t at = begin;
    for (const Mp4Patch& patch : patches) {
      if (patch.end() <= at || patch.offset >= end) continue;
      if (patch.offset > at) pieces.push_back(Mp4OutputPiece{Mp4OutputPiece::Kind::kOld, at, patch.offset - at, {}});
      const std::uint64_t from = std::max(at, patch.offset);
      const std::uint64_t to = std::min(end, patch.end());
      Mp4OutputPiece changed;
      changed.kind = Mp4OutputPiece::Kind::kBytes;
      changed.bytes.assign(patch.bytes.begin() + static_cast<std::ptrdiff_t>(from - patch.offset),
                           patch.bytes.begin() + static_cast<std::ptrdiff_t>(to - patch.offset));
      changed.size = changed.bytes.size();
      pieces.push_back(std::move(changed));
      at = to;
    }
    if (at < end) pieces.push_back(Mp4OutputPiece{Mp4OutputPiece::Kind::kOld, at, end - at, {}});
  });
}

// The builder's answer must be exactly one udta atom with an explicit size,
// its header in the first piece.
void CheckUserDataAtom(const Mp4UserDataPieces& userData, vel::ByteOrder order, const YFrame& frame) {
  bool whole = false;
  if (!userData.pieces.empty() && userData.pieces.front().kind == Mp4OutputPiece::Kind::kBytes) {
    const std::vector<std::uint8_t>& head = userData.pieces.front().bytes;
    if (head.size() >= 8) {
      const std::uint32_t size32 = vel::LoadU32Unchecked(head.data(), order);
      std::optional<std::uint64_t> size;
      std::uint64_t headerSize = 8;
      if (size32 == 1) {
        headerSize = 16;
        if (head.size() >= 16) size = vel::LoadU64Unchecked(head.data() + 8, order);
      } else if (size32 != 0) {
        size = size32;
      }
      whole = size && vel::LoadU32Unchecked(head.data() + 4, order) == Mp4Type("udta") && *size >= headerSize &&
              *size == userData.size();
    }
  }
  if (!whole) YThrow(kYErrInvalidParameter, frame);
}

}  // namespace

std::optional<Mp4UserDataPlace> FindMp4UserData(std::span<const std::uint8_t> file, Mp4RewriteStatus& failure) {
  return YErrorFrame(VEL_FRAME(u"FindMp4UserData"), [&]() -> std::optional<Mp4UserDataPlace> {
    auto layout = ReadLayout(file, failure);
    if (!layout) return std::nullopt;
    return layout->place;
  });
}

std::uint64_t Mp4UserDataPieces::size() const noexcept {
  std::uint64_t total = 0;
  for (const Mp4OutputPiece& piece : pieces) total += piece.size;
  return total;
}

Mp4RewritePlan PlanMp4UserDataRewrite(std::span<const std::uint8_t> file, const Mp4UserDataBuilder& build) {
  return YErrorFrame(VEL_FRAME(u"PlanMp4UserDataRewrite"), [&] {
    return PlanMp4UserDataRewriteInPieces(
        file, [&](std::span<const std::uint8_t> oldUserData, vel::ByteOrder order) -> std::optional<Mp4UserDataPieces> {
          std::optional<std::vector<std::uint8_t>> built = build(oldUserData, order);
          if (!built) return std::nullopt;
          Mp4UserDataPieces whole;
          Mp4OutputPiece piece;
          piece.kind = Mp4OutputPiece::Kind::kBytes;
          piece.size = built->size();
          piece.bytes = std::move(*built);
          whole.pieces.push_back(std::move(piece));
          return whole;
        });
  });
}

Mp4RewritePlan PlanMp4UserDataRewriteInPieces(std::span<const std::uint8_t> file,
                                              const Mp4UserDataPiecesBuilder& build) {
  return YErrorFrame(VEL_FRAME(u"PlanMp4UserDataRewriteInPieces"), [&](const YFrame& frame) {
    Mp4RewritePlan plan;
    auto layout = ReadLayout(file, plan.status);
    if (!layout) return plan;
    const vel::ByteOrder order = layout->place.order;
    plan.order = order;
    const Mp4Atom& moov = layout->place.moov;
    const std::optional<Mp4Atom>& udta = layout->place.udta;

    std::span<const std::uint8_t> oldUserData;
    if (udta) oldUserData = file.subspan(udta->offset, udta->size);
    std::optional<Mp4UserDataPieces> built = build(oldUserData, order);
    if (!built) {
      plan.status = Mp4RewriteStatus::kUnchanged;
      return plan;
    }
    CheckUserDataAtom(*built, order, frame);
    plan.status = Mp4RewriteStatus::kLayoutNotUnderstood;

    // The udta's place [start, end) and the atom right after it.
    const std::uint64_t start = udta ? udta->offset : moov.end();
    const std::uint64_t end = udta ? udta->end() : moov.end();
    std::optional<Mp4Atom> next = layout->afterMoov;
    bool nextInsideMoov = false;
    if (udta) {
      const auto it = std::find_if(layout->moovChildren.begin(), layout->moovChildren.end(),
                                   [&](const Mp4Atom& child) { return child.offset == udta->offset; });
      if (it + 1 != layout->moovChildren.end()) {
        next = *(it + 1);
        nextInsideMoov = true;
      }
    }

    const auto newSize = static_cast<std::int64_t>(built->size());  // checked above: within the first piece's 64-bit size
    const std::int64_t diff = newSize - static_cast<std::int64_t>(end - start);
    std::uint64_t resumeAt = end;  // where the old bytes go on after the new udta
    std::int64_t moovChange = 0;
    std::vector<Mp4OutputPiece> between;  // what goes between the new udta and the old bytes
    if (diff != 0) {
      const bool nextIsFree = next && next->type == Mp4Type("free");
      const bool freeAbsorbs =
          nextIsFree && (diff < 0 || static_cast<std::uint64_t>(diff) <= next->size - 8);
      if (freeAbsorbs) {
        // The padding grows or shrinks by what the udta does; what follows stays put.
        const std::uint64_t freeSize = diff < 0 ? next->size + (0 - static_cast<std::uint64_t>(diff))
                                                : next->size - static_cast<std::uint64_t>(diff);
        AppendFreeAtom(freeSize, order, between);
        resumeAt = next->end();
        moovChange = nextInsideMoov ? 0 : diff;
      } else if (nextIsFree) {
        // Padding too small to take it: kept as it is, and everything after the udta moves.
        plan.shift = diff;
        moovChange = diff;
      } else {
        AppendFreeAtom(kPaddingSize, order, between);
        plan.shift = diff + static_cast<std::int64_t>(kPaddingSize);
        moovChange = nextInsideMoov ? plan.shift : diff;
      }
    }

    std::vector<Mp4Patch> patches;
    // moov's own size; a size field of 0 (to the end of the file) becomes explicit.
    const std::uint64_t moovSize = moov.size + static_cast<std::uint64_t>(moovChange);
    Mp4Patch moovHeader;
    if (moov.headerSize == 8) {
      if (moovSize > kMax32) return plan;
      moovHeader.offset = moov.offset;
      vel::ByteWriter(moovHeader.bytes, order).PutU32(static_cast<std::uint32_t>(moovSize));
    } else {
      moovHeader.offset = moov.offset + 8;
      vel::ByteWriter(moovHeader.bytes, order).PutU64(moovSize);
    }
    patches.push_back(std::move(moovHeader));
    // A last child that runs to the end of moov (size field 0) would take in
    // a udta appended after it: it keeps its extent with an explicit size.
    if (!udta && !layout->moovChildren.empty()) {
      const Mp4Atom& last = layout->moovChildren.back();
      if (last.headerSize == 8 && vel::LoadU32Unchecked(file.data() + last.offset, order) == 0) {
        if (last.size > kMax32) return plan;
        Mp4Patch lastHeader;
        lastHeader.offset = last.offset;
        vel::ByteWriter(lastHeader.bytes, order).PutU32(static_cast<std::uint32_t>(last.size));
        patches.push_back(std::move(lastHeader));
      }
    }

    if (plan.shift != 0) {
      plan.movedFrom = end;
      if (!ShiftOffsetTables(file, layout->tables, plan.movedFrom, plan.shift, order, patches)) return plan;
    }
    std::sort(patches.begin(), patches.end(),
              [](const Mp4Patch& a, const Mp4Patch& b) { return a.offset < b.offset; });
    for (std::size_t i = 1; i < patches.size(); ++i) {
      if (patches[i - 1].end() > patches[i].offset) return plan;  // two tables sharing bytes: not a layout we know
    }

    AppendOldBytes(0, start, patches, plan.pieces);
    for (Mp4OutputPiece& piece : built->pieces) plan.pieces.push_back(std::move(piece));
    for (Mp4OutputPiece& piece : between) plan.pieces.push_back(std::move(piece));
    AppendOldBytes(resumeAt, file.size(), patches, plan.pieces);

    plan.size = 0;
    for (const Mp4OutputPiece& piece : plan.pieces) plan.size += piece.size;
    plan.status = Mp4RewriteStatus::kWritten;
    return plan;
  });
}

std::vector<std::uint8_t> AssembleMp4Rewrite(std::span<const std::uint8_t> file, const Mp4RewritePlan& plan) {
  return YErrorFrame(VEL_FRAME(u"AssembleMp4Rewrite"), [&] {
    std::vector<std::uint8_t> out;
    if (plan.status != Mp4RewriteStatus::kWritten) return out;
    out.reserve(plan.size);
    for (const Mp4OutputPiece& piece : plan.pieces) {
      switch (piece.kind) {
        case Mp4OutputPiece::Kind::kOld: {
          const auto from = file.begin() + static_cast<std::ptrdiff_t>(piece.offset);
          out.insert(out.end(), from, from + static_cast<std::ptrdiff_t>(piece.size));
          break;
        }
        case Mp4OutputPiece::Kind::kBytes:
          out.insert(out.end(), piece.bytes.begin(), piece.bytes.end());
          break;
        case Mp4OutputPiece::Kind::kZeros:
          out.insert(out.end(), piece.size, 0);
          break;
        case Mp4OutputPiece::Kind::kBorrowed:
          out.insert(out.end(), piece.borrowed.begin(), piece.borrowed.end());
          break;
      }
    }
    return out;
  });
}
