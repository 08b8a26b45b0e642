#include "ylib/YReplacingFile.h"

#include <algorithm>
#include <atomic>
#include <random>
#include <utility>

#include "platform/win32/UniqueHandles.h"
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

}  // namespace

CYReplacingFile::CYReplacingFile(std::u16string path) : path_(std::move(path)) {}

CYReplacingFile::~CYReplacingFile() { Discard(); }

void CYReplacingFile::Discard() noexcept {
  file_.reset();
  if (!temp_.empty()) DeleteFileW(temp_.c_str());
  temp_.clear();
}

bool CYReplacingFile::Open() {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::Open"), [&] {
    Discard();
    failed_ = false;
    // A read-only original cannot be replaced; find that out before a
    // temporary file (which would take the read-only bit) exists.
    const DWORD attributes = GetFileAttributesW(path_.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
    // The original is the template of the new file, which so keeps its
    // permission bits (a private file stays private).
    vel::UniqueFile original;
    if (exists) {
      original.reset(CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!original) return false;
    }
    // A link is followed: the file it names gets the new contents, and the
    // link stays a link.
    if (exists) {
      std::u16string target(1024, u'\0');
      DWORD length = GetFinalPathNameByHandleW(original.get(), target.data(), static_cast<DWORD>(target.size()), 0);
      if (length >= target.size()) {
        target.resize(length);
        length = GetFinalPathNameByHandleW(original.get(), target.data(), static_cast<DWORD>(target.size()), 0);
      }
      if (length == 0 || length >= target.size()) return false;
      target.resize(length);
      path_ = std::move(target);
    }
    vel::UniqueFile file;
    for (int attempt = 0; attempt < 16 && !file; ++attempt) {
      const std::u16string temp = TemporaryNameFor(path_);
      file.reset(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                             exists ? original.get() : nullptr));
      if (file) {
        temp_ = temp;
        break;
      }
      const DWORD error = GetLastError();
      if (error != static_cast<DWORD>(ERROR_FILE_EXISTS) && error != static_cast<DWORD>(ERROR_ALREADY_EXISTS)) break;
    }
    original.reset();
    if (!file) return false;
    file_ = std::move(file);
    return true;
  });
}

bool CYReplacingFile::Write(const void* data, std::uint64_t size) {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::Write"), [&] {
    if (!file_ || failed_) return false;
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
      const auto step = static_cast<DWORD>(std::min(size, kWriteStep));
      DWORD written = 0;
      if (!WriteFile(file_.get(), p, step, &written, nullptr) || written != step) {
        failed_ = true;
        return false;
      }
      p += step;
      size -= step;
    }
    return true;
  });
}

bool CYReplacingFile::Commit() {
  return YErrorFrame(VEL_FRAME(u"CYReplacingFile::Commit"), [&] {
    if (!file_ || failed_) {
      Discard();
      return false;
    }
    // The data must be on the device before the name points at it, or a crash
    // right after the rename could leave an empty or partial file under the
    // original's name.
    bool ok = FlushFileBuffers(file_.get()) != FALSE;
    ok = CloseHandle(file_.release()) != FALSE && ok;  // a failed close fails the commit
    ok = ok && MoveFileExW(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (ok) temp_.clear();
    Discard();
    return ok;
  });
}
