// The error frame: the one construct every own function runs its body in.
//
// Whatever leaves the body becomes a CYException that names this function, so
// a report grows into a stack trace on its way out:
//   _com_error e        -> CYException(e) + stack entry ""           (1005)
//   CYException x       -> x + stack entry "Stacktrace."             (1005)
//   std::exception e    -> "std exception caught: " + what()         (1002)
//   const char* s       -> "char* exception caught: " + s            (1003)
//   const char16_t* s   -> "wchar_t* exception caught: " + s         (1004)
//   anything else       -> "Unhandled exception caught (...)"        (1001)
// The function name ("Class::Method") and source name are explicit constants,
// never __func__, because they are part of the reports the host sees.
// VEL_FRAME(u"Class::Method") builds the frame from the unit's kSource
// constant and the line it stands on. Functions that cannot throw carry no
// frame: nothing can pass through it.
//
// Usage:
//   namespace { constexpr char16_t kSource[] = u"YRegistry"; }
//
//   LONG CYRegistry::GetDWORD(std::u16string_view path) {
//     return YErrorFrame(VEL_FRAME(u"CYRegistry::GetDWORD"), [&](const YFrame& frame) {
//       if (path.empty()) YThrow(kYErrInvalidParameter, frame);
//       LONG error = ...;
//       if (error != ERROR_SUCCESS) YThrowWin32(error, frame);    // system text + HRESULT
//       YCheckHr(host->Call());                                   // failed HRESULT -> _com_error
//       return value;
//     });
//   }
//
//   CYLockHolder::~CYLockHolder() {
//     YErrorFrameNoThrow(VEL_FRAME(u"CYLockHolder::~CYLockHolder"), [&] { m_lock->Unlock(); });
//   }
//
// The body may take the frame (to raise reports naming this function) or no
// argument. YErrorFrameNoThrow is for destructors, FinalRelease and other code
// that must not throw: it logs "Exception caught in %s (%s : %d)\n" and
// "%s\n" with GetText(7) at level 2 and drops the exception.
//
// Thread safety: no shared state.
#pragma once

#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/com/types.h"
#include "ylib/YException.h"

struct YFrame {
  const char16_t* function;  // "Class::Method"
  const char16_t* source;    // source file name, as reports show it
  int line;
};

// The frame of function at this line of the unit whose source-name constant
// is kSource (a `constexpr char16_t kSource[]` the unit defines).
#define VEL_FRAME(function) (YFrame{(function), kSource, __LINE__})

// Inside a catch block: the caught exception converted by the rules above,
// with this frame's entry added. The COM boundary uses it too.
CYException YCurrentExceptionAsReport(const YFrame& frame);

// Writes the two level-2 lines for an exception that must be dropped.
void YLogDroppedException(const YFrame& frame, const CYException& report) noexcept;

template <class Body>
decltype(auto) YErrorFrame(const YFrame& frame, Body&& body) {
  try {
    if constexpr (std::is_invocable_v<Body&, const YFrame&>) {
      return body(frame);
    } else {
      return body();
    }
  } catch (...) {
    throw YCurrentExceptionAsReport(frame);
  }
}

// Runs body; on an exception logs and drops it. True when body completed.
template <class Body>
bool YErrorFrameNoThrow(const YFrame& frame, Body&& body) noexcept {
  try {
    try {
      if constexpr (std::is_invocable_v<Body&, const YFrame&>) {
        body(frame);
      } else {
        body();
      }
      return true;
    } catch (...) {
      YLogDroppedException(frame, YCurrentExceptionAsReport(frame));
    }
  } catch (...) {
    // Converting the exception itself failed (out of memory): nothing left to report with.
  }
  return false;
}

// Raise a report of one entry naming frame's function.
[[noreturn]] void YThrow(std::u16string_view message, std::int32_t code, const YFrame& frame);
[[noreturn]] void YThrow(const YErrorDef& error, const YFrame& frame);
// A report ready for details: throw YReport(kYErrOpenRegistryKey, frame).AddDetail(u"Registry key", path);
CYException YReport(std::u16string_view message, std::int32_t code, const YFrame& frame);
CYException YReport(const YErrorDef& error, const YFrame& frame);
// The system text of a Win32 error number, with its HRESULT as code
// (0x80070000 | low 16 bits; 0 and below unchanged).
CYException YReportWin32(DWORD error, const YFrame& frame);
[[noreturn]] void YThrowWin32(DWORD error, const YFrame& frame);
// The system text of an HRESULT, with the HRESULT as code.
CYException YReportHr(HRESULT hr, const YFrame& frame);
[[noreturn]] void YThrowHr(HRESULT hr, const YFrame& frame);

// For results of host and COM calls: a failed HRESULT becomes a _com_error
// carrying the calling thread's error info (so a sibling's report continues
// through the frame), as the platform's smart pointers do.
void YCheckHr(HRESULT hr);
