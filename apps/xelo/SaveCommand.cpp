// xelo save: write a configuration file with one group of items, for
// `xelo run` or for any application that loads configurations.
#include "Commands.h"
#include "ExitCodes.h"
#include "Output.h"
#include "Session.h"

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
};

int Run(const Context& context, const SaveOptions& options) {
  const ServerAndArguments split = SplitServer(context.options, options.arguments);
  if (split.arguments.empty()) throw UsageError("no ITEM given");

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
  return kExitOk;
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
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
