// CTagBase: the MP4 tag editor's model and its two directions.
//
// Reading: a whole file's bytes (mapped by the caller) are parsed into an
// ordered list of frames: "durn" from the movie header, one "srate" per track,
// the items of moov/udta/meta/ilst in file order, then "bitr" computed from
// the media data's size (MovieProperties.h). A raw AAC stream in ADTS framing
// gives "srate", "durn" and "bitr" only (audio/adts). Every read goes through
// a bounded reader or the bounded atom walks of Mp4Atom.h; a parent atom
// bounds its children, and a malformed or truncated part of a file is
// skipped, never read past. Items are decoded by the item codec's table
// (ItemCodec.h).
//
// Writing: the frame list is turned back into a udta atom (UserDataWriter.h).
// Frames read from the file and not changed since are written as the bytes
// they were read from; changed and new frames are encoded from their values.
// Computed frames are never written.
//
// Thread safety: an object belongs to one thread; objects share nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio/MetaDataItem.h"
#include "audio/mp4/ItemText.h"
#include "audio/mp4/Mp4Atom.h"
#include "audio/mp4/Mp4RewritePlan.h"
#include "audio/mp4/TagFrame.h"

class CTagBase {
 public:
  CTagBase() = default;
  virtual ~CTagBase();
  CTagBase(const CTagBase&) = delete;
  CTagBase& operator=(const CTagBase&) = delete;

  // Parses a whole file: an MP4 file of an accepted brand, or, when extension
  // is exactly ".aac", an ADTS stream (after an ID3v2 tag, if any). The frame
  // list is replaced. False when the bytes are neither or the parse failed.
  bool ParseImage(std::span<const std::uint8_t> bytes, std::u16string_view extension);

  // For a parse that no write follows (call before ParseImage): frames keep
  // no copy of their item's bytes, and without pictures the cover is not
  // decoded at all, so its pages are never read. A picture of many megabytes
  // then costs a display read nothing.
  void SetReadOnly(bool withPictures) noexcept {
    readOnly_ = true;
    withPictures_ = withPictures;
  }

  // For a parse that a write setting (or clearing) the picture follows (call
  // before ParseImage): the cover's frame keeps no copy of its stored bytes,
  // which the new picture replaces anyway. Without a reader of the parsed
  // bytes (SetParsedBytesReader), the frame keeps the cover's value, to tell
  // whether the picture changes. With one, a cover stored as bytes is not
  // even decoded: its frame keeps where it lies (CTagFrame::leftInFile), and
  // SetFrameValue compares a picture with those bytes a piece at a time, so
  // the old cover is never held while the new one is.
  void SetPictureReplaced() noexcept { pictureReplaced_ = true; }

