// Test helpers for the MP4 tag editor: a small builder of atoms and files, a
// temporary folder per test, and ffmpeg for real files.
//
// Thread safety: test code for one thread; the builders are pure functions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace mp4test {

using ByteVec = std::vector<std::uint8_t>;

ByteVec U16(std::uint16_t value);
ByteVec U32(std::uint32_t value);
ByteVec U64(std::uint64_t value);
ByteVec Text(std::string_view text);
ByteVec Zeros(std::size_t count);
ByteVec Cat(std::initializer_list<ByteVec> parts);

// size (32-bit, big-endian), type, body.
ByteVec Atom(std::string_view type, const ByteVec& body);
// size 1, type, 64-bit size, body.
ByteVec Atom64(std::string_view type, const ByteVec& body);
// "data": type word, locale 0, payload.
ByteVec Data(std::uint32_t dataType, const ByteVec& payload);
// An ilst item holding one data atom.
ByteVec Item(std::string_view type, std::uint32_t dataType, const ByteVec& payload);
ByteVec Freeform(std::string_view name, std::uint32_t dataType, const ByteVec& payload);

ByteVec Ftyp(std::string_view brand);
ByteVec Mvhd(int version, std::uint32_t timescale, std::uint64_t duration);
ByteVec Trak(std::uint32_t timescale);
// udta > meta (version 0) > hdlr, ilst(items).
ByteVec UserData(const ByteVec& items);
// ftyp(brand), moov(mvhd 44,100 Hz / duration, trak, udta(items)), mdat(mdatBody).
ByteVec SmallFile(const ByteVec& items, std::uint64_t duration = 441000, std::size_t mdatBody = 992,
                  std::string_view brand = "M4A ");

// One ADTS frame header (7 bytes, no CRC) for the sampling index and a frame
// length (header included), followed by length - 7 zero bytes; a length
// below 7 still gives the 7 header bytes.
ByteVec AdtsFrame(int samplingIndex, std::size_t length);

// A temporary folder below TMPDIR, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::filesystem::path path() const { return path_; }
  // Writes bytes to a file in the folder; its path as the editor takes it.
  std::u16string Write(std::string_view name, const ByteVec& bytes) const;
  std::u16string PathOf(std::string_view name) const;

 private:
  std::filesystem::path path_;
};

ByteVec ReadFileBytes(const std::filesystem::path& file);

bool HaveFfmpeg();
// Runs ffmpeg with args (quiet, overwriting); true when it succeeded.
bool RunFfmpeg(const std::string& args);
// The format tags ffprobe sees in a file, as "key=value" lines.
std::string ProbeTags(const std::filesystem::path& file);
// Whether ffmpeg decodes the whole file without an error.
bool DecodesCleanly(const std::filesystem::path& file);

}  // namespace mp4test
