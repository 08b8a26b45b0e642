#include "platform/wmf/AsfFile.h"

#include <array>

#include "platform/win32/ReplacingFile.h"
#include "platform/wmf/AsfGuids.h"
#include "platform/wmf/FileAccess.h"

namespace vel::wmf {

namespace {

constexpr std::uint64_t kHeaderFixedSize = 30;  // object header, count, two reserved bytes
constexpr std::size_t kMaxEcdValue = 0xFFFF;

// The five texts of the Content Description object, in their stored order.
constexpr std::array<std::u16string_view, 5> kDescriptionNames = {u"Title", u"Author", u"Copyright", u"Description",
                                                                   u"Rating"};

// Stored data types (Extended Content Description, Metadata, Metadata
// Library) and the runtime's types.
WMT_ATTR_DATATYPE TypeFromStored(std::uint16_t stored) {
  switch (stored) {
    case 0: return WMT_TYPE_STRING;
    case 2: return WMT_TYPE_BOOL;
    case 3: return WMT_TYPE_DWORD;
    case 4: return WMT_TYPE_QWORD;
    case 5: return WMT_TYPE_WORD;
    case 6: return WMT_TYPE_GUID;
    default: return WMT_TYPE_BINARY;
  }
}

std::uint16_t StoredFromType(WMT_ATTR_DATATYPE type) {
  switch (type) {
    case WMT_TYPE_STRING: return 0;
    case WMT_TYPE_BOOL: return 2;
    case WMT_TYPE_DWORD: return 3;
    case WMT_TYPE_QWORD: return 4;
    case WMT_TYPE_WORD: return 5;
    case WMT_TYPE_GUID: return 6;
    default: return 1;
  }
}

// A stored BOOL (32 bits in the Extended Content Description, 16 in the
// Metadata objects) as the runtime hands it out: four bytes.
Bytes BoolValue(std::span<const std::uint8_t> stored) {
  bool on = false;
  for (std::uint8_t b : stored) on = on || b != 0;
  return DwordValue(on ? 1 : 0);
}

std::u16string ReadUtf16(ByteReader& r, std::uint64_t byteLength) {
  ByteReader text = r.Take(byteLength);
  std::u16string out;
  while (text.remaining() >= 2) {
    char16_t c = text.U16();
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

void PutObject(ByteWriter& w, const GUID& id, const Bytes& body) {
  asf::PutGuid(w, id);
  w.PutU64(asf::kObjectHeaderSize + body.size());
  w.PutBytes(body);
}

std::u16string XmlElement(const std::u16string& xml, std::u16string_view tag) {
  std::u16string open = u"<" + std::u16string(tag) + u">";
  std::u16string close = u"</" + std::u16string(tag) + u">";
  std::size_t start = xml.find(open);
  if (start == std::u16string::npos) return {};
  start += open.size();
  std::size_t end = xml.find(close, start);
  if (end == std::u16string::npos) return {};
  return xml.substr(start, end - start);
}

}  // namespace

bool AsfFile::Recognises(std::span<const std::uint8_t> bytes) {
  ByteReader r(bytes, ByteOrder::kLittle);
  GUID id = asf::ReadGuid(r);
  return r.ok() && id == asf::kHeader;
}

std::unique_ptr<AsfFile> AsfFile::Parse(std::span<const std::uint8_t> header, std::uint64_t fileSize) {
  auto file = std::unique_ptr<AsfFile>(new AsfFile());
  file->fileSize_ = fileSize;
  ByteReader r(header, ByteOrder::kLittle);
  GUID id = asf::ReadGuid(r);
  std::uint64_t size = r.U64();
  r.U32();  // object count: the objects themselves are what counts
  r.U8();
  r.U8();
  if (!r.ok() || !(id == asf::kHeader) || size < kHeaderFixedSize) {
    file->complete_ = false;
    return file;
  }
  file->headerSize_ = size;
  if (size > header.size() || size > fileSize) file->complete_ = false;
  std::uint64_t end = size < header.size() ? size : header.size();
  r.Seek(kHeaderFixedSize);
  file->ParseObjects(r.Take(end - kHeaderFixedSize));
  return file;
}

void AsfFile::ParseObjects(ByteReader r) {
  // The header's objects by GUID: how each is read and which node keeps it
  // (kRaw: written back as it was). Objects not listed are kept raw, unread.
  struct Handler {
    const GUID& id;
    void (AsfFile::*parse)(ByteReader);
    Kind kind;
  };
  static const Handler kHandlers[] = {
      {asf::kFileProperties, &AsfFile::ParseFileProperties, Kind::kFileProperties},
      {asf::kContentDescription, &AsfFile::ParseContentDescription, Kind::kContentDescription},
      {asf::kExtendedContentDescription, &AsfFile::ParseExtendedContentDescription,
       Kind::kExtendedContentDescription},
      {asf::kHeaderExtension, &AsfFile::ParseHeaderExtension, Kind::kHeaderExtension},
      {asf::kStreamProperties, &AsfFile::ParseStreamProperties, Kind::kRaw},
      {asf::kStreamBitrateProperties, &AsfFile::ParseStreamBitrates, Kind::kRaw},
      {asf::kContentEncryption, &AsfFile::ParseContentEncryption, Kind::kRaw},
      {asf::kExtendedContentEncryption, &AsfFile::ParseExtendedEncryption, Kind::kRaw},
  };
  while (!r.empty()) {
    std::uint64_t start = r.position();
    GUID id = asf::ReadGuid(r);
    std::uint64_t size = r.U64();
    if (!r.ok() || size < asf::kObjectHeaderSize || size - asf::kObjectHeaderSize > r.remaining()) {
      complete_ = false;
      return;
    }
    ByteReader body = r.Take(size - asf::kObjectHeaderSize);
    auto whole = r.bytes().subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(size));
    Node node{Kind::kRaw, Bytes(whole.begin(), whole.end())};
    for (const Handler& handler : kHandlers) {
      if (!(id == handler.id)) continue;
      bool seen = false;
      for (const Node& n : nodes_) seen = seen || (handler.kind != Kind::kRaw && n.kind == handler.kind);
      if (!seen) {
        (this->*handler.parse)(body);
        node.kind = handler.kind;
      } else if (handler.kind == Kind::kContentDescription || handler.kind == Kind::kExtendedContentDescription) {
        // A second description object: its attributes join the first one's.
        (this->*handler.parse)(body);
        node.kind = handler.kind;
        node.bytes.clear();
      }
      break;  // a second File Properties or Header Extension object stays raw
    }
    if (node.kind != Kind::kRaw && node.bytes.empty()) continue;
    nodes_.push_back(std::move(node));
  }
}

void AsfFile::ParseHeaderExtension(ByteReader r) {
  auto reserved = r.Bytes(18);
  extensionReserved_.assign(reserved.begin(), reserved.end());
  std::uint32_t dataSize = r.U32();
  if (!r.ok() || dataSize > r.remaining()) complete_ = false;
  ByteReader data = r.Take(dataSize < r.remaining() ? dataSize : r.remaining());
  // Its attribute and language objects are read; every other child is kept raw.
  while (!data.empty()) {
    std::uint64_t start = data.position();
    GUID id = asf::ReadGuid(data);
    std::uint64_t size = data.U64();
    if (!data.ok() || size < asf::kObjectHeaderSize || size - asf::kObjectHeaderSize > data.remaining()) {
      complete_ = false;
      return;
    }
    ByteReader body = data.Take(size - asf::kObjectHeaderSize);
    if (id == asf::kMetadata) {
      ParseMetadata(body, false);
    } else if (id == asf::kMetadataLibrary) {
      ParseMetadata(body, true);
    } else if (id == asf::kLanguageList) {
      ParseLanguageList(body);
    } else {
      auto whole = data.bytes().subspan(static_cast<std::size_t>(start), static_cast<std::size_t>(size));
      extensionChildren_.push_back(Node{Kind::kRaw, Bytes(whole.begin(), whole.end())});
    }
  }
}

void AsfFile::ParseContentEncryption(ByteReader r) {
  protected_ = true;
  r.Skip(r.U32());  // secret data
  r.Skip(r.U32());  // protection type
  std::uint32_t keyLength = r.U32();
  auto key = r.Chars(keyLength);
  if (!r.ok()) return;
  keyId_.clear();
  for (char c : key) {
    if (c == 0) break;
    keyId_.push_back(static_cast<unsigned char>(c));
  }
}

void AsfFile::ParseFileProperties(ByteReader r) {
  r.Skip(16);  // file ID
  declaredFileSize_ = r.U64();
  r.U64();  // creation date
  r.U64();  // data packets
  std::uint64_t play = r.U64();
  r.U64();  // send duration
  std::uint64_t preroll = r.U64();
  r.U32();  // flags
  r.U32();
  r.U32();
  std::uint32_t maxBitrate = r.U32();
  if (!r.ok()) {
    complete_ = false;
    return;
  }
  playDuration_ = play;
  prerollMs_ = preroll;
  maxBitrate_ = maxBitrate;
}

void AsfFile::ParseContentDescription(ByteReader r) {
  std::array<std::uint16_t, 5> lengths{};
  for (auto& length : lengths) length = r.U16();
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    std::u16string text = ReadUtf16(r, lengths[i]);
    if (!r.ok()) {
      complete_ = false;
      return;
    }
    if (!text.empty())
      attributes_.push_back(Attribute{std::u16string(kDescriptionNames[i]), WMT_TYPE_STRING, 0, 0, StringValue(text)});
  }
}

void AsfFile::ParseExtendedContentDescription(ByteReader r) {
  std::uint16_t count = r.U16();
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t nameLength = r.U16();
    std::u16string name = ReadUtf16(r, nameLength);
    std::uint16_t stored = r.U16();
    std::uint16_t valueLength = r.U16();
    auto value = r.Bytes(valueLength);
    if (!r.ok()) {
      complete_ = false;
      return;
    }
    WMT_ATTR_DATATYPE type = TypeFromStored(stored);
    Bytes bytes = type == WMT_TYPE_BOOL ? BoolValue(value) : Bytes(value.begin(), value.end());
    attributes_.push_back(Attribute{std::move(name), type, 0, 0, std::move(bytes)});
  }
}

