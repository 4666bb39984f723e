// xelo read: the current values of items, with quality and time stamp.
#include "Commands.h"
#include "ExitCodes.h"
#include "ItemRows.h"
#include "Output.h"
#include "Session.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace xelo::cli {

namespace {

struct ReadOptions {
  std::vector<std::string> arguments;  // [SERVER] ITEM...
  bool device = false;
};

int Run(const Context& context, const ReadOptions& options) {
  const ServerAndArguments split = SplitServer(context.options, options.arguments);
  if (split.arguments.empty()) throw UsageError("no ITEM given");

  Session session(context);
  session.Connect(split.server);
  TXeloGroup& group = session.AddGroup("xelo", GroupSettings{}, split.arguments);
  TXeloItems& items = *group.GetOPCItems();

  // One read for every item the server took; the others keep the error of
  // their add.
  TXeloItemList added;
  for (int i = 0; i < items.GetCount(); ++i) {
    if (items.GetItem(i)->IsOnServer()) added.Add(items.GetItem(i));
  }
  if (added.GetCount() > 0) group.SyncRead(&added, !options.device);

  Report report(ItemColumns(false));
  int failed = 0;
  for (int i = 0; i < items.GetCount(); ++i) {
    const TXeloItem& item = *items.GetItem(i);
    if (ItemFailed(item)) ++failed;
    report.Add(ItemRow(item, false));
  }
  report.Print(std::cout, context.options.format);
  return failed > 0 ? kExitItemsFailed : kExitOk;
}

}  // namespace

Command AddReadCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<ReadOptions>();
  CLI::App* app = parent.add_subcommand("read", "Read items: value, quality, time stamp, error");
  AddServerArguments(*app, options->arguments, "ITEM", "[SERVER] ITEM...", "the items", true);
  app->add_flag("--device", options->device, "read from the device instead of the server's cache");
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
