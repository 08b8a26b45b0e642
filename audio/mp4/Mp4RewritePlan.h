// The layout side of putting a new "udta" atom into an MP4 file: where the
// movie's user data sits, what the new file is made of, and which absolute
// file offsets have to follow the bytes that move. Everything here works on
// the old file's bytes in memory (usually a mapping) and never touches a file,
// so the writer (Mp4Rewriter) only streams the pieces of a plan.
//
// The rules, in short:
// - the new udta takes the old one's place in "moov", or becomes moov's last
//   child when there was none (a file whose only udta is a top-level one is
//   left alone: it must never get a second one);
// - the atom right after that place ("free" padding when there is some) takes
//   up the change in size where it can, so the media data stays where it is;
//   otherwise a 2,056-byte "free" atom is put right after the new udta, so the
//   next edit finds padding;
// - when bytes move, every chunk offset ("stco", "co64"), fragment base offset
//   ("tfhd") and fragment index entry ("tfra") pointing at moved bytes moves
//   with them; a 32-bit offset that would overflow refuses the rewrite.
//
// Thread safety: pure functions over caller-owned bytes; any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "audio/mp4/Mp4Atom.h"

enum class Mp4RewriteStatus { kWritten, kUnchanged, kNotMp4, kLayoutNotUnderstood, kIoFailed };

// Called with the moov's current "udta" atom (header included; empty span when
// moov has none) and the file's byte order; returns the complete new udta atom
// (header included, numbers in that order), or nothing to leave the file alone
// (kUnchanged).
using Mp4UserDataBuilder = std::function<std::optional<std::vector<std::uint8_t>>(
    std::span<const std::uint8_t> oldUserData, vel::ByteOrder order)>;

// One stretch of the new file.
struct Mp4OutputPiece {
  enum class Kind { kOld, kBytes, kZeros, kBorrowed };
  Kind kind = Kind::kOld;
  std::uint64_t offset = 0;         // kOld: where the stretch starts in the old file
  std::uint64_t size = 0;           // bytes this piece adds to the new file
  std::vector<std::uint8_t> bytes;  // kBytes: the stretch itself (size == bytes.size())
  // kBorrowed: the stretch where its owner keeps it (a picture's array, an
  // item kept as read) until the plan is written; size == borrowed.size().
  std::span<const std::uint8_t> borrowed;
};

// A new udta atom in pieces (kBytes and kBorrowed, in order), so that a large
// picture is written from where it is held instead of being copied into one
// more buffer. The atom's header lies in the first piece.
struct Mp4UserDataPieces {
  std::vector<Mp4OutputPiece> pieces;
  std::uint64_t size() const noexcept;
};

// Like Mp4UserDataBuilder, answering the new udta in pieces whose borrowed
// bytes stay valid until the plan is written.
using Mp4UserDataPiecesBuilder = std::function<std::optional<Mp4UserDataPieces>(
    std::span<const std::uint8_t> oldUserData, vel::ByteOrder order)>;

struct Mp4RewritePlan {
  // kWritten: pieces make up the new file. kUnchanged, kNotMp4,
  // kLayoutNotUnderstood: the file is to stay as it is (no pieces).
  Mp4RewriteStatus status = Mp4RewriteStatus::kLayoutNotUnderstood;
  std::vector<Mp4OutputPiece> pieces;
  std::uint64_t size = 0;         // of the new file
  std::uint64_t movedFrom = 0;    // the first old byte that moves, when shift is not 0
  std::int64_t shift = 0;         // how far the old bytes from movedFrom on move
  vel::ByteOrder order = vel::ByteOrder::kBig;
};

// Where the movie's user data is.
struct Mp4UserDataPlace {
  vel::ByteOrder order = vel::ByteOrder::kBig;
  Mp4Atom moov;
  std::optional<Mp4Atom> udta;  // moov's first "udta" child
};

// The place of moov's user data in file, or nothing with why not in failure
// (kNotMp4: not an MP4 file of an accepted brand; kLayoutNotUnderstood: no
// moov, a malformed top-level atom before it, malformed children of moov or
// of a container on the way to an offset table, an offset table that does not
// hold its entries, or only a top-level udta). Top-level bytes after moov
// that do not walk as atoms (a cut download, trailing junk) are carried along
// as they are.
std::optional<Mp4UserDataPlace> FindMp4UserData(std::span<const std::uint8_t> file, Mp4RewriteStatus& failure);

// The new file for the udta that build returns. build is called at most once,
// and only for a file whose layout is understood. A builder that returns
// something that is not one whole "udta" atom in the file's byte order is a
// caller's error: CYException (kYErrInvalidParameter).
Mp4RewritePlan PlanMp4UserDataRewrite(std::span<const std::uint8_t> file, const Mp4UserDataBuilder& build);
// The same for a udta built in pieces; its borrowed pieces go into the plan
// as they are. Pieces whose first one does not hold the atom's header are a
// caller's error like any other answer that is not one whole udta.
Mp4RewritePlan PlanMp4UserDataRewriteInPieces(std::span<const std::uint8_t> file,
                                              const Mp4UserDataPiecesBuilder& build);

// The new file of a kWritten plan in memory (small files, tests and checks).
std::vector<std::uint8_t> AssembleMp4Rewrite(std::span<const std::uint8_t> file, const Mp4RewritePlan& plan);
