// The in-process test server of the COM creation tests
// (libylib_com_test_server.so): its classes and the counters it keeps.
//
// Thread safety: the counters are atomic; any thread may create and ask.
#pragma once

#include "platform/com/interfaces.h"

namespace vel::testing {

// Creates objects that answer ITestCounters.
constexpr CLSID kTestCountedClass = {0x8C1D6A3E, 0x5B0F, 0x4E7A, {0x9D, 0x21, 0x3F, 0x6B, 0x0C, 0x2E, 0x4A, 0x71}};
// Its class object refuses every creation with E_ACCESSDENIED.
constexpr CLSID kTestRefusingClass = {0x8C1D6A3E, 0x5B0F, 0x4E7A, {0x9D, 0x21, 0x3F, 0x6B, 0x0C, 0x2E, 0x4A, 0x72}};
constexpr IID kIIDTestCounters = {0x8C1D6A3E, 0x5B0F, 0x4E7A, {0x9D, 0x21, 0x3F, 0x6B, 0x0C, 0x2E, 0x4A, 0x73}};

struct ITestCounters : IUnknown {
  // DllGetClassObject calls of the module so far, for any class.
  STDMETHOD_(LONG, ClassObjectRequests)() = 0;
  // CreateInstance calls on the refusing class object so far.
  STDMETHOD_(LONG, RefusedCreations)() = 0;
};

}  // namespace vel::testing