void AsfFile::ParseMetadata(ByteReader r, bool library) {
  std::uint16_t count = r.U16();
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t language = r.U16();
    std::uint16_t stream = r.U16();
    std::uint16_t nameLength = r.U16();
    std::uint16_t stored = r.U16();
    std::uint32_t valueLength = r.U32();
    std::u16string name = ReadUtf16(r, nameLength);
    auto value = r.Bytes(valueLength);
    if (!r.ok()) {
      complete_ = false;
      return;
    }
    WMT_ATTR_DATATYPE type = TypeFromStored(stored);
    Bytes bytes = type == WMT_TYPE_BOOL ? BoolValue(value) : Bytes(value.begin(), value.end());
    attributes_.push_back(
        Attribute{std::move(name), type, static_cast<WORD>(library ? language : 0), stream, std::move(bytes)});
  }
}

void AsfFile::ParseLanguageList(ByteReader r) {
  std::uint16_t count = r.U16();
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint8_t length = r.U8();
    std::u16string language = ReadUtf16(r, length);
    if (!r.ok()) {
      complete_ = false;
      return;
    }
    languages_.push_back(std::move(language));
  }
}

void AsfFile::ParseStreamProperties(ByteReader r) {
  GUID type = asf::ReadGuid(r);
  asf::ReadGuid(r);  // error correction type
  r.U64();           // time offset
  std::uint32_t specificLength = r.U32();
  r.U32();  // error correction data length
  std::uint16_t flags = r.U16();
  r.U32();
  auto specific = r.Bytes(specificLength);
  if (!r.ok()) {
    complete_ = false;
    return;
  }
  StreamInfo info;
  info.type = type == asf::kAudioMedia ? WMMEDIATYPE_Audio : type == asf::kVideoMedia ? WMMEDIATYPE_Video : type;
  info.number = static_cast<WORD>(flags & 0x7F);
  info.format.assign(specific.begin(), specific.end());
  streams_.push_back(std::move(info));
}

