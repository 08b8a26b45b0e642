#include "audio/MappedFile.h"

#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"

void CMappedFile::Close() noexcept {
  view_.reset();
  size_ = 0;
}

CMappedFile::Status CMappedFile::Open(const std::u16string& path) {
  Close();
  const vel::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return Status::kOpenFailed;
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) == FALSE) return Status::kOpenFailed;
  if (size.QuadPart <= 0) return Status::kEmpty;
  // The view keeps the file mapped on its own: the handles close here.
  const vel::UniqueMapping mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return Status::kMapFailed;
  view_.reset(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view_) return Status::kMapFailed;
  size_ = static_cast<std::size_t>(size.QuadPart);
  return Status::kOk;
}
