// CMappedFile: a whole file as a read-only span of bytes, mapped rather than
// loaded, so that reading the headers of a large media file touches only the
// pages that hold them. A small file is read whole with one read instead:
// mapping it would cost more system calls than reading it. Audio readers take
// their bytes from here and read them through bounded readers only.
//
// When another process shortens the file while it is mapped, the bytes past
// the new end read as zeros (the platform keeps views readable); the bounded
// readers then read what a damaged file holds, and a rewrite notices the
// change of size and does not replace the file.
//
// Thread safety: an object belongs to one thread; its bytes may be read from
// any thread while it lives.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/win32/UniqueHandles.h"

class CMappedFile {
 public:
  enum class Status { kOk, kOpenFailed, kEmpty, kMapFailed };

  CMappedFile() = default;
  CMappedFile(const CMappedFile&) = delete;
  CMappedFile& operator=(const CMappedFile&) = delete;

  // Maps path for reading; other processes may read and write it meanwhile.
  // Anything mapped before is released first.
  Status Open(const std::u16string& path);
  void Close() noexcept;

  std::span<const std::uint8_t> bytes() const noexcept {
    return {view_ ? static_cast<const std::uint8_t*>(view_.get()) : buffer_.data(), size_};
  }
  std::uint64_t size() const noexcept { return size_; }

 private:
  vel::UniqueView view_;
  std::vector<std::uint8_t> buffer_;  // a small file's bytes, when it is not mapped
  std::size_t size_ = 0;
};
