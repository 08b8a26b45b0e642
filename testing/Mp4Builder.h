// MP4 files built in code for the tests, benchmarks and fuzz seeds of the MP4
// readers and writers: atoms in either byte order (AtomWriter), the movie
// layouts the rewriter is tested with, small tagged files for the tag editor,
// ADTS frames, and readers that show a file's atom tree and absolute offsets
// independently of the code under test.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/mp4/Mp4Atom.h"
#include "testing/FileBytes.h"

namespace vel::testing {

// The tag tests' name for the same byte string.
using ByteVec = Bytes;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes Zeros(std::size_t n) { return Bytes(n, 0); }

// Bytes that differ from place to place, so a moved or lost byte shows.
inline Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
  return out;
}

inline std::string TypeText(std::uint32_t type) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) text.push_back(static_cast<char>((type >> shift) & 0xFF));
  return text;
}

// Writes numbers and atoms in one byte order (a little-endian file stores its
// four-character codes reversed too).
struct AtomWriter {
  vel::ByteOrder order = vel::ByteOrder::kBig;

  Bytes U32(std::uint32_t v) const {
    Bytes out(4);
    StoreU32Unchecked(out.data(), v, order);
    return out;
  }
  Bytes U64(std::uint64_t v) const {
    Bytes out(8);
    StoreU64Unchecked(out.data(), v, order);
    return out;
  }
  Bytes Code(const char (&type)[5]) const { return U32(Mp4Type(type)); }
  Bytes Atom(const char (&type)[5], std::initializer_list<Bytes> body) const {
    Bytes content = Cat(body);
    return Cat({U32(static_cast<std::uint32_t>(content.size() + 8)), Code(type), content});
  }
  // A 64-bit size header (size field 1).
  Bytes Atom64(const char (&type)[5], std::initializer_list<Bytes> body) const {
    Bytes content = Cat(body);
    return Cat({U32(1), Code(type), U64(content.size() + 16), content});
  }
  // A size field of 0: the atom runs to the end of the file.
  Bytes AtomToEnd(const char (&type)[5], std::initializer_list<Bytes> body) const {
    return Cat({U32(0), Code(type), Cat(body)});
  }
  Bytes Free(std::size_t size) const { return Atom("free", {Zeros(size - 8)}); }
  Bytes Ftyp(const char (&brand)[5]) const { return Atom("ftyp", {Code(brand), U32(0), Code(brand), Code("isom")}); }
  Bytes Stco(const std::vector<std::uint64_t>& entries) const {
    Bytes out = Cat({U32(0), U32(static_cast<std::uint32_t>(entries.size()))});
    for (std::uint64_t e : entries) out = Cat({out, U32(static_cast<std::uint32_t>(e))});
    return Atom("stco", {out});
  }
  Bytes Co64(const std::vector<std::uint64_t>& entries) const {
    Bytes out = Cat({U32(0), U32(static_cast<std::uint32_t>(entries.size()))});
    for (std::uint64_t e : entries) out = Cat({out, U64(e)});
    return Atom("co64", {out});
  }
  // A track whose sample table holds one chunk offset table.
  Bytes Trak(const Bytes& chunkOffsets) const {
    return Atom("trak", {Atom("tkhd", {Zeros(84)}),
                         Atom("mdia", {Atom("mdhd", {Zeros(24)}), Atom("hdlr", {Zeros(25)}),
                                       Atom("minf", {Atom("smhd", {Zeros(8)}),
                                                     Atom("stbl", {Atom("stsd", {Zeros(8)}), chunkOffsets})})})});
  }
  Bytes UserData(std::size_t bodySize, std::uint8_t seed) const { return Atom("udta", {Pattern(bodySize, seed)}); }
};

