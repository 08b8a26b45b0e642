#include "platform/wmf/Mp3File.h"

#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v1genres.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2header.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tfilestream.h>
#include <taglib/unknownframe.h>
#include <taglib/unsynchronizedlyricsframe.h>

#include <cwctype>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/ByteWriter.h"
#include "platform/wmf/FileAccess.h"
#include "platform/win32/ReplacingFile.h"
#include "platform/win32/paths.h"

namespace vel::wmf {

namespace {

// TagLib keeps shared state (the frame factory, string tables) and does not
// document itself as thread-safe: every use goes through this lock.
std::mutex& TagLibLock() {
  static std::mutex lock;
  return lock;
}

struct FrameName {
  const char* frame;
  const char16_t* attribute;
};
// Text frames and their attribute names; the first row of a name is the one written.
constexpr FrameName kTextFrames[] = {
    {"TIT2", u"Title"},          {"TPE1", u"Author"},          {"TALB", u"WM/AlbumTitle"},
    {"TRCK", u"WM/TrackNumber"}, {"TYER", u"WM/Year"},         {"TDRC", u"WM/Year"},
    {"TCON", u"WM/Genre"},       {"TCOP", u"Copyright"},       {"TPE2", u"WM/AlbumArtist"},
    {"TCOM", u"WM/Composer"},    {"TEXT", u"WM/Writer"},       {"TPUB", u"WM/Publisher"},
    {"TOPE", u"WM/OriginalArtist"}, {"TPOS", u"WM/PartOfSet"},
};
constexpr char16_t kDescription[] = u"Description";
// Files up to this size are read whole and parsed from memory.
constexpr std::uint64_t kReadWholeLimit = 1u << 20;

const char16_t* AttributeOfFrame(const TagLib::ByteVector& id) {
  for (const FrameName& row : kTextFrames)
    if (id == TagLib::ByteVector(row.frame, 4)) return row.attribute;
  return nullptr;
}

std::u16string ToU16(const TagLib::String& s) {
  TagLib::ByteVector bytes = s.data(TagLib::String::UTF16LE);
  std::u16string out;
  for (unsigned i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  return out;
}

TagLib::String FromU16(const std::u16string& s) {
  TagLib::ByteVector bytes;
  for (char16_t c : s) {
    bytes.append(static_cast<char>(c & 0xFF));
    bytes.append(static_cast<char>(c >> 8));
  }
  return TagLib::String(bytes, TagLib::String::UTF16LE);
}

TagLib::String::Type EncodingFor(const std::u16string& s) {
  for (char16_t c : s)
    if (c > 0xFF) return TagLib::String::UTF16;
  return TagLib::String::Latin1;
}

std::u16string GenreText(const TagLib::String& raw) {
  // "(17)", "17" or "(17)Rock": the ID3v1 genre number, else the text.
  std::string text = raw.to8Bit(true);
  std::string digits = text;
  if (digits.size() > 2 && digits.front() == '(' && digits.find(')') != std::string::npos) {
    std::string rest = digits.substr(digits.find(')') + 1);
    if (!rest.empty()) return ToU16(TagLib::String(rest, TagLib::String::UTF8));
    digits = digits.substr(1, digits.find(')') - 1);
  }
  if (!digits.empty() && digits.size() <= 3 && digits.find_first_not_of("0123456789") == std::string::npos) {
    TagLib::String name = TagLib::ID3v1::genre(std::stoi(digits));
    if (!name.isEmpty()) return ToU16(name);
  }
  return ToU16(raw);
}

Attribute Text(std::u16string name, const std::u16string& value) {
  return Attribute{std::move(name), WMT_TYPE_STRING, 0, 0, StringValue(value)};
}

Bytes ToBytes(const TagLib::ByteVector& v) { return Bytes(v.begin(), v.end()); }

TagLib::ByteVector FromBytes(const Bytes& v) {
  return TagLib::ByteVector(reinterpret_cast<const char*>(v.data()), static_cast<unsigned>(v.size()));
}

void ReadId3v2(TagLib::ID3v2::Tag& tag, std::vector<Attribute>& out) {
  for (TagLib::ID3v2::Frame* frame : tag.frameList()) {
    const TagLib::ByteVector id = frame->frameID();
    if (const char16_t* name = AttributeOfFrame(id)) {
      auto* text = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame);
      if (!text) continue;
      std::u16string value = id == "TCON" ? GenreText(text->toString()) : ToU16(text->toString());
      out.push_back(Text(name, value));
    } else if (id == "TXXX") {
      auto* user = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame);
      if (!user || user->description().isEmpty()) continue;
      TagLib::StringList fields = user->fieldList();
      std::u16string value = fields.size() > 1 ? ToU16(fields[1]) : std::u16string();
      out.push_back(Text(ToU16(user->description()), value));
    } else if (id == "COMM") {
      auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame);
      if (!comment || !comment->description().isEmpty()) continue;
      out.push_back(Text(kDescription, ToU16(comment->text())));
    } else if (id == "USLT") {
      auto* lyrics = dynamic_cast<TagLib::ID3v2::UnsynchronizedLyricsFrame*>(frame);
      if (lyrics) out.push_back(Text(g_wszWMLyrics, ToU16(lyrics->text())));
    } else if (id == "APIC") {
      auto* apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frame);
      if (!apic) continue;
      Picture picture{ToU16(apic->mimeType()), static_cast<BYTE>(apic->type()), ToU16(apic->description()),
                      ToBytes(apic->picture())};
      out.push_back(Attribute{g_wszWMPicture, WMT_TYPE_BINARY, 0, 0, PictureBody(picture)});
    } else if (id == "MCDI") {
      auto* unknown = dynamic_cast<TagLib::ID3v2::UnknownFrame*>(frame);
      if (unknown) out.push_back(Attribute{g_wszWMMCDI, WMT_TYPE_BINARY, 0, 0, ToBytes(unknown->data())});
    }
  }
}

