#include "servers/simulation/GroupObject.h"

#include "servers/simulation/ComGuard.h"
#include "servers/simulation/ItemAttributesEnumerator.h"
#include "servers/simulation/LoanCheck.h"
#include "servers/simulation/ServerObject.h"
#include "servers/simulation/SimulationRuntime.h"
#include "servers/simulation/StreamWriter.h"
#include "servers/simulation/TaskArray.h"
#include "servers/simulation/TypeConversion.h"

#include <cmath>
#include <memory>

namespace xelo::sim {
namespace {

using xelo::com::ComPtr;

constexpr std::chrono::milliseconds kSlowDelay{1000};

SimulationRuntime& Runtime() { return SimulationRuntime::Instance(); }

// Scheduled work runs from the message pump, after the client's call has
// returned: by now it must have freed what that call handed it.
void OwnershipCheckpoint() { OwnershipLedger::Instance().Checkpoint(); }

com::OleString Text(const OLECHAR* text) { return text != nullptr ? com::OleString(text) : com::OleString(); }

bool ValidSource(OPCDATASOURCE source) { return source == OPC_DS_CACHE || source == OPC_DS_DEVICE; }

std::vector<FORMATETC> OfferedFormats() {
  OPCDARegisterClipboardFormats();
  std::vector<FORMATETC> formats;
  for (const CLIPFORMAT format : {OPCSTMFORMATDATATIME, OPCSTMFORMATDATA, OPCSTMFORMATWRITECOMPLETE}) {
    formats.push_back(FORMATETC{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
  }
  return formats;
}

CallArguments HandleArgs(DWORD count) { return CallArguments().Set(&CallArguments::count, count); }

}  // namespace

GroupObject::GroupObject(ServerObject* server, ServerFlavour flavour, OPCHANDLE serverHandle,
                         const GroupSettings& settings)
    : server_(server),
      flavour_(flavour),
      serverHandle_(serverHandle),
      settings_(settings),
      scheduler_(&xelo::com::Scheduler()),
      points_(static_cast<IConnectionPointContainer*>(this)),
      advises_(OfferedFormats()) {
  callback_ = points_.Add(IID_IOPCDataCallback, 1);
  runtimeId_ = Runtime().AddGroup(this);
  RestartTimer();
}

GroupObject::~GroupObject() {
  points_.DetachAll();
  advises_.Clear();
  if (timer_ != 0) scheduler_->StopTimer(timer_);
  for (auto& [id, request] : pending_) StopSlowTimer(request);
  Runtime().RemoveGroup(runtimeId_);
}

HRESULT GroupObject::QueryInterface(REFIID riid, void** ppvObject) {
  if (FAILED(killed_) && !(riid == IID_IUnknown)) {
    // Only what the client's side answers by itself still works.
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    Runtime().NoteKilledCall();
    return killed_;
  }
  if (flavour_ == ServerFlavour::DA1Only && (riid == IID_IConnectionPointContainer || riid == IID_IOPCAsyncIO2)) {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    return E_NOINTERFACE;
  }
  return ComObject::QueryInterface(riid, ppvObject);
}

// ---- helpers ----

std::optional<HRESULT> GroupObject::Enter(std::string_view method, CallArguments args) {
  if (FAILED(killed_)) {
    Runtime().NoteKilledCall();
    return killed_;
  }
  return Runtime().Enter(method, std::move(args));
}

void GroupObject::Kill(HRESULT code) {
  killed_ = code;
  // Nothing of a dead server reaches its clients any more.
  if (timer_ != 0) scheduler_->StopTimer(timer_);
  timer_ = 0;
  for (auto& [id, request] : pending_) StopSlowTimer(request);
  pending_.clear();
  Runtime().Abandon(callback_->TakeSinks());
  std::vector<ComPtr<IUnknown>> streams;
  for (auto& sink : advises_.TakeSinks()) streams.push_back(ComPtr<IUnknown>::Attach(sink.Detach()));
  Runtime().Abandon(std::move(streams));
}

void GroupObject::Detach() {
  server_ = nullptr;
  callback_->DisconnectAll();
  advises_.Clear();
}

void GroupObject::RestartTimer() {
  if (timer_ != 0) scheduler_->StopTimer(timer_);
  timer_ = scheduler_->StartTimer(std::chrono::milliseconds(settings_.updateRate), [this] {
    // A sink may release the last reference while we call it.
    ComPtr<GroupObject> keep(this);
    OwnershipCheckpoint();
    PublishChanges();
  });
}

void GroupObject::ResetSubscription() {
  for (auto& [handle, item] : items_) item.sent = false;
}

GroupItem* GroupObject::FindItem(OPCHANDLE serverHandle) {
  const auto it = items_.find(serverHandle);
  return it != items_.end() ? &it->second : nullptr;
}

bool GroupObject::CallbackConnected() const {
  return flavour_ != ServerFlavour::DA1Only && callback_->ConnectionCount() > 0;
}

ComPtr<IOPCDataCallback> GroupObject::CallbackSink() const {
  if (flavour_ == ServerFlavour::DA1Only) return {};
  auto sinks = callback_->Sinks<IOPCDataCallback>();
  return sinks.empty() ? ComPtr<IOPCDataCallback>() : sinks.front();
}

OPCHANDLE GroupObject::CallbackGroupHandle() const {
  const auto& foreign = Runtime().Behaviour().foreignGroupHandle;
  return foreign ? *foreign : settings_.clientHandle;
}

bool GroupObject::AdviseHasFormat(DWORD connection, CLIPFORMAT a, CLIPFORMAT b) const {
  for (const auto& advise : advises_.Advises()) {
    if (advise.connection == connection) return advise.format.cfFormat == a || advise.format.cfFormat == b;
  }
  return false;
}

std::vector<OPCHANDLE> GroupObject::ActiveHandles() const {
  std::vector<OPCHANDLE> handles;
  for (const auto& [handle, item] : items_) {
    if (item.active) handles.push_back(handle);
  }
  return handles;
}

void GroupObject::CopyItemsFrom(const GroupObject& other) {
  items_ = other.items_;
  nextItemHandle_ = other.nextItemHandle_;
  ResetSubscription();
}

GroupObject::Delivery GroupObject::ReadItem(const GroupItem& item, OPCDATASOURCE source) const {
  const SimulatedItem& simulated = *item.item;
  Delivery d{item.clientHandle, {}, simulated.quality, simulated.timestamp, S_OK};
  if (source == OPC_DS_CACHE && (!settings_.active || !item.active)) d.quality = OPC_QUALITY_OUT_OF_SERVICE;
  if (FAILED(simulated.value.ConvertTo(item.requestedType, d.value))) {
    d.value = OwnedVariant();
    d.quality = OPC_QUALITY_BAD;
    d.error = OPC_E_BADTYPE;
  }
  return d;
}

HRESULT GroupObject::WriteItem(GroupItem& item, const VARIANT& value) {
  if ((item.item->def.access & OPC_WRITEABLE) == 0) return OPC_E_BADRIGHTS;
  return Runtime().Space().Write(*item.item, value);
}

template <class Apply>
HRESULT GroupObject::ForEachHandle(DWORD count, const OPCHANDLE* handles, HRESULT** errors, Apply apply) {
  if (errors != nullptr) *errors = nullptr;
  if (count == 0 || handles == nullptr || errors == nullptr) return E_INVALIDARG;
  TaskArray<HRESULT> results(count);
  bool allOk = true;
  for (DWORD i = 0; i < count; ++i) {
    GroupItem* item = FindItem(handles[i]);
    results[i] = item != nullptr ? apply(*item, i) : OPC_E_INVALIDHANDLE;
    if (results[i] != S_OK) allOk = false;
  }
  *errors = results.Release("ppErrors");
  return allOk ? S_OK : S_FALSE;
}

// ---- IOPCItemMgt ----

HRESULT GroupObject::CheckItem(const OPCITEMDEF& def, const SimulatedItem*& item) const {
  item = nullptr;
  const com::OleString id = Text(def.szItemID);
  // Only a failure refuses: whatever succeeds here must come with its item.
  const auto& refused = Runtime().Behaviour().refusedItems;
  if (const auto it = refused.find(id); it != refused.end() && FAILED(it->second)) return it->second;
  if (FAILED(AddressSpace::CheckSyntax(id))) return OPC_E_INVALIDITEMID;
  if (def.szAccessPath != nullptr && def.szAccessPath[0] != 0) return OPC_E_UNKNOWNPATH;
  item = Runtime().Space().Find(id);
  if (item == nullptr) return OPC_E_UNKNOWNITEMID;
  if (!TypeConversion::Convertible(item->def.type, def.vtRequestedDataType)) return OPC_E_BADTYPE;
  return S_OK;
}

HRESULT GroupObject::Validate(DWORD count, OPCITEMDEF* defs, bool add, OPCITEMRESULT** results, HRESULT** errors) {
  if (count == 0 || defs == nullptr || results == nullptr || errors == nullptr) return E_INVALIDARG;
  TaskArray<OPCITEMRESULT> out(count);
  TaskArray<HRESULT> codes(count);
  bool allOk = true;
  for (DWORD i = 0; i < count; ++i) {
    const SimulatedItem* item = nullptr;
    codes[i] = CheckItem(defs[i], item);
    if (FAILED(codes[i])) {
      allOk = false;
      continue;
    }
    out[i].vtCanonicalDataType = item->def.type;
    out[i].dwAccessRights = item->def.access;
    if (add) {
      GroupItem entry;
      entry.serverHandle = nextItemHandle_++;
      entry.clientHandle = defs[i].hClient;
      entry.active = defs[i].bActive != FALSE;
      entry.requestedType = defs[i].vtRequestedDataType;
      entry.item = const_cast<SimulatedItem*>(item);
      out[i].hServer = entry.serverHandle;
      items_.emplace(entry.serverHandle, std::move(entry));
    }
  }
  *results = out.Release(add ? "ppAddResults" : "ppValidationResults");
  *errors = codes.Release("ppErrors");
  return allOk ? S_OK : S_FALSE;
}

HRESULT GroupObject::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                              HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppAddResults != nullptr) *ppAddResults = nullptr;
    if (ppErrors != nullptr) *ppErrors = nullptr;
    CallArguments args = CallArguments().Set(&CallArguments::count, dwCount);
    for (DWORD i = 0; pItemArray != nullptr && i < dwCount; ++i) {
      args.itemIds.push_back(Text(pItemArray[i].szItemID));
      args.requestedTypes.push_back(pItemArray[i].vtRequestedDataType);
    }
    if (auto injected = Enter("IOPCItemMgt::AddItems", std::move(args))) return *injected;
    return Validate(dwCount, pItemArray, true, ppAddResults, ppErrors);
  });
}

