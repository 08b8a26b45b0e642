// CYBuf: a lockable byte buffer with two stores, heap memory (CYBufMalloc) and
// an OLE byte SAFEARRAY held in a VARIANT (CYBufSafeArray).
//
// Direct access protocol, for every reader and writer of a CYBuf:
//   size = buf.GetSize();
//   if (size) { CYLockHolder hold(buf); use buf.GetBuf() for at most size bytes; }
// Writers call Alloc (or Copy) first. For heap memory the lock costs nothing;
// for a SAFEARRAY it pins the array's data, and GetBuf without a pin raises
// "Array not locked." (2007).
//
// Virtual order (extending CYLock's Lock, Unlock, destructor): Alloc, Realloc,
// GetBuf, Clear, GetSize, Copy. Sizes are 64-bit.
//
// Thread safety: a buffer belongs to one thread at a time; Lock/Unlock pin
// memory, they do not exclude other threads.
#pragma once

#include <cstdint>

#include "ylib/YLock.h"

class CYBuf : public CYLock {
 public:
  bool Lock() override { return true; }
  void Unlock() override {}
  ~CYBuf() override = default;

  // Drops the content, then makes room for size bytes (uninitialised for the
  // heap store, zeroed for the SAFEARRAY store).
  virtual void* Alloc(std::uint64_t size) = 0;
  // Resizes, keeping the content up to the smaller size; on failure the old
  // content stays and the error is raised.
  virtual void Realloc(std::uint64_t size) = 0;
  virtual void* GetBuf() = 0;
  virtual void Clear() = 0;
  virtual std::uint64_t GetSize() = 0;
  // Afterwards the buffer holds exactly these size bytes, unlocked.
  virtual void Copy(const void* source, std::uint64_t size);

 protected:
  CYBuf() = default;
  CYBuf(const CYBuf&) = delete;
  CYBuf& operator=(const CYBuf&) = delete;
};
