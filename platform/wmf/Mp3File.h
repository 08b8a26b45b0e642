// vel::wmf::Mp3File: the MP3 back end, through TagLib. ID3v2 frames (ID3v1
// fields when there is no ID3v2 tag) become attributes by the platform's ID3
// table: TIT2 Title, TPE1 Author, TALB WM/AlbumTitle, TRCK WM/TrackNumber,
// TYER/TDRC WM/Year, TCON WM/Genre, COMM (no description) Description, TCOP
// Copyright, TPE2 WM/AlbumArtist, TCOM WM/Composer, TEXT WM/Writer, TPUB
// WM/Publisher, TOPE WM/OriginalArtist, TPOS WM/PartOfSet, APIC WM/Picture,
// MCDI WM/MCDI, USLT WM/Lyrics; a TXXX frame gives the attribute its
// description names, so any other text attribute written comes back.
// Numbers (DWORD, QWORD, WORD; BOOL as 1 or 0) are stored as decimal text in
// the same frames and, like every ID3 text, read back as STRING. A GUID,
// bytes other than a picture or MCDI, and attributes of a stream cannot be
// stored: CanHold refuses them.
// The MPEG stream (VBR headers included) gives Duration, Bitrate and the
// stream's WAVEFORMATEX.
//
// Save rewrites the mapped frames, every other frame and tag stays; the
// ID3v2 version is kept (a new tag is 2.3) and an ID3v1 tag is updated only
// where there is one. TagLib reads the original and renders the new tags, and
// the file is written once: the new ID3v2 tag, the original's bytes after the
// old one (the audio, further ID3v2 tags, an APEv2 tag, byte for byte), the
// ID3v1 tag in place of the old one. A file whose first ID3v2 tag or MPEG
// frame is not at its very start (leading junk) is copied whole and edited
// in place by TagLib instead, which moves the audio once more.
// A damaged file (its ID3v2 tag runs past the end, or no MPEG frame follows
// it) is read as far as it goes but never saved: Save answers
// NS_E_INVALID_DATA and the file stays as it is.
//
// Thread safety: every use of TagLib is serialised by one process-wide lock
// (TagLib does not promise thread safety; parallel reads without the lock
// showed no race under ThreadSanitizer, but the lock costs little beside the
// file reads). An object is used by one thread at a time.
#pragma once

#include <span>
#include <string>

#include "platform/wmf/Container.h"

namespace vel::wmf {

class Mp3File final : public Container {
 public:
  // True when bytes begin like an MP3 file (an ID3v2 tag or a frame sync).
  static bool Recognises(std::span<const std::uint8_t> bytes);
  // Reads the file at nativePath (a Linux path), open for reading as fd;
  // NS_E_INVALID_INPUT_FORMAT when TagLib finds no MPEG stream.
  static HRESULT Open(const std::string& nativePath, int fd, std::uint64_t fileSize, std::unique_ptr<Container>& out);

  std::vector<Attribute> ComputedAttributes() const override;
  std::vector<StreamInfo> Streams() const override;
  bool CanHold(const Attribute& attribute) const override;
  HRESULT Save(ReplacingFile& writer) override;
  std::unique_ptr<Container> Clone() const override { return std::unique_ptr<Container>(new Mp3File(*this)); }

 private:
  std::uint64_t fileSize_ = 0;
  std::uint64_t duration_ = 0;  // 100-ns units
  std::uint32_t bitrate_ = 0;   // bits per second
  std::uint32_t sampleRate_ = 0;
  std::uint16_t channels_ = 0;
  bool vbr_ = false;
  bool damaged_ = false;  // cut inside its ID3v2 tag, or no MPEG frame: never saved
};

}  // namespace vel::wmf
