// HRESULT values and helpers used by the module and the platform stand-in.
#pragma once

#include "platform/com/types.h"

constexpr bool SUCCEEDED(HRESULT hr) noexcept { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) noexcept { return hr < 0; }

#define VEL_HR(x) static_cast<HRESULT>(static_cast<std::uint32_t>(x))

constexpr int FACILITY_NULL = 0;
constexpr int FACILITY_DISPATCH = 2;
constexpr int FACILITY_ITF = 4;
constexpr int FACILITY_WIN32 = 7;
constexpr int SEVERITY_ERROR = 1;

constexpr HRESULT MAKE_HRESULT(unsigned sev, unsigned fac, unsigned code) noexcept {
  return static_cast<HRESULT>((sev << 31) | (fac << 16) | code);
}
constexpr unsigned HRESULT_CODE(HRESULT hr) noexcept { return static_cast<unsigned>(hr) & 0xFFFFu; }
constexpr unsigned HRESULT_FACILITY(HRESULT hr) noexcept { return (static_cast<unsigned>(hr) >> 16) & 0x1FFFu; }
// A Win32 error number as HRESULT; 0 and negative values are kept as they are.
constexpr HRESULT HRESULT_FROM_WIN32(long x) noexcept {
  return x <= 0 ? static_cast<HRESULT>(x)
                : static_cast<HRESULT>((static_cast<unsigned>(x) & 0xFFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = VEL_HR(0x80004001);
constexpr HRESULT E_NOINTERFACE = VEL_HR(0x80004002);
constexpr HRESULT E_POINTER = VEL_HR(0x80004003);
constexpr HRESULT E_ABORT = VEL_HR(0x80004004);
constexpr HRESULT E_FAIL = VEL_HR(0x80004005);
constexpr HRESULT E_UNEXPECTED = VEL_HR(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = VEL_HR(0x80070005);
constexpr HRESULT E_HANDLE = VEL_HR(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = VEL_HR(0x8007000E);
constexpr HRESULT E_INVALIDARG = VEL_HR(0x80070057);

constexpr HRESULT CLASS_E_NOAGGREGATION = VEL_HR(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = VEL_HR(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = VEL_HR(0x80040150);
constexpr HRESULT REGDB_E_WRITEREGDB = VEL_HR(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = VEL_HR(0x80040152);
constexpr HRESULT REGDB_E_CLASSNOTREG = VEL_HR(0x80040154);
constexpr HRESULT SELFREG_E_TYPELIB = VEL_HR(0x80040200);
constexpr HRESULT SELFREG_E_CLASS = VEL_HR(0x80040201);
constexpr HRESULT CO_E_NOTINITIALIZED = VEL_HR(0x800401F0);
constexpr HRESULT CO_E_CLASSSTRING = VEL_HR(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = VEL_HR(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = VEL_HR(0x800401F9);
constexpr HRESULT RPC_E_CHANGED_MODE = VEL_HR(0x80010106);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = VEL_HR(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = VEL_HR(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = VEL_HR(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = VEL_HR(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = VEL_HR(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = VEL_HR(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = VEL_HR(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = VEL_HR(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = VEL_HR(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = VEL_HR(0x8002000B);
constexpr HRESULT DISP_E_UNKNOWNLCID = VEL_HR(0x8002000C);
constexpr HRESULT DISP_E_ARRAYISLOCKED = VEL_HR(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = VEL_HR(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = VEL_HR(0x8002000F);
constexpr HRESULT DISP_E_NOTACOLLECTION = VEL_HR(0x80020011);
constexpr HRESULT DISP_E_DIVBYZERO = VEL_HR(0x80020012);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = VEL_HR(0x8002802B);
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = VEL_HR(0x8002801D);
