// The MP4 tag reader and the udta builder on a file built in memory: 200
// text items, a 1 MiB cover and 4 MiB of media data behind the movie.
// ParseImage reads only the atoms it walks, so its cost should follow the
// size of the tags, not of the file; BuildUserData writes every unchanged
// item back from its raw bytes.
#include <benchmark/benchmark.h>

#include <string>

#include "audio/mp4/TagBase.h"
#include "testing/Mp4Builder.h"
#include "testing/TempDir.h"
#include "testing/Tools.h"

namespace {

using namespace vel::testing;

const ByteVec& File() {
  static const ByteVec file = [] {
    ByteVec items;
    for (int i = 0; i < 200; ++i) {
      const ByteVec item = Freeform("note" + std::to_string(i), 1, Text("some text of moderate length " + std::to_string(i)));
      items.insert(items.end(), item.begin(), item.end());
    }
    const ByteVec cover = Item("covr", 13, ByteVec(1 << 20, 0x5A));
    items.insert(items.end(), cover.begin(), cover.end());
    return SmallFile(Cat({Item("\xA9nam", 1, Text("Title")), items}), 441000, 4 << 20);
  }();
  return file;
}

void BM_ParseImage(benchmark::State& state) {
  const ByteVec& file = File();
  for (auto _ : state) {
    CTagBase base;
    benchmark::DoNotOptimize(base.ParseImage(file, u".m4a"));
    CMetaDataItemList records;
    base.CollectRecords(records);
    benchmark::DoNotOptimize(records.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(file.size()));
}
BENCHMARK(BM_ParseImage);

void BM_BuildUserData(benchmark::State& state) {
  CTagBase base;
  if (!base.ParseImage(File(), u".m4a")) {
    state.SkipWithError("the built file did not parse");
    return;
  }
  base.SetFrameValue("\xA9nam", _variant_t(u"Another title"), 1);
  for (auto _ : state) {
    const auto udta = base.BuildUserData({}, base.ByteOrder());
    benchmark::DoNotOptimize(udta.data());
  }
}
BENCHMARK(BM_BuildUserData);

}  // namespace
