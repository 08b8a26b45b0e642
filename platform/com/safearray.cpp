// SAFEARRAY: one heap block holds a 16-byte prefix (the element VARTYPE sits in
// its last 4 bytes, as FADF_HAVEVARTYPE arrays keep it), the descriptor and its
// bounds. rgsabound is stored right-most dimension first; indexes are given
// left-most first and the left-most index varies fastest in memory.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/com/interfaces.h"
#include "platform/com/oleauto.h"

namespace {

constexpr std::size_t kPrefix = 16;
constexpr ULONG kMaxLocks = 0xFFFF;

ULONG ElementSize(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    case VT_VARIANT:
      return sizeof(VARIANT);
    default:
      return 0;
  }
}

USHORT FeatureOf(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_BSTR:
      return FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_VARIANT;
    default:
      return 0;
  }
}

unsigned char* BlockOf(SAFEARRAY* psa) noexcept { return reinterpret_cast<unsigned char*>(psa) - kPrefix; }

void StoreVartype(SAFEARRAY* psa, VARTYPE vt) noexcept {
  const DWORD stored = vt;
  std::memcpy(reinterpret_cast<unsigned char*>(psa) - sizeof(DWORD), &stored, sizeof stored);
}

std::atomic_ref<ULONG> Locks(SAFEARRAY* psa) noexcept { return std::atomic_ref<ULONG>(psa->cLocks); }

// Elements in the array, or false when the count does not fit in memory.
bool CellCount(const SAFEARRAY* psa, std::size_t* count) noexcept {
  std::size_t n = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    if (__builtin_mul_overflow(n, static_cast<std::size_t>(psa->rgsabound[d].cElements), &n)) return false;
  }
  *count = n;
  return true;
}

bool DataBytes(const SAFEARRAY* psa, std::size_t* bytes) noexcept {
  std::size_t n;
  return CellCount(psa, &n) && !__builtin_mul_overflow(n, static_cast<std::size_t>(psa->cbElements), bytes) &&
         *bytes <= 0x7FFFFFFFu;
}

// Releases what elements own (texts, interfaces, variants) in [first, first + count).
constexpr USHORT kOwningFeatures = FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT;

void ClearCells(SAFEARRAY* psa, std::size_t first, std::size_t count) noexcept {
  // Plain data (bytes, numbers) owns nothing.
  if (psa->pvData == nullptr || (psa->fFeatures & kOwningFeatures) == 0) return;
  auto* base = static_cast<unsigned char*>(psa->pvData) + first * psa->cbElements;
  for (std::size_t i = 0; i < count; ++i) {
    void* cell = base + i * psa->cbElements;
    if (psa->fFeatures & FADF_BSTR) {
      BSTR* b = static_cast<BSTR*>(cell);
      SysFreeString(*b);
      *b = nullptr;
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      IUnknown** p = static_cast<IUnknown**>(cell);
      if (*p != nullptr) (*p)->Release();
      *p = nullptr;
    } else if (psa->fFeatures & FADF_VARIANT) {
      VariantClear(static_cast<VARIANT*>(cell));
    }
  }
}

// Copies one element into uninitialised storage.
HRESULT CopyCell(const SAFEARRAY* psa, const void* from, void* to) noexcept {
  if (psa->fFeatures & FADF_BSTR) {
    BSTR src = *static_cast<const BSTR*>(from);
    BSTR copy = nullptr;
    if (src != nullptr) {
      copy = SysAllocStringByteLen(reinterpret_cast<const char*>(src), SysStringByteLen(src));
      if (copy == nullptr) return E_OUTOFMEMORY;
    }
    *static_cast<BSTR*>(to) = copy;
  } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
    IUnknown* p = *static_cast<IUnknown* const*>(from);
    if (p != nullptr) p->AddRef();
    *static_cast<IUnknown**>(to) = p;
  } else if (psa->fFeatures & FADF_VARIANT) {
    VariantInit(static_cast<VARIANT*>(to));
    return VariantCopy(static_cast<VARIANT*>(to), static_cast<const VARIANT*>(from));
  } else {
    std::memcpy(to, from, psa->cbElements);
  }
  return S_OK;
}

HRESULT CellAddress(SAFEARRAY* psa, const LONG* indices, void** cell) noexcept {
  if (psa == nullptr || indices == nullptr || cell == nullptr) return E_INVALIDARG;
  std::size_t offset = 0;
  std::size_t stride = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - i];
    const long long rel = static_cast<long long>(indices[i]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<long long>(b.cElements)) return DISP_E_BADINDEX;
    offset += static_cast<std::size_t>(rel) * stride;
    stride *= b.cElements;
  }
  if (psa->pvData == nullptr) return DISP_E_BADINDEX;
  *cell = static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
  return S_OK;
}

