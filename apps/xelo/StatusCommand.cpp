// xelo status: how the server is doing, from one status call.
#include "Commands.h"
#include "ExitCodes.h"
#include "Output.h"
#include "Session.h"
#include "Values.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>

namespace xelo::cli {

namespace {

struct StatusOptions {
  std::string server;
};

// All bits set is the servers' way of saying "not known".
Cell BandWidthCell(std::int32_t bandWidth) {
  if (bandWidth == -1) return {Json(nullptr), "unknown"};
  return Cell::Integer(static_cast<std::uint32_t>(bandWidth));
}

int Run(const Context& context, const StatusOptions& options) {
  const std::string serverName = options.server.empty() ? context.options.server : options.server;
  Session session(context);
  session.Connect(serverName);
  const tServerStateRec state = session.Server().GetState();
  const std::string stateText = ServerStateToStr(state.ServerState);
  Report report({{"server", "server"},
                 {"computer", "computer"},
                 {"state", "state"},
                 {"startTime", "start time"},
                 {"currentTime", "current time"},
                 {"lastUpdateTime", "last update"},
                 {"vendor", "vendor"},
                 {"version", "version"},
                 {"groupCount", "groups"},
                 {"bandWidth", "band width"},
                 {"stateCode", "state code", false}});
  report.Add(
      {Cell::Text(serverName),
       context.options.computer.empty() ? Cell{Json(nullptr), "this computer"} : Cell::Text(context.options.computer),
       stateText.empty() ? Cell::Text(std::to_string(state.ServerState)) : Cell::Text(stateText),
       DateTimeCell(state.StartTime), DateTimeCell(state.CurrentTime), DateTimeCell(state.LastUpdateTime),
       Cell::Text(state.VendorInfo),
       Cell::Text(std::to_string(state.MajorVersion) + "." + std::to_string(state.MinorVersion) + "." +
                  std::to_string(state.BuildNumber)),
       Cell::Integer(state.ServerGroupCount), BandWidthCell(state.BandWidth), Cell::Integer(state.ServerState)});
  report.PrintRecord(std::cout, context.options.format);
  return kExitOk;
}

}  // namespace

Command AddStatusCommand(CLI::App& parent, Context& context) {
  auto options = std::make_shared<StatusOptions>();
  CLI::App* app = parent.add_subcommand("status", "Show the server's state, times, vendor and version");
  app->add_option("SERVER", options->server, "OPC server (default: --server)");
  return {app, [&context, options] { return Run(context, *options); }};
}

}  // namespace xelo::cli
