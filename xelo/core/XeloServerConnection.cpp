// The connection watch of TXeloServer: the keep-alive, the handling of a
// lost connection and the automatic reconnection (XeloServer.h says what
// the application sees).
//
// Everything runs on the component's hidden window: its timers tick as
// WM_TIMER, and a loss noticed inside some call is posted as
// CM_OPCCONNECTIONLOST, so that the references to the dead server are
// never let go while a method of one of them is still on the stack.
#include "xelo/com/HResult.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloGroups.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloItems.h"
#include "xelo/core/XeloMessages.h"
#include "xelo/core/XeloServer.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/MessageWindow.h"

#include <algorithm>
#include <string>

namespace xelo {

namespace {

// The timers of the hidden window.
constexpr UINT_PTR kKeepAliveTimer = 1;
constexpr UINT_PTR kReconnectTimer = 2;

void CheckWatchInterval(const char* property, std::int64_t value, std::int64_t lowest) {
  if (value < lowest || value > kMaxWatchInterval) {
    throw EPropertyError("Value " + std::to_string(value) + " is out of range for property " + property + " (" +
                         std::to_string(lowest) + ".." + std::to_string(kMaxWatchInterval) + " milliseconds)");
  }
}

}  // namespace

// ---- properties ------------------------------------------------------------

void TXeloServer::CheckKeepAlive(std::int64_t value) { CheckWatchInterval("KeepAlive", value, 0); }
void TXeloServer::CheckReconnectInterval(std::int64_t value) { CheckWatchInterval("ReconnectInterval", value, 1); }
void TXeloServer::CheckReconnectMaxInterval(std::int64_t value) {
  CheckWatchInterval("ReconnectMaxInterval", value, 1);
}

void TXeloServer::SetKeepAlive(std::int32_t value) {
  CheckKeepAlive(value);
  keepAlive_ = value;
  if (server_ && !connectionLost_) StartKeepAlive();
}

void TXeloServer::SetAutoReconnect(bool value) {
  autoReconnect_ = value;
  if (!connectionLost_ || server_) return;  // not lost, or the loss is not handled yet
  if (!value) {
    if (window_ != nullptr) KillTimer(window_, kReconnectTimer);
    reconnectDelay_ = 0;
  } else if (reconnectDelay_ == 0 && active_) {
    ScheduleReconnect(reconnectInterval_);
  }
}

void TXeloServer::SetReconnectInterval(std::int32_t value) {
  CheckReconnectInterval(value);
  reconnectInterval_ = value;
}

void TXeloServer::SetReconnectMaxInterval(std::int32_t value) {
  CheckReconnectMaxInterval(value);
  reconnectMaxInterval_ = value;
}

// ---- noticing the loss -------------------------------------------------------

void TXeloServer::NoteCallResult(HRESULT hr) {
  if (Watched() && IsConnectionFailure(hr)) MarkConnectionLost(hr);
}

void TXeloServer::MarkConnectionLost(HRESULT hr) {
  // Only a connection in use can be lost, and only once.
  if (!active_ || !server_ || connectionLost_) return;
  connectionLost_ = true;
  lostError_ = hr;
  // From here on reads and writes fail at once, before the dead server is
  // let go.
  PostMessage(GetHandle(), CM_OPCCONNECTIONLOST, 0, 0);
}

void TXeloServer::StartKeepAlive() {
  if (keepAlive_ > 0) {
    SetTimer(GetHandle(), kKeepAliveTimer, static_cast<UINT>(keepAlive_));
  } else if (window_ != nullptr) {
    KillTimer(window_, kKeepAliveTimer);
  }
}

void TXeloServer::StopWatch() {
  // Never creates the window: the destructor gets here after it went.
  if (window_ != nullptr) {
    KillTimer(window_, kKeepAliveTimer);
    KillTimer(window_, kReconnectTimer);
  }
  reconnectDelay_ = 0;
}

void TXeloServer::OnWatchTimer(UINT_PTR id) {
  if (id == kKeepAliveTimer) KeepAliveTick();
  if (id == kReconnectTimer) ReconnectTick();
}

void TXeloServer::KeepAliveTick() {
  if (!server_ || connectionLost_) return;
  OPCSERVERSTATUS* status = nullptr;
  const HRESULT hr = server_->GetStatus(&status);
  const bool answered = SUCCEEDED(hr) && status != nullptr;
  if (status != nullptr) {
    ::CoTaskMemFree(status->szVendorInfo);
    ::CoTaskMemFree(status);
  }
  // Any failure counts here: a server that cannot say how it is doing is
  // of no use, whatever code it gives.
  if (!answered) MarkConnectionLost(FAILED(hr) ? hr : E_FAIL);
}

// ---- the loss ----------------------------------------------------------------

void TXeloServer::DropServerInterface() {
  // The server reference goes first, so that nothing below can reach the
  // dead server through it (the shutdown sink would cancel its
  // subscription); it is released last.
  const com::ComPtr<IOPCServer> dead = std::move(server_);
  server_ = nullptr;
  ReleaseShutdownSink();
  common_ = nullptr;
  itemProps_ = nullptr;
  opcGroups_->AbandonAllOPCGroups();
  UnbindBrowser();
}

void TXeloServer::CMOPCConnectionLost(TMessage& /*Message*/) {
  // A deactivation, or an earlier message, may have dealt with it already.
  if (!connectionLost_ || !active_ || !server_) return;
  StopWatch();
  DropServerInterface();
  TXeloItemList items;
  for (int g = 0; g < opcGroups_->GetCount(); ++g) {
    const TXeloItems& groupItems = *opcGroups_->GetItem(g)->GetOPCItems();
    for (int i = 0; i < groupItems.GetCount(); ++i) {
      TXeloItem* item = groupItems.GetItem(i);
      item->StoreQuality(OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE);
      items.Add(item);
    }
  }
  // Scheduled before the events, so that a handler that deactivates the
  // component stops the attempts like any other deactivation.
  if (autoReconnect_) ScheduleReconnect(reconnectInterval_);
  const HRESULT error = lostError_;
  if (onConnectionLost_) onConnectionLost_(this, error, com::SystemMessageText(error));
  if (items.GetCount() > 0 && onDatachange_) onDatachange_(this, &items);
}

// ---- coming back -------------------------------------------------------------

void TXeloServer::ScheduleReconnect(std::int32_t delay) {
  reconnectDelay_ = delay;
  SetTimer(GetHandle(), kReconnectTimer, static_cast<UINT>(delay));
}

void TXeloServer::ReconnectTick() {
  if (window_ != nullptr) KillTimer(window_, kReconnectTimer);
  if (!active_ || !connectionLost_ || !autoReconnect_ || reconnectDelay_ == 0) return;
  bool connected = false;
  try {
    connected = OpenConnection();
  } catch (const std::exception&) {
    // A server that cannot be created, or that fails while its groups are
    // made, is not back yet: try again later.
  }
  if (!active_ || !connectionLost_) return;  // a handler inside the attempt deactivated
  if (!connected) {
    if (window_ != nullptr) KillTimer(window_, kKeepAliveTimer);  // started by the attempt
    DropServerInterface();
    // The longer the server stays away, the less often it is asked.
    const std::int32_t bound = std::max(reconnectInterval_, reconnectMaxInterval_);
    const std::int64_t doubled = static_cast<std::int64_t>(reconnectDelay_) * 2;
    ScheduleReconnect(static_cast<std::int32_t>(std::min<std::int64_t>(doubled, bound)));
    return;
  }
  connectionLost_ = false;
  lostError_ = S_OK;
  reconnectDelay_ = 0;
  if (onReconnect_) onReconnect_(this);
}

}  // namespace xelo
