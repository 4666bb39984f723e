#include "Session.h"

#include "ExitCodes.h"

#include "xelo/com/ClassRegistry.h"
#include "xelo/com/Guid.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"

#include <algorithm>

namespace xelo::cli {

namespace {

// The library's messages as diagnostics: a command-line tool has nobody to
// click a message box, and stdout belongs to the data.
class LogUserInterface final : public IUserInterface {
 public:
  explicit LogUserInterface(const Log& log) : log_(log) {}

  void ShowMessage(const std::string& text) override { log_.Warning(text); }
  void ShowException(const std::string& text) override { log_.Error(text); }
  int MessageBox(const std::string& text, const std::string& caption, UINT flags) override {
    log_.Warning(caption.empty() ? text : caption + ": " + text);
    return MessageBoxDefaultAnswer(flags);
  }

 private:
  const Log& log_;
};

// The server component of a session. A configuration names its server, but
// a server or computer given on the command line wins: it replaces the
// file's before the component connects, so the file's own server (perhaps
// one of another computer) is never tried.
class SessionServer final : public TXeloServer {
 public:
  explicit SessionServer(const CommonOptions& options) : TXeloServer(nullptr), options_(options) {}

  void Loaded() override {
    // Still loading: the setters only store, Loaded connects.
    if (options_.serverGiven) SetServer(options_.server);
    if (options_.computerGiven) SetComputername(options_.computer);
    TXeloServer::Loaded();
  }

 private:
  const CommonOptions& options_;
};

std::string Where(const std::string& serverName, const std::string& computer) {
  return computer.empty() ? serverName : serverName + " on " + computer;
}

}  // namespace

bool IsServerName(const std::string& name) {
  if (name.empty()) return false;
  const com::OleString wide = StringToWide(name);
  CLSID clsid{};
  return SUCCEEDED(com::ClassIdFromProgId(wide.c_str(), &clsid)) || SUCCEEDED(CLSIDFromString(wide.c_str(), &clsid));
}

ServerAndArguments SplitServer(const CommonOptions& options, const std::vector<std::string>& arguments) {
  ServerAndArguments split{options.server, arguments};
  if (!arguments.empty() && IsServerName(arguments.front())) {
    split.server = arguments.front();
    split.arguments.erase(split.arguments.begin());
  }
  return split;
}

bool ItemFailed(const TXeloItem& item) { return !item.IsOnServer() || FAILED(item.GetLastError()); }

Session::Session(const Context& context)
    : context_(context), server_(std::make_unique<SessionServer>(context.options)) {
  TApplication& application = Application();
  previousUi_ = application.SetUserInterface(std::make_unique<LogUserInterface>(context_.log));
  server_->SetOnError([this](TPersistent*, const std::string& text, bool& raise) {
    // The exception that follows carries the text to whoever reports it.
    context_.log.Debug("server component: " + text);
    lastFault_ = text;
    raise = true;
  });
  server_->SetOnServerShutdown([this](TPersistent*, const std::string& reason) {
    shutdownRequested_ = true;
    shutdownReason_ = reason;
    context_.log.Debug(reason.empty() ? "shutdown request" : "shutdown request: " + reason);
  });
  server_->SetOnConnect([this](TPersistent* sender) {
    context_.log.Info("connected to " + Where(static_cast<TXeloServer*>(sender)->GetServerName(),
                                              static_cast<TXeloServer*>(sender)->GetComputerName()));
  });
  server_->SetOnDisconnect([this](TPersistent*) { context_.log.Info("disconnected"); });
}

Session::~Session() {
  // Groups and items leave the server, the server object is released.
  try {
    server_->Disconnect();
  } catch (const std::exception& e) {
    // The server may be gone already; there is nothing left to undo.
    context_.log.Debug(std::string("while disconnecting: ") + e.what());
  }
  server_.reset();
  Application().SetUserInterface(std::move(previousUi_));
}

void Session::Connect(const std::string& serverName) {
  const std::string where = Where(serverName, context_.options.computer);
  if (!IsServerName(serverName)) {
    throw RuntimeFailure("unknown server '" + serverName + "': no ProgID or class id of that name on this computer");
  }
  context_.log.Debug("connecting to " + where);
  // Items are added by AddGroup, one batch call per group, with their
  // errors kept in the items.
  server_->SetBatchMode(true);
  try {
    server_->Connect(serverName, context_.options.computer);
  } catch (const std::exception& e) {
    throw RuntimeFailure("cannot connect to " + where + ": " + e.what());
  }
  if (!server_->GetActive()) throw RuntimeFailure("cannot connect to " + where);
}

void Session::Run(const std::string& configFile) {
  try {
    server_->LoadFromFile(configFile);
  } catch (const std::exception& e) {
    throw RuntimeFailure("cannot load " + configFile + ": " + e.what());
  }
  const std::string where = Where(server_->GetServerName(), server_->GetComputerName());
  if (!server_->GetActive()) {
    if (!IsServerName(server_->GetServerName())) {
      throw RuntimeFailure("unknown server '" + server_->GetServerName() + "' in " + configFile);
    }
    try {
      server_->SetActive(true);
    } catch (const std::exception& e) {
      throw RuntimeFailure("cannot connect to " + where + ": " + e.what());
    }
  }
  if (!server_->GetActive()) throw RuntimeFailure("cannot connect to " + where);
}

TXeloGroup& Session::AddGroup(const std::string& name, const GroupSettings& settings,
                              const std::vector<std::string>& ids) {
  // A new group starts with the defaults and goes to the server with them
  // at once; its update rate is then the server's revised rate.
  TxDefaultGroup& defaults = *server_->GetOPCGroupDefault();
  defaults.SetUpdateRate(settings.updateRate);
  defaults.SetDeadBand(settings.deadBand);
  defaults.SetIsActive(settings.active);
  TXeloGroup& group = *server_->GetOPCGroups()->Add(name);
  TXeloItems& items = *group.GetOPCItems();
  for (const std::string& id : ids) items.AddItem(id);  // batch mode: defined only
  TXeloItemList all(items);
  if (all.GetCount() > 0) items.OPCAddItems(&all, true);
  for (int i = 0; i < all.GetCount(); ++i) {
    const TXeloItem& item = *all.GetItem(i);
    if (ItemFailed(item)) context_.log.Debug("item " + item.GetItemID() + ": " + ItemErrorText(item.GetLastError()));
  }
  context_.log.Debug("group " + name + ": update rate " + std::to_string(group.GetUpdateRate()) + " ms");
  return group;
}

bool Session::Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  return Application().ProcessMessagesUntil(done, timeout);
}

bool Session::PumpUntil(const std::function<bool()>& stop,
                        std::optional<std::chrono::steady_clock::time_point> deadline) {
  using Clock = std::chrono::steady_clock;
  const auto done = [&] { return stop() || (deadline && Clock::now() >= *deadline); };
  while (!done()) {
    // The slice only bounds a wait without any message.
    auto slice = std::chrono::milliseconds(60'000);
    if (deadline) {
      slice = std::min(slice, std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()) +
                                  std::chrono::milliseconds(1));
    }
    Pump(done, slice);
  }
  return stop();
}

std::chrono::milliseconds Session::Timeout() const {
  return std::chrono::milliseconds(static_cast<long long>(context_.options.timeout * 1000.0));
}

}  // namespace xelo::cli
