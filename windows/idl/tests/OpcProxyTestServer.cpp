// The server side of the proxy/stub test: a LocalServer32 EXE whose objects
// implement the OPC interfaces under test with the data of
// OpcProxyTestData.h. It checks what arrives (a mismatch is answered with
// E_INVALIDARG or a per-item E_INVALIDARG, which the client reports) and
// answers from the table.
//
//   xelo_opc_proxy_test_server.exe /RegServer    registers LocalServer32
//   xelo_opc_proxy_test_server.exe /UnregServer  removes it
//   xelo_opc_proxy_test_server.exe -Embedding    what COM starts
//
// One single-threaded apartment: COM delivers the calls as window
// messages to the main thread, and the data change callback is sent from
// the same loop after the client's Refresh2 has returned.
#include "OpcProxyTestData.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

using namespace xelo_opc_proxy_test;

namespace {

constexpr UINT kFireDataChange = WM_APP + 1;
DWORD g_mainThread = 0;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

void QuitWhenUnused() {
  if (g_objects.load() == 0 && g_locks.load() == 0) PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
}

template <typename T>
T* TaskArray(size_t count) {
  return static_cast<T*>(CoTaskMemAlloc(count ? count * sizeof(T) : 1));
}

wchar_t* TaskString(const wchar_t* text) {
  if (!text) return nullptr;
  size_t bytes = (std::wcslen(text) + 1) * sizeof(wchar_t);
  auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
  if (copy) std::memcpy(copy, text, bytes);
  return copy;
}

BYTE* TaskBytes(const BYTE* bytes, DWORD size) {
  if (size == 0) return nullptr;
  auto* copy = static_cast<BYTE*>(CoTaskMemAlloc(size));
  if (copy) std::memcpy(copy, bytes, size);
  return copy;
}

const Item* ItemByServerHandle(OPCHANDLE hServer) {
  for (const Item& item : kItems)
    if (item.error == S_OK && item.hServer == hServer) return &item;
  return nullptr;
}

// Reference counting and object accounting shared by the classes below.
class Counted {
 public:
  Counted() { ++g_objects; }
  virtual ~Counted() {
    --g_objects;
    QuitWhenUnused();
  }
  ULONG AddRefCount() { return ++references_; }
  ULONG ReleaseCount() {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<ULONG> references_{1};
};

#define XELO_COUNTED_UNKNOWN                                                 \
  STDMETHODIMP_(ULONG) AddRef() override { return AddRefCount(); }          \
  STDMETHODIMP_(ULONG) Release() override { return ReleaseCount(); }

// IEnumString over a fixed list.
class StringEnumerator final : public IEnumString, public Counted {
 public:
  explicit StringEnumerator(ULONG position = 0) : position_(position) {}
  XELO_COUNTED_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IEnumString) {
      *object = static_cast<IEnumString*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP Next(ULONG celt, LPOLESTR* elements, ULONG* fetched) override {
    ULONG count = 0;
    while (count < celt && position_ < kBrowseCount) elements[count++] = TaskString(kBrowseItems[position_++]);
    if (fetched) *fetched = count;
    return count == celt ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG celt) override {
    position_ += celt;
    if (position_ > kBrowseCount) {
      position_ = kBrowseCount;
      return S_FALSE;
    }
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumString** copy) override {
    *copy = new StringEnumerator(position_);
    return S_OK;
  }

 private:
  ULONG position_;
};

// IEnumOPCItemAttributes over the items AddItems accepted.
class AttributeEnumerator final : public IEnumOPCItemAttributes, public Counted {
 public:
  XELO_COUNTED_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IEnumOPCItemAttributes) {
      *object = static_cast<IEnumOPCItemAttributes*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP Next(ULONG celt, OPCITEMATTRIBUTES** items, ULONG* fetched) override {
    std::vector<const Item*> chosen;
    while (chosen.size() < celt && position_ < kItemCount) {
      const Item& item = kItems[position_++];
      if (item.error == S_OK) chosen.push_back(&item);
    }
    *items = TaskArray<OPCITEMATTRIBUTES>(chosen.size());
    for (size_t i = 0; i < chosen.size(); ++i) {
      const Item& item = *chosen[i];
      OPCITEMATTRIBUTES& out = (*items)[i];
      out.szAccessPath = TaskString(item.accessPath);
      out.szItemID = TaskString(item.itemId);
      out.bActive = item.active;
      out.hClient = item.hClient;
      out.hServer = item.hServer;
      out.dwAccessRights = item.rights;
      out.dwBlobSize = item.blobOutSize;
      out.pBlob = TaskBytes(item.blobOut, item.blobOutSize);
      out.vtRequestedDataType = item.requested;
      out.vtCanonicalDataType = item.canonical;
      EuInfo(item.hServer, &out.dwEUType, &out.vEUInfo);
    }
    *fetched = static_cast<ULONG>(chosen.size());
    return chosen.size() == celt ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumOPCItemAttributes**) override { return E_NOTIMPL; }

 private:
  DWORD position_ = 0;
};

// The group: item management, synchronous and asynchronous I/O, state, and
// the connection point for the client's IOPCDataCallback.
class Group final : public IOPCItemMgt,
                    public IOPCSyncIO,
                    public IOPCGroupStateMgt,
                    public IOPCAsyncIO2,
                    public IConnectionPointContainer,
                    public IConnectionPoint,
                    public Counted {
 public:
  ~Group() override {
    if (sink_) sink_->Release();
  }
  XELO_COUNTED_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IOPCItemMgt) {
      *object = static_cast<IOPCItemMgt*>(this);
    } else if (riid == IID_IOPCSyncIO) {
      *object = static_cast<IOPCSyncIO*>(this);
    } else if (riid == IID_IOPCGroupStateMgt) {
      *object = static_cast<IOPCGroupStateMgt*>(this);
    } else if (riid == IID_IOPCAsyncIO2) {
      *object = static_cast<IOPCAsyncIO2*>(this);
    } else if (riid == IID_IConnectionPointContainer) {
      *object = static_cast<IConnectionPointContainer*>(this);
    } else if (riid == IID_IConnectionPoint) {
      // Marshalling the point FindConnectionPoint returns asks for it.
      *object = static_cast<IConnectionPoint*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // IOPCItemMgt
  STDMETHODIMP AddItems(DWORD count, OPCITEMDEF* definitions, OPCITEMRESULT** results, HRESULT** errors) override {
    if (count != kItemCount || !definitions) return E_INVALIDARG;
    *results = TaskArray<OPCITEMRESULT>(count);
    *errors = TaskArray<HRESULT>(count);
    bool allGood = true;
    for (DWORD i = 0; i < count; ++i) {
      const Item& item = kItems[i];
      const OPCITEMDEF& in = definitions[i];
      OPCITEMRESULT& out = (*results)[i];
      std::memset(&out, 0, sizeof out);
      bool arrived = SameText(in.szAccessPath, item.accessPath) && SameText(in.szItemID, item.itemId) &&
                     in.bActive == item.active && in.hClient == item.hClient &&
                     SameBytes(in.pBlob, in.dwBlobSize, item.blobIn, item.blobInSize) &&
                     in.vtRequestedDataType == item.requested;
      (*errors)[i] = arrived ? item.error : E_INVALIDARG;
      if ((*errors)[i] != S_OK) {
        allGood = false;
        continue;
      }
      out.hServer = item.hServer;
      out.vtCanonicalDataType = item.canonical;
      out.dwAccessRights = item.rights;
      out.dwBlobSize = item.blobOutSize;
      out.pBlob = TaskBytes(item.blobOut, item.blobOutSize);
    }
    return allGood ? S_OK : S_FALSE;
  }
  STDMETHODIMP ValidateItems(DWORD, OPCITEMDEF*, BOOL, OPCITEMRESULT**, HRESULT**) override { return E_NOTIMPL; }
  STDMETHODIMP RemoveItems(DWORD, OPCHANDLE*, HRESULT**) override { return E_NOTIMPL; }
  STDMETHODIMP SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT**) override { return E_NOTIMPL; }
  STDMETHODIMP SetClientHandles(DWORD, OPCHANDLE*, OPCHANDLE*, HRESULT**) override { return E_NOTIMPL; }
  STDMETHODIMP SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT**) override { return E_NOTIMPL; }
  STDMETHODIMP CreateEnumerator(REFIID riid, LPUNKNOWN* enumerator) override {
    *enumerator = nullptr;
    if (riid != IID_IEnumOPCItemAttributes) return E_NOINTERFACE;
    *enumerator = static_cast<IEnumOPCItemAttributes*>(new AttributeEnumerator);
    return S_OK;
  }