void ReadId3v1(TagLib::ID3v1::Tag& tag, std::vector<Attribute>& out) {
  auto add = [&](const char16_t* name, const TagLib::String& value) {
    if (!value.isEmpty()) out.push_back(Text(name, ToU16(value)));
  };
  add(u"Title", tag.title());
  add(u"Author", tag.artist());
  add(g_wszWMAlbumTitle, tag.album());
  if (tag.year() != 0) add(g_wszWMYear, TagLib::String::number(static_cast<int>(tag.year())));
  add(kDescription, tag.comment());
  if (tag.track() != 0) add(g_wszWMTrackNumber, TagLib::String::number(static_cast<int>(tag.track())));
  add(g_wszWMGenre, tag.genre());
}

bool IsMappedFrame(TagLib::ID3v2::Frame* frame) {
  const TagLib::ByteVector id = frame->frameID();
  if (AttributeOfFrame(id)) return true;
  if (id == "APIC" || id == "USLT" || id == "MCDI") return true;
  if (id == "TXXX") {
    auto* user = dynamic_cast<TagLib::ID3v2::UserTextIdentificationFrame*>(frame);
    return user && !user->description().isEmpty();
  }
  if (id == "COMM") {
    auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame);
    return comment && comment->description().isEmpty();
  }
  return false;
}

// The text an attribute is stored as: a text as it is, a number in decimal
// (a BOOL as 1 or 0); nothing for the types ID3 text cannot carry.
std::optional<std::u16string> StoredText(const Attribute& a) {
  auto decimal = [](std::uint64_t n) {
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
  };
  auto number = [&](std::size_t width) -> std::optional<std::u16string> {
    if (a.value.size() != width) return std::nullopt;
    std::uint64_t n = 0;
    for (std::size_t i = width; i-- > 0;) n = n << 8 | a.value[i];  // the runtime's numbers are little-endian
    return decimal(n);
  };
  switch (a.type) {
    case WMT_TYPE_STRING: return StringOf(a.value);
    case WMT_TYPE_DWORD: return number(4);
    case WMT_TYPE_QWORD: return number(8);
    case WMT_TYPE_WORD: return number(2);
    case WMT_TYPE_BOOL: {
      bool on = false;
      for (std::uint8_t b : a.value) on = on || b != 0;
      return decimal(on ? 1 : 0);
    }
    default: return std::nullopt;
  }
}

