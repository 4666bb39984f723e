// Subscriptions: what OnDataChange sends at each update of a group.
#include "support/RecordingSinks.h"
#include "SimHelpers.h"

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
  // The number of events after an update now.
  std::size_t Publish() {
    SimulationControl::PublishNow();
    return sink_->events.size();
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
  EXPECT_EQ((std::vector<long>{first.kind, static_cast<long>(first.transactionId), static_cast<long>(first.group),
                               first.masterQuality, first.masterError}),
            (std::vector<long>{DataEvent::DataChange, 0, 900, S_OK, S_OK}));
  EXPECT_EQ(first.clients, (std::vector<OPCHANDLE>{1, 2}));
  EXPECT_EQ(first.values, (std::vector<double>{2, 32}));  // the ramp moved twice

  // The scheduler ticks a late timer once, so the clock moves in cycles.
  Advance(std::chrono::milliseconds(100));
  Advance(std::chrono::milliseconds(100));  // the static item did not change
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ((std::pair{sink_->events[1].clients, sink_->events[1].values}),
            (std::pair{std::vector<OPCHANDLE>{1}, std::vector<double>{4}}));
}

TEST_F(Subscription, RequestedTypesQualityChangesAndMasterQuality) {
  Open(100, 0.0f);
  session_->AddOne(OLESTR("Static.String"), 0, VT_I4);  // "Hello" is no number
  session_->AddOne(OLESTR("Static.Int16"), 2, VT_R8);
  ASSERT_EQ(Publish(), 1u);
  EXPECT_EQ(sink_->events[0].types, (std::vector<VARTYPE>{VT_EMPTY, VT_R8}));
  EXPECT_EQ(sink_->events[0].errors, (std::vector<HRESULT>{OPC_E_BADTYPE, S_OK}));
  EXPECT_EQ((Codes{sink_->events[0].masterError, sink_->events[0].masterQuality}), (Codes{S_FALSE, S_FALSE}));
  ASSERT_TRUE(SimulationControl::SetItemQuality(OLESTR("Static.Int16"), OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE));
  ASSERT_EQ(Publish(), 2u);
  EXPECT_EQ((std::pair{sink_->events[1].clients, sink_->events[1].qualities}),
            (std::pair{std::vector<OPCHANDLE>{2}, std::vector<WORD>{OPC_QUALITY_BAD | OPC_QUALITY_COMM_FAILURE}}));
  EXPECT_EQ(sink_->events[1].masterQuality, S_FALSE);
  EXPECT_EQ(Publish(), 2u);
}

TEST_F(Subscription, PercentDeadbandOfTheEngineeringRange) {
  // Static.Double spans -1000..1000: 10 % is 200.
  Open(100, 10.0f);
  session_->AddOne(OLESTR("Static.Double"), 1);
  session_->AddOne(OLESTR("Static.Int32"), 2);  // not analog: every change counts
  ASSERT_EQ(Publish(), 1u);
  Set(OLESTR("Static.Double"), 2.25 + 199.0);
  Set(OLESTR("Static.Int32"), 33);
  ASSERT_EQ(Publish(), 2u);
  EXPECT_EQ(sink_->events[1].clients, (std::vector<OPCHANDLE>{2}));
  Set(OLESTR("Static.Double"), 2.25 + 200.0);  // exactly the band: still inside
  EXPECT_EQ(Publish(), 2u);
  Set(OLESTR("Static.Double"), 2.25 + 200.5);  // beyond it, measured from the last value sent
  ASSERT_EQ(Publish(), 3u);
  EXPECT_EQ((std::pair{sink_->events[2].clients, sink_->events[2].values}),
            (std::pair{std::vector<OPCHANDLE>{1}, std::vector<double>{202.75}}));
}

TEST_F(Subscription, InactiveItemsGroupsAndSetEnable) {
  Open(100, 0.0f);
  OPCHANDLE h = session_->AddOne(OLESTR("Static.Double"), 1);
  ASSERT_EQ(Publish(), 1u);
  HRESULT* errors = nullptr;
  EXPECT_EQ(Answer(session_->items->SetActiveState(1, &h, FALSE, &errors), errors, 1), (Codes{S_OK, S_OK}));
  Set(OLESTR("Static.Double"), 5);
  EXPECT_EQ(Publish(), 1u);
  EXPECT_EQ(Answer(session_->items->SetActiveState(1, &h, TRUE, &errors), errors, 1), (Codes{S_OK, S_OK}));
  ASSERT_EQ(Publish(), 2u);  // reactivated: its value goes out again

  auto io = session_->As<IOPCAsyncIO2>();
  BOOL enabled = TRUE;
  ASSERT_EQ((Codes{io->SetEnable(FALSE), io->GetEnable(&enabled), enabled}), (Codes{S_OK, S_OK, FALSE}));
  Set(OLESTR("Static.Double"), 6);
  EXPECT_EQ(Publish(), 2u);
  DWORD cancel = 0;
  ASSERT_EQ(io->Refresh2(OPC_DS_DEVICE, 9, &cancel), S_OK);  // still answered while disabled
  Pump();
  ASSERT_EQ(sink_->events.size(), 3u);
  EXPECT_EQ(sink_->events[2].transactionId, 9u);
  ASSERT_EQ(io->SetEnable(TRUE), S_OK);
  ASSERT_EQ(Publish(), 4u);  // the change made while disabled
  EXPECT_EQ(sink_->events[3].values, (std::vector<double>{6}));

  ASSERT_EQ(SetGroupActive(*session_, FALSE), S_OK);
  Set(OLESTR("Static.Double"), 7);
  EXPECT_EQ(Publish(), 4u);
  ASSERT_EQ(SetGroupActive(*session_, TRUE), S_OK);
  ASSERT_EQ(Publish(), 5u);
  // An activation sends every active item, changed or not.
  ASSERT_EQ((Codes{SetGroupActive(*session_, FALSE), SetGroupActive(*session_, TRUE)}), (Codes{S_OK, S_OK}));
  EXPECT_EQ(Publish(), 6u);
}

}  // namespace
}  // namespace xelo::sim::test
