// The server component's connection watch against a simulation server
// that dies: the keep-alive, the loss as the application sees it, the
// automatic reconnection with its back-off, and nothing of it with the
// options off.
//
// The application's timers run on a manual clock here, so that "within one
// keep-alive period" and the growing waits between attempts are checked to
// the millisecond without any test waiting for real time.
#include "support/ServerFixture.h"

#include "xelo/com/HResult.h"
#include "xelo/framework/Streams.h"

namespace xelo::test {
namespace {

using namespace std::chrono_literals;

const HRESULT kUnavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
constexpr const char* kCreations = "IClassFactory::CreateInstance";
using XeloConnection = WatchedServerFixture;

TEST_F(XeloConnection, KeepAliveNoticesADeadServerWithinOnePeriodAndReportsTheLossOnce) {
  server_->SetKeepAlive(50);
  TXeloGroup* group = AddGroup({"Channel 1.Device 1.Ramp", "Channel 1.Device 1.Setpoint"});
  group->SetUpdateRate(100);
  TXeloItem *ramp = group->GetOPCItems()->GetItem(0), *setpoint = group->GetOPCItems()->GetItem(1);
  ConnectSim(), Advance(100ms);
  ASSERT_TRUE(ramp->IsGoodQuality() && setpoint->IsGoodQuality());
  // The keep-alive reads the status once a period, and a slow answer is
  // no lost connection.
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), 2u);
  SimulationControl::StallMethod("IOPCServer::GetStatus", 20ms, true), Advance(50ms);
  EXPECT_EQ(std::tuple(SimulationControl::CallCount("IOPCServer::GetStatus"), server_->GetConnectionLost()),
            std::tuple(3u, false));
  changes_.clear();

  SimulationControl::KillServers(), Advance(49ms);
  const bool lostEarly = !losses_.empty();
  Advance(1ms);  // the next keep-alive tick
  ASSERT_EQ(std::tuple(lostEarly, losses_.size()), std::tuple(false, 1u));
  // Windows words the text its own way. One data change tells of every
  // item, already bad with the communication failure substatus.
  EXPECT_EQ(std::tuple(losses_[0].error, losses_[0].text, changes_, ramp->GetQuality(), server_->GetActive(),
                       server_->GetConnectionLost(), server_->Connected(), group->IsOnServer()),
            std::tuple(kUnavailable, com::SystemMessageText(kUnavailable),
                       std::vector<std::vector<std::int32_t>>{{0x18, 0x18}}, 0x18, true, true, false, false));
  // The dead proxies were let go without asking the dead server anything
  // beyond the one status read that found it gone; nothing more follows.
  EXPECT_EQ(std::tuple(SimulationControl::Live().killedServers + SimulationControl::Live().killedGroups,
                       SimulationControl::KilledCalls()), std::tuple(0u, 1u));
  Advance(500ms);  // no reconnection without AutoReconnect
  EXPECT_EQ(std::tuple(losses_.size() + changes_.size(), SimulationControl::CallCount(kCreations)), std::tuple(2u, 1u));

  // Reads, writes and refreshes fail at once and say why.
  EXPECT_EQ(MessageOf<EOPCException>([&] { group->SyncRead(nullptr, false); }) + MessageOf<EOPCException>([&] { group->AsyncRead(nullptr); }) +
                MessageOf<EOPCException>([&] { setpoint->WriteSync(Variant(1.5)); }) + MessageOf<EOPCException>([&] { group->Refresh(true); }),
            std::string(_STR_CONNECTIONLOST) + _STR_CONNECTIONLOST + _STR_CONNECTIONLOST + _STR_CONNECTIONLOST);
  server_->SetActive(false);
  EXPECT_TRUE(disconnects_ == 1 && !server_->GetConnectionLost());

  // Any failure of the status read counts, not only the RPC codes.
  SimulationControl::FailMethod("IOPCServer::GetStatus", E_FAIL);
  server_->SetActive(true), Advance(50ms);
  ASSERT_EQ(losses_.size(), 2u);
  EXPECT_EQ(std::tuple(losses_[1].error, connects_), std::tuple(E_FAIL, 2));
  server_->SetActive(false);  // a lost server that is still alive is let go without a call as well
  SimulationControl::ClearMethodFailures();
}

