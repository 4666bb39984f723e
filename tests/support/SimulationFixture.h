// The fixture of the simulation server tests: a scheduler of our own on a
// manual clock (nothing here ever sleeps or depends on wall-clock time), the
// server's control state reset and its strict ownership mode on before each
// test, and after each test the proof that the client session left nothing
// behind and broke no ownership rule: no live server or group objects, the
// task allocator, BSTR and HGLOBAL counts back where they started, and no
// ownership violation (every [out] buffer freed by now).
#pragma once

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/Activation.h"
#include "xelo/com/Apartment.h"
#include "xelo/com/BStr.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/ConnectionPoints.h"
#include "xelo/com/DataTransfer.h"
#include "xelo/com/GlobalMemory.h"
#include "xelo/com/ComPtr.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/opc/Opc.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace xelo::sim::test {

using xelo::com::ComPtr;

class SimulationTest : public ::testing::Test {
 protected:
  SimulationTest() : scheduler_(clock_.AsClock()) {
    xelo::com::InstallScheduler(&scheduler_);
    SimulationControl::Reset();
    // Here rather than in SetUp(), which fixtures of their own override.
    SimulationControl::SetStrictOwnership(true);
    before_ = xelo::com::LiveAllocations();
  }
  ~SimulationTest() override { xelo::com::InstallScheduler(nullptr); }

  void TearDown() override {
    // Whatever is still queued may hold nothing of ours; run it out.
    Pump();
    SimulationControl::CheckOwnership();
    const auto violations = SimulationControl::OwnershipViolations();
    EXPECT_TRUE(violations.empty()) << ::testing::PrintToString(violations);
    const auto live = SimulationControl::Live();
    EXPECT_EQ(live.servers, 0u) << "server objects still alive";
    EXPECT_EQ(live.groups, 0u) << "group objects still alive";
    const auto now = xelo::com::LiveAllocations();
    EXPECT_EQ(now.taskMemory, before_.taskMemory) << "task-allocator blocks leaked or freed twice";
    EXPECT_EQ(now.bstrs, before_.bstrs) << "BSTRs leaked or freed twice";
    EXPECT_EQ(now.globalMemory, before_.globalMemory) << "HGLOBALs leaked or freed twice";
    EXPECT_EQ(scheduler_.ActiveTimers(), 0u) << "timers still running";
  }

  // Runs everything posted so far (and what that posts in turn).
  void Pump() {
    for (int i = 0; i < 100 && scheduler_.ProcessPending() > 0; ++i) {
    }
  }
  // Moves the clock and runs what became due.
  void Advance(std::chrono::milliseconds by) {
    clock_.Advance(by);
    Pump();
  }

  template <class Interface = IOPCServer>
  ComPtr<Interface> Create(const OLECHAR* progId = OLESTR("Xelo.Sim.1")) {
    CLSID clsid{};
    EXPECT_EQ(xelo::com::ClassIdFromProgId(progId, &clsid), S_OK);
    ComPtr<Interface> server;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, xelo::com::IidOf<Interface>(), server.PutVoid()), S_OK);
    return server;
  }

  xelo::com::ManualClock clock_;
  xelo::com::DefaultScheduler scheduler_;

 private:
  xelo::com::AllocationCounts before_;
};

// Owns an OPCITEMDEF array's strings for a test.
struct ItemDefs {
  std::vector<com::OleString> ids;
  std::vector<com::OleString> paths;
  std::vector<OPCITEMDEF> defs;

  ItemDefs& Add(com::OleString id, OPCHANDLE client, VARTYPE requested = VT_EMPTY, bool active = true,
                com::OleString path = OLESTR("")) {
    ids.push_back(std::move(id));
    paths.push_back(std::move(path));
    defs.push_back(OPCITEMDEF{nullptr, nullptr, active ? TRUE : FALSE, client, 0, nullptr, requested, 0});
    for (std::size_t i = 0; i < defs.size(); ++i) {
      defs[i].szItemID = ids[i].data();
      defs[i].szAccessPath = paths[i].data();
    }
    return *this;
  }
  DWORD Count() const { return static_cast<DWORD>(defs.size()); }
  OPCITEMDEF* Data() { return defs.data(); }
};

// Frees an OPCITEMRESULT array with its blobs.
inline void FreeResults(OPCITEMRESULT* results, DWORD count) {
  for (DWORD i = 0; results != nullptr && i < count; ++i) CoTaskMemFree(results[i].pBlob);
  CoTaskMemFree(results);
}

inline com::OleString Take(LPWSTR text) {
  com::OleString copy = text != nullptr ? com::OleString(text) : com::OleString();
  CoTaskMemFree(text);
  return copy;
}

// Every string of an enumerator, freed as they are read.
inline std::vector<com::OleString> Drain(IEnumString* e) {
  std::vector<com::OleString> all;
  if (e == nullptr) return all;
  LPOLESTR texts[4];
  ULONG fetched = 0;
  for (;;) {
    const HRESULT hr = e->Next(4, texts, &fetched);
    for (ULONG i = 0; i < fetched; ++i) all.push_back(Take(texts[i]));
    if (hr != S_OK) break;
  }
  return all;
}

inline VARIANT MakeR8(double value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_R8;
  v.dblVal = value;
  return v;
}

inline VARIANT MakeI4(LONG value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

}  // namespace xelo::sim::test

namespace xelo::sim::test {

// A server with one group, as most tests need it.
struct Session {
  ComPtr<IOPCServer> server;
  OPCHANDLE groupHandle = 0;
  ComPtr<IOPCItemMgt> items;

  Session(ComPtr<IOPCServer> s, DWORD rate = 100, bool active = true, FLOAT deadband = 0.0f,
          OPCHANDLE clientGroup = 900)
      : server(std::move(s)) {
    DWORD revised = 0;
    EXPECT_TRUE(SUCCEEDED(server->AddGroup(OLESTR("G"), active ? TRUE : FALSE, rate, clientGroup, nullptr, &deadband, 0,
                                           &groupHandle, &revised, IID_IOPCItemMgt,
                                           reinterpret_cast<LPUNKNOWN*>(items.Put()))));
  }
  ~Session() { Close(); }
  void Close() {
    items = nullptr;
    if (server) server->RemoveGroup(groupHandle, FALSE);
    server = nullptr;
  }

  template <class Interface>
  ComPtr<Interface> As() const {
    return items.As<Interface>();
  }

  // Adds items and returns their server handles (0 for failures).
  std::vector<OPCHANDLE> Add(ItemDefs& defs, std::vector<HRESULT>* codes = nullptr, HRESULT* hr = nullptr) {
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT result = items->AddItems(defs.Count(), defs.Data(), &results, &errors);
    if (hr != nullptr) *hr = result;
    std::vector<OPCHANDLE> handles;
    for (DWORD i = 0; results != nullptr && i < defs.Count(); ++i) handles.push_back(results[i].hServer);
    if (codes != nullptr && errors != nullptr) codes->assign(errors, errors + defs.Count());
    FreeResults(results, defs.Count());
    CoTaskMemFree(errors);
    return handles;
  }
  OPCHANDLE AddOne(const com::OleString& id, OPCHANDLE client, VARTYPE requested = VT_EMPTY, bool active = true) {
    ItemDefs defs;
    defs.Add(id, client, requested, active);
    return Add(defs).at(0);
  }
};

}  // namespace xelo::sim::test
