// Reading a user's file for the Windows Media back ends: open by module path
// text, size, positioned reads.
//
// Thread safety: pure functions over the caller's descriptors.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "platform/win32/UniquePosix.h"
#include "platform/wmf/Attribute.h"

namespace vel::wmf {

struct OpenedFile {
  UniqueFd fd;
  std::uint64_t size = 0;
  std::string nativePath;
  struct stat status {};  // as opened
};

// S_OK, NS_E_FILE_NOT_FOUND, or the Win32 error as HRESULT.
HRESULT OpenForReading(const std::u16string& path, OpenedFile& file);
// Up to n bytes at offset (fewer at the end of the file).
bool ReadAt(int fd, std::uint64_t offset, std::uint64_t n, Bytes& out);

}  // namespace vel::wmf