HRESULT GroupObject::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                   OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppValidationResults != nullptr) *ppValidationResults = nullptr;
    if (ppErrors != nullptr) *ppErrors = nullptr;
    CallArguments args = CallArguments().Set(&CallArguments::flag, bBlobUpdate).Set(&CallArguments::count, dwCount);
    for (DWORD i = 0; pItemArray != nullptr && i < dwCount; ++i) {
      args.itemIds.push_back(Text(pItemArray[i].szItemID));
      args.requestedTypes.push_back(pItemArray[i].vtRequestedDataType);
    }
    if (auto injected = Enter("IOPCItemMgt::ValidateItems", std::move(args))) return *injected;
    return Validate(dwCount, pItemArray, false, ppValidationResults, ppErrors);
  });
}

HRESULT GroupObject::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    if (auto injected = Enter("IOPCItemMgt::RemoveItems", HandleArgs(dwCount))) return *injected;
    const HRESULT hr = ForEachHandle(dwCount, phServer, ppErrors, [&](GroupItem& item, DWORD) {
      items_.erase(item.serverHandle);
      return S_OK;
    });
    if (SUCCEEDED(hr) && Runtime().Behaviour().removeItemsWithoutErrors) {
      // A deliberately broken server: success without the error array.
      CoTaskMemFree(*ppErrors);
      *ppErrors = nullptr;
      return S_OK;
    }
    return hr;
  });
}

