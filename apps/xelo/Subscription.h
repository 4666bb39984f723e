// The loop of the commands that print data changes until stopped (watch,
// run): the current value of every item first (one refresh of each active
// group, so a slow update rate does not keep the screen empty), then every
// item of every OnDatachange as a row, printed as it arrives, until the
// count is reached, the time is up, the user presses Ctrl-C (or sends
// SIGTERM), or the server goes away. A row that would only repeat the
// item's last row (the same sample sent again: after the refresh, the
// server's first update may hold every item once more) is left out.
//
// The connection is watched (the component's keep-alive, unless a
// configuration set its own): a server that stops answering is a lost
// connection, whose items show bad quality with "communication failure".
// Without --reconnect that ends the run; with it the component reconnects
// with its back-off, every item's current value is printed again when it
// is back, and JSON gets an event object for each loss and return.
#pragma once

#include "ItemRows.h"
#include "Session.h"

#include <optional>

namespace xelo::cli {

struct StopAfter {
  long count = 0;         // rows; 0: no limit
  double duration = 0.0;  // seconds; 0: no limit
  // --reconnect: seconds a lost connection may stay lost before the run
  // gives up (0: no limit); none: a lost connection ends the run at once
  // (unless a configuration asks for reconnection itself).
  std::optional<double> reconnect;
};

// The keep-alive of watch and run, when the configuration has none.
inline constexpr std::int32_t kKeepAliveMs = 1000;

// Prints a row for each failed item first (so that the output names them
// too), then the changes of the items that are on the server. Returns the
// exit code: 1 when the server shut down, 4 when the connection was lost
// (and not back in time), else 3 when an item failed, else 0. A stop by
// signal is a clean end.
int PrintDataChanges(Session& session, const StopAfter& stop, bool withGroup, bool header);

// The end of a stream of rows: the stream closed (JSON whole), a failed
// write or a shutdown of the server raised as RuntimeFailure, a stop by
// signal noted.
class StopSignals;
void EndStream(Session& session, RowStream& stream, const StopSignals& signals);

}  // namespace xelo::cli
