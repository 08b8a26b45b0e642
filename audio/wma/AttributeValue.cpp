#include "audio/wma/AttributeValue.h"

#include <cstring>

#include "audio/ByteArray.h"
#include "contract/PictureBody.h"
#include "platform/com/oleauto.h"

namespace vel::wma {
namespace {

// A one-dimensional VT_ARRAY|VT_I1 holding a copy of the bytes.
_variant_t SignedByteArray(std::span<const std::uint8_t> bytes) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I1, 0, static_cast<ULONG>(bytes.size()));
  if (array == nullptr) throw _com_error(E_OUTOFMEMORY);
  if (!bytes.empty()) std::memcpy(array->pvData, bytes.data(), bytes.size());
  _variant_t result;
  result.vt = VT_ARRAY | VT_I1;
  result.parray = array;
  return result;
}

// The bytes of a one-dimensional array of one-byte elements.
std::optional<std::vector<std::uint8_t>> ArrayBytes(const VARIANT& value) {
  if (value.parray == nullptr || SafeArrayGetDim(value.parray) != 1) return std::nullopt;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(value.parray, 1, &lower)) || FAILED(SafeArrayGetUBound(value.parray, 1, &upper)))
    return std::nullopt;
  const std::size_t size = upper >= lower ? static_cast<std::size_t>(static_cast<long long>(upper) - lower + 1) : 0;
  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(value.parray, &data))) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
  SafeArrayUnaccessData(value.parray);
  return bytes;
}

}  // namespace

std::optional<_variant_t> ValueFromAttribute(WMT_ATTR_DATATYPE type, std::span<const std::uint8_t> bytes,
                                             ByteOrder order) {
  switch (type) {
    case WMT_TYPE_DWORD:
      if (bytes.size() < 4) return std::nullopt;
      return _variant_t(static_cast<int>(LoadU32Unchecked(bytes.data(), order)), VT_I4);
    case WMT_TYPE_STRING: {
      if (bytes.empty()) return std::nullopt;
      std::size_t count = 0;
      const std::u16string text = ReadUtf16Text(bytes, false, count);
      return _variant_t(std::u16string_view(text));
    }
    case WMT_TYPE_BINARY:
      if (bytes.empty()) return std::nullopt;
      return MakeByteArrayVariant(bytes.data(), bytes.size());
    case WMT_TYPE_BOOL: {
      if (bytes.empty()) return std::nullopt;
      bool on = false;
      if (bytes.size() == 1) on = bytes[0] != 0;
      else if (bytes.size() == 2) on = static_cast<std::int16_t>(LoadU16Unchecked(bytes.data(), order)) > 0;
      else if (bytes.size() == 4) on = static_cast<std::int32_t>(LoadU32Unchecked(bytes.data(), order)) > 0;
      return _variant_t(on);
    }
    case WMT_TYPE_QWORD:
      if (bytes.size() < 8) return std::nullopt;
      return _variant_t(static_cast<long long>(LoadU64Unchecked(bytes.data(), order)));
    case WMT_TYPE_WORD:
      if (bytes.size() < 2) return std::nullopt;
      return _variant_t(static_cast<short>(LoadU16Unchecked(bytes.data(), order)));
    case WMT_TYPE_GUID:
      if (bytes.empty()) return std::nullopt;
      return SignedByteArray(bytes);
  }
  return std::nullopt;
}

std::optional<AttributeBytes> AttributeFromValue(const VARIANT& value, ByteOrder order) {
  AttributeBytes out;
  switch (value.vt) {
    case VT_I4:
    case VT_INT:
      out.type = WMT_TYPE_DWORD;
      out.bytes.resize(4);
      StoreU32Unchecked(out.bytes.data(), static_cast<std::uint32_t>(value.lVal), order);
      return out;
    case VT_BSTR: {
      const std::size_t length = value.bstrVal ? SysStringLen(value.bstrVal) : 0;
      if (length == 0) return std::nullopt;
      out.type = WMT_TYPE_STRING;
      out.bytes.resize(2 * length + 2);
      for (std::size_t i = 0; i < length; ++i) StoreU16Unchecked(out.bytes.data() + 2 * i, value.bstrVal[i], ByteOrder::kLittle);
      return out;
    }
    case VT_ARRAY | VT_UI1:
    case VT_ARRAY | VT_I1: {
      std::optional<std::vector<std::uint8_t>> bytes = ArrayBytes(value);
      if (!bytes) return std::nullopt;
      out.type = value.vt == (VT_ARRAY | VT_UI1) ? WMT_TYPE_BINARY : WMT_TYPE_GUID;
      out.bytes = std::move(*bytes);
      return out;
    }
    case VT_BOOL:
      out.type = WMT_TYPE_BOOL;
      out.bytes.push_back(value.boolVal != VARIANT_FALSE ? 1 : 0);
      return out;
    case VT_I8:
      out.type = WMT_TYPE_QWORD;
      out.bytes.resize(8);
      StoreU64Unchecked(out.bytes.data(), static_cast<std::uint64_t>(value.llVal), order);
      return out;
    case VT_I2:
      out.type = WMT_TYPE_WORD;
      out.bytes.resize(2);
      StoreU16Unchecked(out.bytes.data(), static_cast<std::uint16_t>(value.iVal), order);
      return out;
    default:
      return std::nullopt;
  }
}

}  // namespace vel::wma