HRESULT GroupObject::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    CallArguments args = HandleArgs(dwCount);
    args.flag = bActive;
    if (auto injected = Enter("IOPCItemMgt::SetActiveState", std::move(args))) return *injected;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](GroupItem& item, DWORD) {
      const bool active = bActive != FALSE;
      if (active && !item.active) item.sent = false;  // its first value goes out again
      item.active = active;
      return S_OK;
    });
  });
}

HRESULT GroupObject::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    if (auto injected = Enter("IOPCItemMgt::SetClientHandles", HandleArgs(dwCount))) return *injected;
    if (phClient == nullptr) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](GroupItem& item, DWORD i) {
      item.clientHandle = phClient[i];
      return S_OK;
    });
  });
}

HRESULT GroupObject::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                  HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    CallArguments args = HandleArgs(dwCount);
    if (pRequestedDatatypes != nullptr) args.requestedTypes.assign(pRequestedDatatypes, pRequestedDatatypes + dwCount);
    if (auto injected = Enter("IOPCItemMgt::SetDatatypes", std::move(args))) return *injected;
    if (pRequestedDatatypes == nullptr) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors, [&](GroupItem& item, DWORD i) -> HRESULT {
      if (!TypeConversion::Convertible(item.item->def.type, pRequestedDatatypes[i])) return OPC_E_BADTYPE;
      if (item.requestedType != pRequestedDatatypes[i]) item.sent = false;
      item.requestedType = pRequestedDatatypes[i];
      return S_OK;
    });
  });
}

HRESULT GroupObject::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
  return Guarded([&]() -> HRESULT {
    if (ppUnk != nullptr) *ppUnk = nullptr;
    if (auto injected = Enter("IOPCItemMgt::CreateEnumerator")) return *injected;
    if (ppUnk == nullptr) return E_INVALIDARG;
    if (!(riid == IID_IEnumOPCItemAttributes)) return E_NOINTERFACE;
    std::vector<GroupItem> snapshot;
    for (const auto& [handle, item] : items_) snapshot.push_back(item);
    const bool empty = snapshot.empty();
    auto enumerator = xelo::com::MakeComObject<ItemAttributesEnumerator>(
        std::make_shared<const std::vector<GroupItem>>(std::move(snapshot)));
    *ppUnk = static_cast<IEnumOPCItemAttributes*>(enumerator.Detach());
    return empty ? S_FALSE : S_OK;
  });
}

// ---- IOPCGroupStateMgt ----

HRESULT GroupObject::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                              FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                              OPCHANDLE* phServerGroup) {
  return Guarded([&]() -> HRESULT {
    if (ppName != nullptr) *ppName = nullptr;
    if (auto injected = Enter("IOPCGroupStateMgt::GetState")) return *injected;
    if (pUpdateRate == nullptr || pActive == nullptr || ppName == nullptr || pTimeBias == nullptr ||
        pPercentDeadband == nullptr || pLCID == nullptr || phClientGroup == nullptr || phServerGroup == nullptr) {
      return E_INVALIDARG;
    }
    *ppName = HandOver(TaskString(settings_.name), "*ppName");
    *pUpdateRate = settings_.updateRate;
    *pActive = settings_.active ? TRUE : FALSE;
    *pTimeBias = settings_.timeBias;
    *pPercentDeadband = settings_.percentDeadband;
    *pLCID = settings_.lcid;
    *phClientGroup = settings_.clientHandle;
    *phServerGroup = serverHandle_;
    return S_OK;
  });
}

HRESULT GroupObject::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                              LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) {
  return Guarded([&]() -> HRESULT {
    CallArguments args;
    if (pRequestedUpdateRate != nullptr) args.requestedRate = *pRequestedUpdateRate;
    if (pActive != nullptr) args.flag = *pActive;
    if (pLCID != nullptr) args.locale = *pLCID;
    if (auto injected = Enter("IOPCGroupStateMgt::SetState", std::move(args))) return *injected;
    if (pRevisedUpdateRate == nullptr) return E_INVALIDARG;
    if (pPercentDeadband != nullptr && !(*pPercentDeadband >= 0.0f && *pPercentDeadband <= 100.0f)) {
      return E_INVALIDARG;
    }
    HRESULT result = S_OK;
    if (pRequestedUpdateRate != nullptr) {
      const DWORD revised = ReviseRate(*pRequestedUpdateRate);
      if (revised != *pRequestedUpdateRate) result = OPC_S_UNSUPPORTEDRATE;
      if (revised != settings_.updateRate) {
        settings_.updateRate = revised;
        RestartTimer();
      }
    }
    *pRevisedUpdateRate = settings_.updateRate;
    if (pActive != nullptr) {
      const bool active = *pActive != FALSE;
      if (active && !settings_.active) ResetSubscription();  // activation sends every active item
      settings_.active = active;
    }
    if (pTimeBias != nullptr) settings_.timeBias = *pTimeBias;
    if (pPercentDeadband != nullptr) settings_.percentDeadband = *pPercentDeadband;
    if (pLCID != nullptr) settings_.lcid = *pLCID;
    if (phClientGroup != nullptr) settings_.clientHandle = *phClientGroup;
    return result;
  });
}

