#include "xelo/core/XeloShutdownEvent.h"

#include "xelo/core/XeloConnections.h"
#include "xelo/core/XeloMessages.h"
#include "xelo/core/XeloServer.h"
#include "xelo/framework/MessageWindow.h"

namespace xelo {

com::ComPtr<TXeloShutdownEvent> TXeloShutdownEvent::Create(TXeloServer* server) {
  com::ComPtr<TXeloShutdownEvent> sink = com::MakeComObject<TXeloShutdownEvent>(server);
  const com::ComPtr<IOPCServer> opcServer = server->GetOPCServer();
  if (opcServer) {
    sink->adviseResult_ =
        ConnectAdvise(opcServer.Get(), IID_IOPCShutdown, static_cast<IOPCShutdown*>(sink.Get()), sink->cookie_);
  }
  return sink;
}

void TXeloShutdownEvent::Unsubscribe() {
  if (adviseResult_ == S_OK && server_ != nullptr && server_->Connected()) {
    ConnectUnadvise(server_->GetOPCServer().Get(), IID_IOPCShutdown, cookie_);
  }
  adviseResult_ = E_FAIL;
  server_ = nullptr;
}

HRESULT TXeloShutdownEvent::ShutdownRequest(LPCWSTR /*szReason*/) {
  // The reason is not passed on: the event reports that the server goes,
  // and the server's wording is not the application's.
  try {
    if (server_ != nullptr) PostMessage(server_->GetHandle(), CM_OPCSHUTDOWN, 0, 0);
  } catch (...) {
    // Nothing may reach the server; without a window there is no one to tell.
  }
  return S_OK;
}

}  // namespace xelo
