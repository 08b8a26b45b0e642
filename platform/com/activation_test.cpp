#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/combase.h"
#include "platform/com/comdef.h"
#include "platform/registry/winreg.h"
#include "platform/text.h"
#include "testing/TempRegistry.h"
#include "testing/servers/EchoServer.h"

using namespace vel::testing;

namespace {

class Activation : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Before the first registry call of the process.
    store_ = std::make_unique<TempRegistry>("velcom");
    dir_ = store_->dir();
    const char* bin = std::getenv("VEL_TEST_BIN");
    ASSERT_NE(bin, nullptr);
    modulePath_ = std::string(bin) + "/libvel_testserver.so";
    Register(CLSID_VelTestEcho, vel::FromUtf8(modulePath_));
  }
  static void TearDownTestSuite() { store_.reset(); }

  static void Register(REFCLSID clsid, const std::u16string& path) {
    OLECHAR guid[40];
    StringFromGUID2(clsid, guid, 40);
    std::u16string key = u"CLSID\\" + std::u16string(guid) + u"\\InprocServer32";
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                             static_cast<DWORD>((path.size() + 1) * sizeof(char16_t))),
              ERROR_SUCCESS);
    RegCloseKey(h);
  }

  static inline std::unique_ptr<TempRegistry> store_;
  static inline std::string dir_;
  static inline std::string modulePath_;
};

TEST_F(Activation, CreatesTheRegisteredClassAndSeesTheModulesErrorInfo) {
  ComPtr<IVelTestEcho> echo;
  ASSERT_EQ(CoCreateInstance(CLSID_VelTestEcho, nullptr, CLSCTX_ALL, IID_IVelTestEcho,
                             reinterpret_cast<void**>(&echo)),
            S_OK);
  _bstr_t out;
  ASSERT_EQ(echo->Echo(_bstr_t(u"hi"), out.GetAddress()), S_OK);
  EXPECT_EQ(out, _bstr_t(u"hi"));

  EXPECT_EQ(echo->Fail(), VEL_HR(0x80045D53));
  IErrorInfo* info = nullptr;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK) << "error info set in the module is seen by its caller";
  _com_error error(VEL_HR(0x80045D53), info);
  EXPECT_EQ(error.Description(), _bstr_t(u"failed inside the module"));
  EXPECT_EQ(error.Source(), _bstr_t(u"VelTest.Echo.1"));
  EXPECT_EQ(error.GUID(), IID_IVelTestEcho);

  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(echo.QueryInterface(support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IVelTestEcho), S_OK);
}

TEST_F(Activation, ClassObjectAndContexts) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_VelTestEcho, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  ComPtr<IUnknown> object;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
  EXPECT_EQ(OleRun(object), S_OK);

  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(CLSID_VelTestEcho, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &p),
            REGDB_E_CLASSNOTREG)
      << "only in-process servers exist";
  EXPECT_EQ(p, nullptr);
}

TEST_F(Activation, FailuresNameTheirCause) {
  const GUID unregistered = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x99}};
  void* p = nullptr;
  EXPECT_EQ(CoCreateInstance(unregistered, nullptr, CLSCTX_ALL, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);

  const GUID missingModule = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x03}};
  Register(missingModule, vel::FromUtf8(dir_ + "/no-such-module.so"));
  EXPECT_EQ(CoCreateInstance(missingModule, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_DLLNOTFOUND);

  // A loadable library without the entry point: the C library's math library will do.
  const GUID noEntry = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x04}};
  Register(noEntry, u"libm.so.6");
  EXPECT_EQ(CoCreateInstance(noEntry, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_ERRORINDLL);

  const GUID otherClass = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x05}};
  Register(otherClass, vel::FromUtf8(modulePath_));
  EXPECT_EQ(CoCreateInstance(otherClass, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE)
      << "the module's own answer passes through";
}

// Which module serves a class is remembered, but only while the registry
// says the same: a class registered anew or taken out is seen at once.
TEST_F(Activation, RepeatedActivationsFollowTheRegistry) {
  const GUID moving = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x06}};
  Register(moving, vel::FromUtf8(modulePath_));
  void* p = nullptr;
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(CoCreateInstance(moving, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CLASS_E_CLASSNOTAVAILABLE) << i;

  Register(moving, u"libm.so.6");
  EXPECT_EQ(CoCreateInstance(moving, nullptr, CLSCTX_ALL, IID_IUnknown, &p), CO_E_ERRORINDLL);

  OLECHAR guid[40];
  StringFromGUID2(moving, guid, 40);
  ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, (u"CLSID\\" + std::u16string(guid)).c_str()), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(moving, nullptr, CLSCTX_ALL, IID_IUnknown, &p), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(p, nullptr);
}

