// The client side of the proxy/stub test: creates the test server out of
// process (CLSCTX_LOCAL_SERVER only), calls the OPC methods whose
// marshalling matters, receives the server's callbacks on its own sink, and
// compares everything with OpcProxyTestData.h. Prints one line per
// mismatch and exits with status 1 if there was any (2 if the test could
// not run at all).
//
// Needs the proxy/stub DLL registered (regsvr32 xelo_opc_ps.dll) and the
// server registered (xelo_opc_proxy_test_server.exe /RegServer).
#include "OpcProxyTestData.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace xelo_opc_proxy_test;

namespace {

int g_checks = 0;
int g_failures = 0;

bool Check(bool condition, const char* what) {
  ++g_checks;
  if (!condition) {
    ++g_failures;
    std::printf("FAIL: %s\n", what);
  }
  return condition;
}

bool CheckHr(HRESULT actual, HRESULT expected, const char* what) {
  ++g_checks;
  if (actual != expected) {
    ++g_failures;
    std::printf("FAIL: %s returned 0x%08lX, expected 0x%08lX\n", what, static_cast<unsigned long>(actual),
                static_cast<unsigned long>(expected));
    return false;
  }
  return true;
}

// Releases a COM pointer at scope end.
template <typename T>
struct Ptr {
  T* p = nullptr;
  Ptr() = default;
  Ptr(const Ptr&) = delete;
  Ptr& operator=(const Ptr&) = delete;
  ~Ptr() {
    if (p) p->Release();
  }
  T* operator->() const { return p; }
  T** out() { return &p; }
  void** outVoid() { return reinterpret_cast<void**>(&p); }
  IUnknown** outUnknown() { return reinterpret_cast<IUnknown**>(&p); }
};

// What one IOPCDataCallback call delivered, copied before returning.
struct Delivery {
  DWORD transaction = 0;
  OPCHANDLE group = 0;
  HRESULT masterQuality = E_FAIL;
  HRESULT masterError = E_FAIL;
  std::vector<OPCHANDLE> handles;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> times;
  std::vector<HRESULT> errors;
  DWORD thread = 0;
  ~Delivery() {
    for (VARIANT& value : values) VariantClear(&value);
  }
};

class Sink final : public IOPCDataCallback {
 public:
  std::vector<Delivery*> dataChanges;
  std::vector<Delivery*> readCompletions;
  ~Sink() {
    for (Delivery* delivery : dataChanges) delete delivery;
    for (Delivery* delivery : readCompletions) delete delivery;
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IOPCDataCallback) {
      *object = static_cast<IOPCDataCallback*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override { return --references_; }  // lives on the stack
  ULONG References() const { return references_; }

  STDMETHODIMP OnDataChange(DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                            OPCHANDLE* handles, VARIANT* values, WORD* qualities, FILETIME* times,
                            HRESULT* errors) override {
    dataChanges.push_back(Copy(transaction, group, quality, error, count, handles, values, qualities, times, errors));
    return S_OK;
  }
  STDMETHODIMP OnReadComplete(DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                              OPCHANDLE* handles, VARIANT* values, WORD* qualities, FILETIME* times,
                              HRESULT* errors) override {
    readCompletions.push_back(
        Copy(transaction, group, quality, error, count, handles, values, qualities, times, errors));
    return S_OK;
  }
  STDMETHODIMP OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
  STDMETHODIMP OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

 private:
  static Delivery* Copy(DWORD transaction, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                        OPCHANDLE* handles, VARIANT* values, WORD* qualities, FILETIME* times, HRESULT* errors) {
    auto* delivery = new Delivery;
    delivery->transaction = transaction;
    delivery->group = group;
    delivery->masterQuality = quality;
    delivery->masterError = error;
    delivery->thread = GetCurrentThreadId();
    for (DWORD i = 0; i < count; ++i) {
      delivery->handles.push_back(handles[i]);
      VARIANT copy;
      VariantInit(&copy);
      VariantCopy(&copy, &values[i]);
      delivery->values.push_back(copy);
      delivery->qualities.push_back(qualities[i]);
      delivery->times.push_back(times[i]);
      delivery->errors.push_back(errors[i]);
    }
    return delivery;
  }
  ULONG references_ = 0;
};

// Lets COM deliver calls into this STA until done() or the time is up.
template <typename Done>
bool PumpUntil(Done done, DWORD milliseconds) {
  DWORD start = GetTickCount();
  while (!done()) {
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= milliseconds) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

void CheckCommon(IOPCCommon* common) {
  CheckHr(common->SetClientName(kClientName), S_OK, "IOPCCommon::SetClientName (name arrived intact)");
  CheckHr(common->SetLocaleID(kLocales[1]), S_OK, "IOPCCommon::SetLocaleID");
  LCID locale = 0;
  if (CheckHr(common->GetLocaleID(&locale), S_OK, "IOPCCommon::GetLocaleID"))
    Check(locale == kLocales[1], "IOPCCommon::GetLocaleID value");
  DWORD count = 0;
  LCID* locales = nullptr;
  if (CheckHr(common->QueryAvailableLocaleIDs(&count, &locales), S_OK, "IOPCCommon::QueryAvailableLocaleIDs")) {
    if (Check(count == 3 && locales, "QueryAvailableLocaleIDs count"))
      Check(std::memcmp(locales, kLocales, sizeof kLocales) == 0, "QueryAvailableLocaleIDs values");
  }
  CoTaskMemFree(locales);

  LPWSTR text = nullptr;
  if (CheckHr(common->GetErrorString(kUnknownItemId, &text), S_OK, "IOPCCommon::GetErrorString"))
    Check(SameText(text, kUnknownItemIdText), "IOPCCommon::GetErrorString text ([out, string] LPWSTR*)");
  CoTaskMemFree(text);
  text = nullptr;
  CheckHr(common->GetErrorString(E_FAIL, &text), E_INVALIDARG, "IOPCCommon::GetErrorString of an unknown code");
  Check(text == nullptr, "IOPCCommon::GetErrorString leaves NULL on failure");
}

DWORD CheckServer(IOPCServer* server) {
  DWORD serverProcess = 0;
  OPCSERVERSTATUS* status = nullptr;
  if (CheckHr(server->GetStatus(&status), S_OK, "IOPCServer::GetStatus") && Check(status != nullptr, "GetStatus result")) {
    Check(SameTime(status->ftStartTime, kStartTime), "OPCSERVERSTATUS.ftStartTime");
    Check(SameTime(status->ftLastUpdateTime, kStartTime), "OPCSERVERSTATUS.ftLastUpdateTime");
    Check(status->dwServerState == OPC_STATUS_RUNNING, "OPCSERVERSTATUS.dwServerState");
    Check(status->dwGroupCount == 1 && status->dwBandWidth == 0xFFFFFFFF, "OPCSERVERSTATUS counts");
    Check(status->wMajorVersion == kMajorVersion && status->wMinorVersion == kMinorVersion &&
              status->wBuildNumber == kBuildNumber,
          "OPCSERVERSTATUS version");
    size_t prefix = std::wcslen(kVendorPrefix);
    if (Check(status->szVendorInfo && std::wcsncmp(status->szVendorInfo, kVendorPrefix, prefix) == 0,
              "OPCSERVERSTATUS.szVendorInfo"))
      serverProcess = static_cast<DWORD>(std::wcstoul(status->szVendorInfo + prefix, nullptr, 10));
    CoTaskMemFree(status->szVendorInfo);
  }
  CoTaskMemFree(status);

  LPWSTR text = nullptr;
  if (CheckHr(server->GetErrorString(kUnknownItemId, kLocales[1], &text), S_OK, "IOPCServer::GetErrorString"))
    Check(SameText(text, kUnknownItemIdText), "IOPCServer::GetErrorString text ([out, string] LPWSTR*)");
  CoTaskMemFree(text);
  return serverProcess;
}

void CheckProperties(IOPCItemProperties* properties) {
  LPWSTR* itemIds = nullptr;
  HRESULT* errors = nullptr;
  if (CheckHr(properties->LookupItemIDs(const_cast<LPWSTR>(kFullItemId), kLookupCount,
                                        const_cast<DWORD*>(kLookupIds), &itemIds, &errors),
              S_FALSE, "IOPCItemProperties::LookupItemIDs") &&
      Check(itemIds && errors, "LookupItemIDs arrays")) {
    for (DWORD i = 0; i < kLookupCount; ++i) {
      std::string what = "LookupItemIDs entry " + std::to_string(i);
      Check(SameText(itemIds[i], kLookupItemIds[i]), (what + " ([out, size_is(,n), string] LPWSTR**)").c_str());
      Check(errors[i] == kLookupErrors[i], (what + " error").c_str());
      CoTaskMemFree(itemIds[i]);
    }
  }
  CoTaskMemFree(itemIds);
  CoTaskMemFree(errors);

  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  if (CheckHr(properties->QueryAvailableProperties(const_cast<LPWSTR>(kFullItemId), &count, &ids, &descriptions,
                                                   &types),
              S_OK, "IOPCItemProperties::QueryAvailableProperties") &&
      Check(count == kPropertyCount && ids && descriptions && types, "QueryAvailableProperties arrays")) {
    for (DWORD i = 0; i < count; ++i) {
      std::string what = "QueryAvailableProperties entry " + std::to_string(i);
      Check(ids[i] == kPropertyIds[i] && types[i] == kPropertyTypes[i], (what + " id and type").c_str());
      Check(SameText(descriptions[i], kPropertyDescriptions[i]), (what + " description").c_str());
      CoTaskMemFree(descriptions[i]);
    }
  }
  CoTaskMemFree(ids);
  CoTaskMemFree(descriptions);
  CoTaskMemFree(types);
}

void CheckBrowse(IOPCBrowseServerAddressSpace* browse) {
  OPCNAMESPACETYPE organization = OPC_NS_FLAT;
  if (CheckHr(browse->QueryOrganization(&organization), S_OK, "QueryOrganization"))
    Check(organization == OPC_NS_HIERARCHIAL, "QueryOrganization value (enum on the wire)");

  Ptr<IEnumString> names;
  if (!CheckHr(browse->BrowseOPCItemIDs(OPC_FLAT, kBrowseFilter, VT_EMPTY, OPC_READABLE, names.out()), S_OK,
               "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs") ||
      !Check(names.p != nullptr, "BrowseOPCItemIDs enumerator"))
    return;
  LPOLESTR batch[8] = {};
  ULONG fetched = 0;
  std::vector<std::wstring> received;
  CheckHr(names->Next(2, batch, &fetched), S_OK, "IEnumString::Next(2)");
  for (ULONG i = 0; i < fetched && i < 2; ++i) {
    received.push_back(batch[i] ? batch[i] : L"(null)");
    CoTaskMemFree(batch[i]);
  }
  fetched = 0;
  CheckHr(names->Next(8, batch, &fetched), S_FALSE, "IEnumString::Next(8) at the end");
  for (ULONG i = 0; i < fetched && i < 8; ++i) {
    received.push_back(batch[i] ? batch[i] : L"(null)");
    CoTaskMemFree(batch[i]);
  }
  if (Check(received.size() == kBrowseCount, "BrowseOPCItemIDs count"))
    for (ULONG i = 0; i < kBrowseCount; ++i)
      Check(received[i] == kBrowseItems[i], ("BrowseOPCItemIDs name " + std::to_string(i)).c_str());
  CheckHr(names->Reset(), S_OK, "IEnumString::Reset");
  CheckHr(names->Skip(3), S_OK, "IEnumString::Skip");
  fetched = 0;
  if (CheckHr(names->Next(1, batch, &fetched), S_OK, "IEnumString::Next after Skip") && fetched == 1) {
    Check(SameText(batch[0], kBrowseItems[3]), "IEnumString::Next after Skip value");
    CoTaskMemFree(batch[0]);
  }

  CheckHr(browse->ChangeBrowsePosition(OPC_BROWSE_TO, kBrowsePosition), S_OK, "ChangeBrowsePosition");
  LPWSTR itemId = nullptr;
  if (CheckHr(browse->GetItemID(const_cast<LPWSTR>(kItemDataId), &itemId), S_OK, "GetItemID"))
    Check(SameText(itemId, kFullItemId), "GetItemID text ([out, string] LPWSTR*)");
  CoTaskMemFree(itemId);
}

void CheckAddItems(IOPCItemMgt* items) {
  OPCITEMDEF definitions[kItemCount];
  for (DWORD i = 0; i < kItemCount; ++i) {
    const Item& item = kItems[i];
    definitions[i] = OPCITEMDEF{const_cast<LPWSTR>(item.accessPath), const_cast<LPWSTR>(item.itemId), item.active,
                                item.hClient, item.blobInSize, const_cast<BYTE*>(item.blobIn), item.requested, 0};
  }
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  if (CheckHr(items->AddItems(kItemCount, definitions, &results, &errors), S_FALSE, "IOPCItemMgt::AddItems") &&
      Check(results && errors, "AddItems arrays")) {
    for (DWORD i = 0; i < kItemCount; ++i) {
      const Item& item = kItems[i];
      std::string what = "AddItems item " + std::to_string(i);
      Check(errors[i] == item.error, (what + " error (definition arrived intact)").c_str());
      if (item.error == S_OK) {
        Check(results[i].hServer == item.hServer && results[i].vtCanonicalDataType == item.canonical &&
                  results[i].dwAccessRights == item.rights,
              (what + " result").c_str());
        Check(SameBytes(results[i].pBlob, results[i].dwBlobSize, item.blobOut, item.blobOutSize),
              (what + " result blob").c_str());
      }
      CoTaskMemFree(results[i].pBlob);
    }
  }
  CoTaskMemFree(results);
  CoTaskMemFree(errors);

  Ptr<IEnumOPCItemAttributes> attributes;
  if (!CheckHr(items->CreateEnumerator(IID_IEnumOPCItemAttributes, attributes.outUnknown()), S_OK,
               "IOPCItemMgt::CreateEnumerator"))
    return;
  OPCITEMATTRIBUTES* list = nullptr;
  ULONG fetched = 0;
  if (CheckHr(attributes->Next(10, &list, &fetched), S_FALSE, "IEnumOPCItemAttributes::Next") &&
      Check(fetched == kItemCount - 1 && list, "IEnumOPCItemAttributes::Next count")) {
    for (ULONG i = 0; i < fetched; ++i) {
      const Item& item = kItems[i];
      const OPCITEMATTRIBUTES& got = list[i];
      std::string what = "item attributes " + std::to_string(i);
      Check(SameText(got.szAccessPath, item.accessPath) && SameText(got.szItemID, item.itemId),
            (what + " strings").c_str());
      Check(got.bActive == item.active && got.hClient == item.hClient && got.hServer == item.hServer &&
                got.dwAccessRights == item.rights && got.vtRequestedDataType == item.requested &&
                got.vtCanonicalDataType == item.canonical,
            (what + " fields").c_str());
      Check(SameBytes(got.pBlob, got.dwBlobSize, item.blobOut, item.blobOutSize), (what + " blob").c_str());
      OPCEUTYPE euType;
      VARIANT euInfo;
      EuInfo(item.hServer, &euType, &euInfo);
      Check(got.dwEUType == euType && SameVariant(got.vEUInfo, euInfo), (what + " EU info").c_str());
      VariantClear(&euInfo);
      CoTaskMemFree(got.szAccessPath);
      CoTaskMemFree(got.szItemID);
      CoTaskMemFree(got.pBlob);
      VariantClear(&list[i].vEUInfo);
    }
  }
  CoTaskMemFree(list);
}

void CheckSyncIo(IOPCSyncIO* io) {
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  if (CheckHr(io->Read(OPC_DS_DEVICE, kReadCount, const_cast<OPCHANDLE*>(kReadHandles), &states, &errors), S_FALSE,
              "IOPCSyncIO::Read") &&
      Check(states && errors, "Read arrays")) {
    for (DWORD i = 0; i < kReadCount; ++i) {
      std::string what = "Read item " + std::to_string(i);
      Check(errors[i] == kReadErrors[i], (what + " error").c_str());
      const Item* item = nullptr;
      for (const Item& candidate : kItems)
        if (candidate.error == S_OK && candidate.hServer == kReadHandles[i]) item = &candidate;
      Check(states[i].hClient == (item ? item->hClient : 0), (what + " client handle").c_str());
      Check(states[i].wQuality == kReadQualities[i], (what + " quality").c_str());
      Check(SameTime(states[i].ftTimeStamp, ReadTimestamp(i)), (what + " timestamp").c_str());
      VARIANT expected;
      ItemValue(kReadHandles[i], &expected);
      Check(SameVariant(states[i].vDataValue, expected), (what + " value").c_str());
      VariantClear(&expected);
      VariantClear(&states[i].vDataValue);
    }
  }
  CoTaskMemFree(states);
  CoTaskMemFree(errors);

  VARIANT values[kWriteCount];
  for (DWORD i = 0; i < kWriteCount; ++i) WriteValue(i, &values[i]);
  errors = nullptr;
  if (CheckHr(io->Write(kWriteCount, const_cast<OPCHANDLE*>(kWriteHandles), values, &errors), S_FALSE,
              "IOPCSyncIO::Write") &&
      Check(errors != nullptr, "Write errors array")) {
    for (DWORD i = 0; i < kWriteCount; ++i)
      Check(errors[i] == kWriteErrors[i], ("Write item " + std::to_string(i) + " (value arrived intact)").c_str());
  }
  CoTaskMemFree(errors);
  for (VARIANT& value : values) VariantClear(&value);
}

void CheckServerList() {
  Ptr<IOPCServerList2> list;
  if (!CheckHr(CoCreateInstance(kServerListClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServerList2, list.outVoid()),
               S_OK, "CoCreateInstance(server list)"))
    return;
  CATID implemented[] = {kCategoryDa10, kCategoryDa20};
  CATID required[] = {kCategoryDa20};
  Ptr<IOPCEnumGUID> classes;
  if (CheckHr(list->EnumClassesOfCategories(2, implemented, 1, required, classes.out()), S_OK,
              "IOPCServerList2::EnumClassesOfCategories (categories arrived intact)") &&
      Check(classes.p != nullptr, "EnumClassesOfCategories enumerator")) {
    GUID received[5] = {};
    ULONG fetched = 0;
    CheckHr(classes->Next(5, received, &fetched), S_FALSE, "IOPCEnumGUID::Next");
    if (Check(fetched == kListedCount, "IOPCEnumGUID::Next count"))
      for (ULONG i = 0; i < kListedCount; ++i)
        Check(received[i] == kListedClasses[i], ("IOPCEnumGUID::Next class " + std::to_string(i)).c_str());
  }

  LPOLESTR progId = nullptr, userType = nullptr, versionIndependent = nullptr;
  if (CheckHr(list->GetClassDetails(kServerClsid, &progId, &userType, &versionIndependent), S_OK,
              "IOPCServerList2::GetClassDetails")) {
    Check(SameText(progId, kProgId), "IOPCServerList2::GetClassDetails ProgID ([out] LPOLESTR*)");
    Check(SameText(userType, kUserType), "IOPCServerList2::GetClassDetails user type ([out] LPOLESTR*)");
    Check(SameText(versionIndependent, kVersionIndependentProgId),
          "IOPCServerList2::GetClassDetails version-independent ProgID ([out] LPOLESTR*)");
  }
  CoTaskMemFree(progId);
  CoTaskMemFree(userType);
  CoTaskMemFree(versionIndependent);
  CLSID clsid = GUID_NULL;
  if (CheckHr(list->CLSIDFromProgID(kProgId, &clsid), S_OK, "IOPCServerList2::CLSIDFromProgID"))
    Check(clsid == kServerClsid, "IOPCServerList2::CLSIDFromProgID value");

  Ptr<IOPCServerList> first;
  if (!CheckHr(list->QueryInterface(IID_IOPCServerList, first.outVoid()), S_OK, "QueryInterface(IOPCServerList)"))
    return;
  progId = userType = nullptr;
  if (CheckHr(first->GetClassDetails(kServerClsid, &progId, &userType), S_OK, "IOPCServerList::GetClassDetails")) {
    Check(SameText(progId, kProgId), "IOPCServerList::GetClassDetails ProgID ([out] LPOLESTR*)");
    Check(SameText(userType, kUserType), "IOPCServerList::GetClassDetails user type ([out] LPOLESTR*)");
  }
  CoTaskMemFree(progId);
  CoTaskMemFree(userType);
  clsid = GUID_NULL;
  if (CheckHr(first->CLSIDFromProgID(kProgId, &clsid), S_OK, "IOPCServerList::CLSIDFromProgID"))
    Check(clsid == kServerClsid, "IOPCServerList::CLSIDFromProgID value");
}

void CheckDelivery(const Delivery& got, DWORD transaction, const char* what) {
  std::string name = what;
  Check(got.transaction == transaction && got.group == kClientGroup, (name + " transaction and group").c_str());
  Check(got.thread == GetCurrentThreadId(), (name + " on the client's apartment thread").c_str());
}

void CheckCallbacks(IUnknown* group, Sink& sink) {
  Ptr<IConnectionPointContainer> container;
  Ptr<IConnectionPoint> point;
  if (!CheckHr(group->QueryInterface(IID_IConnectionPointContainer, container.outVoid()), S_OK,
               "group QueryInterface(IConnectionPointContainer)") ||
      !CheckHr(container->FindConnectionPoint(IID_IOPCDataCallback, point.out()), S_OK, "FindConnectionPoint"))
    return;
  DWORD cookie = 0;
  if (!CheckHr(point->Advise(static_cast<IOPCDataCallback*>(&sink), &cookie), S_OK, "IConnectionPoint::Advise"))
    return;
  Ptr<IOPCAsyncIO2> async;
  if (CheckHr(group->QueryInterface(IID_IOPCAsyncIO2, async.outVoid()), S_OK, "group QueryInterface(IOPCAsyncIO2)")) {
    // A completion the server sends from inside the call.
    OPCHANDLE handle = 1001;
    DWORD cancelId = 0;
    HRESULT* errors = nullptr;
    if (CheckHr(async->Read(1, &handle, kReadTransaction, &cancelId, &errors), S_OK, "IOPCAsyncIO2::Read")) {
      Check(cancelId == kCancelId && errors && errors[0] == S_OK, "IOPCAsyncIO2::Read results");
      if (Check(sink.readCompletions.size() == 1, "OnReadComplete arrived during the call")) {
        const Delivery& got = *sink.readCompletions[0];
        CheckDelivery(got, kReadTransaction, "OnReadComplete");
        VARIANT expected;
        ItemValue(1001, &expected);
        Check(got.handles.size() == 1 && got.handles[0] == kItems[0].hClient && SameVariant(got.values[0], expected) &&
                  got.qualities[0] == OPC_QUALITY_GOOD && SameTime(got.times[0], ReadTimestamp(0)) &&
                  got.errors[0] == S_OK,
              "OnReadComplete values");
        VariantClear(&expected);
      }
    }
    CoTaskMemFree(errors);

    // A data change the server sends later, from its own message loop.
    cancelId = 0;
    if (CheckHr(async->Refresh2(OPC_DS_DEVICE, kRefreshTransaction, &cancelId), S_OK, "IOPCAsyncIO2::Refresh2")) {
      Check(cancelId == kCancelId + 1, "IOPCAsyncIO2::Refresh2 cancel ID");
      if (Check(PumpUntil([&] { return !sink.dataChanges.empty(); }, 15000), "OnDataChange arrived")) {
        const Delivery& got = *sink.dataChanges[0];
        CheckDelivery(got, kRefreshTransaction, "OnDataChange");
        Check(got.masterQuality == S_FALSE && got.masterError == S_OK, "OnDataChange master quality and error");
        if (Check(got.handles.size() == kCallbackCount, "OnDataChange count")) {
          for (DWORD i = 0; i < kCallbackCount; ++i) {
            std::string what = "OnDataChange item " + std::to_string(i);
            VARIANT expected;
            CallbackValue(i, &expected);
            Check(got.handles[i] == kCallbackHandles[i] && got.qualities[i] == kCallbackQualities[i] &&
                      got.errors[i] == kCallbackErrors[i] && SameTime(got.times[i], CallbackTimestamp(i)),
                  (what + " handle, quality, time, error").c_str());
            Check(SameVariant(got.values[i], expected), (what + (i == 0 ? " string" : " array") + " value").c_str());
            VariantClear(&expected);
          }
        }
      }
    }
  }
  CheckHr(point->Unadvise(cookie), S_OK, "IConnectionPoint::Unadvise");
}

int Run() {
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                       EOAC_NONE, nullptr);
  Sink sink;
  DWORD serverProcess = 0;
  {
    Ptr<IOPCServer> server;
    HRESULT hr = CoCreateInstance(kServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer, server.outVoid());
    if (FAILED(hr)) {
      std::printf("FAIL: CoCreateInstance(CLSCTX_LOCAL_SERVER) returned 0x%08lX\n", static_cast<unsigned long>(hr));
      return 2;
    }
    serverProcess = CheckServer(server.p);
    Check(serverProcess != 0 && serverProcess != GetCurrentProcessId(), "server runs in a process of its own");

    Ptr<IOPCCommon> common;
    if (CheckHr(server->QueryInterface(IID_IOPCCommon, common.outVoid()), S_OK, "QueryInterface(IOPCCommon)"))
      CheckCommon(common.p);
    Ptr<IOPCBrowseServerAddressSpace> browse;
    if (CheckHr(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, browse.outVoid()), S_OK,
                "QueryInterface(IOPCBrowseServerAddressSpace)"))
      CheckBrowse(browse.p);

    LONG timeBias = kTimeBias;
    OPCHANDLE serverGroup = 0;
    DWORD revisedRate = 0;
    Ptr<IOPCItemMgt> items;
    if (CheckHr(server->AddGroup(kGroupName, TRUE, kRequestedRate, kClientGroup, &timeBias, nullptr, kGroupLcid,
                                 &serverGroup, &revisedRate, IID_IOPCItemMgt, items.outUnknown()),
                S_OK, "IOPCServer::AddGroup") &&
        Check(items.p != nullptr, "AddGroup group object")) {
      Check(serverGroup == kServerGroup && revisedRate == kRevisedRate, "AddGroup results");
      CheckAddItems(items.p);
      Ptr<IOPCSyncIO> io;
      if (CheckHr(items->QueryInterface(IID_IOPCSyncIO, io.outVoid()), S_OK, "group QueryInterface(IOPCSyncIO)"))
        CheckSyncIo(io.p);
      Ptr<IOPCGroupStateMgt> state;
      if (CheckHr(items->QueryInterface(IID_IOPCGroupStateMgt, state.outVoid()), S_OK,
                  "group QueryInterface(IOPCGroupStateMgt)")) {
        DWORD rate = 0, lcid = 0;
        BOOL active = FALSE;
        LPWSTR name = nullptr;
        LONG bias = 0;
        FLOAT deadband = -1.0f;
        OPCHANDLE client = 0, own = 0;
        if (CheckHr(state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &own), S_OK,
                    "IOPCGroupStateMgt::GetState")) {
          Check(SameText(name, kGroupName), "GetState name ([out, string] LPWSTR*)");
          Check(rate == kRevisedRate && active && bias == kTimeBias && deadband == 0.0f && lcid == kGroupLcid &&
                    client == kClientGroup && own == kServerGroup,
                "GetState values");
        }
        CoTaskMemFree(name);
      }
      CheckCallbacks(items.p, sink);
    }
    if (items.p) {
      items.p->Release();
      items.p = nullptr;
    }
    CheckHr(server->RemoveGroup(serverGroup, FALSE), S_OK, "IOPCServer::RemoveGroup");
    // While the server object keeps the process running, so the list
    // object is created in that same process.
    CheckServerList();
    // Last: with a faulty proxy, LookupItemIDs hands out garbage pointers.
    Ptr<IOPCItemProperties> properties;
    if (CheckHr(server->QueryInterface(IID_IOPCItemProperties, properties.outVoid()), S_OK,
                "QueryInterface(IOPCItemProperties)"))
      CheckProperties(properties.p);
  }
  Check(sink.References() == 0, "server released the client's sink");

  // With the last reference gone the server process ends.
  if (serverProcess != 0 && serverProcess != GetCurrentProcessId()) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, serverProcess);
    if (Check(process != nullptr, "server process found by its ID")) {
      Check(WaitForSingleObject(process, 15000) == WAIT_OBJECT_0, "server process ended after the last Release");
      CloseHandle(process);
    }
  }
  return 0;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // every line out, even if a faulty proxy crashes us
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::printf("FAIL: CoInitializeEx\n");
    return 2;
  }
  int status = Run();
  CoUninitialize();
  if (status != 0) return status;
  if (g_failures != 0) {
    std::printf("RESULT FAILED: %d of %d checks failed\n", g_failures, g_checks);
    return 1;
  }
  std::printf("RESULT OK: %d checks passed\n", g_checks);
  return 0;
}
