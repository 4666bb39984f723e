// TXeloAdviseSink: the OPC DA 1.0 sink of one group. The group's data
// object calls it with a global-memory block holding the time-stamped data
// stream; the sink decodes the block, stores the values into the items and
// posts them to the server component's window, like the OPC DA 2.0 sink.
//
// The block is untrusted input: a block that contradicts its own sizes is
// ignored as a whole (see DataStreamReader.h).
//
// Lifetime: the data object holds the sink while advised; the group holds
// it too and unadvises and detaches it when it leaves the server. A
// detached sink ignores every call. Raises nothing to the server.
// Thread: the main thread.
#pragma once

#include "xelo/com/ComObject.h"
#include "xelo/com/ComPtr.h"
#include "xelo/com/DataTransfer.h"

namespace xelo {

class TXeloGroup;

class TXeloAdviseSink : public com::ComObject<IAdviseSink> {
 public:
  // A sink for `group`, advised at the group's data object; read
  // GetAdviseResult() to learn whether the advise was made.
  static com::ComPtr<TXeloAdviseSink> Create(TXeloGroup* group);

  HRESULT GetAdviseResult() const { return adviseResult_; }
  // The connection number, also the connection of the group's OPC DA 1.0
  // asynchronous calls.
  DWORD GetCookie() const { return cookie_; }
  // Ends the advise (once; later calls do nothing).
  void UnAdvise();
  // From now on every call is ignored.
  void Detach() { group_ = nullptr; }

  STDMETHOD_(void, OnDataChange)(FORMATETC* pFormatetc, STGMEDIUM* pStgmed) override;
  STDMETHOD_(void, OnViewChange)(DWORD /*dwAspect*/, LONG /*lindex*/) override {}
  STDMETHOD_(void, OnRename)(IMoniker* /*pmk*/) override {}
  STDMETHOD_(void, OnSave)() override {}
  STDMETHOD_(void, OnClose)() override {}

 private:
  explicit TXeloAdviseSink(TXeloGroup* group) : group_(group) {}
  template <class Object, class... Args>
  friend com::ComPtr<Object> com::MakeComObject(Args&&... args);

  void Receive(const std::uint8_t* data, std::size_t size, bool withTimeStamps);

  TXeloGroup* group_;
  DWORD cookie_ = 0;
  HRESULT adviseResult_ = E_FAIL;
};

}  // namespace xelo
