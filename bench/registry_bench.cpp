// Registry reads as the module does them: open a key by path, read a string
// value, close. Run with --benchmark_repetitions=10 to see the median.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/registry/winreg.h"
#include "platform/win32/UniqueHandles.h"
#include "testing/TempRegistry.h"

namespace {

constexpr const char16_t* kPluginKey =
    u"SOFTWARE\\Zandor\\VelPlatform\\ItemPlugins\\{6D1E2B7A-0C55-4F7E-9E7A-2B8D1C0A4E11}";

class Store {
 public:
  Store() : registry_("velreg-bench") {
    vel::UniqueHKey key;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    const char16_t mimes[] = u"audio/mp4|audio/aac|audio/3gpp|audio/x-ms-wma";
    RegSetValueExW(key.get(), u"SupportedMIMEs", 0, REG_SZ, reinterpret_cast<const BYTE*>(mimes), sizeof mimes);
    for (const char16_t* ext : {u".m4a", u".mp4", u".aac", u".wma", u".3gp"}) {
      RegSetValueExW(key.get(), ext, 0, REG_SZ, reinterpret_cast<const BYTE*>(mimes), 20);
    }
  }

 private:
  vel::testing::TempRegistry registry_;
};

void BM_OpenReadClose(benchmark::State& state) {
  static Store store;
  char16_t buf[256];
  for (auto _ : state) {
    vel::UniqueHKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
      state.SkipWithError("open failed");
      break;
    }
    DWORD type = 0;
    DWORD cb = sizeof buf;
    LONG rc = RegQueryValueExW(key.get(), u"SupportedMIMEs", nullptr, &type, reinterpret_cast<BYTE*>(buf), &cb);
    key.reset();  // the close is part of what is measured
    if (rc != ERROR_SUCCESS) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_OpenReadClose);

// A value read through a key that stays open: served from memory while the
// store does not change.
void BM_ReadOpenKey(benchmark::State& state) {
  static Store store;
  vel::UniqueHKey key;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, KEY_READ, key.put());
  char16_t buf[256];
  for (auto _ : state) {
    DWORD cb = sizeof buf;
    if (RegQueryValueExW(key.get(), u"SupportedMIMEs", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb) !=
        ERROR_SUCCESS) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_ReadOpenKey);

// The first read after the store changed (a write, untimed, before each):
// it goes to the store itself.
void BM_ReadAfterAChange(benchmark::State& state) {
  static Store store;
  vel::UniqueHKey key;
  RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, KEY_ALL_ACCESS, key.put());
  char16_t buf[256];
  DWORD n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ++n;
    RegSetValueExW(key.get(), u"Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    state.ResumeTiming();
    DWORD cb = sizeof buf;
    if (RegQueryValueExW(key.get(), u"SupportedMIMEs", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb) !=
        ERROR_SUCCESS) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_ReadAfterAChange);

// The same through HKEY_CLASSES_ROOT, as activation reads InprocServer32.
void BM_ClassesRootRead(benchmark::State& state) {
  static Store store;
  static bool made = [] {
    vel::UniqueHKey key;
    RegCreateKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{6D1E2B7A-0C55-4F7E-9E7A-2B8D1C0A4E11}\\InprocServer32", 0, nullptr,
                    0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    const char16_t path[] = u"/usr/lib/velitems/libVelItemPlugins.so";
    RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path);
    return true;
  }();
  benchmark::DoNotOptimize(made);
  char16_t buf[256];
  for (auto _ : state) {
    vel::UniqueHKey key;
    RegOpenKeyExW(HKEY_CLASSES_ROOT, u"CLSID\\{6D1E2B7A-0C55-4F7E-9E7A-2B8D1C0A4E11}\\InprocServer32", 0, KEY_READ,
                  key.put());
    DWORD cb = sizeof buf;
    RegQueryValueExW(key.get(), nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb);
    key.reset();
    benchmark::DoNotOptimize(buf);
  }
}
BENCHMARK(BM_ClassesRootRead);

}  // namespace

BENCHMARK_MAIN();
