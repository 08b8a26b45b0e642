// Decoding and unpacking the largest message of the MMS corpus: ParseMmsMessage,
// then every part written into a temporary folder under its safe name, as the
// plugin's extraction does. Throughput is the message's size per iteration.
// The corpus is $VEL_SOURCE_DIR/../shared/corpus/mms (the source folder given
// at configure time when VEL_SOURCE_DIR is unset); without it the benchmark is
// skipped with a message.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "messaging/MMS/MMSCodec2.h"
#include "messaging/MMS/PartFileName.h"
#include "messaging/MMS/WspCoding.h"
#include "platform/text.h"
#include "testing/TempRegistry.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSmilCode = 0x7D;

// The largest regular file of the corpus, or an empty path.
fs::path LargestCorpusFile() {
  const char* source = std::getenv("VEL_SOURCE_DIR");
  const fs::path dir = fs::path(source != nullptr ? source : VEL_CONFIGURED_SOURCE_DIR) / ".." / "shared" / "corpus" / "mms";
  std::error_code error;
  fs::path best;
  std::uintmax_t bestSize = 0;
  for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_regular_file(error)) continue;
    const std::uintmax_t size = it->file_size(error);
    if (!error && size > bestSize) {
      best = it->path();
      bestSize = size;
    }
  }
  return best;
}

// A fresh registry store, so logging never reads the user's configuration, and
// a folder for the parts.
class Setup {
 public:
  vel::testing::TempRegistry registry{"velmms-bench"};
  const std::string& dir = registry.dir();
};

void BM_DecodeAndExtractLargest(benchmark::State& state) {
  const fs::path file = LargestCorpusFile();
  if (file.empty()) {
    state.SkipWithError("no MMS corpus (set VEL_SOURCE_DIR to the source folder beside shared/corpus/mms)");
    return;
  }
  Setup setup;
  const std::u16string path = vel::FromUtf8(file.string());
  const std::u16string folder = vel::FromUtf8(setup.dir) + u"/";
  const auto size = static_cast<std::int64_t>(fs::file_size(file));
  std::size_t parts = 0;
  for (auto _ : state) {
    CMMSCodec2 codec;
    if (codec.ParseMmsMessage(path) != 0) {
      state.SkipWithError(("does not decode: " + file.string()).c_str());
      return;
    }
    const CMultipartContainer& container = *codec.GetContainer();
    parts = container.Count();
    for (std::size_t i = 0; i < parts; ++i) {
      CMultipartFile& part = *container.At(i);
      std::u16string name = vel::wsp::BytesToWide(part.location, 0);
      if (part.contentType == kSmilCode) {
        if (name.empty()) name = u"pres.smil";
        part.NormalizeSmil();
      }
      const std::u16string target = folder + vel::mms::MakeSafePartFileName(name, i, part);
      benchmark::DoNotOptimize(part.WriteToFile(target.c_str()));
    }
  }
  state.SetBytesProcessed(state.iterations() * size);
  state.SetLabel(file.filename().string() + ", " + std::to_string(size) + " bytes, " + std::to_string(parts) + " parts");
}
// Wall time: the parts are written to disk, and that is part of what is measured.
BENCHMARK(BM_DecodeAndExtractLargest)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
