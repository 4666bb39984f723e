// Registered clipboard formats: a process-wide table that gives each format
// name a number from 0xC000 upwards. The same name (compared
// case-insensitively, as the window system compares atom names) always gives
// the same number. Thread-safe.
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
