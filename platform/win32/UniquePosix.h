// The owners of POSIX handles inside the platform layer, as UniqueAny aliases:
//
//   UniqueFd       a file descriptor from open/dup/fcntl (invalid: -1; close)
//   UniqueDlHandle a handle from dlopen (invalid: null; dlclose)
//
// This header includes POSIX headers, so it stays inside platform/: ylib and
// everything above reach descriptors and modules only through the Win32
// surface (UniqueHandles.h).
//
// Thread safety: as UniqueAny.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include "platform/base/UniqueAny.h"

namespace vel {

struct FdTraits {
  using Type = int;
  static Type Invalid() noexcept { return -1; }
  static bool IsValid(Type fd) noexcept { return fd >= 0; }
  static void Close(Type fd) noexcept { ::close(fd); }
};

using UniqueFd = UniqueAny<FdTraits>;
using UniqueDlHandle = UniqueAny<NullHandleTraits<void*, ::dlclose>>;

}  // namespace vel
