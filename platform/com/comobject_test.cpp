#include "platform/com/comobject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/comdef.h"
#include "platform/com/dispatch.h"

// A dual interface with a dispatch table, and a plain one.
struct ICalc : IDispatch {
  STDMETHOD(Add)(LONG a, LONG b, LONG* pSum) = 0;
  STDMETHOD(get_Name)(BSTR* pVal) = 0;
  STDMETHOD(put_Name)(BSTR val) = 0;
  STDMETHOD(Fail)(BSTR why) = 0;
  STDMETHOD(Split)(BSTR text, BSTR* pHead) = 0;
  STDMETHOD(Echo)(VARIANT v, VARIANT_BOOL flag, IUnknown* any, VARIANT* pOut) = 0;
  STDMETHOD(Self)(ICalc** ppSelf) = 0;
  static const vel::com::DispatchTable kDispatch;
};
const IID IID_ICalc = {0x6F1C1A10, 0x1111, 0x4A2B, {0x90, 0, 0, 0, 0, 0, 0, 1}};
VEL_DECLARE_IID(ICalc, IID_ICalc);

inline const vel::com::DispatchTable ICalc::kDispatch = {
    vel::com::DispMethod<&ICalc::Add>(u"Add", 1),
    vel::com::DispPropGet<&ICalc::get_Name>(u"Name", 2),
    vel::com::DispPropPut<&ICalc::put_Name>(u"Name", 2),
    vel::com::DispMethod<&ICalc::Fail>(u"Fail", 3),
    vel::com::DispMethodNoRetval<&ICalc::Split>(u"Split", 4),
    vel::com::DispMethod<&ICalc::Echo>(u"Echo", 5),
    vel::com::DispMethod<&ICalc::Self>(u"Self", 6),
};

struct IPlain : IUnknown {
  STDMETHOD_(LONG, Value)() = 0;
};
const IID IID_IPlain = {0x6F1C1A10, 0x1111, 0x4A2B, {0x90, 0, 0, 0, 0, 0, 0, 2}};
VEL_DECLARE_IID(IPlain, IID_IPlain);

namespace {

const HRESULT kFailure = VEL_HR(0x80045D53);

std::atomic<int> g_finalReleases{0};  // objects are released on several threads in one test

class CCalc : public vel::com::Implements<vel::com::DispatchImpl<ICalc>, IPlain,
                                          vel::com::SupportErrorInfoFor<ICalc>> {
 public:
  HRESULT FinalConstruct() {
    name_ = SysAllocString(u"calc");
    return S_OK;
  }
  void FinalRelease() {
    SysFreeString(name_);
    ++g_finalReleases;
  }

  STDMETHOD(Add)(LONG a, LONG b, LONG* pSum) override {
    *pSum = a + b;
    return S_OK;
  }
  STDMETHOD(get_Name)(BSTR* pVal) override {
    *pVal = SysAllocString(name_);
    return S_OK;
  }
  STDMETHOD(put_Name)(BSTR val) override {
    SysFreeString(name_);
    name_ = SysAllocStringLen(val, SysStringLen(val));
    return S_OK;
  }
  STDMETHOD(Fail)(BSTR why) override {
    ComPtr<ICreateErrorInfo> create;
    CreateErrorInfo(&create);
    create->SetSource(const_cast<LPOLESTR>(u"Vel.Calc.1"));
    create->SetDescription(why);
    create->SetGUID(IID_ICalc);
    SetErrorInfo(0, ComPtr<IErrorInfo>(create));
    return kFailure;
  }
  STDMETHOD(Split)(BSTR text, BSTR* pHead) override {
    *pHead = SysAllocStringLen(text, SysStringLen(text) / 2);
    return S_OK;
  }
  STDMETHOD(Echo)(VARIANT v, VARIANT_BOOL flag, IUnknown* any, VARIANT* pOut) override {
    if (flag != VARIANT_TRUE || !any) return E_INVALIDARG;
    VariantInit(pOut);
    return VariantCopy(pOut, &v);
  }
  STDMETHOD(Self)(ICalc** ppSelf) override {
    *ppSelf = this;
    AddRef();
    return S_OK;
  }
  STDMETHOD_(LONG, Value)() override { return 42; }

  IUnknown* Identity() const { return GetControllingUnknown(); }

 private:
  BSTR name_ = nullptr;
};

class CFailing : public vel::com::Implements<IPlain> {
 public:
  HRESULT FinalConstruct() { return E_ACCESSDENIED; }
  void FinalRelease() { ++g_finalReleases; }
  STDMETHOD_(LONG, Value)() override { return 0; }
};

class CSolo : public vel::com::Implements<IPlain> {
 public:
  static constexpr bool kAggregatable = false;
  STDMETHOD_(LONG, Value)() override { return 1; }
};

ULONG RefCount(IUnknown* p) {
  p->AddRef();
  return p->Release();
}

TEST(ComObjectTemplate, CountsReferencesAndAnswersListedAndBaseInterfaces) {
  const long locksBefore = vel::com::ModuleLocks().Count();
  const int releasesBefore = g_finalReleases;
  ComPtr<ICalc> calc;
  ASSERT_EQ((vel::com::CreateComObject<CCalc>(&calc)), S_OK);
  EXPECT_EQ(RefCount(calc), 1u);
  EXPECT_EQ(vel::com::ModuleLocks().Count(), locksBefore + 1) << "a live object holds the module";
  EXPECT_EQ(vel::com::ModuleCanUnloadNow(), S_FALSE);

  ComPtr<IDispatch> dispatch;
  EXPECT_EQ(calc.QueryInterface(dispatch), S_OK) << "IDispatch comes from the dual interface";
  EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(calc.get()));
  ComPtr<IPlain> plain;
  EXPECT_EQ(calc.QueryInterface(plain), S_OK);
  EXPECT_EQ(plain->Value(), 42);
  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(calc.QueryInterface(support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ICalc), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IPlain), S_FALSE);
  ComPtr<IEnumVARIANT> none;
  EXPECT_EQ(calc.QueryInterface(none), E_NOINTERFACE);
  EXPECT_FALSE(none);
  EXPECT_EQ(RefCount(calc), 4u);

  ComPtr<IUnknown> u1;
  ComPtr<IUnknown> u2;
  calc.QueryInterface(u1);
  plain.QueryInterface(u2);
  EXPECT_EQ(u1.get(), u2.get()) << "one identity from every interface";

  calc = nullptr;
  dispatch = nullptr;
  support = nullptr;
  u1 = nullptr;
  u2 = nullptr;
  EXPECT_EQ(g_finalReleases, releasesBefore);
  plain = nullptr;
  EXPECT_EQ(g_finalReleases, releasesBefore + 1) << "FinalRelease runs once, at the last Release";
  EXPECT_EQ(vel::com::ModuleLocks().Count(), locksBefore);
}

