// An item as a group holds it: the client's view (handles, active flag,
// requested type) of an address space item, and what the group's
// subscription last sent for it.
#pragma once

#include "servers/simulation/OwnedVariant.h"
#include "servers/simulation/SimulatedItem.h"

#include <string>

namespace xelo::sim {

struct GroupItem {
  OPCHANDLE serverHandle = 0;
  OPCHANDLE clientHandle = 0;
  bool active = true;
  VARTYPE requestedType = VT_EMPTY;  // VT_EMPTY: canonical
  SimulatedItem* item = nullptr;     // the address space outlives every group
  com::OleString accessPath;

  // Subscription state: the canonical value and quality last delivered;
  // `sent` is false until the first delivery after the item was added or
  // activated (or its requested type changed), which always goes out.
  bool sent = false;
  OwnedVariant lastValue;
  WORD lastQuality = 0;
};

}  // namespace xelo::sim
