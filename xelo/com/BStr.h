// BSTR: a UTF-16 string whose byte length is stored in the four bytes before
// the first character, followed by a two-byte NUL. Embedded NULs are part of
// the string. A null BSTR is a valid empty string. Free only with
// SysFreeString (the pointer is not the start of the allocation).
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

namespace xelo::com {

// Convenience for the library: from and to UTF-8 / UTF-16 views.
BSTR AllocBstr(OleStringView text);
BSTR AllocBstrUtf8(std::string_view utf8);
OleStringView BstrView(BSTR text);
std::string BstrToUtf8(BSTR text);

}  // namespace xelo::com
