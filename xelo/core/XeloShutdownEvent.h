// TXeloShutdownEvent: the sink through which a server asks its clients to
// disconnect. It only posts CM_OPCSHUTDOWN to the server component's
// window; the component's handler tells the application and deactivates.
//
// Lifetime: the server component creates it at activation and, while it
// still holds the server, cancels the subscription and detaches it before
// letting go; a detached sink ignores the server, so a late call never
// reaches a destroyed component. Answers S_OK and raises nothing.
// Thread: the main thread.
#pragma once

#include "xelo/com/ComObject.h"
#include "xelo/com/ComPtr.h"
#include "xelo/opc/OpcComn.h"

namespace xelo {

class TXeloServer;

class TXeloShutdownEvent : public com::ComObject<IOPCShutdown> {
 public:
  // A sink for `server`, subscribed at its server's connection point when
  // the server offers one; failures are not reported.
  static com::ComPtr<TXeloShutdownEvent> Create(TXeloServer* server);

  HRESULT GetAdviseResult() const { return adviseResult_; }
  // Cancels the subscription through the component's server reference
  // (once) and ignores the server from now on.
  void Unsubscribe();

  STDMETHOD(ShutdownRequest)(LPCWSTR szReason) override;

 private:
  explicit TXeloShutdownEvent(TXeloServer* server) : server_(server) {}
  template <class Object, class... Args>
  friend com::ComPtr<Object> com::MakeComObject(Args&&... args);

  TXeloServer* server_;
  DWORD cookie_ = 0;
  HRESULT adviseResult_ = E_FAIL;
};

}  // namespace xelo
