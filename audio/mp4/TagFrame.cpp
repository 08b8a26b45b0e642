#include "audio/mp4/TagFrame.h"

#include <cstring>

#include "platform/com/oleauto.h"
#include "ylib/YErrorFrame.h"

namespace {

constexpr char16_t kSource[] = u"TagFrame";

bool IsByteArray(const VARIANT& value) noexcept { return value.vt == (VT_ARRAY | VT_UI1) && value.parray != nullptr; }

}  // namespace

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

bool GetByteArrayContent(const VARIANT& value, std::vector<std::uint8_t>& bytes) {
  return YErrorFrame({u"GetByteArrayContent", kSource, __LINE__}, [&]() {
    bytes.clear();
    if (!IsByteArray(value) || SafeArrayGetDim(value.parray) != 1) return false;
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(value.parray, 1, &upper))) {
      return false;
    }
    if (upper < lower) return true;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(value.parray, &data))) return false;
    const auto* first = static_cast<const std::uint8_t*>(data);
    bytes.assign(first, first + (static_cast<std::int64_t>(upper) - lower + 1));
    SafeArrayUnaccessData(value.parray);
    return true;
  });
}

bool CTagFrame::IsSameData(const VARIANT& other) const {
  return YErrorFrame({u"CTagFrame::IsSameData", kSource, __LINE__}, [&]() {
    // The variant comparison is not made for arrays: a cover written over a
    // cover is the same exactly when its bytes are.
    if (IsByteArray(value) || IsByteArray(other)) {
      std::vector<std::uint8_t> mine;
      std::vector<std::uint8_t> theirs;
      if (!GetByteArrayContent(value, mine) || !GetByteArrayContent(other, theirs)) return false;
      return mine == theirs;
    }
    _variant_t converted(other);
    if (converted.vt != value.vt) converted.ChangeType(value.vt);
    return value == converted;
  });
}
