// A minimal in-process server for the COM creation tests: two classes whose
// class objects count how often they are asked for.
#include "testing/servers/CountingServer.h"

#include <atomic>

namespace {

using namespace vel::testing;

std::atomic<LONG> g_classObjectRequests{0};
std::atomic<LONG> g_refusedCreations{0};

class Counters final : public ITestCounters {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == kIIDTestCounters) {
      *ppv = static_cast<ITestCounters*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  LONG STDMETHODCALLTYPE ClassObjectRequests() override { return g_classObjectRequests.load(); }
  LONG STDMETHODCALLTYPE RefusedCreations() override { return g_refusedCreations.load(); }

 private:
  std::atomic<ULONG> m_refs{1};
};

// Static class objects: they live as long as the module.
class ClassObject final : public IClassFactory {
 public:
  explicit ClassObject(bool refuses) : m_refuses(refuses) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (m_refuses) {
      ++g_refusedCreations;
      return E_ACCESSDENIED;
    }
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* object = new Counters;
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  bool m_refuses;
};

ClassObject g_counted(false);
ClassObject g_refusing(true);

}  // namespace

extern "C" [[gnu::visibility("default")]] HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  ++g_classObjectRequests;
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid == kTestCountedClass) return g_counted.QueryInterface(riid, ppv);
  if (rclsid == kTestRefusingClass) return g_refusing.QueryInterface(riid, ppv);
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" [[gnu::visibility("default")]] HRESULT DllCanUnloadNow() { return S_FALSE; }
