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
    const auto live = SimulationControl::Live();
    EXPECT_EQ((std::vector<std::size_t>{live.servers, live.killedServers, live.killedGroups}),
              (std::vector<std::size_t>{0, 1, 1}));

    // Every call on the server and on its group, through an interface held
    // from before or a new one, answers that the server is gone.
    // IUnknown is answered locally.
    const SyncRead read(syncIO.Get(), OPC_DS_CACHE, {1});
    ComPtr<IOPCGroupStateMgt> state;
    ComPtr<IUnknown> identity;
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ((Codes{StatusOf(session.server.Get()).hr, read.hr,
                     session.items->QueryInterface(IID_IOPCGroupStateMgt, state.PutVoid()),
                     session.items->QueryInterface(IID_IUnknown, identity.PutVoid()),
                     session.server->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())}),
              (Codes{kUnavailable, kUnavailable, kUnavailable, S_OK, kUnavailable}));
    EXPECT_TRUE(read.states.empty() && read.errors.empty() && !state && !container);
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
    EXPECT_EQ(StatusOf(fresh.Get()).hr, S_OK);
    EXPECT_EQ(SimulationControl::Live().servers, 1u);
    session.Close();  // RemoveGroup fails on the dead server, the releases work
    syncIO = nullptr;
    identity = nullptr;
  }
  // The client let go of everything: the dead objects are gone, yet the
  // sinks they held are still referenced, as a dead process leaves them.
  const auto refs = [&] {
    return std::vector<ULONG>{xelo::test::RefsOf(callback->GetUnknown()), xelo::test::RefsOf(shutdown->GetUnknown())};
  };
  EXPECT_EQ((std::pair{SimulationControl::Live().killedServers, SimulationControl::Live().killedGroups}),
            (std::pair{std::size_t{0}, std::size_t{0}}));
  EXPECT_EQ(refs(), (std::vector<ULONG>{2, 2}));
  SimulationControl::Reset();
  EXPECT_EQ(refs(), (std::vector<ULONG>{1, 1})) << "Reset releases what the dead server held";
  EXPECT_THROW(SimulationControl::KillServers(S_OK), std::invalid_argument);
  SimulationControl::RefuseCreation(2);
  CLSID clsid{};
  ASSERT_EQ(xelo::com::ClassIdFromProgId(OLESTR("Xelo.Sim.1"), &clsid), S_OK);
  ComPtr<IOPCServer> server;
  const auto create = [&] {
    server = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid());
    EXPECT_EQ(SUCCEEDED(hr), static_cast<bool>(server));
    return hr;
  };
  EXPECT_EQ((Codes{create(), create(), create()}), (Codes{CO_E_SERVER_EXEC_FAILURE, CO_E_SERVER_EXEC_FAILURE, S_OK}));
  EXPECT_EQ(SimulationControl::CallCount("IClassFactory::CreateInstance"), 3u);
  SimulationControl::RefuseCreation(1, E_ACCESSDENIED);
  EXPECT_EQ(create(), E_ACCESSDENIED);

  // A stalled method holds its caller for the time given, then answers as
  // usual; once means the next call only.
  server = Create();
  SimulationControl::StallMethod("IOPCServer::GetStatus", 60ms, true);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(StatusOf(server.Get()).hr, S_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), 1u);
  // A dead server does not keep anyone waiting.
  SimulationControl::StallMethod("IOPCServer::GetStatus", 10min);
  SimulationControl::KillServers(RPC_E_DISCONNECTED);
  EXPECT_EQ(StatusOf(server.Get()).hr, RPC_E_DISCONNECTED);
  SimulationControl::ClearMethodStalls();
}

}  // namespace
}  // namespace xelo::sim::test