  // IOPCSyncIO
  STDMETHODIMP Read(OPCDATASOURCE source, DWORD count, OPCHANDLE* handles, OPCITEMSTATE** values,
                    HRESULT** errors) override {
    if (source != OPC_DS_DEVICE || count != kReadCount) return E_INVALIDARG;
    *values = TaskArray<OPCITEMSTATE>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      OPCITEMSTATE& out = (*values)[i];
      const Item* item = ItemByServerHandle(handles[i]);
      out.hClient = item ? item->hClient : 0;
      out.ftTimeStamp = ReadTimestamp(i);
      out.wQuality = kReadQualities[i];
      out.wReserved = 0;
      ItemValue(handles[i], &out.vDataValue);
      (*errors)[i] = handles[i] == kReadHandles[i] ? kReadErrors[i] : E_INVALIDARG;
    }
    return S_FALSE;  // the unknown handle
  }
  STDMETHODIMP Write(DWORD count, OPCHANDLE* handles, VARIANT* values, HRESULT** errors) override {
    if (count != kWriteCount) return E_INVALIDARG;
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      VARIANT expected;
      WriteValue(i, &expected);
      bool arrived = handles[i] == kWriteHandles[i] && SameVariant(values[i], expected);
      VariantClear(&expected);
      (*errors)[i] = arrived ? kWriteErrors[i] : E_INVALIDARG;
    }
    return S_FALSE;
  }

  // IOPCGroupStateMgt
  STDMETHODIMP GetState(DWORD* rate, BOOL* active, LPWSTR* name, LONG* timeBias, FLOAT* deadband, DWORD* lcid,
                        OPCHANDLE* client, OPCHANDLE* server) override {
    *rate = kRevisedRate;
    *active = TRUE;
    *name = TaskString(kGroupName);
    *timeBias = kTimeBias;
    *deadband = 0.0f;
    *lcid = kGroupLcid;
    *client = kClientGroup;
    *server = kServerGroup;
    return S_OK;
  }
  STDMETHODIMP SetState(DWORD*, DWORD*, BOOL*, LONG*, FLOAT*, DWORD*, OPCHANDLE*) override { return E_NOTIMPL; }
  STDMETHODIMP SetName(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP CloneGroup(LPCWSTR, REFIID, LPUNKNOWN* group) override {
    *group = nullptr;
    return E_NOTIMPL;
  }

  // IOPCAsyncIO2: Read completes from inside the call (a nested callback),
  // Refresh2 from the message loop after the call returned.
  STDMETHODIMP Read(DWORD count, OPCHANDLE* handles, DWORD transaction, DWORD* cancelId, HRESULT** errors) override {
    if (!sink_) return CONNECT_E_NOCONNECTION;
    if (count != 1 || handles[0] != 1001 || transaction != kReadTransaction) return E_INVALIDARG;
    *cancelId = kCancelId;
    *errors = TaskArray<HRESULT>(1);
    (*errors)[0] = S_OK;
    OPCHANDLE client = kItems[0].hClient;
    VARIANT value;
    ItemValue(1001, &value);
    WORD quality = OPC_QUALITY_GOOD;
    FILETIME time = ReadTimestamp(0);
    HRESULT error = S_OK;
    HRESULT hr = sink_->OnReadComplete(transaction, kClientGroup, S_OK, S_OK, 1, &client, &value, &quality, &time, &error);
    VariantClear(&value);
    return FAILED(hr) ? hr : S_OK;
  }
  STDMETHODIMP Write(DWORD, OPCHANDLE*, VARIANT*, DWORD, DWORD*, HRESULT**) override { return E_NOTIMPL; }
  STDMETHODIMP Refresh2(OPCDATASOURCE source, DWORD transaction, DWORD* cancelId) override {
    if (!sink_) return CONNECT_E_NOCONNECTION;
    if (source != OPC_DS_DEVICE || transaction != kRefreshTransaction) return E_INVALIDARG;
    *cancelId = kCancelId + 1;
    AddRef();  // released by FireDataChange
    PostThreadMessageW(g_mainThread, kFireDataChange, 0, reinterpret_cast<LPARAM>(this));
    return S_OK;
  }
  STDMETHODIMP Cancel2(DWORD) override { return E_NOTIMPL; }
  STDMETHODIMP SetEnable(BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP GetEnable(BOOL*) override { return E_NOTIMPL; }

  void FireDataChange() {
    if (sink_) {
      VARIANT values[kCallbackCount];
      FILETIME times[kCallbackCount];
      for (DWORD i = 0; i < kCallbackCount; ++i) {
        CallbackValue(i, &values[i]);
        times[i] = CallbackTimestamp(i);
      }
      sink_->OnDataChange(kRefreshTransaction, kClientGroup, S_FALSE, S_OK, kCallbackCount,
                          const_cast<OPCHANDLE*>(kCallbackHandles), values, const_cast<WORD*>(kCallbackQualities),
                          times, const_cast<HRESULT*>(kCallbackErrors));
      for (VARIANT& value : values) VariantClear(&value);
    }
    Release();
  }

  // IConnectionPointContainer, with the one point for IOPCDataCallback
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) override {
    *points = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
    *point = nullptr;
    if (riid != IID_IOPCDataCallback) return CONNECT_E_NOCONNECTION;
    *point = this;
    AddRef();
    return S_OK;
  }

  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    *iid = IID_IOPCDataCallback;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
    *container = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink_) return CONNECT_E_ADVISELIMIT;
    if (FAILED(sink->QueryInterface(IID_IOPCDataCallback, reinterpret_cast<void**>(&sink_))))
      return CONNECT_E_CANNOTCONNECT;
    *cookie = 1;
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    if (cookie != 1 || !sink_) return CONNECT_E_NOCONNECTION;
    sink_->Release();
    sink_ = nullptr;
    return S_OK;
  }
  STDMETHODIMP EnumConnections(IEnumConnections** connections) override {
    *connections = nullptr;
    return E_NOTIMPL;
  }

 private:
  IOPCDataCallback* sink_ = nullptr;
};

