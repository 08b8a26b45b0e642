#include "ylib/YBufSafeArray.h"

#include <cstring>

#include "platform/com/comdef.h"
#include "platform/com/oleauto.h"
#include "ylib/YBufMalloc.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YVariant.h"

namespace {

constexpr char16_t kSource[] = u"YBufSafeArray";
constexpr VARTYPE kByteArray = VT_ARRAY | VT_UI1;

void CheckHr(HRESULT hr, const YFrame& frame) {
  if (FAILED(hr)) YThrowHr(hr, frame);
}

}  // namespace

CYBufSafeArray::CYBufSafeArray() { VariantInit(&m_var); }

CYBufSafeArray::CYBufSafeArray(VARIANT& variant) : CYBufSafeArray() {
  YErrorFrameNoThrow(VEL_FRAME(u"CYBufSafeArray::CYBufSafeArray"), [&] { Attach(variant, false); });
}

CYBufSafeArray::~CYBufSafeArray() {
  YErrorFrameNoThrow(VEL_FRAME(u"CYBufSafeArray::~CYBufSafeArray"), [&] { Clear(); });
}

void CYBufSafeArray::CheckVariantType(const VARIANT& variant) {
  YErrorFrame(VEL_FRAME(u"CYBufSafeArray::CheckVariantType"), [&](const YFrame& frame) {
    if (variant.vt != kByteArray || variant.parray == nullptr) YThrow(kYErrInvalidVariantType, frame);
  });
}

bool CYBufSafeArray::Lock() {
  return YErrorFrame(VEL_FRAME(u"CYBufSafeArray::Lock"), [&](const YFrame& frame) {
    CheckVariantType(m_var);
    void* data = nullptr;
    CheckHr(SafeArrayAccessData(m_var.parray, &data), frame);
    m_data = data;
    ++m_pins;
    return true;
  });
}

void CYBufSafeArray::Unlock() {
  YErrorFrame(VEL_FRAME(u"CYBufSafeArray::Unlock"), [&](const YFrame& frame) {
    CheckVariantType(m_var);
    CheckHr(SafeArrayUnaccessData(m_var.parray), frame);
    if (m_pins > 0 && --m_pins == 0) m_data = nullptr;
  });
}

void CYBufSafeArray::ReleasePins() {
  while (m_pins > 0) Unlock();
  m_data = nullptr;
}

void* CYBufSafeArray::Alloc(std::uint64_t size) {
  return YErrorFrame(VEL_FRAME(u"CYBufSafeArray::Alloc"), [&](const YFrame& frame) -> void* {
    Clear();
    // The array counts its elements in 32 bits; a larger size cannot be held
    // (cutting it would leave a writer with less room than it asked for).
    SAFEARRAY* array = size <= 0xFFFFFFFFu ? SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size)) : nullptr;
    if (array == nullptr) YThrowOutOfMemory(frame);
    m_var.vt = kByteArray;
    m_var.parray = array;
    return array->pvData;
  });
}

void CYBufSafeArray::Realloc(std::uint64_t size) {
  YErrorFrame(VEL_FRAME(u"CYBufSafeArray::Realloc"), [&](const YFrame& frame) {
    if (m_var.vt == VT_EMPTY) {
      Alloc(size);
      return;
    }
    CheckVariantType(m_var);
    if (size > 0xFFFFFFFFu) YThrowOutOfMemory(frame);
    SAFEARRAYBOUND bound{static_cast<ULONG>(size), 0};
    CheckHr(SafeArrayRedim(m_var.parray, &bound), frame);
  });
}

void* CYBufSafeArray::GetBuf() {
  return YErrorFrame(VEL_FRAME(u"CYBufSafeArray::GetBuf"), [&](const YFrame& frame) {
    if (m_pins == 0) YThrow(kYErrArrayNotLocked, frame);
    return m_data;
  });
}

void CYBufSafeArray::Clear() {
  YErrorFrame(VEL_FRAME(u"CYBufSafeArray::Clear"), [&] {
    ReleasePins();
    const HRESULT hr = VariantClear(&m_var);
    if (FAILED(hr)) _com_issue_error(hr);
  });
}

std::uint64_t CYBufSafeArray::GetSize() {
  return YErrorFrame(VEL_FRAME(u"CYBufSafeArray::GetSize"), [&]() -> std::uint64_t {
    if (m_var.vt == VT_EMPTY) return 0;
    CheckVariantType(m_var);
    return static_cast<std::uint64_t>(CYVariant::GetSafeArraySize(m_var));
  });
}

void CYBufSafeArray::Attach(VARIANT& variant, bool copy) {
  YErrorFrame(VEL_FRAME(u"CYBufSafeArray::Attach"), [&](const YFrame& frame) {
    CheckVariantType(variant);
    if (&variant == &m_var) return;
    if (copy) {
      // Copy first, so a failed copy leaves the buffer as it was.
      SAFEARRAY* duplicate = nullptr;
      CheckHr(SafeArrayCopy(variant.parray, &duplicate), frame);
      Clear();
      m_var.vt = kByteArray;
      m_var.parray = duplicate;
    } else {
      Clear();
      m_var = variant;
      VariantInit(&variant);
    }
  });
}

void CYBufSafeArray::Detach(VARIANT* out) {
  YErrorFrame(VEL_FRAME(u"CYBufSafeArray::Detach"), [&](const YFrame& frame) {
    if (out == nullptr) YThrow(kYErrInvalidParameter, frame);
    ReleasePins();
    *out = m_var;
    VariantInit(&m_var);
  });
}
