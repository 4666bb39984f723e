// xelo watch: subscribe to items and print every data change as it
// arrives.
#include "Commands.h"
#include "ExitCodes.h"
#include "Session.h"
#include "StandardInput.h"
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
  bool noHeader = false;
};

int Run(const Context& context, const WatchOptions& options) {
  const ServerAndArguments split = CommandArguments(context.options, options.arguments, "ITEM");

  Session session(context);
  session.Connect(split.server);
  TXeloGroup& group = session.AddGroup("xelo", GroupSettings{options.rate, options.deadband, true}, split.arguments);
  if (group.GetUpdateRate() != options.rate) {
    context.log.Info("the server revised the update rate to " + std::to_string(group.GetUpdateRate()) + " ms");
  }
  return PrintDataChanges(session, options.stop, false, !options.noHeader);
}

}  // namespace

void AddStopOptions(CLI::App& app, StopAfter& stop) {
  CheckPositive(*app.add_option("--count", stop.count, "stop after N rows (the current values count as well)"));
  CheckSeconds(*app.add_option("--duration", stop.duration, "stop after S seconds"));
  // A flag with an optional value: "--reconnect" alone never takes the
  // next argument (an item) for its seconds; "--reconnect=S" gives them.
  auto text = std::make_shared<std::string>();  // kept by the option
  CLI::Option* reconnect = app.add_flag("--reconnect{0}", *text,
                                        "come back after a lost connection, with every item; =S: give up (exit 4) "
                                        "when still lost after S seconds");
  reconnect->option_text("[=S]");
  CheckSecondsOrZero(*reconnect);  // before the conversion, which needs a number
  reconnect->each([text, &stop](const std::string& seconds) { stop.reconnect = std::stod(seconds); });
}

void AddNoHeaderOption(CLI::App& app, bool& noHeader) {
  app.add_flag("--no-header", noHeader, "table and CSV without their heading line");
}

Command AddWatchCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<WatchOptions>();
  CLI::App* app = parent.add_subcommand(
      "watch",
      "Subscribe to items, print their current values and then every data change until stopped (Ctrl-C, SIGTERM, "
      "SIGHUP, --count, --duration)");
  AddServerArguments(*app, options->arguments, "ITEM", "[SERVER] ITEM...",
                     "the items; - reads them from standard input, one per line", true);
  CheckPositive(*app->add_option("--rate", options->rate, "update rate in milliseconds")->capture_default_str());
  CheckPercent(
      *app->add_option("--deadband", options->deadband, "percent dead band of analog items")->capture_default_str());
  AddStopOptions(*app, options->stop);
  AddNoHeaderOption(*app, options->noHeader);
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