// The server object.
class Server final : public IOPCServer,
                     public IOPCCommon,
                     public IOPCItemProperties,
                     public IOPCBrowseServerAddressSpace,
                     public Counted {
 public:
  XELO_COUNTED_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IOPCServer) {
      *object = static_cast<IOPCServer*>(this);
    } else if (riid == IID_IOPCCommon) {
      *object = static_cast<IOPCCommon*>(this);
    } else if (riid == IID_IOPCItemProperties) {
      *object = static_cast<IOPCItemProperties*>(this);
    } else if (riid == IID_IOPCBrowseServerAddressSpace) {
      *object = static_cast<IOPCBrowseServerAddressSpace*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // IOPCServer
  STDMETHODIMP AddGroup(LPCWSTR name, BOOL active, DWORD rate, OPCHANDLE client, LONG* timeBias, FLOAT* deadband,
                        DWORD lcid, OPCHANDLE* server, DWORD* revisedRate, REFIID riid, LPUNKNOWN* group) override {
    *group = nullptr;
    // The deadband pointer is sent as NULL: a [unique] pointer must stay NULL.
    if (!SameText(name, kGroupName) || !active || rate != kRequestedRate || client != kClientGroup || !timeBias ||
        *timeBias != kTimeBias || deadband || lcid != kGroupLcid)
      return E_INVALIDARG;
    auto* created = new Group;
    HRESULT hr = created->QueryInterface(riid, reinterpret_cast<void**>(group));
    created->Release();
    if (FAILED(hr)) return hr;
    *server = kServerGroup;
    *revisedRate = kRevisedRate;
    return S_OK;
  }
  STDMETHODIMP GetErrorString(HRESULT error, LCID locale, LPWSTR* text) override {
    if (locale != kLocales[1]) return E_INVALIDARG;
    return GetErrorString(error, text);
  }
  STDMETHODIMP GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN* group) override {
    *group = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetStatus(OPCSERVERSTATUS** status) override {
    *status = TaskArray<OPCSERVERSTATUS>(1);
    OPCSERVERSTATUS& out = **status;
    std::memset(&out, 0, sizeof out);
    out.ftStartTime = kStartTime;
    GetSystemTimeAsFileTime(&out.ftCurrentTime);
    out.ftLastUpdateTime = kStartTime;
    out.dwServerState = OPC_STATUS_RUNNING;
    out.dwGroupCount = 1;
    out.dwBandWidth = 0xFFFFFFFF;
    out.wMajorVersion = kMajorVersion;
    out.wMinorVersion = kMinorVersion;
    out.wBuildNumber = kBuildNumber;
    std::wstring vendor = kVendorPrefix + std::to_wstring(GetCurrentProcessId());
    out.szVendorInfo = TaskString(vendor.c_str());
    return S_OK;
  }
  STDMETHODIMP RemoveGroup(OPCHANDLE group, BOOL force) override {
    return group == kServerGroup && !force ? S_OK : E_INVALIDARG;
  }
  STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN* enumerator) override {
    *enumerator = nullptr;
    return E_NOTIMPL;
  }

  // IOPCCommon
  STDMETHODIMP SetLocaleID(LCID locale) override {
    for (LCID known : kLocales)
      if (known == locale) {
        locale_ = locale;
        return S_OK;
      }
    return E_INVALIDARG;
  }
  STDMETHODIMP GetLocaleID(LCID* locale) override {
    *locale = locale_;
    return S_OK;
  }
  STDMETHODIMP QueryAvailableLocaleIDs(DWORD* count, LCID** locales) override {
    *count = sizeof kLocales / sizeof kLocales[0];
    *locales = TaskArray<LCID>(*count);
    std::memcpy(*locales, kLocales, sizeof kLocales);
    return S_OK;
  }
  STDMETHODIMP GetErrorString(HRESULT error, LPWSTR* text) override {
    *text = nullptr;
    if (error != kUnknownItemId) return E_INVALIDARG;
    *text = TaskString(kUnknownItemIdText);
    return S_OK;
  }
  STDMETHODIMP SetClientName(LPCWSTR name) override { return SameText(name, kClientName) ? S_OK : E_INVALIDARG; }

  // IOPCItemProperties
  STDMETHODIMP QueryAvailableProperties(LPWSTR item, DWORD* count, DWORD** ids, LPWSTR** descriptions,
                                        VARTYPE** types) override {
    if (!SameText(item, kFullItemId)) return E_INVALIDARG;
    *count = kPropertyCount;
    *ids = TaskArray<DWORD>(kPropertyCount);
    *descriptions = TaskArray<LPWSTR>(kPropertyCount);
    *types = TaskArray<VARTYPE>(kPropertyCount);
    for (DWORD i = 0; i < kPropertyCount; ++i) {
      (*ids)[i] = kPropertyIds[i];
      (*descriptions)[i] = TaskString(kPropertyDescriptions[i]);
      (*types)[i] = kPropertyTypes[i];
    }
    return S_OK;
  }
  STDMETHODIMP GetItemProperties(LPWSTR, DWORD, DWORD*, VARIANT**, HRESULT**) override { return E_NOTIMPL; }
  STDMETHODIMP LookupItemIDs(LPWSTR item, DWORD count, DWORD* ids, LPWSTR** itemIds, HRESULT** errors) override {
    if (!SameText(item, kFullItemId) || count != kLookupCount) return E_INVALIDARG;
    *itemIds = TaskArray<LPWSTR>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      bool arrived = ids[i] == kLookupIds[i];
      (*itemIds)[i] = arrived ? TaskString(kLookupItemIds[i]) : nullptr;
      (*errors)[i] = arrived ? kLookupErrors[i] : E_INVALIDARG;
    }
    return S_FALSE;
  }

  // IOPCBrowseServerAddressSpace
  STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* type) override {
    *type = OPC_NS_HIERARCHIAL;
    return S_OK;
  }
  STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION direction, LPCWSTR position) override {
    if (direction != OPC_BROWSE_TO || !position) return E_INVALIDARG;
    position_ = position;
    return S_OK;
  }
  STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE type, LPCWSTR filter, VARTYPE dataType, DWORD rights,
                                LPENUMSTRING* enumerator) override {
    *enumerator = nullptr;
    if (type != OPC_FLAT || !SameText(filter, kBrowseFilter) || dataType != VT_EMPTY || rights != OPC_READABLE)
      return E_INVALIDARG;
    *enumerator = new StringEnumerator;
    return S_OK;
  }
  STDMETHODIMP GetItemID(LPWSTR itemDataId, LPWSTR* itemId) override {
    *itemId = nullptr;
    if (position_.empty() || !SameText(itemDataId, kItemDataId)) return E_INVALIDARG;
    std::wstring full = position_ + L"." + itemDataId;
    *itemId = TaskString(full.c_str());
    return S_OK;
  }
  STDMETHODIMP BrowseAccessPaths(LPCWSTR, LPENUMSTRING* enumerator) override {
    *enumerator = nullptr;
    return E_NOTIMPL;
  }

 private:
  LCID locale_ = kLocales[0];
  std::wstring position_;
};