SAFEARRAY* AllocDescriptor(UINT cDims) noexcept {
  const std::size_t size = kPrefix + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<unsigned char*>(std::calloc(1, size));
  if (block == nullptr) return nullptr;
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kPrefix);
  psa->cDims = static_cast<USHORT>(cDims);
  return psa;
}

// The shape and element type of an existing array, without data.
SAFEARRAY* CloneDescriptor(SAFEARRAY* psa) noexcept {
  SAFEARRAY* out = AllocDescriptor(psa->cDims);
  if (out == nullptr) return nullptr;
  std::memcpy(BlockOf(out), BlockOf(psa), kPrefix);
  out->fFeatures = psa->fFeatures & ~(FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE);
  out->cbElements = psa->cbElements;
  std::memcpy(out->rgsabound, psa->rgsabound, psa->cDims * sizeof(SAFEARRAYBOUND));
  return out;
}

bool AllocData(SAFEARRAY* psa) noexcept {
  std::size_t bytes;
  if (!DataBytes(psa, &bytes)) return false;
  psa->pvData = std::calloc(bytes == 0 ? 1 : bytes, 1);
  return psa->pvData != nullptr;
}

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  const ULONG elem = ElementSize(vt);
  if (elem == 0 || cDims == 0 || cDims > 0xFFFF || rgsabound == nullptr) return nullptr;
  SAFEARRAY* psa = AllocDescriptor(cDims);
  if (psa == nullptr) return nullptr;
  psa->fFeatures = FADF_HAVEVARTYPE | FeatureOf(vt);
  psa->cbElements = elem;
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];
  StoreVartype(psa, vt);
  if (!AllocData(psa)) {
    std::free(BlockOf(psa));
    return nullptr;
  }
  return psa;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) {
  SAFEARRAYBOUND bound{cElements, lLbound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (Locks(psa).load() > 0) return DISP_E_ARRAYISLOCKED;
  std::size_t count;
  if (CellCount(psa, &count)) ClearCells(psa, 0, count);
  std::free(psa->pvData);
  std::free(BlockOf(psa));
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  ULONG now = Locks(psa).load();
  do {
    if (now >= kMaxLocks) return E_UNEXPECTED;
  } while (!Locks(psa).compare_exchange_weak(now, now + 1));
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  ULONG now = Locks(psa).load();
  do {
    if (now == 0) return E_UNEXPECTED;
  } while (!Locks(psa).compare_exchange_weak(now, now - 1));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) {
    *ppvData = nullptr;
    return hr;
  }
  *ppvData = psa->pvData;
  return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) { return SafeArrayUnlock(psa); }

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - nDim];
  *plUbound = static_cast<LONG>(static_cast<long long>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cDims; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa == nullptr ? 0 : psa->cbElements; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  if (psa->fFeatures & FADF_HAVEVARTYPE) {
    DWORD stored;
    std::memcpy(&stored, reinterpret_cast<unsigned char*>(psa) - sizeof(DWORD), sizeof stored);
    *pvt = static_cast<VARTYPE>(stored);
  } else if (psa->fFeatures & FADF_BSTR) {
    *pvt = VT_BSTR;
  } else if (psa->fFeatures & FADF_UNKNOWN) {
    *pvt = VT_UNKNOWN;
  } else if (psa->fFeatures & FADF_DISPATCH) {
    *pvt = VT_DISPATCH;
  } else if (psa->fFeatures & FADF_VARIANT) {
    *pvt = VT_VARIANT;
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) {
  return CellAddress(psa, rgIndices, ppvData);
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (psa == nullptr || rgIndices == nullptr || pv == nullptr) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  void* cell = nullptr;
  hr = CellAddress(psa, rgIndices, &cell);
  if (SUCCEEDED(hr)) hr = CopyCell(psa, cell, pv);
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) {
  if (psa == nullptr || rgIndices == nullptr) return E_INVALIDARG;
  HRESULT hr = SafeArrayLock(psa);
  if (FAILED(hr)) return hr;
  void* cell = nullptr;
  hr = CellAddress(psa, rgIndices, &cell);
  if (SUCCEEDED(hr)) {
    if (psa->fFeatures & FADF_VARIANT) {
      hr = pv == nullptr ? E_INVALIDARG : VariantCopy(static_cast<VARIANT*>(cell), static_cast<const VARIANT*>(pv));
    } else if (psa->fFeatures & FADF_BSTR) {
      // pv is the BSTR itself; null stores the empty text.
      BSTR src = static_cast<BSTR>(pv);
      BSTR copy = nullptr;
      if (src != nullptr) {
        copy = SysAllocStringByteLen(reinterpret_cast<const char*>(src), SysStringByteLen(src));
        if (copy == nullptr) hr = E_OUTOFMEMORY;
      }
      if (SUCCEEDED(hr)) {
        SysFreeString(*static_cast<BSTR*>(cell));
        *static_cast<BSTR*>(cell) = copy;
      }
    } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
      auto* p = static_cast<IUnknown*>(pv);
      if (p != nullptr) p->AddRef();
      IUnknown* old = *static_cast<IUnknown**>(cell);
      *static_cast<IUnknown**>(cell) = p;
      if (old != nullptr) old->Release();
    } else if (pv == nullptr) {
      hr = E_INVALIDARG;
    } else {
      std::memcpy(cell, pv, psa->cbElements);
    }
  }
  SafeArrayUnlock(psa);
  return hr;
}

