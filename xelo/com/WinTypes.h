// Base types of the portable COM subset.
//
// The names and sizes are those of the Windows SDK (LLP64): a DWORD is 32 bits
// here too, never `unsigned long`, so that structures laid out from these types
// match what a COM server expects. OLECHAR is a UTF-16 code unit: wchar_t on
// Windows, as there, and char16_t elsewhere (wchar_t is 4 bytes on Linux and
// never appears in an interface). Wide literals are written OLESTR("...") so
// that they have the right type on both.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/native/WindowsSdk.h"
#else
#include "xelo/com/portable/WinTypes.h"
#endif

#include <cstdint>
#include <string>
#include <string_view>

namespace xelo::com {
// COM's wide text as a standard string (UTF-16 on every platform).
using OleString = std::basic_string<OLECHAR>;
using OleStringView = std::basic_string_view<OLECHAR>;
}  // namespace xelo::com
