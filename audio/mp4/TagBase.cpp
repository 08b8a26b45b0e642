#include "audio/mp4/TagBase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "audio/AudioPropertyMap.h"
#include "audio/ByteArray.h"
#include "platform/com/oleauto.h"
#include "platform/win32/winbase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YUtf8.h"
#include "ylib/YVariant.h"

namespace {

constexpr char16_t kSource[] = u"TagBase";

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint64_t kHundredNanosPerSecond = 10'000'000;

constexpr std::array<int, 12> kAdtsSampleRates = {96000, 88200, 64000, 48000, 44100, 32000,
                                                  24000, 22050, 16000, 12000, 11025, 8000};

// The handler every written meta carries.
constexpr std::array<std::uint8_t, 30> kHandlerBody = {'h', 'd', 'l', 'r', 0,   0,   0,   0,   0,   0,
                                                       0,   0,   'm', 'd', 'i', 'r', 'a', 'p', 'p', 'l',
                                                       0,   0,   0,   0,   0,   0,   0,   0,   0,   0x3D};
constexpr char kFreeformMean[] = "com.apple.iTunes";

// The genre as a number (the table's item) and as text (what most writers
// store for a genre); the text stands in when the number is absent.
constexpr std::string_view kGenreNumberAtom = "gnre";
constexpr std::string_view kGenreTextAtom = "\xA9" "gen";

char AsciiLower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The four type bytes of an atom as they are stored. Item types and the
// markers inside udta are compared as text, whatever the header byte order.
std::string StoredType(Bytes bytes, const Mp4Atom& atom) {
  const auto* p = reinterpret_cast<const char*>(bytes.data() + atom.offset + 4);
  return std::string(p, 4);
}

Bytes AtomBody(Bytes bytes, const Mp4Atom& atom) {
  return bytes.subspan(static_cast<std::size_t>(atom.body()), static_cast<std::size_t>(atom.bodySize()));
}

// The atom's bytes, with a size field of 0 ("to the end of the parent")
// replaced by the size it stood for, so that the bytes stay valid anywhere.
std::vector<std::uint8_t> RawAtom(Bytes bytes, const Mp4Atom& atom, Mp4ByteOrder order) {
  const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(atom.offset);
  std::vector<std::uint8_t> raw(first, first + static_cast<std::ptrdiff_t>(atom.size));
  if (atom.headerSize == 8 && LoadU32Unchecked(raw.data(), order) == 0) {
    if (atom.size <= 0xFFFFFFFFu) {
      StoreU32Unchecked(raw.data(), static_cast<std::uint32_t>(atom.size), order);
    } else {
      // Too large for a 32-bit size: use the 64-bit form.
      std::vector<std::uint8_t> wide(16);
      StoreU32Unchecked(wide.data(), 1, order);
      std::memcpy(wide.data() + 4, raw.data() + 4, 4);
      StoreU64Unchecked(wide.data() + 8, atom.size + 8, order);
      wide.insert(wide.end(), raw.begin() + 8, raw.end());
      return wide;
    }
  }
  return raw;
}

// The first child whose stored type equals type without regard to case.
std::optional<Mp4Atom> FindChildNoCase(Bytes bytes, std::uint64_t begin, std::uint64_t end, std::string_view type,
                                       Mp4ByteOrder order) {
  Mp4AtomWalker walker(bytes, begin, end, order);
  while (auto child = walker.Next()) {
    if (EqualsNoCase(StoredType(bytes, *child), type)) return child;
  }
  return std::nullopt;
}

std::optional<Mp4Atom> FindChildExact(Bytes bytes, std::uint64_t begin, std::uint64_t end, std::string_view type,
                                      Mp4ByteOrder order) {
  Mp4AtomWalker walker(bytes, begin, end, order);
  while (auto child = walker.Next()) {
    if (StoredType(bytes, *child) == type) return child;
  }
  return std::nullopt;
}

// A header that could start a child: it fits, and its type is printable text.
bool PlausibleChild(Bytes bytes, std::uint64_t offset, std::uint64_t end, Mp4ByteOrder order) {
  auto atom = ReadMp4Atom(bytes, offset, end, order);
  if (!atom || LoadU32Unchecked(bytes.data() + offset, order) == 0) return false;
  for (int i = 4; i < 8; ++i) {
    const std::uint8_t c = bytes[static_cast<std::size_t>(offset + i)];
    if (c != 0xA9 && (c < 0x20 || c > 0x7E)) return false;
  }
  return true;
}

std::uint64_t MetaChildrenBegin(Bytes bytes, const Mp4Atom& meta, Mp4ByteOrder order) {
  // A QuickTime meta has no version and flags: its body is a child at once.
  if (PlausibleChild(bytes, meta.body(), meta.end(), order)) return meta.body();
  return std::min(meta.body() + 4, meta.end());
}

// Whether a meta's handler ("hdlr": version and flags, a predefined word,
// then the handler type) is "mdir", or the meta has no handler.
bool HoldsItemListHandler(Bytes bytes, const Mp4TagMeta& meta, Mp4ByteOrder order) {
  auto hdlr = FindChildExact(bytes, meta.childrenBegin, meta.meta.end(), "hdlr", order);
  if (!hdlr) return true;
  const std::uint64_t at = hdlr->body() + 8;
  if (at + 4 > hdlr->end()) return false;
  return std::string_view(reinterpret_cast<const char*>(bytes.data() + at), 4) == "mdir";
}

int ClampToInt(std::uint64_t value) noexcept {
  return value > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                             : static_cast<int>(value);
}

// Writers over a byte vector.
void PutU32(std::vector<std::uint8_t>& out, std::uint32_t value, Mp4ByteOrder order) {
  std::uint8_t b[4];
  StoreU32Unchecked(b, value, order);
  out.insert(out.end(), b, b + 4);
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t value, Mp4ByteOrder order) {
  if (order == Mp4ByteOrder::kBig) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
  } else {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  }
}

