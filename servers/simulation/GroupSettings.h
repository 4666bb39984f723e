// The settings a group is created with (AddGroup, CloneGroup).
#pragma once

#include "xelo/opc/OpcTypes.h"

#include <string>

namespace xelo::sim {

struct GroupSettings {
  com::OleString name;
  bool active = true;
  DWORD updateRate = 100;  // already revised
  OPCHANDLE clientHandle = 0;
  LONG timeBias = 0;
  FLOAT percentDeadband = 0.0f;
  LCID lcid = 0;
};

}  // namespace xelo::sim
