// A server that dies, refuses to start or is slow: the knobs with which the
// client's handling of a lost connection is tested.
#include "support/AllocationCheckedTest.h"
#include "support/RecordingSinks.h"
#include "SimHelpers.h"

#include <chrono>
#include <stdexcept>

namespace xelo::sim::test {
namespace {

using namespace std::chrono_literals;

const HRESULT kUnavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);

using DyingServer = SimulationTest;

// Also: creation is refused as often as told, and slow calls take their time.
TEST_F(DyingServer, AKilledServerAnswersNothingButReleaseAndKeepsItsSinksUntilReset) {
  auto callback = xelo::com::MakeComObject<DataSink>();
  auto shutdown = xelo::com::MakeComObject<ShutdownSink>();
  {
    Session session(Create());
    session.AddOne(OLESTR("Channel 1.Device 1.Ramp"), 1);
    ASSERT_NE(Connect(session.items.Get(), callback->GetUnknown()), 0u);
    ShutdownAdvice(session.server.Get(), shutdown->GetUnknown());  // holds no interface past this line
    Advance(100ms);
    ASSERT_GE(callback->events.size(), 1u) << "the subscription runs before the kill";
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
    const std::size_t before = callback->events.size();
    SimulationControl::SetItemValue(OLESTR("Channel 1.Device 1.Ramp"), MakeR8(42));
    SimulationControl::RequestShutdown(OLESTR("going"));
    SimulationControl::PublishNow();
    Advance(1000ms);
    EXPECT_EQ(callback->events.size(), before);
    EXPECT_TRUE(shutdown->reasons.empty());

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
  EXPECT_EQ(xelo::test::RefsOf(callback->GetUnknown()), 2u);
  EXPECT_EQ(xelo::test::RefsOf(shutdown->GetUnknown()), 2u);
  SimulationControl::Reset();
  EXPECT_EQ(xelo::test::RefsOf(callback->GetUnknown()), 1u) << "Reset releases what the dead server held";
  EXPECT_EQ(xelo::test::RefsOf(shutdown->GetUnknown()), 1u);
  EXPECT_THROW(SimulationControl::KillServers(S_OK), std::invalid_argument);
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
