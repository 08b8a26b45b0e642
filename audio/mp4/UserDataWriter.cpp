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

namespace {

// Runs of at least this many bytes (a cover, an item kept as read) are
// written from where they are held instead of being copied into the new atom.
constexpr std::size_t kBorrowFrom = 64 * 1024;

// The pieces of a new atom: its own bytes written through a ByteWriter, with
// large runs held elsewhere borrowed between them.
class PieceWriter {
 public:
  explicit PieceWriter(ByteOrder order) : order_(order), out_(current_, order) {}

  ByteWriter& out() noexcept { return out_; }
  std::uint64_t position() const noexcept { return done_ + current_.size(); }

  void Put(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kBorrowFrom) {
      out_.PutBytes(bytes);
      return;
    }
    CloseCurrent();
    Mp4OutputPiece piece;
    piece.kind = Mp4OutputPiece::Kind::kBorrowed;
    piece.size = bytes.size();
    piece.borrowed = bytes;
    done_ += piece.size;
    pieces_.push_back(std::move(piece));
  }

  // A 32-bit number at an earlier position of the atom's own bytes.
  void PatchU32(std::uint64_t at, std::uint32_t value, const YFrame& frame) {
    std::uint64_t start = 0;
    for (Mp4OutputPiece& piece : pieces_) {
      if (at >= start && at - start + 4 <= piece.size) {
        if (piece.kind != Mp4OutputPiece::Kind::kBytes) YThrow(kYErrInvalidParameter, frame);
        ByteWriter(piece.bytes, order_).PatchU32(static_cast<std::size_t>(at - start), value);
        return;
      }
      start += piece.size;
    }
    out_.PatchU32(static_cast<std::size_t>(at - start), value);
  }

  Mp4UserDataPieces Finish() && {
    CloseCurrent();
    return {std::move(pieces_)};
  }

 private:
  void CloseCurrent() {
    if (current_.empty()) return;
    Mp4OutputPiece piece;
    piece.kind = Mp4OutputPiece::Kind::kBytes;
    piece.size = current_.size();
    piece.bytes = std::move(current_);
    current_.clear();  // out_ goes on writing into it
    done_ += piece.size;
    pieces_.push_back(std::move(piece));
  }

  ByteOrder order_;
  std::vector<Mp4OutputPiece> pieces_;
  std::vector<std::uint8_t> current_;
  std::uint64_t done_ = 0;  // bytes in pieces_
  ByteWriter out_;
};

// The "ilst" atom of the frames: frames read and not changed since as the
// bytes they were read from, the others encoded, a large payload borrowed.
void PutItemList(std::span<const CTagFrame> frames, PieceWriter& pieces, const YFrame& frame) {
  const std::uint64_t at = pieces.position();
  pieces.out().PutU32(0);  // its size, once known
  pieces.out().PutChars("ilst");
  for (const CTagFrame& item : frames) {
    // A value never read from the file would be lost without a word.
    if (item.leftInFile) YThrow(kYErrInvalidParameter, frame);
    if (!item.raw.empty()) {
      pieces.Put(item.raw);
    } else {
      pieces.Put(EncodeItemHead(item, pieces.out()));
    }
  }
  const std::uint64_t size = pieces.position() - at;
  if (size > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
  pieces.PatchU32(at, static_cast<std::uint32_t>(size), frame);
}

// The pieces joined into one buffer.
std::vector<std::uint8_t> Joined(const Mp4UserDataPieces& pieces) {
  std::vector<std::uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(pieces.size()));
  for (const Mp4OutputPiece& piece : pieces.pieces) {
    if (piece.kind == Mp4OutputPiece::Kind::kBytes) {
      bytes.insert(bytes.end(), piece.bytes.begin(), piece.bytes.end());
    } else {
      bytes.insert(bytes.end(), piece.borrowed.begin(), piece.borrowed.end());
    }
  }
  return bytes;
}

}  // namespace

std::vector<std::uint8_t> WriteItemList(std::span<const CTagFrame> frames, ByteOrder order) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::WriteItemList"), [&](const YFrame& frame) {
    PieceWriter pieces(order);
    PutItemList(frames, pieces, frame);
    return Joined(std::move(pieces).Finish());
  });
}

std::vector<std::uint8_t> BuildUserData(std::span<const CTagFrame> frames, std::span<const std::uint8_t> oldUserData,
                                        ByteOrder order) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::BuildUserData"),
                     [&] { return Joined(BuildUserDataPieces(frames, oldUserData, order)); });
}

Mp4UserDataPieces BuildUserDataPieces(std::span<const CTagFrame> frames, std::span<const std::uint8_t> oldUserData,
                                      ByteOrder order) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::BuildUserDataPieces"), [&](const YFrame& frame) {
    std::optional<Mp4Atom> oldUdta;
    std::optional<TagMeta> oldMeta;
    if (!oldUserData.empty()) {
      oldUdta = ReadMp4Atom(oldUserData, 0, oldUserData.size(), order);
      if (oldUdta) oldMeta = FindTagMeta(oldUserData, *oldUdta, order);
    }

    PieceWriter pieces(order);
    ByteWriter& out = pieces.out();
    out.PutU32(0);  // udta size, once known
    // The udta is found by the walks over moov, which read types in the
    // file's byte order; what lies inside it is compared as stored text.
    out.PutU32(Mp4Type("udta"));
    const std::uint64_t metaAt = pieces.position();
    out.PutU32(0);  // meta size, once known
    out.PutChars("meta");
    out.PutU32(0);  // version and flags
    out.PutU32(sizeof(kHandlerBody) + 4);
    out.PutBytes(kHandlerBody);
    PutItemList(frames, pieces, frame);
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
    const std::uint64_t metaSize = pieces.position() - metaAt;
    // The old udta's other children follow, unchanged.
    if (oldUdta) {
      Mp4AtomWalker children(oldUserData, *oldUdta, order);
      while (auto child = children.Next()) {
        if (oldMeta && child->offset == oldMeta->meta.offset) continue;
        out.PutBytes(RawAtom(oldUserData, *child, order));
      }
    }
    const std::uint64_t size = pieces.position();
    if (size > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
    pieces.PatchU32(0, static_cast<std::uint32_t>(size), frame);
    pieces.PatchU32(metaAt, static_cast<std::uint32_t>(metaSize), frame);
    return std::move(pieces).Finish();
  });
}

}  // namespace vel::mp4