TEST_F(XeloConnection, AutoReconnectBacksOffThenRecreatesEveryGroupAndItemWithItsSettings) {
  server_->SetAutoReconnect(true), server_->SetReconnectInterval(20), server_->SetReconnectMaxInterval(70);
  TXeloGroup* fast = AddGroup({"Channel 1.Device 1.Ramp", "Static.Int32"}, "Fast");
  fast->SetUpdateRate(200), fast->SetDeadBand(5.0f);
  TXeloItem *ramp = fast->GetOPCItems()->GetItem(0), *quiet = fast->GetOPCItems()->GetItem(1);
  ramp->SetRequestDatatype(vtR4), quiet->SetIsActive(false), quiet->SetRequestDatatype(vtBSTR);
  TXeloGroup* idle = AddGroup({"Channel 1.Device 1.Sine"}, "Idle");
  idle->SetUpdateRate(500), idle->SetIsActive(false);
  ConnectSim(), Advance(200ms);
  ASSERT_TRUE(ramp->IsGoodQuality());

  // No keep-alive here: the failing call itself shows the loss.
  SimulationControl::KillServers(), SimulationControl::RefuseCreation(3);
  EXPECT_EQ(OleErrorOf([&] { fast->SyncRead(nullptr, true); }), kUnavailable) << "a read of a dead server must fail";
  EXPECT_EQ(MessageOf<EOPCException>([&] { fast->SyncRead(nullptr, true); }), _STR_CONNECTIONLOST) << "failing at once from here on";
  Pump();
  ASSERT_EQ(std::tuple(losses_.size(), changes_.back()), std::tuple(1u, std::vector<std::int32_t>{0x18, 0x18, 0x18}));

  // Waits of 20, 40, then 80 bounded to 70 ms; the fourth attempt succeeds.
  EXPECT_EQ(AttemptTimes(250ms), (std::vector<long>{20, 60, 130, 200}));
  // OnConnect is the application's activation only.
  EXPECT_EQ(std::tuple(reconnects_, connects_, server_->Connected(), server_->GetConnectionLost()),
            std::tuple(1, 1, true, false));

  // The new server has both groups and all items with their settings.
  tGroupStateRec state, idleState;
  fast->GetState(state), idle->GetState(idleState);
  // Both groups, twice, in one call each.
  EXPECT_EQ(std::tuple(SimulationControl::Live().groups, state.UpdateRate, state.Active, state.DeadBand, idleState.UpdateRate,
                       idleState.Active, SimulationControl::CallCount("IOPCItemMgt::AddItems")),
            std::tuple(2u, 200u, true, 5.0f, 500u, false, 4u));
  ASSERT_TRUE(fast->SyncRead(nullptr, true));
  // The requested types; the inactive item still inactive on the server.
  EXPECT_EQ(std::tuple(ramp->GetValue().VarType(), quiet->GetValue().VarType(), quiet->GetQuality()),
            std::tuple(VT_R4, VT_BSTR, OPC_QUALITY_OUT_OF_SERVICE));

  // Values flow again with the next data changes.
  ramp->StoreQuality(0x18);
  const double last = ramp->GetValue().ToDouble();
  Advance(400ms);
  EXPECT_TRUE(ramp->IsGoodQuality() && ramp->GetValue().ToDouble() != last);

  // Lost again: the waits start over from ReconnectInterval, and switching
  // Active off while the attempts go on ends them.
  SimulationControl::KillServers(RPC_E_DISCONNECTED), SimulationControl::RefuseCreation(1000);
  server_->SetKeepAlive(10), Advance(10ms);
  ASSERT_EQ(losses_.size(), 2u);
  EXPECT_EQ(losses_[1].error, RPC_E_DISCONNECTED);  // a code of its own
  EXPECT_EQ(AttemptTimes(61ms), (std::vector<long>{20, 60}));
  server_->SetActive(false);
  EXPECT_TRUE(disconnects_ == 1 && AttemptTimes(1000ms).empty() && !server_->GetConnectionLost() && !server_->GetActive());
}

