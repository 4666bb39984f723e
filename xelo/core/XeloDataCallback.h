// TXeloDataCallback: the OPC DA 2.0 sink of one group. The server calls it
// with data changes and with the completions of asynchronous reads, writes
// and cancellations.
//
// The sink never runs application code inside the server's call: it writes
// value, quality, time stamp and error into the items, forgets the group's
// pending transaction when it completed, and posts the items concerned to
// the server component's window, whose handler fires the event later.
//
// Lifetime: the connection point holds the sink; the group holds it too
// and detaches it when it leaves the server or is destroyed. A detached
// sink ignores every call, so a server that calls or releases it late
// never reaches a destroyed group or item. Item handles that no longer
// name a live item of the group are skipped.
//
// Every method answers S_OK and raises nothing to the server.
// Thread: the main thread.
#pragma once

#include "xelo/com/ComObject.h"
#include "xelo/com/ComPtr.h"
#include "xelo/opc/OpcDa.h"

namespace xelo {

class TXeloGroup;
class TXeloItem;

class TXeloDataCallback : public com::ComObject<IOPCDataCallback> {
 public:
  // A sink for `group`, subscribed at the group's connection point; read
  // GetAdviseResult() to learn whether the subscription was made.
  static com::ComPtr<TXeloDataCallback> Create(TXeloGroup* group);

  HRESULT GetAdviseResult() const { return adviseResult_; }
  DWORD GetCookie() const { return cookie_; }
  TXeloGroup* GetGroup() const { return group_; }
  // From now on every call is ignored.
  void Detach() { group_ = nullptr; }
  // Forgets the group's pending call when `transactionId` completed it.
  void ClearTaskId(DWORD transactionId);

  STDMETHOD(OnDataChange)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                          DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                          FILETIME* pftTimeStamps, HRESULT* pErrors) override;
  STDMETHOD(OnReadComplete)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMasterquality, HRESULT hrMastererror,
                            DWORD dwCount, OPCHANDLE* phClientItems, VARIANT* pvValues, WORD* pwQualities,
                            FILETIME* pftTimeStamps, HRESULT* pErrors) override;
  STDMETHOD(OnWriteComplete)(DWORD dwTransid, OPCHANDLE hGroup, HRESULT hrMastererr, DWORD dwCount,
                             OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
  STDMETHOD(OnCancelComplete)(DWORD dwTransid, OPCHANDLE hGroup) override;

 private:
  explicit TXeloDataCallback(TXeloGroup* group) : group_(group) {}
  template <class Object, class... Args>
  friend com::ComPtr<Object> com::MakeComObject(Args&&... args);

  // The live item of this group that `handle` names, or null.
  TXeloItem* ItemOf(OPCHANDLE handle) const;
  bool IsOurGroup(OPCHANDLE hGroup) const;
  // Stores what the server reported for one item; one value that cannot be
  // copied marks that item bad with the reason in LastError and costs the
  // other items nothing.
  // A server time stamp converted to local time and to UTC.
  struct Stamp {
    double local = 0.0;
    double utc = 0.0;
  };
  static void StoreValue(TXeloItem& item, const VARIANT& value, WORD quality, Stamp timeStamp, HRESULT error);
  static void MarkUnreadable(TXeloItem& item, HRESULT error, Stamp timeStamp) noexcept;

  TXeloGroup* group_;
  DWORD cookie_ = 0;
  HRESULT adviseResult_ = E_FAIL;
};

}  // namespace xelo