// Objects made on some threads and released on others while the module's
// lock count is asked: it never says the module may go while one object
// lives, and is back where it was when they are all gone.
TEST(ComObjectTemplate, LockCountHoldsAcrossThreads) {
  const long locksBefore = vel::com::ModuleLocks().Count();
  ComPtr<IPlain> anchor;  // lives through the whole test
  ASSERT_EQ((vel::com::CreateComObject<CCalc>(&anchor)), S_OK);
  constexpr int kThreads = 4;
  constexpr int kObjects = 5000;
  std::vector<std::vector<IPlain*>> made(kThreads);
  std::vector<std::thread> makers;
  for (int t = 0; t < kThreads; ++t) {
    makers.emplace_back([&, t] {
      for (int i = 0; i < kObjects; ++i) {
        IPlain* p = nullptr;
        if (vel::com::CreateComObject<CCalc>(&p) == S_OK) made[t].push_back(p);
      }
    });
  }
  std::atomic<bool> done{false};
  std::atomic<int> freeToGo{0};
  std::thread asker([&] {
    while (!done.load()) {
      if (vel::com::ModuleCanUnloadNow() == S_OK) ++freeToGo;
    }
  });
  for (std::thread& t : makers) t.join();
  EXPECT_EQ(vel::com::ModuleLocks().Count(), locksBefore + 1 + kThreads * kObjects);
  // Released by other threads than the ones that made them.
  std::vector<std::thread> releasers;
  for (int t = 0; t < kThreads; ++t) {
    releasers.emplace_back([&, t] {
      for (IPlain* p : made[(t + 1) % kThreads]) p->Release();
    });
  }
  for (std::thread& t : releasers) t.join();
  done = true;
  asker.join();
  EXPECT_EQ(freeToGo.load(), 0) << "the module was said free while objects lived";
  EXPECT_EQ(vel::com::ModuleLocks().Count(), locksBefore + 1);
  anchor = nullptr;
  EXPECT_EQ(vel::com::ModuleLocks().Count(), locksBefore);
}

