// xelo save: write a configuration file with one group of items, for
// `xelo run` or for any application that loads configurations.
//
// The items are checked with the server first: a file that defines items
// the server refuses would only fail later, when it is run. Refused items
// are named and end the command with exit 3, the file left unwritten;
// --force writes it all the same (still exit 3), and writes it unchecked
// when the server cannot be reached.
#include "Commands.h"
#include "ExitCodes.h"
#include "Output.h"
#include "Session.h"

#include "xelo/framework/SysUtils.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace xelo::cli {

namespace {

struct SaveOptions {
  std::vector<std::string> arguments;  // [SERVER] ITEM...
  std::string file;
  std::string group = "Group1";
  std::int32_t rate = 1000;
  float deadband = 0.0f;
  bool force = false;
};

// The items the server refuses, each with its reason. RuntimeFailure when
// the server cannot be reached.
std::vector<std::string> RefusedItems(const Context& context, const std::string& serverName,
                                      const SaveOptions& options, const std::vector<std::string>& ids) {
  Session session(context);
  session.Connect(serverName);
  // Inactive: the check needs the items' validation, not their values.
  const TXeloGroup& group = session.AddGroup(options.group, GroupSettings{options.rate, options.deadband, false}, ids);
  std::vector<std::string> refused;
  const TXeloItems& items = *group.GetOPCItems();
  for (int i = 0; i < items.GetCount(); ++i) {
    const TXeloItem& item = *items.GetItem(i);
    if (!ItemFailed(item)) continue;
    refused.push_back("item " + item.GetItemID() + ": " +
                      (item.GetLastError() != 0 ? ItemErrorText(item.GetLastError()) : "not on the server"));
  }
  return refused;
}

int Run(const Context& context, const SaveOptions& options) {
  const ServerAndArguments split = SplitServer(context.options, options.arguments);
  if (split.arguments.empty()) throw UsageError("no ITEM given");
  if (Trim(options.group).empty()) throw UsageError("the group name is blank");

  std::vector<std::string> refused;
  try {
    refused = RefusedItems(context, split.server, options, split.arguments);
  } catch (const RuntimeFailure& e) {
    if (!options.force) throw RuntimeFailure(std::string(e.what()) + " (--force saves without checking the items)");
    context.log.Warning(std::string(e.what()) + "; saving the items unchecked");
  }
  for (const std::string& text : refused) context.log.Error(text);
  if (!refused.empty() && !options.force) {
    context.log.Error(std::to_string(refused.size()) + " of " + std::to_string(split.arguments.size()) +
                      " items refused by the server; " + options.file + " not written (--force writes it anyway)");
    return kExitItemsFailed;
  }

  // A configuration is a definition: nothing is connected, so it can be
  // written while the server is away.
  TXeloServer server(nullptr);
  server.SetName("OPCServer1");
  server.SetServer(split.server);
  server.SetComputername(context.options.computer);
  TXeloGroup& group = *server.GetOPCGroups()->Add(options.group);
  group.SetUpdateRate(options.rate);
  group.SetDeadBand(options.deadband);
  for (const std::string& id : split.arguments) group.GetOPCItems()->AddItem(id);
  try {
    server.SaveToFile(options.file);
  } catch (const std::exception& e) {
    throw RuntimeFailure("cannot save " + options.file + ": " + e.what());
  }
  context.log.Info("saved " + std::to_string(split.arguments.size()) + " items to " + options.file);

  Report report(
      {{"file", "file"}, {"server", "server"}, {"computer", "computer"}, {"group", "group"}, {"items", "items"}});
  Json ids = Json::array();
  for (const std::string& id : split.arguments) ids.push_back(id);
  report.Add(
      {Cell::Text(options.file), Cell::Text(split.server),
       context.options.computer.empty() ? Cell{Json(nullptr), "this computer"} : Cell::Text(context.options.computer),
       Cell::Text(options.group), Cell{ids, std::to_string(split.arguments.size())}});
  report.PrintRecord(std::cout, context.options.format);
  return refused.empty() ? kExitOk : kExitItemsFailed;
}

}  // namespace

Command AddSaveCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<SaveOptions>();
  CLI::App* app = parent.add_subcommand("save", "Write a configuration file: the server and one group of items");
  AddServerArguments(*app, options->arguments, "ITEM", "[SERVER] ITEM...", "the items", true);
  app->add_option("-o,--output", options->file, "the configuration file to write")->required();
  app->add_option("--group", options->group, "name of the group")->capture_default_str();
  CheckPositive(*app->add_option("--rate", options->rate, "update rate in milliseconds")->capture_default_str());
  CheckPercent(
      *app->add_option("--deadband", options->deadband, "percent dead band of analog items")->capture_default_str());
  app->add_flag("--force", options->force,
                "write the file even when the server refuses items (exit 3) or cannot be reached (unchecked)");
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
