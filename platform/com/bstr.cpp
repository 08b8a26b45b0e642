// BSTR: [4-byte byte length][text][two zero bytes]; the BSTR points at the text.
#include <cstdlib>
#include <cstring>

#include "platform/com/oleauto.h"
#include "platform/text.h"

namespace {

constexpr std::size_t kPrefix = sizeof(DWORD);
// Keeps prefix + text + terminator within 32 bits, as the stored length is.
constexpr UINT kMaxBytes = 0x7FFFFFF0u;

BSTR AllocBytes(const void* data, UINT bytes) noexcept {
  if (bytes > kMaxBytes) return nullptr;
  // One extra byte keeps a wide terminator after an odd byte count.
  auto* block = static_cast<unsigned char*>(std::malloc(kPrefix + bytes + sizeof(OLECHAR) + 1));
  if (block == nullptr) return nullptr;
  const DWORD stored = bytes;
  std::memcpy(block, &stored, kPrefix);
  if (data != nullptr) {
    std::memcpy(block + kPrefix, data, bytes);
  } else {
    std::memset(block + kPrefix, 0, bytes);
  }
  std::memset(block + kPrefix + bytes, 0, sizeof(OLECHAR) + 1);
  return reinterpret_cast<BSTR>(block + kPrefix);
}

unsigned char* BlockOf(BSTR bstr) noexcept { return reinterpret_cast<unsigned char*>(bstr) - kPrefix; }

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  std::size_t len = vel::U16Len(psz);
  if (len > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(psz, static_cast<UINT>(len * sizeof(OLECHAR)));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > kMaxBytes / sizeof(OLECHAR)) return nullptr;
  return AllocBytes(strIn, ui * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) { return AllocBytes(psz, len); }

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
  if (pbstr == nullptr) return FALSE;
  // The new text may lie inside the old one, so copy before freeing.
  BSTR fresh = SysAllocStringLen(psz, len);
  if (fresh == nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
  if (pbstr == nullptr) return FALSE;
  BSTR fresh = SysAllocString(psz);
  if (fresh == nullptr && psz != nullptr) return FALSE;
  SysFreeString(*pbstr);
  *pbstr = fresh;
  return TRUE;
}

void SysFreeString(BSTR bstrString) {
  if (bstrString != nullptr) std::free(BlockOf(bstrString));
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  DWORD bytes;
  std::memcpy(&bytes, BlockOf(bstr), kPrefix);
  return bytes;
}

UINT SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

}  // extern "C"
