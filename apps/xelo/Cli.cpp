#include "Cli.h"

#include "Commands.h"
#include "ExitCodes.h"
#include "xelo/com/ComBackEnd.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>
#include <vector>

#ifndef XELO_VERSION
#define XELO_VERSION "unknown"
#endif

namespace xelo::cli {

namespace {

constexpr char kDescription[] =
    "xelo - look at an OPC Data Access server from a terminal.\n"
#if XELO_COM_NATIVE
    "The simulation server Xelo.Sim.1 is the default server\n"
    "(register it with: xelo_simulation_server /RegServer).";
#else
    "The embedded simulation server Xelo.Sim.1 is the default server.";
#endif

constexpr char kFooter[] =
    "Exit codes: 0 all good, 1 runtime failure (no server, connection lost),\n"
    "2 usage error, 3 some items failed.\n"
    "Run 'xelo COMMAND --help' for the options of a command.";

constexpr char kCommandFooter[] =
    "The common options (--server, --computer, --format, --timeout, --log-level)\n"
    "work here too; see 'xelo --help'.";

int UsageFailure(const std::string& command, const std::string& message) {
  std::cerr << "xelo " << command << ": " << message << "\nRun 'xelo " << command << " --help' for more information.\n";
  return kExitUsage;
}

// CLI11's parse errors in the same shape as our own usage errors, naming
// the subcommand the user was typing; without one, the list of them.
std::string FailureMessage(const CLI::App* app, const CLI::Error& e) {
  const std::vector<CLI::App*> chosen = app->get_subcommands();
  if (!chosen.empty()) {
    const std::string name = chosen.front()->get_name();
    return "xelo " + name + ": " + e.what() + "\nRun 'xelo " + name + " --help' for more information.\n";
  }
  std::string commands;
  for (const CLI::App* command : app->get_subcommands({})) {
    commands += (commands.empty() ? "" : ", ") + command->get_name();
  }
  return std::string("xelo: ") + e.what() + "\nCommands: " + commands + "\nRun 'xelo --help' for more information.\n";
}

// Whether the command line itself (not the environment) gives `name`, as
// "--name VALUE" or "--name=VALUE".
bool OnCommandLine(int argc, char** argv, const std::string& name) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") break;
    if (word == name || word.rfind(name + "=", 0) == 0) return true;
  }
  return false;
}

}  // namespace

int RunCli(int argc, char** argv) {
  // Past a file size limit (ulimit -f) a write fails with EFBIG instead of
  // the signal killing the tool half-way: the write error is reported and
  // the temporary file of a save removed.
#if defined(SIGXFSZ)
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  Context context{CommonOptions{}, Log(std::cerr)};
  CLI::App app(kDescription, "xelo");
  // Subcommands inherit the footer when they are added.
  app.footer(kCommandFooter);
  app.failure_message(FailureMessage);
  app.set_version_flag("--version", std::string("xelo ") + XELO_VERSION);
  app.require_subcommand(1);
  // Subcommands inherit this: the common options may follow the command's
  // name as well.
  app.fallthrough();
  CommonOptionWords words;
  AddCommonOptions(app, context.options, words);

  const std::vector<Command> commands{
      AddServersCommand(app, context), AddStatusCommand(app, context), AddBrowseCommand(app, context),
      AddPropsCommand(app, context),   AddReadCommand(app, context),   AddWriteCommand(app, context),
      AddWatchCommand(app, context),   AddSaveCommand(app, context),   AddRunCommand(app, context),
  };
  app.footer(kFooter);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and version end with 0; everything else is a usage error.
    return app.exit(e) == 0 ? kExitOk : kExitUsage;
  }
  words.Apply(context.options);
  context.options.serverGiven = OnCommandLine(argc, argv, "--server");
  context.options.computerGiven = OnCommandLine(argc, argv, "--computer");
  context.log.SetLevel(context.options.logLevel);

  for (const Command& command : commands) {
    if (!command.app->parsed()) continue;
    try {
      return command.run();
    } catch (const UsageError& e) {
      return UsageFailure(command.app->get_name(), e.what());
    } catch (const ConnectionLost& e) {
      context.log.Error(e.what());
      return kExitConnectionLost;
    } catch (const std::exception& e) {
      context.log.Error(e.what());
      return kExitFailure;
    }
  }
  return kExitUsage;  // require_subcommand makes this unreachable
}

}  // namespace xelo::cli
