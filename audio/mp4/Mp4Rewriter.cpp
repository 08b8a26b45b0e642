#include "audio/mp4/Mp4Rewriter.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <random>

#include "audio/MappedFile.h"
#include "platform/win32/fileapi.h"
#include "platform/win32/winerror.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"

namespace {

constexpr char16_t kSource[] = u"Mp4Rewriter";

// Unchanged stretches go from the mapping to the file in steps of this size,
// so a large tail never has to be held in memory (the kernel pages it in and
// out as it is read).
constexpr std::uint64_t kCopyChunk = 8u << 20;

class CMp4FileHandle {
 public:
  explicit CMp4FileHandle(HANDLE h) : m_h(h) {}
  CMp4FileHandle(const CMp4FileHandle&) = delete;
  CMp4FileHandle& operator=(const CMp4FileHandle&) = delete;
  ~CMp4FileHandle() { Close(); }
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

// A name beside path that no other writer picks at the same moment.
std::u16string TemporaryNameFor(const std::u16string& path) {
  return YErrorFrame({u"TemporaryNameFor", kSource, __LINE__}, [&] {
    static std::atomic<unsigned> counter{0};
    static const unsigned salt = std::random_device{}();
    return YFormat(u"%s.%08x%04x.tmp", path, salt, (counter++ & 0xFFFFu));
  });
}

bool WriteAll(HANDLE file, const std::uint8_t* data, std::uint64_t size) {
  return YErrorFrame({u"WriteAll", kSource, __LINE__}, [&] {
    while (size > 0) {
      const auto step = static_cast<DWORD>(std::min(size, kCopyChunk));
      DWORD written = 0;
      if (!WriteFile(file, data, step, &written, nullptr) || written != step) return false;
      data += step;
      size -= step;
    }
    return true;
  });
}

bool WritePieces(HANDLE file, std::span<const std::uint8_t> old, const Mp4RewritePlan& plan) {
  return YErrorFrame({u"WritePieces", kSource, __LINE__}, [&] {
    static const std::array<std::uint8_t, 64 * 1024> zeros{};
    for (const Mp4OutputPiece& piece : plan.pieces) {
      bool ok = true;
      switch (piece.kind) {
        case Mp4OutputPiece::Kind::kOld:
          ok = WriteAll(file, old.data() + piece.offset, piece.size);
          break;
        case Mp4OutputPiece::Kind::kBytes:
          ok = WriteAll(file, piece.bytes.data(), piece.bytes.size());
          break;
        case Mp4OutputPiece::Kind::kZeros:
          for (std::uint64_t left = piece.size; ok && left > 0;) {
            const std::uint64_t step = std::min<std::uint64_t>(left, zeros.size());
            ok = WriteAll(file, zeros.data(), step);
            left -= step;
          }
          break;
      }
      if (!ok) return false;
    }
    return true;
  });
}

// The new file beside path, flushed and renamed over it; on any failure the
// temporary file is removed and path is as it was.
bool WriteReplacing(const std::u16string& path, std::span<const std::uint8_t> old, const Mp4RewritePlan& plan) {
  return YErrorFrame({u"WriteReplacing", kSource, __LINE__}, [&] {
    std::u16string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && h == INVALID_HANDLE_VALUE; ++attempt) {
      temp = TemporaryNameFor(path);
      h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != static_cast<DWORD>(ERROR_FILE_EXISTS) && error != static_cast<DWORD>(ERROR_ALREADY_EXISTS)) {
          return false;
        }
      }
    }
    CMp4FileHandle file(h);
    if (!file.valid()) return false;
    bool ok = WritePieces(file.get(), old, plan);
    // The data must be on the device before the name points at it, or a crash
    // right after the rename could leave an empty or partial file under the
    // original's name.
    ok = ok && FlushFileBuffers(file.get()) != FALSE;
    ok = file.Close() && ok;
    ok = ok && MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    if (!ok) DeleteFileW(temp.c_str());
    return ok;
  });
}

}  // namespace

Mp4RewriteStatus Mp4RewriteUserData(const std::u16string& path, const Mp4UserDataBuilder& build) {
  return YErrorFrame({u"Mp4RewriteUserData", kSource, __LINE__}, [&] {
    CMappedFile mapped;
    switch (mapped.Open(path)) {
      case CMappedFile::Status::kOk:
        break;
      case CMappedFile::Status::kEmpty:
        return Mp4RewriteStatus::kNotMp4;
      default:
        return Mp4RewriteStatus::kIoFailed;
    }
    const Mp4RewritePlan plan = PlanMp4UserDataRewrite(mapped.bytes(), build);
    if (plan.status != Mp4RewriteStatus::kWritten) return plan.status;
    return WriteReplacing(path, mapped.bytes(), plan) ? Mp4RewriteStatus::kWritten : Mp4RewriteStatus::kIoFailed;
  });
}
