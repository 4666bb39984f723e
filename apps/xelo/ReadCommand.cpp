// xelo read: the current values of items, with quality and time stamp;
// with --repeat, again and again until stopped.
#include "Commands.h"
#include "ExitCodes.h"
#include "ItemRows.h"
#include "Output.h"
#include "Session.h"
#include "Signals.h"
#include "StandardInput.h"
#include "Subscription.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>

namespace xelo::cli {

namespace {

struct ReadOptions {
  std::vector<std::string> arguments;  // [SERVER] ITEM...
  bool device = false;
  double repeat = 0.0;  // seconds between reads; 0: read once
  long count = 0;       // reads with --repeat; 0: until stopped
  bool noHeader = false;
};

// The items of the group and one read of those the server took; the
// others keep the error of their add.
class Reader {
 public:
  Reader(TXeloGroup& group, bool device) : group_(group), device_(device) {
    TXeloItems& items = *group.GetOPCItems();
    for (int i = 0; i < items.GetCount(); ++i) {
      if (items.GetItem(i)->IsOnServer()) added_.Add(items.GetItem(i));
    }
  }

  // Reads every item once; true when one of them failed.
  template <class Sink>
  bool ReadOnce(Sink&& sink) {
    if (added_.GetCount() > 0) group_.SyncRead(&added_, !device_);
    bool failed = false;
    const TXeloItems& items = *group_.GetOPCItems();
    for (int i = 0; i < items.GetCount(); ++i) {
      failed = ItemFailed(*items.GetItem(i)) || failed;
      sink(*items.GetItem(i));
    }
    return failed;
  }

 private:
  TXeloGroup& group_;
  bool device_;
  TXeloItemList added_;
};

int ReadOnce(const Context& context, const ReadOptions& options, Reader& reader) {
  Report report(ItemColumns(false));
  const bool failed =
      reader.ReadOnce([&](const TXeloItem& item) { report.Add(ItemRow(item, false, context.options.stampZone)); });
  report.Print(std::cout, context.options.format, !options.noHeader);
  return failed ? kExitItemsFailed : kExitOk;
}

// Reads every --repeat seconds, printing each row as it comes, until the
// count of reads is done, a signal asks to stop or the server goes.
int Poll(Session& session, const ReadOptions& options, Reader& reader, TXeloGroup& group) {
  using Clock = std::chrono::steady_clock;
  StopSignals signals;
  const CommonOptions& common = session.GetContext().options;
  std::vector<const TXeloItem*> items;
  for (int i = 0; i < group.GetOPCItems()->GetCount(); ++i) items.push_back(group.GetOPCItems()->GetItem(i));
  RowStream stream(std::cout, common.format, ItemColumns(false), ItemWidths(items, false), !options.noHeader);
  const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.repeat));
  const auto stopped = [&] { return signals.Requested() || session.ShutdownRequested() || stream.WriteError() != 0; };

  bool failed = false;
  Clock::time_point next = Clock::now();
  for (long reads = 0; !stopped();) {
    failed = reader.ReadOnce([&](const TXeloItem& item) { stream.Add(ItemRow(item, false, common.stampZone)); }) ||
             failed;
    if (options.count > 0 && ++reads >= options.count) break;
    // On the beat, unless a read took longer than the period.
    next = std::max(next + period, Clock::now());
    session.PumpUntil(stopped, next);
  }
  EndStream(session, stream, signals);
  return failed ? kExitItemsFailed : kExitOk;
}

int Run(const Context& context, const ReadOptions& options) {
  const ServerAndArguments split = CommandArguments(context.options, options.arguments, "ITEM");
  Session session(context);
  session.Connect(split.server);
  // Active: a server keeps the cache only of active items. When polling,
  // at the pace of the reads, so each read finds a fresh value.
  GroupSettings settings;
  if (options.repeat > 0) {
    settings.updateRate = static_cast<std::int32_t>(std::clamp(options.repeat * 1000.0, 1.0, 2147483647.0));
  }
  TXeloGroup& group = session.AddGroup("xelo", settings, split.arguments);
  Reader reader(group, options.device);
  if (options.repeat <= 0) return ReadOnce(context, options, reader);
  return Poll(session, options, reader, group);
}

}  // namespace

Command AddReadCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<ReadOptions>();
  CLI::App* app = parent.add_subcommand("read", "Read items: value, quality, time stamp, error");
  AddServerArguments(*app, options->arguments, "ITEM", "[SERVER] ITEM...",
                     "the items; - reads them from standard input, one per line", true);
  app->add_flag("--device", options->device, "read from the device instead of the server's cache");
  CLI::Option* repeat = app->add_option(
      "--repeat", options->repeat, "read again every S seconds until stopped (Ctrl-C, SIGTERM, SIGHUP, --count)");
  CheckSeconds(*repeat);
  CheckPositive(*app->add_option("--count", options->count, "with --repeat: stop after N reads")->needs(repeat));
  AddNoHeaderOption(*app, options->noHeader);
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
