#include "audio/mp4/ItemCodec.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioPropertyMap.h"
#include "audio/ByteArray.h"
#include "audio/mp4/ItemAtoms.h"
#include "audio/mp4/ItemText.h"
#include "platform/base/Ascii.h"
#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"
#include "platform/text.h"
#include "ylib/YVariant.h"

namespace vel::mp4 {
namespace {

constexpr char16_t kSource[] = u"ItemCodec";

using Bytes = std::span<const std::uint8_t>;

constexpr char kFreeformMean[] = "com.apple.iTunes";
constexpr std::uint64_t kMaxPayload = 0xFFFFFFFFu - 64;

// ---------------------------------------------------------------------------
// Writing helpers

// The item's size and type, then its one data atom's header; the caller
// appends payloadSize bytes. False (nothing written) for a type that is not
// four bytes or a payload too large for 32-bit sizes.
bool PutDataHeader(ByteWriter& out, std::string_view type, std::uint32_t dataType, std::uint64_t payloadSize) {
  if (type.size() != 4 || payloadSize > kMaxPayload) return false;
  const auto n = static_cast<std::uint32_t>(payloadSize);
  out.PutU32(n + 24);
  out.PutChars(type);
  out.PutU32(n + 16);
  out.PutChars("data");
  out.PutU32(dataType);
  out.PutU32(0);  // locale
  return true;
}

void PutDataItem(ByteWriter& out, std::string_view type, std::uint32_t dataType, Bytes payload) {
  if (PutDataHeader(out, type, dataType, payload.size())) out.PutBytes(payload);
}

void PutNumberItem(ByteWriter& out, std::string_view type, std::int64_t number) {
  if (number < 0 || number > 0xFFFF) return;
  if (PutDataHeader(out, type, kTagTypeNumber, 2)) out.PutU16(static_cast<std::uint16_t>(number));
}

void PutPairItem(ByteWriter& out, std::string_view type, std::int64_t number, std::int64_t total) {
  if (number < 0 || number > std::numeric_limits<std::int32_t>::max()) return;
  if (!PutDataHeader(out, type, kTagTypeNumber, 8)) return;
  out.PutU32(static_cast<std::uint32_t>(number));
  out.PutU16(total < 0 || total > 0xFFFF ? 0 : static_cast<std::uint16_t>(total));
  out.PutU16(0);
}

// The value as text; nothing when it does not convert.
std::optional<std::u16string> ValueText(const VARIANT& value) {
  if (value.vt == VT_BSTR) return std::u16string(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal));
  _variant_t text;
  if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR)) || text.vt != VT_BSTR) return std::nullopt;
  return std::u16string(text.bstrVal ? text.bstrVal : u"", SysStringLen(text.bstrVal));
}

std::u16string_view BstrView(const VARIANT& value) noexcept {
  return std::u16string_view(value.bstrVal ? value.bstrVal : u"", SysStringLen(value.bstrVal));
}

