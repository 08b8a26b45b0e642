// COM objects from C++ classes: IUnknown written once from the list of
// interfaces a class answers, the module's lock count, aggregation, and a
// generic class factory.
//
//   class CFoo : public vel::com::Implements<vel::com::DispatchImpl<IFoo>, IBar,
//                                            vel::com::SupportErrorInfoFor<IFoo>> {
//    public:
//     HRESULT FinalConstruct();   // optional; a failure ends the creation
//     void FinalRelease();        // optional; runs before the object is deleted
//     static constexpr bool kAggregatable = false;  // optional; default true
//     ... the interface methods ...
//   };
//   HRESULT hr = vel::com::CreateComObject<CFoo>(outer, riid, ppv);
//
// CFoo stays abstract (it has no IUnknown methods), so the only way to make
// one is CreateComObject, which instantiates the final ComObject<CFoo>.
// QueryInterface answers IID_IUnknown, every listed interface and the base
// interfaces of the listed ones (IDispatch of a dual interface); when two
// listed interfaces share a base, the first one listed hands it out.
//
// Module lock count: every live ComObject and every LockServer(TRUE) of the
// module counts in ModuleLocks(). That function is inline with hidden
// visibility, so each shared object (module) that includes this header keeps
// its own count; a module's DllCanUnloadNow returns ModuleCanUnloadNow().
//
// Thread safety: reference counts and the lock count are atomic; the class
// guards its own state.
#pragma once

#include <sched.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <tuple>
#include <type_traits>

#include "platform/com/interfaces.h"

namespace vel::com {

// This module's count of live objects and server locks. Threads that create
// and release objects at the same time must not all write one shared word
// (its cache line would travel between the cores on every object), so the
// count is kept in cells, one per processor (processors beyond kCells share),
// each on a line of its own, as the objects added and the objects removed
// there. An object may be removed on another processor than the one that
// added it. The cell is chosen by the processor, not kept per thread: the
// thread-local storage of a module loaded with dlopen is placed on its first
// use under a lock the dynamic loader holds through every load (see
// vel::PerThread).
class [[gnu::visibility("hidden")]] LockCount {
 public:
  static constexpr unsigned kCells = 64;

  void Add() noexcept { Mine().added.fetch_add(1); }
  void Remove() noexcept { Mine().removed.fetch_add(1); }

  // Whether nothing holds the module. Exact: true only when the count was 0
  // at one moment during the call. All removals are read first, then all
  // additions; every removal follows its own addition, so the additions read
  // are at least the removals read, and equal sums mean that at the moment
  // between the two passes every addition made had been removed.
  bool None() const noexcept {
    std::uint64_t removed = 0;
    for (const Cell& cell : cells_) removed += cell.removed.load();
    std::uint64_t added = 0;
    for (const Cell& cell : cells_) added += cell.added.load();
    return added == removed;
  }

  // The live count; exact while no other thread changes it (for tests).
  long Count() const noexcept {
    std::uint64_t added = 0, removed = 0;
    for (const Cell& cell : cells_) {
      added += cell.added.load();
      removed += cell.removed.load();
    }
    return static_cast<long>(added - removed);
  }

 private:
  struct alignas(64) Cell {
    std::atomic<std::uint64_t> added{0};
    std::atomic<std::uint64_t> removed{0};
  };
  Cell& Mine() noexcept {
    const int processor = sched_getcpu();
    return cells_[processor < 0 ? 0 : static_cast<unsigned>(processor) % kCells];
  }
  Cell cells_[kCells];
};

[[gnu::visibility("hidden")]] inline LockCount& ModuleLocks() noexcept {
  static LockCount count;
  return count;
}
[[gnu::visibility("hidden")]] inline HRESULT ModuleCanUnloadNow() noexcept {
  return ModuleLocks().None() ? S_OK : S_FALSE;
}

// The interface an entry of Implements<> stands for: an implementation mixin
// (DispatchImpl<I>, SupportErrorInfoFor<...>) names it as VelInterface.
template <class X, class = void>
struct InterfaceOf {
  using type = X;
};
template <class X>
struct InterfaceOf<X, std::void_t<typename X::VelInterface>> {
  using type = typename X::VelInterface;
};
template <class X>
using InterfaceOf_t = typename InterfaceOf<X>::type;

// The direct base interface of an interface, for QueryInterface. Derivations
// of IDispatch are found by themselves; a module with deeper hierarchies
// specialises this (VEL_DECLARE_BASE_INTERFACE).
template <class I>
struct BaseInterface {
  using type = std::conditional_t<std::is_base_of_v<IDispatch, I> && !std::is_same_v<IDispatch, I>, IDispatch,
                                  IUnknown>;
};
#define VEL_DECLARE_BASE_INTERFACE(Itf, Base) \
  template <>                                 \
  struct vel::com::BaseInterface<Itf> {       \
    using type = Base;                        \
  }

template <class I>
void* CastThroughChain(REFIID riid, I* p) noexcept {
  if (riid == __uuidof(I)) return p;
  using B = typename BaseInterface<I>::type;
  if constexpr (std::is_same_v<I, IUnknown> || std::is_same_v<B, IUnknown>) {
    return nullptr;
  } else {
    return CastThroughChain(riid, static_cast<B*>(p));
  }
}

template <class T>
class ComObject;

template <class... Entries>
class Implements : public Entries... {
  static_assert(sizeof...(Entries) > 0, "a COM class answers at least one interface");

