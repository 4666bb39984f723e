// The loop of the commands that print data changes until stopped (watch,
// run): the current value of every item first (one refresh of each active
// group, so a slow update rate does not keep the screen empty), then every
// item of every OnDatachange as a row, printed as it arrives, until the
// count is reached, the time is up, the user presses Ctrl-C (or sends
// SIGTERM), or the server goes away. A row that would only repeat the
// item's last row (the same sample sent again: after the refresh, the
// server's first update may hold every item once more) is left out.
#pragma once

#include "ItemRows.h"
#include "Session.h"

#include <optional>

namespace xelo::cli {

struct StopAfter {
  long count = 0;         // rows; 0: no limit
  double duration = 0.0;  // seconds; 0: no limit
};

// Prints a row for each failed item first (so that the output names them
// too), then the changes of the items that are on the server. Returns the
// exit code: 1 when the server shut down, else 3 when an item failed, else
// 0. A stop by signal is a clean end.
int PrintDataChanges(Session& session, const StopAfter& stop, bool withGroup, bool header);

}  // namespace xelo::cli
