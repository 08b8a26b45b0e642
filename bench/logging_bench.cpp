// The cost of a debug-level log call when no sink debugs: the common case in
// every traced function, so it must stay a check, not a formatting.
#include <benchmark/benchmark.h>

#include "ylib/YLogging.h"

namespace {

void BM_LogDebugWithoutDebuggingSink(benchmark::State& state) {
  // The defaults (no configuration) have no debugging sink.
  CYLogging::Instance().InstallSinks(nullptr, nullptr);
  const std::u16string name = u"CYFoo::Bar";
  for (auto _ : state) {
    CYLogging::Log(kYLogDebug, u"0x%04x\t\t%s Entered %.8f\n", 1234, name, 1.5);
  }
}
BENCHMARK(BM_LogDebugWithoutDebuggingSink);

void BM_FormatLogLine(benchmark::State& state) {
  const std::u16string when = u"01.02.2024 10:11:12";
  for (auto _ : state) {
    benchmark::DoNotOptimize(YFormat(u"%s [%-10s] TID:%d : %s\n", when, u"WARNING", 4242u, u"text"));
  }
}
BENCHMARK(BM_FormatLogLine);

}  // namespace
