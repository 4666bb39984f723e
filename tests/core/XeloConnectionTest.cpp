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

#include <chrono>
#include <vector>

namespace xelo::test {
namespace {

using namespace std::chrono_literals;

const HRESULT kUnavailable = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
constexpr const char* kCreations = "IClassFactory::CreateInstance";

class XeloConnection : public ServerFixture {
 protected:
  void SetUp() override {
    Application().SetClock(clock_.AsClock());
    ServerFixture::SetUp();
    server_->SetOnConnectionLost([this](TPersistent* sender, HRESULT error, const std::string& text) {
      EXPECT_EQ(sender, server_.get());
      losses_.push_back({error, text});
    });
    server_->SetOnReconnect([this](TPersistent* sender) {
      EXPECT_EQ(sender, server_.get());
      ++reconnects_;
    });
    server_->SetOnDatachange([this](TPersistent*, TXeloItemList* list) {
      std::vector<std::int32_t> qualities;
      for (int i = 0; i < list->GetCount(); ++i) qualities.push_back(list->GetItem(i)->GetQuality());
      changes_.push_back(qualities);
    });
  }
  void TearDown() override {
    ServerFixture::TearDown();
    EXPECT_EQ(SimulationControl::Live().killedServers, 0u) << "dead server objects still referenced";
    EXPECT_EQ(SimulationControl::Live().killedGroups, 0u) << "dead group objects still referenced";
    SimulationControl::Reset();  // releases what the dead servers held of ours
    Application().SetClock({});
  }

  // Moves the application's clock in steps of 1 ms, handling what falls
  // due at each step.
  void Advance(std::chrono::milliseconds by) {
    for (auto step = 0ms; step < by; step += 1ms) {
      clock_.Advance(1ms);
      Pump();
    }
  }
  // The clock times (in ms from now) of the creation attempts of the next
  // `span`.
  std::vector<long> AttemptTimes(std::chrono::milliseconds span) {
    std::vector<long> times;
    unsigned seen = SimulationControl::CallCount(kCreations);
    for (long t = 1; t <= span.count(); ++t) {
      Advance(1ms);
      for (; seen < SimulationControl::CallCount(kCreations); ++seen) times.push_back(t);
    }
    return times;
  }

  struct Loss {
    HRESULT error;
    std::string text;
  };
  com::ManualClock clock_;
  std::vector<Loss> losses_;
  std::vector<std::vector<std::int32_t>> changes_;
  int reconnects_ = 0;
};

TEST_F(XeloConnection, KeepAliveNoticesADeadServerWithinOnePeriodAndReportsTheLossOnce) {
  server_->SetKeepAlive(50);
  TXeloGroup* group = Groups().Add("G");
  group->SetUpdateRate(100);
  TXeloItem* ramp = group->GetOPCItems()->AddItem("Channel 1.Device 1.Ramp");
  TXeloItem* setpoint = group->GetOPCItems()->AddItem("Channel 1.Device 1.Setpoint");
  ConnectSim();
  Advance(100ms);
  ASSERT_TRUE(ramp->IsGoodQuality());
  ASSERT_TRUE(setpoint->IsGoodQuality());
  // The keep-alive reads the status once a period, and a slow answer is
  // no lost connection.
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), 2u);
  SimulationControl::StallMethod("IOPCServer::GetStatus", 20ms, true);
  Advance(50ms);
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), 3u);
  EXPECT_FALSE(server_->GetConnectionLost());
  changes_.clear();

  SimulationControl::KillServers();
  Advance(49ms);
  EXPECT_TRUE(losses_.empty());
  Advance(1ms);  // the next keep-alive tick
  ASSERT_EQ(losses_.size(), 1u);
  EXPECT_EQ(losses_[0].error, kUnavailable);
  // The system's text of the code (Windows words it its own way).
  EXPECT_FALSE(losses_[0].text.empty());
  EXPECT_EQ(losses_[0].text, com::SystemMessageText(kUnavailable));
  // One data change tells of every item, already bad with the
  // communication failure substatus.
  ASSERT_EQ(changes_.size(), 1u);
  EXPECT_EQ(changes_[0], (std::vector<std::int32_t>{0x18, 0x18}));
  EXPECT_EQ(ramp->GetQuality(), 0x18);
  EXPECT_FALSE(setpoint->IsGoodQuality());
  EXPECT_TRUE(server_->GetActive());
  EXPECT_FALSE(server_->Connected());
  EXPECT_TRUE(server_->GetConnectionLost());
  EXPECT_FALSE(group->IsOnServer());
  // The dead proxies were let go without asking the dead server anything
  // beyond the one status read that found it gone; nothing more follows.
  EXPECT_EQ(SimulationControl::Live().killedServers, 0u);
  EXPECT_EQ(SimulationControl::Live().killedGroups, 0u);
  EXPECT_EQ(SimulationControl::KilledCalls(), 1u);
  Advance(500ms);
  EXPECT_EQ(losses_.size(), 1u);
  EXPECT_EQ(changes_.size(), 1u);
  EXPECT_EQ(SimulationControl::CallCount(kCreations), 1u) << "no reconnection without AutoReconnect";

  // Reads, writes and refreshes fail at once and say why.
  EXPECT_EQ(OPCMessageOf([&] { group->SyncRead(nullptr, false); }), _STR_CONNECTIONLOST);
  EXPECT_EQ(OPCMessageOf([&] { group->AsyncRead(nullptr); }), _STR_CONNECTIONLOST);
  EXPECT_EQ(OPCMessageOf([&] { setpoint->WriteSync(Variant(1.5)); }), _STR_CONNECTIONLOST);
  EXPECT_EQ(OPCMessageOf([&] { group->Refresh(true); }), _STR_CONNECTIONLOST);
  raiseErrors_ = false;
  EXPECT_FALSE(group->SyncWrite(nullptr));
  EXPECT_EQ(errors_.back(), _STR_CONNECTIONLOST);
  raiseErrors_ = true;

  server_->SetActive(false);
  EXPECT_EQ(disconnects_, 1);
  EXPECT_FALSE(server_->GetConnectionLost());

  // Any failure of the status read counts, not only the RPC codes.
  SimulationControl::FailMethod("IOPCServer::GetStatus", E_FAIL);
  server_->SetActive(true);
  Advance(50ms);
  ASSERT_EQ(losses_.size(), 2u);
  EXPECT_EQ(losses_[1].error, E_FAIL);
  EXPECT_EQ(connects_, 2);
  server_->SetActive(false);  // a lost server that is still alive is let go without a call as well
  SimulationControl::ClearMethodFailures();
}