// Runs calls one at a time on one thread of its own, so that what the thread
// remembers between calls is used.
class OneThread {
 public:
  OneThread() : thread_([this] { Loop(); }) {}
  ~OneThread() {
    Run(nullptr);
    thread_.join();
  }
  // fn on the thread (null: the thread ends); returns when it has run.
  void Run(std::function<void()> fn) {
    std::unique_lock<std::mutex> hold(lock_);
    job_ = std::move(fn);
    pending_ = true;
    changed_.notify_all();
    changed_.wait(hold, [&] { return !pending_; });
  }

 private:
  void Loop() {
    for (;;) {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [&] { return pending_; });
      std::function<void()> job = std::move(job_);
      if (job) job();
      pending_ = false;
      changed_.notify_all();
      if (!job) return;
    }
  }
  std::mutex lock_;
  std::condition_variable changed_;
  std::function<void()> job_;
  bool pending_ = false;
  std::thread thread_;
};

// A thread that remembers where a class was found follows what another
// thread changes: a new registration, and modules unloaded in between.
TEST_F(Activation, AThreadsRememberedClassesFollowOtherThreads) {
  const GUID moving = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x07}};
  Register(moving, vel::FromUtf8(modulePath_));
  OneThread worker;
  auto create = [&](REFCLSID clsid) {
    HRESULT hr = E_FAIL;
    worker.Run([&] {
      IUnknown* p = nullptr;
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&p));
      if (p) p->Release();
    });
    return hr;
  };
  for (int i = 0; i < 2; ++i) EXPECT_EQ(create(moving), CLASS_E_CLASSNOTAVAILABLE) << i;
  Register(moving, u"libm.so.6");
  EXPECT_EQ(create(moving), CO_E_ERRORINDLL) << "registered anew on another thread";

  for (int i = 0; i < 2; ++i) EXPECT_EQ(create(CLSID_VelTestEcho), S_OK) << i;
  CoFreeUnusedLibraries();
  void* still = dlopen(modulePath_.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, nullptr) << "the module was unloaded";
  if (still) dlclose(still);
  EXPECT_EQ(create(CLSID_VelTestEcho), S_OK) << "loaded again, not called where it was";
}

TEST_F(Activation, UnusedModulesAreUnloadedAndLoadAgain) {
  {
    ComPtr<IVelTestEcho> echo;
    ASSERT_EQ(CoCreateInstance(CLSID_VelTestEcho, nullptr, CLSCTX_ALL, IID_IVelTestEcho,
                               reinterpret_cast<void**>(&echo)),
              S_OK);
    CoFreeUnusedLibraries();  // the live object keeps the module
    void* loaded = dlopen(modulePath_.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(loaded, nullptr);
    if (loaded) dlclose(loaded);
    _bstr_t out;
    ASSERT_EQ(echo->Echo(_bstr_t(u"still here"), out.GetAddress()), S_OK);
  }
  CoFreeUnusedLibraries();
  void* still = dlopen(modulePath_.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, nullptr) << "the module was unloaded";
  if (still) dlclose(still);
  ComPtr<IVelTestEcho> again;
  ASSERT_EQ(CoCreateInstance(CLSID_VelTestEcho, nullptr, CLSCTX_ALL, IID_IVelTestEcho,
                             reinterpret_cast<void**>(&again)),
            S_OK);
  _bstr_t out;
  EXPECT_EQ(again->Echo(_bstr_t(u"back"), out.GetAddress()), S_OK);
}

// Threads that load one module at the same moment all get working objects
// of it, and it is loaded once (one unload takes it out again).
TEST_F(Activation, ThreadsLoadingOneModuleAtOnceShareIt) {
  CoFreeUnusedLibraries();
  std::vector<HRESULT> created(4, E_FAIL);
  std::vector<HRESULT> echoed(4, E_FAIL);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < created.size(); ++t) {
    threads.emplace_back([&, t] {
      ComPtr<IVelTestEcho> echo;
      created[t] = CoCreateInstance(CLSID_VelTestEcho, nullptr, CLSCTX_ALL, IID_IVelTestEcho,
                                    reinterpret_cast<void**>(&echo));
      _bstr_t out;
      if (echo) echoed[t] = echo->Echo(_bstr_t(u"t"), out.GetAddress());
    });
  }
  for (std::thread& t : threads) t.join();
  for (std::size_t t = 0; t < created.size(); ++t) {
    EXPECT_EQ(created[t], S_OK) << t;
    EXPECT_EQ(echoed[t], S_OK) << t;
  }
  CoFreeUnusedLibraries();
  void* still = dlopen(modulePath_.c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_EQ(still, nullptr) << "one unload takes the module out: it was loaded once";
  if (still) dlclose(still);
}

}  // namespace
