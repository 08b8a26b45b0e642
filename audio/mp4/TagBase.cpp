#include "audio/mp4/TagBase.h"

#include <algorithm>

#include "audio/AudioPropertyMap.h"
#include "audio/ByteArray.h"
#include "audio/adts/AdtsStream.h"
#include "audio/mp4/ItemAtoms.h"
#include "audio/mp4/ItemCodec.h"
#include "audio/mp4/MovieProperties.h"
#include "audio/mp4/TagStream.h"
#include "audio/mp4/UserDataWriter.h"
#include "platform/base/Ascii.h"
#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"TagBase";

using Bytes = std::span<const std::uint8_t>;
using vel::AsciiEqualsNoCase;

// The genre as a number (the table's item) and as text (what most writers
// store for a genre); the text stands in when the number is absent.
constexpr std::string_view kGenreNumberAtom = "gnre";
constexpr std::string_view kGenreTextAtom = "\xA9" "gen";

// A cover left in the file is compared with a picture this many bytes at a
// time: only one piece of it is held, however large it is.
constexpr std::uint64_t kComparePiece = 1024 * 1024;

}  // namespace

CTagBase::~CTagBase() = default;

// ---------------------------------------------------------------------------
// Reading

bool CTagBase::ParseImage(Bytes bytes, std::u16string_view extension) {
  bool parsed = false;
  bool movie = false;
  // A failure inside the parse (an allocation for an absurd item) is a file
  // that cannot be read, not an error of the caller.
  YErrorFrameNoThrow(VEL_FRAME(u"CTagBase::ParseImage"), [&]() {
    frames_.clear();
    byteOrder_ = vel::ByteOrder::kBig;
    if (auto type = DetectMp4File(bytes)) {
      parsed = movie = ParseMp4(bytes, *type);
    } else if (extension == u".aac") {
      parsed = ParseAdts(bytes);
    }
  });
  if (!parsed) frames_.clear();
  movie_ = movie;
  return parsed;
}

bool CTagBase::ParseMp4(Bytes bytes, const Mp4FileType& type) {
  return YErrorFrame(VEL_FRAME(u"CTagBase::ParseMp4"), [&]() {
    byteOrder_ = type.order;
    std::optional<Mp4Atom> moov, mdat, udtaAfterMoov;
    Mp4AtomWalker top(bytes, type.ftyp.end(), bytes.size(), byteOrder_);
    while (auto atom = top.Next()) {
      if (atom->type == Mp4Type("mdat") && !mdat) mdat = atom;
      if (atom->type == Mp4Type("moov") && !moov) {
        moov = atom;
      } else if (atom->type == Mp4Type("udta") && moov && !udtaAfterMoov) {
        udtaAfterMoov = atom;
      }
    }
    if (moov) {
      if (auto mvhd = FindMp4Child(bytes, *moov, Mp4Type("mvhd"), byteOrder_)) ReadMovieHeader(bytes, *mvhd);
      Mp4AtomWalker children(bytes, *moov, byteOrder_);
      while (auto child = children.Next()) {
        if (child->type == Mp4Type("trak")) ReadTrack(bytes, *child);
      }
      auto udta = FindMp4Child(bytes, *moov, Mp4Type("udta"), byteOrder_);
      if (!udta) udta = udtaAfterMoov;
      if (udta) ReadUserData(bytes, *udta);
    }
    AddBitrateFrame(mdat);
    return true;
  });
}

void CTagBase::ReadMovieHeader(Bytes bytes, const Mp4Atom& mvhd) {
  YErrorFrame(VEL_FRAME(u"CTagBase::ReadMovieHeader"), [&]() {
    if (FindComputedFrame("durn")) return;
    if (auto duration = vel::mp4::MovieDuration(vel::ByteReader(vel::mp4::AtomBody(bytes, mvhd), byteOrder_)))
      AddComputedFrame("durn", *duration, kTagTypeDuration);
  });
}

void CTagBase::ReadTrack(Bytes bytes, const Mp4Atom& trak) {
  YErrorFrame(VEL_FRAME(u"CTagBase::ReadTrack"), [&]() {
    auto mdia = FindMp4Child(bytes, trak, Mp4Type("mdia"), byteOrder_);
    if (!mdia) return;
    auto mdhd = FindMp4Child(bytes, *mdia, Mp4Type("mdhd"), byteOrder_);
    if (!mdhd) return;
    if (auto rate = vel::mp4::TrackTimescale(vel::ByteReader(vel::mp4::AtomBody(bytes, *mdhd), byteOrder_)))
      AddComputedFrame("srate", _variant_t(*rate, VT_INT), kTagTypeNumber);
  });
}

