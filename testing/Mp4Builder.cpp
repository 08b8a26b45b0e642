#include "testing/Mp4Builder.h"

#include <algorithm>

#include "platform/base/ByteOrder.h"

namespace vel::testing {

// Through the platform's byte order, so this file needs nothing of the MP4
// code under test.
Bytes U16(std::uint16_t value) {
  Bytes out(2);
  vel::StoreU16Unchecked(out.data(), value, vel::ByteOrder::kBig);
  return out;
}

Bytes U32(std::uint32_t value) {
  Bytes out(4);
  vel::StoreU32Unchecked(out.data(), value, vel::ByteOrder::kBig);
  return out;
}

Bytes U64(std::uint64_t value) {
  Bytes out(8);
  vel::StoreU64Unchecked(out.data(), value, vel::ByteOrder::kBig);
  return out;
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes Atom(std::string_view type, const Bytes& body) {
  return Cat({U32(static_cast<std::uint32_t>(body.size() + 8)), Text(type), body});
}

Bytes Atom64(std::string_view type, const Bytes& body) {
  return Cat({U32(1), Text(type), U64(body.size() + 16), body});
}

Bytes Data(std::uint32_t dataType, const Bytes& payload) { return Atom("data", Cat({U32(dataType), U32(0), payload})); }

Bytes Item(std::string_view type, std::uint32_t dataType, const Bytes& payload) {
  return Atom(type, Data(dataType, payload));
}

Bytes Freeform(std::string_view name, std::uint32_t dataType, const Bytes& payload) {
  return Atom("----", Cat({Atom("mean", Cat({U32(0), Text("com.apple.iTunes")})), Atom("name", Cat({U32(0), Text(name)})),
                           Data(dataType, payload)}));
}

Bytes Ftyp(std::string_view brand) { return Atom("ftyp", Cat({Text(brand), U32(0), Text("isomiso2")})); }

Bytes Mvhd(int version, std::uint32_t timescale, std::uint64_t duration) {
  if (version == 1) {
    return Atom("mvhd", Cat({U32(0x01000000), U64(0), U64(0), U32(timescale), U64(duration), Zeros(80)}));
  }
  return Atom("mvhd", Cat({U32(0), U32(0), U32(0), U32(timescale), U32(static_cast<std::uint32_t>(duration)), Zeros(80)}));
}

Bytes Trak(std::uint32_t timescale) {
  const Bytes mdhd = Atom("mdhd", Cat({U32(0), U32(0), U32(0), U32(timescale), U32(0), U32(0)}));
  return Atom("trak", Cat({Atom("tkhd", Zeros(84)), Atom("mdia", Cat({mdhd, Atom("hdlr", Zeros(25))}))}));
}

Bytes UserData(const Bytes& items) {
  const Bytes hdlr = Atom("hdlr", Cat({U32(0), U32(0), Text("mdirappl"), Zeros(9)}));
  return Atom("udta", Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items)})));
}

Bytes SmallFile(const Bytes& items, std::uint64_t duration, std::size_t mdatBody, std::string_view brand) {
  return Cat({Ftyp(brand), Atom("moov", Cat({Mvhd(0, 44100, duration), Trak(44100), UserData(items)})),
              Atom("mdat", Zeros(mdatBody))});
}

Bytes AdtsFrame(int samplingIndex, std::size_t length) {
  Bytes frame(std::max<std::size_t>(length, 7), 0);  // a length below 7 is a damaged header
  frame[0] = 0xFF;
  frame[1] = 0xF1;  // MPEG-4, layer 0, no CRC
  frame[2] = static_cast<std::uint8_t>((1 << 6) | (samplingIndex << 2));  // AAC LC
  frame[3] = static_cast<std::uint8_t>((2 << 6) | ((length >> 11) & 3));  // two channels
  frame[4] = static_cast<std::uint8_t>(length >> 3);
  frame[5] = static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F);
  frame[6] = 0xFC;
  return frame;
}

}  // namespace vel::testing
