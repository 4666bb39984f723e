// The OPC group object: IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO,
// IOPCAsyncIO2, IOPCAsyncIO, IConnectionPointContainer (one
// IOPCDataCallback connection) and IDataObject (the DA 1.0 streams). The
// DA 1.0 flavour answers neither IOPCAsyncIO2 nor IConnectionPointContainer.
//
// Asynchronous results and subscription updates are never delivered
// inside the client's call: completions are posted to the apartment
// scheduler (the Slow item's on a one-second scheduler timer) and
// subscriptions run on a scheduler timer at the group's update rate. Each
// delivery looks the group up by id and checks the connection at that
// moment, so nothing reaches a sink that was unadvised (or a group that is
// gone) after the call was made. The control API can ask for deliberately
// early callbacks (inside the call) and for a foreign group handle.
//
// Choices:
// - Methods with per-item results answer S_FALSE when any entry is not
//   S_OK (so OPC_S_CLAMP from Write also gives S_FALSE).
// - Async Read and Write report bad handles and missing access rights in
//   ppErrors; conversion failures of Write arrive in the completion. When
//   every item fails, the call answers S_FALSE and sends no completion.
// - Refresh2 / Refresh of an inactive group or of a group without active
//   items answer E_FAIL. SetEnable / GetEnable without a connected
//   callback answer CONNECT_E_NOCONNECTION.
// - A cache read of an inactive item or group gives the current value
//   with quality OPC_QUALITY_OUT_OF_SERVICE; a value that cannot be
//   converted to the requested type gives OPC_E_BADTYPE (in a DA 1.0
//   stream: VT_EMPTY with quality BAD).
// - Subscriptions remember what they delivered only when somebody
//   received it: a sink connected later gets the values it has not seen.
// - DA 1.0 transaction ids come from the same counter as DA 2.0 cancel
//   ids; IDataObject::GetData is not offered (E_NOTIMPL).
//
// Killed with its server (SimulationControl::KillServers), a group
// answers every method (and QueryInterface for anything but IUnknown) with
// the kill code, stops its timers and pending completions, and hands the
// sinks it held to the runtime unreleased.
//
// Main thread only; no exception leaves a COM method.
#pragma once

#include "servers/simulation/GroupItem.h"
#include "servers/simulation/GroupSettings.h"
#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/Apartment.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/ConnectionPoint.h"
#include "xelo/com/DataTransfer.h"
#include "xelo/opc/Opc.h"

#include <map>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

namespace xelo::sim {

class ServerObject;

class GroupObject final
    : public xelo::com::ComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO, IOPCAsyncIO2, IOPCAsyncIO,
                                  IConnectionPointContainer, IDataObject> {
 public:
  static constexpr DWORD kFastestRate = 100;
  // Rates below the fastest (0 = as fast as possible included) become the
  // fastest; others stay.
  static DWORD ReviseRate(DWORD requested) { return requested < kFastestRate ? kFastestRate : requested; }

  GroupObject(ServerObject* server, ServerFlavour flavour, OPCHANDLE serverHandle, const GroupSettings& settings);
  ~GroupObject() override;

  STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) override;

