// A small in-process server for the activation tests: one class whose method
// fails with error info set inside this module.
#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/com/comobject.h"
#include "testing/servers/EchoServer.h"

namespace {

using namespace vel::testing;

class CEcho : public vel::com::Implements<IVelTestEcho, vel::com::SupportErrorInfoFor<IVelTestEcho>> {
 public:
  STDMETHOD(Echo)(BSTR text, BSTR* pOut) override {
    if (!pOut) return E_POINTER;
    *pOut = SysAllocStringLen(text, SysStringLen(text));
    return S_OK;
  }
  STDMETHOD(Fail)() override {
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create))) return E_FAIL;
    create->SetGUID(IID_IVelTestEcho);
    create->SetSource(const_cast<LPOLESTR>(u"VelTest.Echo.1"));
    create->SetDescription(const_cast<LPOLESTR>(u"failed inside the module"));
    SetErrorInfo(0, ComPtr<IErrorInfo>(create));
    return VEL_HR(0x80045D53);
  }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid,
                                                                             LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_VelTestEcho) return CLASS_E_CLASSNOTAVAILABLE;
  return vel::com::ClassFactory<CEcho>::Create(riid, ppv);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return vel::com::ModuleCanUnloadNow();
}