// The atom tree as text: "ftyp moov[mvhd udta] free:2056 mdat". Containers
// on the sample-table and fragment paths are opened; "free" shows its size;
// "!" marks a malformed walk.
inline std::string Tree(const Bytes& file, std::uint64_t begin, std::uint64_t end, vel::ByteOrder order) {
  static const std::uint32_t containers[] = {Mp4Type("moov"), Mp4Type("trak"), Mp4Type("mdia"), Mp4Type("minf"),
                                             Mp4Type("stbl"), Mp4Type("moof"), Mp4Type("traf"), Mp4Type("mfra"),
                                             Mp4Type("mvex")};
  std::string text;
  Mp4AtomWalker walker(file, begin, end, order);
  while (auto atom = walker.Next()) {
    if (!text.empty()) text += ' ';
    text += TypeText(atom->type);
    if (atom->type == Mp4Type("free")) text += ':' + std::to_string(atom->size);
    for (std::uint32_t c : containers) {
      if (atom->type == c) text += '[' + Tree(file, atom->body(), atom->end(), order) + ']';
    }
  }
  if (walker.malformed()) text += " !";
  return text;
}

inline std::string Tree(const Bytes& file, vel::ByteOrder order) { return Tree(file, 0, file.size(), order); }

// The n-th (from 0) top-level atom of a type.
inline std::optional<Mp4Atom> TopLevel(const Bytes& file, const char (&type)[5], vel::ByteOrder order, int n = 0) {
  Mp4AtomWalker walker(file, 0, file.size(), order);
  while (auto atom = walker.Next()) {
    if (atom->type == Mp4Type(type) && n-- == 0) return atom;
  }
  return std::nullopt;
}

// Every absolute offset the file holds, in file order: chunk offsets of every
// track, fragment base offsets, fragment index moof offsets.
inline std::vector<std::uint64_t> AbsoluteOffsets(const Bytes& file, vel::ByteOrder order) {
  std::vector<std::uint64_t> out;
  auto children = [&](const Mp4Atom& parent) {
    std::vector<Mp4Atom> list;
    Mp4AtomWalker walker(file, parent, order);
    while (auto child = walker.Next()) list.push_back(*child);
    return list;
  };
  const std::uint8_t* p = file.data();
  Mp4AtomWalker top(file, 0, file.size(), order);
  while (auto atom = top.Next()) {
    if (atom->type == Mp4Type("moov")) {
      for (const Mp4Atom& trak : children(*atom)) {
        if (trak.type != Mp4Type("trak")) continue;
        for (const Mp4Atom& mdia : children(trak)) {
          if (mdia.type != Mp4Type("mdia")) continue;
          for (const Mp4Atom& minf : children(mdia)) {
            if (minf.type != Mp4Type("minf")) continue;
            for (const Mp4Atom& stbl : children(minf)) {
              if (stbl.type != Mp4Type("stbl")) continue;
              for (const Mp4Atom& table : children(stbl)) {
                const bool wide = table.type == Mp4Type("co64");
                if (!wide && table.type != Mp4Type("stco")) continue;
                const std::uint32_t count = LoadU32Unchecked(p + table.body() + 4, order);
                for (std::uint32_t i = 0; i < count; ++i) {
                  const std::uint8_t* at = p + table.body() + 8 + i * (wide ? 8 : 4);
                  out.push_back(wide ? LoadU64Unchecked(at, order) : LoadU32Unchecked(at, order));
                }
              }
            }
          }
        }
      }
    } else if (atom->type == Mp4Type("moof")) {
      for (const Mp4Atom& traf : children(*atom)) {
        if (traf.type != Mp4Type("traf")) continue;
        for (const Mp4Atom& tfhd : children(traf)) {
          if (tfhd.type == Mp4Type("tfhd") && (LoadU32Unchecked(p + tfhd.body(), order) & 1) != 0) {
            out.push_back(LoadU64Unchecked(p + tfhd.body() + 8, order));
          }
        }
      }
    } else if (atom->type == Mp4Type("mfra")) {
      for (const Mp4Atom& tfra : children(*atom)) {
        if (tfra.type != Mp4Type("tfra")) continue;
        const bool wide = (LoadU32Unchecked(p + tfra.body(), order) >> 24) == 1;
        const std::uint32_t widths = LoadU32Unchecked(p + tfra.body() + 8, order);
        const std::uint32_t entry = (wide ? 16 : 8) + ((widths >> 4) & 3) + ((widths >> 2) & 3) + (widths & 3) + 3;
        const std::uint32_t count = LoadU32Unchecked(p + tfra.body() + 12, order);
        for (std::uint32_t i = 0; i < count; ++i) {
          const std::uint8_t* at = p + tfra.body() + 16 + i * entry + (wide ? 8 : 4);
          out.push_back(wide ? LoadU64Unchecked(at, order) : LoadU32Unchecked(at, order));
        }
      }
    }
  }
  return out;
}

