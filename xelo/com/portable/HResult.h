// The portable back end's declarations for xelo/com/HResult.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include "xelo/com/WinTypes.h"

#include <string>

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT MAKE_HRESULT(unsigned severity, unsigned facility, unsigned code) {
  return static_cast<HRESULT>((static_cast<std::uint32_t>(severity) << 31) |
                              (static_cast<std::uint32_t>(facility) << 16) |
                              static_cast<std::uint32_t>(code));
}
constexpr unsigned HRESULT_FACILITY(HRESULT hr) {
  return (static_cast<std::uint32_t>(hr) >> 16) & 0x1FFF;
}
constexpr unsigned HRESULT_CODE(HRESULT hr) { return static_cast<std::uint32_t>(hr) & 0xFFFF; }
constexpr unsigned HRESULT_SEVERITY(HRESULT hr) { return static_cast<std::uint32_t>(hr) >> 31; }

inline constexpr unsigned FACILITY_NULL = 0;
inline constexpr unsigned FACILITY_RPC = 1;
inline constexpr unsigned FACILITY_DISPATCH = 2;
inline constexpr unsigned FACILITY_ITF = 4;
inline constexpr unsigned FACILITY_WIN32 = 7;

constexpr HRESULT HRESULT_FROM_WIN32(std::int64_t x) {
  return x <= 0 ? static_cast<HRESULT>(x)
                : static_cast<HRESULT>((static_cast<std::uint32_t>(x) & 0xFFFFu) | 0x80070000u);
}

// Win32 error numbers, not HRESULTs, as in the SDK: where a COM call fails
// with one of them, its HRESULT is HRESULT_FROM_WIN32 of the number
// (0x800706BA and 0x800706BE for these two).
inline constexpr LONG RPC_S_SERVER_UNAVAILABLE = 1722;
inline constexpr LONG RPC_S_CALL_FAILED = 1726;

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_UNEXPECTED = XELO_HR(0x8000FFFF);
inline constexpr HRESULT E_NOTIMPL = XELO_HR(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = XELO_HR(0x80004002);
inline constexpr HRESULT E_POINTER = XELO_HR(0x80004003);
inline constexpr HRESULT E_ABORT = XELO_HR(0x80004004);
inline constexpr HRESULT E_FAIL = XELO_HR(0x80004005);
inline constexpr HRESULT E_ACCESSDENIED = XELO_HR(0x80070005);
inline constexpr HRESULT E_HANDLE = XELO_HR(0x80070006);
inline constexpr HRESULT E_OUTOFMEMORY = XELO_HR(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = XELO_HR(0x80070057);
inline constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = XELO_HR(0x80040003);
inline constexpr HRESULT OLE_E_NOCONNECTION = XELO_HR(0x80040004);
inline constexpr HRESULT DV_E_FORMATETC = XELO_HR(0x80040064);
inline constexpr HRESULT DV_E_TYMED = XELO_HR(0x80040069);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = XELO_HR(0x80040110);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = XELO_HR(0x80040111);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = XELO_HR(0x80040154);
inline constexpr HRESULT CO_E_NOTINITIALIZED = XELO_HR(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = XELO_HR(0x800401F3);
inline constexpr HRESULT CONNECT_E_NOCONNECTION = XELO_HR(0x80040200);
inline constexpr HRESULT CONNECT_E_ADVISELIMIT = XELO_HR(0x80040201);
inline constexpr HRESULT CONNECT_E_CANNOTCONNECT = XELO_HR(0x80040202);
inline constexpr HRESULT CONNECT_E_OVERRIDDEN = XELO_HR(0x80040203);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = XELO_HR(0x80020005);
inline constexpr HRESULT DISP_E_BADVARTYPE = XELO_HR(0x80020008);
inline constexpr HRESULT DISP_E_OVERFLOW = XELO_HR(0x8002000A);
inline constexpr HRESULT DISP_E_BADINDEX = XELO_HR(0x8002000B);
inline constexpr HRESULT DISP_E_ARRAYISLOCKED = XELO_HR(0x8002000D);
inline constexpr HRESULT RPC_E_CALL_REJECTED = XELO_HR(0x80010001);
inline constexpr HRESULT RPC_E_TOO_LATE = XELO_HR(0x80010119);
inline constexpr HRESULT RPC_E_SERVERFAULT = XELO_HR(0x80010105);
inline constexpr HRESULT RPC_E_CHANGED_MODE = XELO_HR(0x80010106);
inline constexpr HRESULT RPC_E_DISCONNECTED = XELO_HR(0x80010108);
inline constexpr HRESULT CO_E_SERVER_EXEC_FAILURE = XELO_HR(0x80080005);