HRESULT SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew) {
  if (psa == nullptr || psaboundNew == nullptr) return E_INVALIDARG;
  if (Locks(psa).load() > 0 || (psa->fFeatures & FADF_FIXEDSIZE)) return DISP_E_ARRAYISLOCKED;
  std::size_t oldCount;
  if (!CellCount(psa, &oldCount)) return E_UNEXPECTED;
  // The right-most dimension varies slowest, so the data keeps its place and
  // only the tail grows or shrinks.
  const SAFEARRAYBOUND oldBound = psa->rgsabound[0];
  psa->rgsabound[0] = *psaboundNew;
  std::size_t newCount, newBytes;
  if (!CellCount(psa, &newCount) || !DataBytes(psa, &newBytes)) {
    psa->rgsabound[0] = oldBound;
    return E_OUTOFMEMORY;
  }
  if (newCount < oldCount) ClearCells(psa, newCount, oldCount - newCount);
  void* data = std::realloc(psa->pvData, newBytes == 0 ? 1 : newBytes);
  if (data == nullptr) {
    // Dropped elements are already released; keep the shrunken shape consistent.
    if (newCount < oldCount) return S_OK;
    psa->rgsabound[0] = oldBound;
    return E_OUTOFMEMORY;
  }
  psa->pvData = data;
  if (newCount > oldCount) {
    std::memset(static_cast<unsigned char*>(data) + oldCount * psa->cbElements, 0,
                (newCount - oldCount) * psa->cbElements);
  }
  return S_OK;
}

HRESULT SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget) {
  if (psaSource == nullptr || psaTarget == nullptr) return E_INVALIDARG;
  if (psaSource == psaTarget) return S_OK;
  if (psaSource->cDims != psaTarget->cDims || psaSource->cbElements != psaTarget->cbElements ||
      (psaSource->fFeatures & kOwningFeatures) != (psaTarget->fFeatures & kOwningFeatures)) {
    return E_INVALIDARG;
  }
  for (USHORT d = 0; d < psaSource->cDims; ++d) {
    if (psaSource->rgsabound[d].cElements != psaTarget->rgsabound[d].cElements) return E_INVALIDARG;
  }
  std::size_t count;
  if (!CellCount(psaSource, &count)) return E_INVALIDARG;
  ClearCells(psaTarget, 0, count);
  auto* from = static_cast<const unsigned char*>(psaSource->pvData);
  auto* to = static_cast<unsigned char*>(psaTarget->pvData);
  if ((psaSource->fFeatures & kOwningFeatures) == 0) {  // plain data: one copy (a cover is megabytes)
    if (count != 0) std::memcpy(to, from, count * psaSource->cbElements);
    return S_OK;
  }
  for (std::size_t i = 0; i < count; ++i) {
    HRESULT hr = CopyCell(psaSource, from + i * psaSource->cbElements, to + i * psaTarget->cbElements);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  SAFEARRAY* out = CloneDescriptor(psa);
  if (out == nullptr) return E_OUTOFMEMORY;
  if (!AllocData(out)) {
    std::free(BlockOf(out));
    return E_OUTOFMEMORY;
  }
  HRESULT hr = SafeArrayCopyData(psa, out);
  if (FAILED(hr)) {
    SafeArrayDestroy(out);
    return hr;
  }
  *ppsaOut = out;
  return S_OK;
}

}  // extern "C"