void PutText(std::vector<std::uint8_t>& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

void PatchU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value, Mp4ByteOrder order) {
  StoreU32Unchecked(out.data() + at, static_cast<std::uint32_t>(value), order);
}

constexpr std::uint64_t kMaxPayload = 0xFFFFFFFFu - 64;

// item size, item type, then one data atom holding payload.
void PutDataItem(std::vector<std::uint8_t>& out, std::string_view type, std::uint32_t dataType, Bytes payload,
                 Mp4ByteOrder order) {
  if (type.size() != 4 || payload.size() > kMaxPayload) return;
  const auto n = static_cast<std::uint32_t>(payload.size());
  PutU32(out, n + 24, order);
  PutText(out, type);
  PutU32(out, n + 16, order);
  PutText(out, "data");
  PutU32(out, dataType, order);
  PutU32(out, 0, order);
  out.insert(out.end(), payload.begin(), payload.end());
}

void PutNumberItem(std::vector<std::uint8_t>& out, std::string_view type, std::int64_t number, Mp4ByteOrder order) {
  if (number < 0 || number > 0xFFFF) return;
  std::vector<std::uint8_t> payload;
  PutU16(payload, static_cast<std::uint16_t>(number), order);
  PutDataItem(out, type, kTagTypeNumber, payload, order);
}

void PutPairItem(std::vector<std::uint8_t>& out, std::string_view type, std::int64_t number, std::int64_t total,
                 Mp4ByteOrder order) {
  if (number < 0 || number > std::numeric_limits<std::int32_t>::max()) return;
  std::vector<std::uint8_t> payload;
  PutU32(payload, static_cast<std::uint32_t>(number), order);
  PutU16(payload, total < 0 || total > 0xFFFF ? 0 : static_cast<std::uint16_t>(total), order);
  PutU16(payload, 0, order);
  PutDataItem(out, type, kTagTypeNumber, payload, order);
}

// The value as text; nothing when it does not convert.
std::optional<std::u16string> ValueText(const VARIANT& value) {
  if (value.vt == VT_BSTR) return std::u16string(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal));
  _variant_t text;
  if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR)) || text.vt != VT_BSTR) return std::nullopt;
  return std::u16string(text.bstrVal ? text.bstrVal : u"", SysStringLen(text.bstrVal));
}

bool AllDigits(std::u16string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// value * scale / divisor without overflow, rounded down; saturates.
std::uint64_t MulDiv(std::uint64_t value, std::uint64_t scale, std::uint64_t divisor) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(value) * scale;
  const unsigned __int128 quotient = product / divisor;
  return quotient > std::numeric_limits<std::uint64_t>::max() ? std::numeric_limits<std::uint64_t>::max()
                                                              : static_cast<std::uint64_t>(quotient);
}

}  // namespace

CTagBase::~CTagBase() = default;

std::optional<Mp4TagMeta> FindTagMeta(Bytes bytes, const Mp4Atom& udta, Mp4ByteOrder order) {
  return YErrorFrame({u"FindTagMeta", kSource, __LINE__}, [&]() -> std::optional<Mp4TagMeta> {
    std::optional<Mp4TagMeta> first;
    Mp4AtomWalker walker(bytes, udta, order);
    while (auto child = walker.Next()) {
      if (!EqualsNoCase(StoredType(bytes, *child), "meta")) continue;
      Mp4TagMeta found{*child, MetaChildrenBegin(bytes, *child, order)};
      if (FindChildExact(bytes, found.childrenBegin, child->end(), "ilst", order)) return found;
      // A meta without items is taken over only when it is of the item-list
      // handler (or names none); another handler's meta (an ID3 meta of a
      // 3GP file, say) stays as it is, beside the new one.
      if (!first && HoldsItemListHandler(bytes, found, order)) first = found;
    }
    return first;
  });
}

