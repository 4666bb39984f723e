// Conversion between the library's UTF-8 text and COM's UTF-16 text.
//
// Both directions accept any input without reading out of bounds: invalid
// UTF-8 (stray continuation bytes, truncated or overlong sequences, encoded
// surrogates, values above U+10FFFF) and unpaired UTF-16 surrogates are each
// replaced by U+FFFD.
#pragma once

#include "xelo/com/WinTypes.h"

#include <string>
#include <string_view>

namespace xelo::com {

OleString ToUtf16(std::string_view utf8);
// ToUtf16 appended to `out`, for building many texts in one buffer.
void AppendUtf16(OleString& out, std::string_view utf8);
std::string ToUtf8(OleStringView utf16);
// A NUL-terminated wide text; null gives the empty text.
std::string ToUtf8(const OLECHAR* utf16);

}  // namespace xelo::com