TEST_F(XeloConnection, AutoReconnectBacksOffThenRecreatesEveryGroupAndItemWithItsSettings) {
  server_->SetAutoReconnect(true);
  server_->SetReconnectInterval(20);
  server_->SetReconnectMaxInterval(70);
  TXeloGroup* fast = Groups().Add("Fast");
  fast->SetUpdateRate(200);
  fast->SetDeadBand(5.0f);
  TXeloItem* ramp = fast->GetOPCItems()->AddItem("Channel 1.Device 1.Ramp");
  ramp->SetRequestDatatype(vtR4);
  TXeloItem* quiet = fast->GetOPCItems()->AddItem("Static.Int32");
  quiet->SetIsActive(false);
  quiet->SetRequestDatatype(vtBSTR);
  TXeloGroup* idle = Groups().Add("Idle");
  idle->SetUpdateRate(500);
  idle->SetIsActive(false);
  idle->GetOPCItems()->AddItem("Channel 1.Device 1.Sine");
  ConnectSim();
  Advance(200ms);
  ASSERT_TRUE(ramp->IsGoodQuality());

  // No keep-alive here: the failing call itself shows the loss.
  SimulationControl::KillServers();
  SimulationControl::RefuseCreation(3);
  try {
    fast->SyncRead(nullptr, true);
    ADD_FAILURE() << "a read of a dead server must fail";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), kUnavailable);
  }
  EXPECT_TRUE(server_->GetConnectionLost()) << "reads fail at once from here on";
  EXPECT_EQ(OPCMessageOf([&] { fast->SyncRead(nullptr, true); }), _STR_CONNECTIONLOST);
  Pump();
  ASSERT_EQ(losses_.size(), 1u);
  ASSERT_EQ(changes_.back(), (std::vector<std::int32_t>{0x18, 0x18, 0x18}));

  // Waits of 20, 40, then 80 bounded to 70 ms; the fourth attempt succeeds.
  const unsigned before = SimulationControl::CallCount(kCreations);
  EXPECT_EQ(AttemptTimes(250ms), (std::vector<long>{20, 60, 130, 200}));
  EXPECT_EQ(SimulationControl::CallCount(kCreations), before + 4);
  EXPECT_EQ(reconnects_, 1);
  EXPECT_EQ(connects_, 1) << "OnConnect is the application's activation only";
  EXPECT_FALSE(server_->GetConnectionLost());
  EXPECT_TRUE(server_->Connected());

  // The new server has both groups and all items with their settings.
  EXPECT_EQ(SimulationControl::Live().groups, 2u);
  tGroupStateRec state;
  fast->GetState(state);
  EXPECT_EQ(state.UpdateRate, 200u);
  EXPECT_TRUE(state.Active);
  EXPECT_FLOAT_EQ(state.DeadBand, 5.0f);
  idle->GetState(state);
  EXPECT_EQ(state.UpdateRate, 500u);
  EXPECT_FALSE(state.Active);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), 4u) << "both groups, twice";
  ASSERT_TRUE(fast->SyncRead(nullptr, true));
  EXPECT_EQ(ramp->GetValue().VarType(), VT_R4);
  EXPECT_EQ(quiet->GetValue().VarType(), VT_BSTR) << "the requested type";
  EXPECT_EQ(quiet->GetQuality(), OPC_QUALITY_OUT_OF_SERVICE) << "still inactive on the server";

  // Values flow again with the next data changes.
  ramp->StoreQuality(0x18);
  const double last = ramp->GetValue().ToDouble();
  changes_.clear();
  Advance(400ms);
  EXPECT_FALSE(changes_.empty());
  EXPECT_TRUE(ramp->IsGoodQuality());
  EXPECT_NE(ramp->GetValue().ToDouble(), last);

  // Lost again: the waits start over from ReconnectInterval, and switching
  // Active off while the attempts go on ends them.
  SimulationControl::KillServers(RPC_E_DISCONNECTED);
  SimulationControl::RefuseCreation(1000);
  server_->SetKeepAlive(10);
  Advance(10ms);
  ASSERT_EQ(losses_.size(), 2u);
  EXPECT_EQ(losses_[1].error, RPC_E_DISCONNECTED);
  EXPECT_EQ(AttemptTimes(61ms), (std::vector<long>{20, 60}));
  server_->SetActive(false);
  EXPECT_EQ(disconnects_, 1);
  EXPECT_TRUE(AttemptTimes(1000ms).empty());
  EXPECT_FALSE(server_->GetConnectionLost());
  EXPECT_FALSE(server_->GetActive());
}