void AsfFile::ParseStreamBitrates(ByteReader r) {
  std::uint16_t count = r.U16();
  for (std::uint16_t i = 0; i < count; ++i) {
    r.U16();
    std::uint32_t bitrate = r.U32();
    if (!r.ok()) {
      complete_ = false;
      return;
    }
    streamBitrates_ += bitrate;
  }
}

void AsfFile::ParseExtendedEncryption(ByteReader r) {
  protected_ = true;
  std::uint32_t length = r.U32();
  ByteReader data = r.Take(length);
  if (!r.ok()) {
    complete_ = false;
    return;
  }
  std::u16string xml;
  while (data.remaining() >= 2) xml.push_back(data.U16());
  std::u16string kid = XmlElement(xml, u"KID");
  if (!kid.empty()) keyId_ = kid;
  securityVersion_ = XmlElement(xml, u"SECURITYVERSION");
}

std::vector<Attribute> AsfFile::ComputedAttributes() const {
  std::uint64_t size = declaredFileSize_ != 0 ? declaredFileSize_ : fileSize_;
  std::uint64_t prerollUnits = prerollMs_ * 10000;
  std::uint64_t duration = playDuration_ > prerollUnits ? playDuration_ - prerollUnits : 0;
  std::uint64_t bitrate = streamBitrates_ != 0 ? streamBitrates_ : maxBitrate_;
  if (bitrate > 0xFFFFFFFFu) bitrate = 0xFFFFFFFFu;
  return {
      Attribute{g_wszWMFileSize, WMT_TYPE_QWORD, 0, 0, QwordValue(size)},
      Attribute{g_wszWMDuration, WMT_TYPE_QWORD, 0, 0, QwordValue(duration)},
      Attribute{g_wszWMBitrate, WMT_TYPE_DWORD, 0, 0, DwordValue(static_cast<std::uint32_t>(bitrate))},
      Attribute{g_wszWMIsProtected, WMT_TYPE_BOOL, 0, 0, DwordValue(protected_ ? 1 : 0)},
  };
}

