#include "audio/MappedFile.h"

#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"

CMappedFile::~CMappedFile() { Close(); }

void CMappedFile::Close() noexcept {
  if (data_ != nullptr) UnmapViewOfFile(data_);
  data_ = nullptr;
  size_ = 0;
}

CMappedFile::Status CMappedFile::Open(const std::u16string& path) {
  Close();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Status::kOpenFailed;
  LARGE_INTEGER size{};
  const bool sized = GetFileSizeEx(file, &size) != FALSE;
  if (!sized || size.QuadPart <= 0) {
    CloseHandle(file);
    return sized ? Status::kEmpty : Status::kOpenFailed;
  }
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  CloseHandle(file);
  if (mapping == nullptr) return Status::kMapFailed;
  const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  CloseHandle(mapping);
  if (view == nullptr) return Status::kMapFailed;
  data_ = static_cast<const std::uint8_t*>(view);
  size_ = static_cast<std::size_t>(size.QuadPart);
  return Status::kOk;
}
