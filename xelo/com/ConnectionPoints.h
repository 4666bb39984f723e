// Connectable objects: IConnectionPointContainer, IConnectionPoint and their
// enumerators, with the SDK's IIDs, vtable order and CONNECTDATA layout.
//
// Ownership at the interfaces: Advise keeps a reference to the sink until
// Unadvise (or until the point lets go of all its sinks); CONNECTDATA.pUnk
// returned by IEnumConnections::Next carries a reference the caller
// releases, as do the points returned by IEnumConnectionPoints::Next and
// FindConnectionPoint. The reusable server-side implementation is in
// ConnectionPoint.h.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/ConnectionPoints.h"
#endif

#include "xelo/com/Unknown.h"

#include <cstddef>

XELO_DECLARE_IID(IEnumConnections);
XELO_DECLARE_IID(IConnectionPoint);
XELO_DECLARE_IID(IEnumConnectionPoints);
XELO_DECLARE_IID(IConnectionPointContainer);
