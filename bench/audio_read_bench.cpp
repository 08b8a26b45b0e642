// ReadMetadata of ".m4a" files that differ only in the size of their media
// data (1 MiB and 1 GiB, sparse, so they cost no disk): the audio plugin maps
// the file and reads its headers only, so both take about the same time.
// Compare the two medians: run with --benchmark_repetitions=10.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "module/VelItemPluginsLib.h"
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
    small = store_.dir() + "/small.m4a";
    large = store_.dir() + "/large.m4a";
    MakeM4a(small, std::uint64_t{1} << 20);
    MakeM4a(large, std::uint64_t{1} << 30);
  }
  ~Setup() { plugin = nullptr; }

 private:
  BenchModuleStore store_;  // first in, last out

 public:
  ComPtr<IVelItemPlugin> plugin;
  std::string small;
  std::string large;
};

Setup& TheSetup() {
  static Setup setup;
  return setup;
}

void ReadMetadata(benchmark::State& state, bool large) {
  Setup& setup = TheSetup();
  _bstr_t path(vel::FromUtf8(large ? setup.large : setup.small).c_str());
  for (auto _ : state) {
    ComPtr<IVelItem> item;
    if (setup.plugin->ReadMetadata(path, &item) != S_OK || !item) state.SkipWithError("ReadMetadata failed");
    benchmark::DoNotOptimize(item.GetInterfacePtr());
  }
}

BENCHMARK_CAPTURE(ReadMetadata, media_1MiB, false);
BENCHMARK_CAPTURE(ReadMetadata, media_1GiB, true);

}  // namespace