void CTagBase::ReadUserData(Bytes bytes, const Mp4Atom& udta) {
  YErrorFrame(VEL_FRAME(u"CTagBase::ReadUserData"), [&]() {
    auto meta = vel::mp4::FindTagMeta(bytes, udta, byteOrder_);
    if (!meta) return;
    auto ilst = vel::mp4::FindChildExact(bytes, meta->childrenBegin, meta->meta.end(), "ilst", byteOrder_);
    if (!ilst) return;
    Mp4AtomWalker items(bytes, *ilst, byteOrder_);
    bool reading = true;
    while (auto item = items.Next()) {
      if (reading) reading = ReadItem(bytes, *item);
      if (!reading && !readOnly_) {
        // Nothing from a "free" item on is read, but it is all written back.
        CTagFrame kept;
        kept.name = std::string(vel::mp4::StoredType(bytes, *item));
        kept.raw = vel::mp4::RawAtom(bytes, *item, byteOrder_);
        kept.opaque = true;
        frames_.push_back(std::move(kept));
      }
    }
  });
}

bool CTagBase::ReadItem(Bytes bytes, const Mp4Atom& item) {
  return YErrorFrame(VEL_FRAME(u"CTagBase::ReadItem"), [&]() {
    const std::string_view type = vel::mp4::StoredType(bytes, item);
    if (AsciiEqualsNoCase(type, "free")) return false;
    if (readOnly_ && !withPictures_ && AsciiEqualsNoCase(type, "covr")) return true;
    CTagFrame frame;
    frame.name = std::string(type);
    if (pictureReplaced_ && readParsed_ && !readOnly_ && AsciiEqualsNoCase(type, "covr")) {
      // The picture set next replaces it: where it lies is enough to tell
      // whether it changes, and its pages are never read.
      if (auto place = vel::mp4::BytesPayloadPlace(bytes, item, byteOrder_)) {
        frame.dataType = place->dataType;
        frame.leftInFile = CTagFrame::FilePlace{place->offset, place->size};
        frames_.push_back(std::move(frame));
        return true;
      }
    }
    if (!readOnly_ && !(pictureReplaced_ && AsciiEqualsNoCase(type, "covr")))
      frame.raw = vel::mp4::RawAtom(bytes, item, byteOrder_);
    frame.opaque = true;  // until a value has been decoded
    vel::mp4::DecodeItem(bytes, item, byteOrder_, frame);
    frames_.push_back(std::move(frame));
    return true;
  });
}

void CTagBase::AddBitrateFrame(const std::optional<Mp4Atom>& mdat) {
  YErrorFrame(VEL_FRAME(u"CTagBase::AddBitrateFrame"), [&]() {
    int bitrate = 0;
    const CTagFrame* durn = FindComputedFrame("durn");
    if (mdat && durn && durn->value.vt == VT_I8) bitrate = vel::mp4::MediaBitrate(mdat->size, durn->value.llVal);
    AddComputedFrame("bitr", _variant_t(bitrate, VT_INT), kTagTypeNumber);
  });
}

bool CTagBase::ParseAdts(Bytes bytes) {
  return YErrorFrame(VEL_FRAME(u"CTagBase::ParseAdts"), [&]() {
    byteOrder_ = vel::ByteOrder::kBig;
    CTagStream stream(bytes, vel::ByteOrder::kBig);
    if (!vel::adts::SkipId3v2Tag(stream.reader()) || !vel::adts::IsAdtsStream(stream.reader())) return false;
    if (auto properties = vel::adts::ReadAdtsProperties(stream.reader())) {
      AddComputedFrame("srate", _variant_t(properties->sampleRate, VT_INT), kTagTypeNumber);
      AddComputedFrame("durn", properties->duration, kTagTypeDuration);
      AddComputedFrame("bitr", _variant_t(properties->bitrate, VT_INT), kTagTypeNumber);
    }
    return true;
  });
}

// ---------------------------------------------------------------------------
// Frames and records

const CTagFrame* CTagBase::FindFrame(std::string_view name) const noexcept {
  for (const CTagFrame& frame : frames_) {
    if (!frame.opaque && AsciiEqualsNoCase(frame.name, name)) return &frame;
  }
  return nullptr;
}