TagLib::ID3v2::Frame* MakeFrame(const Attribute& a, int version) {
  using namespace TagLib::ID3v2;
  if (a.name == g_wszWMPicture) {
    Picture picture;
    if (a.type != WMT_TYPE_BINARY || !ParsePictureBody(a.value, picture)) return nullptr;
    auto* apic = new AttachedPictureFrame();
    apic->setTextEncoding(EncodingFor(picture.description));
    apic->setMimeType(FromU16(picture.mimeType));
    apic->setType(static_cast<AttachedPictureFrame::Type>(picture.pictureType));
    apic->setDescription(FromU16(picture.description));
    apic->setPicture(FromBytes(picture.data));
    return apic;
  }
  if (a.name == g_wszWMMCDI) {
    // An MCDI frame as raw bytes: a version-4 header (sizes synch-safe) and the body.
    TagLib::ByteVector raw("MCDI", 4);
    std::uint32_t n = static_cast<std::uint32_t>(a.value.size());
    raw.append(static_cast<char>((n >> 21) & 0x7F));
    raw.append(static_cast<char>((n >> 14) & 0x7F));
    raw.append(static_cast<char>((n >> 7) & 0x7F));
    raw.append(static_cast<char>(n & 0x7F));
    raw.append(TagLib::ByteVector(2, '\0'));
    raw.append(FromBytes(a.value));
    return new UnknownFrame(raw);
  }
  const std::optional<std::u16string> stored = StoredText(a);
  if (!stored) return nullptr;
  const std::u16string& value = *stored;
  TagLib::String text = FromU16(value);
  TagLib::String::Type encoding = EncodingFor(value);
  if (a.name == kDescription) {
    auto* comment = new CommentsFrame(encoding);
    comment->setLanguage("eng");
    comment->setText(text);
    return comment;
  }
  if (a.name == g_wszWMLyrics) {
    auto* lyrics = new UnsynchronizedLyricsFrame(encoding);
    lyrics->setLanguage("eng");
    lyrics->setText(text);
    return lyrics;
  }
  if (a.name == g_wszWMYear) {
    auto* frame = new TextIdentificationFrame(version >= 4 ? "TDRC" : "TYER", encoding);
    frame->setText(text);
    return frame;
  }
  for (const FrameName& row : kTextFrames) {
    if (a.name == row.attribute) {
      auto* frame = new TextIdentificationFrame(TagLib::ByteVector(row.frame, 4), encoding);
      frame->setText(text);
      return frame;
    }
  }
  auto* user = new UserTextIdentificationFrame(encoding);
  user->setDescription(FromU16(a.name));
  user->setText(text);
  return user;
}

const Attribute* First(const std::vector<Attribute>& list, std::u16string_view name) {
  for (const Attribute& a : list)
    if (a.stream == 0 && a.name == name && StoredText(a)) return &a;
  return nullptr;
}

}  // namespace

bool Mp3File::Recognises(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= 3 && bytes[0] == 'I' && bytes[1] == 'D' && bytes[2] == '3') return true;
  return bytes.size() >= 2 && bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0;
}

