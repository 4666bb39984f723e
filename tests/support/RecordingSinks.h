// Client-side sinks that record what the server sends them, copying the
// data (the server owns what it passes) and noting whether the callback
// arrived while the test was inside a call to the server.
#pragma once

#include "SimulationFixture.h"

#include <cmath>
#include <cstring>

namespace xelo::sim::test {

// Set by a test around a server call whose callbacks must not arrive
// during the call.
inline bool gInsideCall = false;

struct DataEvent {
  enum Kind { DataChange, ReadComplete, WriteComplete, CancelComplete } kind;
  DWORD transactionId;
  OPCHANDLE group;
  HRESULT masterQuality;
  HRESULT masterError;
  std::vector<OPCHANDLE> clients;
  std::vector<double> values;       // VT_R8-convertible values, NaN otherwise
  std::vector<VARTYPE> types;
  std::vector<WORD> qualities;
  std::vector<HRESULT> errors;
  bool duringCall;
};

class DataSink final : public xelo::com::ComObject<IOPCDataCallback> {
 public:
  std::vector<DataEvent> events;

  STDMETHOD(OnDataChange)(DWORD transid, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                          OPCHANDLE* clients, VARIANT* values, WORD* qualities, FILETIME*, HRESULT* errors) override {
    Record(DataEvent::DataChange, transid, group, quality, error, count, clients, values, qualities, errors);
    return S_OK;
  }
  STDMETHOD(OnReadComplete)(DWORD transid, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
                            OPCHANDLE* clients, VARIANT* values, WORD* qualities, FILETIME*,
                            HRESULT* errors) override {
    Record(DataEvent::ReadComplete, transid, group, quality, error, count, clients, values, qualities, errors);
    return S_OK;
  }
  STDMETHOD(OnWriteComplete)(DWORD transid, OPCHANDLE group, HRESULT error, DWORD count, OPCHANDLE* clients,
                             HRESULT* errors) override {
    Record(DataEvent::WriteComplete, transid, group, S_OK, error, count, clients, nullptr, nullptr, errors);
    return S_OK;
  }
  STDMETHOD(OnCancelComplete)(DWORD transid, OPCHANDLE group) override {
    Record(DataEvent::CancelComplete, transid, group, S_OK, S_OK, 0, nullptr, nullptr, nullptr, nullptr);
    return S_OK;
  }

  std::size_t Count(DataEvent::Kind kind) const {
    std::size_t n = 0;
    for (const auto& e : events) n += e.kind == kind ? 1 : 0;
    return n;
  }

 private:
  void Record(DataEvent::Kind kind, DWORD transid, OPCHANDLE group, HRESULT quality, HRESULT error, DWORD count,
              OPCHANDLE* clients, VARIANT* values, WORD* qualities, HRESULT* errors) {
    DataEvent e{kind, transid, group, quality, error, {}, {}, {}, {}, {}, gInsideCall};
    for (DWORD i = 0; i < count; ++i) {
      e.clients.push_back(clients[i]);
      if (errors != nullptr) e.errors.push_back(errors[i]);
      if (qualities != nullptr) e.qualities.push_back(qualities[i]);
      if (values != nullptr) {
        e.types.push_back(values[i].vt);
        VARIANT r8;
        VariantInit(&r8);
        e.values.push_back(SUCCEEDED(VariantChangeType(&r8, &values[i], 0, VT_R8)) ? r8.dblVal : std::nan(""));
      }
    }
    events.push_back(std::move(e));
  }
};

struct StreamEvent {
  CLIPFORMAT format;
  std::vector<BYTE> bytes;
  bool duringCall;
};

class StreamSink final : public xelo::com::ComObject<IAdviseSink> {
 public:
  std::vector<StreamEvent> events;

  STDMETHOD_(void, OnDataChange)(FORMATETC* format, STGMEDIUM* medium) override {
    ASSERT_EQ(medium->tymed, TYMED_HGLOBAL);
    ASSERT_EQ(medium->pUnkForRelease, nullptr);
    const auto* data = static_cast<const BYTE*>(GlobalLock(medium->hGlobal));
    const SIZE_T size = GlobalSize(medium->hGlobal);
    events.push_back({format->cfFormat, std::vector<BYTE>(data, data + size), gInsideCall});
    GlobalUnlock(medium->hGlobal);
  }
  STDMETHOD_(void, OnViewChange)(DWORD, LONG) override {}
  STDMETHOD_(void, OnRename)(IMoniker*) override {}
  STDMETHOD_(void, OnSave)() override {}
  STDMETHOD_(void, OnClose)() override {}
};

class ShutdownSink final : public xelo::com::ComObject<IOPCShutdown> {
 public:
  std::vector<com::OleString> reasons;
  STDMETHOD(ShutdownRequest)(LPCWSTR reason) override {
    reasons.emplace_back(reason != nullptr ? reason : OLESTR(""));
    return S_OK;
  }
};

// Advises `sink` on the group's data callback point; returns the cookie.
inline DWORD Connect(IUnknown* group, IUnknown* sink, HRESULT* hr = nullptr) {
  ComPtr<IConnectionPointContainer> cpc;
  group->QueryInterface(IID_IConnectionPointContainer, cpc.PutVoid());
  ComPtr<IConnectionPoint> point;
  if (cpc) cpc->FindConnectionPoint(IID_IOPCDataCallback, point.Put());
  DWORD cookie = 0;
  const HRESULT result = point ? point->Advise(sink, &cookie) : E_NOINTERFACE;
  if (hr != nullptr) *hr = result;
  return cookie;
}

inline HRESULT Disconnect(IUnknown* group, DWORD cookie) {
  ComPtr<IConnectionPointContainer> cpc;
  group->QueryInterface(IID_IConnectionPointContainer, cpc.PutVoid());
  ComPtr<IConnectionPoint> point;
  cpc->FindConnectionPoint(IID_IOPCDataCallback, point.Put());
  return point->Unadvise(cookie);
}

}  // namespace xelo::sim::test
