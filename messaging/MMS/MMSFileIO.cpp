#include "messaging/MMS/MMSFileIO.h"

#include <algorithm>
#include <limits>
#include <string>

#include "platform/win32/UniqueHandles.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winerror.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFileUtilities.h"
#include "ylib/YReplacingFile.h"

namespace {

constexpr char16_t kSource[] = u"MMSFileIO";

// "same.txt" as "same (2).txt"; a name without an extension (or a leading
// dot only) takes the number at its end.
std::u16string NumberedName(std::u16string_view name, int number) {
  const std::size_t dot = name.rfind(u'.');
  const std::size_t split = dot == std::u16string_view::npos || dot == 0 ? name.size() : dot;
  std::u16string result(name.substr(0, split));
  for (const char c : " (" + std::to_string(number) + ")") result += static_cast<char16_t>(c);
  result += name.substr(split);
  return result;
}

}  // namespace

namespace vel::mms {

ReadResult ReadWholeFile(const char16_t* path, std::vector<std::uint8_t>& bytes) {
  return YErrorFrame({u"vel::mms::ReadWholeFile", kSource, __LINE__}, [&] {
    bytes.clear();
    LARGE_INTEGER size{};
    const UniqueFile file(vel::OpenFileForReading(path, &size.QuadPart));
    if (!file.valid()) return ReadResult::kOpenFailed;
    if (size.QuadPart < 0) return ReadResult::kReadFailed;
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

std::u16string WriteNewFile(std::u16string_view folder, std::u16string_view name, const std::uint8_t* data,
                            std::size_t size) {
  return YErrorFrame({u"vel::mms::WriteNewFile", kSource, __LINE__}, [&]() -> std::u16string {
    constexpr int kMostVariants = 1000;
    for (int number = 1; number <= kMostVariants; ++number) {
      const std::u16string path = CYFileUtilities::ConcatPathname(
          folder, number == 1 ? std::u16string(name) : NumberedName(name, number), kNativePathSeparator);
      // CREATE_NEW fails on any existing name, a link included (dangling or
      // not), so nothing outside the folder can be reached through one.
      UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid()) {
        const DWORD error = GetLastError();
        if (error == static_cast<DWORD>(ERROR_FILE_EXISTS) || error == static_cast<DWORD>(ERROR_ALREADY_EXISTS) ||
            error == static_cast<DWORD>(ERROR_ACCESS_DENIED)) {
          // ERROR_ACCESS_DENIED: a folder of that name (the platform's answer).
          if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES || error != ERROR_ACCESS_DENIED) continue;
        }
        return {};
      }
      bool ok = true;
      for (std::size_t done = 0; ok && done < size;) {
        const auto step = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
        DWORD written = 0;
        ok = WriteFile(file.get(), data + done, step, &written, nullptr) && written == step;
        done += written;
      }
      ok = CloseHandle(file.release()) && ok;
      if (ok) return path;
      DeleteFileW(path.c_str());
      return {};
    }
    return {};
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
