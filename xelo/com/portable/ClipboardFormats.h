// The portable back end's declarations for xelo/com/ClipboardFormats.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include "xelo/com/WinTypes.h"

#include <string>

// 0 for a null or empty name, or when the number range (0xC000..0xFFFF) is
// exhausted.
UINT RegisterClipboardFormatA(LPCSTR name);
UINT RegisterClipboardFormatW(LPCWSTR name);
// Copies the registered name of `format` into `buffer` (at most maxCount - 1
// characters plus NUL); returns the characters copied, 0 when unknown.
INT GetClipboardFormatNameA(UINT format, LPSTR buffer, INT maxCount);
