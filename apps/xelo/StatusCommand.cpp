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
  // The stamps as the server sent them, so that JSON and CSV get their UTC
  // values without a detour through local time.
  const OPCSERVERSTATUS status = session.Server().GetStatus();
  const std::string vendor = session.Server().GetVendorInfo();
  const auto state = static_cast<std::int32_t>(status.dwServerState);
  const std::string stateText = ServerStateToStr(state);
  const auto stamp = [&](const FILETIME& time) {
    return TimeStampCell(FileTimeToDateTime(time), FileTimeToDateTimeUTC(time), context.options.stampZone);
  };
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
       stateText.empty() ? Cell::Text(std::to_string(state)) : Cell::Text(stateText), stamp(status.ftStartTime),
       stamp(status.ftCurrentTime), stamp(status.ftLastUpdateTime), Cell::Text(vendor),
       Cell::Text(std::to_string(status.wMajorVersion) + "." + std::to_string(status.wMinorVersion) + "." +
                  std::to_string(status.wBuildNumber)),
       Cell::Integer(static_cast<std::int32_t>(status.dwGroupCount)),
       BandWidthCell(static_cast<std::int32_t>(status.dwBandWidth)), Cell::Integer(state)});
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
