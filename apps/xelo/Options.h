// The options every subcommand of `xelo` understands, and the context the
// commands run in.
#pragma once

#include "Log.h"
#include "Output.h"
#include "Values.h"

#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace xelo::cli {

struct CommonOptions {
  std::string server = "Xelo.Sim.1";      // --server, XELO_SERVER
  std::string computer;                   // --computer, XELO_COMPUTER; blank: this one
  Format format = Format::Table;          // --format
  double timeout = 10.0;                  // --timeout, seconds
  LogLevel logLevel = LogLevel::Warning;  // --log-level
  StampZone stampZone = StampZone::Utc;   // --local-time: JSON and CSV time stamps
  // Given on the command line rather than by default or the environment:
  // only then do they override the server of a configuration file.
  bool serverGiven = false;
  bool computerGiven = false;
};

// What a command needs besides its own options.
struct Context {
  CommonOptions options;
  Log log;
};

// The common options as the parser fills them; Apply turns the words into
// the settings once the command line is parsed.
struct CommonOptionWords {
  std::string format = "table";
  std::string logLevel = "warning";
  bool localTime = false;
  void Apply(CommonOptions& options) const;
};

// Adds the common options to `app`; its subcommands accept them as well
// (before or after the subcommand's name).
void AddCommonOptions(CLI::App& app, CommonOptions& options, CommonOptionWords& words);

// The positional arguments of `synopsis` ("[SERVER] ITEM..."), named
// `name` in messages: `what` they are; the first one chooses the server
// when it names one (see SplitServer).
void AddServerArguments(CLI::App& app, std::vector<std::string>& arguments, const std::string& name,
                        const std::string& synopsis, const std::string& what, bool required);

// Checks of option values with messages a user understands.
void CheckPositive(CLI::Option& option);
// Seconds: greater than 0, at most kMaxSeconds (about 31 years).
inline constexpr double kMaxSeconds = 1e9;
void CheckSeconds(CLI::Option& option);
// As CheckSeconds, with 0 allowed (no limit).
void CheckSecondsOrZero(CLI::Option& option);
void CheckPercent(CLI::Option& option);

}  // namespace xelo::cli