bool AllDigits(std::u16string_view text) noexcept {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

// ---------------------------------------------------------------------------
// The rows

// "gnre": the 1-based number of a genre name; a number beyond the names is
// kept as the number (0-based).
bool DecodeGenre(const StoredItem& item, CTagFrame& frame) {
  if (item.dataType != kTagTypeNumber) return false;
  ByteReader payload = item.payload;
  const auto g = static_cast<std::int16_t>(payload.U16() - 1);
  if (!payload.ok()) return true;
  if (g >= 0 && g < static_cast<std::int16_t>(kGenreCount)) {
    frame.value = GenreName(g + 1);
  } else {
    frame.value = static_cast<short>(g);
  }
  return true;
}

void EncodeGenre(const CTagFrame& frame, ByteWriter& out) {
  auto text = ValueText(frame.value);
  if (!text) return;
  const NumberPair pair = ParseNumberPair(*text);
  if (pair.number >= 0) {
    PutNumberItem(out, frame.name, pair.number + 1);
  } else if (auto number = GenreNumber(*text)) {
    PutNumberItem(out, frame.name, *number);
  }
}

bool DecodeRating(const StoredItem& item, CTagFrame& frame) {
  if (item.dataType != kTagTypeNumber) return false;
  ByteReader payload = item.payload;
  std::uint16_t r = payload.U16();
  if ((r & 0x8000) != 0) r = 0;
  if (payload.ok()) frame.value = static_cast<short>(r);
  return true;
}

void EncodeRating(const CTagFrame& frame, ByteWriter& out) {
  const VARIANT& v = frame.value;
  if (CYVariant::IsIntegerVariant(v)) {
    const std::int64_t number = CYVariant::ToInt(v);
    if (number >= 0) PutNumberItem(out, frame.name, number & 0xFFFF);
  } else if (v.vt == VT_BSTR) {
    // A rating given as text is written when it is a plain number.
    const std::u16string_view text = BstrView(v);
    if (AllDigits(text)) PutNumberItem(out, frame.name, ParseNumberPair(text).number);
  }
}

// "trkn", "disk": a 32-bit number, then a 16-bit total (0: none).
bool DecodePair(const StoredItem& item, CTagFrame& frame) {
  if (item.dataType != kTagTypeNumber) return false;
  ByteReader payload = item.payload;
  const std::uint32_t v = payload.U32();
  if (payload.ok()) frame.value = _variant_t(static_cast<int>(v), VT_INT);
  const std::uint16_t total = payload.U16();
  if (payload.ok() && total != 0) frame.pairTotal = total;
  return true;
}

void EncodePair(const CTagFrame& frame, ByteWriter& out) {
  // A number without a total of its own keeps the file's total: changing the
  // track number does not forget how many there are.
  const VARIANT& v = frame.value;
  const std::int64_t keptTotal = frame.pairTotal >= 0 ? frame.pairTotal : 0;
  if (v.vt == VT_I2) PutPairItem(out, frame.name, v.iVal, keptTotal);
  if (v.vt == VT_I4) PutPairItem(out, frame.name, v.lVal, keptTotal);
  if (v.vt == VT_INT) PutPairItem(out, frame.name, v.intVal, keptTotal);
  if (v.vt == VT_BSTR) {
    const NumberPair pair = ParseNumberPair(BstrView(v));
    PutPairItem(out, frame.name, pair.number, pair.total >= 0 ? pair.total : keptTotal);
  }
}

// "©drm", "prot": one byte, read as -1 (set) or 0 whatever the stored type.
bool DecodeFlag(const StoredItem& item, CTagFrame& frame) {
  ByteReader payload = item.payload;
  const std::uint8_t flag = payload.U8();
  if (payload.ok()) frame.value = static_cast<short>(flag != 0 ? -1 : 0);
  return true;
}

void EncodeFlag(const CTagFrame& frame, ByteWriter& out) {
  const VARIANT& v = frame.value;
  std::optional<std::uint8_t> flag;
  if (v.vt == VT_BOOL) flag = v.boolVal == VARIANT_TRUE ? 1 : 0;
  if (v.vt == VT_I4) flag = v.lVal > 0 ? 1 : 0;
  if (v.vt == VT_INT) flag = v.intVal > 0 ? 1 : 0;
  // The type these flags are read as: -1 set, 0 clear.
  if (v.vt == VT_I2) flag = v.iVal != 0 ? 1 : 0;
  if (!flag) return;
  const std::uint8_t payload[1] = {*flag};
  PutDataItem(out, frame.name, kTagTypeNumber, payload);
}

// The value's bytes as an item of dataType; nothing for an empty value.
void PutByteArrayItem(const CTagFrame& frame, std::uint32_t dataType, ByteWriter& out) {
  const CByteArrayView bytes(frame.value);
  if (bytes.valid() && !bytes.bytes().empty()) PutDataItem(out, frame.name, dataType, bytes.bytes());
}

void EncodePicture(const CTagFrame& frame, ByteWriter& out) { PutByteArrayItem(frame, kTagTypeJpeg, out); }

bool DecodeText(const StoredItem& item, CTagFrame& frame) {
  frame.value = DecodeItemText(item.payload.rest());
  return true;
}

void EncodeText(const CTagFrame& frame, ByteWriter& out) {
  auto text = ValueText(frame.value);
  if (!text || text->empty()) return;
  const std::string utf8 = vel::ToUtf8(*text);
  PutDataItem(out, frame.name, kTagTypeText, Bytes(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
}

bool DecodeBytes(const StoredItem& item, CTagFrame& frame) {
  const Bytes payload = item.payload.rest();
  frame.value = MakeByteArrayVariant(payload.data(), payload.size());
  return true;
}

void EncodeBytes(const CTagFrame& frame, ByteWriter& out) { PutByteArrayItem(frame, kTagTypeInteger, out); }

// "----": "mean", "name" and "data" children; the frame is named "----" and
// the name's text, and keeps the payload as bytes with its data type.
bool DecodeFreeform(const StoredItem& item, CTagFrame& frame) {
  const Mp4Atom& atom = item.atom;
  auto mean = FindChildNoCase(item.file, atom.body(), atom.end(), "mean", item.order);
  auto name = FindChildNoCase(item.file, atom.body(), atom.end(), "name", item.order);
  auto data = FindChildNoCase(item.file, atom.body(), atom.end(), "data", item.order);
  if (!mean || !name || !data || name->bodySize() < 4 || data->bodySize() < 8) return false;
  ByteReader body(AtomBody(item.file, *data), item.order);
  const std::uint32_t dataType = body.U32();
  body.Skip(4);  // locale
  const Bytes payload = body.rest();
  frame.name = "----" + vel::ToUtf8(DecodeItemText(AtomBody(item.file, *name).subspan(4)));
  frame.value = MakeByteArrayVariant(payload.data(), payload.size());
  frame.dataType = static_cast<int>(dataType);
  frame.freeform = true;
  frame.opaque = false;
  return true;
}

void EncodeFreeform(const CTagFrame& frame, ByteWriter& out) {
  std::vector<std::uint8_t> bytes;
  const std::string_view name = frame.name;
  if (!GetByteArrayContent(frame.value, bytes) || bytes.empty() || name.size() < 4) return;
  const std::string_view freeName = name.substr(4);
  if (bytes.size() > kMaxPayload || freeName.size() > kMaxPayload) return;
  const std::uint64_t itemSize = 8 + 28 + (freeName.size() + 12) + (bytes.size() + 16);
  if (itemSize > 0xFFFFFFFFu) return;
  out.PutU32(static_cast<std::uint32_t>(itemSize));
  out.PutChars("----");
  out.PutU32(28);
  out.PutChars("mean");
  out.PutU32(0);
  out.PutChars(kFreeformMean);
  out.PutU32(static_cast<std::uint32_t>(freeName.size() + 12));
  out.PutChars("name");
  out.PutU32(0);
  out.PutChars(freeName);
  out.PutU32(static_cast<std::uint32_t>(bytes.size() + 16));
  out.PutChars("data");
  out.PutU32(static_cast<std::uint32_t>(frame.dataType));
  out.PutU32(0);
  out.PutBytes(bytes);
}

constexpr std::array<ItemCodec, 9> kItemCodecs = {{
    {"gnre", {"gnre"}, kTagTypeNumber, DecodeGenre, EncodeGenre},
    {"rtng", {"rtng"}, kTagTypeNumber, DecodeRating, EncodeRating},
    {"trkn/disk", {"trkn", "disk"}, kTagTypeNumber, DecodePair, EncodePair},
    {"flags", {"\xA9" "drm", "prot"}, kTagTypeInteger, DecodeFlag, EncodeFlag},
    {"covr", {"covr"}, kTagTypeJpeg, nullptr, EncodePicture},
    {"freeform", {"----"}, -1, DecodeFreeform, EncodeFreeform, true},
    // Worked out from the movie's structure, never read from or written as an item.
    {"durn", {"durn"}, kTagTypeDuration, nullptr, nullptr},
    {"bitr", {"bitr"}, kTagTypeNumber, nullptr, nullptr},
    // The untyped rows, chosen by data type.
    {"text", {}, kTagTypeText, DecodeText, EncodeText},
}};

// Integer bytes (and every stored type no row takes) are kept as they are.
constexpr ItemCodec kBytesCodec{"bytes", {}, kTagTypeInteger, DecodeBytes, EncodeBytes};

// The untyped row for a data type; null for none.
const ItemCodec* UntypedCodec(int dataType) noexcept {
  if (dataType == kBytesCodec.dataType) return &kBytesCodec;
  for (const ItemCodec& codec : kItemCodecs) {
    if (codec.types[0].empty() && codec.dataType == dataType) return &codec;
  }
  return nullptr;
}

}  // namespace

std::span<const ItemCodec> ItemCodecs() noexcept {
  // The bytes row last, for callers that go over every row.
  static constexpr auto kAll = [] {
    std::array<ItemCodec, kItemCodecs.size() + 1> all{};
    std::copy(kItemCodecs.begin(), kItemCodecs.end(), all.begin());
    all.back() = kBytesCodec;
    return all;
  }();
  return kAll;
}

const ItemCodec* FindItemCodec(std::string_view type) noexcept {
  if (type.empty()) return nullptr;
  for (const ItemCodec& codec : kItemCodecs) {
    for (std::string_view served : codec.types) {
      if (!served.empty() && AsciiEqualsNoCase(served, type)) return &codec;
    }
  }
  return nullptr;
}

int ItemDataType(std::string_view type) noexcept {
  const ItemCodec* codec = FindItemCodec(type);
  return codec && !codec->wholeItem ? codec->dataType : kTagTypeText;
}

void DecodeItem(Bytes file, const Mp4Atom& atom, ByteOrder order, CTagFrame& frame) {
  YErrorFrame(VEL_FRAME(u"vel::mp4::DecodeItem"), [&]() {
    const ItemCodec* codec = FindItemCodec(StoredType(file, atom));
    StoredItem item{file, atom, order, 0, {}};
    if (codec && codec->wholeItem) {
      codec->decode(item, frame);
      return;
    }
    auto data = FindChildNoCase(file, atom.body(), atom.end(), "data", order);
    if (!data || data->bodySize() < 8) return;
    ByteReader body(AtomBody(file, *data), order);
    item.dataType = body.U32();
    body.Skip(4);  // locale
    item.payload = body.TakeRest();
    frame.dataType = static_cast<int>(item.dataType);
    if (!codec || !codec->decode || !codec->decode(item, frame)) {
      const ItemCodec* untyped = UntypedCodec(frame.dataType);
      (untyped ? untyped : &kBytesCodec)->decode(item, frame);
    }
    frame.opaque = frame.value.vt == VT_EMPTY;
    if (frame.opaque) frame.dataType = 0;
  });
}

std::optional<PayloadPlace> BytesPayloadPlace(Bytes file, const Mp4Atom& atom, ByteOrder order) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::BytesPayloadPlace"), [&]() -> std::optional<PayloadPlace> {
    // The rows DecodeItem would take, without decoding anything.
    const ItemCodec* codec = FindItemCodec(StoredType(file, atom));
    if (codec && (codec->wholeItem || codec->decode)) return std::nullopt;
    auto data = FindChildNoCase(file, atom.body(), atom.end(), "data", order);
    if (!data || data->bodySize() < 8) return std::nullopt;
    const int dataType = static_cast<int>(LoadU32Unchecked(file.data() + data->body(), order));
    const ItemCodec* untyped = UntypedCodec(dataType);
    if (untyped && untyped->decode != DecodeBytes) return std::nullopt;
    return PayloadPlace{data->body() + 8, data->bodySize() - 8, dataType};
  });
}