HRESULT GroupObject::SetName(LPCWSTR szName) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCGroupStateMgt::SetName", CallArguments().Set(&CallArguments::text, Text(szName)))) return *injected;
    if (szName == nullptr || szName[0] == 0) return E_INVALIDARG;
    if (settings_.name == szName) return S_OK;
    if (server_ != nullptr && server_->NameInUse(szName)) return OPC_E_DUPLICATENAME;
    settings_.name = szName;
    return S_OK;
  });
}

HRESULT GroupObject::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  return Guarded([&]() -> HRESULT {
    if (ppUnk != nullptr) *ppUnk = nullptr;
    if (auto injected = Enter("IOPCGroupStateMgt::CloneGroup", CallArguments().Set(&CallArguments::text, Text(szName)))) return *injected;
    if (ppUnk == nullptr) return E_INVALIDARG;
    if (server_ == nullptr) return E_FAIL;  // removed from its server
    GroupSettings settings = settings_;
    settings.name = Text(szName);
    if (settings.name.empty()) {
      settings.name = server_->UniqueGroupName();
    } else if (server_->NameInUse(settings.name)) {
      return OPC_E_DUPLICATENAME;
    }
    settings.active = false;  // a clone starts inactive
    ServerObject* server = server_;
    ComPtr<GroupObject> clone = server->CreateGroup(settings);
    clone->CopyItemsFrom(*this);
    const HRESULT hr = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(hr)) server->RemoveGroup(clone->ServerHandle(), TRUE);
    return hr;
  });
}

// ---- IOPCSyncIO ----

HRESULT GroupObject::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                          HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppItemValues != nullptr) *ppItemValues = nullptr;
    if (ppErrors != nullptr) *ppErrors = nullptr;
    CallArguments args = HandleArgs(dwCount);
    args.dataSource = dwSource;
    if (auto injected = Enter("IOPCSyncIO::Read", std::move(args))) return *injected;
    if (!ValidSource(dwSource) || dwCount == 0 || phServer == nullptr || ppItemValues == nullptr ||
        ppErrors == nullptr) {
      return E_INVALIDARG;
    }
    TaskArray<OPCITEMSTATE> states(dwCount);
    TaskArray<HRESULT> errors(dwCount);
    bool allOk = true;
    for (DWORD i = 0; i < dwCount; ++i) {
      const GroupItem* item = FindItem(phServer[i]);
      if (item == nullptr) {
        errors[i] = OPC_E_INVALIDHANDLE;
      } else if ((item->item->def.access & OPC_READABLE) == 0) {
        errors[i] = OPC_E_BADRIGHTS;
        states[i].hClient = item->clientHandle;
      } else {
        Delivery d = ReadItem(*item, dwSource);
        states[i].hClient = d.clientHandle;
        states[i].ftTimeStamp = d.timestamp;
        states[i].wQuality = d.quality;
        if (FAILED(d.value.CopyTo(&states[i].vDataValue))) throw std::bad_alloc();
        errors[i] = d.error;
      }
      if (errors[i] != S_OK) allOk = false;
    }
    *ppItemValues = states.Release("ppItemValues");
    *ppErrors = errors.Release("ppErrors");
    return allOk ? S_OK : S_FALSE;
  });
}

HRESULT GroupObject::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    if (auto injected = Enter("IOPCSyncIO::Write", HandleArgs(dwCount))) return *injected;
    if (pItemValues == nullptr) return E_INVALIDARG;
    return ForEachHandle(dwCount, phServer, ppErrors,
                         [&](GroupItem& item, DWORD i) { return WriteItem(item, pItemValues[i]); });
  });
}

// ---- asynchronous requests ----

HRESULT GroupObject::CollectRequestItems(Request& request, DWORD count, const OPCHANDLE* handles,
                                         const VARIANT* values, HRESULT** errors, bool& slow) {
  const DWORD access = values == nullptr ? OPC_READABLE : OPC_WRITEABLE;
  return ForEachHandle(count, handles, errors, [&](GroupItem& item, DWORD i) -> HRESULT {
    if ((item.item->def.access & access) == 0) return OPC_E_BADRIGHTS;
    request.handles.push_back(item.serverHandle);
    if (values != nullptr) request.values.emplace_back(values[i]);
    slow = slow || item.item->def.slow;
    return S_OK;
  });
}

DWORD GroupObject::Schedule(Request request, bool slow) {
  const DWORD id = nextRequestId_++;
  if (nextRequestId_ == 0) nextRequestId_ = 1;
  const DWORD groupId = runtimeId_;
  auto deliver = [groupId, id] {
    OwnershipCheckpoint();
    if (GroupObject* group = Runtime().FindGroup(groupId)) {
      ComPtr<GroupObject> keep(group);
      group->Complete(id);
    }
  };
  Request& stored = pending_.emplace(id, std::move(request)).first->second;
  if (Runtime().Behaviour().earlyCallbacks) {
    // Deliberately wrong: the result reaches the client inside its call.
    Complete(id);
    return id;
  }
  if (slow) {
    xelo::com::IApartmentScheduler* scheduler = scheduler_;
    auto timer = std::make_shared<xelo::com::IApartmentScheduler::TimerId>(0);
    *timer = scheduler->StartTimer(kSlowDelay, [scheduler, timer, deliver] {
      const auto self = *timer;
      const auto run = deliver;  // our own closure dies with the timer
      scheduler->StopTimer(self);
      run();
    });
    stored.slowTimer = *timer;
  } else {
    xelo::com::Scheduler().Post(deliver);
  }
  return id;
}

