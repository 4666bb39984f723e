// Everything of OPC Data Access and OPC Common in one include.
#pragma once

#include "xelo/opc/OpcCategories.h"
#include "xelo/opc/OpcComn.h"
#include "xelo/opc/OpcDa.h"
#include "xelo/opc/OpcError.h"
#include "xelo/opc/OpcStreams.h"
#include "xelo/opc/OpcTypes.h"