const CTagFrame* CTagBase::FindComputedFrame(std::string_view name) const noexcept {
  for (const CTagFrame& frame : frames_) {
    if (frame.computed && frame.name == name) return &frame;
  }
  return nullptr;
}

void CTagBase::AddComputedFrame(std::string_view name, _variant_t&& value, int dataType) {
  YErrorFrame(VEL_FRAME(u"CTagBase::AddComputedFrame"), [&]() {
    CTagFrame frame;
    frame.name = std::string(name);
    frame.value = std::move(value);
    frame.dataType = dataType;
    frame.computed = true;
    frames_.push_back(std::move(frame));
  });
}

std::optional<std::pair<_variant_t, int>> CTagBase::GetFrameValue(std::string_view name) const {
  return YErrorFrame(VEL_FRAME(u"CTagBase::GetFrameValue"), [&]() -> std::optional<std::pair<_variant_t, int>> {
    if (name.empty()) return std::nullopt;
    const CTagFrame* frame = FindFrame(name);
    if (!frame) return std::nullopt;
    return std::make_pair(frame->value, frame->dataType);
  });
}

void CTagBase::CollectRecords(CMetaDataItemList& records) const {
  YErrorFrame(VEL_FRAME(u"CTagBase::CollectRecords"), [&]() {
    for (const AudioPropertyMapRow& row : AudioPropertyMap) {
      if (!row.HasAtom()) continue;
      std::optional<std::pair<_variant_t, int>> found;
      if (const auto* computed = FindComputedFrame(row.atomName)) {
        found.emplace(computed->value, computed->dataType);
      } else if (row.readOnly && (row.atomName == "durn" || row.atomName == "bitr" || row.atomName == "srate")) {
        // Only the file's structure gives these; an item of the same name does not.
        continue;
      } else {
        found = GetFrameValue(row.atomName);
        if (!found && row.atomName == kGenreNumberAtom) found = GetFrameValue(kGenreTextAtom);
      }
      if (!found) continue;
      auto& [value, dataType] = *found;
      if (value.vt == VT_EMPTY || value.vt == VT_NULL) continue;
      if (row.propertyName == u"Duration" || row.propertyName == u"SamplingFrequency") {
        // Seconds from 100-nanosecond units; samples per second as a double.
        const bool duration = row.propertyName == u"Duration";
        _variant_t number;
        if (FAILED(VariantChangeType(&number, &value, 0, duration ? VT_I8 : VT_I4))) continue;
        value = duration ? static_cast<double>(number.llVal) / static_cast<double>(vel::mp4::kHundredNanosPerSecond)
                         : static_cast<double>(number.lVal);
      }
      records.emplace_back(row.propertyName, row.propertyNamespace, std::move(value), dataType);
    }
  });
}

int CTagBase::PropertyDataType(std::u16string_view propertyName) {
  const AudioPropertyMapRow* row = propertyName.empty() ? nullptr : FindAudioPropertyByName(propertyName);
  if (!row) return -1;
  // The item codec's row for the property's item type; a property without an
  // item type (or of an item no row names) is text.
  return vel::mp4::ItemDataType(row->atomName);
}

bool CTagBase::CheckFrameType(std::u16string_view propertyName, int dataType) {
  const AudioPropertyMapRow* row = propertyName.empty() ? nullptr : FindAudioPropertyByName(propertyName);
  if (!row) return false;
  if (row->propertyName == u"Genre") return dataType == kTagTypeNumber || dataType == kTagTypeText;
  return dataType == PropertyDataType(row->propertyName);
}

