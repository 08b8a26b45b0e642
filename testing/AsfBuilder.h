// ASF files built in code for the Windows Media runtime's tests and fuzz
// seeds: objects by GUID, the header objects the object layer reads, and a
// whole file (header object, a data object of patterned bytes and an index
// object) with the File Properties size set to the file's size.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/ByteWriter.h"
#include "platform/wmf/AsfGuids.h"
#include "testing/FileBytes.h"

namespace vel::testing::asfb {

// Stored data types of the Extended Content Description and Metadata objects.
enum StoredType : std::uint16_t { kString = 0, kBinary = 1, kBool = 2, kDword = 3, kQword = 4, kWord = 5, kGuid = 6 };

struct Record {
  std::u16string name;
  StoredType type = kString;
  Bytes value;
  std::uint16_t language = 0;
  std::uint16_t stream = 0;
};

inline Bytes Utf16z(const std::u16string& text) {
  Bytes out;
  ByteWriter w(out, ByteOrder::kLittle);
  for (char16_t c : text) w.PutU16(c);
  w.PutU16(0);
  return out;
}

inline Bytes Le(std::uint64_t v, int size) {
  Bytes out;
  for (int i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return out;
}

inline Bytes Object(const GUID& id, const Bytes& body) {
  Bytes out;
  ByteWriter w(out, ByteOrder::kLittle);
  wmf::asf::PutGuid(w, id);
  w.PutU64(24 + body.size());
  w.PutBytes(body);
  return out;
}

inline Bytes FileProperties(std::uint64_t playDuration, std::uint64_t prerollMs, std::uint32_t maxBitrate) {
  Bytes body;
  ByteWriter w(body, ByteOrder::kLittle);
  w.PutFill(16, 0x11);  // file ID
  w.PutU64(0);          // file size: File() sets it
  w.PutU64(0);
  w.PutU64(1);
  w.PutU64(playDuration);
  w.PutU64(playDuration);
  w.PutU64(prerollMs);
  w.PutU32(2);
  w.PutU32(3200);
  w.PutU32(3200);
  w.PutU32(maxBitrate);
  return Object(wmf::asf::kFileProperties, body);
}

inline Bytes AudioStream(std::uint16_t number, std::uint16_t formatTag, std::uint16_t channels, std::uint32_t rate,
                         std::uint32_t avgBytes) {
  Bytes wave;
  ByteWriter f(wave, ByteOrder::kLittle);
  f.PutU16(formatTag);
  f.PutU16(channels);
  f.PutU32(rate);
  f.PutU32(avgBytes);
  f.PutU16(4096);
  f.PutU16(16);
  f.PutU16(2);
  f.PutU16(0xABCD);  // two extra format bytes
  Bytes body;
  ByteWriter w(body, ByteOrder::kLittle);
  wmf::asf::PutGuid(w, wmf::asf::kAudioMedia);
  w.PutFill(16, 0);  // no error correction
  w.PutU64(0);
  w.PutU32(static_cast<std::uint32_t>(wave.size()));
  w.PutU32(0);
  w.PutU16(number);
  w.PutU32(0);
  w.PutBytes(wave);
  return Object(wmf::asf::kStreamProperties, body);
}

inline Bytes ContentDescription(const std::vector<std::u16string>& five) {
  Bytes lengths, texts;
  for (const std::u16string& text : five) {
    Bytes t = text.empty() ? Bytes{} : Utf16z(text);
    Bytes l = Le(t.size(), 2);
    lengths.insert(lengths.end(), l.begin(), l.end());
    texts.insert(texts.end(), t.begin(), t.end());
  }
  lengths.insert(lengths.end(), texts.begin(), texts.end());
  return Object(wmf::asf::kContentDescription, lengths);
}

inline Bytes ExtendedContentDescription(const std::vector<Record>& records) {
  Bytes body;
  ByteWriter w(body, ByteOrder::kLittle);
  w.PutU16(static_cast<std::uint16_t>(records.size()));
  for (const Record& r : records) {
    Bytes name = Utf16z(r.name);
    w.PutU16(static_cast<std::uint16_t>(name.size()));
    w.PutBytes(name);
    w.PutU16(r.type);
    w.PutU16(static_cast<std::uint16_t>(r.value.size()));
    w.PutBytes(r.value);
  }
  return Object(wmf::asf::kExtendedContentDescription, body);
}

// Metadata (library false: language indexes are not stored) or Metadata Library.
inline Bytes Metadata(const std::vector<Record>& records, bool library) {
  Bytes body;
  ByteWriter w(body, ByteOrder::kLittle);
  w.PutU16(static_cast<std::uint16_t>(records.size()));
  for (const Record& r : records) {
    Bytes name = Utf16z(r.name);
    w.PutU16(library ? r.language : 0);
    w.PutU16(r.stream);
    w.PutU16(static_cast<std::uint16_t>(name.size()));
    w.PutU16(r.type);
    w.PutU32(static_cast<std::uint32_t>(r.value.size()));
    w.PutBytes(name);
    w.PutBytes(r.value);
  }
  return Object(library ? wmf::asf::kMetadataLibrary : wmf::asf::kMetadata, body);
}

inline Bytes LanguageList(const std::vector<std::u16string>& languages) {
  Bytes body;
  ByteWriter w(body, ByteOrder::kLittle);
  w.PutU16(static_cast<std::uint16_t>(languages.size()));
  for (const std::u16string& language : languages) {
    Bytes text = Utf16z(language);
    w.PutU8(static_cast<std::uint8_t>(text.size()));
    w.PutBytes(text);
  }
  return Object(wmf::asf::kLanguageList, body);
}

inline Bytes HeaderExtension(const std::vector<Bytes>& children) {
  Bytes data;
  for (const Bytes& child : children) data.insert(data.end(), child.begin(), child.end());
  Bytes body;
  ByteWriter w(body, ByteOrder::kLittle);
  wmf::asf::PutGuid(w, wmf::asf::kHeaderExtensionReserved);
  w.PutU16(6);
  w.PutU32(static_cast<std::uint32_t>(data.size()));
  w.PutBytes(data);
  return Object(wmf::asf::kHeaderExtension, body);
}

// The Content Encryption object that marks a file protected: no secret data,
// protection type "DRM", the key ID (ASCII, stored with its terminator) and
// no license URL.
inline Bytes ContentEncryption(const std::string& keyId) {
  Bytes body;
  ByteWriter w(body, ByteOrder::kLittle);
  w.PutU32(0);  // secret data
  w.PutU32(4);
  w.PutChars("DRM");
  w.PutU8(0);
  w.PutU32(static_cast<std::uint32_t>(keyId.size() + 1));
  w.PutChars(keyId);
  w.PutU8(0);
  w.PutU32(0);  // license URL
  return Object(wmf::asf::kContentEncryption, body);
}

// The Extended Content Encryption object: a rights header whose security
// version is the one given, as UTF-16 XML with its terminator.
inline Bytes ExtendedContentEncryption(const std::u16string& securityVersion) {
  const Bytes xml = Utf16z(u"<WRMHEADER><DATA><SECURITYVERSION>" + securityVersion +
                           u"</SECURITYVERSION></DATA></WRMHEADER>");
  Bytes body;
  ByteWriter w(body, ByteOrder::kLittle);
  w.PutU32(static_cast<std::uint32_t>(xml.size()));
  w.PutBytes(xml);
  return Object(wmf::asf::kExtendedContentEncryption, body);
}

// An object the layer does not know, with patterned contents.
inline Bytes UnknownObject(std::uint8_t seed, std::size_t size) {
  const GUID id = {0x12345678u + seed, 0x9ABC, 0xDEF0, {seed, 1, 2, 3, 4, 5, 6, 7}};
  Bytes body(size);
  for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<std::uint8_t>(seed * 31 + i * 7);
  return Object(id, body);
}

// The header object around children; then a data object with dataSize
// patterned bytes and an index object. The File Properties size (when a
// File Properties object is among the children) is the whole file's.
inline Bytes File(const std::vector<Bytes>& children, std::size_t dataSize = 512) {
  Bytes header;
  ByteWriter w(header, ByteOrder::kLittle);
  wmf::asf::PutGuid(w, wmf::asf::kHeader);
  w.PutU64(0);
  w.PutU32(static_cast<std::uint32_t>(children.size()));
  w.PutU8(1);
  w.PutU8(2);
  std::size_t fileProperties = 0;
  for (const Bytes& child : children) {
    ByteReader r(child, ByteOrder::kLittle);
    if (wmf::asf::ReadGuid(r) == wmf::asf::kFileProperties) fileProperties = header.size();
    w.PutBytes(child);
  }
  w.PatchU64(16, header.size());
  Bytes data(dataSize);
  for (std::size_t i = 0; i < dataSize; ++i) data[i] = static_cast<std::uint8_t>(i * 13 + 5);
  Bytes dataObject = Object(wmf::asf::kData, data);
  Bytes index = UnknownObject(0xEE, 40);
  Bytes out = header;
  out.insert(out.end(), dataObject.begin(), dataObject.end());
  out.insert(out.end(), index.begin(), index.end());
  if (fileProperties != 0) {
    ByteWriter patch(out, ByteOrder::kLittle);
    patch.PatchU64(fileProperties + 24 + 16, out.size());
  }
  return out;
}

}  // namespace vel::testing::asfb