HRESULT Mp3File::Open(const std::string& nativePath, int fd, std::uint64_t fileSize, std::unique_ptr<Container>& out) {
  auto file = std::unique_ptr<Mp3File>(new Mp3File());
  file->fileSize_ = fileSize;
  // TagLib seeks and reads a few bytes at a time, some sixty system calls
  // for a small file: a small file is read whole with one call and parsed
  // from memory. A large one is read where TagLib looks (its tags and first
  // frames), never whole.
  std::optional<TagLib::ByteVectorStream> inMemory;
  std::optional<TagLib::FileStream> onDisk;
  TagLib::IOStream* stream;
  Bytes whole;
  if (fileSize <= kReadWholeLimit && ReadAt(fd, 0, fileSize, whole) && whole.size() == fileSize) {
    stream = &inMemory.emplace(
        TagLib::ByteVector(reinterpret_cast<const char*>(whole.data()), static_cast<unsigned int>(whole.size())));
  } else {
    stream = &onDisk.emplace(nativePath.c_str(), true);
  }
  std::lock_guard<std::mutex> lock(TagLibLock());
  TagLib::MPEG::File mpeg(stream, TagLib::ID3v2::FrameFactory::instance(), true, TagLib::AudioProperties::Accurate);
  if (!mpeg.isValid() || mpeg.audioProperties() == nullptr) return NS_E_INVALID_INPUT_FORMAT;
  const TagLib::MPEG::Properties* properties = mpeg.audioProperties();
  file->duration_ = static_cast<std::uint64_t>(properties->lengthInMilliseconds()) * 10000;
  file->bitrate_ = static_cast<std::uint32_t>(properties->bitrate()) * 1000;
  file->sampleRate_ = static_cast<std::uint32_t>(properties->sampleRate());
  file->channels_ = static_cast<std::uint16_t>(properties->channels());
  // A VBR header in the first frame: "Xing" or "VBRI" (an "Info" header marks constant bit rate).
  if (properties->xingHeader() != nullptr) {
    const long first = mpeg.firstFrameOffset();
    if (first >= 0) {
      mpeg.seek(first);
      const TagLib::ByteVector frame = mpeg.readBlock(256);
      file->vbr_ = frame.find("Xing") >= 0 || frame.find("VBRI") >= 0;
    }
  }
  // A file cut inside its ID3v2 tag, or one without an MPEG frame after the
  // tag, is damaged: it is read as far as it goes but never saved.
  mpeg.seek(0);
  const TagLib::ByteVector start = mpeg.readBlock(10);
  if (start.size() == 10 && start.startsWith("ID3")) {
    std::uint64_t tagEnd = 10;  // the header, then the size in four bytes of seven bits
    for (int i = 6; i < 10; ++i)
      tagEnd += static_cast<std::uint64_t>(static_cast<unsigned char>(start[i]) & 0x7F) << (7 * (9 - i));
    if ((static_cast<unsigned char>(start[5]) & 0x10) != 0) tagEnd += 10;  // a footer
    if (tagEnd > fileSize) file->damaged_ = true;
  }
  if (mpeg.firstFrameOffset() < 0) file->damaged_ = true;
  if (mpeg.hasID3v2Tag() && !mpeg.ID3v2Tag()->isEmpty())
    ReadId3v2(*mpeg.ID3v2Tag(), file->attributes_);
  else if (mpeg.hasID3v1Tag())
    ReadId3v1(*mpeg.ID3v1Tag(), file->attributes_);
  out = std::move(file);
  return S_OK;
}

bool Mp3File::CanHold(const Attribute& a) const {
  if (a.stream != 0) return false;  // only the file's own attributes have frames
  if (a.name == g_wszWMPicture) {
    Picture picture;
    return a.type == WMT_TYPE_BINARY && ParsePictureBody(a.value, picture);
  }
  if (a.name == g_wszWMMCDI) return a.type == WMT_TYPE_BINARY;
  return StoredText(a).has_value();
}

std::vector<Attribute> Mp3File::ComputedAttributes() const {
  return {
      Attribute{g_wszWMFileSize, WMT_TYPE_QWORD, 0, 0, QwordValue(fileSize_)},
      Attribute{g_wszWMDuration, WMT_TYPE_QWORD, 0, 0, QwordValue(duration_)},
      Attribute{g_wszWMBitrate, WMT_TYPE_DWORD, 0, 0, DwordValue(bitrate_)},
      Attribute{g_wszWMIsProtected, WMT_TYPE_BOOL, 0, 0, DwordValue(0)},
      Attribute{g_wszWMIsVBR, WMT_TYPE_BOOL, 0, 0, DwordValue(vbr_ ? 1 : 0)},
  };
}