// IOPCEnumGUID over the listed classes.
class GuidEnumerator final : public IOPCEnumGUID, public Counted {
 public:
  XELO_COUNTED_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IOPCEnumGUID) {
      *object = static_cast<IOPCEnumGUID*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP Next(ULONG celt, GUID* elements, ULONG* fetched) override {
    ULONG count = 0;
    while (count < celt && position_ < kListedCount) elements[count++] = kListedClasses[position_++];
    if (fetched) *fetched = count;
    return count == celt ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
  STDMETHODIMP Reset() override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IOPCEnumGUID**) override { return E_NOTIMPL; }

 private:
  ULONG position_ = 0;
};

// The server browser: both generations of its interface.
class ServerList final : public IOPCServerList, public IOPCServerList2, public Counted {
 public:
  XELO_COUNTED_UNKNOWN
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IOPCServerList2) {
      *object = static_cast<IOPCServerList2*>(this);
    } else if (riid == IID_IOPCServerList) {
      *object = static_cast<IOPCServerList*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }

  // IOPCServerList: its enumerator is IEnumGUID, which Wine has no
  // proxy/stub for; the test leaves it to IOPCServerList2.
  STDMETHODIMP EnumClassesOfCategories(ULONG, CATID*, ULONG, CATID*, IEnumGUID** enumerator) override {
    *enumerator = nullptr;
    return E_NOTIMPL;
  }
  STDMETHODIMP GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType) override {
    *progId = *userType = nullptr;
    if (clsid != kServerClsid) return REGDB_E_CLASSNOTREG;
    *progId = TaskString(kProgId);
    *userType = TaskString(kUserType);
    return S_OK;
  }
  STDMETHODIMP CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) override {
    if (!SameText(progId, kProgId)) return CO_E_CLASSSTRING;
    *clsid = kServerClsid;
    return S_OK;
  }

  // IOPCServerList2
  STDMETHODIMP EnumClassesOfCategories(ULONG implementedCount, CATID* implemented, ULONG requiredCount,
                                       CATID* required, IOPCEnumGUID** enumerator) override {
    *enumerator = nullptr;
    if (implementedCount != 2 || implemented[0] != kCategoryDa10 || implemented[1] != kCategoryDa20 ||
        requiredCount != 1 || required[0] != kCategoryDa20)
      return E_INVALIDARG;
    *enumerator = new GuidEnumerator;
    return S_OK;
  }
  STDMETHODIMP GetClassDetails(REFCLSID clsid, LPOLESTR* progId, LPOLESTR* userType,
                               LPOLESTR* versionIndependentProgId) override {
    *versionIndependentProgId = nullptr;
    HRESULT hr = GetClassDetails(clsid, progId, userType);
    if (SUCCEEDED(hr)) *versionIndependentProgId = TaskString(kVersionIndependentProgId);
    return hr;
  }
};

