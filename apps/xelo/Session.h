// One connection of `xelo` to an OPC server, through the library's server
// component, and the message loop that brings the server's events.
//
// The session owns the server component. It installs a user-interface
// backend that turns the library's messages into diagnostics on stderr (a
// terminal has no message boxes) and reports the component's faults through
// the log. Items are added to the server in one batch call per group with
// their errors left in the items, so that every command reports failed
// items one by one instead of stopping at the first.
//
// Everything runs on the main thread: the server's callbacks arrive as
// queued messages and reach the event handlers only while the session
// pumps (Pump), never inside a server call.
#pragma once

#include "Options.h"

#include "xelo/core/Xelo.h"
#include "xelo/framework/UserInterface.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xelo::cli {

struct GroupSettings {
  std::int32_t updateRate = 1000;  // ms
  float deadBand = 0.0f;           // percent
  bool active = true;
};

class Session {
 public:
  explicit Session(const Context& context);
  // Disconnects (no event) and puts the previous user interface back.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  TXeloServer& Server() { return *server_; }
  const Context& GetContext() const { return context_; }

  // Connects to `serverName` on the computer of the common options.
  // RuntimeFailure when the name is no server of this computer or the
  // connection fails.
  void Connect(const std::string& serverName);
  // Loads a configuration file into the component (which connects when the
  // file says Active = True), then connects when it did not. A --server or
  // --computer on the command line replaces the file's. RuntimeFailure
  // for an unreadable or wrong file and for a failed connection.
  void Run(const std::string& configFile);

  // A new group on the server with `ids` added in one call. Items the
  // server refused stay in the group, off the server, with their error in
  // LastError.
  TXeloGroup& AddGroup(const std::string& name, const GroupSettings& settings, const std::vector<std::string>& ids);

  // Pumps the message loop until `done` holds or `timeout` has passed;
  // returns done().
  bool Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Pumps until `stop` holds or `deadline`, when given, has passed; without
  // a deadline until `stop` holds. Returns stop(). Waits without spinning:
  // the loop wakes for the server's messages, its timers and posts from
  // other threads (the signal thread's).
  bool PumpUntil(const std::function<bool()>& stop, std::optional<std::chrono::steady_clock::time_point> deadline);
  // The common --timeout.
  std::chrono::milliseconds Timeout() const;

  // Set when the server asked its clients to go and the component has
  // disconnected (with reconnection on, it waits for the server instead);
  // the server's reason, possibly empty.
  bool ShutdownRequested() const { return shutdownRequested_ && !server_->GetActive(); }
  // The text of the server component's last fault (an operation that
  // answered false after it was reported); empty when none.
  const std::string& LastFault() const { return lastFault_; }
  const std::string& ShutdownReason() const { return shutdownReason_; }

 private:
  const Context& context_;
  std::unique_ptr<IUserInterface> previousUi_;
  std::unique_ptr<TXeloServer> server_;
  bool shutdownRequested_ = false;
  std::string shutdownReason_;
  std::string lastFault_;
};

// Whether `name` names a server class of this computer: a registered ProgID
// or a class identifier in braces. Names are always resolved here, also for
// servers on other computers.
bool IsServerName(const std::string& name);

// Splits a command's arguments into the server (the first argument when it
// names a server, else the --server option) and the rest.
struct ServerAndArguments {
  std::string server;
  std::vector<std::string> arguments;
};
ServerAndArguments SplitServer(const CommonOptions& options, const std::vector<std::string>& arguments);

// A failed item: not on the server, or its last operation failed.
bool ItemFailed(const TXeloItem& item);

}  // namespace xelo::cli
