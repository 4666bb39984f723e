// Object creation by class identifier, on this computer or on a named one,
// and the process-wide security initialisation.
//
// Creation on another computer goes through a remote activator. Until a
// transport is installed, names that do not denote this computer fail with
// HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), which is what DCOM answers for an unreachable
// computer.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/Activation.h"
#endif

#include <string_view>

namespace xelo::com {

// True for a blank name, "localhost", "127.0.0.1", "::1" and this machine's
// host name (case-insensitive; a leading "\\" is allowed, as in UNC names).
bool IsLocalComputerName(OleStringView name);
}  // namespace xelo::com
