#include "audio/mp4/Mp4TagTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "ylib/YUtf8.h"

namespace mp4test {

ByteVec U16(std::uint16_t value) { return {static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)}; }

ByteVec U32(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

ByteVec U64(std::uint64_t value) { return Cat({U32(static_cast<std::uint32_t>(value >> 32)), U32(static_cast<std::uint32_t>(value))}); }

ByteVec Text(std::string_view text) { return ByteVec(text.begin(), text.end()); }

ByteVec Zeros(std::size_t count) { return ByteVec(count, 0); }

ByteVec Cat(std::initializer_list<ByteVec> parts) {
  ByteVec out;
  for (const ByteVec& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

ByteVec Atom(std::string_view type, const ByteVec& body) {
  return Cat({U32(static_cast<std::uint32_t>(body.size() + 8)), Text(type), body});
}

ByteVec Atom64(std::string_view type, const ByteVec& body) {
  return Cat({U32(1), Text(type), U64(body.size() + 16), body});
}

ByteVec Data(std::uint32_t dataType, const ByteVec& payload) { return Atom("data", Cat({U32(dataType), U32(0), payload})); }

ByteVec Item(std::string_view type, std::uint32_t dataType, const ByteVec& payload) {
  return Atom(type, Data(dataType, payload));
}

ByteVec Freeform(std::string_view name, std::uint32_t dataType, const ByteVec& payload) {
  return Atom("----", Cat({Atom("mean", Cat({U32(0), Text("com.apple.iTunes")})), Atom("name", Cat({U32(0), Text(name)})),
                           Data(dataType, payload)}));
}

ByteVec Ftyp(std::string_view brand) { return Atom("ftyp", Cat({Text(brand), U32(0), Text("isomiso2")})); }

ByteVec Mvhd(int version, std::uint32_t timescale, std::uint64_t duration) {
  if (version == 1) {
    return Atom("mvhd", Cat({U32(0x01000000), U64(0), U64(0), U32(timescale), U64(duration), Zeros(80)}));
  }
  return Atom("mvhd", Cat({U32(0), U32(0), U32(0), U32(timescale), U32(static_cast<std::uint32_t>(duration)), Zeros(80)}));
}

ByteVec Trak(std::uint32_t timescale) {
  const ByteVec mdhd = Atom("mdhd", Cat({U32(0), U32(0), U32(0), U32(timescale), U32(0), U32(0)}));
  return Atom("trak", Cat({Atom("tkhd", Zeros(84)), Atom("mdia", Cat({mdhd, Atom("hdlr", Zeros(25))}))}));
}

ByteVec UserData(const ByteVec& items) {
  const ByteVec hdlr = Atom("hdlr", Cat({U32(0), U32(0), Text("mdirappl"), Zeros(9)}));
  return Atom("udta", Atom("meta", Cat({U32(0), hdlr, Atom("ilst", items)})));
}

ByteVec SmallFile(const ByteVec& items, std::uint64_t duration, std::size_t mdatBody, std::string_view brand) {
  return Cat({Ftyp(brand), Atom("moov", Cat({Mvhd(0, 44100, duration), Trak(44100), UserData(items)})),
              Atom("mdat", Zeros(mdatBody))});
}

ByteVec AdtsFrame(int samplingIndex, std::size_t length) {
  ByteVec frame(std::max<std::size_t>(length, 7), 0);  // a length below 7 is a damaged header
  frame[0] = 0xFF;
  frame[1] = 0xF1;  // MPEG-4, layer 0, no CRC
  frame[2] = static_cast<std::uint8_t>((1 << 6) | (samplingIndex << 2));  // AAC LC
  frame[3] = static_cast<std::uint8_t>((2 << 6) | ((length >> 11) & 3));  // two channels
  frame[4] = static_cast<std::uint8_t>(length >> 3);
  frame[5] = static_cast<std::uint8_t>(((length & 7) << 5) | 0x1F);
  frame[6] = 0xFC;
  return frame;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmp4-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

std::u16string TempDir::PathOf(std::string_view name) const { return YUtf8ToUtf16((path_ / name).string()); }

std::u16string TempDir::Write(std::string_view name, const ByteVec& bytes) const {
  std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file");
  return PathOf(name);
}

ByteVec ReadFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return ByteVec(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool HaveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

bool RunFfmpeg(const std::string& args) {
  return std::system(("ffmpeg -v error -nostdin -y " + args + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ProbeTags(const std::filesystem::path& file) {
  const std::string command = "ffprobe -v error -show_entries format_tags -of default=nw=1:nk=0 '" + file.string() + "'";
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    pclose(pipe);
  }
  return out;
}

bool DecodesCleanly(const std::filesystem::path& file) {
  const std::string command =
      "test -z \"$(ffmpeg -v error -nostdin -i '" + file.string() + "' -f null - 2>&1)\"";
  return std::system(command.c_str()) == 0;
}

}  // namespace mp4test
