#include "contract/VelComBoundary.h"

#include <string>

#include "platform/com/comdef.h"

HRESULT VelSetComError(const IID& iid, const char16_t* progId, const CYException& report) noexcept {
  try {
    ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(&create)) && create) {
      std::u16string xml = report.GetXml();
      create->SetGUID(iid);
      create->SetSource(const_cast<LPOLESTR>(progId));
      create->SetDescription(xml.data());
      ComPtr<IErrorInfo> info;
      if (SUCCEEDED(create.QueryInterface(info))) SetErrorInfo(0, info);
    }
  } catch (...) {
    // Without memory for the description the caller still learns that the call failed.
  }
  return kVelErrorHResult;
}

void VelThrowNotImplemented(const YFrame& frame) { YThrow(kVelNotImplemented, E_NOTIMPL, frame); }