  // IOPCItemMgt
  STDMETHOD(AddItems)(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                      HRESULT** ppErrors) override;
  STDMETHOD(ValidateItems)(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                           OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) override;
  STDMETHOD(RemoveItems)(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override;
  STDMETHOD(SetActiveState)(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) override;
  STDMETHOD(SetClientHandles)(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) override;
  STDMETHOD(SetDatatypes)(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                          HRESULT** ppErrors) override;
  STDMETHOD(CreateEnumerator)(REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCGroupStateMgt
  STDMETHOD(GetState)(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias, FLOAT* pPercentDeadband,
                      DWORD* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override;
  STDMETHOD(SetState)(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                      FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) override;
  STDMETHOD(SetName)(LPCWSTR szName) override;
  STDMETHOD(CloneGroup)(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;

  // IOPCSyncIO
  STDMETHOD(Read)(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                  HRESULT** ppErrors) override;
  STDMETHOD(Write)(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) override;

  // IOPCAsyncIO2
  STDMETHOD(Read)(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                  HRESULT** ppErrors) override;
  STDMETHOD(Write)(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                   DWORD* pdwCancelID, HRESULT** ppErrors) override;
  STDMETHOD(Refresh2)(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) override;
  STDMETHOD(Cancel2)(DWORD dwCancelID) override;
  STDMETHOD(SetEnable)(BOOL bEnable) override;
  STDMETHOD(GetEnable)(BOOL* pbEnable) override;

  // IOPCAsyncIO (DA 1.0)
  STDMETHOD(Read)(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                  DWORD* pTransactionID, HRESULT** ppErrors) override;
  STDMETHOD(Write)(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                   DWORD* pTransactionID, HRESULT** ppErrors) override;
  STDMETHOD(Refresh)(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) override;
  STDMETHOD(Cancel)(DWORD dwTransactionID) override;

  // IConnectionPointContainer
  STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** ppEnum) override;
  STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** ppCP) override;

  // IDataObject
  STDMETHOD(GetData)(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
  STDMETHOD(GetDataHere)(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
  STDMETHOD(QueryGetData)(FORMATETC* pformatetc) override;
  STDMETHOD(GetCanonicalFormatEtc)(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
  STDMETHOD(SetData)(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
  STDMETHOD(EnumFormatEtc)(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
  STDMETHOD(DAdvise)(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
  STDMETHOD(DUnadvise)(DWORD dwConnection) override;
  STDMETHOD(EnumDAdvise)(IEnumSTATDATA** ppenumAdvise) override;

  // ---- for the server and the runtime ----
  const com::OleString& Name() const { return settings_.name; }
  OPCHANDLE ServerHandle() const { return serverHandle_; }
  ULONG References() const { return RefCount(); }
  // The group left its server's name table (or the server went away):
  // sinks are released and the back pointer forgotten.
  void Detach();
  // Delivers the subscription update due now, if any.
  void PublishChanges();
  void CopyItemsFrom(const GroupObject& other);
  // The server died; every later call answers `code`.
  void Kill(HRESULT code);

 private:
  // The start of every method: the kill code for a killed group, else the
  // call recorder's answer (Runtime().Enter).
  std::optional<HRESULT> Enter(std::string_view method, CallArguments args = {});

  enum class RequestKind { Read, Write, Refresh, DA1Read, DA1Write, DA1Refresh };
  struct Request {
    RequestKind kind = RequestKind::Read;
    DWORD transactionId = 0;
    DWORD connection = 0;  // DA 1.0 advise
    OPCDATASOURCE source = OPC_DS_DEVICE;
    std::vector<OPCHANDLE> handles;
    std::vector<OwnedVariant> values;  // writes
    xelo::com::IApartmentScheduler::TimerId slowTimer = 0;
  };
  struct Delivery {  // one item of a data callback or stream
    OPCHANDLE clientHandle;
    OwnedVariant value;
    WORD quality;
    FILETIME timestamp;
    HRESULT error;
  };

  GroupItem* FindItem(OPCHANDLE serverHandle);
  // A failure code with `item` null, or a success code with the item.
  HRESULT CheckItem(const OPCITEMDEF& def, const SimulatedItem*& item) const;
  HRESULT Validate(DWORD count, OPCITEMDEF* defs, bool add, OPCITEMRESULT** results, HRESULT** errors);
  // Per-item helper for the simple handle-based calls.
  template <class Apply>
  HRESULT ForEachHandle(DWORD count, const OPCHANDLE* handles, HRESULT** errors, Apply apply);
  Delivery ReadItem(const GroupItem& item, OPCDATASOURCE source) const;
  HRESULT WriteItem(GroupItem& item, const VARIANT& value);

  bool CallbackConnected() const;
  xelo::com::ComPtr<IOPCDataCallback> CallbackSink() const;
  OPCHANDLE CallbackGroupHandle() const;
  bool AdviseHasFormat(DWORD connection, CLIPFORMAT a, CLIPFORMAT b) const;

  // Adds the items of an asynchronous read (values null) or write to
  // `request`, answering OPC_E_BADRIGHTS per item that lacks the access;
  // `slow` tells whether any of them completes late.
  HRESULT CollectRequestItems(Request& request, DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                              HRESULT** errors, bool& slow);
  DWORD Schedule(Request request, bool slow);
  void Complete(DWORD id);
  void StopSlowTimer(Request& request);
  void DeliverData(DWORD transactionId, std::vector<Delivery>& items, bool readComplete);
  void DeliverStream(const xelo::com::DataAdviseHolder::Advise& advise, DWORD transactionId,
                     const std::vector<Delivery>& items);
  void DeliverWriteStream(const xelo::com::DataAdviseHolder::Advise& advise, DWORD transactionId,
                          const std::vector<std::pair<OPCHANDLE, HRESULT>>& results);
  // Lends `bytes` to the advise's sink in a global memory block.
  void SendStream(const xelo::com::DataAdviseHolder::Advise& advise, const std::vector<BYTE>& bytes);
  std::vector<OPCHANDLE> ActiveHandles() const;
  void RestartTimer();
  void ResetSubscription();

  ServerObject* server_;  // not owned; null once detached
  const ServerFlavour flavour_;
  const OPCHANDLE serverHandle_;
  GroupSettings settings_;
  DWORD runtimeId_ = 0;
  bool enabled_ = true;
  std::map<OPCHANDLE, GroupItem> items_;
  OPCHANDLE nextItemHandle_ = 1;
  std::map<DWORD, Request> pending_;
  DWORD nextRequestId_ = 1;
  xelo::com::IApartmentScheduler* scheduler_;
  xelo::com::IApartmentScheduler::TimerId timer_ = 0;
  xelo::com::ConnectionPointList points_;
  xelo::com::ComPtr<xelo::com::ConnectionPoint> callback_;
  xelo::com::DataAdviseHolder advises_;
  HRESULT killed_ = S_OK;
};

}  // namespace xelo::sim