// ---------------------------------------------------------------------------
// Reading

bool CTagBase::ParseImage(Bytes bytes, std::u16string_view extension) {
  bool parsed = false;
  bool movie = false;
  // A failure inside the parse (an allocation for an absurd item) is a file
  // that cannot be read, not an error of the caller.
  YErrorFrameNoThrow({u"CTagBase::ParseImage", kSource, __LINE__}, [&]() {
    frames_.clear();
    byteOrder_ = Mp4ByteOrder::kBig;
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
  return YErrorFrame({u"CTagBase::ParseMp4", kSource, __LINE__}, [&]() {
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
  YErrorFrame({u"CTagBase::ReadMovieHeader", kSource, __LINE__}, [&]() {
    if (FindComputedFrame("durn")) return;
    CTagStream stream(AtomBody(bytes, mvhd), byteOrder_);
    const std::uint8_t version = stream.ReadByte();
    stream.Skip(3);
    std::uint32_t timescale = 0;
    std::uint64_t duration = 0;
    if (version == 1) {
      stream.Skip(16);
      timescale = stream.ReadUInt32();
      duration = stream.ReadUInt64();
    } else if (version == 0) {
      stream.Skip(8);
      timescale = stream.ReadUInt32();
      duration = stream.ReadUInt32();
    } else {
      return;  // a layout we do not know: no duration rather than a wrong one
    }
    if (!stream.ok()) return;
    const std::uint64_t units = timescale == 0 ? 0 : MulDiv(duration, kHundredNanosPerSecond, timescale);
    AddComputedFrame("durn", static_cast<long long>(std::min<std::uint64_t>(units, std::numeric_limits<long long>::max())),
                     kTagTypeDuration);
  });
}

void CTagBase::ReadTrack(Bytes bytes, const Mp4Atom& trak) {
  YErrorFrame({u"CTagBase::ReadTrack", kSource, __LINE__}, [&]() {
    auto mdia = FindMp4Child(bytes, trak, Mp4Type("mdia"), byteOrder_);
    if (!mdia) return;
    auto mdhd = FindMp4Child(bytes, *mdia, Mp4Type("mdhd"), byteOrder_);
    if (!mdhd) return;
    CTagStream stream(AtomBody(bytes, *mdhd), byteOrder_);
    const std::uint8_t version = stream.ReadByte();
    stream.Skip(3);
    stream.Skip(version == 0 ? 8 : 16);
    const std::uint32_t timescale = stream.ReadUInt32();
    if (!stream.ok() || version > 1) return;
    AddComputedFrame("srate", _variant_t(ClampToInt(timescale), VT_INT), kTagTypeNumber);
  });
}

void CTagBase::ReadUserData(Bytes bytes, const Mp4Atom& udta) {
  YErrorFrame({u"CTagBase::ReadUserData", kSource, __LINE__}, [&]() {
    auto meta = FindTagMeta(bytes, udta, byteOrder_);
    if (!meta) return;
    auto ilst = FindChildExact(bytes, meta->childrenBegin, meta->meta.end(), "ilst", byteOrder_);
    if (!ilst) return;
    Mp4AtomWalker items(bytes, *ilst, byteOrder_);
    bool reading = true;
    while (auto item = items.Next()) {
      if (reading) reading = ReadItem(bytes, *item);
      if (!reading) {
        // Nothing from a "free" item on is read, but it is all written back.
        CTagFrame kept;
        kept.name = StoredType(bytes, *item);
        kept.raw = RawAtom(bytes, *item, byteOrder_);
        kept.opaque = true;
        frames_.push_back(std::move(kept));
      }
    }
  });
}

bool CTagBase::ReadItem(Bytes bytes, const Mp4Atom& item) {
  return YErrorFrame({u"CTagBase::ReadItem", kSource, __LINE__}, [&]() {
    const std::string type = StoredType(bytes, item);
    if (EqualsNoCase(type, "free")) return false;

    CTagFrame frame;
    frame.name = type;
    frame.raw = RawAtom(bytes, item, byteOrder_);
    frame.opaque = true;  // until a value has been decoded

    if (type == "----") {
      auto mean = FindChildNoCase(bytes, item.body(), item.end(), "mean", byteOrder_);
      auto name = FindChildNoCase(bytes, item.body(), item.end(), "name", byteOrder_);
      auto data = FindChildNoCase(bytes, item.body(), item.end(), "data", byteOrder_);
      if (mean && name && data && name->bodySize() >= 4 && data->bodySize() >= 8) {
        CTagStream stream(AtomBody(bytes, *data), byteOrder_);
        const std::uint32_t dataType = stream.ReadUInt32();
        stream.Skip(4);
        const Bytes payload = stream.ReadBytes(stream.Remaining());
        frame.name = "----" + YUtf16ToUtf8(DecodeItemText(AtomBody(bytes, *name).subspan(4)));
        frame.value = MakeByteArrayVariant(payload.data(), payload.size());
        frame.dataType = static_cast<int>(dataType);
        frame.freeform = true;
        frame.opaque = false;
      }
      frames_.push_back(std::move(frame));
      return true;
    }

    auto data = FindChildNoCase(bytes, item.body(), item.end(), "data", byteOrder_);
    if (!data || data->bodySize() < 8) {
      frames_.push_back(std::move(frame));
      return true;
    }
    CTagStream stream(AtomBody(bytes, *data), byteOrder_);
    const std::uint32_t dataType = stream.ReadUInt32();
    stream.Skip(4);  // locale
    const std::uint64_t payloadBegin = stream.Tell();
    const Bytes payload = stream.bytes().subspan(static_cast<std::size_t>(payloadBegin));
    frame.dataType = static_cast<int>(dataType);

    if (EqualsNoCase(type, "gnre") && dataType == 0) {
      const auto g = static_cast<std::int16_t>(stream.ReadUInt16() - 1);
      if (stream.ok()) {
        if (g >= 0 && g < static_cast<std::int16_t>(kGenreCount)) {
          frame.value = GenreName(g + 1);
        } else {
          frame.value = static_cast<short>(g);
        }
      }
    } else if (EqualsNoCase(type, "rtng") && dataType == 0) {
      std::uint16_t r = stream.ReadUInt16();
      if ((r & 0x8000) != 0) r = 0;
      if (stream.ok()) frame.value = static_cast<short>(r);
    } else if ((EqualsNoCase(type, "trkn") || EqualsNoCase(type, "disk")) && dataType == 0) {
      const std::uint32_t v = stream.ReadUInt32();
      if (stream.ok()) frame.value = _variant_t(static_cast<int>(v), VT_INT);
      const std::uint16_t total = stream.ReadUInt16();
      if (stream.ok() && total != 0) frame.pairTotal = total;
    } else if (EqualsNoCase(type, "\xA9" "drm") || EqualsNoCase(type, "prot")) {
      const std::uint8_t flag = stream.ReadByte();
      if (stream.ok()) frame.value = static_cast<short>(flag != 0 ? -1 : 0);
    } else if (dataType == kTagTypeText) {
      frame.value = DecodeItemText(payload);
    } else {
      frame.value = MakeByteArrayVariant(payload.data(), payload.size());
    }
    frame.opaque = frame.value.vt == VT_EMPTY;
    if (frame.opaque) frame.dataType = 0;
    frames_.push_back(std::move(frame));
    return true;
  });
}

void CTagBase::AddBitrateFrame(const std::optional<Mp4Atom>& mdat) {
  YErrorFrame({u"CTagBase::AddBitrateFrame", kSource, __LINE__}, [&]() {
    std::uint64_t bitrate = 0;
    const CTagFrame* durn = FindComputedFrame("durn");
    if (mdat && durn && durn->value.vt == VT_I8 && durn->value.llVal > 0) {
      // bits * 10^7 / units, rounded to the nearest; an exact half goes down.
      const auto units = static_cast<unsigned __int128>(durn->value.llVal);
      const unsigned __int128 scaled = static_cast<unsigned __int128>(mdat->size) * 8 * kHundredNanosPerSecond;
      unsigned __int128 quotient = scaled / units;
      if ((scaled % units) * 2 > units) ++quotient;
      bitrate = quotient > std::numeric_limits<std::uint64_t>::max() ? std::numeric_limits<std::uint64_t>::max()
                                                                       : static_cast<std::uint64_t>(quotient);
    }
    AddComputedFrame("bitr", _variant_t(ClampToInt(bitrate), VT_INT), kTagTypeNumber);
  });
}

// ---------------------------------------------------------------------------
// ADTS

bool CTagBase::ParseAdts(Bytes bytes) {
  return YErrorFrame({u"CTagBase::ParseAdts", kSource, __LINE__}, [&]() {
    byteOrder_ = Mp4ByteOrder::kBig;
    CTagStream stream(bytes, Mp4ByteOrder::kBig);
    if (!SkipId3v2Tag(stream) || !IsAdtsStream(stream)) return false;
    ReadAdtsProperties(stream);
    return true;
  });
}

bool CTagBase::SkipId3v2Tag(CTagStream& stream) {
  return YErrorFrame({u"CTagBase::SkipId3v2Tag", kSource, __LINE__}, [&]() {
    const auto bytes = stream.bytes();
    stream.Seek(0);
    if (bytes.size() < 3 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3') return true;
    stream.Skip(6);  // "ID3", version, revision, flags
    const Bytes sizeBytes = stream.ReadBytes(4);
    if (!stream.ok()) return false;
    std::uint64_t size = 0;
    for (std::uint8_t b : sizeBytes) {
      if ((b & 0x80) != 0) return false;
      size = (size << 7) | b;
    }
    if (stream.Tell() + size > stream.Size()) {
      stream.Seek(0);
      return false;
    }
    stream.Seek(stream.Tell() + size);
    return true;
  });
}

bool CTagBase::IsAdtsStream(CTagStream& stream) {
  return YErrorFrame({u"CTagBase::IsAdtsStream", kSource, __LINE__}, [&]() {
    const std::uint64_t start = stream.Tell();
    const std::uint16_t sync = stream.ReadUInt16();
    const bool ok = stream.ok();
    stream.Seek(start);
    return ok && (sync & 0xFFF6) == 0xFFF0;
  });
}

void CTagBase::ReadAdtsProperties(CTagStream& stream) {
  YErrorFrame({u"CTagBase::ReadAdtsProperties", kSource, __LINE__}, [&]() {
    const Bytes bytes = stream.bytes();
    const std::uint64_t size = bytes.size();
    std::uint64_t frames = 0;
    std::uint64_t totalBytes = 0;
    int rate = 0;
    std::uint64_t position = stream.Tell();
    while (size > 6 && position < size - 6) {
      const std::uint8_t* header = bytes.data() + position;  // 7 bytes: position + 6 < size
      const auto sync = static_cast<std::uint16_t>((header[0] << 8) | header[1]);
      if ((sync & 0xFFF6) != 0xFFF0) break;
      if (frames == 0) {
        const unsigned index = (header[2] >> 2) & 15;
        if (index < kAdtsSampleRates.size()) rate = kAdtsSampleRates[index];
      }
      const std::uint64_t frameLength = ((header[3] & 3u) << 11) | (static_cast<unsigned>(header[4]) << 3) |
                                        (static_cast<unsigned>(header[5]) >> 5);
      ++frames;
      totalBytes += frameLength;
      if (frameLength == 0) break;
      const std::uint64_t next = position + frameLength;
      if (next > size - 6) break;
      position = next;
    }
    if (frames == 0 || rate == 0) return;
    const float framesPerSecond = static_cast<float>(rate) / 1024.0f;
    const float seconds = std::floor(static_cast<float>(frames) / framesPerSecond);
    const double bytesPerSecond =
        static_cast<double>(totalBytes) / static_cast<double>(frames) * static_cast<double>(framesPerSecond);

    AddComputedFrame("srate", _variant_t(rate, VT_INT), kTagTypeNumber);
    AddComputedFrame("durn", static_cast<long long>(static_cast<double>(seconds) * kHundredNanosPerSecond),
                     kTagTypeDuration);
    const double bits = std::trunc(bytesPerSecond) * 8.0;
    AddComputedFrame("bitr",
                     _variant_t(bits >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max()
                                                                          : static_cast<int>(bits),
                                VT_INT),
                     kTagTypeNumber);
  });
}

// ---------------------------------------------------------------------------
// Frames and records

const CTagFrame* CTagBase::FindFrame(std::string_view name) const noexcept {
  for (const CTagFrame& frame : frames_) {
    if (!frame.opaque && EqualsNoCase(frame.name, name)) return &frame;
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
  YErrorFrame({u"CTagBase::AddComputedFrame", kSource, __LINE__}, [&]() {
    CTagFrame frame;
    frame.name = std::string(name);
    frame.value = std::move(value);
    frame.dataType = dataType;
    frame.computed = true;
    frames_.push_back(std::move(frame));
  });
}

std::optional<std::pair<_variant_t, int>> CTagBase::GetFrameValue(std::string_view name) const {
  return YErrorFrame({u"CTagBase::GetFrameValue", kSource, __LINE__}, [&]() -> std::optional<std::pair<_variant_t, int>> {
    if (name.empty()) return std::nullopt;
    const CTagFrame* frame = FindFrame(name);
    if (!frame) return std::nullopt;
    return std::make_pair(frame->value, frame->dataType);
  });
}

void CTagBase::CollectRecords(CMetaDataItemList& records) const {
  YErrorFrame({u"CTagBase::CollectRecords", kSource, __LINE__}, [&]() {
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
        value = duration ? static_cast<double>(number.llVal) / static_cast<double>(kHundredNanosPerSecond)
                         : static_cast<double>(number.lVal);
      }
      records.emplace_back(row.propertyName, row.propertyNamespace, std::move(value), dataType);
    }
  });
}

int CTagBase::PropertyDataType(std::u16string_view propertyName) {
  return YErrorFrame({u"CTagBase::PropertyDataType", kSource, __LINE__}, [&]() {
    const AudioPropertyMapRow* row = propertyName.empty() ? nullptr : FindAudioPropertyByName(propertyName);
    if (!row) return -1;
    const std::u16string_view name = row->propertyName;
    if (name == u"Genre" || name == u"Track" || name == u"Disk" || name == u"Rating" || name == u"Bitrate") {
      return kTagTypeNumber;
    }
    if (name == u"Duration") return kTagTypeDuration;
    if (name == u"DRM" || name == u"Protected") return kTagTypeInteger;
    if (name == u"Picture") return kTagTypeJpeg;
    return kTagTypeText;
  });
}

bool CTagBase::CheckFrameType(std::u16string_view propertyName, int dataType) {
  return YErrorFrame({u"CTagBase::CheckFrameType", kSource, __LINE__}, [&]() {
    const AudioPropertyMapRow* row = propertyName.empty() ? nullptr : FindAudioPropertyByName(propertyName);
    if (!row) return false;
    if (row->propertyName == u"Genre") return dataType == kTagTypeNumber || dataType == kTagTypeText;
    return dataType == PropertyDataType(row->propertyName);
  });
}

bool CTagBase::SetFrameValue(std::string_view atom, const VARIANT& value, int dataType) {
  return YErrorFrame({u"CTagBase::SetFrameValue", kSource, __LINE__}, [&]() {
    if (atom.empty()) return false;
    // A genre kept as text (in a file without a genre number) is changed
    // where it is, as text, so that any genre name survives.
    if (EqualsNoCase(atom, kGenreNumberAtom) && !FindFrame(kGenreNumberAtom) && FindFrame(kGenreTextAtom)) {
      atom = kGenreTextAtom;
      dataType = kTagTypeText;
    }
    const bool clearing = value.vt == VT_EMPTY || value.vt == VT_NULL;
    auto found = std::find_if(frames_.begin(), frames_.end(),
                              [&](const CTagFrame& frame) { return !frame.opaque && EqualsNoCase(frame.name, atom); });
    if (found != frames_.end() && !clearing && found->dataType == dataType && found->IsSameData(value)) return false;
    if (found == frames_.end() && clearing) return false;

    // An item of this type that could not be read stands for the same
    // property: the value set now replaces it, so it is not written back.
    std::erase_if(frames_, [&](const CTagFrame& frame) { return frame.opaque && EqualsNoCase(frame.name, atom); });
    found = std::find_if(frames_.begin(), frames_.end(),
                         [&](const CTagFrame& frame) { return EqualsNoCase(frame.name, atom); });
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
    found->value = value;
    found->dataType = dataType;
    found->raw.clear();
    return true;
  });
}

std::u16string CTagBase::DecodeItemText(Bytes bytes) {
  return YErrorFrame({u"CTagBase::DecodeItemText", kSource, __LINE__}, [&]() {
    const auto zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
    const auto untilZero = static_cast<std::size_t>(zero - bytes.begin());

    bool utf8 = false;
    for (std::size_t i = 0; i < bytes.size() && !utf8; ++i) {
      const std::uint8_t b = bytes[i];
      if (b <= 0xC1 || b == 0xF5 || b == 0xFF) continue;
      std::size_t j = i + 1;
      while (j < bytes.size() && bytes[j] == 0) ++j;
      utf8 = j < bytes.size() && bytes[j] >= 0x80 && bytes[j] <= 0xBF;
    }
    if (utf8) return YUtf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), untilZero));

    const bool sevenBit =
        std::all_of(bytes.begin(), zero, [](std::uint8_t b) { return b < 0x80 || b == 0xA9; }) &&
        std::all_of(zero, bytes.end(), [](std::uint8_t b) { return b == 0; });
    if (sevenBit) {
      if (untilZero == 0) return std::u16string();
      if (untilZero > static_cast<std::size_t>(std::numeric_limits<int>::max())) return std::u16string();
      const auto* text = reinterpret_cast<const char*>(bytes.data());
      const int length = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(untilZero), nullptr, 0);
      if (length <= 0) return std::u16string();
      std::u16string wide(static_cast<std::size_t>(length), u'\0');
      MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(untilZero), wide.data(), length);
      return wide;
    }

    // An odd last byte is a unit of its own (its high byte zero).
    std::u16string wide;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
      const unsigned high = i + 1 < bytes.size() ? bytes[i + 1] : 0u;
      const auto unit = static_cast<char16_t>(bytes[i] | (high << 8));
      if (unit == 0) break;
      wide.push_back(unit);
    }
    return wide;
  });
}

