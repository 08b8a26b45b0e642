#include "audio/mp4/UserDataWriter.h"

#include <array>
#include <optional>

#include "audio/mp4/ItemAtoms.h"
#include "audio/mp4/ItemCodec.h"
#include "platform/base/ByteWriter.h"
#include "ylib/YErrorFrame.h"

namespace vel::mp4 {
namespace {

constexpr char16_t kSource[] = u"UserDataWriter";

// The handler every written meta carries.
constexpr std::array<std::uint8_t, 30> kHandlerBody = {'h', 'd', 'l', 'r', 0,   0,   0,   0,   0,   0,
                                                       0,   0,   'm', 'd', 'i', 'r', 'a', 'p', 'p', 'l',
                                                       0,   0,   0,   0,   0,   0,   0,   0,   0,   0x3D};

}  // namespace

std::vector<std::uint8_t> WriteItemList(std::span<const CTagFrame> frames, ByteOrder order) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::WriteItemList"), [&](const YFrame& frame) {
    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes, order);
    out.PutU32(0);  // the size, once known
    out.PutChars("ilst");
    for (const CTagFrame& item : frames) {
      if (!item.raw.empty()) {
        out.PutBytes(item.raw);
      } else {
        EncodeItem(item, out);
      }
    }
    if (bytes.size() > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
    out.PatchU32(0, static_cast<std::uint32_t>(bytes.size()));
    return bytes;
  });
}

std::vector<std::uint8_t> BuildUserData(std::span<const CTagFrame> frames, std::span<const std::uint8_t> oldUserData,
                                        ByteOrder order) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::BuildUserData"), [&](const YFrame& frame) {
    std::optional<Mp4Atom> oldUdta;
    std::optional<TagMeta> oldMeta;
    if (!oldUserData.empty()) {
      oldUdta = ReadMp4Atom(oldUserData, 0, oldUserData.size(), order);
      if (oldUdta) oldMeta = FindTagMeta(oldUserData, *oldUdta, order);
    }

    std::vector<std::uint8_t> bytes;
    ByteWriter out(bytes, order);
    out.PutU32(0);  // udta size, once known
    // The udta is found by the walks over moov, which read types in the
    // file's byte order; what lies inside it is compared as stored text.
    out.PutU32(Mp4Type("udta"));
    const std::size_t metaAt = out.position();
    out.PutU32(0);  // meta size, once known
    out.PutChars("meta");
    out.PutU32(0);  // version and flags
    out.PutU32(sizeof(kHandlerBody) + 4);
    out.PutBytes(kHandlerBody);
    out.PutBytes(WriteItemList(frames, order));
    // What else the old meta held (other than its handler and the items)
    // stays in it.
    if (oldMeta) {
      Mp4AtomWalker children(oldUserData, oldMeta->childrenBegin, oldMeta->meta.end(), order);
      while (auto child = children.Next()) {
        const std::string_view type = StoredType(oldUserData, *child);
        if (type == "hdlr" || type == "ilst") continue;
        out.PutBytes(RawAtom(oldUserData, *child, order));
      }
    }
    const std::size_t metaSize = bytes.size() - metaAt;
    // The old udta's other children follow, unchanged.
    if (oldUdta) {
      Mp4AtomWalker children(oldUserData, *oldUdta, order);
      while (auto child = children.Next()) {
        if (oldMeta && child->offset == oldMeta->meta.offset) continue;
        out.PutBytes(RawAtom(oldUserData, *child, order));
      }
    }
    if (bytes.size() > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
    out.PatchU32(0, static_cast<std::uint32_t>(bytes.size()));
    out.PatchU32(metaAt, static_cast<std::uint32_t>(metaSize));
    return bytes;
  });
}

}  // namespace vel::mp4
