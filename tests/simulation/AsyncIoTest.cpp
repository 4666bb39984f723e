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

  OPCHANDLE readHandles[] = {i32, writeOnly, 999, dbl};
  OPCHANDLE writeHandles[] = {i32, readOnly, clamped, int16};
  VARIANT values[] = {MakeI4(-5), MakeI4(6), MakeR8(250), MakeI4(70000)};
  DWORD cancelRead = 0;
  DWORD cancelWrite = 0;
  DWORD cancelRefresh = 0;
  HRESULT* readErrors = nullptr;
  HRESULT* writeErrors = nullptr;
  gInsideCall = true;
  const HRESULT read = io_->Read(4, readHandles, 1001, &cancelRead, &readErrors);
  const HRESULT write = io_->Write(4, writeHandles, values, 1002, &cancelWrite, &writeErrors);
  const HRESULT refresh = io_->Refresh2(OPC_DS_CACHE, 1003, &cancelRefresh);
  gInsideCall = false;
  EXPECT_EQ((Codes{read, write, refresh}), (Codes{S_FALSE, S_FALSE, S_OK}));
  EXPECT_EQ(Take(readErrors, 4), (Codes{S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE, S_OK}));
  // Conversion and clamping are results of the completion.
  EXPECT_EQ(Take(writeErrors, 4), (Codes{S_OK, OPC_E_BADRIGHTS, S_OK, S_OK}));
  EXPECT_NE(cancelRead, 0u);
  EXPECT_NE(cancelWrite, cancelRead);

  EXPECT_TRUE(sink_->events.empty()) << "nothing may arrive before the scheduler runs";
  Pump();
  ASSERT_EQ(sink_->events.size(), 3u);
  for (const auto& e : sink_->events) EXPECT_FALSE(e.duringCall);
  const DataEvent& r = sink_->events[0];
  // The client's group handle; failed items left out.
  EXPECT_EQ((std::vector<long>{r.kind, static_cast<long>(r.transactionId), static_cast<long>(r.group), r.masterQuality,
                               r.masterError}),
            (std::vector<long>{DataEvent::ReadComplete, 1001, 900, S_OK, S_OK}));
  EXPECT_EQ(r.clients, (std::vector<OPCHANDLE>{1, 2}));
  EXPECT_EQ(r.values, (std::vector<double>{32, 2.25}));
  const DataEvent& w = sink_->events[1];
  EXPECT_EQ((std::vector<long>{w.kind, static_cast<long>(w.transactionId), w.masterError}),
            (std::vector<long>{DataEvent::WriteComplete, 1002, S_FALSE}));
  EXPECT_EQ(w.clients, (std::vector<OPCHANDLE>{1, 7, 8}));
  EXPECT_EQ(w.errors, (Codes{S_OK, OPC_S_CLAMP, OPC_E_RANGE}));
  const DataEvent& f = sink_->events[2];
  EXPECT_EQ((std::vector<long>{f.kind, static_cast<long>(f.transactionId)}),
            (std::vector<long>{DataEvent::DataChange, 1003}));
  // Every active item, the write already applied.
  EXPECT_EQ(f.clients, (std::vector<OPCHANDLE>{1, 2, 3, 4, 7, 8}));
  EXPECT_EQ(f.values[0], -5.0);

  EXPECT_EQ(io_->Cancel2(cancelRead), E_FAIL);  // already completed
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO2::Refresh2")->transactionId, 1003u);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO2::Refresh2")->dataSource, OPC_DS_CACHE);
}