void GroupObject::StopSlowTimer(Request& request) {
  if (request.slowTimer != 0) scheduler_->StopTimer(request.slowTimer);
  request.slowTimer = 0;
}

void GroupObject::Complete(DWORD id) {
  const auto it = pending_.find(id);
  if (it == pending_.end()) return;  // cancelled
  Request request = std::move(it->second);
  pending_.erase(it);
  // The timer (if any) has fired and stopped itself.
  request.slowTimer = 0;
  switch (request.kind) {
    case RequestKind::Read:
    case RequestKind::Refresh: {
      std::vector<Delivery> items;
      for (const OPCHANDLE handle : request.handles) {
        if (const GroupItem* item = FindItem(handle)) items.push_back(ReadItem(*item, request.source));
      }
      DeliverData(request.transactionId, items, request.kind == RequestKind::Read);
      break;
    }
    case RequestKind::Write: {
      std::vector<OPCHANDLE> clients;
      std::vector<HRESULT> errors;
      for (std::size_t i = 0; i < request.handles.size(); ++i) {
        GroupItem* item = FindItem(request.handles[i]);
        if (item == nullptr) continue;
        clients.push_back(item->clientHandle);
        errors.push_back(WriteItem(*item, request.values[i].Get()));
      }
      ComPtr<IOPCDataCallback> sink = CallbackSink();
      if (!sink) return;
      bool allOk = true;
      for (const HRESULT e : errors) allOk = allOk && e == S_OK;
      LoanCheck loan("IOPCDataCallback::OnWriteComplete");
      loan.Lend("pClienthandles", clients.data(), clients.size());
      loan.Lend("pErrors", errors.data(), errors.size());
      sink->OnWriteComplete(request.transactionId, CallbackGroupHandle(), allOk ? S_OK : S_FALSE,
                            static_cast<DWORD>(clients.size()), clients.data(), errors.data());
      loan.Verify();
      break;
    }
    case RequestKind::DA1Read:
    case RequestKind::DA1Refresh: {
      std::vector<Delivery> items;
      for (const OPCHANDLE handle : request.handles) {
        if (const GroupItem* item = FindItem(handle)) items.push_back(ReadItem(*item, request.source));
      }
      for (const auto& advise : advises_.Advises()) {
        if (advise.connection == request.connection) DeliverStream(advise, request.transactionId, items);
      }
      break;
    }
    case RequestKind::DA1Write: {
      std::vector<std::pair<OPCHANDLE, HRESULT>> results;
      for (std::size_t i = 0; i < request.handles.size(); ++i) {
        GroupItem* item = FindItem(request.handles[i]);
        if (item == nullptr) continue;
        results.emplace_back(item->clientHandle, WriteItem(*item, request.values[i].Get()));
      }
      for (const auto& advise : advises_.Advises()) {
        if (advise.connection == request.connection) DeliverWriteStream(advise, request.transactionId, results);
      }
      break;
    }
  }
}

void GroupObject::DeliverData(DWORD transactionId, std::vector<Delivery>& items, bool readComplete) {
  ComPtr<IOPCDataCallback> sink = CallbackSink();
  if (!sink) return;
  const std::size_t n = items.size();
  std::vector<OPCHANDLE> clients(n);
  std::vector<VARIANT> values(n);
  std::vector<WORD> qualities(n);
  std::vector<FILETIME> times(n);
  std::vector<HRESULT> errors(n);
  bool allGood = true;
  bool allOk = true;
  for (std::size_t i = 0; i < n; ++i) {
    clients[i] = items[i].clientHandle;
    values[i] = items[i].value.Get();  // shallow: `items` owns the contents during the call
    qualities[i] = items[i].quality;
    times[i] = items[i].timestamp;
    errors[i] = items[i].error;
    allGood = allGood && (qualities[i] & OPC_QUALITY_MASK) == OPC_QUALITY_GOOD;
    allOk = allOk && errors[i] == S_OK;
  }
  const HRESULT quality = allGood ? S_OK : S_FALSE;
  const HRESULT error = allOk ? S_OK : S_FALSE;
  LoanCheck loan(readComplete ? "IOPCDataCallback::OnReadComplete" : "IOPCDataCallback::OnDataChange");
  loan.Lend("phClientItems", clients.data(), n);
  loan.LendValues("pvValues", values.data(), n);
  loan.Lend("pwQualities", qualities.data(), n);
  loan.Lend("pftTimeStamps", times.data(), n);
  loan.Lend("pErrors", errors.data(), n);
  if (readComplete) {
    sink->OnReadComplete(transactionId, CallbackGroupHandle(), quality, error, static_cast<DWORD>(n), clients.data(),
                         values.data(), qualities.data(), times.data(), errors.data());
  } else {
    sink->OnDataChange(transactionId, CallbackGroupHandle(), quality, error, static_cast<DWORD>(n), clients.data(),
                       values.data(), qualities.data(), times.data(), errors.data());
  }
  loan.Verify();
  // What the client freed is gone; freeing it again would corrupt the heap.
  for (std::size_t i = 0; i < n; ++i) {
    if (loan.Freed("pvValues", i)) items[i].value.Forget();
  }
}

