// CYBufMalloc: a CYBuf in ordinary heap memory. Locking is free; GetBuf is the
// block itself (null when empty).
//
// Thread safety: one thread at a time (see YBuf.h).
#pragma once

#include <cstdint>

#include "ylib/YBuf.h"

class CYBufMalloc : public CYBuf {
 public:
  CYBufMalloc() = default;
  // Alloc(size); a failure is logged and leaves the buffer empty, never raised.
  explicit CYBufMalloc(std::uint64_t size);
  ~CYBufMalloc() override;

  // Size 0 gives an empty buffer; a size the heap refuses raises E_OUTOFMEMORY.
  void* Alloc(std::uint64_t size) override;
  // When the heap cannot grow the block, the old block and size stay and
  // E_OUTOFMEMORY is raised.
  void Realloc(std::uint64_t size) override;
  void* GetBuf() override { return m_block; }
  void Clear() override;
  std::uint64_t GetSize() override { return m_size; }

 private:
  void* m_block = nullptr;
  std::uint64_t m_size = 0;
};

// The report of a store that cannot get memory: E_OUTOFMEMORY with the
// system's text for ERROR_OUTOFMEMORY.
struct YFrame;
[[noreturn]] void YThrowOutOfMemory(const YFrame& frame);
