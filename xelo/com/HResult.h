// Result codes of the portable COM subset, with the Windows SDK's names and
// values. OPC's own codes live in xelo/opc/OpcError.h.
#pragma once

#include "xelo/com/ComBackEnd.h"

#include <cstdint>

// Writes a code as a signed constant without narrowing warnings.
#define XELO_HR(value) static_cast<HRESULT>(static_cast<std::uint32_t>(value))

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/HResult.h"
#endif

#include <string>

namespace xelo::com {

// The platform's message text for a result code, as FormatMessage would give
// it from the system's message tables: COM, Win32 and OPC codes are known.
// An unknown code gets a text naming the code in hexadecimal; the result is
// never empty.
std::string SystemMessageText(HRESULT hr);

// The same, or the empty text when the platform has no message for the code.
std::string KnownSystemMessageText(HRESULT hr);

}  // namespace xelo::com
