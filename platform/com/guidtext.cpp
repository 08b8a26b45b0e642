// GUID text: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" written with upper-case
// digits, read in either case. Pure functions, safe from any thread.
#include <cstring>

#include "platform/com/combase.h"

namespace {

constexpr int kGuidTextLen = 38;  // without the terminating zero

void FormatGuid(const GUID& g, char16_t* out) {
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  auto put = [&out](std::uint64_t value, int digits) {
    for (int i = digits - 1; i >= 0; --i) *out++ = kDigits[(value >> (4 * i)) & 0xF];
  };
  *out++ = u'{';
  put(g.Data1, 8);
  *out++ = u'-';
  put(g.Data2, 4);
  *out++ = u'-';
  put(g.Data3, 4);
  *out++ = u'-';
  put(g.Data4[0], 2);
  put(g.Data4[1], 2);
  *out++ = u'-';
  for (int i = 2; i < 8; ++i) put(g.Data4[i], 2);
  *out++ = u'}';
  *out = 0;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads `digits` hex digits from text[pos...]; false on any other character.
bool ReadHex(const char16_t* text, int pos, int digits, std::uint64_t& value) {
  value = 0;
  for (int i = 0; i < digits; ++i) {
    int v = HexValue(text[pos + i]);
    if (v < 0) return false;
    value = (value << 4) | static_cast<unsigned>(v);
  }
  return true;
}

bool ParseGuid(const char16_t* text, GUID& g) {
  // Exactly 38 characters: the loop stops at a terminating zero because zero is no hex digit.
  for (int i = 0; i < kGuidTextLen; ++i)
    if (text[i] == 0) return false;
  if (text[kGuidTextLen] != 0) return false;
  if (text[0] != u'{' || text[9] != u'-' || text[14] != u'-' || text[19] != u'-' || text[24] != u'-' ||
      text[37] != u'}')
    return false;
  std::uint64_t v = 0;
  if (!ReadHex(text, 1, 8, v)) return false;
  g.Data1 = static_cast<DWORD>(v);
  if (!ReadHex(text, 10, 4, v)) return false;
  g.Data2 = static_cast<WORD>(v);
  if (!ReadHex(text, 15, 4, v)) return false;
  g.Data3 = static_cast<WORD>(v);
  static const int kBytePos[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!ReadHex(text, kBytePos[i], 2, v)) return false;
    g.Data4[i] = static_cast<BYTE>(v);
  }
  return true;
}

}  // namespace

extern "C" {

HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
  if (!lplpsz) return E_INVALIDARG;
  *lplpsz = nullptr;
  auto* out = static_cast<char16_t*>(CoTaskMemAlloc((kGuidTextLen + 1) * sizeof(char16_t)));
  if (!out) return E_OUTOFMEMORY;
  FormatGuid(rclsid, out);
  *lplpsz = out;
  return S_OK;
}

INT StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, INT cchMax) {
  if (!lpsz || cchMax < kGuidTextLen + 1) return 0;
  FormatGuid(rguid, lpsz);
  return kGuidTextLen + 1;
}

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
  if (!pclsid) return E_INVALIDARG;
  // A null text is the null GUID, as the platform answers.
  if (!lpsz) {
    *pclsid = GUID_NULL;
    return S_OK;
  }
  GUID g{};
  if (!ParseGuid(lpsz, g)) return CO_E_CLASSSTRING;
  *pclsid = g;
  return S_OK;
}

}  // extern "C"