// ---------------------------------------------------------------------------
// Writing

CTagBase::NumberPair CTagBase::ParseNumberPair(std::u16string_view text) {
  return YErrorFrame({u"CTagBase::ParseNumberPair", kSource, __LINE__}, [&]() {
    // Leading digits from position at; -1 when there are none or too many.
    auto digits = [&](std::size_t& at) -> std::int64_t {
      const std::size_t begin = at;
      std::int64_t value = 0;
      bool tooLarge = false;
      while (at < text.size() && text[at] >= u'0' && text[at] <= u'9') {
        value = value * 10 + (text[at] - u'0');
        if (value > std::numeric_limits<std::int32_t>::max()) {
          tooLarge = true;
          value = 0;
        }
        ++at;
      }
      return at == begin || tooLarge ? -1 : value;
    };
    NumberPair pair;
    std::size_t at = 0;
    pair.number = digits(at);
    if (at > 0 && at < text.size()) {
      ++at;  // the separator, whatever it is
      pair.total = digits(at);
    }
    return pair;
  });
}

void CTagBase::EncodeFrame(const CTagFrame& frame, Mp4ByteOrder order, std::vector<std::uint8_t>& out) {
  YErrorFrame({u"CTagBase::EncodeFrame", kSource, __LINE__}, [&]() {
    const std::string_view name = frame.name;
    std::vector<std::uint8_t> bytes;
    if (frame.freeform) {
      if (!GetByteArrayContent(frame.value, bytes) || bytes.empty() || name.size() < 4) return;
      const std::string_view freeName = name.substr(4);
      if (bytes.size() > kMaxPayload || freeName.size() > kMaxPayload) return;
      const std::uint64_t itemSize = 8 + 28 + (freeName.size() + 12) + (bytes.size() + 16);
      if (itemSize > 0xFFFFFFFFu) return;
      PutU32(out, static_cast<std::uint32_t>(itemSize), order);
      PutText(out, "----");
      PutU32(out, 28, order);
      PutText(out, "mean");
      PutU32(out, 0, order);
      PutText(out, kFreeformMean);
      PutU32(out, static_cast<std::uint32_t>(freeName.size() + 12), order);
      PutText(out, "name");
      PutU32(out, 0, order);
      PutText(out, freeName);
      PutU32(out, static_cast<std::uint32_t>(bytes.size() + 16), order);
      PutText(out, "data");
      PutU32(out, static_cast<std::uint32_t>(frame.dataType), order);
      PutU32(out, 0, order);
      out.insert(out.end(), bytes.begin(), bytes.end());
      return;
    }
    switch (frame.dataType) {
      case kTagTypeText: {
        auto text = ValueText(frame.value);
        if (!text || text->empty()) return;
        const std::string utf8 = YUtf16ToUtf8(*text);
        PutDataItem(out, name, kTagTypeText,
                    Bytes(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()), order);
        return;
      }
      case kTagTypeNumber: {
        const VARIANT& v = frame.value;
        if (EqualsNoCase(name, "trkn") || EqualsNoCase(name, "disk")) {
          // A number without a total of its own keeps the file's total:
          // changing the track number does not forget how many there are.
          const std::int64_t keptTotal = frame.pairTotal >= 0 ? frame.pairTotal : 0;
          if (v.vt == VT_I2) PutPairItem(out, name, v.iVal, keptTotal, order);
          if (v.vt == VT_I4) PutPairItem(out, name, v.lVal, keptTotal, order);
          if (v.vt == VT_INT) PutPairItem(out, name, v.intVal, keptTotal, order);
          if (v.vt == VT_BSTR) {
            const NumberPair pair = ParseNumberPair(std::u16string_view(v.bstrVal ? v.bstrVal : u"",
                                                                        SysStringLen(v.bstrVal)));
            PutPairItem(out, name, pair.number, pair.total >= 0 ? pair.total : keptTotal, order);
          }
        } else if (EqualsNoCase(name, "gnre")) {
          auto text = ValueText(v);
          if (!text) return;
          const NumberPair pair = ParseNumberPair(*text);
          if (pair.number >= 0) {
            PutNumberItem(out, name, pair.number + 1, order);
          } else if (auto number = GenreNumber(*text)) {
            PutNumberItem(out, name, *number, order);
          }
        } else if (EqualsNoCase(name, "rtng")) {
          if (CYVariant::IsIntegerVariant(v)) {
            const std::int64_t number = CYVariant::ToInt(v);
            if (number >= 0) PutNumberItem(out, name, number & 0xFFFF, order);
          } else if (v.vt == VT_BSTR) {
            // A rating given as text is written when it is a plain number.
            const std::u16string_view text(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal));
            if (AllDigits(text)) PutNumberItem(out, name, ParseNumberPair(text).number, order);
          }
        }
        return;
      }
      case kTagTypeInteger: {
        if (EqualsNoCase(name, "\xA9" "drm") || EqualsNoCase(name, "prot")) {
          const VARIANT& v = frame.value;
          std::optional<std::uint8_t> flag;
          if (v.vt == VT_BOOL) flag = v.boolVal == VARIANT_TRUE ? 1 : 0;
          if (v.vt == VT_I4) flag = v.lVal > 0 ? 1 : 0;
          if (v.vt == VT_INT) flag = v.intVal > 0 ? 1 : 0;
          // The type these flags are read as: -1 set, 0 clear.
          if (v.vt == VT_I2) flag = v.iVal != 0 ? 1 : 0;
          if (!flag) return;
          const std::uint8_t payload[1] = {*flag};
          PutDataItem(out, name, 0, payload, order);
          return;
        }
        if (GetByteArrayContent(frame.value, bytes) && !bytes.empty()) {
          PutDataItem(out, name, kTagTypeInteger, bytes, order);
        }
        return;
      }
      case kTagTypeJpeg:
        if (EqualsNoCase(name, "covr") && GetByteArrayContent(frame.value, bytes) && !bytes.empty()) {
          PutDataItem(out, name, kTagTypeJpeg, bytes, order);
        }
        return;
      default:
        return;
    }
  });
}