void GroupObject::DeliverStream(const xelo::com::DataAdviseHolder::Advise& advise, DWORD transactionId,
                                const std::vector<Delivery>& items) {
  std::vector<StreamWriter::Item> entries;
  for (const Delivery& d : items) {
    // A value we could not convert goes out empty and bad: the stream has
    // no error field.
    entries.push_back({d.clientHandle, &d.value.Get(), d.quality, d.timestamp});
  }
  const bool withTime = advise.format.cfFormat == OPCSTMFORMATDATATIME;
  SendStream(advise, StreamWriter::DataBytes(withTime, CallbackGroupHandle(), transactionId, entries));
}

void GroupObject::DeliverWriteStream(const xelo::com::DataAdviseHolder::Advise& advise, DWORD transactionId,
                                     const std::vector<std::pair<OPCHANDLE, HRESULT>>& results) {
  SendStream(advise, StreamWriter::WriteCompleteBytes(CallbackGroupHandle(), transactionId, results));
}

void GroupObject::SendStream(const xelo::com::DataAdviseHolder::Advise& advise, const std::vector<BYTE>& bytes) {
  HGLOBAL block = StreamWriter::ToGlobal(bytes);
  if (block == nullptr) return;
  FORMATETC format = advise.format;
  STGMEDIUM medium{};
  medium.tymed = TYMED_HGLOBAL;
  medium.hGlobal = block;
  medium.pUnkForRelease = nullptr;
  LoanCheck loan("IAdviseSink::OnDataChange");
  loan.LendStruct("pFormatetc", &format);
  loan.LendStruct("pStgmed", &medium);
  loan.LendGlobal("pStgmed->hGlobal", block);
  advise.sink->OnDataChange(&format, &medium);
  loan.Verify();
  // Ours: the sink copies, never releases. Unless it broke that rule, and
  // the handle may meanwhile belong to a new block.
  if (!loan.Freed("pStgmed->hGlobal")) GlobalFree(block);
}

void GroupObject::PublishChanges() {
  if (!settings_.active) return;
  const bool toCallback = enabled_ && CallbackConnected();
  std::vector<xelo::com::DataAdviseHolder::Advise> streams;
  for (auto& advise : advises_.Advises()) {
    if (advise.format.cfFormat == OPCSTMFORMATDATA || advise.format.cfFormat == OPCSTMFORMATDATATIME) {
      streams.push_back(std::move(advise));
    }
  }
  if (!toCallback && streams.empty()) return;

  struct Change {
    OPCHANDLE handle;
    OwnedVariant value;
    WORD quality;
  };
  std::vector<Change> changes;
  std::vector<Delivery> deliveries;
  const double deadband = settings_.percentDeadband;
  for (const auto& [handle, item] : items_) {
    if (!item.active || (item.item->def.access & OPC_READABLE) == 0) continue;
    const SimulatedItem& simulated = *item.item;
    bool changed = !item.sent || item.lastQuality != simulated.quality;
    if (!changed && !item.lastValue.Equals(simulated.value)) {
      changed = true;
      if (simulated.def.analog && deadband > 0.0) {
        const auto before = item.lastValue.AsDouble();
        const auto now = simulated.value.AsDouble();
        if (before && now) {
          const double span = simulated.def.highEU - simulated.def.lowEU;
          changed = std::fabs(*now - *before) > deadband / 100.0 * span;
        }
      }
    }
    if (!changed) continue;
    changes.push_back({handle, simulated.value, simulated.quality});
    deliveries.push_back(ReadItem(item, OPC_DS_CACHE));
  }
  if (changes.empty()) return;

  if (toCallback) DeliverData(0, deliveries, false);
  for (const auto& advise : streams) DeliverStream(advise, 0, deliveries);
  // Sinks may have removed items meanwhile; only those still here are
  // marked as sent.
  for (Change& change : changes) {
    if (GroupItem* item = FindItem(change.handle)) {
      item->sent = true;
      item->lastValue = std::move(change.value);
      item->lastQuality = change.quality;
    }
  }
  if (server_ != nullptr) server_->NoteUpdateSent();
}

// ---- IOPCAsyncIO2 ----

HRESULT GroupObject::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID, DWORD* pdwCancelID,
                          HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    if (pdwCancelID != nullptr) *pdwCancelID = 0;
    CallArguments args = HandleArgs(dwCount);
    args.transactionId = dwTransactionID;
    if (auto injected = Enter("IOPCAsyncIO2::Read", std::move(args))) return *injected;
    if (dwCount == 0 || phServer == nullptr || pdwCancelID == nullptr || ppErrors == nullptr) return E_INVALIDARG;
    if (!CallbackConnected()) return CONNECT_E_NOCONNECTION;
    Request request;
    request.kind = RequestKind::Read;
    request.transactionId = dwTransactionID;
    request.source = OPC_DS_DEVICE;
    bool slow = false;
    const HRESULT hr = CollectRequestItems(request, dwCount, phServer, nullptr, ppErrors, slow);
    if (!request.handles.empty()) *pdwCancelID = Schedule(std::move(request), slow);
    return hr;
  });
}

