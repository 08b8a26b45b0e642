#include "audio/mp4/Mp4Rewriter.h"

#include <algorithm>
#include <array>
#include <functional>

#include "audio/MappedFile.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"Mp4Rewriter";

bool WritePieces(CYReplacingFile& file, std::span<const std::uint8_t> old, const Mp4RewritePlan& plan) {
  return YErrorFrame(VEL_FRAME(u"WritePieces"), [&] {
    static const std::array<std::uint8_t, 64 * 1024> zeros{};
    for (const Mp4OutputPiece& piece : plan.pieces) {
      bool ok = true;
      switch (piece.kind) {
        case Mp4OutputPiece::Kind::kOld:
          // Straight from the mapping: a large tail is never held in memory
          // (the kernel pages it in and out as it is written).
          ok = file.Write(old.data() + piece.offset, piece.size);
          break;
        case Mp4OutputPiece::Kind::kBytes:
          ok = file.Write(piece.bytes.data(), piece.bytes.size());
          break;
        case Mp4OutputPiece::Kind::kBorrowed:
          // From where its owner holds it: a picture is not copied once more.
          ok = file.Write(piece.borrowed.data(), piece.borrowed.size());
          break;
        case Mp4OutputPiece::Kind::kZeros:
          for (std::uint64_t left = piece.size; ok && left > 0;) {
            const std::uint64_t step = std::min<std::uint64_t>(left, zeros.size());
            ok = file.Write(zeros.data(), step);
            left -= step;
          }
          break;
      }
      if (!ok) return false;
    }
    return true;
  });
}

// Maps the file, plans from its bytes and streams the plan into the file's
// temporary file.
Mp4RewriteStatus RewriteWithPlan(CYReplacingFile& file,
                                 const std::function<Mp4RewritePlan(std::span<const std::uint8_t>)>& planOf) {
  return YErrorFrame(VEL_FRAME(u"RewriteWithPlan"), [&] {
    const std::u16string& path = file.target();
    CMappedFile mapped;
    switch (mapped.Open(path)) {
      case CMappedFile::Status::kOk:
        break;
      case CMappedFile::Status::kEmpty:
        return Mp4RewriteStatus::kNotMp4;
      default:
        return Mp4RewriteStatus::kIoFailed;
    }
    const Mp4RewritePlan plan = planOf(mapped.bytes());
    if (plan.status != Mp4RewriteStatus::kWritten) return plan.status;
    // A file that another program changed meanwhile (a shortened one reads as
    // zeros where its bytes vanished) is not replaced: Commit refuses it.
    const bool ok = file.Begin() && WritePieces(file, mapped.bytes(), plan) && file.Commit();
    return ok ? Mp4RewriteStatus::kWritten : Mp4RewriteStatus::kIoFailed;
  });
}

}  // namespace

Mp4RewriteStatus Mp4RewriteUserData(CYReplacingFile& file, const Mp4UserDataBuilder& build) {
  return YErrorFrame(VEL_FRAME(u"Mp4RewriteUserData"), [&] {
    return RewriteWithPlan(file, [&](std::span<const std::uint8_t> bytes) { return PlanMp4UserDataRewrite(bytes, build); });
  });
}

Mp4RewriteStatus Mp4RewriteUserDataInPieces(CYReplacingFile& file, const Mp4UserDataPiecesBuilder& build) {
  return YErrorFrame(VEL_FRAME(u"Mp4RewriteUserDataInPieces"), [&] {
    return RewriteWithPlan(file, [&](std::span<const std::uint8_t> bytes) {
      return PlanMp4UserDataRewriteInPieces(bytes, build);
    });
  });
}

Mp4RewriteStatus Mp4RewriteUserData(const std::u16string& path, const Mp4UserDataBuilder& build) {
  return YErrorFrame(VEL_FRAME(u"Mp4RewriteUserData"), [&] {
    CYReplacingFile file(path);
    if (!file.Lock()) return Mp4RewriteStatus::kIoFailed;
    return Mp4RewriteUserData(file, build);
  });
}