// A server that asks its clients to go is mostly being restarted: with
// AutoReconnect it is waited for like a lost one, unless the shutdown
// handler switches the reconnection off.
TEST_F(XeloConnection, AShutdownRequestWithAutoReconnectIsWaitedFor) {
  server_->SetAutoReconnect(true), server_->SetReconnectInterval(30);
  TXeloGroup* group = AddGroup({"Channel 1.Device 1.Ramp"});
  group->SetUpdateRate(100);
  TXeloItem* ramp = group->GetOPCItems()->GetItem(0);
  std::vector<std::string> events;
  server_->SetOnServerShutdown([&](TPersistent*, const std::string&) { events.push_back("shutdown"); });
  ConnectSim(), Advance(100ms);
  ASSERT_TRUE(ramp->IsGoodQuality());

  SimulationControl::RequestShutdown(OLESTR("restarting")), Advance(1ms);
  EXPECT_EQ(events, std::vector<std::string>{"shutdown"});
  ASSERT_EQ(losses_.size(), 1u) << "after the shutdown event";
  EXPECT_EQ(std::tuple(losses_[0].error, ramp->GetQuality(), server_->GetActive(), server_->GetConnectionLost()),
            std::tuple(RPC_E_DISCONNECTED, 0x18, true, true));
  EXPECT_EQ(AttemptTimes(100ms), (std::vector<long>{30})) << "one attempt, after ReconnectInterval";
  // The old server object was let go.
  EXPECT_EQ(std::tuple(reconnects_, SimulationControl::Live().servers), std::tuple(1, 1u));

  // Switched off in the handler: the deactivation of old.
  server_->SetOnServerShutdown([&](TPersistent*, const std::string&) { server_->SetAutoReconnect(false); });
  SimulationControl::RequestShutdown(OLESTR("for good")), Advance(1ms);
  EXPECT_EQ(std::tuple(losses_.size(), disconnects_, server_->GetActive(), server_->GetConnectionLost()),
            std::tuple(1u, 1, false, false));
  EXPECT_TRUE(AttemptTimes(500ms).empty());
}

TEST(XeloConnectionCodes, TheCodesOfADeadOrUnreachableServerAreConnectionFailures) {
  // 0x80010007 and 0x80010012: the server died (and did not execute the call).
  const std::pair<HRESULT, bool> codes[] = {
      {kUnavailable, true}, {HRESULT_FROM_WIN32(RPC_S_CALL_FAILED), true}, {RPC_E_DISCONNECTED, true},
      {static_cast<HRESULT>(0x80010007u), true}, {static_cast<HRESULT>(0x80010012u), true}, {S_OK, false},
      {E_FAIL, false}, {RPC_E_CALL_REJECTED, false}, {OPC_E_INVALIDHANDLE, false}};
  for (const auto& [code, lost] : codes) EXPECT_EQ(IsConnectionFailure(code), lost) << std::hex << code;
}

TEST_F(XeloConnection, WithTheOptionsOffNothingChanges) {
  EXPECT_THROW(server_->SetKeepAlive(-1), EPropertyError);
  EXPECT_THROW(server_->SetReconnectInterval(0), EPropertyError);
  EXPECT_THROW(server_->SetReconnectMaxInterval(kMaxWatchInterval + 1), EPropertyError);

  TXeloGroup* group = AddGroup({"Channel 1.Device 1.Ramp"});
  group->SetUpdateRate(100);
  ConnectSim(), Advance(100ms);
  ASSERT_TRUE(group->GetOPCItems()->GetItem(0)->IsGoodQuality());
  // Stored configurations stay as they were: the defaults are not written.
  EXPECT_EQ(SaveText(*server_).find("KeepAlive") + SaveText(*server_).find("Reconnect"), 2 * std::string::npos);

  SimulationControl::KillServers(), Advance(2000ms);
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), 0u) << "no keep-alive";
  EXPECT_EQ(OleErrorOf([&] { group->SyncRead(nullptr, false); }), kUnavailable) << "a read of a dead server must fail";
  Advance(100ms);
  EXPECT_TRUE(losses_.empty() && server_->Connected() && !server_->GetConnectionLost() &&
              group->GetOPCItems()->GetItem(0)->IsGoodQuality() && SimulationControl::CallCount(kCreations) == 1u);
  server_->SetActive(false);

  // Set, the options go into the text and come back from it.
  server_->SetKeepAlive(250), server_->SetAutoReconnect(true), server_->SetReconnectMaxInterval(9000);
  TXeloServer copy(nullptr);
  LoadText(copy, SaveText(*server_));
  EXPECT_EQ(std::tuple(copy.GetKeepAlive(), copy.GetAutoReconnect(), copy.GetReconnectInterval(),
                       copy.GetReconnectMaxInterval()), std::tuple(250, true, 1000, 9000));
  EXPECT_THROW(LoadText(copy, "object X: TXeloServer\r\n  ClientName = 'Other'\r\n  KeepAlive = -5\r\nend\r\n"), EReadError);
  // A file with a value out of bounds changes nothing.
  EXPECT_EQ(std::tuple(copy.GetKeepAlive(), copy.GetClientName()), std::tuple(250, ""));
}

}  // namespace
}  // namespace xelo::test
