// SAFEARRAY: a self-describing array of one or more dimensions with any
// lower bounds, laid out as in the SDK. Descriptor and data come from the
// task allocator. Dimensions are numbered from 1 (the left-most); the
// descriptor stores their bounds in reverse order, and elements are laid out
// with the left-most index varying fastest.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/SafeArray.h"
#endif