template <typename Object>
class Factory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Static object: its references do not keep the process alive.
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* created = new Object;
    HRESULT hr = created->QueryInterface(riid, object);
    created->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      ++g_locks;
    } else {
      --g_locks;
      QuitWhenUnused();
    }
    return S_OK;
  }
};

bool RegisterComClass(bool add, const wchar_t* clsid, const wchar_t* description) {
  std::wstring key = std::wstring(L"CLSID\\") + clsid;
  if (!add) return RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str()) == ERROR_SUCCESS;
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return false;
  auto setDefault = [](const std::wstring& name, const wchar_t* value) {
    HKEY handle;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr))
      return false;
    LONG rc = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                             static_cast<DWORD>((std::wcslen(value) + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS;
  };
  return setDefault(key, description) && setDefault(key + L"\\LocalServer32", path);
}

int Register(bool add) {
  bool server = RegisterComClass(add, kServerClsidText, kServerDescription);
  bool list = RegisterComClass(add, kServerListClsidText, kServerListDescription);
  return server && list ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (_wcsicmp(argv[i], L"/RegServer") == 0 || _wcsicmp(argv[i], L"-RegServer") == 0) return Register(true);
    if (_wcsicmp(argv[i], L"/UnregServer") == 0 || _wcsicmp(argv[i], L"-UnregServer") == 0) return Register(false);
  }
  g_mainThread = GetCurrentThreadId();
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_NONE, RPC_C_IMP_LEVEL_IDENTIFY, nullptr,
                       EOAC_NONE, nullptr);
  static Factory<Server> serverFactory;
  static Factory<ServerList> listFactory;
  DWORD serverCookie = 0, listCookie = 0;
  if (FAILED(CoRegisterClassObject(kServerClsid, &serverFactory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                   &serverCookie)) ||
      FAILED(CoRegisterClassObject(kServerListClsid, &listFactory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE,
                                   &listCookie))) {
    CoUninitialize();
    return 3;
  }
  // A server nobody uses (activation failed on the client side) must not
  // linger: give up after a minute without objects.
  UINT_PTR idle = SetTimer(nullptr, 0, 60000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == nullptr && message.message == kFireDataChange) {
      reinterpret_cast<Group*>(message.lParam)->FireDataChange();
      continue;
    }
    if (message.hwnd == nullptr && message.message == WM_TIMER && message.wParam == idle) {
      if (g_objects.load() == 0) break;
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  KillTimer(nullptr, idle);
  CoRevokeClassObject(listCookie);
  CoRevokeClassObject(serverCookie);
  CoUninitialize();
  return 0;
}
