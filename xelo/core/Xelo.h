// The core of the OPC client library: include this one header for
// everything the core offers.
#pragma once

#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloStrings.h"
