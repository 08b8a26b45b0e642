#include "messaging/MMS/MMSFileIO.h"

#include <limits>
#include <string>

#include "platform/win32/UniqueHandles.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winerror.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YReplacingFile.h"

namespace {

constexpr char16_t kSource[] = u"MMSFileIO";

}  // namespace

namespace vel::mms {

ReadResult ReadWholeFile(const char16_t* path, std::vector<std::uint8_t>& bytes) {
  return YErrorFrame({u"vel::mms::ReadWholeFile", kSource, __LINE__}, [&] {
    bytes.clear();
    const UniqueFile file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return ReadResult::kOpenFailed;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return ReadResult::kReadFailed;
    if (size.QuadPart == 0) return ReadResult::kEmpty;
    // Offsets and lengths of a message are 32-bit; a larger file cannot be one.
    if (static_cast<std::uint64_t>(size.QuadPart) > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
      return ReadResult::kReadFailed;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t total = 0;
    while (total < bytes.size()) {
      DWORD got = 0;
      if (!ReadFile(file.get(), bytes.data() + total, static_cast<DWORD>(bytes.size() - total), &got, nullptr) ||
          got == 0) {
        break;
      }
      total += got;
    }
    bytes.resize(total);
    return total == 0 ? ReadResult::kReadFailed : ReadResult::kOk;
  });
}

bool WriteFileReplacing(const char16_t* path, const std::uint8_t* data, std::size_t size) {
  return YErrorFrame({u"vel::mms::WriteFileReplacing", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0) return false;
    CYReplacingFile file(path);
    return file.Open() && file.Write(data, size) && file.Commit();
  });
}

}  // namespace vel::mms
