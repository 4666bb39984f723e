// A server that dies, refuses to start or is slow: the knobs with which the
// client's handling of a lost connection is tested.
#include "support/RecordingSinks.h"

#include <chrono>
#include <stdexcept>

namespace xelo::sim::test {
namespace {

using namespace std::chrono_literals;

const HRESULT kUnavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

// Sinks that know whether they are still alive, i.e. still referenced by
// somebody: a killed server must never release them.
class TrackedCallback final : public xelo::com::ComObject<IOPCDataCallback> {
 public:
  explicit TrackedCallback(int& alive) : alive_(alive) { ++alive_; }
  ~TrackedCallback() override { --alive_; }
  int dataChanges = 0;
  STDMETHOD(OnDataChange)(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                          HRESULT*) override {
    ++dataChanges;
    return S_OK;
  }
  STDMETHOD(OnReadComplete)(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                            HRESULT*) override {
    return S_OK;
  }
  STDMETHOD(OnWriteComplete)(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*, HRESULT*) override { return S_OK; }
  STDMETHOD(OnCancelComplete)(DWORD, OPCHANDLE) override { return S_OK; }

 private:
  int& alive_;
};

class TrackedShutdown final : public xelo::com::ComObject<IOPCShutdown> {
 public:
  explicit TrackedShutdown(int& alive) : alive_(alive) { ++alive_; }
  ~TrackedShutdown() override { --alive_; }
  int requests = 0;
  STDMETHOD(ShutdownRequest)(LPCWSTR) override {
    ++requests;
    return S_OK;
  }

 private:
  int& alive_;
};

using DyingServer = SimulationTest;

TEST_F(DyingServer, AKilledServerAnswersNothingButReleaseAndKeepsItsSinksUntilReset) {
  int alive = 0;
  auto callback = xelo::com::MakeComObject<TrackedCallback>(alive);
  auto shutdown = xelo::com::MakeComObject<TrackedShutdown>(alive);
  {
    Session session(Create());
    session.AddOne(OLESTR("Channel 1.Device 1.Ramp"), 1);
    ASSERT_NE(Connect(session.items.Get(), callback.Get()), 0u);
    ComPtr<IConnectionPointContainer> points = session.server.As<IConnectionPointContainer>();
    ComPtr<IConnectionPoint> shutdownPoint;
    ASSERT_EQ(points->FindConnectionPoint(IID_IOPCShutdown, shutdownPoint.Put()), S_OK);
    DWORD shutdownCookie = 0;
    ASSERT_EQ(shutdownPoint->Advise(shutdown.Get(), &shutdownCookie), S_OK);
    shutdownPoint = nullptr;
    points = nullptr;
    Advance(100ms);
    ASSERT_GE(callback->dataChanges, 1) << "the subscription runs before the kill";
    ComPtr<IOPCSyncIO> syncIO = session.As<IOPCSyncIO>();
    ASSERT_TRUE(syncIO);

    SimulationControl::KillServers();
    EXPECT_EQ(SimulationControl::Live().servers, 0u);
    EXPECT_EQ(SimulationControl::Live().killedServers, 1u);
    EXPECT_EQ(SimulationControl::Live().killedGroups, 1u);

    // Every call on the server and on its group, through an interface held
    // from before or a new one, answers that the server is gone.
    OPCSERVERSTATUS* status = nullptr;
    EXPECT_EQ(session.server->GetStatus(&status), kUnavailable);
    EXPECT_EQ(status, nullptr);
    OPCHANDLE handle = 1;
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(syncIO->Read(OPC_DS_CACHE, 1, &handle, &states, &errors), kUnavailable);
    EXPECT_EQ(states, nullptr);
    ComPtr<IOPCGroupStateMgt> state;
    EXPECT_EQ(session.items->QueryInterface(IID_IOPCGroupStateMgt, state.PutVoid()), kUnavailable);
    EXPECT_FALSE(state);
    ComPtr<IUnknown> identity;
    EXPECT_EQ(session.items->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK) << "answered locally";
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(session.server->QueryInterface(IID_IConnectionPointContainer, container.PutVoid()), kUnavailable);
    EXPECT_EQ(SimulationControl::KilledCalls(), 4u);

    // Nothing comes any more: no updates, no shutdown notice.
    const int before = callback->dataChanges;
    SimulationControl::SetItemValue(OLESTR("Channel 1.Device 1.Ramp"), MakeR8(42));
    SimulationControl::RequestShutdown(OLESTR("going"));
    SimulationControl::PublishNow();
    Advance(1000ms);
    EXPECT_EQ(callback->dataChanges, before);
    EXPECT_EQ(shutdown->requests, 0);

    // A new server is alive as ever.
    ComPtr<IOPCServer> fresh = Create();
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->GetStatus(&status), S_OK);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    EXPECT_EQ(SimulationControl::Live().servers, 1u);
    session.Close();  // RemoveGroup fails on the dead server, the releases work
    syncIO = nullptr;
    identity = nullptr;
  }
  // The client let go of everything: the dead objects are gone, yet the
  // sinks they held are still referenced, as a dead process leaves them.
  EXPECT_EQ(SimulationControl::Live().killedServers, 0u);
  EXPECT_EQ(SimulationControl::Live().killedGroups, 0u);
  callback = nullptr;
  shutdown = nullptr;
  EXPECT_EQ(alive, 2);
  SimulationControl::Reset();
  EXPECT_EQ(alive, 0) << "Reset releases what the dead server held";
  EXPECT_THROW(SimulationControl::KillServers(S_OK), std::invalid_argument);
}

TEST_F(DyingServer, CreationIsRefusedAsOftenAsToldAndSlowCallsTakeTheirTime) {
  SimulationControl::RefuseCreation(2);
  CLSID clsid{};
  ASSERT_EQ(xelo::com::ClassIdFromProgId(OLESTR("Xelo.Sim.1"), &clsid), S_OK);
  ComPtr<IOPCServer> server;
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid()), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_FALSE(server);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid()), CO_E_SERVER_EXEC_FAILURE);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid()), S_OK);
  ASSERT_TRUE(server);
  EXPECT_EQ(SimulationControl::CallCount("IClassFactory::CreateInstance"), 3u);
  server = nullptr;
  SimulationControl::RefuseCreation(1, E_ACCESSDENIED);
  EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid()), E_ACCESSDENIED);

  // A stalled method holds its caller for the time given, then answers as
  // usual; once means the next call only.
  server = Create();
  SimulationControl::StallMethod("IOPCServer::GetStatus", 60ms, true);
  OPCSERVERSTATUS* status = nullptr;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
  ASSERT_NE(status, nullptr);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), 1u);
  // A dead server does not keep anyone waiting.
  SimulationControl::StallMethod("IOPCServer::GetStatus", 10min);
  SimulationControl::KillServers(RPC_E_DISCONNECTED);
  EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
  SimulationControl::ClearMethodStalls();
}

}  // namespace
}  // namespace xelo::sim::test
