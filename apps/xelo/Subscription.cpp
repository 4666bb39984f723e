#include "Subscription.h"

#include "ExitCodes.h"
#include "ResultCodes.h"
#include "Signals.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
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

namespace {

using Clock = std::chrono::steady_clock;

Clock::duration Seconds(double seconds) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// What the connection did while watching: the component's events, told on
// stderr and, as event objects, in the JSON stream.
class ConnectionWatch {
 public:
  ConnectionWatch(Session& session, RowStream& stream, const StopAfter& stop)
      : session_(session), stream_(stream), server_(session.Server()) {
    if (server_.GetKeepAlive() == 0) server_.SetKeepAlive(kKeepAliveMs);
    if (stop.reconnect) {
      server_.SetAutoReconnect(true);
      if (*stop.reconnect > 0) giveUpAfter_ = Seconds(*stop.reconnect);
    }
    server_.SetOnConnectionLost([this](TPersistent*, HRESULT code, const std::string& text) { Lost(code, text); });
    server_.SetOnReconnect([this](TPersistent*) { Back(); });
  }
  ~ConnectionWatch() {
    server_.SetOnConnectionLost(nullptr);
    server_.SetOnReconnect(nullptr);
  }
  ConnectionWatch(const ConnectionWatch&) = delete;
  ConnectionWatch& operator=(const ConnectionWatch&) = delete;

  // Counts the losses and returns, so that a wait can end on either.
  unsigned Events() const { return events_; }
  // Lost and not coming back: no reconnection, or not back in time.
  bool GivenUp() const {
    if (!lostAt_) return false;
    if (!server_.GetAutoReconnect()) return true;
    return giveUpAfter_ && Clock::now() >= *lostAt_ + *giveUpAfter_;
  }
  // When GivenUp() will hold if nothing changes; none for never.
  std::optional<Clock::time_point> GiveUpAt() const {
    if (!lostAt_ || !giveUpAfter_) return std::nullopt;
    return *lostAt_ + *giveUpAfter_;
  }
  // ConnectionLost for a run that ends lost; nothing otherwise.
  void Check() const {
    if (!lostAt_) return;
    std::string text = "connection to " + server_.GetServerName() + " lost: " + lostText_;
    if (server_.GetAutoReconnect()) {
      const double seconds = std::chrono::duration<double>(Clock::now() - *lostAt_).count();
      char since[64];
      std::snprintf(since, sizeof since, "; not back after %.1f s", seconds);
      text += since;
    }
    throw ConnectionLost(text);
  }

 private:
  void Lost(HRESULT code, const std::string& text) {
    lostAt_ = Clock::now();
    lostText_ = text + " (" + ResultCodeHex(code) + ")";
    ++events_;
    // Without reconnection the run ends now, and says so as its error.
    if (server_.GetAutoReconnect()) {
      session_.GetContext().log.Warning("connection to " + server_.GetServerName() + " lost: " + lostText_ +
                                        "; reconnecting");
    }
    const std::string_view name = ResultCodeName(code);
    stream_.AddEvent(Event("connectionLost", Json(text), Json(ResultCodeHex(code)),
                           name.empty() ? Json(nullptr) : Json(std::string(name))));
  }

  void Back() {
    const double seconds = std::chrono::duration<double>(Clock::now() - lostAt_.value_or(Clock::now())).count();
    lostAt_.reset();
    ++events_;
    char after[64];
    std::snprintf(after, sizeof after, " after %.1f s", seconds);
    session_.GetContext().log.Warning("reconnected to " + server_.GetServerName() + after);
    stream_.AddEvent(Event("reconnected", Json(nullptr), Json(nullptr), Json(nullptr)));
    // Every current value again: the application has seen them all bad.
    RefreshAll(session_);
  }

  Json Event(const char* what, Json error, Json code, Json name) const {
    Json event;
    event["event"] = what;
    event["time"] = IsoNowText(session_.GetContext().options.stampZone);
    event["error"] = std::move(error);
    event["errorCode"] = std::move(code);
    event["errorName"] = std::move(name);
    return event;
  }

  Session& session_;
  RowStream& stream_;
  TXeloServer& server_;
  std::optional<Clock::duration> giveUpAfter_;
  std::optional<Clock::time_point> lostAt_;
  std::string lostText_;
  unsigned events_ = 0;
};

std::optional<Clock::time_point> Earliest(std::optional<Clock::time_point> a, std::optional<Clock::time_point> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

}  // namespace

void EndStream(Session& session, RowStream& stream, const StopSignals& signals) {
  stream.Close();
  // Nobody reads what follows (a closed pipe, a full disk): say so and
  // end, rather than going on for no one.
  stream.CheckWritten();
  if (signals.Requested()) session.GetContext().log.Info("stopped by signal " + std::to_string(signals.Signal()));
  if (session.ShutdownRequested()) {
    throw RuntimeFailure(session.ShutdownReason().empty() ? "the server shut down"
                                                          : "the server shut down: " + session.ShutdownReason());
  }
}

int PrintDataChanges(Session& session, const StopAfter& stop, bool withGroup, bool header) {
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
  ConnectionWatch connection(session, stream, stop);
  RefreshAll(session);

  const std::optional<Clock::time_point> deadline =
      stop.duration > 0 ? std::optional(Clock::now() + Seconds(stop.duration)) : std::nullopt;
  const auto finished = [&] {
    return signals.Requested() || session.ShutdownRequested() || (counted && changes >= stop.count) ||
           watched == 0 || stream.WriteError() != 0 || connection.GivenUp() ||
           (deadline && Clock::now() >= *deadline);
  };
  while (!finished()) {
    // A loss or a return moves the time to give up: wait anew.
    const unsigned events = connection.Events();
    session.PumpUntil([&] { return finished() || connection.Events() != events; },
                      Earliest(deadline, connection.GiveUpAt()));
  }
  server.SetOnDatachange(nullptr);
  EndStream(session, stream, signals);
  connection.Check();
  return failed ? kExitItemsFailed : kExitOk;
}

}  // namespace xelo::cli