 public:
  using FirstEntry = std::tuple_element_t<0, std::tuple<Entries...>>;
  // One IUnknown for all listed interfaces, so the class may call it
  // unambiguously; ComObject<> implements it.
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override = 0;
  STDMETHOD_(ULONG, AddRef)() override = 0;
  STDMETHOD_(ULONG, Release)() override = 0;
  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(__uuidof(Q), reinterpret_cast<void**>(pp));
  }

  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}
  static constexpr bool kAggregatable = true;

 protected:
  Implements() = default;
  Implements(const Implements&) = delete;
  Implements& operator=(const Implements&) = delete;

  // The object's identity: the outer object's IUnknown when aggregated.
  // Not reference counted; valid while the object lives.
  IUnknown* GetControllingUnknown() const noexcept { return controlling_; }

  // The interface pointer for riid among the listed interfaces and their bases.
  void* FindInterface(REFIID riid) noexcept {
    void* found = nullptr;
    ((found || (found = CastThroughChain(riid, static_cast<InterfaceOf_t<Entries>*>(static_cast<Entries*>(this))))),
     ...);
    return found;
  }
  IUnknown* FirstUnknown() noexcept {
    return static_cast<InterfaceOf_t<FirstEntry>*>(static_cast<FirstEntry*>(this));
  }

 private:
  template <class T>
  friend class ComObject;
  IUnknown* controlling_ = nullptr;
};

// ISupportErrorInfo answering S_OK for exactly the listed interfaces.
template <class... Itfs>
class SupportErrorInfoFor : public ISupportErrorInfo {
 public:
  using VelInterface = ISupportErrorInfo;
  STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override {
    return ((riid == __uuidof(Itfs)) || ...) ? S_OK : S_FALSE;
  }
};

// The final class: IUnknown (delegating to the outer object when aggregated)
// plus the non-delegating inner IUnknown the outer object holds.
template <class T>
class ComObject final : public T {
 public:
  static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && (!T::kAggregatable || riid != IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    ComObject* obj = nullptr;
    try {
      obj = new ComObject(outer);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
    // The creation reference keeps the object alive through FinalConstruct.
    HRESULT hr;
    try {
      hr = obj->T::FinalConstruct();
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (...) {
      hr = E_FAIL;
    }
    if (SUCCEEDED(hr)) hr = obj->InnerQueryInterface(riid, ppv);
    obj->InnerRelease();
    return SUCCEEDED(hr) ? S_OK : hr;
  }

  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    return outer_ ? outer_->QueryInterface(riid, ppv) : InnerQueryInterface(riid, ppv);
  }
  STDMETHOD_(ULONG, AddRef)() override { return outer_ ? outer_->AddRef() : InnerAddRef(); }
  STDMETHOD_(ULONG, Release)() override { return outer_ ? outer_->Release() : InnerRelease(); }

 private:
  struct Inner final : IUnknown {
    explicit Inner(ComObject* o) : owner(o) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override { return owner->InnerQueryInterface(riid, ppv); }
    STDMETHOD_(ULONG, AddRef)() override { return owner->InnerAddRef(); }
    STDMETHOD_(ULONG, Release)() override { return owner->InnerRelease(); }
    ComObject* owner;
  };

  explicit ComObject(IUnknown* outer) : inner_(this), outer_(outer) {
    this->controlling_ = outer ? outer : this->FirstUnknown();
    ModuleLocks().Add();
  }
  ~ComObject() { ModuleLocks().Remove(); }

  HRESULT InnerQueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    void* found = nullptr;
    if (riid == IID_IUnknown)
      found = outer_ ? static_cast<IUnknown*>(&inner_) : this->FirstUnknown();
    else
      found = this->FindInterface(riid);
    *ppv = found;
    if (!found) return E_NOINTERFACE;
    static_cast<IUnknown*>(found)->AddRef();
    return S_OK;
  }
  ULONG InnerAddRef() noexcept { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  ULONG InnerRelease() noexcept {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
      // Calls made by FinalRelease may AddRef/Release again without a second destruction.
      refs_.store(1, std::memory_order_relaxed);
      try {
        this->T::FinalRelease();
      } catch (...) {
      }
      delete this;
    }
    return left;
  }

  Inner inner_;
  IUnknown* outer_;
  std::atomic<ULONG> refs_{1};
};

template <class T>
HRESULT CreateComObject(IUnknown* outer, REFIID riid, void** ppv) noexcept {
  return ComObject<T>::Create(outer, riid, ppv);
}

// Creates an object and hands out its interface I (not for aggregation).
template <class T, class I>
HRESULT CreateComObject(I** pp) noexcept {
  return ComObject<T>::Create(nullptr, __uuidof(I), reinterpret_cast<void**>(pp));
}

// The class object for T; LockServer counts in the module's lock count.
template <class T>
class ClassFactory final : public IClassFactory {
 public:
  STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHOD_(ULONG, AddRef)() override { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  STDMETHOD_(ULONG, Release)() override {
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }
  STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
    return CreateComObject<T>(outer, riid, ppv);
  }
  STDMETHOD(LockServer)(BOOL lock) override {
    if (lock)
      ModuleLocks().Add();
    else
      ModuleLocks().Remove();
    return S_OK;
  }

  // A new class object with one reference for the caller.
  static HRESULT Create(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    auto* factory = new (std::nothrow) ClassFactory;
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
  }

 private:
  ClassFactory() = default;
  std::atomic<ULONG> refs_{1};
};

}  // namespace vel::com
