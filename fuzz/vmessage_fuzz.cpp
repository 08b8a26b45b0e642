// libFuzzer target for the vMessage reader: arbitrary bytes as a ".vmg" file,
// read with every field selected (text attempt, then the UTF-16LE attempt).
// The reader only takes a path, so each input goes to a file of this process
// first.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "messaging/vmessage/ReadvMessage.h"
#include "platform/text.h"

namespace {

// This process's input file, removed when the fuzzer exits normally.
struct InputFile {
  InputFile() {
    std::random_device random;
    file = std::filesystem::temp_directory_path() / ("vmessage_fuzz_" + std::to_string(random()) + ".vmg");
    path = vel::FromUtf8(file.string());
  }
  ~InputFile() {
    std::error_code error;
    std::filesystem::remove(file, error);
  }
  std::filesystem::path file;
  std::u16string path;
};

const std::u16string& InputPath() {
  static const InputFile input;
  return input.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string& path = InputPath();
  {
    std::ofstream out(vel::ToUtf8(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) return 0;
  }
  vel::vmessage::UniqueRecord record;
  ReadvMessage(path.c_str(), kvMessageAll, record.put());
  return 0;
}
