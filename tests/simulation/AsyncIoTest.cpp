// IOPCAsyncIO2: completions arrive through the scheduler, in order, with
// the client's transaction ids, never inside the call.
#include "support/RecordingSinks.h"

#include <cmath>

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

  OPCHANDLE readHandles[] = {i32, writeOnly, 999, dbl};
  DWORD cancelRead = 0;
  HRESULT* errors = nullptr;
  gInsideCall = true;
  const HRESULT readHr = io_->Read(4, readHandles, 1001, &cancelRead, &errors);
  gInsideCall = false;
  ASSERT_EQ(readHr, S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_BADRIGHTS);
  EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[3], S_OK);
  CoTaskMemFree(errors);
  EXPECT_NE(cancelRead, 0u);

  OPCHANDLE writeHandles[] = {i32, readOnly};
  VARIANT values[] = {MakeI4(-5), MakeI4(6)};
  DWORD cancelWrite = 0;
  gInsideCall = true;
  ASSERT_EQ(io_->Write(2, writeHandles, values, 1002, &cancelWrite, &errors), S_FALSE);
  gInsideCall = false;
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_BADRIGHTS);
  CoTaskMemFree(errors);
  EXPECT_NE(cancelWrite, cancelRead);

  DWORD cancelRefresh = 0;
  gInsideCall = true;
  ASSERT_EQ(io_->Refresh2(OPC_DS_CACHE, 1003, &cancelRefresh), S_OK);
  gInsideCall = false;

  EXPECT_TRUE(sink_->events.empty()) << "nothing may arrive before the scheduler runs";
  Pump();
  ASSERT_EQ(sink_->events.size(), 3u);
  const DataEvent& read = sink_->events[0];
  EXPECT_EQ(read.kind, DataEvent::ReadComplete);
  EXPECT_EQ(read.transactionId, 1001u);
  EXPECT_EQ(read.group, 900u);  // the client's group handle
  EXPECT_EQ(read.clients, (std::vector<OPCHANDLE>{1, 2}));  // failed items left out
  EXPECT_EQ(read.values, (std::vector<double>{32, 2.25}));
  EXPECT_EQ(read.masterQuality, S_OK);
  EXPECT_EQ(read.masterError, S_OK);
  const DataEvent& write = sink_->events[1];
  EXPECT_EQ(write.kind, DataEvent::WriteComplete);
  EXPECT_EQ(write.transactionId, 1002u);
  EXPECT_EQ(write.clients, (std::vector<OPCHANDLE>{1}));
  EXPECT_EQ(write.errors, (std::vector<HRESULT>{S_OK}));
  const DataEvent& refresh = sink_->events[2];
  EXPECT_EQ(refresh.kind, DataEvent::DataChange);
  EXPECT_EQ(refresh.transactionId, 1003u);
  // Every active item, the write already applied.
  EXPECT_EQ(refresh.clients, (std::vector<OPCHANDLE>{1, 2, 3, 4}));
  EXPECT_EQ(refresh.values[0], -5.0);
  for (const auto& e : sink_->events) EXPECT_FALSE(e.duringCall);

  EXPECT_EQ(io_->Cancel2(cancelRead), E_FAIL);  // already completed
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO2::Refresh2")->transactionId, 1003u);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO2::Refresh2")->dataSource, OPC_DS_CACHE);
}

TEST_F(AsyncIo, WriteCompletionCarriesConversionAndClampResults) {
  const OPCHANDLE clamped = session_->AddOne(OLESTR("Behaviour.Clamped"), 7);
  const OPCHANDLE int16 = session_->AddOne(OLESTR("Static.Int16"), 8);
  OPCHANDLE handles[] = {clamped, int16};
  VARIANT values[] = {MakeR8(250), MakeI4(70000)};
  DWORD cancel = 0;
  HRESULT* errors = nullptr;
  ASSERT_EQ(io_->Write(2, handles, values, 5, &cancel, &errors), S_OK);
  CoTaskMemFree(errors);
  Pump();
  ASSERT_EQ(sink_->events.size(), 1u);
  EXPECT_EQ(sink_->events[0].errors, (std::vector<HRESULT>{OPC_S_CLAMP, OPC_E_RANGE}));
  EXPECT_EQ(sink_->events[0].masterError, S_FALSE);
}

TEST_F(AsyncIo, CancelBeforeDeliveryAndTheSlowItem) {
  const OPCHANDLE slow = session_->AddOne(OLESTR("Behaviour.Slow"), 1);
  const OPCHANDLE fast = session_->AddOne(OLESTR("Static.Int32"), 2);
  DWORD cancelSlow = 0;
  DWORD cancelFast = 0;
  DWORD cancelSlow2 = 0;
  HRESULT* errors = nullptr;
  ASSERT_EQ(io_->Read(1, const_cast<OPCHANDLE*>(&slow), 10, &cancelSlow, &errors), S_OK);
  CoTaskMemFree(errors);
  ASSERT_EQ(io_->Read(1, const_cast<OPCHANDLE*>(&fast), 11, &cancelFast, &errors), S_OK);
  CoTaskMemFree(errors);
  ASSERT_EQ(io_->Read(1, const_cast<OPCHANDLE*>(&slow), 12, &cancelSlow2, &errors), S_OK);
  CoTaskMemFree(errors);

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
  EXPECT_EQ(errors[0], OPC_E_BADRIGHTS);
  CoTaskMemFree(errors);
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
  EXPECT_EQ(sink_->events[0].group, 0xBADu);
  EXPECT_EQ(sink_->events[0].transactionId, 77u);
  EXPECT_EQ(io_->Cancel2(cancel), E_FAIL);
}

TEST_F(AsyncIo, GroupsOfTheDa1ServerHaveNoAsyncIO2) {
  Session s(Create(OLESTR("Xelo.Sim.DA1.1")));
  ComPtr<IOPCAsyncIO2> io2;
  EXPECT_EQ(s.items.As(io2), E_NOINTERFACE);
  ComPtr<IConnectionPointContainer> cpc;
  EXPECT_EQ(s.items.As(cpc), E_NOINTERFACE);
  ComPtr<IOPCAsyncIO> io1;
  EXPECT_EQ(s.items.As(io1), S_OK);
}

}  // namespace
}  // namespace xelo::sim::test
