// xelo save: write a configuration file with groups of items, for
// `xelo run` or for any application that loads configurations.
//
// One group: ITEM... with --group NAME, --rate and --deadband anywhere on
// the line. Several groups: each --group NAME starts a group, and the
// items, --rate and --deadband that follow it, up to the next --group,
// are that group's; a --rate or --deadband before the first --group is
// the default of every group.
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
#include <set>

namespace xelo::cli {

namespace {

constexpr std::int32_t kDefaultRate = 1000;

struct SaveOptions {
  std::vector<std::string> arguments;  // [SERVER] ITEM...
  std::string file;
  std::vector<std::string> groups;
  std::vector<std::int32_t> rates;
  std::vector<float> deadbands;
  bool force = false;
  // The parser's options, to read back the order in which they were given.
  CLI::App* app = nullptr;
  CLI::Option* itemOption = nullptr;
  CLI::Option* groupOption = nullptr;
  CLI::Option* rateOption = nullptr;
  CLI::Option* deadbandOption = nullptr;
};

struct GroupPlan {
  std::string name;
  std::int32_t rate = kDefaultRate;
  float deadband = 0.0f;
  std::vector<std::string> ids;
  bool rateGiven = false;
  bool deadbandGiven = false;
};

void CheckName(const std::string& name, std::set<std::string>& names) {
  if (Trim(name).empty()) throw UsageError("the group name is blank");
  if (!names.insert(name).second) throw UsageError("the group " + name + " is given twice");
}

// One group: everything on the command line is its, in whatever order.
GroupPlan OneGroup(const SaveOptions& options, const std::vector<std::string>& ids) {
  if (options.rates.size() > 1) throw UsageError("--rate is given more than once for one group");
  if (options.deadbands.size() > 1) throw UsageError("--deadband is given more than once for one group");
  GroupPlan plan;
  plan.name = options.groups.empty() ? "Group1" : options.groups.front();
  std::set<std::string> names;
  CheckName(plan.name, names);
  if (!options.rates.empty()) plan.rate = options.rates.front();
  if (!options.deadbands.empty()) plan.deadband = options.deadbands.front();
  plan.ids = ids;
  if (plan.ids.empty()) throw UsageError("no ITEM given");
  return plan;
}

// What a --rate or --deadband applies to: the group, or with none yet all.
std::string Whose(const GroupPlan* group) { return group != nullptr ? "group " + group->name : "all groups"; }

// Several groups, from the order of the command line. `serverFirst`: the
// first positional argument chose the server and is no item.
std::vector<GroupPlan> SeveralGroups(const SaveOptions& options, bool serverFirst) {
  std::vector<GroupPlan> plans;
  std::set<std::string> names;
  GroupPlan defaults;
  std::size_t item = 0, group = 0, rate = 0, deadband = 0;
  for (const CLI::Option* option : options.app->parse_order()) {
    GroupPlan* current = plans.empty() ? nullptr : &plans.back();
    if (option == options.groupOption) {
      GroupPlan plan = defaults;
      plan.rateGiven = plan.deadbandGiven = false;
      plan.name = options.groups.at(group++);
      CheckName(plan.name, names);
      plans.push_back(std::move(plan));
    } else if (option == options.itemOption) {
      const std::string& id = options.arguments.at(item++);
      if (serverFirst && item == 1) continue;
      if (current == nullptr) throw UsageError("'" + id + "' comes before the first --group; with several groups "
                                               "each item follows the --group it belongs to");
      current->ids.push_back(id);
    } else if (option == options.rateOption) {
      GroupPlan& target = current != nullptr ? *current : defaults;
      if (target.rateGiven) throw UsageError("--rate is given twice for " + Whose(current));
      target.rate = options.rates.at(rate++);
      target.rateGiven = true;
    } else if (option == options.deadbandOption) {
      GroupPlan& target = current != nullptr ? *current : defaults;
      if (target.deadbandGiven) throw UsageError("--deadband is given twice for " + Whose(current));
      target.deadband = options.deadbands.at(deadband++);
      target.deadbandGiven = true;
    }
  }
  for (const GroupPlan& plan : plans) {
    if (plan.ids.empty()) throw UsageError("the group " + plan.name + " has no ITEM");
  }
  return plans;
}

std::size_t ItemCount(const std::vector<GroupPlan>& plans) {
  std::size_t count = 0;
  for (const GroupPlan& plan : plans) count += plan.ids.size();
  return count;
}

// The items the server refuses, each with its reason. RuntimeFailure when
// the server cannot be reached.
std::vector<std::string> RefusedItems(const Context& context, const std::string& serverName,
                                      const std::vector<GroupPlan>& plans) {
  Session session(context);
  session.Connect(serverName);
  std::vector<std::string> refused;
  for (const GroupPlan& plan : plans) {
    // Inactive: the check needs the items' validation, not their values.
    const TXeloGroup& group = session.AddGroup(plan.name, GroupSettings{plan.rate, plan.deadband, false}, plan.ids);
    const TXeloItems& items = *group.GetOPCItems();
    for (int i = 0; i < items.GetCount(); ++i) {
      const TXeloItem& item = *items.GetItem(i);
      if (!ItemFailed(item)) continue;
      refused.push_back("item " + item.GetItemID() + ": " +
                        (item.GetLastError() != 0 ? ItemErrorText(item.GetLastError()) : "not on the server"));
    }
  }
  return refused;
}

Json IdsJson(const std::vector<std::string>& ids) {
  Json array = Json::array();
  for (const std::string& id : ids) array.push_back(id);
  return array;
}

int Run(const Context& context, const SaveOptions& options) {
  const ServerAndArguments split = SplitServer(context.options, options.arguments);
  const std::vector<GroupPlan> plans =
      options.groups.size() > 1 ? SeveralGroups(options, split.arguments.size() < options.arguments.size())
                                : std::vector<GroupPlan>{OneGroup(options, split.arguments)};
  const std::size_t itemCount = ItemCount(plans);

  std::vector<std::string> refused;
  try {
    refused = RefusedItems(context, split.server, plans);
  } catch (const RuntimeFailure& e) {
    if (!options.force) throw RuntimeFailure(std::string(e.what()) + " (--force saves without checking the items)");
    context.log.Warning(std::string(e.what()) + "; saving the items unchecked");
  }
  for (const std::string& text : refused) context.log.Error(text);
  if (!refused.empty() && !options.force) {
    context.log.Error(std::to_string(refused.size()) + " of " + std::to_string(itemCount) +
                      " items refused by the server; " + options.file + " not written (--force writes it anyway)");
    return kExitItemsFailed;
  }

  // A configuration is a definition: nothing is connected, so it can be
  // written while the server is away.
  TXeloServer server(nullptr);
  server.SetName("OPCServer1");
  server.SetServer(split.server);
  server.SetComputername(context.options.computer);
  for (const GroupPlan& plan : plans) {
    TXeloGroup& group = *server.GetOPCGroups()->Add(plan.name);
    group.SetUpdateRate(plan.rate);
    group.SetDeadBand(plan.deadband);
    for (const std::string& id : plan.ids) group.GetOPCItems()->AddItem(id);
  }
  try {
    server.SaveToFile(options.file);
  } catch (const std::exception& e) {
    throw RuntimeFailure("cannot save " + options.file + ": " + e.what());
  }
  context.log.Info("saved " + std::to_string(itemCount) + " items in " + std::to_string(plans.size()) +
                   " groups to " + options.file);

  Report report({{"file", "file"},
                 {"server", "server"},
                 {"computer", "computer"},
                 {"group", "group"},
                 {"items", "items"},
                 {"groups", "groups", false}});
  std::vector<std::string> allIds;
  std::string groupNames;
  Json groups = Json::array();
  for (const GroupPlan& plan : plans) {
    allIds.insert(allIds.end(), plan.ids.begin(), plan.ids.end());
    groupNames += (groupNames.empty() ? "" : ", ") + plan.name;
    Json group = Json::object();
    group["name"] = plan.name;
    group["updateRate"] = plan.rate;
    group["deadBand"] = plan.deadband;
    group["items"] = IdsJson(plan.ids);
    groups.push_back(std::move(group));
  }
  report.Add(
      {Cell::Text(options.file), Cell::Text(split.server),
       context.options.computer.empty() ? Cell{Json(nullptr), "this computer"} : Cell::Text(context.options.computer),
       // With several groups "group" names none of them; "groups" has them all.
       plans.size() == 1 ? Cell::Text(groupNames) : Cell{Json(nullptr), groupNames},
       Cell{IdsJson(allIds), std::to_string(itemCount)}, Cell{groups, std::to_string(plans.size())}});
  report.PrintRecord(std::cout, context.options.format);
  return refused.empty() ? kExitOk : kExitItemsFailed;
}

}  // namespace

Command AddSaveCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<SaveOptions>();
  CLI::App* app = parent.add_subcommand(
      "save",
      "Write a configuration file: the server and its groups of items. One group: "
      "[SERVER] ITEM... [--group NAME] [--rate MS] [--deadband PCT]; several: "
      "[SERVER] [--rate MS] [--deadband PCT] --group NAME [--rate MS] [--deadband PCT] ITEM... --group NAME ...");
  options->app = app;
  AddServerArguments(*app, options->arguments, "ITEM", "[SERVER] ITEM...",
                     "the items; with several --group, each item belongs to the --group before it", true);
  options->itemOption = app->get_option("ITEM");
  app->add_option("-o,--output", options->file, "the configuration file to write")->required();
  options->groupOption =
      app->add_option("--group", options->groups,
                      "name of the group (default Group1); given more than once, each starts a group with the "
                      "--rate, --deadband and items that follow it")
          ->allow_extra_args(false);
  options->rateOption = app->add_option("--rate", options->rates,
                                        "update rate in milliseconds (default 1000); before the first of several "
                                        "--group, of every group")
                            ->allow_extra_args(false);
  CheckPositive(*options->rateOption);
  options->deadbandOption = app->add_option("--deadband", options->deadbands,
                                            "percent dead band of analog items (default 0); before the first of "
                                            "several --group, of every group")
                                ->allow_extra_args(false);
  CheckPercent(*options->deadbandOption);
  app->add_flag("--force", options->force,
                "write the file even when the server refuses items (exit 3) or cannot be reached (unchecked)");
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
