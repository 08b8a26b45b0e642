#include "audio/MappedFile.h"

#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"

namespace {
// Files up to this size are read whole rather than mapped.
constexpr std::int64_t kReadWholeUpTo = 256 * 1024;
}  // namespace

void CMappedFile::Close() noexcept {
  view_.reset();
  buffer_.clear();
  size_ = 0;
}

CMappedFile::Status CMappedFile::Open(const std::u16string& path) {
  Close();
  LARGE_INTEGER size{};
  const vel::UniqueFile file(vel::OpenFileForReading(path.c_str(), &size.QuadPart));
  if (!file) return Status::kOpenFailed;
  if (size.QuadPart <= 0) return Status::kEmpty;
  if (size.QuadPart <= kReadWholeUpTo) {
    // A file that shrinks meanwhile gives what is there.
    buffer_.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t got = 0;
    while (got < buffer_.size()) {
      DWORD n = 0;
      if (!ReadFile(file.get(), buffer_.data() + got, static_cast<DWORD>(buffer_.size() - got), &n, nullptr)) {
        Close();
        return Status::kOpenFailed;
      }
      if (n == 0) break;
      got += n;
    }
    buffer_.resize(got);
    size_ = got;
    return got == 0 ? Status::kEmpty : Status::kOk;
  }
  // The view keeps the file mapped on its own: the handles close here.
  const vel::UniqueMapping mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return Status::kMapFailed;
  view_.reset(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view_) return Status::kMapFailed;
  size_ = static_cast<std::size_t>(size.QuadPart);
  return Status::kOk;
}
