// What the simulation tests read back through the server's [out] buffers,
// copied into plain values and the buffers freed at once, so that a test
// can compare a whole answer in one expectation.
#pragma once

#include "support/SimulationFixture.h"

#include <vector>

namespace xelo::sim::test {

using Codes = std::vector<HRESULT>;

// An [out] interface argument of the OPC calls that take an LPUNKNOWN*.
template <class Interface>
LPUNKNOWN* Out(ComPtr<Interface>& p) {
  return reinterpret_cast<LPUNKNOWN*>(p.Put());
}

// The per-item codes of a call, freed.
inline Codes Take(HRESULT* errors, DWORD count) {
  Codes codes;
  if (errors != nullptr) codes.assign(errors, errors + count);
  CoTaskMemFree(errors);
  return codes;
}

// A call's own code followed by its per-item codes, freed.
inline Codes Answer(HRESULT hr, HRESULT*& errors, DWORD count) {
  Codes codes = Take(errors, count);
  codes.insert(codes.begin(), hr);
  errors = nullptr;
  return codes;
}

// An IOPCAsyncIO2 read or write, answered as Answer() does.
inline Codes ReadAsync(IOPCAsyncIO2* io, std::vector<OPCHANDLE> handles, DWORD transaction, DWORD* cancel = nullptr) {
  DWORD ignored = 0;
  HRESULT* errors = nullptr;
  const auto n = static_cast<DWORD>(handles.size());
  return Answer(io->Read(n, handles.data(), transaction, cancel ? cancel : &ignored, &errors), errors, n);
}
inline Codes WriteAsync(IOPCAsyncIO2* io, std::vector<OPCHANDLE> handles, std::vector<VARIANT> values,
                        DWORD transaction, DWORD* cancel = nullptr) {
  DWORD ignored = 0;
  HRESULT* errors = nullptr;
  const auto n = static_cast<DWORD>(handles.size());
  return Answer(io->Write(n, handles.data(), values.data(), transaction, cancel ? cancel : &ignored, &errors), errors,
                n);
}

// A sync read whose item states own their values until it goes.
struct SyncRead {
  HRESULT hr;
  std::vector<OPCITEMSTATE> states;
  Codes errors;
  SyncRead(IOPCSyncIO* io, OPCDATASOURCE source, std::vector<OPCHANDLE> handles) {
    OPCITEMSTATE* s = nullptr;
    HRESULT* e = nullptr;
    hr = io->Read(source, static_cast<DWORD>(handles.size()), handles.data(), &s, &e);
    if (s != nullptr) states.assign(s, s + handles.size());
    errors = Take(e, static_cast<DWORD>(handles.size()));
    CoTaskMemFree(s);
  }
  SyncRead(const SyncRead&) = delete;
  SyncRead& operator=(const SyncRead&) = delete;
  ~SyncRead() {
    for (auto& s : states) VariantClear(&s.vDataValue);
  }
};

// GetStatus's code and answer, freed; a failure hands over nothing.
struct Status {
  HRESULT hr;
  OPCSERVERSTATUS fields{};
  com::OleString vendor;
};
inline Status StatusOf(IOPCServer* server) {
  Status r;
  OPCSERVERSTATUS* s = nullptr;
  r.hr = server->GetStatus(&s);
  EXPECT_EQ(s == nullptr, FAILED(r.hr));
  if (s != nullptr) r.fields = *s, r.vendor = Take(s->szVendorInfo), r.fields.szVendorInfo = nullptr;
  CoTaskMemFree(s);
  return r;
}

// Switches a group (in)active.
inline HRESULT SetGroupActive(const Session& session, BOOL active) {
  DWORD revised = 0;
  return session.As<IOPCGroupStateMgt>()->SetState(nullptr, &revised, &active, nullptr, nullptr, nullptr, nullptr);
}

struct GroupState {
  DWORD rate = 0;
  BOOL active = FALSE;
  com::OleString name;
  LONG bias = 0;
  FLOAT deadband = -1;
  LCID lcid = 0;
  OPCHANDLE client = 0;
  OPCHANDLE handle = 0;
};

inline GroupState StateOf(IOPCGroupStateMgt* group) {
  GroupState s;
  LPWSTR name = nullptr;
  EXPECT_EQ(group->GetState(&s.rate, &s.active, &name, &s.bias, &s.deadband, &s.lcid, &s.client, &s.handle), S_OK);
  s.name = Take(name);
  return s;
}

struct ItemAttributes {
  com::OleString id;
  OPCHANDLE client = 0;
  OPCHANDLE server = 0;
  BOOL active = FALSE;
  VARTYPE requested = VT_EMPTY;
  VARTYPE canonical = VT_EMPTY;
  OPCEUTYPE euType = OPC_NOENUM;
  VARTYPE euInfoType = VT_EMPTY;
  std::vector<double> euRange;  // of an analog item
};

// The attributes of a group's items, as many as `ask` in one Next.
inline std::vector<ItemAttributes> AttributesOf(IOPCItemMgt* items, ULONG ask = 16) {
  std::vector<ItemAttributes> all;
  ComPtr<IEnumOPCItemAttributes> e;
  items->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(e.Put()));
  if (!e) return all;
  OPCITEMATTRIBUTES* a = nullptr;
  ULONG fetched = 0;
  const HRESULT hr = e->Next(ask, &a, &fetched);
  EXPECT_EQ(hr, fetched == ask ? S_OK : S_FALSE);
  for (ULONG i = 0; i < fetched; ++i) {
    ItemAttributes x{a[i].szItemID, a[i].hClient, a[i].hServer, a[i].bActive, a[i].vtRequestedDataType,
                     a[i].vtCanonicalDataType, a[i].dwEUType, a[i].vEUInfo.vt, {}};
    if (a[i].vEUInfo.vt == (VT_ARRAY | VT_R8)) {
      const auto* d = static_cast<const double*>(a[i].vEUInfo.parray->pvData);
      x.euRange.assign(d, d + a[i].vEUInfo.parray->rgsabound[0].cElements);
    }
    all.push_back(std::move(x));
    CoTaskMemFree(a[i].szItemID);
    CoTaskMemFree(a[i].szAccessPath);
    CoTaskMemFree(a[i].pBlob);
    VariantClear(&a[i].vEUInfo);
  }
  CoTaskMemFree(a);
  return all;
}

// A sink advised on a server's shutdown connection point.
struct ShutdownAdvice {
  ComPtr<IConnectionPoint> point;
  DWORD cookie = 0;
  ShutdownAdvice(IUnknown* server, IUnknown* sink) {
    ComPtr<IConnectionPointContainer> points;
    server->QueryInterface(IID_IConnectionPointContainer, points.PutVoid());
    EXPECT_EQ(points ? points->FindConnectionPoint(IID_IOPCShutdown, point.Put()) : E_NOINTERFACE, S_OK);
    EXPECT_EQ(point ? point->Advise(sink, &cookie) : E_POINTER, S_OK);
  }
  HRESULT Unadvise() { return point->Unadvise(cookie); }
};

}  // namespace xelo::sim::test
