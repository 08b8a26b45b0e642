// The interface and class of the activation tests' in-process server.
#pragma once

#include "platform/com/interfaces.h"

struct IVelTestEcho : IUnknown {
  STDMETHOD(Echo)(BSTR text, BSTR* pOut) = 0;
  STDMETHOD(Fail)() = 0;
};
inline constexpr IID IID_IVelTestEcho = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x01}};
inline constexpr CLSID CLSID_VelTestEcho = {0x3D2A9E41, 0x7C55, 0x4F0B, {0x9A, 0x1E, 0x52, 0x61, 0x0C, 0x7B, 0x11, 0x02}};
VEL_DECLARE_IID(IVelTestEcho, IID_IVelTestEcho);
