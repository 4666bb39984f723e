#include "Subscription.h"

#include "ExitCodes.h"
#include "Signals.h"

#include <chrono>
#include <iostream>
#include <map>

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

// Asks every active group with an active item on the server for its
// current values; they arrive as data changes. A group the server refuses
// to refresh still reports its changes.
void RefreshAll(Session& session) {
  TXeloGroups& groups = *session.Server().GetOPCGroups();
  for (int g = 0; g < groups.GetCount(); ++g) {
    TXeloGroup& group = *groups.GetItem(g);
    if (!group.GetIsActive()) continue;
    const TXeloItems& items = *group.GetOPCItems();
    bool any = false;
    for (int i = 0; i < items.GetCount() && !any; ++i) {
      any = items.GetItem(i)->GetIsActive() && !ItemFailed(*items.GetItem(i));
    }
    if (!any) continue;
    try {
      group.Refresh(true);
    } catch (const std::exception& e) {
      session.GetContext().log.Info("group " + group.GetName() + ": no refresh: " + e.what());
    }
  }
}

}  // namespace

int PrintDataChanges(Session& session, const StopAfter& stop, bool withGroup, bool header) {
  using Clock = std::chrono::steady_clock;
  // Before anything is printed: a Ctrl-C from now on ends the loop cleanly.
  StopSignals signals;
  TXeloServer& server = session.Server();
  const CommonOptions& options = session.GetContext().options;
  const std::vector<const TXeloItem*> items = AllItems(server);
  RowStream stream(std::cout, options.format, ItemColumns(withGroup), ItemWidths(items, withGroup), header);

  bool failed = false;
  std::size_t watched = 0;
  for (const TXeloItem* item : items) {
    if (ItemFailed(*item)) {
      failed = true;
      stream.Add(ItemRow(*item, withGroup, options.stampZone));
    } else {
      ++watched;
    }
  }

  long changes = 0;
  const bool counted = stop.count > 0;
  std::map<const TXeloItem*, Row> lastRows;
  // Printed here, on the main thread, when the loop hands the server's
  // message to the component; never inside a call of the server.
  server.SetOnDatachange([&](TPersistent*, TXeloItemList* list) {
    for (int i = 0; i < list->GetCount(); ++i) {
      if ((counted && changes >= stop.count) || stream.WriteError() != 0) return;
      const TXeloItem* item = list->GetItem(i);
      Row row = ItemRow(*item, withGroup, options.stampZone);
      Row& last = lastRows[item];
      if (row == last) continue;
      stream.Add(row);
      last = std::move(row);
      ++changes;
    }
  });
  RefreshAll(session);

  const std::optional<Clock::time_point> deadline =
      stop.duration > 0
          ? std::optional(Clock::now() +
                          std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(stop.duration)))
          : std::nullopt;
  session.PumpUntil(
      [&] {
        return signals.Requested() || session.ShutdownRequested() || (counted && changes >= stop.count) ||
               watched == 0 || stream.WriteError() != 0;
      },
      deadline);
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
