#include "Subscription.h"

#include "ExitCodes.h"
#include "Signals.h"

#include <chrono>
#include <iostream>

namespace xelo::cli {

namespace {

std::vector<const TXeloItem*> AllItems(TXeloServer& server) {
  std::vector<const TXeloItem*> items;
  TXeloGroups& groups = *server.GetOPCGroups();
  for (int g = 0; g < groups.GetCount(); ++g) {
    const TXeloItems& groupItems = *groups.GetItem(g)->GetOPCItems();
    for (int i = 0; i < groupItems.GetCount(); ++i) items.push_back(groupItems.GetItem(i));
  }
  return items;
}

}  // namespace

int PrintDataChanges(Session& session, const StopAfter& stop, bool withGroup) {
  using Clock = std::chrono::steady_clock;
  // Before anything is printed: a Ctrl-C from now on ends the loop cleanly.
  StopSignals signals;
  TXeloServer& server = session.Server();
  const std::vector<const TXeloItem*> items = AllItems(server);
  RowStream stream(std::cout, session.GetContext().options.format, ItemColumns(withGroup),
                   ItemWidths(items, withGroup));

  bool failed = false;
  std::size_t watched = 0;
  for (const TXeloItem* item : items) {
    if (ItemFailed(*item)) {
      failed = true;
      stream.Add(ItemRow(*item, withGroup));
    } else {
      ++watched;
    }
  }

  long changes = 0;
  const bool counted = stop.count > 0;
  // Printed here, on the main thread, when the loop hands the server's
  // message to the component; never inside a call of the server.
  server.SetOnDatachange([&](TPersistent*, TXeloItemList* list) {
    for (int i = 0; i < list->GetCount(); ++i) {
      if ((counted && changes >= stop.count) || stream.WriteError() != 0) return;
      stream.Add(ItemRow(*list->GetItem(i), withGroup));
      ++changes;
    }
  });

  const std::optional<Clock::time_point> deadline =
      stop.duration > 0
          ? std::optional(Clock::now() +
                          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(stop.duration)))
          : std::nullopt;
  const auto finished = [&] {
    return signals.Requested() || session.ShutdownRequested() || (counted && changes >= stop.count) ||
           (deadline && Clock::now() >= *deadline) || watched == 0 || stream.WriteError() != 0;
  };
  while (!finished()) {
    // The loop wakes for the server's messages, its timers and the signal
    // thread's post; the slice only bounds a wait without any of them.
    auto slice = std::chrono::milliseconds(60'000);
    if (deadline) {
      slice = std::min(slice, std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()) +
                                  std::chrono::milliseconds(1));
    }
    session.Pump(finished, slice);
  }
  server.SetOnDatachange(nullptr);
  stream.Close();
  // Nobody reads what follows (a closed pipe, a full disk): say so and
  // end, rather than watching on for no one.
  stream.CheckWritten();

  if (signals.Requested()) session.GetContext().log.Info("stopped by signal " + std::to_string(signals.Signal()));
  if (session.ShutdownRequested()) {
    throw RuntimeFailure(session.ShutdownReason().empty() ? "the server shut down"
                                                          : "the server shut down: " + session.ShutdownReason());
  }
  return failed ? kExitItemsFailed : kExitOk;
}

}  // namespace xelo::cli