bool CTagBase::SetFrameValue(std::string_view atom, _variant_t value, int dataType) {
  return YErrorFrame(VEL_FRAME(u"CTagBase::SetFrameValue"), [&]() {
    if (atom.empty()) return false;
    // A genre kept as text (in a file without a genre number) is changed
    // where it is, as text, so that any genre name survives.
    if (AsciiEqualsNoCase(atom, kGenreNumberAtom) && !FindFrame(kGenreNumberAtom) && FindFrame(kGenreTextAtom)) {
      atom = kGenreTextAtom;
      dataType = kTagTypeText;
    }
    const bool clearing = value.vt == VT_EMPTY || value.vt == VT_NULL;
    auto found = std::find_if(frames_.begin(), frames_.end(), [&](const CTagFrame& frame) {
      return !frame.opaque && AsciiEqualsNoCase(frame.name, atom);
    });
    if (found != frames_.end() && !clearing && found->dataType == dataType && IsSameValue(*found, value)) {
      if (found->leftInFile) {
        // The frame holds the picture given (the same bytes) as a read would
        // have held the cover, so a write still carries it.
        found->value = std::move(value);
        found->leftInFile.reset();
      }
      return false;
    }
    if (found == frames_.end() && clearing) return false;

    // An item of this type that could not be read stands for the same
    // property: the value set now replaces it, so it is not written back.
    std::erase_if(frames_, [&](const CTagFrame& frame) { return frame.opaque && AsciiEqualsNoCase(frame.name, atom); });
    found = std::find_if(frames_.begin(), frames_.end(),
                         [&](const CTagFrame& frame) { return AsciiEqualsNoCase(frame.name, atom); });
    if (clearing) {
      frames_.erase(found);
      return true;
    }
    if (found == frames_.end()) {
      CTagFrame frame;
      frame.name = std::string(atom);
      frames_.push_back(std::move(frame));
      found = std::prev(frames_.end());
    }
    // Moved, not copied: a picture is held once, by its frame.
    found->value = std::move(value);
    found->dataType = dataType;
    found->leftInFile.reset();
    std::vector<std::uint8_t>().swap(found->raw);  // gives the stored bytes back, not only empties them
    return true;
  });
}

bool CTagBase::IsSameValue(const CTagFrame& frame, const VARIANT& value) const {
  if (!frame.leftInFile) return frame.IsSameData(value);
  // As IsSameData compares a byte array with another value: by content, and
  // never the same as anything but a byte array.
  const CByteArrayView given(value);
  return given.valid() && EqualsParsedBytes(*frame.leftInFile, given.bytes());
}

bool CTagBase::EqualsParsedBytes(const CTagFrame::FilePlace& place, Bytes bytes) const {
  return YErrorFrame(VEL_FRAME(u"CTagBase::EqualsParsedBytes"), [&]() {
    if (bytes.size() != place.size || !readParsed_) return false;
    std::vector<std::uint8_t> piece(static_cast<std::size_t>(std::min<std::uint64_t>(place.size, kComparePiece)));
    for (std::uint64_t done = 0; done < place.size;) {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(place.size - done, piece.size()));
      if (!readParsed_(place.offset + done, std::span(piece.data(), n))) return false;
      if (!std::equal(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n),
                      bytes.begin() + static_cast<std::ptrdiff_t>(done)))
        return false;
      done += n;
    }
    return true;
  });
}

bool CTagBase::LoadValuesLeftInFile() {
  return YErrorFrame(VEL_FRAME(u"CTagBase::LoadValuesLeftInFile"), [&]() {
    for (CTagFrame& frame : frames_) {
      if (!frame.leftInFile) continue;
      const CTagFrame::FilePlace place = *frame.leftInFile;
      if (!readParsed_) return false;
      _variant_t value = MakeByteArrayVariant(static_cast<std::size_t>(place.size), [&](std::span<std::uint8_t> into) {
        return readParsed_(place.offset, into);
      });
      if (value.vt == VT_EMPTY) return false;
      frame.value = std::move(value);
      frame.leftInFile.reset();
    }
    return true;
  });
}

std::u16string CTagBase::DecodeItemText(Bytes bytes) { return vel::mp4::DecodeItemText(bytes); }

CTagBase::NumberPair CTagBase::ParseNumberPair(std::u16string_view text) { return vel::mp4::ParseNumberPair(text); }

// ---------------------------------------------------------------------------
// Writing

void CTagBase::EncodeFrame(const CTagFrame& frame, vel::ByteOrder order, std::vector<std::uint8_t>& out) {
  vel::ByteWriter writer(out, order);
  vel::mp4::EncodeItem(frame, writer);
}

std::vector<std::uint8_t> CTagBase::WriteItemList(vel::ByteOrder order) const {
  return vel::mp4::WriteItemList(frames_, order);
}

std::vector<std::uint8_t> CTagBase::BuildUserData(Bytes oldUserData, vel::ByteOrder order) const {
  return vel::mp4::BuildUserData(frames_, oldUserData, order);
}

Mp4UserDataPieces CTagBase::BuildUserDataPieces(Bytes oldUserData, vel::ByteOrder order) const {
  return vel::mp4::BuildUserDataPieces(frames_, oldUserData, order);
}
