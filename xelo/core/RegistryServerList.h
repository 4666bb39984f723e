// The OPC server list of this computer read from its own registry, for
// Windows' COM when no OPC server enumerator (OpcEnum) is installed: the
// system's component categories manager finds the classes of a category,
// and the class keys give their ProgIDs and user type names. Servers
// register their categories there, so the list is the one the enumerator
// would give.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/ComPtr.h"
#include "xelo/opc/OpcComn.h"

namespace xelo {

// A new list object (one reference), or the failure to reach the
// categories manager.
HRESULT CreateRegistryServerList(com::ComPtr<IOPCServerList>& list);

}  // namespace xelo
#endif
