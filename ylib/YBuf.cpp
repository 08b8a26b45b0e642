#include "ylib/YBuf.h"

#include <cstring>

#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"YBuf";
}

void CYBuf::Copy(const void* source, std::uint64_t size) {
  YErrorFrame(VEL_FRAME(u"CYBuf::Copy"), [&](const YFrame& frame) {
    if (source == nullptr && size != 0) YThrow(kYErrInvalidParameter, frame);
    Clear();
    Alloc(size);
    CYLockHolder hold(*this);
    if (size != 0) std::memcpy(GetBuf(), source, static_cast<std::size_t>(size));
  });
}
