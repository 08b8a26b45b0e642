#include "platform/wmf/Attribute.h"

#include "platform/base/ByteReader.h"
#include "platform/base/ByteWriter.h"

namespace vel::wmf {

Bytes StringValue(std::u16string_view text) {
  Bytes out;
  ByteWriter w(out, ByteOrder::kLittle);
  for (char16_t c : text) w.PutU16(c);
  w.PutU16(0);
  return out;
}

std::u16string StringOf(const Bytes& value) {
  std::u16string text;
  ByteReader r(value, ByteOrder::kLittle);
  while (r.remaining() >= 2) {
    char16_t c = r.U16();
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

Bytes DwordValue(std::uint32_t v) {
  Bytes out;
  ByteWriter(out, ByteOrder::kLittle).PutU32(v);
  return out;
}

Bytes QwordValue(std::uint64_t v) {
  Bytes out;
  ByteWriter(out, ByteOrder::kLittle).PutU64(v);
  return out;
}

Bytes WordValue(std::uint16_t v) {
  Bytes out;
  ByteWriter(out, ByteOrder::kLittle).PutU16(v);
  return out;
}

Bytes PictureBody(const Picture& picture) {
  Bytes out;
  ByteWriter w(out, ByteOrder::kLittle);
  w.PutU8(picture.pictureType);
  w.PutU32(static_cast<std::uint32_t>(picture.data.size()));
  for (char16_t c : picture.mimeType) w.PutU16(c);
  w.PutU16(0);
  for (char16_t c : picture.description) w.PutU16(c);
  w.PutU16(0);
  w.PutBytes(picture.data);
  return out;
}

namespace {
bool ReadTerminated(ByteReader& r, std::u16string& text) {
  text.clear();
  while (r.remaining() >= 2) {
    char16_t c = r.U16();
    if (c == 0) return true;
    text.push_back(c);
  }
  return false;
}
}  // namespace

bool ParsePictureBody(const Bytes& body, Picture& picture) {
  ByteReader r(body, ByteOrder::kLittle);
  picture.pictureType = r.U8();
  std::uint32_t length = r.U32();
  if (!r.ok() || !ReadTerminated(r, picture.mimeType) || !ReadTerminated(r, picture.description)) return false;
  if (r.remaining() < length) return false;
  auto data = r.Bytes(length);
  picture.data.assign(data.begin(), data.end());
  return r.ok();
}

}  // namespace vel::wmf
