// Result codes as scripts want them: the number in hexadecimal and the
// symbolic name it has in the OPC and COM headers, beside the library's
// text for it.
#pragma once

#include "xelo/com/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace xelo::cli {

// "0xC0040007": eight upper-case hexadecimal digits.
std::string ResultCodeHex(HRESULT code);

// The name the headers give the code ("OPC_E_UNKNOWNITEMID"), for the OPC
// codes and the COM codes this library knows; empty for any other code.
std::string_view ResultCodeName(HRESULT code);

// The OPC code whose library text (GetOPCErrorMessage) is `text`, for the
// failures that reach us as the library's exception, which carries only
// the text; none when no known code has that text. (Two Alarms & Events
// codes share a text; the first of them is given.)
std::optional<HRESULT> ResultCodeOfMessage(std::string_view text);

}  // namespace xelo::cli
