// One item of the simulated address space: what it is (fixed for the life
// of the process) and what it currently holds (reset by the control API).
#pragma once

#include "servers/simulation/OwnedVariant.h"
#include "xelo/opc/OpcTypes.h"

#include <string>

namespace xelo::sim {

// How an item's value moves on each update cycle.
enum class Signal {
  None,     // changes only when written
  Ramp,     // +1 per cycle, 99 -> 0
  Random,   // 0..999 from the seeded generator
  Sine,     // sin(2 pi n / 40), n = cycles since reset
  Counter,  // +1 per cycle
};

struct ItemDefinition {
  com::OleString id;      // fully qualified: branch names and the leaf joined with "."
  com::OleString branch;  // the id of the branch it sits in ("" = root)
  com::OleString name;    // leaf name within its branch
  VARTYPE type = VT_EMPTY;
  DWORD access = OPC_READABLE;
  com::OleString description;
  // Analog items have an engineering range (properties 102/103, the EU info
  // of the item attributes, and the span of the percent dead band).
  bool analog = false;
  double lowEU = 0.0;
  double highEU = 0.0;
  com::OleString units;
  Signal signal = Signal::None;
  bool clamp = false;        // writes outside [lowEU, highEU] are clamped (OPC_S_CLAMP)
  bool slow = false;         // asynchronous completions take a second
  WORD fixedQuality = 0;     // non-zero: the quality the item always reports
  bool hidden = false;       // addressable but not listed by browsing
  DWORD propertyId = 0;      // for hidden property items: the property they mirror
};

struct SimulatedItem {
  ItemDefinition def;
  OwnedVariant value;
  WORD quality = OPC_QUALITY_GOOD;
  FILETIME timestamp{};
};

}  // namespace xelo::sim
