// The subcommands of `xelo`. Each Add...Command adds its subcommand with
// its own options to the program's parser and returns how to run it once
// the command line was parsed; running returns the exit code (ExitCodes.h).
#pragma once

#include "Options.h"

#include <functional>

namespace CLI {
class App;
}

namespace xelo::cli {

struct Command {
  CLI::App* app = nullptr;
  std::function<int()> run;
};

Command AddServersCommand(CLI::App& parent, Context& context);
Command AddStatusCommand(CLI::App& parent, Context& context);
Command AddBrowseCommand(CLI::App& parent, Context& context);
Command AddPropsCommand(CLI::App& parent, Context& context);
Command AddReadCommand(CLI::App& parent, Context& context);
Command AddWriteCommand(CLI::App& parent, Context& context);
Command AddWatchCommand(CLI::App& parent, Context& context);
Command AddSaveCommand(CLI::App& parent, Context& context);
Command AddRunCommand(CLI::App& parent, Context& context);

struct StopAfter;
// --count and --duration of the commands that print data changes.
void AddStopOptions(CLI::App& app, StopAfter& stop);
// --no-header of the commands that print rows of items.
void AddNoHeaderOption(CLI::App& app, bool& noHeader);

}  // namespace xelo::cli