std::vector<StreamInfo> Mp3File::Streams() const {
  StreamInfo audio;
  audio.type = WMMEDIATYPE_Audio;
  audio.number = 1;
  ByteWriter w(audio.format, ByteOrder::kLittle);
  w.PutU16(WAVE_FORMAT_MPEGLAYER3);
  w.PutU16(channels_);
  w.PutU32(sampleRate_);
  w.PutU32(bitrate_ / 8);
  w.PutU16(1);
  w.PutU16(0);
  w.PutU16(0);
  return {audio};
}

namespace {

// The file's tags as a save leaves them, changed in memory only: the mapped
// ID3v2 frames rewritten from the attributes (every other frame stays), and
// the ID3v1 tag, where there is one, given the same fields. The ID3v2 version
// to render (the file's own, 2.3 for a new tag) comes back in version.
void ApplyAttributes(TagLib::MPEG::File& mpeg, const std::vector<Attribute>& attributes, int& version) {
  version = mpeg.hasID3v2Tag() ? mpeg.ID3v2Tag()->header()->majorVersion() : 3;
  if (version < 3 || version > 4) version = 3;
  TagLib::ID3v2::Tag* tag = mpeg.ID3v2Tag(true);
  TagLib::ID3v2::FrameList frames = tag->frameList();
  for (TagLib::ID3v2::Frame* frame : frames)
    if (IsMappedFrame(frame)) tag->removeFrame(frame, true);
  for (const Attribute& a : attributes) {
    if (a.stream != 0) continue;
    if (TagLib::ID3v2::Frame* frame = MakeFrame(a, version)) tag->addFrame(frame);
  }
  if (!mpeg.hasID3v1Tag()) return;
  TagLib::ID3v1::Tag* v1 = mpeg.ID3v1Tag();
  auto text = [&](std::u16string_view name) {
    const Attribute* a = First(attributes, name);
    return a ? FromU16(*StoredText(*a)) : TagLib::String();
  };
  v1->setTitle(text(u"Title"));
  v1->setArtist(text(u"Author"));
  v1->setAlbum(text(g_wszWMAlbumTitle));
  v1->setComment(text(kDescription));
  v1->setGenre(text(g_wszWMGenre));
  v1->setYear(static_cast<unsigned>(text(g_wszWMYear).toInt()));
  v1->setTrack(static_cast<unsigned>(text(g_wszWMTrackNumber).toInt()));
}

TagLib::ID3v2::Version Id3v2Version(int version) { return version == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3; }

// The new file as pieces of the original: [0, keepFrom) is the old ID3v2
// tag, replaced by id3v2 (nothing when the tag is left empty); [keepFrom,
// keepTo) stays byte for byte (the audio, further ID3v2 tags, an APEv2 tag);
// id3v1 takes the old ID3v1 tag's 128 bytes (nothing when it is left empty).
struct OnePass {
  TagLib::ByteVector id3v2;
  std::uint64_t keepFrom = 0;
  std::uint64_t keepTo = 0;
  TagLib::ByteVector id3v1;
};

// The pieces, when the file's layout allows them: its ID3v2 tag, if any, at
// the very start, or its first MPEG frame there. (TagLib also finds a tag
// after leading junk, and an empty tag header it drops; where these lie is
// not told, so such files are edited in place as a whole copy instead.)
std::optional<OnePass> PlanOnePass(TagLib::MPEG::File& mpeg, bool hadId3v2, bool hadId3v1, int version) {
  mpeg.seek(0);
  const bool startsWithTag = mpeg.readBlock(3) == TagLib::ByteVector("ID3", 3);
  const long length = mpeg.length();
  if (length < (hadId3v1 ? 128 : 0)) return std::nullopt;
  OnePass plan;
  if (startsWithTag && hadId3v2)
    plan.keepFrom = mpeg.ID3v2Tag()->header()->completeTagSize();
  else if (startsWithTag || hadId3v2 || mpeg.firstFrameOffset() != 0)
    return std::nullopt;
  plan.keepTo = static_cast<std::uint64_t>(length) - (hadId3v1 ? 128 : 0);
  if (plan.keepFrom > plan.keepTo) return std::nullopt;
  // As TagLib's own save does: an empty tag is dropped, not written.
  TagLib::ID3v2::Tag* tag = mpeg.ID3v2Tag(true);
  if (!tag->isEmpty()) plan.id3v2 = tag->render(Id3v2Version(version));
  if (hadId3v1 && !mpeg.ID3v1Tag()->isEmpty()) plan.id3v1 = mpeg.ID3v1Tag()->render();
  return plan;
}

// The whole-copy path: the temporary file is a copy of the original that
// TagLib edits in place (moving the audio when the tag changes size).
HRESULT SaveInPlace(ReplacingFile& writer, const std::vector<Attribute>& attributes) {
  if (!writer.CopyOriginal()) return SaveFailure(writer.error());
  win32::MappedPath temp = win32::MapPath(writer.temporaryPath().c_str());
  if (!temp.ok()) return SaveFailure(temp.error);
  std::lock_guard<std::mutex> lock(TagLibLock());
  TagLib::MPEG::File mpeg(temp.path.c_str(), false);
  if (!mpeg.isValid()) return NS_E_INVALID_INPUT_FORMAT;
  const bool hadId3v1 = mpeg.hasID3v1Tag();
  int version = 3;
  ApplyAttributes(mpeg, attributes, version);
  int tags = TagLib::MPEG::File::ID3v2 | (hadId3v1 ? TagLib::MPEG::File::ID3v1 : 0);
  if (!mpeg.save(tags, TagLib::File::StripNone, Id3v2Version(version), TagLib::File::DoNotDuplicate))
    return NS_E_FILE_WRITE;
  return S_OK;
}

}  // namespace