  // Reads exactly into.size() bytes at offset of what ParseImage was given,
  // from wherever they live (the file it mapped); false when it cannot.
  using ParsedBytesReader = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> into)>;
  // The way back to the parsed bytes for values left in them; it must stay
  // usable while a frame is left in file (until the cover is set, cleared or
  // loaded).
  void SetParsedBytesReader(ParsedBytesReader read) { readParsed_ = std::move(read); }
  // Reads every value still left in the parsed bytes into its frame (a cover
  // that no picture was set over), as a parse without SetPictureReplaced
  // would have decoded it; false when the reader fails. A frame left in file
  // cannot be written (the writers raise): call this before writing.
  bool LoadValuesLeftInFile();

  // Appends one record per AudioPropertyMap row that a frame holds a value
  // for, in table order; "Duration" in seconds and "SamplingFrequency" as
  // VT_R8.
  void CollectRecords(CMetaDataItemList& records) const;

  const std::vector<CTagFrame>& Frames() const noexcept { return frames_; }
  vel::ByteOrder ByteOrder() const noexcept { return byteOrder_; }
  // Whether the last parse read an MP4 movie; false for a raw ADTS stream,
  // which has no place for tags, and when the parse failed.
  bool IsMovie() const noexcept { return movie_; }

  // The first frame named name (ASCII case ignored): its value and data type.
  // Nothing when no frame has that name.
  std::optional<std::pair<_variant_t, int>> GetFrameValue(std::string_view name) const;

  // Sets, replaces or (VT_EMPTY, VT_NULL) removes the frame for atom; true
  // when the frame list changed. A new frame takes atom's spelling as its
  // item type. A cover left in file that the same picture is set over takes
  // the value given (the same bytes, so nothing changes) instead of reading
  // its own.
  bool SetFrameValue(std::string_view atom, _variant_t value, int dataType);

  // The data type a property is stored with: 0, 1, 13, 21 or 64; -1 for a
  // name without a row in AudioPropertyMap.
  static int PropertyDataType(std::u16string_view propertyName);
  // Whether a value of dataType may be stored for the property.
  static bool CheckFrameType(std::u16string_view propertyName, int dataType);

  // The new udta atom: udta, meta (version 0), the fixed handler, the item
  // list; then the children of oldUserData (a whole udta atom as it stands in
  // the file, or empty) other than the "meta" that held the items, unchanged.
  std::vector<std::uint8_t> BuildUserData(std::span<const std::uint8_t> oldUserData, vel::ByteOrder order) const;
  // The same in pieces that borrow large runs from the frames: valid while
  // the frames stay as they are.
  Mp4UserDataPieces BuildUserDataPieces(std::span<const std::uint8_t> oldUserData, vel::ByteOrder order) const;
  // The "ilst" atom of the frame list.
  std::vector<std::uint8_t> WriteItemList(vel::ByteOrder order) const;
  // Appends the item a changed or new frame is written as (nothing for a
  // frame that has no encoding).
  static void EncodeFrame(const CTagFrame& frame, vel::ByteOrder order, std::vector<std::uint8_t>& out);

  // An item's text: UTF-8 when it holds a UTF-8 multibyte sequence, else the
  // ANSI code page when it is 7-bit text (0xA9 allowed) ended by zero bytes
  // only, else UTF-16LE; each up to its first zero.
  static std::u16string DecodeItemText(std::span<const std::uint8_t> bytes);

  // "3/12" -> {3, 12}; "7" -> {7, -1}; "3 / 12" -> {3, -1}; "Rock" -> {-1, -1}.
  // Numbers beyond 32 bits signed count as absent.
  using NumberPair = vel::mp4::NumberPair;
  static NumberPair ParseNumberPair(std::u16string_view text);

 protected:
  bool PictureReplaced() const noexcept { return pictureReplaced_; }
  void ClearFrames() noexcept {
    frames_.clear();
    movie_ = false;
  }

 private:
  bool ParseMp4(std::span<const std::uint8_t> bytes, const Mp4FileType& type);
  void ReadMovieHeader(std::span<const std::uint8_t> bytes, const Mp4Atom& mvhd);
  void ReadTrack(std::span<const std::uint8_t> bytes, const Mp4Atom& trak);
  void ReadUserData(std::span<const std::uint8_t> bytes, const Mp4Atom& udta);
  // False, and no frame made, when the item ends the list (a "free" item).
  bool ReadItem(std::span<const std::uint8_t> bytes, const Mp4Atom& item);
  // "bitr" from the size of the first top-level mdat and the duration.
  void AddBitrateFrame(const std::optional<Mp4Atom>& mdat);

  bool ParseAdts(std::span<const std::uint8_t> bytes);

  // Whether value is the same as what frame holds, or left in the file.
  bool IsSameValue(const CTagFrame& frame, const VARIANT& value) const;
  // Whether bytes equal those at place in the parsed bytes, read a piece at
  // a time; false when they cannot be read.
  bool EqualsParsedBytes(const CTagFrame::FilePlace& place, std::span<const std::uint8_t> bytes) const;

  const CTagFrame* FindFrame(std::string_view name) const noexcept;
  const CTagFrame* FindComputedFrame(std::string_view name) const noexcept;
  void AddComputedFrame(std::string_view name, _variant_t&& value, int dataType);

  std::vector<CTagFrame> frames_;
  vel::ByteOrder byteOrder_ = vel::ByteOrder::kBig;
  bool movie_ = false;
  bool readOnly_ = false;     // SetReadOnly: no raw item copies
  bool withPictures_ = true;  // SetReadOnly: decode the cover
  bool pictureReplaced_ = false;  // SetPictureReplaced: no raw copy of the cover
  ParsedBytesReader readParsed_;  // with pictureReplaced_: the cover is left in the file
};
