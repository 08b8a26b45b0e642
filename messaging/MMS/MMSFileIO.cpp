#include "messaging/MMS/MMSFileIO.h"

#include <limits>
#include <string>

#include "platform/win32/fileapi.h"
#include "platform/win32/winerror.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YReplacingFile.h"

namespace {

constexpr char16_t kSource[] = u"MMSFileIO";

// A file handle closed when the holder goes.
class CMmsFileHandle {
 public:
  explicit CMmsFileHandle(HANDLE h) : m_h(h) {}
  CMmsFileHandle(const CMmsFileHandle&) = delete;
  CMmsFileHandle& operator=(const CMmsFileHandle&) = delete;
  ~CMmsFileHandle() { Close(); }
  bool valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
  HANDLE get() const { return m_h; }
  bool Close() {
    if (!valid()) return true;
    const BOOL ok = CloseHandle(m_h);
    m_h = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE m_h;
};

}  // namespace

MmsReadResult MmsReadWholeFile(const char16_t* path, std::vector<std::uint8_t>& bytes) {
  return YErrorFrame({u"MmsReadWholeFile", kSource, __LINE__}, [&] {
    bytes.clear();
    CMmsFileHandle file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return MmsReadResult::kOpenFailed;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return MmsReadResult::kReadFailed;
    if (size.QuadPart == 0) return MmsReadResult::kEmpty;
    // Offsets and lengths of a message are 32-bit; a larger file cannot be one.
    if (static_cast<std::uint64_t>(size.QuadPart) > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
      return MmsReadResult::kReadFailed;
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
    return total == 0 ? MmsReadResult::kReadFailed : MmsReadResult::kOk;
  });
}

bool MmsWriteFileReplacing(const char16_t* path, const std::uint8_t* data, std::size_t size) {
  return YErrorFrame({u"MmsWriteFileReplacing", kSource, __LINE__}, [&] {
    if (path == nullptr || *path == 0) return false;
    CYReplacingFile file(path);
    return file.Open() && file.Write(data, size) && file.Commit();
  });
}