namespace {

// The row that writes a changed or new frame that is not freeform; null for none.
const ItemCodec* EncoderOf(const CTagFrame& frame) noexcept {
  const ItemCodec* codec = FindItemCodec(frame.name);
  if (!codec || codec->wholeItem || !codec->encode || codec->dataType != frame.dataType)
    codec = UntypedCodec(frame.dataType);
  return codec && codec->encode ? codec : nullptr;
}

}  // namespace

void EncodeItem(const CTagFrame& frame, ByteWriter& out) {
  YErrorFrame(VEL_FRAME(u"vel::mp4::EncodeItem"), [&]() {
    if (frame.freeform) {
      EncodeFreeform(frame, out);
      return;
    }
    if (const ItemCodec* codec = EncoderOf(frame)) codec->encode(frame, out);
  });
}

Bytes EncodeItemHead(const CTagFrame& frame, ByteWriter& out) {
  return YErrorFrame(VEL_FRAME(u"vel::mp4::EncodeItemHead"), [&]() -> Bytes {
    const ItemCodec* codec = frame.freeform ? nullptr : EncoderOf(frame);
    if (codec == nullptr || (codec->encode != EncodePicture && codec->encode != EncodeBytes)) {
      EncodeItem(frame, out);
      return {};
    }
    // As PutByteArrayItem writes it, but the payload is answered, not copied.
    // The array's data stays where it is while the frame holds the array;
    // the lock is only for reaching it.
    const CByteArrayView bytes(frame.value);
    if (!bytes.valid() || bytes.bytes().empty()) return {};
    const std::uint32_t dataType = codec->encode == EncodePicture ? kTagTypeJpeg : kTagTypeInteger;
    if (!PutDataHeader(out, frame.name, dataType, bytes.bytes().size())) return {};
    return bytes.bytes();
  });
}

}  // namespace vel::mp4
