// IOPCAsyncIO2: completions arrive through the scheduler, in order, with
// the client's transaction ids, never inside the call.
#include "support/RecordingSinks.h"
#include "SimHelpers.h"

#include <cmath>
#include <tuple>

namespace xelo::sim::test {
namespace {

class AsyncIo : public SimulationTest {
 protected:
  void SetUp() override {
    session_ = std::make_unique<Session>(Create(), 100000);  // no subscription updates in between
    sink_ = xelo::com::MakeComObject<DataSink>();
    cookie_ = Connect(session_->items.Get(), sink_->GetUnknown());
    io_ = session_->As<IOPCAsyncIO2>();
  }
  void TearDown() override {
    io_ = nullptr;
    session_.reset();
    SimulationTest::TearDown();
  }

  // The number of events once the clock moved `by` and what is due ran.
  std::size_t After(std::chrono::milliseconds by = {}) {
    Advance(by);
    return sink_->events.size();
  }
  std::unique_ptr<Session> session_;
  ComPtr<DataSink> sink_;
  DWORD cookie_ = 0;
  ComPtr<IOPCAsyncIO2> io_;
};

TEST_F(AsyncIo, ReadWriteRefreshCompleteInOrderOutsideTheCall) {
  const OPCHANDLE i32 = session_->AddOne(OLESTR("Static.Int32"), 1);
  const OPCHANDLE dbl = session_->AddOne(OLESTR("Static.Double"), 2);
  const OPCHANDLE readOnly = session_->AddOne(OLESTR("Static.ReadOnly"), 3);
  const OPCHANDLE writeOnly = session_->AddOne(OLESTR("Static.WriteOnly"), 4);
  const OPCHANDLE clamped = session_->AddOne(OLESTR("Behaviour.Clamped"), 7);
  const OPCHANDLE int16 = session_->AddOne(OLESTR("Static.Int16"), 8);

  DWORD cancelRead = 0, cancelWrite = 0, cancelRefresh = 0;
  gInsideCall = true;
  EXPECT_EQ(ReadAsync(io_.Get(), {i32, writeOnly, 999, dbl}, 1001, &cancelRead),
            (Codes{S_FALSE, S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE, S_OK}));
  // Conversion and clamping are results of the completion.
  EXPECT_EQ(WriteAsync(io_.Get(), {i32, readOnly, clamped, int16},
                       {MakeI4(-5), MakeI4(6), MakeR8(250), MakeI4(70000)}, 1002, &cancelWrite),
            (Codes{S_FALSE, S_OK, OPC_E_BADRIGHTS, S_OK, S_OK}));
  EXPECT_EQ(io_->Refresh2(OPC_DS_CACHE, 1003, &cancelRefresh), S_OK);
  gInsideCall = false;
  EXPECT_NE(cancelRead, 0u);
  EXPECT_NE(cancelWrite, cancelRead);
  ASSERT_EQ(After(), 3u);
  for (const auto& e : sink_->events) EXPECT_FALSE(e.duringCall);
  const DataEvent& r = sink_->events[0];
  const DataEvent& w = sink_->events[1];
  const DataEvent& f = sink_->events[2];
  // Kind, transaction, the client's group handle, master quality and error; the items (failed ones left out).
  EXPECT_EQ((std::vector<long>{r.kind, static_cast<long>(r.transactionId), static_cast<long>(r.group), r.masterQuality,
                               r.masterError, w.kind, static_cast<long>(w.transactionId), w.masterError, f.kind,
                               static_cast<long>(f.transactionId)}),
            (std::vector<long>{DataEvent::ReadComplete, 1001, 900, S_OK, S_OK, DataEvent::WriteComplete, 1002, S_FALSE,
                               DataEvent::DataChange, 1003}));
  // The refresh has every active item, the write already applied.
  EXPECT_EQ((std::vector{r.clients, w.clients, f.clients}),
            (std::vector<std::vector<OPCHANDLE>>{{1, 2}, {1, 7, 8}, {1, 2, 3, 4, 7, 8}}));
  EXPECT_EQ((std::tuple{r.values, w.errors, f.values[0]}),
            (std::tuple{std::vector<double>{32, 2.25}, Codes{S_OK, OPC_S_CLAMP, OPC_E_RANGE}, -5.0}));

  EXPECT_EQ(io_->Cancel2(cancelRead), E_FAIL);  // already completed
  const auto refresh = SimulationControl::LastArguments("IOPCAsyncIO2::Refresh2");
  EXPECT_EQ((std::pair{refresh->transactionId.value_or(0), refresh->dataSource.value_or(OPC_DS_DEVICE)}),
            (std::pair{DWORD{1003}, OPC_DS_CACHE}));
}

TEST_F(AsyncIo, CancelBeforeDeliveryAndTheSlowItem) {
  const OPCHANDLE slow = session_->AddOne(OLESTR("Behaviour.Slow"), 1);
  const OPCHANDLE fast = session_->AddOne(OLESTR("Static.Int32"), 2);
  DWORD cancelSlow2 = 0;
  EXPECT_EQ(ReadAsync(io_.Get(), {slow}, 10), (Codes{S_OK, S_OK}));
  EXPECT_EQ(ReadAsync(io_.Get(), {fast}, 11), (Codes{S_OK, S_OK}));
  EXPECT_EQ(ReadAsync(io_.Get(), {slow}, 12, &cancelSlow2), (Codes{S_OK, S_OK}));
  Pump();
  // The fast read is done; the slow ones wait for their second.
  ASSERT_EQ(sink_->events.size(), 1u);
  EXPECT_EQ(sink_->events[0].transactionId, 11u);
  EXPECT_EQ((Codes{io_->Cancel2(cancelSlow2), io_->Cancel2(cancelSlow2), io_->Cancel2(424242)}),
            (Codes{S_OK, E_FAIL, E_FAIL}));
  ASSERT_EQ(After(), 2u);
  EXPECT_EQ((std::pair{sink_->events[1].kind, sink_->events[1].transactionId}),
            (std::pair{DataEvent::CancelComplete, DWORD{12}}));
  EXPECT_EQ(After(std::chrono::milliseconds(999)), 2u);
  ASSERT_EQ(After(std::chrono::milliseconds(1)), 3u);
  EXPECT_EQ((std::tuple{sink_->events[2].kind, sink_->events[2].transactionId, sink_->events[2].values}),
            (std::tuple{DataEvent::ReadComplete, DWORD{10}, std::vector<double>{7}}));
  EXPECT_EQ(After(std::chrono::milliseconds(2000)), 3u) << "the cancelled slow read never completes";
}

TEST_F(AsyncIo, NoCallbackAfterUnadviseAndNoConnection) {
  const OPCHANDLE item = session_->AddOne(OLESTR("Static.Int32"), 1);
  ASSERT_EQ(ReadAsync(io_.Get(), {item}, 1), (Codes{S_OK, S_OK}));
  ASSERT_EQ(Disconnect(session_->items.Get(), cookie_), S_OK);
  Pump();
  EXPECT_TRUE(sink_->events.empty()) << "posted before the unadvise, but delivered after it";
  // No per-item codes either.
  EXPECT_EQ(ReadAsync(io_.Get(), {item}, 2), (Codes{CONNECT_E_NOCONNECTION}));
  DWORD cancel = 0;
  BOOL enabled = FALSE;
  EXPECT_EQ((Codes{io_->Refresh2(OPC_DS_DEVICE, 3, &cancel), io_->GetEnable(&enabled)}),
            (Codes{CONNECT_E_NOCONNECTION, CONNECT_E_NOCONNECTION}));
}

TEST_F(AsyncIo, RefreshNeedsActiveItemsAndEveryFailureMeansNoCompletion) {
  const OPCHANDLE item = session_->AddOne(OLESTR("Static.WriteOnly"), 1, VT_EMPTY, false);
  DWORD cancel = 0;
  EXPECT_EQ(io_->Refresh2(OPC_DS_CACHE, 1, &cancel), E_FAIL);  // no active item
  EXPECT_EQ(io_->Refresh2(static_cast<OPCDATASOURCE>(0), 1, &cancel), E_INVALIDARG);
  EXPECT_EQ(ReadAsync(io_.Get(), {item}, 2), (Codes{S_FALSE, OPC_E_BADRIGHTS}));
  Pump();
  EXPECT_TRUE(sink_->events.empty());
}

TEST_F(AsyncIo, EarlyCallbacksAndForeignHandlesOnRequest) {
  const OPCHANDLE item = session_->AddOne(OLESTR("Static.Int32"), 1);
  SimulationControl::SetEarlyCallbacks(true);
  SimulationControl::SetForeignGroupHandle(0xBAD);
  DWORD cancel = 0;
  gInsideCall = true;
  ASSERT_EQ(ReadAsync(io_.Get(), {item}, 77, &cancel), (Codes{S_OK, S_OK}));
  gInsideCall = false;
  ASSERT_EQ(sink_->events.size(), 1u);
  EXPECT_EQ((std::tuple{sink_->events[0].duringCall, sink_->events[0].group, sink_->events[0].transactionId}),
            (std::tuple{true, OPCHANDLE{0xBAD}, DWORD{77}}));
  EXPECT_EQ(io_->Cancel2(cancel), E_FAIL);
}

}  // namespace
}  // namespace xelo::sim::test
