#include "audio/ByteArray.h"

#include <algorithm>
#include <cstring>

#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"ByteArray";
}  // namespace

CByteArrayView::CByteArrayView(const VARIANT& value) noexcept {
  SAFEARRAY* array = value.parray;
  if (value.vt != (VT_ARRAY | VT_UI1) || array == nullptr || SafeArrayGetDim(array) != 1) return;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return;
  if (upper >= lower) {
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return;
    locked_ = array;
    data_ = static_cast<const std::uint8_t*>(data);
    size_ = static_cast<std::size_t>(static_cast<std::int64_t>(upper) - lower + 1);
  }
  valid_ = true;
}

CByteArrayView::~CByteArrayView() {
  if (locked_ != nullptr) SafeArrayUnaccessData(locked_);
}

bool CByteArrayView::operator==(const CByteArrayView& other) const noexcept {
  return std::ranges::equal(bytes(), other.bytes());
}

_variant_t MakeByteArrayVariant(const std::uint8_t* data, std::size_t size) {
  return YErrorFrame({u"MakeByteArrayVariant", kSource, __LINE__}, [&](const YFrame& frame) {
    if (size > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    if (array == nullptr) YThrowHr(E_OUTOFMEMORY, frame);
    if (size > 0) std::memcpy(array->pvData, data, size);
    _variant_t result;
    result.vt = VT_ARRAY | VT_UI1;
    result.parray = array;
    return result;
  });
}

_variant_t MakeByteArrayVariant(std::size_t size, const std::function<bool(std::span<std::uint8_t>)>& fill) {
  return YErrorFrame({u"MakeByteArrayVariant", kSource, __LINE__}, [&](const YFrame& frame) {
    if (size > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    if (array == nullptr) YThrowHr(E_OUTOFMEMORY, frame);
    _variant_t result;
    result.vt = VT_ARRAY | VT_UI1;
    result.parray = array;
    if (!fill(std::span<std::uint8_t>(static_cast<std::uint8_t*>(array->pvData), size))) result.Clear();
    return result;
  });
}

bool GetByteArrayContent(const VARIANT& value, std::vector<std::uint8_t>& bytes) {
  return YErrorFrame({u"GetByteArrayContent", kSource, __LINE__}, [&]() {
    bytes.clear();
    const CByteArrayView view(value);
    if (!view.valid()) return false;
    bytes.assign(view.bytes().begin(), view.bytes().end());
    return true;
  });
}
