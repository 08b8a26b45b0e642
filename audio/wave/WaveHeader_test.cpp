// The WAVE header reader on headers built in code: format chunk sizes, chunks
// before "data", odd sizes with their pad byte, and every prefix of a file.
#include "audio/wave/WaveHeader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testing/WaveBuilder.h"

namespace {

using namespace vel::testing;

// A "data" header announcing size bytes, followed by only a few of them.
void DataHeader(Bytes& b, std::uint32_t size) {
  Append(b, "data");
  U32(b, size);
  b.insert(b.end(), 4, 0);
}

struct Case {
  const char* name;
  Bytes bytes;
  bool formatRead;
  std::uint32_t bitrate;
  std::uint32_t sampleRate;
  std::optional<double> duration;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  {
    Bytes b = Header({});
    DataHeader(b, 1764000);
    cases.push_back({"44.1 kHz 16-bit stereo, 1,764,000 data bytes", b, true, 1411200, 44100, 10.0});
  }
  {
    Bytes b = Header({.chunkSize = 14});
    DataHeader(b, 176400);
    // No bits per sample: no sample rate, but bit rate and duration.
    cases.push_back({"14-byte format", b, true, 1411200, 0, 1.0});
  }
  {
    Bytes b = Header({.chunkSize = 18});
    DataHeader(b, 88200);
    cases.push_back({"18-byte format", b, true, 1411200, 44100, 0.5});
  }
  {
    Bytes b = Header({.chunkSize = 40});
    DataHeader(b, 352800);
    cases.push_back({"40-byte format (extensible) skipped whole", b, true, 1411200, 44100, 2.0});
  }
  {
    Bytes b = Header({.chunkSize = 17});
    DataHeader(b, 176400);
    cases.push_back({"17-byte format with its pad byte", b, true, 1411200, 44100, 1.0});
  }
  {
    Bytes b = Header({});
    Chunk(b, "fact", 4);
    DataHeader(b, 176400);
    cases.push_back({"fact before data", b, true, 1411200, 44100, 1.0});
  }
  {
    Bytes b = Header({});
    Chunk(b, "LIST", 27);  // odd: a pad byte follows
    Chunk(b, "fact", 4);
    DataHeader(b, 176400);
    cases.push_back({"odd LIST and fact before data", b, true, 1411200, 44100, 1.0});
  }
  {
    Bytes b = Header({.avgBytesPerSecond = 0});
    DataHeader(b, 176400);
    // Bit rate from bits per sample × rate; no byte rate, no duration.
    cases.push_back({"no byte rate", b, true, 705600, 44100, std::nullopt});
  }
  {
    Bytes b = Header({});
    Chunk(b, "LIST", 8);
    cases.push_back({"no data chunk", b, true, 1411200, 44100, std::nullopt});
  }
  {
    Bytes b = Header({});
    Append(b, "LIST");
    U32(b, 4000);
    b.insert(b.end(), 1000, 0x55);  // 3,000 bytes short
    cases.push_back({"chunk running past the end", b, true, 1411200, 44100, std::nullopt});
  }
  {
    Bytes b = Header({.chunkSize = 12});
    DataHeader(b, 176400);
    cases.push_back({"12-byte format is unknown", b, false, 0, 0, std::nullopt});
  }
  {
    Bytes b = Header({});
    b[8] = 'A';  // "AAVE"
    DataHeader(b, 176400);
    cases.push_back({"not WAVE", b, false, 0, 0, std::nullopt});
  }
  {
    Bytes b = Header({});
    b[0] = 'r';
    DataHeader(b, 176400);
    cases.push_back({"rIFF (letter case counts)", b, false, 0, 0, std::nullopt});
  }
  {
    Bytes b;
    Append(b, "RIFF");
    U32(b, 0);
    Append(b, "WAVE");
    Chunk(b, "LIST", 4);
    Bytes rest = Header({});
    b.insert(b.end(), rest.begin() + 12, rest.end());
    DataHeader(b, 176400);
    cases.push_back({"format chunk not first", b, false, 0, 0, std::nullopt});
  }
  {
    Bytes b = Header({.avgBytesPerSecond = 0x20000000});
    DataHeader(b, 0x20000000);
    // 0x20000000 × 8 wraps to 0 in 32 bits: bits per sample × rate instead.
    cases.push_back({"byte rate × 8 wrapping to 0", b, true, 705600, 44100, 1.0});
  }
  {
    Bytes b = Header({});
    DataHeader(b, 0xFFFFFFFFu);
    cases.push_back({"data size read unsigned", b, true, 1411200, 44100, 4294967295.0 / 176400.0});
  }
  return cases;
}

TEST(WaveHeaderTest, Table) {
  for (const Case& c : Cases()) {
    const WaveHeaderInfo info = ReadWaveHeader(c.bytes);
    EXPECT_EQ(info.formatRead, c.formatRead) << c.name;
    EXPECT_EQ(info.bitrate, c.bitrate) << c.name;
    EXPECT_EQ(info.sampleRate, c.sampleRate) << c.name;
    ASSERT_EQ(info.duration.has_value(), c.duration.has_value()) << c.name;
    if (c.duration) {
      EXPECT_DOUBLE_EQ(*info.duration, *c.duration) << c.name;
    }
  }
}

// Every prefix of a file with chunks before "data": nothing is read past the
// end, and the answer only grows as more of the file is there.
TEST(WaveHeaderTest, EveryPrefix) {
  Bytes full = Header({.chunkSize = 18});
  Chunk(full, "LIST", 9);
  Chunk(full, "fact", 4);
  DataHeader(full, 352800);
  const std::size_t formatEnd = 12 + 8 + 16;    // the fields of the format chunk
  const std::size_t dataSizeEnd = full.size() - 4;  // the "data" chunk's size field
  for (std::size_t n = 0; n <= full.size(); ++n) {
    const Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    const WaveHeaderInfo info = ReadWaveHeader(prefix);
    EXPECT_EQ(info.formatRead, n >= formatEnd) << "prefix " << n;
    EXPECT_EQ(info.bitrate, n >= formatEnd ? 1411200u : 0u) << "prefix " << n;
    EXPECT_EQ(info.sampleRate, n >= formatEnd ? 44100u : 0u) << "prefix " << n;
    EXPECT_EQ(info.duration.has_value(), n >= dataSizeEnd) << "prefix " << n;
    if (info.duration) {
      EXPECT_DOUBLE_EQ(*info.duration, 2.0) << "prefix " << n;
    }
  }
}

}  // namespace