// The layouts the rewriter is tested with. Chunk offsets point into the
// media ("mdat" body) wherever that ends up.
struct MovieLayout {
  vel::ByteOrder order = vel::ByteOrder::kBig;
  bool userData = true;                       // moov holds a udta ...
  bool userDataFirst = false;                 // ... right after mvhd instead of as its last child
  std::size_t userDataBody = 200;
  std::size_t freeInMoov = 0;                 // a free atom of this size right after the udta in moov
  std::size_t freeAfterMoov = 0;              // a top-level free atom of this size right after moov
  bool mediaFirst = false;                    // ftyp, mdat, moov
  bool mdat64 = false;                        // 64-bit mdat header
  bool co64 = false;                          // co64 instead of stco
  bool moovToEnd = false;                     // moov last, with size field 0
  bool topLevelUserData = false;              // a udta at the top level, after everything
  bool trackToEnd = false;                    // the trak has size field 0 (running to the end of moov)
  std::size_t mediaSize = 300;
};

inline Bytes MakeMovie(const MovieLayout& layout) {
  const AtomWriter w{layout.order};
  auto build = [&](std::uint64_t media) {
    const std::vector<std::uint64_t> chunks = {media, media + 100, media + 200};
    Bytes trak = w.Trak(layout.co64 ? w.Co64(chunks) : w.Stco(chunks));
    if (layout.trackToEnd) StoreU32Unchecked(trak.data(), 0, layout.order);
    Bytes udta = layout.userData ? w.UserData(layout.userDataBody, 0x40) : Bytes();
    if (layout.userData && layout.freeInMoov > 0) udta = Cat({udta, w.Free(layout.freeInMoov)});
    const Bytes mvhd = w.Atom("mvhd", {Zeros(100)});
    const Bytes body = layout.userDataFirst ? Cat({mvhd, udta, trak}) : Cat({mvhd, trak, udta});
    const Bytes moov = layout.moovToEnd ? w.AtomToEnd("moov", {body}) : w.Atom("moov", {body});
    const Bytes payload = Pattern(layout.mediaSize, 0x11);
    const Bytes mdat = layout.mdat64 ? w.Atom64("mdat", {payload}) : w.Atom("mdat", {payload});
    const Bytes free = layout.freeAfterMoov > 0 ? w.Free(layout.freeAfterMoov) : Bytes();
    const Bytes top = layout.topLevelUserData ? w.UserData(20, 0x70) : Bytes();
    if (layout.mediaFirst) return Cat({w.Ftyp("M4A "), mdat, top, moov, free});
    return Cat({w.Ftyp("M4A "), moov, free, mdat, top});
  };
  const Bytes first = build(0);
  const auto mdat = TopLevel(first, "mdat", layout.order);
  return build(mdat ? mdat->body() : 0);
}

