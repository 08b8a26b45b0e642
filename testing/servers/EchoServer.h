// The interface and class of libvel_testserver.so, the in-process server the
// activation tests load through the registry: one class whose Fail method sets
// error info inside the module.
//
// Thread safety: the server's objects are free-threaded; they keep no state.
#pragma once

#include "platform/com/interfaces.h"

namespace vel::testing {

struct IVelTestEcho : IUnknown {
  STDMETHOD(Echo)(BSTR text, BSTR* pOut) = 0;
  STDMETHOD(Fail)() = 0;
};
inline constexpr IID IID_IVelTestEcho = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x01}};
inline constexpr CLSID CLSID_VelTestEcho = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x02}};

}  // namespace vel::testing

VEL_DECLARE_IID(vel::testing::IVelTestEcho, vel::testing::IID_IVelTestEcho);
