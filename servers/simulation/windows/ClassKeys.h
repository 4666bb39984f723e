// The registry keys that make the simulation server's classes known to
// Windows' COM: under CLSID\{class id} the user type name, the server
// module (LocalServer32 for the EXE, InprocServer32 with the apartment
// threading model for the DLL), the ProgID and the implemented categories;
// under the ProgID its class id and the "OPC" marker key of OPC servers.
//
// The keys go under HKEY_CLASSES_ROOT for the whole computer (as COM
// servers register; on Windows that needs an administrator), or under
// HKEY_CURRENT_USER\Software\Classes for this user only, which Windows merges
// into the classes root of this user's programs (Wine does not: there only
// the computer-wide registration is found). The OPC server list class is
// never registered: it would take the place of an installed OPC server
// enumerator.
#pragma once

#include "xelo/com/WinTypes.h"

#include <string>
#include <string_view>

namespace xelo::sim {

enum class ServerModule { LocalServer, InprocServer };
enum class RegistrationScope { Machine, User };

// Registers every simulation class with `module` (the EXE or DLL path);
// the first failure's code.
HRESULT RegisterSimulationClasses(RegistrationScope scope, ServerModule kind, std::wstring_view module);
// Removes what RegisterSimulationClasses wrote in `scope`; S_OK also when
// nothing was registered.
HRESULT UnregisterSimulationClasses(RegistrationScope scope);

// The full path of `module` (null: the program); empty when it cannot be
// had.
std::wstring ModuleFileName(HMODULE module);

}  // namespace xelo::sim