std::vector<std::uint8_t> CTagBase::WriteItemList(Mp4ByteOrder order) const {
  return YErrorFrame({u"CTagBase::WriteItemList", kSource, __LINE__}, [&](const YFrame& frame) {
    std::vector<std::uint8_t> out;
    PutU32(out, 0, order);
    PutText(out, "ilst");
    for (const CTagFrame& item : frames_) {
      if (!item.raw.empty()) {
        out.insert(out.end(), item.raw.begin(), item.raw.end());
      } else {
        EncodeFrame(item, order, out);
      }
    }
    if (out.size() > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
    PatchU32(out, 0, out.size(), order);
    return out;
  });
}

std::vector<std::uint8_t> CTagBase::BuildUserData(Bytes oldUserData, Mp4ByteOrder order) const {
  return YErrorFrame({u"CTagBase::BuildUserData", kSource, __LINE__}, [&](const YFrame& frame) {
    std::optional<Mp4Atom> oldUdta;
    std::optional<Mp4TagMeta> oldMeta;
    if (!oldUserData.empty()) {
      oldUdta = ReadMp4Atom(oldUserData, 0, oldUserData.size(), order);
      if (oldUdta) oldMeta = FindTagMeta(oldUserData, *oldUdta, order);
    }

    std::vector<std::uint8_t> out;
    PutU32(out, 0, order);
    // The udta is found by the walks over moov, which read types in the
    // file's byte order; what lies inside it is compared as stored text.
    PutU32(out, Mp4Type("udta"), order);
    PutU32(out, 0, order);
    PutText(out, "meta");
    PutU32(out, 0, order);
    PutU32(out, sizeof(kHandlerBody) + 4, order);
    out.insert(out.end(), kHandlerBody.begin(), kHandlerBody.end());
    const std::vector<std::uint8_t> items = WriteItemList(order);
    out.insert(out.end(), items.begin(), items.end());
    // What else the old meta held (other than its handler and the items)
    // stays in it.
    if (oldMeta) {
      Mp4AtomWalker children(oldUserData, oldMeta->childrenBegin, oldMeta->meta.end(), order);
      while (auto child = children.Next()) {
        const std::string type = StoredType(oldUserData, *child);
        if (type == "hdlr" || type == "ilst") continue;
        const auto raw = RawAtom(oldUserData, *child, order);
        out.insert(out.end(), raw.begin(), raw.end());
      }
    }
    const std::size_t metaSize = out.size() - 8;
    // The old udta's other children follow, unchanged.
    if (oldUdta) {
      Mp4AtomWalker children(oldUserData, *oldUdta, order);
      while (auto child = children.Next()) {
        if (oldMeta && child->offset == oldMeta->meta.offset) continue;
        const auto raw = RawAtom(oldUserData, *child, order);
        out.insert(out.end(), raw.begin(), raw.end());
      }
    }
    if (out.size() > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
    PatchU32(out, 0, out.size(), order);
    PatchU32(out, 8, metaSize, order);
    return out;
  });
}
