// Registered clipboard formats: a process-wide table that gives each format
// name a number from 0xC000 upwards. The same name (compared
// case-insensitively, as the window system compares atom names) always gives
// the same number. Thread-safe.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/ClipboardFormats.h"
#endif

#include <string>
