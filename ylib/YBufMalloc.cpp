#include "ylib/YBufMalloc.h"

#include <cstdlib>
#include <limits>

#include "platform/com/hresult.h"
#include "platform/win32/winerror.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YErrorText.h"

namespace {

constexpr char16_t kSource[] = u"YBufMalloc";

// The heap takes size_t; a size beyond it cannot be provided.
bool FitsHeap(std::uint64_t size) { return size <= std::numeric_limits<std::size_t>::max(); }

}  // namespace

void YThrowOutOfMemory(const YFrame& frame) {
  YThrow(FormatErrorMessage(static_cast<DWORD>(ERROR_OUTOFMEMORY)), E_OUTOFMEMORY, frame);
}

CYBufMalloc::CYBufMalloc(std::uint64_t size) {
  YErrorFrameNoThrow(VEL_FRAME(u"CYBufMalloc::CYBufMalloc"), [&] { Alloc(size); });
}

CYBufMalloc::~CYBufMalloc() { std::free(m_block); }

void* CYBufMalloc::Alloc(std::uint64_t size) {
  return YErrorFrame(VEL_FRAME(u"CYBufMalloc::Alloc"), [&](const YFrame& frame) -> void* {
    Clear();
    if (size == 0) return nullptr;
    void* block = FitsHeap(size) ? std::malloc(static_cast<std::size_t>(size)) : nullptr;
    if (block == nullptr) YThrowOutOfMemory(frame);
    m_block = block;
    m_size = size;
    return m_block;
  });
}

void CYBufMalloc::Realloc(std::uint64_t size) {
  YErrorFrame(VEL_FRAME(u"CYBufMalloc::Realloc"), [&](const YFrame& frame) {
    if (size == 0) {
      Clear();
      return;
    }
    // realloc leaves the old block alone when it fails, so nothing is lost.
    void* block = FitsHeap(size) ? std::realloc(m_block, static_cast<std::size_t>(size)) : nullptr;
    if (block == nullptr) YThrowOutOfMemory(frame);
    m_block = block;
    m_size = size;
  });
}

void CYBufMalloc::Clear() {
  std::free(m_block);
  m_block = nullptr;
  m_size = 0;
}
