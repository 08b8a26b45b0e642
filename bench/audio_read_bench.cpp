// ReadMetadata of ".m4a" files that differ only in the size of their media
// data (1 MiB and 1 GiB, sparse, so they cost no disk): the audio plugin maps
// the file and reads its headers only, so both take about the same time.
// Compare the two medians: run with --benchmark_repetitions=10. Also the
// per-file cost of small files (a 4 KiB ".m4a", a 44-byte ".wav" header with a
// little data), which are read whole.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "contract/VelItemPluginsLib.h"
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/text.h"
#include "testing/BenchModuleStore.h"

using namespace vel::testing;

namespace {

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// An atom around body.
std::vector<std::uint8_t> Atom(const char* type, const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> out;
  Put32(out, static_cast<std::uint32_t>(body.size() + 8));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// ftyp, moov (mvhd, trak (tkhd, mdia (mdhd)), udta (meta (hdlr, ilst (©nam)))), then an mdat of
// mediaBytes whose contents are a hole in the file.
void MakeM4a(const std::string& path, std::uint64_t mediaBytes) {
  std::vector<std::uint8_t> mvhd(100, 0);
  mvhd[15] = 0xE8, mvhd[14] = 0x03;                        // timescale 1,000
  mvhd[16] = 0, mvhd[17] = 0, mvhd[18] = 0x27, mvhd[19] = 0x10;  // duration 10,000: 10 s
  std::vector<std::uint8_t> mdhd(24, 0);
  mdhd[12] = 0, mdhd[13] = 0, mdhd[14] = 0xAC, mdhd[15] = 0x44;  // timescale 44,100
  std::vector<std::uint8_t> hdlr = {0, 0, 0, 0, 0, 0, 0, 0, 'm', 'd', 'i', 'r', 'a', 'p', 'p', 'l', 0, 0, 0, 0,
                                    0, 0, 0, 0, 0, 0};
  std::vector<std::uint8_t> data = {0, 0, 0, 1, 0, 0, 0, 0, 'S', 'o', 'n', 'g'};
  std::vector<std::uint8_t> metaBody = {0, 0, 0, 0};
  auto metaChildren = Join({Atom("hdlr", hdlr), Atom("ilst", Atom("\xA9nam", Atom("data", data)))});
  metaBody.insert(metaBody.end(), metaChildren.begin(), metaChildren.end());
  auto file = Join({Atom("ftyp", {'M', '4', 'A', ' ', 0, 0, 0, 0, 'M', '4', 'A', ' ', 'm', 'p', '4', '2'}),
                    Atom("moov", Join({Atom("mvhd", mvhd),
                                       Atom("trak", Join({Atom("tkhd", std::vector<std::uint8_t>(84, 0)),
                                                          Atom("mdia", Atom("mdhd", mdhd))})),
                                       Atom("udta", Atom("meta", metaBody))}))});
  Put32(file, static_cast<std::uint32_t>(mediaBytes + 8));
  file.insert(file.end(), {'m', 'd', 'a', 't'});
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  }
  std::filesystem::resize_file(path, file.size() + mediaBytes);
}

// A fresh store with the modules registered, the audio plugin and the two files.
class Setup {
 public:
  Setup() : store_("velaudio-bench") {
    if (FAILED(CoCreateInstance(CLSID_VelItemAudio, nullptr, CLSCTX_ALL, IID_IVelItemPlugin,
                                reinterpret_cast<void**>(&plugin))))
      std::abort();
    tiny = store_.dir() + "/tiny.m4a";
    small = store_.dir() + "/small.m4a";
    large = store_.dir() + "/large.m4a";
    wave = store_.dir() + "/tiny.wav";
    MakeM4a(tiny, 4096);
    MakeM4a(small, std::uint64_t{1} << 20);
    MakeM4a(large, std::uint64_t{1} << 30);
    // RIFF/WAVE, a 16-byte PCM format chunk (2 channels, 44.1 kHz, 16 bits), 4 KiB of data.
    std::vector<std::uint8_t> header = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
                                        16, 0, 0, 0, 1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                                        4, 0, 16, 0, 'd', 'a', 't', 'a', 0, 0x10, 0, 0};
    header.resize(header.size() + 4096, 0);
    std::ofstream(wave, std::ios::binary).write(reinterpret_cast<const char*>(header.data()),
                                                static_cast<std::streamsize>(header.size()));
  }
  ~Setup() { plugin = nullptr; }

 private:
  BenchModuleStore store_;  // first in, last out

 public:
  ComPtr<IVelItemPlugin> plugin;
  std::string tiny;
  std::string small;
  std::string large;
  std::string wave;
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void ReadMetadata(benchmark::State& state, std::string Setup::*file) {
  Setup& setup = TheSetup();
  _bstr_t path(vel::FromUtf8(setup.*file).c_str());
  for (auto _ : state) {
    ComPtr<IVelItem> item;
    if (setup.plugin->ReadMetadata(path, &item) != S_OK || !item) state.SkipWithError("ReadMetadata failed");
    benchmark::DoNotOptimize(item.GetInterfacePtr());
  }
}

BENCHMARK_CAPTURE(ReadMetadata, small_m4a, &Setup::tiny);
BENCHMARK_CAPTURE(ReadMetadata, small_wav, &Setup::wave);
BENCHMARK_CAPTURE(ReadMetadata, media_1MiB, &Setup::small);
BENCHMARK_CAPTURE(ReadMetadata, media_1GiB, &Setup::large);

}  // namespace