TEST(ComObjectTemplate, FailedFinalConstructEndsTheCreation) {
  const long locksBefore = vel::com::ModuleLocks().Count();
  IPlain* p = reinterpret_cast<IPlain*>(1);
  EXPECT_EQ((vel::com::CreateComObject<CFailing>(&p)), E_ACCESSDENIED);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(vel::com::ModuleLocks().Count(), locksBefore) << "the object is gone";
  EXPECT_EQ(vel::com::CreateComObject<CCalc>(nullptr, IID_ICalc, nullptr), E_POINTER);
}

// A minimal outer object that aggregates a CCalc and answers IPlain through it.
class Outer : public IUnknown {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown) {
      *ppv = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    ++delegatedQueries;
    return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
  STDMETHOD_(ULONG, Release)() override { return --refs; }
  ULONG refs = 1;
  int delegatedQueries = 0;
  IUnknown* inner = nullptr;
};

TEST(ComObjectTemplate, AggregatedObjectDelegatesToTheOuterObject) {
  Outer outer;
  EXPECT_EQ(vel::com::CreateComObject<CCalc>(&outer, IID_ICalc, reinterpret_cast<void**>(&outer.inner)),
            CLASS_E_NOAGGREGATION)
      << "an outer object must ask for IUnknown";
  void* solo = nullptr;
  EXPECT_EQ(vel::com::CreateComObject<CSolo>(&outer, IID_IUnknown, &solo), CLASS_E_NOAGGREGATION);

  ASSERT_EQ(vel::com::CreateComObject<CCalc>(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  EXPECT_EQ(RefCount(outer.inner), 1u) << "the inner IUnknown counts the object itself";
  EXPECT_EQ(outer.refs, 1u) << "creating did not keep a reference on the outer object";

  IPlain* plain = nullptr;
  ASSERT_EQ(outer.QueryInterface(IID_IPlain, reinterpret_cast<void**>(&plain)), S_OK);
  EXPECT_EQ(outer.refs, 2u) << "interfaces of the inner object count on the outer one";
  EXPECT_EQ(RefCount(outer.inner), 1u);

  IUnknown* identity = nullptr;
  const int before = outer.delegatedQueries;
  ASSERT_EQ(plain->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer)) << "the identity is the outer object's";
  identity->Release();
  ICalc* calc = nullptr;
  ASSERT_EQ(plain->QueryInterface(IID_ICalc, reinterpret_cast<void**>(&calc)), S_OK);
  EXPECT_EQ(outer.delegatedQueries, before + 1) << "QueryInterface went through the outer object";
  calc->Release();
  plain->Release();
  EXPECT_EQ(outer.refs, 1u);

  const int releasesBefore = g_finalReleases;
  outer.inner->Release();
  EXPECT_EQ(g_finalReleases, releasesBefore + 1);
}

TEST(ComObjectTemplate, ClassFactoryCreatesAndLocksTheModule) {
  const long locksBefore = vel::com::ModuleLocks().Count();
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(vel::com::ClassFactory<CCalc>::Create(IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(vel::com::ModuleLocks().Count(), locksBefore) << "the class object itself does not lock";
  factory->LockServer(TRUE);
  EXPECT_EQ(vel::com::ModuleLocks().Count(), locksBefore + 1);
  factory->LockServer(FALSE);
  ComPtr<IPlain> plain;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPlain, reinterpret_cast<void**>(&plain)), S_OK);
  EXPECT_EQ(plain->Value(), 42);
}

// ---- IDispatch from the table

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ((vel::com::CreateComObject<CCalc>(&disp_)), S_OK); }

  DISPID Id(const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 12345;
    disp_->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    return id;
  }
  // Arguments in call order; reversed into rgvarg as callers do.
  HRESULT Call(DISPID id, WORD flags, std::vector<_variant_t> args, VARIANT* result = nullptr, bool namedPut = false) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS dp{reversed.data(), namedPut ? &named : nullptr, static_cast<UINT>(reversed.size()),
                  namedPut ? 1u : 0u};
    excep_ = EXCEPINFO{};
    argErr_ = 999;
    return disp_->Invoke(id, IID_NULL, 0, flags, &dp, result, &excep_, &argErr_);
  }
  void TearDown() override {
    SysFreeString(excep_.bstrSource);
    SysFreeString(excep_.bstrDescription);
    SysFreeString(excep_.bstrHelpFile);
  }

  ComPtr<IDispatch> disp_;
  EXCEPINFO excep_{};
  UINT argErr_ = 0;
};