HRESULT GroupObject::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, DWORD dwTransactionID,
                           DWORD* pdwCancelID, HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    if (pdwCancelID != nullptr) *pdwCancelID = 0;
    CallArguments args = HandleArgs(dwCount);
    args.transactionId = dwTransactionID;
    if (auto injected = Enter("IOPCAsyncIO2::Write", std::move(args))) return *injected;
    if (dwCount == 0 || phServer == nullptr || pItemValues == nullptr || pdwCancelID == nullptr ||
        ppErrors == nullptr) {
      return E_INVALIDARG;
    }
    if (!CallbackConnected()) return CONNECT_E_NOCONNECTION;
    Request request;
    request.kind = RequestKind::Write;
    request.transactionId = dwTransactionID;
    bool slow = false;
    const HRESULT hr = CollectRequestItems(request, dwCount, phServer, pItemValues, ppErrors, slow);
    if (!request.handles.empty()) *pdwCancelID = Schedule(std::move(request), slow);
    return hr;
  });
}

HRESULT GroupObject::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID) {
  return Guarded([&]() -> HRESULT {
    if (pdwCancelID != nullptr) *pdwCancelID = 0;
    if (auto injected = Enter("IOPCAsyncIO2::Refresh2",
                                        CallArguments().Set(&CallArguments::transactionId, dwTransactionID).Set(&CallArguments::dataSource, dwSource))) {
      return *injected;
    }
    if (!ValidSource(dwSource) || pdwCancelID == nullptr) return E_INVALIDARG;
    if (!CallbackConnected()) return CONNECT_E_NOCONNECTION;
    Request request;
    request.kind = RequestKind::Refresh;
    request.transactionId = dwTransactionID;
    request.source = dwSource;
    request.handles = ActiveHandles();
    if (!settings_.active || request.handles.empty()) return E_FAIL;
    bool slow = false;
    for (const OPCHANDLE handle : request.handles) slow = slow || FindItem(handle)->item->def.slow;
    *pdwCancelID = Schedule(std::move(request), slow);
    return S_OK;
  });
}

HRESULT GroupObject::Cancel2(DWORD dwCancelID) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCAsyncIO2::Cancel2", CallArguments().Set(&CallArguments::cancelId, dwCancelID))) return *injected;
    const auto it = pending_.find(dwCancelID);
    if (it == pending_.end() || it->second.kind == RequestKind::DA1Read || it->second.kind == RequestKind::DA1Write ||
        it->second.kind == RequestKind::DA1Refresh) {
      return E_FAIL;
    }
    const DWORD transactionId = it->second.transactionId;
    StopSlowTimer(it->second);
    pending_.erase(it);
    const DWORD groupId = runtimeId_;
    xelo::com::Scheduler().Post([groupId, transactionId] {
      OwnershipCheckpoint();
      GroupObject* group = Runtime().FindGroup(groupId);
      if (group == nullptr) return;
      ComPtr<GroupObject> keep(group);
      // No loan check: OnCancelComplete lends nothing, both arguments travel
      // by value.
      if (ComPtr<IOPCDataCallback> sink = group->CallbackSink()) {
        sink->OnCancelComplete(transactionId, group->CallbackGroupHandle());
      }
    });
    return S_OK;
  });
}

HRESULT GroupObject::SetEnable(BOOL bEnable) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCAsyncIO2::SetEnable", CallArguments().Set(&CallArguments::flag, bEnable))) return *injected;
    if (!CallbackConnected()) return CONNECT_E_NOCONNECTION;
    enabled_ = bEnable != FALSE;
    return S_OK;
  });
}

HRESULT GroupObject::GetEnable(BOOL* pbEnable) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCAsyncIO2::GetEnable")) return *injected;
    if (pbEnable == nullptr) return E_INVALIDARG;
    if (!CallbackConnected()) return CONNECT_E_NOCONNECTION;
    *pbEnable = enabled_ ? TRUE : FALSE;
    return S_OK;
  });
}

// ---- IOPCAsyncIO (DA 1.0) ----

HRESULT GroupObject::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                          DWORD* pTransactionID, HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    if (pTransactionID != nullptr) *pTransactionID = 0;
    CallArguments args = HandleArgs(dwCount);
    args.connection = dwConnection;
    args.dataSource = dwSource;
    if (auto injected = Enter("IOPCAsyncIO::Read", std::move(args))) return *injected;
    if (!ValidSource(dwSource) || dwCount == 0 || phServer == nullptr || pTransactionID == nullptr ||
        ppErrors == nullptr) {
      return E_INVALIDARG;
    }
    if (!AdviseHasFormat(dwConnection, OPCSTMFORMATDATA, OPCSTMFORMATDATATIME)) return CONNECT_E_NOCONNECTION;
    Request request;
    request.kind = RequestKind::DA1Read;
    request.connection = dwConnection;
    request.source = dwSource;
    bool slow = false;
    const HRESULT hr = CollectRequestItems(request, dwCount, phServer, nullptr, ppErrors, slow);
    if (request.handles.empty()) return hr;
    // The id appears in the stream header, so it is set before scheduling.
    request.transactionId = nextRequestId_;
    *pTransactionID = Schedule(std::move(request), slow);
    return hr;
  });
}

HRESULT GroupObject::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                           DWORD* pTransactionID, HRESULT** ppErrors) {
  return Guarded([&]() -> HRESULT {
    if (ppErrors != nullptr) *ppErrors = nullptr;
    if (pTransactionID != nullptr) *pTransactionID = 0;
    CallArguments args = HandleArgs(dwCount);
    args.connection = dwConnection;
    if (auto injected = Enter("IOPCAsyncIO::Write", std::move(args))) return *injected;
    if (dwCount == 0 || phServer == nullptr || pItemValues == nullptr || pTransactionID == nullptr ||
        ppErrors == nullptr) {
      return E_INVALIDARG;
    }
    if (!AdviseHasFormat(dwConnection, OPCSTMFORMATWRITECOMPLETE, OPCSTMFORMATWRITECOMPLETE)) {
      return CONNECT_E_NOCONNECTION;
    }
    Request request;
    request.kind = RequestKind::DA1Write;
    request.connection = dwConnection;
    bool slow = false;
    const HRESULT hr = CollectRequestItems(request, dwCount, phServer, pItemValues, ppErrors, slow);
    if (request.handles.empty()) return hr;
    request.transactionId = nextRequestId_;
    *pTransactionID = Schedule(std::move(request), slow);
    return hr;
  });
}