// ftyp, moov (with mvex and udta), two fragments with their media, and a
// fragment index: the first fragment names its base offset, the second is
// relative to itself; one tfra of each version.
inline Bytes MakeFragmentedMovie(vel::ByteOrder order) {
  const AtomWriter w{order};
  auto build = [&](std::uint64_t media1, std::uint64_t moof1, std::uint64_t moof2) {
    const Bytes moov = w.Atom("moov", {w.Atom("mvhd", {Zeros(100)}), w.Trak(w.Stco({})),
                                       w.Atom("mvex", {w.Atom("trex", {Zeros(24)})}), w.UserData(60, 0x30)});
    const Bytes fragment1 =
        w.Atom("moof", {w.Atom("mfhd", {Zeros(8)}),
                        w.Atom("traf", {w.Atom("tfhd", {w.U32(0x000001), w.U32(1), w.U64(media1)}),
                                        w.Atom("trun", {Zeros(12)})})});
    const Bytes fragment2 = w.Atom("moof", {w.Atom("mfhd", {Zeros(8)}),
                                            w.Atom("traf", {w.Atom("tfhd", {w.U32(0x020000), w.U32(1)}),
                                                            w.Atom("trun", {Zeros(12)})})});
    // widths 0: one byte each for traf, trun and sample numbers
    const Bytes tfra0 = w.Atom("tfra", {w.U32(0), w.U32(1), w.U32(0), w.U32(2), w.U32(0), w.U32(static_cast<std::uint32_t>(moof1)),
                                        Bytes{1, 1, 1}, w.U32(1000), w.U32(static_cast<std::uint32_t>(moof2)), Bytes{1, 1, 1}});
    // version 1, widths 0x3F: four bytes each for traf, trun and sample numbers
    const Bytes tfra1 = w.Atom("tfra", {w.U32(0x01000000), w.U32(1), w.U32(0x3F), w.U32(2), w.U64(0), w.U64(moof1),
                                        Zeros(12), w.U64(1000), w.U64(moof2), Zeros(12)});
    const Bytes mfra = w.Atom("mfra", {tfra0, tfra1, w.Atom("mfro", {w.U32(0), w.U32(0)})});
    return Cat({w.Ftyp("mp42"), moov, fragment1, w.Atom("mdat", {Pattern(150, 0x21)}), fragment2,
                w.Atom("mdat", {Pattern(90, 0x51)}), mfra});
  };
  const Bytes first = build(0, 0, 0);
  const auto mdat = TopLevel(first, "mdat", order);
  const auto moof1 = TopLevel(first, "moof", order, 0);
  const auto moof2 = TopLevel(first, "moof", order, 1);
  return build(mdat->body(), moof1->offset, moof2->offset);
}

// Big-endian pieces and atoms, as the tag editor's files are written.
Bytes U16(std::uint16_t value);
Bytes U32(std::uint32_t value);
Bytes U64(std::uint64_t value);
Bytes Text(std::string_view text);

// size (32-bit, big-endian), type, body.
Bytes Atom(std::string_view type, const Bytes& body);
// size 1, type, 64-bit size, body.
Bytes Atom64(std::string_view type, const Bytes& body);
// "data": type word, locale 0, payload.
Bytes Data(std::uint32_t dataType, const Bytes& payload);
// An ilst item holding one data atom.
Bytes Item(std::string_view type, std::uint32_t dataType, const Bytes& payload);
Bytes Freeform(std::string_view name, std::uint32_t dataType, const Bytes& payload);

Bytes Ftyp(std::string_view brand);
Bytes Mvhd(int version, std::uint32_t timescale, std::uint64_t duration);
Bytes Trak(std::uint32_t timescale);
// udta > meta (version 0) > hdlr, ilst(items).
Bytes UserData(const Bytes& items);
// ftyp(brand), moov(mvhd 44,100 Hz / duration, trak, udta(items)), mdat(mdatBody).
Bytes SmallFile(const Bytes& items, std::uint64_t duration = 441000, std::size_t mdatBody = 992,
                std::string_view brand = "M4A ");

// One ADTS frame header (7 bytes, no CRC) for the sampling index and a frame
// length (header included), followed by length - 7 zero bytes; a length
// below 7 still gives the 7 header bytes.
Bytes AdtsFrame(int samplingIndex, std::size_t length);

}  // namespace vel::testing
