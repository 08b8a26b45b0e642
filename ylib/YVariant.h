// CYVariant: OLE VARIANTs to numbers, string and integer lists and XML Schema
// typed texts, and string lists back to VARIANTs.
//
//   std::u16string type;
//   std::u16string text = CYVariant::ToXSDString(value, type);   // "integer", "-5"
//   _variant_t list = CYVariant::StringVectorToVariant({u"a", u"b"});  // VT_ARRAY|VT_BSTR
//
// References (VT_BYREF) are not looked through: they count as unsupported.
//
// Thread safety: stateless; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/com/comdef.h"
#include "platform/com/types.h"
#include "ylib/YException.h"

constexpr YErrorDef kYErrInvalidVariantType{1015, u"Invalid variant type"};

class CYVariant {
 public:
  // Element count of dimension 1 of an array VARIANT; 1015 for anything else.
  static int GetSafeArraySize(const VARIANT& variant);
  // VT_I1, VT_I2, VT_I4, VT_I8, VT_INT, VT_UI1, VT_UI2, VT_UI4, VT_UI8, VT_UINT.
  static bool IsIntegerVariant(const VARIANT& variant);
  // VT_R4, VT_R8.
  static bool IsFloatVariant(const VARIANT& variant);
  // Signed types sign-extended, unsigned ones zero-extended, the 64-bit ones
  // as their bits; other types 1010.
  static std::int64_t ToInt(const VARIANT& variant);
  static double ToFloat(const VARIANT& variant);  // VT_R4, VT_R8; else 1010

  // A vector of BSTRs, lower bound 0, in order.
  static _variant_t StringVectorToVariant(const std::vector<std::u16string>& strings);
  // VT_ARRAY|VT_BSTR (element type VT_BSTR) only; else 1015.
  static std::vector<std::u16string> VariantToStringVector(const VARIANT& variant);
  // VT_ARRAY|VT_I4 (element type VT_I4) only; else 1015.
  static std::vector<std::int32_t> VariantToIntVector(const VARIANT& variant);

  // The value as XSD text, its type name in type: "integer", "decimal",
  // "string", "boolean", "dateTime", "base64binary", "stringlist",
  // "integerlist". Other types raise 2017 with the detail "VarType"; a string
  // list member holding "," raises 2021.
  static std::u16string ToXSDString(const VARIANT& variant, std::u16string& type);
};
