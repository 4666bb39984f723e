// xelo watch: subscribe to items and print every data change as it
// arrives.
#include "Commands.h"
#include "ExitCodes.h"
#include "Session.h"
#include "Subscription.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace xelo::cli {

namespace {

struct WatchOptions {
  std::vector<std::string> arguments;  // [SERVER] ITEM...
  std::int32_t rate = 1000;
  float deadband = 0.0f;
  StopAfter stop;
};

int Run(const Context& context, const WatchOptions& options) {
  const ServerAndArguments split = SplitServer(context.options, options.arguments);
  if (split.arguments.empty()) throw UsageError("no ITEM given");

  Session session(context);
  session.Connect(split.server);
  TXeloGroup& group = session.AddGroup("xelo", GroupSettings{options.rate, options.deadband, true}, split.arguments);
  if (group.GetUpdateRate() != options.rate) {
    context.log.Info("the server revised the update rate to " + std::to_string(group.GetUpdateRate()) + " ms");
  }
  return PrintDataChanges(session, options.stop, false);
}

}  // namespace

void AddStopOptions(CLI::App& app, StopAfter& stop) {
  CheckPositive(*app.add_option("--count", stop.count, "stop after N changes"));
  CheckSeconds(*app.add_option("--duration", stop.duration, "stop after S seconds"));
}

Command AddWatchCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<WatchOptions>();
  CLI::App* app = parent.add_subcommand(
      "watch", "Subscribe to items and print every data change until stopped (Ctrl-C, SIGTERM, SIGHUP, --count, --duration)");
  AddServerArguments(*app, options->arguments, "ITEM", "[SERVER] ITEM...", "the items", true);
  CheckPositive(*app->add_option("--rate", options->rate, "update rate in milliseconds")->capture_default_str());
  CheckPercent(
      *app->add_option("--deadband", options->deadband, "percent dead band of analog items")->capture_default_str());
  AddStopOptions(*app, options->stop);
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
