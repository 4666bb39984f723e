// The portable back end's declarations for xelo/com/WinTypes.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using CHAR = char;
using UCHAR = std::uint8_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using INT = std::int32_t;
using UINT = std::uint32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using SCODE = std::int32_t;
using LCID = DWORD;
inline constexpr LCID LOCALE_INVARIANT = 0x007F;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using FLOAT = float;
using DOUBLE = double;
using DATE = double;  // days since 1899-12-30 00:00, fraction = time of day
using CLIPFORMAT = WORD;
using SIZE_T = std::size_t;

#if defined(_WIN32)
using WCHAR = wchar_t;
#define OLESTR(str) L##str
#else
using WCHAR = char16_t;
#define OLESTR(str) u##str
#endif
using OLECHAR = WCHAR;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using BSTR = OLECHAR*;  // length-prefixed, see BStr.h
using LPVOID = void*;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;
inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

// 64-bit count of 100-ns intervals since 1601-01-01 UTC, split in two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

// Currency: a signed 64-bit integer scaled by 10 000.
union CY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
};

// 96-bit integer scaled by a power of ten. Its first word overlays a
// VARIANT's type field, so VT_DECIMAL must be written after the value.
struct DECIMAL {
  USHORT wReserved;
  BYTE scale;
  BYTE sign;  // DECIMAL_NEG (0x80) when negative
  ULONG Hi32;
  ULONGLONG Lo64;
};
inline constexpr BYTE DECIMAL_NEG = 0x80;

static_assert(sizeof(FILETIME) == 8 && alignof(FILETIME) == 4);
static_assert(sizeof(CY) == 8);
static_assert(sizeof(DECIMAL) == 16);
static_assert(sizeof(OLECHAR) == 2);
