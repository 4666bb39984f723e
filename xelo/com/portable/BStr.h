// The portable back end's declarations for xelo/com/BStr.h, with the SDK's
// names, values and layouts; include that header, not this one.
#pragma once

#include "xelo/com/WinTypes.h"

#include <string>
#include <string_view>

// Copies a NUL-terminated text; null gives null.
BSTR SysAllocString(const OLECHAR* text);
// `length` characters from `text`, or uninitialised (zero-filled) characters
// when `text` is null.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
// `length` bytes; an odd length is allowed, as in COM.
BSTR SysAllocStringByteLen(const char* bytes, UINT length);
// Replaces *target with a copy of `text` (FALSE when out of memory, *target
// unchanged). `text` may point into *target.
INT SysReAllocString(BSTR* target, const OLECHAR* text);
INT SysReAllocStringLen(BSTR* target, const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);
