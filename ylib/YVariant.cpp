#include "ylib/YVariant.h"

#include <string>

#include "platform/com/oleauto.h"
#include "platform/win32/thismodule.h"
#include "platform/win32/winbase.h"
#include "platform/win32/winerror.h"
#include "ylib/YBufSafeArray.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YFormat.h"
#include "ylib/YString.h"
#include "ylib/YTime.h"

namespace {

constexpr char16_t kSource[] = u"YVariant";

void CheckHr(HRESULT hr, const YFrame& frame) {
  if (FAILED(hr)) YThrowHr(hr, frame);
}

// An array VARIANT of exactly this type whose array stores that element type.
bool IsArrayOf(const VARIANT& variant, VARTYPE element) {
  if (variant.vt != (VT_ARRAY | element) || variant.parray == nullptr) return false;
  VARTYPE stored = VT_EMPTY;
  return SUCCEEDED(SafeArrayGetVartype(variant.parray, &stored)) && stored == element;
}

// Owns a BSTR read out of an array.
struct OwnedBstr {
  BSTR text = nullptr;
  ~OwnedBstr() { SysFreeString(text); }
};

// The Crypto++ Base64 encoder lives in libvelbase64.so (ylib/Base64Library.cpp),
// loaded when a byte array is first turned into text: from the folder of the
// object this code is linked into, else by the loader's search.
using Base64EncodeFn = std::size_t (*)(const unsigned char*, std::size_t, char*, std::size_t) noexcept;

Base64EncodeFn Base64Encoder() {
  static const Base64EncodeFn encoder = [] {
    constexpr char16_t kLibrary[] = u"libvelbase64.so";
    HMODULE library = nullptr;
    const std::u16string self = vel::ThisModulePath();
    if (const std::size_t slash = self.rfind(u'/'); slash != std::u16string::npos)
      library = LoadLibraryW((self.substr(0, slash + 1) + kLibrary).c_str());
    if (library == nullptr) library = LoadLibraryW(kLibrary);
    return library ? reinterpret_cast<Base64EncodeFn>(GetProcAddress(library, "VelBase64Encode")) : nullptr;
  }();
  return encoder;
}

std::u16string Base64(const VARIANT& variant, const YFrame& frame) {
  // A copy of the caller's array, so its own locks are left alone.
  CYBufSafeArray buffer;
  VARIANT source = variant;
  buffer.Attach(source, true);
  const std::uint64_t size = buffer.GetSize();
  if (size == 0) return {};
  const Base64EncodeFn encode = Base64Encoder();
  if (encode == nullptr) YThrowHr(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), frame);
  std::string encoded((static_cast<std::size_t>(size) + 2) / 3 * 4, '\0');
  std::size_t length = 0;
  {
    CYLockHolder hold(buffer);
    length = encode(static_cast<const unsigned char*>(buffer.GetBuf()), static_cast<std::size_t>(size), encoded.data(),
                    encoded.size());
  }
  if (length == 0 || length > encoded.size()) YThrowHr(E_OUTOFMEMORY, frame);
  return std::u16string(encoded.begin(), encoded.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace

int CYVariant::GetSafeArraySize(const VARIANT& variant) {
  return YErrorFrame(VEL_FRAME(u"CYVariant::GetSafeArraySize"), [&](const YFrame& frame) {
    if ((variant.vt & VT_ARRAY) == 0 || (variant.vt & VT_BYREF) != 0 || variant.parray == nullptr) {
      YThrow(kYErrInvalidVariantType, frame);
    }
    LONG lower = 0;
    LONG upper = 0;
    CheckHr(SafeArrayGetLBound(variant.parray, 1, &lower), frame);
    CheckHr(SafeArrayGetUBound(variant.parray, 1, &upper), frame);
    return static_cast<int>(static_cast<std::int64_t>(upper) - lower + 1);
  });
}

bool CYVariant::IsIntegerVariant(const VARIANT& variant) {
  switch (variant.vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
      return true;
    default:
      return false;
  }
}

bool CYVariant::IsFloatVariant(const VARIANT& variant) { return variant.vt == VT_R4 || variant.vt == VT_R8; }

std::int64_t CYVariant::ToInt(const VARIANT& variant) {
  return YErrorFrame(VEL_FRAME(u"CYVariant::ToInt"), [&](const YFrame& frame) -> std::int64_t {
    switch (variant.vt) {
      case VT_I1: return variant.cVal;
      case VT_I2: return variant.iVal;
      case VT_I4: return variant.lVal;
      case VT_INT: return variant.intVal;
      case VT_UI1: return variant.bVal;
      case VT_UI2: return variant.uiVal;
      case VT_UI4: return variant.ulVal;
      case VT_UINT: return variant.uintVal;
      case VT_I8: return variant.llVal;
      case VT_UI8: return static_cast<std::int64_t>(variant.ullVal);
      default: YThrow(kYErrInvalidParameter, frame);
    }
  });
}

double CYVariant::ToFloat(const VARIANT& variant) {
  return YErrorFrame(VEL_FRAME(u"CYVariant::ToFloat"), [&](const YFrame& frame) -> double {
    if (variant.vt == VT_R4) return variant.fltVal;
    if (variant.vt == VT_R8) return variant.dblVal;
    YThrow(kYErrInvalidParameter, frame);
  });
}

_variant_t CYVariant::StringVectorToVariant(const std::vector<std::u16string>& strings) {
  return YErrorFrame(VEL_FRAME(u"CYVariant::StringVectorToVariant"), [&](const YFrame& frame) {
    if (strings.size() > 0xFFFFFFFFu) YThrow(kYErrInvalidParameter, frame);
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(strings.size()));
    if (array == nullptr) YThrowWin32(static_cast<DWORD>(ERROR_OUTOFMEMORY), frame);
    _variant_t result;  // owns the array from here on
    result.vt = VT_ARRAY | VT_BSTR;
    result.parray = array;
    for (std::size_t i = 0; i < strings.size(); ++i) {
      _bstr_t text(strings[i]);
      LONG index = static_cast<LONG>(i);
      CheckHr(SafeArrayPutElement(array, &index, static_cast<BSTR>(text)), frame);
    }
    return result;
  });
}

std::vector<std::u16string> CYVariant::VariantToStringVector(const VARIANT& variant) {
  return YErrorFrame(VEL_FRAME(u"CYVariant::VariantToStringVector"), [&](const YFrame& frame) {
    if (!IsArrayOf(variant, VT_BSTR)) YThrow(kYErrInvalidVariantType, frame);
    const int count = GetSafeArraySize(variant);
    std::vector<std::u16string> strings;
    strings.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    for (LONG i = 0; i < count; ++i) {
      OwnedBstr element;
      LONG index = i;
      CheckHr(SafeArrayGetElement(variant.parray, &index, &element.text), frame);
      strings.emplace_back(element.text ? element.text : u"", SysStringLen(element.text));
    }
    return strings;
  });
}

std::vector<std::int32_t> CYVariant::VariantToIntVector(const VARIANT& variant) {
  return YErrorFrame(VEL_FRAME(u"CYVariant::VariantToIntVector"), [&](const YFrame& frame) {
    if (!IsArrayOf(variant, VT_I4)) YThrow(kYErrInvalidVariantType, frame);
    const int count = GetSafeArraySize(variant);
    std::vector<std::int32_t> values;
    values.reserve(static_cast<std::size_t>(count > 0 ? count : 0));
    for (LONG i = 0; i < count; ++i) {
      LONG value = 0;
      LONG index = i;
      CheckHr(SafeArrayGetElement(variant.parray, &index, &value), frame);
      values.push_back(value);
    }
    return values;
  });
}

std::u16string CYVariant::ToXSDString(const VARIANT& variant, std::u16string& type) {
  return YErrorFrame(VEL_FRAME(u"CYVariant::ToXSDString"), [&](const YFrame& frame) -> std::u16string {
    if (IsIntegerVariant(variant)) {
      type = u"integer";
      return YFormat(u"%I64d", ToInt(variant));
    }
    if (IsFloatVariant(variant)) {
      type = u"decimal";
      return YFormat(u"%.15f", ToFloat(variant));
    }
    switch (variant.vt) {
      case VT_BSTR: {
        type = u"string";
        std::u16string text(variant.bstrVal ? variant.bstrVal : u"");  // up to the first zero
        for (char16_t& c : text) {
          if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') c = u'_';
        }
        return text;
      }
      case VT_BOOL:
        type = u"boolean";
        return variant.boolVal ? u"true" : u"false";
      case VT_DATE:
        type = u"dateTime";
        return CYTime::FormatW3CDate(variant.date);
      case VT_ARRAY | VT_UI1:
        type = u"base64binary";
        return Base64(variant, frame);
      case VT_ARRAY | VT_BSTR: {
        type = u"stringlist";
        const std::vector<std::u16string> strings = VariantToStringVector(variant);
        for (const std::u16string& s : strings) {
          if (s.find(u',') != std::u16string::npos) YThrow(kYErrInvalidStringArrayChar, frame);
        }
        return CYStringHelper::UnTokenizeString(strings, u",");
      }
      case VT_ARRAY | VT_I4: {
        type = u"integerlist";
        std::u16string text;
        for (std::int32_t value : VariantToIntVector(variant)) {
          if (!text.empty()) text += u',';
          text += YFormat(u"%d", value);
        }
        return text;
      }
      default:
        throw YReport(kYErrUnsupportedXsdType, frame).AddDetail(u"VarType", variant.vt, false);
    }
  });
}
