// xelo run: load a configuration file, connect, and print the data changes
// of all its groups until stopped.
#include "Commands.h"
#include "ExitCodes.h"
#include "Session.h"
#include "Subscription.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace xelo::cli {

namespace {

struct RunOptions {
  std::string file;
  StopAfter stop;
  bool noHeader = false;
};

int Run(const Context& context, const RunOptions& options) {
  Session session(context);
  session.Run(options.file);
  return PrintDataChanges(session, options.stop, true, !options.noHeader);
}

}  // namespace

Command AddRunCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<RunOptions>();
  CLI::App* app = parent.add_subcommand(
      "run",
      "Load a configuration file, connect, print the current values and then the data changes of all its groups "
      "until stopped");
  app->add_option("CONFIG", options->file, "the configuration file (see 'xelo save')")->required();
  AddStopOptions(*app, options->stop);
  AddNoHeaderOption(*app, options->noHeader);
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
