// The core of the OPC client library: include this one header for
// everything the core offers.
#pragma once

#include "xelo/core/XeloBrowser.h"
#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloGroup.h"
#include "xelo/core/XeloGroups.h"
#include "xelo/core/XeloItem.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloItemProperties.h"
#include "xelo/core/XeloItems.h"
#include "xelo/core/XeloQuality.h"
#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloServerBrowser.h"
#include "xelo/core/XeloStrings.h"
