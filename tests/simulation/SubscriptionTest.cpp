// Subscriptions: what OnDataChange sends at each update of a group.
#include "support/RecordingSinks.h"

namespace xelo::sim::test {
namespace {

class Subscription : public SimulationTest {
 protected:
  void Open(DWORD rate, FLOAT deadband) {
    session_ = std::make_unique<Session>(Create(), rate, true, deadband);
    sink_ = xelo::com::MakeComObject<DataSink>();
    Connect(session_->items.Get(), sink_->GetUnknown());
  }
  void TearDown() override {
    session_.reset();
    SimulationTest::TearDown();
  }
  void Set(const OLECHAR* id, double value) {
    VARIANT v = MakeR8(value);
    ASSERT_TRUE(SimulationControl::SetItemValue(id, v));
  }
  std::unique_ptr<Session> session_;
  ComPtr<DataSink> sink_;
};

TEST_F(Subscription, FirstValuesThenOnlyChangesAtTheUpdateRate) {
  Open(200, 0.0f);
  session_->AddOne(OLESTR("Channel 1.Device 1.Ramp"), 1);
  session_->AddOne(OLESTR("Static.Int32"), 2);
  session_->AddOne(OLESTR("Channel 1.Device 1.Counter"), 3, VT_EMPTY, false);  // inactive
  Advance(std::chrono::milliseconds(100));  // one signal cycle, no group update yet
  EXPECT_TRUE(sink_->events.empty());
  Advance(std::chrono::milliseconds(100));  // second cycle and the group's first update
  ASSERT_EQ(sink_->events.size(), 1u);
  const DataEvent& first = sink_->events[0];
  EXPECT_EQ(first.kind, DataEvent::DataChange);
  EXPECT_EQ(first.transactionId, 0u);
  EXPECT_EQ(first.group, 900u);
  EXPECT_EQ(first.clients, (std::vector<OPCHANDLE>{1, 2}));
  EXPECT_EQ(first.values, (std::vector<double>{2, 32}));  // the ramp moved twice
  EXPECT_EQ(first.masterQuality, S_OK);
  EXPECT_EQ(first.masterError, S_OK);

  // The scheduler ticks a late timer once, so the clock moves in cycles.
  Advance(std::chrono::milliseconds(100));
  Advance(std::chrono::milliseconds(100));  // the static item did not change
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ(sink_->events[1].clients, (std::vector<OPCHANDLE>{1}));
  EXPECT_EQ(sink_->events[1].values, (std::vector<double>{4}));
}

TEST_F(Subscription, RequestedTypesQualityChangesAndMasterQuality) {
  Open(100, 0.0f);
  session_->AddOne(OLESTR("Static.String"), 0, VT_I4);  // "Hello" is no number
  session_->AddOne(OLESTR("Static.Int16"), 2, VT_R8);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 1u);
  EXPECT_EQ(sink_->events[0].types, (std::vector<VARTYPE>{VT_EMPTY, VT_R8}));
  EXPECT_EQ(sink_->events[0].errors, (std::vector<HRESULT>{OPC_E_BADTYPE, S_OK}));
  EXPECT_EQ(sink_->events[0].masterError, S_FALSE);
  EXPECT_EQ(sink_->events[0].masterQuality, S_FALSE);
  ASSERT_TRUE(SimulationControl::SetItemQuality(OLESTR("Static.Int16"), OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE));
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ(sink_->events[1].clients, (std::vector<OPCHANDLE>{2}));
  EXPECT_EQ(sink_->events[1].qualities, (std::vector<WORD>{OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE}));
  EXPECT_EQ(sink_->events[1].masterQuality, S_FALSE);
  SimulationControl::PublishNow();
  EXPECT_EQ(sink_->events.size(), 2u);
}

TEST_F(Subscription, PercentDeadbandOfTheEngineeringRange) {
  // Static.Double spans -1000..1000: 10 % is 200.
  Open(100, 10.0f);
  session_->AddOne(OLESTR("Static.Double"), 1);
  session_->AddOne(OLESTR("Static.Int32"), 2);  // not analog: every change counts
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 1u);
  Set(OLESTR("Static.Double"), 2.25 + 199.0);
  VARIANT i = MakeI4(33);
  SimulationControl::SetItemValue(OLESTR("Static.Int32"), i);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ(sink_->events[1].clients, (std::vector<OPCHANDLE>{2}));
  Set(OLESTR("Static.Double"), 2.25 + 200.0);  // exactly the band: still inside
  SimulationControl::PublishNow();
  EXPECT_EQ(sink_->events.size(), 2u);
  Set(OLESTR("Static.Double"), 2.25 + 200.5);  // beyond it, measured from the last value sent
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 3u);
  EXPECT_EQ(sink_->events[2].clients, (std::vector<OPCHANDLE>{1}));
  EXPECT_EQ(sink_->events[2].values, (std::vector<double>{202.75}));
}

TEST_F(Subscription, InactiveItemsGroupsAndSetEnable) {
  Open(100, 0.0f);
  const OPCHANDLE h = session_->AddOne(OLESTR("Static.Double"), 1);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 1u);
  const auto setActive = [&](BOOL active) {
    HRESULT* errors = nullptr;
    OPCHANDLE handles[] = {h};
    EXPECT_EQ(session_->items->SetActiveState(1, handles, active, &errors), S_OK);
    CoTaskMemFree(errors);
  };
  setActive(FALSE);
  Set(OLESTR("Static.Double"), 5);
  SimulationControl::PublishNow();
  EXPECT_EQ(sink_->events.size(), 1u);
  setActive(TRUE);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 2u);  // reactivated: its value goes out again

  auto io = session_->As<IOPCAsyncIO2>();
  ASSERT_EQ(io->SetEnable(FALSE), S_OK);
  BOOL enabled = TRUE;
  ASSERT_EQ(io->GetEnable(&enabled), S_OK);
  EXPECT_EQ(enabled, FALSE);
  Set(OLESTR("Static.Double"), 6);
  SimulationControl::PublishNow();
  EXPECT_EQ(sink_->events.size(), 2u);
  DWORD cancel = 0;
  ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, 9, &cancel), S_OK);  // still answered while disabled
  Pump();
  ASSERT_EQ(sink_->events.size(), 3u);
  EXPECT_EQ(sink_->events[2].transactionId, 9u);
  ASSERT_EQ(io->SetEnable(TRUE), S_OK);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 4u);  // the change made while disabled
  EXPECT_EQ(sink_->events[3].values, (std::vector<double>{6}));

  auto state = session_->As<IOPCGroupStateMgt>();
  BOOL off = FALSE;
  DWORD revised;
  ASSERT_EQ(state->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr, nullptr), S_OK);
  Set(OLESTR("Static.Double"), 7);
  SimulationControl::PublishNow();
  EXPECT_EQ(sink_->events.size(), 4u);
  BOOL on = TRUE;
  ASSERT_EQ(state->SetState(nullptr, &revised, &on, nullptr, nullptr, nullptr, nullptr), S_OK);
  SimulationControl::PublishNow();
  ASSERT_EQ(sink_->events.size(), 5u);
  // An activation sends every active item, changed or not.
  ASSERT_EQ(state->SetState(nullptr, &revised, &off, nullptr, nullptr, nullptr, nullptr), S_OK);
  ASSERT_EQ(state->SetState(nullptr, &revised, &on, nullptr, nullptr, nullptr, nullptr), S_OK);
  SimulationControl::PublishNow();
  EXPECT_EQ(sink_->events.size(), 6u);
}

}  // namespace
}  // namespace xelo::sim::test
