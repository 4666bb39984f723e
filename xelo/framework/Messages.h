// Window message types and the message numbers the library uses.
//
// The names, values and parameter widths are those of the Windows SDK, so
// that component code written against message windows reads the same here.
// A window handle is opaque: it is never dereferenced, only compared and
// looked up, and handles are never reused within a process, so a handle of
// a destroyed window stays invalid for good.
#pragma once

#include "xelo/com/WinTypes.h"

#include <cstdint>

namespace xelo {

struct HWND__;             // never defined: a handle is a number, not an object
using HWND = HWND__*;      // nullptr (0) = no window

#if XELO_COM_NATIVE
// Windows: the system's own types and message numbers (its WM_* names are
// macros). A message window's handle stays the library's own (above): the
// queue below is the library's, woken and pumped together with Windows'.
using UINT = ::UINT;
using UINT_PTR = ::UINT_PTR;
using WPARAM = ::WPARAM;
using LPARAM = ::LPARAM;
using LRESULT = ::LRESULT;
using BOOL = ::BOOL;
#else
using UINT = ::UINT;       // a message number
using UINT_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using BOOL = ::BOOL;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_QUERYENDSESSION = 0x0011;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_ENDSESSION = 0x0016;
inline constexpr UINT WM_TIMER = 0x0113;  // WParam = the timer's id
inline constexpr UINT WM_USER = 0x0400;   // first number free for a window class's own messages
inline constexpr UINT WM_APP = 0x8000;    // first number free for an application's own messages
#endif

// A message as a window procedure receives it. `Result` starts at 0; the
// procedure sets it to answer SendMessage (posted messages drop it).
struct TMessage {
  UINT Msg = WM_NULL;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

}  // namespace xelo