TEST_F(AsyncIo, CancelBeforeDeliveryAndTheSlowItem) {
  const OPCHANDLE slow = session_->AddOne(OLESTR("Behaviour.Slow"), 1);
  const OPCHANDLE fast = session_->AddOne(OLESTR("Static.Int32"), 2);
  DWORD cancelSlow = 0;
  DWORD cancelFast = 0;
  DWORD cancelSlow2 = 0;
  HRESULT* errors = nullptr;
  for (auto [handle, transaction, cancel] : {std::tuple{slow, 10u, &cancelSlow}, std::tuple{fast, 11u, &cancelFast},
                                              std::tuple{slow, 12u, &cancelSlow2}}) {
    ASSERT_EQ(io_->Read(1, &handle, transaction, cancel, &errors), S_OK);
    Take(errors, 1);
  }

  Pump();
  // The fast read is done; the slow ones wait for their second.
  ASSERT_EQ(sink_->events.size(), 1u);
  EXPECT_EQ(sink_->events[0].transactionId, 11u);
  EXPECT_EQ(io_->Cancel2(cancelSlow2), S_OK);
  EXPECT_EQ(io_->Cancel2(cancelSlow2), E_FAIL);
  EXPECT_EQ(io_->Cancel2(424242), E_FAIL);
  Pump();
  ASSERT_EQ(sink_->events.size(), 2u);
  EXPECT_EQ(sink_->events[1].kind, DataEvent::CancelComplete);
  EXPECT_EQ(sink_->events[1].transactionId, 12u);

  Advance(std::chrono::milliseconds(999));
  EXPECT_EQ(sink_->events.size(), 2u);
  Advance(std::chrono::milliseconds(1));
  ASSERT_EQ(sink_->events.size(), 3u);
  EXPECT_EQ(sink_->events[2].kind, DataEvent::ReadComplete);
  EXPECT_EQ(sink_->events[2].transactionId, 10u);
  EXPECT_EQ(sink_->events[2].values, (std::vector<double>{7}));
  Advance(std::chrono::milliseconds(2000));
  EXPECT_EQ(sink_->events.size(), 3u) << "the cancelled slow read never completes";
}

TEST_F(AsyncIo, NoCallbackAfterUnadviseAndNoConnection) {
  const OPCHANDLE item = session_->AddOne(OLESTR("Static.Int32"), 1);
  DWORD cancel = 0;
  HRESULT* errors = nullptr;
  ASSERT_EQ(io_->Read(1, const_cast<OPCHANDLE*>(&item), 1, &cancel, &errors), S_OK);
  CoTaskMemFree(errors);
  ASSERT_EQ(Disconnect(session_->items.Get(), cookie_), S_OK);
  Pump();
  EXPECT_TRUE(sink_->events.empty()) << "posted before the unadvise, but delivered after it";
  EXPECT_EQ(io_->Read(1, const_cast<OPCHANDLE*>(&item), 2, &cancel, &errors), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(io_->Refresh2(OPC_DS_DEVICE, 3, &cancel), CONNECT_E_NOCONNECTION);
  BOOL enabled = FALSE;
  EXPECT_EQ(io_->GetEnable(&enabled), CONNECT_E_NOCONNECTION);
}

TEST_F(AsyncIo, RefreshNeedsActiveItemsAndEveryFailureMeansNoCompletion) {
  const OPCHANDLE item = session_->AddOne(OLESTR("Static.WriteOnly"), 1, VT_EMPTY, false);
  DWORD cancel = 0;
  EXPECT_EQ(io_->Refresh2(OPC_DS_CACHE, 1, &cancel), E_FAIL);  // no active item
  EXPECT_EQ(io_->Refresh2(static_cast<OPCDATASOURCE>(0), 1, &cancel), E_INVALIDARG);
  HRESULT* errors = nullptr;
  ASSERT_EQ(io_->Read(1, const_cast<OPCHANDLE*>(&item), 2, &cancel, &errors), S_FALSE);
  EXPECT_EQ(Take(errors, 1), Codes{OPC_E_BADRIGHTS});
  Pump();
  EXPECT_TRUE(sink_->events.empty());
}

TEST_F(AsyncIo, EarlyCallbacksAndForeignHandlesOnRequest) {
  const OPCHANDLE item = session_->AddOne(OLESTR("Static.Int32"), 1);
  SimulationControl::SetEarlyCallbacks(true);
  SimulationControl::SetForeignGroupHandle(0xBAD);
  DWORD cancel = 0;
  HRESULT* errors = nullptr;
  gInsideCall = true;
  ASSERT_EQ(io_->Read(1, const_cast<OPCHANDLE*>(&item), 77, &cancel, &errors), S_OK);
  gInsideCall = false;
  CoTaskMemFree(errors);
  ASSERT_EQ(sink_->events.size(), 1u);
  EXPECT_TRUE(sink_->events[0].duringCall);
  EXPECT_EQ((std::pair{sink_->events[0].group, sink_->events[0].transactionId}),
            (std::pair{OPCHANDLE{0xBAD}, DWORD{77}}));
  EXPECT_EQ(io_->Cancel2(cancel), E_FAIL);
}

}  // namespace
}  // namespace xelo::sim::test