std::optional<Attribute> AsfFile::DrmProperty(std::u16string_view name) const {
  if (!protected_) return std::nullopt;
  if (name == u"DRMHeader.KID" && !keyId_.empty())
    return Attribute{std::u16string(name), WMT_TYPE_STRING, 0, 0, StringValue(keyId_)};
  if (name == u"DRMHeader.SECURITYVERSION" && !securityVersion_.empty())
    return Attribute{std::u16string(name), WMT_TYPE_STRING, 0, 0, StringValue(securityVersion_)};
  return std::nullopt;
}

Bytes AsfFile::BuildHeader(std::uint64_t dataSize) const {
  // Where each attribute goes.
  std::array<const Attribute*, 5> description{};
  std::vector<const Attribute*> extended, library;
  for (const Attribute& a : attributes_) {
    bool fileWide = a.language == 0 && a.stream == 0;
    if (fileWide && a.type == WMT_TYPE_STRING) {
      bool placed = false;
      for (std::size_t i = 0; i < kDescriptionNames.size() && !placed; ++i) {
        if (a.name == kDescriptionNames[i] && description[i] == nullptr && a.value.size() <= 0xFFFF &&
            !StringOf(a.value).empty()) {
          description[i] = &a;
          placed = true;
        }
      }
      if (placed) continue;
    }
    if (fileWide && a.type != WMT_TYPE_GUID && a.value.size() <= kMaxEcdValue && (a.name.size() + 1) * 2 <= 0xFFFF &&
        extended.size() < 0xFFFF)
      extended.push_back(&a);
    else
      library.push_back(&a);
  }
  bool anyDescription = false;
  for (const Attribute* a : description) anyDescription = anyDescription || a != nullptr;

  auto descriptionObject = [&] {
    Bytes body;
    ByteWriter w(body, ByteOrder::kLittle);
    for (const Attribute* a : description) {
      Bytes text = a ? StringValue(StringOf(a->value)) : Bytes{};
      w.PutU16(static_cast<std::uint16_t>(text.size()));
    }
    for (const Attribute* a : description)
      if (a) w.PutBytes(StringValue(StringOf(a->value)));
    return body;
  };
  auto storedValue = [](const Attribute& a, bool wideBool) {
    if (a.type != WMT_TYPE_BOOL) return a.value;
    Bytes on = BoolValue(a.value);
    if (!wideBool) on.resize(2);
    return on;
  };
  auto extendedObject = [&] {
    Bytes body;
    ByteWriter w(body, ByteOrder::kLittle);
    w.PutU16(static_cast<std::uint16_t>(extended.size()));
    for (const Attribute* a : extended) {
      Bytes name = StringValue(a->name);
      Bytes value = storedValue(*a, true);
      w.PutU16(static_cast<std::uint16_t>(name.size()));
      w.PutBytes(name);
      w.PutU16(StoredFromType(a->type));
      w.PutU16(static_cast<std::uint16_t>(value.size()));
      w.PutBytes(value);
    }
    return body;
  };
  bool needExtension = !languages_.empty() || !library.empty();
  auto extensionObject = [&] {
    Bytes data;
    ByteWriter d(data, ByteOrder::kLittle);
    for (const Node& child : extensionChildren_) d.PutBytes(child.bytes);
    if (!languages_.empty()) {
      Bytes list;
      ByteWriter l(list, ByteOrder::kLittle);
      l.PutU16(static_cast<std::uint16_t>(languages_.size()));
      for (const std::u16string& language : languages_) {
        Bytes text = StringValue(language.substr(0, 127));
        if (text.size() > 0xFF) text.resize(text.size() - 2);  // 127 characters fit only without a terminator
        l.PutU8(static_cast<std::uint8_t>(text.size()));
        l.PutBytes(text);
      }
      PutObject(d, asf::kLanguageList, list);
    }
    // A Metadata Library object counts its records in 16 bits: more go to further objects.
    for (std::size_t first = 0; first < library.size(); first += 0xFFFF) {
      std::size_t count = library.size() - first < 0xFFFF ? library.size() - first : 0xFFFF;
      Bytes lib;
      ByteWriter l(lib, ByteOrder::kLittle);
      l.PutU16(static_cast<std::uint16_t>(count));
      for (std::size_t i = first; i < first + count; ++i) {
        const Attribute* a = library[i];
        Bytes name = StringValue(a->name.substr(0, 0x7FFE));
        Bytes value = storedValue(*a, false);
        l.PutU16(a->language);
        l.PutU16(a->stream);
        l.PutU16(static_cast<std::uint16_t>(name.size()));
        l.PutU16(StoredFromType(a->type));
        l.PutU32(static_cast<std::uint32_t>(value.size()));
        l.PutBytes(name);
        l.PutBytes(value);
      }
      PutObject(d, asf::kMetadataLibrary, lib);
    }
    Bytes body;
    ByteWriter w(body, ByteOrder::kLittle);
    if (extensionReserved_.size() == 18) {
      w.PutBytes(extensionReserved_);
    } else {
      asf::PutGuid(w, asf::kHeaderExtensionReserved);
      w.PutU16(6);
    }
    w.PutU32(static_cast<std::uint32_t>(data.size()));
    w.PutBytes(data);
    return body;
  };

  Bytes out;
  ByteWriter w(out, ByteOrder::kLittle);
  asf::PutGuid(w, asf::kHeader);
  w.PutU64(0);  // patched below
  w.PutU32(0);
  w.PutU8(1);
  w.PutU8(2);
  std::uint32_t count = 0;
  std::size_t filePropertiesAt = 0;
  bool wroteDescription = false, wroteExtended = false, wroteExtension = false;
  for (const Node& node : nodes_) {
    switch (node.kind) {
      case Kind::kRaw:
        w.PutBytes(node.bytes);
        ++count;
        break;
      case Kind::kFileProperties:
        filePropertiesAt = w.position();
        w.PutBytes(node.bytes);
        ++count;
        break;
      case Kind::kContentDescription:
        if (anyDescription) {
          PutObject(w, asf::kContentDescription, descriptionObject());
          ++count;
        }
        wroteDescription = true;
        break;
      case Kind::kExtendedContentDescription:
        if (!extended.empty()) {
          PutObject(w, asf::kExtendedContentDescription, extendedObject());
          ++count;
        }
        wroteExtended = true;
        break;
      case Kind::kHeaderExtension:
        PutObject(w, asf::kHeaderExtension, extensionObject());
        ++count;
        wroteExtension = true;
        break;
    }
  }
  if (!wroteDescription && anyDescription) {
    PutObject(w, asf::kContentDescription, descriptionObject());
    ++count;
  }
  if (!wroteExtended && !extended.empty()) {
    PutObject(w, asf::kExtendedContentDescription, extendedObject());
    ++count;
  }
  if (!wroteExtension && needExtension) {
    PutObject(w, asf::kHeaderExtension, extensionObject());
    ++count;
  }
  w.PatchU64(16, out.size());
  w.PatchU32(24, count);
  if (filePropertiesAt != 0) w.PatchU64(filePropertiesAt + asf::kObjectHeaderSize + 16, out.size() + dataSize);
  return out;
}

