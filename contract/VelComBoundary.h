// The COM boundary: every public method of the module's classes is one call
// to VelComBoundary, which runs the body inside the error frame and turns a
// failure into the module's HRESULT plus an error object for the caller.
//
//   STDMETHODIMP CVelItemAudio::ReadMetadata(BSTR path, IVelItem** ppItem) {
//     return VelComBoundary(IID_IVelItemPlugin, kProgIdVelItemAudio,
//                           {u"CVelItemAudio::ReadMetadata", kSource, __LINE__}, [&](const YFrame& f) { ... });
//   }
//
// On failure the caller gets kVelErrorHResult (0x80045D53) and the thread's
// error info holds: GUID = the interface's IID, source = the class's
// version-dependent ProgID, description = the report's XML. A body may return
// an HRESULT (S_FALSE ...); a body returning nothing answers S_OK.
//
// Thread safety: uses only the calling thread's error info.
#pragma once

#include <new>
#include <string_view>
#include <type_traits>

#include "platform/com/combase.h"
#include "ylib/YErrorFrame.h"
#include "ylib/YException.h"

// Sets the error object for report and returns kVelErrorHResult.
HRESULT VelSetComError(const IID& iid, const char16_t* progId, const CYException& report) noexcept;

template <class Body>
HRESULT VelComBoundary(const IID& iid, const char16_t* progId, const YFrame& frame, Body&& body) noexcept {
  try {
    using Result = decltype(YErrorFrame(frame, body));
    if constexpr (std::is_void_v<Result>) {
      YErrorFrame(frame, body);
      return S_OK;
    } else {
      static_assert(std::is_same_v<Result, HRESULT>, "a boundary body returns nothing or an HRESULT");
      return YErrorFrame(frame, body);
    }
  } catch (const CYException& report) {
    return VelSetComError(iid, progId, report);
  } catch (...) {
    // Only the conversion into a report can end here, and it fails only for want of memory.
    return E_OUTOFMEMORY;
  }
}

// The report for work that this build of the module does not do yet: code
// E_NOTIMPL, so the caller's XML names it.
inline constexpr char16_t kVelNotImplemented[] = u"Not implemented.";
// The out-parameters given are reset first, so the caller holds nothing stale.
[[noreturn]] void VelThrowNotImplemented(const YFrame& frame);
template <class... Outs>
[[noreturn]] void VelThrowNotImplemented(const YFrame& frame, Outs*... outs) {
  auto reset = [](auto* p) {
    if (!p) return;
    if constexpr (std::is_same_v<std::remove_pointer_t<decltype(p)>, VARIANT>)
      VariantInit(p);
    else
      *p = {};
  };
  (reset(outs), ...);
  VelThrowNotImplemented(frame);
}

// An out-parameter checked for null (a null one raises "Invalid function
// parameter.") and reset, so nothing stale is left in it on failure.
template <class T>
T* VelOutParam(T* p, const YFrame& frame) {
  if (!p) YThrow(kYErrInvalidParameter, frame);
  if constexpr (std::is_same_v<T, VARIANT>)
    VariantInit(p);
  else
    *p = T{};
  return p;
}