TEST_F(XeloConnection, WithTheOptionsOffNothingChanges) {
  EXPECT_EQ(server_->GetKeepAlive(), 0);
  EXPECT_FALSE(server_->GetAutoReconnect());
  EXPECT_EQ(server_->GetReconnectInterval(), 1000);
  EXPECT_EQ(server_->GetReconnectMaxInterval(), 60000);
  EXPECT_THROW(server_->SetKeepAlive(-1), EPropertyError);
  EXPECT_THROW(server_->SetReconnectInterval(0), EPropertyError);
  EXPECT_THROW(server_->SetReconnectMaxInterval(kMaxWatchInterval + 1), EPropertyError);
  EXPECT_EQ(server_->GetReconnectInterval(), 1000);

  TXeloGroup* group = Groups().Add("G");
  group->SetUpdateRate(100);
  TXeloItem* ramp = group->GetOPCItems()->AddItem("Channel 1.Device 1.Ramp");
  ConnectSim();
  Advance(100ms);
  ASSERT_TRUE(ramp->IsGoodQuality());
  // Stored configurations stay as they were: the defaults are not written.
  {
    TStringStream out;
    server_->SaveToStream(out);
    EXPECT_EQ(out.DataString().find("KeepAlive"), std::string::npos);
    EXPECT_EQ(out.DataString().find("Reconnect"), std::string::npos);
  }

  SimulationControl::KillServers();
  Advance(2000ms);
  EXPECT_EQ(SimulationControl::CallCount("IOPCServer::GetStatus"), 0u) << "no keep-alive";
  try {
    group->SyncRead(nullptr, false);
    ADD_FAILURE() << "a read of a dead server must fail";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), kUnavailable);
  }
  Advance(100ms);
  EXPECT_TRUE(losses_.empty());
  EXPECT_FALSE(server_->GetConnectionLost());
  EXPECT_TRUE(server_->Connected());
  EXPECT_TRUE(ramp->IsGoodQuality());
  EXPECT_EQ(SimulationControl::CallCount(kCreations), 1u);
  server_->SetActive(false);
  EXPECT_EQ(disconnects_, 1);

  // Set, the options go into the text and come back from it.
  server_->SetKeepAlive(250);
  server_->SetAutoReconnect(true);
  server_->SetReconnectMaxInterval(9000);
  TStringStream out;
  server_->SaveToStream(out);
  TXeloServer copy(nullptr);
  TStringStream in(out.DataString());
  copy.LoadFromStream(in);
  EXPECT_EQ(copy.GetKeepAlive(), 250);
  EXPECT_TRUE(copy.GetAutoReconnect());
  EXPECT_EQ(copy.GetReconnectInterval(), 1000);
  EXPECT_EQ(copy.GetReconnectMaxInterval(), 9000);
  TStringStream bad("object X: TXeloServer\r\n  ClientName = 'Other'\r\n  KeepAlive = -5\r\nend\r\n");
  EXPECT_THROW(copy.LoadFromStream(bad), EReadError);
  EXPECT_EQ(copy.GetKeepAlive(), 250);
  EXPECT_EQ(copy.GetClientName(), "") << "a file with a value out of bounds changes nothing";
}

}  // namespace
}  // namespace xelo::test