HRESULT AsfFile::Save(ReplacingFile& writer) {
  if (!complete_) return NS_E_INVALID_DATA;
  if (!writer.Begin()) return SaveFailure(writer.error());
  // The file as it is now, under the writers' lock.
  OpenedFile file;
  HRESULT hr = OpenForReading(writer.target(), file);
  if (FAILED(hr)) return hr;
  Bytes start;
  if (!ReadAt(file.fd.get(), 0, kHeaderFixedSize, start) || !Recognises(start) || start.size() < kHeaderFixedSize)
    return NS_E_INVALID_DATA;
  std::uint64_t currentHeader = LoadU64Unchecked(start.data() + 16, ByteOrder::kLittle);
  if (currentHeader < kHeaderFixedSize || currentHeader > file.size) return NS_E_INVALID_DATA;
  // A file cut short (its data object, or the size File Properties gives,
  // claims more than is there) is damaged: rewriting it would make the loss
  // look whole. A header with nothing after it is no such claim.
  if (declaredFileSize_ > file.size) return NS_E_INVALID_DATA;
  if (file.size > currentHeader) {
    Bytes data;
    if (!ReadAt(file.fd.get(), currentHeader, asf::kObjectHeaderSize, data)) return NS_E_FILE_READ;
    ByteReader r(data, ByteOrder::kLittle);
    const GUID id = asf::ReadGuid(r);
    const std::uint64_t dataSize = r.U64();
    if (!r.ok()) return NS_E_INVALID_DATA;
    if (id == asf::kData && dataSize > file.size - currentHeader) return NS_E_INVALID_DATA;
  }
  Bytes header = BuildHeader(file.size - currentHeader);
  if (!writer.Write(header.data(), header.size())) return SaveFailure(writer.error());
  // The data and index objects as they are, copied once.
  if (!writer.CopyOriginalRange(currentHeader, file.size - currentHeader)) return SaveFailure(writer.error());
  if (!writer.CommitAndHold()) return SaveFailure(writer.error());
  // What the file says now, for a later save through the same editor.
  fileSize_ = header.size() + (file.size - currentHeader);
  if (declaredFileSize_ != 0) declaredFileSize_ = fileSize_;
  headerSize_ = header.size();
  return S_OK;
}

}  // namespace vel::wmf
