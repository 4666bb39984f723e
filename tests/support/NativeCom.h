// What the tests need to know of the COM they run on.
#pragma once

#include "xelo/com/WinTypes.h"

namespace xelo::test {

// True for Windows' own COM as Wine provides it. Wine's COM ignores the
// computer of a creation request and creates every object on this computer,
// so nothing can be learnt there about unreachable computers.
inline bool NativeComUnderWine() {
#if XELO_COM_NATIVE
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// For tests of the portable runtime's own versions of the system's COM
// functions (VariantClear, SafeArrayCreate, SysAllocString, ...): on
// Windows' COM those functions are the system's, not the library's to test.
inline constexpr bool kNativeCom = XELO_COM_NATIVE != 0;

}  // namespace xelo::test

#define XELO_ONLY_ON_PORTABLE_COM() \
  if (::xelo::test::kNativeCom) GTEST_SKIP() << "a test of the portable runtime's own version of a system function"
