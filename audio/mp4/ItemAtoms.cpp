#include "audio/mp4/ItemAtoms.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Ascii.h"
#include "platform/base/ByteWriter.h"
#include "ylib/YErrorFrame.h"

namespace vel::mp4 {
namespace {

constexpr char16_t kSource[] = u"ItemAtoms";

using Bytes = std::span<const std::uint8_t>;

// A header that could start a child: it fits, and its type is printable text.
bool PlausibleChild(Bytes bytes, std::uint64_t offset, std::uint64_t end, ByteOrder order) noexcept {
  auto atom = ReadMp4Atom(bytes, offset, end, order);
  if (!atom || LoadU32Unchecked(bytes.data() + offset, order) == 0) return false;
  for (int i = 4; i < 8; ++i) {
    const std::uint8_t c = bytes[static_cast<std::size_t>(offset + i)];
    if (c != 0xA9 && (c < 0x20 || c > 0x7E)) return false;
  }
  return true;
}

std::uint64_t MetaChildrenBegin(Bytes bytes, const Mp4Atom& meta, ByteOrder order) noexcept {
  // A QuickTime meta has no version and flags: its body is a child at once.
  if (PlausibleChild(bytes, meta.body(), meta.end(), order)) return meta.body();
  return std::min(meta.body() + 4, meta.end());
}

// Whether a meta's handler ("hdlr": version and flags, a predefined word,
// then the handler type) is "mdir", or the meta has no handler.
bool HoldsItemListHandler(Bytes bytes, const TagMeta& meta, ByteOrder order) noexcept {
  auto hdlr = FindChildExact(bytes, meta.childrenBegin, meta.meta.end(), "hdlr", order);
  if (!hdlr) return true;
  const std::uint64_t at = hdlr->body() + 8;
  if (at + 4 > hdlr->end()) return false;
  return std::string_view(reinterpret_cast<const char*>(bytes.data() + at), 4) == "mdir";
}

}  // namespace

std::string_view StoredType(Bytes bytes, const Mp4Atom& atom) noexcept {
  return std::string_view(reinterpret_cast<const char*>(bytes.data() + atom.offset + 4), 4);
}

Bytes AtomBody(Bytes bytes, const Mp4Atom& atom) noexcept {
  return bytes.subspan(static_cast<std::size_t>(atom.body()), static_cast<std::size_t>(atom.bodySize()));
}

std::vector<std::uint8_t> RawAtom(Bytes bytes, const Mp4Atom& atom, ByteOrder order) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::RawAtom"), [&] {
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(atom.offset);
    std::vector<std::uint8_t> raw(first, first + static_cast<std::ptrdiff_t>(atom.size));
    if (atom.headerSize != 8 || LoadU32Unchecked(raw.data(), order) != 0) return raw;
    ByteWriter writer(raw, order);
    if (atom.size <= 0xFFFFFFFFu) {
      writer.PatchU32(0, static_cast<std::uint32_t>(atom.size));
      return raw;
    }
    // Too large for a 32-bit size: use the 64-bit form.
    std::vector<std::uint8_t> wide;
    ByteWriter out(wide, order);
    out.PutU32(1);
    out.PutBytes(Bytes(raw).subspan(4, 4));
    out.PutU64(atom.size + 8);
    out.PutBytes(Bytes(raw).subspan(8));
    return wide;
  });
}

std::optional<Mp4Atom> FindChildNoCase(Bytes bytes, std::uint64_t begin, std::uint64_t end, std::string_view type,
                                       ByteOrder order) noexcept {
  Mp4AtomWalker walker(bytes, begin, end, order);
  while (auto child = walker.Next()) {
    if (AsciiEqualsNoCase(StoredType(bytes, *child), type)) return child;
  }
  return std::nullopt;
}

std::optional<Mp4Atom> FindChildExact(Bytes bytes, std::uint64_t begin, std::uint64_t end, std::string_view type,
                                      ByteOrder order) noexcept {
  Mp4AtomWalker walker(bytes, begin, end, order);
  while (auto child = walker.Next()) {
    if (StoredType(bytes, *child) == type) return child;
  }
  return std::nullopt;
}

std::optional<TagMeta> FindTagMeta(Bytes bytes, const Mp4Atom& udta, ByteOrder order) noexcept {
  std::optional<TagMeta> first;
  Mp4AtomWalker walker(bytes, udta, order);
  while (auto child = walker.Next()) {
    if (!AsciiEqualsNoCase(StoredType(bytes, *child), "meta")) continue;
    TagMeta found{*child, MetaChildrenBegin(bytes, *child, order)};
    if (FindChildExact(bytes, found.childrenBegin, child->end(), "ilst", order)) return found;
    // A meta without items is taken over only when it is of the item-list
    // handler (or names none); another handler's meta stays as it is, beside
    // the new one.
    if (!first && HoldsItemListHandler(bytes, found, order)) first = found;
  }
  return first;
}

}  // namespace vel::mp4
