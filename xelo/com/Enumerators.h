// The standard enumerator interfaces (IEnumString, IEnumUnknown, IEnumGUID).
//
// Next returns S_OK when `celt` elements were returned and S_FALSE when
// fewer (also none); `pceltFetched` may be null only when celt is 1.
// Strings returned by IEnumString::Next come from the task allocator and are
// freed by the caller; interfaces returned by IEnumUnknown::Next carry a
// reference the caller releases.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/Enumerators.h"
#endif

#include "xelo/com/Unknown.h"

XELO_DECLARE_IID(IEnumString);
XELO_DECLARE_IID(IEnumUnknown);
XELO_DECLARE_IID(IEnumGUID);
