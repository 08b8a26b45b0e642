#include "ylib/YGUID.h"

#include "platform/com/combase.h"
#include "ylib/YErrorFrame.h"

namespace {
constexpr char16_t kSource[] = u"YGUID";
}

std::u16string CYGUID::GUIDToString(REFGUID guid) {
  return YErrorFrame(VEL_FRAME(u"CYGUID::GUIDToString"), [&](const YFrame& frame) {
    LPOLESTR text = nullptr;
    const HRESULT hr = StringFromCLSID(guid, &text);
    if (FAILED(hr)) YThrowHr(hr, frame);
    std::u16string result(text ? text : u"");
    CoTaskMemFree(text);
    return result;
  });
}

GUID CYGUID::StringToGUID(std::u16string_view text) {
  return YErrorFrame(VEL_FRAME(u"CYGUID::StringToGUID"), [&](const YFrame& frame) {
    if (text.empty()) return GUID_NULL;
    std::u16string braced(text);
    if (braced.front() != u'{' && braced.back() != u'}') braced = u"{" + braced + u"}";
    GUID guid = GUID_NULL;
    const HRESULT hr = CLSIDFromString(braced.c_str(), &guid);
    if (FAILED(hr)) YThrowHr(hr, frame);
    return guid;
  });
}
