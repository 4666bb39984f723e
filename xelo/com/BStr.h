// BSTR: a UTF-16 string whose byte length is stored in the four bytes before
// the first character, followed by a two-byte NUL. Embedded NULs are part of
// the string. A null BSTR is a valid empty string. Free only with
// SysFreeString (the pointer is not the start of the allocation).
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/BStr.h"
#endif

#include <string>
#include <string_view>

namespace xelo::com {

// Convenience for the library: from and to UTF-8 / UTF-16 views.
BSTR AllocBstr(OleStringView text);
BSTR AllocBstrUtf8(std::string_view utf8);
OleStringView BstrView(BSTR text);
std::string BstrToUtf8(BSTR text);

}  // namespace xelo::com
