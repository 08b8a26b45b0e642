// FileObject: the kernel object behind a CreateFileW handle. It owns the
// descriptor and remembers the access the handle was opened for. Internal to
// platform/win32: the file, mapping and C runtime functions share it.
//
// Thread safety: immutable after construction; the descriptor's file position
// is shared by every thread using the handle, as on the platform.
#pragma once

#include <memory>

#include "platform/win32/UniquePosix.h"
#include "platform/win32/handles.h"

namespace vel::win32 {

class FileObject : public KernelObject {
 public:
  FileObject(UniqueFd fd, bool canRead, bool canWrite)
      : fd_(std::move(fd)), canRead_(canRead), canWrite_(canWrite) {}
  bool Waitable() const override { return false; }
  Claim TryClaim(DWORD) override { return Claim::kNotSignalled; }

  int fd() const { return fd_.get(); }
  bool canRead() const { return canRead_; }
  bool canWrite() const { return canWrite_; }

 private:
  UniqueFd fd_;
  bool canRead_;
  bool canWrite_;
};

// The file object of a handle; null (ERROR_INVALID_HANDLE) when it is none.
std::shared_ptr<FileObject> FileOf(HANDLE h);

}  // namespace vel::win32
