#include "ylib/YReplacingFile.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <utility>

#include "platform/win32/fileapi.h"
#include "platform/win32/winbase.h"
#include "platform/win32/winerror.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"

namespace {

constexpr char16_t kSource[] = u"YReplacingFile";

// One WriteFile call takes at most this many bytes.
constexpr std::uint64_t kWriteStep = 8u << 20;

// A name beside path that no other writer picks at the same moment.
std::u16string TemporaryNameFor(const std::u16string& path) {
  static std::atomic<unsigned> counter{0};
  static const unsigned salt = std::random_device{}();
  return YFormat(u"%s.%08x%04x.tmp", path, salt, (counter++ & 0xFFFFu));
}

bool IsOpen(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

}  // namespace

CYReplacingFile::CYReplacingFile(std::u16string path) : m_path(std::move(path)) {}

CYReplacingFile::~CYReplacingFile() { Discard(); }

void CYReplacingFile::Discard() noexcept {
  if (IsOpen(m_file)) CloseHandle(m_file);
  m_file = nullptr;
  if (!m_temp.empty()) DeleteFileW(m_temp.c_str());
  m_temp.clear();
}

bool CYReplacingFile::Open() {
  return YErrorFrame({u"CYReplacingFile::Open", kSource, __LINE__}, [&] {
    Discard();
    m_failed = false;
    // A read-only original cannot be replaced; find that out before a
    // temporary file (which would take the read-only bit) exists.
    const DWORD attributes = GetFileAttributesW(m_path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
    // The original is the template of the new file, which so keeps its
    // permission bits (a private file stays private).
    HANDLE original = exists ? CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                             : INVALID_HANDLE_VALUE;
    if (exists && !IsOpen(original)) return false;
    // A link is followed: the file it names gets the new contents, and the
    // link stays a link.
    if (exists) {
      std::u16string target(1024, u'\0');
      DWORD length = GetFinalPathNameByHandleW(original, target.data(), static_cast<DWORD>(target.size()), 0);
      if (length >= target.size()) {
        target.resize(length);
        length = GetFinalPathNameByHandleW(original, target.data(), static_cast<DWORD>(target.size()), 0);
      }
      if (length == 0 || length >= target.size()) {
        CloseHandle(original);
        return false;
      }
      target.resize(length);
      m_path = std::move(target);
    }
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && !IsOpen(file); ++attempt) {
      const std::u16string temp = TemporaryNameFor(m_path);
      file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                         exists ? original : nullptr);
      if (IsOpen(file)) {
        m_temp = temp;
        break;
      }
      const DWORD error = GetLastError();
      if (error != static_cast<DWORD>(ERROR_FILE_EXISTS) && error != static_cast<DWORD>(ERROR_ALREADY_EXISTS)) break;
    }
    if (IsOpen(original)) CloseHandle(original);
    if (!IsOpen(file)) return false;
    m_file = file;
    return true;
  });
}

bool CYReplacingFile::Write(const void* data, std::uint64_t size) {
  return YErrorFrame({u"CYReplacingFile::Write", kSource, __LINE__}, [&] {
    if (!IsOpen(m_file) || m_failed) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const auto step = static_cast<DWORD>(std::min(size, kWriteStep));
      DWORD written = 0;
      if (!WriteFile(m_file, p, step, &written, nullptr) || written != step) {
        m_failed = true;
        return false;
      }
      p += step;
      size -= step;
    }
    return true;
  });
}

bool CYReplacingFile::Commit() {
  return YErrorFrame({u"CYReplacingFile::Commit", kSource, __LINE__}, [&] {
    if (!IsOpen(m_file) || m_failed) {
      Discard();
      return false;
    }
    // The data must be on the device before the name points at it, or a crash
    // right after the rename could leave an empty or partial file under the
    // original's name.
    bool ok = FlushFileBuffers(m_file) != FALSE;
    ok = CloseHandle(m_file) != FALSE && ok;
    m_file = nullptr;
    ok = ok && MoveFileExW(m_temp.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (ok) m_temp.clear();
    Discard();
    return ok;
  });
}