TEST_F(DispatchTest, NamesAreFoundIgnoringCase) {
  EXPECT_EQ(Id(u"Add"), 1);
  EXPECT_EQ(Id(u"aDD"), 1);
  EXPECT_EQ(Id(u"NAME"), 2);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"Nope")};
  DISPID id = 0;
  EXPECT_EQ(disp_->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
  UINT count = 9;
  EXPECT_EQ(disp_->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(disp_->GetTypeInfo(0, 0, &info), E_NOTIMPL);
}

TEST_F(DispatchTest, InvokeConvertsArgumentsAndReturnsTheRetval) {
  _variant_t result;
  ASSERT_EQ(Call(1, DISPATCH_METHOD, {_variant_t(u"5"), _variant_t(short{3})}, &result), S_OK);
  EXPECT_EQ(result, _variant_t(8)) << "\"5\" became the long 5 and the result is VT_I4";

  result.Clear();
  ASSERT_EQ(Call(2, DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result, _variant_t(u"calc"));
  ASSERT_EQ(Call(2, DISPATCH_PROPERTYPUT, {_variant_t(12)}, nullptr, true), S_OK);
  result.Clear();
  ASSERT_EQ(Call(2, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &result), S_OK);
  EXPECT_EQ(result, _variant_t(u"12")) << "the put converted 12 to text";

  // [out] BSTR* by reference, reversed order of two arguments.
  BSTR head = nullptr;
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_BYREF | VT_BSTR;
  out.pbstrVal = &head;
  ASSERT_EQ(Call(4, DISPATCH_METHOD, {_variant_t(u"abcd"), _variant_t(out)}), S_OK);
  EXPECT_EQ(std::u16string(head), u"ab");
  SysFreeString(head);

  // VARIANT, VARIANT_BOOL and interface arguments; VARIANT retval; interface retval.
  result.Clear();
  ASSERT_EQ(Call(5, DISPATCH_METHOD, {_variant_t(2.5), _variant_t(u"-1"), _variant_t(static_cast<IDispatch*>(disp_))},
                 &result),
            S_OK);
  EXPECT_EQ(result, _variant_t(2.5));
  result.Clear();
  ASSERT_EQ(Call(6, DISPATCH_METHOD, {}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_DISPATCH);
  EXPECT_TRUE(ComPtr<IDispatch>(result.pdispVal).IsSameObject(disp_.get()));
}

TEST_F(DispatchTest, InvokeReportsBadCalls) {
  _variant_t result;
  EXPECT_EQ(Call(99, DISPATCH_METHOD, {}, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {_variant_t(1)}, nullptr, true), DISP_E_MEMBERNOTFOUND)
      << "Add is no property";
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {_variant_t(1)}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {_variant_t(1), _variant_t(2), _variant_t(3)}, &result),
            DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {_variant_t(1), _variant_t(u"five")}, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 0u) << "the second argument sits first in rgvarg";
  EXPECT_EQ(Call(1, DISPATCH_METHOD, {_variant_t(u"x"), _variant_t(2)}, &result), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr_, 1u);
  EXPECT_EQ(Call(5, DISPATCH_METHOD, {_variant_t(1), _variant_t(true), _variant_t(7)}, &result),
            DISP_E_TYPEMISMATCH)
      << "a number is no object";
  EXPECT_EQ(argErr_, 0u);
  EXPECT_EQ(Call(4, DISPATCH_METHOD, {_variant_t(u"abcd"), _variant_t(u"not by ref")}), DISP_E_TYPEMISMATCH);

  DISPID named = 1;
  VARIANT arg = _variant_t(3).Detach();
  DISPPARAMS dp{&arg, &named, 1, 1};
  UINT argErr = 99;
  EXPECT_EQ(disp_->Invoke(3, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, nullptr, &argErr), DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(argErr, 0u);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(disp_->Invoke(2, IID_ICalc, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST_F(DispatchTest, FailingMemberGivesAnExceptionWithTheErrorInfo) {
  SetErrorInfo(0, nullptr);
  EXPECT_EQ(Call(3, DISPATCH_METHOD, {_variant_t(u"<error>broken</error>")}), DISP_E_EXCEPTION);
  EXPECT_EQ(excep_.scode, kFailure);
  ASSERT_NE(excep_.bstrSource, nullptr);
  EXPECT_EQ(std::u16string(excep_.bstrSource), u"Vel.Calc.1");
  ASSERT_NE(excep_.bstrDescription, nullptr);
  EXPECT_EQ(std::u16string(excep_.bstrDescription), u"<error>broken</error>");
  IErrorInfo* left = nullptr;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE) << "the error info moved into EXCEPINFO";
}

}  // namespace
