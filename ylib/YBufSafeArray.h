// CYBufSafeArray: a CYBuf whose bytes live in a one-dimensional OLE SAFEARRAY
// of VT_UI1 (lower bound 0) held in a VARIANT (VT_ARRAY|VT_UI1), so byte
// arrays pass to and from COM callers without another copy.
//
// States: empty (VT_EMPTY), holding an array, holding and locked. Lock pins
// the array's data (SafeArrayAccessData) and GetBuf is valid only while a pin
// is held; every Lock needs its own Unlock. Alloc and Clear release our pins
// first, as does Attach (an array cannot be replaced while pinned).
//
// Thread safety: one thread at a time (see YBuf.h).
#pragma once

#include <cstdint>

#include "platform/com/types.h"
#include "ylib/YBuf.h"

class CYBufSafeArray : public CYBuf {
 public:
  CYBufSafeArray();
  // Attach(variant, false); a failure (a wrong type) is logged and leaves the
  // buffer empty, never raised.
  explicit CYBufSafeArray(VARIANT& variant);
  ~CYBufSafeArray() override;

  bool Lock() override;
  void Unlock() override;
  void* Alloc(std::uint64_t size) override;
  void Realloc(std::uint64_t size) override;
  void* GetBuf() override;  // 2007 "Array not locked." without a pin
  void Clear() override;
  std::uint64_t GetSize() override;

  // With copy, the buffer receives its own copy of the array; without, it
  // takes the caller's VARIANT over and leaves it VT_EMPTY.
  void Attach(VARIANT& variant, bool copy);
  // Hands the VARIANT (VT_ARRAY|VT_UI1 or VT_EMPTY) to the caller, who then
  // owns it; the buffer is left empty. *out is overwritten, not cleared.
  void Detach(VARIANT* out);
  const VARIANT& GetVariant() const noexcept { return m_var; }

  // Passes only VT_ARRAY|VT_UI1 with an array; anything else raises 1015
  // "Invalid variant type".
  static void CheckVariantType(const VARIANT& variant);

 private:
  void ReleasePins();

  VARIANT m_var;
  void* m_data = nullptr;  // the pinned data while m_pins > 0
  unsigned m_pins = 0;
};