HRESULT Mp3File::Save(ReplacingFile& writer) {
  if (damaged_) return NS_E_INVALID_DATA;
  if (!writer.Begin()) return SaveFailure(writer.error());
  // TagLib reads the original (as it is now, under the writers' lock) and
  // renders the new tags; the file is then written once: the new ID3v2 tag,
  // the original's bytes after the old one, the ID3v1 tag.
  win32::MappedPath original = win32::MapPath(writer.target().c_str());
  if (!original.ok()) return SaveFailure(original.error);
  std::optional<OnePass> plan;
  {
    std::lock_guard<std::mutex> lock(TagLibLock());
    TagLib::FileStream stream(original.path.c_str(), true);
    if (!stream.isOpen()) return NS_E_FILE_READ;
    TagLib::MPEG::File mpeg(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!mpeg.isValid()) return NS_E_INVALID_INPUT_FORMAT;
    const bool hadId3v2 = mpeg.hasID3v2Tag();
    const bool hadId3v1 = mpeg.hasID3v1Tag();
    int version = 3;
    ApplyAttributes(mpeg, attributes_, version);
    plan = PlanOnePass(mpeg, hadId3v2, hadId3v1, version);
  }
  if (!plan) {
    const HRESULT hr = SaveInPlace(writer, attributes_);
    if (FAILED(hr)) return hr;
  } else if (!writer.Write(plan->id3v2.data(), plan->id3v2.size()) ||
             !writer.CopyOriginalRange(plan->keepFrom, plan->keepTo - plan->keepFrom) ||
             !writer.Write(plan->id3v1.data(), plan->id3v1.size())) {
    return SaveFailure(writer.error());
  }
  if (!writer.CommitAndHold()) return SaveFailure(writer.error());
  return S_OK;
}

}  // namespace vel::wmf
