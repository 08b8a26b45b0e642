#include "ylib/YCOMUtilities.h"

#include "ylib/YErrorFrame.h"
#include "ylib/YGUID.h"

namespace {
constexpr char16_t kSource[] = u"YCOMUtilities";
}

ComPtr<IUnknown> CYCOMUtils::CreateObject(REFCLSID clsid, const char16_t* name, DWORD context) {
  return YErrorFrame(VEL_FRAME(u"CYCOMUtils::CreateObject"), [&](const YFrame& frame) {
    auto fail = [&](HRESULT hr) {
      CYException report = YReportHr(hr, frame);
      report.AddDetail(u"ClassID", CYGUID::GUIDToString(clsid));
      if (name != nullptr) report.AddDetail(u"ProgID", name);
      throw report;
    };
    IUnknown* raw = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, context, IID_IUnknown, reinterpret_cast<void**>(&raw));
    if (FAILED(hr)) fail(hr);
    ComPtr<IUnknown> object(raw, false);
    if (context & (CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)) {
      hr = OleRun(object.GetInterfacePtr());
      if (FAILED(hr)) fail(hr);
      IUnknown* running = nullptr;
      hr = object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&running));
      if (FAILED(hr)) fail(hr);
      object = ComPtr<IUnknown>(running, false);
    }
    return object;
  });
}