HRESULT GroupObject::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID) {
  return Guarded([&]() -> HRESULT {
    if (pTransactionID != nullptr) *pTransactionID = 0;
    if (auto injected =
            Enter("IOPCAsyncIO::Refresh", CallArguments().Set(&CallArguments::connection, dwConnection).Set(&CallArguments::dataSource, dwSource))) {
      return *injected;
    }
    if (!ValidSource(dwSource) || pTransactionID == nullptr) return E_INVALIDARG;
    if (!AdviseHasFormat(dwConnection, OPCSTMFORMATDATA, OPCSTMFORMATDATATIME)) return CONNECT_E_NOCONNECTION;
    Request request;
    request.kind = RequestKind::DA1Refresh;
    request.connection = dwConnection;
    request.source = dwSource;
    request.handles = ActiveHandles();
    if (!settings_.active || request.handles.empty()) return E_FAIL;
    bool slow = false;
    for (const OPCHANDLE handle : request.handles) slow = slow || FindItem(handle)->item->def.slow;
    request.transactionId = nextRequestId_;
    *pTransactionID = Schedule(std::move(request), slow);
    return S_OK;
  });
}

HRESULT GroupObject::Cancel(DWORD dwTransactionID) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IOPCAsyncIO::Cancel", CallArguments().Set(&CallArguments::cancelId, dwTransactionID))) return *injected;
    const auto it = pending_.find(dwTransactionID);
    if (it == pending_.end() || (it->second.kind != RequestKind::DA1Read && it->second.kind != RequestKind::DA1Write &&
                                 it->second.kind != RequestKind::DA1Refresh)) {
      return E_FAIL;
    }
    StopSlowTimer(it->second);
    pending_.erase(it);
    return S_OK;
  });
}

// ---- IConnectionPointContainer ----

HRESULT GroupObject::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
  if (ppEnum != nullptr) *ppEnum = nullptr;
  if (auto injected = Enter("IOPCGroup::EnumConnectionPoints")) return *injected;
  return points_.EnumConnectionPoints(ppEnum);
}

// Counted and refusable under "IOPCGroup::FindConnectionPoint", apart from
// the server object's container, so that a test can refuse a group's data
// callback while the shutdown notice still works.
HRESULT GroupObject::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
  return Guarded([&]() -> HRESULT {
    if (ppCP != nullptr) *ppCP = nullptr;
    if (auto injected = Enter("IOPCGroup::FindConnectionPoint", CallArguments())) return *injected;
    return points_.FindConnectionPoint(riid, ppCP);
  });
}

// ---- IDataObject ----

HRESULT GroupObject::GetData(FORMATETC*, STGMEDIUM* pmedium) {
  if (pmedium != nullptr) *pmedium = STGMEDIUM{};
  if (FAILED(killed_)) return killed_;
  return E_NOTIMPL;
}

HRESULT GroupObject::GetDataHere(FORMATETC*, STGMEDIUM*) { return FAILED(killed_) ? killed_ : E_NOTIMPL; }

HRESULT GroupObject::QueryGetData(FORMATETC* pformatetc) {
  return FAILED(killed_) ? killed_ : advises_.QueryGetData(pformatetc);
}

HRESULT GroupObject::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pformatetcOut) {
  if (pformatetcOut != nullptr) pformatetcOut->ptd = nullptr;
  return FAILED(killed_) ? killed_ : E_NOTIMPL;
}

HRESULT GroupObject::SetData(FORMATETC*, STGMEDIUM*, BOOL) { return FAILED(killed_) ? killed_ : E_NOTIMPL; }

HRESULT GroupObject::EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) {
  if (FAILED(killed_)) {
    if (ppenumFormatEtc != nullptr) *ppenumFormatEtc = nullptr;
    return killed_;
  }
  return advises_.EnumFormatEtc(dwDirection, ppenumFormatEtc);
}

HRESULT GroupObject::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink, DWORD* pdwConnection) {
  return Guarded([&]() -> HRESULT {
    if (pdwConnection != nullptr) *pdwConnection = 0;
    if (auto injected = Enter("IDataObject::DAdvise", CallArguments().Set(&CallArguments::flag, static_cast<BOOL>(advf)))) return *injected;
    // Only global memory: the streams are flat blocks.
    if (pformatetc != nullptr && (pformatetc->tymed & TYMED_HGLOBAL) == 0) return DV_E_TYMED;
    return advises_.DAdvise(pformatetc, advf, pAdvSink, pdwConnection);
  });
}

HRESULT GroupObject::DUnadvise(DWORD dwConnection) {
  return Guarded([&]() -> HRESULT {
    if (auto injected = Enter("IDataObject::DUnadvise", CallArguments().Set(&CallArguments::connection, dwConnection))) return *injected;
    return advises_.DUnadvise(dwConnection);
  });
}

HRESULT GroupObject::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
  if (FAILED(killed_)) {
    if (ppenumAdvise != nullptr) *ppenumAdvise = nullptr;
    return killed_;
  }
  return advises_.EnumDAdvise(ppenumAdvise);
}

}  // namespace xelo::sim
