// Data changes, completions and shutdown notices: from the server's call
// (a callback or an OPC DA 1.0 stream) to the application's event on the
// main thread.
#include "support/ServerFixture.h"
#include "support/TimeZone.h"

#include "xelo/core/XeloAdviseSink.h"
#include "xelo/core/XeloDataCallback.h"
#include "xelo/framework/MessageWindow.h"

namespace xelo::test {
namespace {

using xelo::HWND;  // the framework's window handle, not the Windows SDK's

using XeloCallbackTest = EventRecordingFixture;

TEST_F(XeloCallbackTest, DataChangesAreStoredAtOnceAndAnnouncedAfterTheCall) {
  Subscribe({"Static.Int32", "Static.Int16", "Static.UInt32"});
  SimulationControl::SetItemQuality(OLESTR("Static.Int16"), 0xD8);
  SimulationControl::SetItemTimeStamp(OLESTR("Static.UInt32"), com::DateToFileTime(45000.25));
  Publish(OLESTR("Static.Int32"), 11);
  // The quality is the whole word.
  EXPECT_EQ(std::tuple(Item(0).GetValue().AsVARIANT().lVal, Item(1).GetQuality(), Item(2).GetTimeStamp(), events_.size()),
            std::tuple(11, 0xD8, FileTimeToDateTime(com::DateToFileTime(45000.25)), 0u));
  Pump();
  EXPECT_EQ(events_, Lines{"data Static.Int32 Static.Int16 Static.UInt32"});
  // Callbacks for another group are ignored.
  SimulationControl::SetForeignGroupHandle(OPCHANDLE{777});
  Publish(OLESTR("Static.Int32"), 99);
  Pump();
  EXPECT_EQ(std::tuple(events_.size(), Item(0).GetValue().AsVARIANT().lVal), std::tuple(1u, 11));
  SimulationControl::SetForeignGroupHandle(std::nullopt);
  // A handler that raises does not stop the queue.
  server_->SetOnDatachange([&](TPersistent*, TXeloItemList*) { throw EOPCException("handler failed"); });
  Publish(OLESTR("Static.Int32"), 1), Publish(OLESTR("Static.Int32"), 2), Pump();
  EXPECT_EQ(ui_->ShownTexts(), Lines(2, "handler failed"));
}

TEST_F(XeloCallbackTest, CompletionsOfWritesAndReads) {
  Subscribe({"Static.Int32", "Behaviour.Clamped"});
  Item(0).WriteAsync(Variant(5)), Pump();
  // The completion ended the pending call.
  EXPECT_EQ(std::tuple(events_, group_->GetTaskId()), std::tuple(Lines{"written Static.Int32"}, 0u));
  // The clamp notice is a success code, but the value on the server is not
  // the one written.
  Item(1).WriteAsync(Variant(150.0)), Pump();
  EXPECT_EQ(std::tuple(events_.back(), Item(1).GetLastError(), Item(1).GetQuality()),
            std::tuple("write error Behaviour.Clamped", OPC_S_CLAMP, 0));
  server_->SetOnWriteError(nullptr);  // without a handler the error is reported
  Item(1).WriteAsync(Variant(-5.0)), Pump();
  ASSERT_EQ(ui_->Records().size(), 1u);
  EXPECT_EQ(std::tuple(ui_->Records()[0].kind, ui_->Records()[0].text.rfind("cannot write Items:\r\nBehaviour.Clamped- ", 0)),
            std::tuple(THeadlessUserInterface::Kind::Exception, 0u));

  ASSERT_TRUE(group_->AsyncRead(nullptr) && group_->GetTaskId() != 0u);
  Pump();
  EXPECT_EQ(std::tuple(group_->GetTaskId(), events_.back()), std::tuple(0u, "data Static.Int32 Behaviour.Clamped"));
  // A server that completes inside its call leaves nothing pending.
  SimulationControl::SetEarlyCallbacks(true);
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  group_->CancelLastAsyncCall();
  EXPECT_EQ(std::tuple(group_->GetTaskId(), SimulationControl::CallCount("IOPCAsyncIO2::Cancel2")), std::tuple(DWORD{0}, 0u));
  SimulationControl::SetEarlyCallbacks(false);
  // A cancel completion clears the pending call and posts nothing.
  TXeloItemList slow(group_->GetOPCItems()->AddItem("Behaviour.Slow"));
  Pump();
  ASSERT_TRUE(group_->AsyncRead(&slow));
  const std::size_t seen = events_.size();
  group_->GetDataCallback()->OnCancelComplete(group_->GetTransactionId(), 12345);
  const DWORD pending = group_->GetTaskId();
  Pump();
  EXPECT_EQ(std::tuple(pending, events_.size()), std::tuple(DWORD{0}, seen));
}

TEST_F(XeloCallbackTest, LateMessagesAndLateSinksFindNothingGone) {
  Subscribe({"Static.Int32", "Static.Int16"});
  const com::ComPtr<TXeloDataCallback> sink(group_->GetDataCallback());
  SimulationControl::SetItemQuality(OLESTR("Static.Int16"), 0x40);
  Publish(OLESTR("Static.Int32"), 1);
  delete &Item(0);  // gone before its message is handled: left out
  Pump();
  EXPECT_EQ(events_, Lines{"data Static.Int16"});
  // The group goes before its message is handled, and a server calls the
  // sink after it is gone: nothing arrives.
  Publish(OLESTR("Static.Int16"), 2);
  OPCHANDLE handle = Item(0).GetClientHandle();
  const OPCHANDLE groupHandle = group_->GetClientHandle();
  Groups().Remove("G");
  VARIANT value{};
  WORD quality = 0xC0;
  FILETIME stamp{};
  HRESULT error = S_OK;
  EXPECT_EQ(std::tuple(sink->OnDataChange(0, groupHandle, S_OK, S_OK, 1, &handle, &value, &quality, &stamp, &error),
                       sink->OnWriteComplete(0, groupHandle, S_OK, 1, &handle, &error)), std::tuple(S_OK, S_OK));
  Pump();
  EXPECT_EQ(events_.size(), 1u);
  // Queued messages die with the component (the leak check sees them).
  Subscribe({"Static.Int32"});
  Publish(OLESTR("Static.Int32"), 3);
  server_.reset();
  Pump();
  EXPECT_TRUE(events_.empty());
}

TEST_F(XeloCallbackTest, ShutdownRequestDeactivatesAndTheWindowAnswersEndOfSession) {
  Subscribe({"Static.Int32"});
  SimulationControl::RequestShutdown(OLESTR("maintenance")), Pump();
  // The server's reason is not passed on.
  EXPECT_EQ(std::tuple(events_, server_->GetActive()), std::tuple(Lines{"shutdown:"}, false));
  server_->SetOnServerShutdown(nullptr), server_->SetActive(true);
  SimulationControl::RequestShutdown(OLESTR("again")), Pump();
  EXPECT_EQ(std::tuple(server_->GetActive(), disconnects_), std::tuple(false, 2));
  EXPECT_EQ(SendMessage(server_->GetHandle(), WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_EQ(SendMessage(server_->GetHandle(), WM_USER + 77, 0, 0), 0);
}

// Each item keeps its stamp twice. In the hour that autumn repeats, two
// instants an hour apart show the same local time; only the UTC values
// still tell them apart, also after a sync read.
TEST_F(XeloCallbackTest, TimeStampsKeepTheirUTCValueAcrossTheChangeOfTime) {
  const ScopedZone zone(kCentralEurope);
  // 2021-10-31 00:30 and 01:30 UTC: both 02:30 CET/CEST on day 44500.
  const DATE first = 44500 + 0.5 / 24, second = 44500 + 1.5 / 24;
  Subscribe({"Static.Int32", "Static.Int16"});
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int32"), com::DateToFileTime(first));
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int16"), com::DateToFileTime(second));
  SetSimValue(OLESTR("Static.Int16"), 2);
  Publish(OLESTR("Static.Int32"), 1);
  for (const bool syncRead : {false, true}) {
    SCOPED_TRACE(syncRead ? "sync read" : "data change");
    if (syncRead) {
      Item(0).StoreTimeStamp(0.0, 0.0), Item(1).StoreTimeStamp(0.0, 0.0);
      ASSERT_TRUE(group_->SyncRead(nullptr, true));
    }
    EXPECT_NEAR(Item(0).GetTimeStamp(), 44500 + 2.5 / 24, 1e-9);
    EXPECT_EQ(std::tuple(Item(1).GetTimeStamp(), Item(0).GetTimeStampUTC(), Item(1).GetTimeStampUTC()),
              std::tuple(Item(0).GetTimeStamp(), first, second));
  }
}

TEST_F(XeloCallbackTest, DataAccessOneStreams) {
  Subscribe({"Static.Int32", "Static.String"}, sim::kProgIdSimDA1);
  ASSERT_TRUE(group_->GetAdviseSink() && !group_->GetDataCallback());
  SimulationControl::SetItemQuality(OLESTR("Static.Int32"), 0xD8);
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int32"), com::DateToFileTime(45001.0));
  Publish(OLESTR("Static.Int32"), 21), Pump();
  ASSERT_EQ(events_.size(), 1u);
  // Only the major quality of a stream.
  EXPECT_EQ(std::tuple(events_[0].rfind("data Static.Int32", 0), Item(0).GetValue().AsVARIANT().lVal, Item(0).GetQuality(),
                       Item(0).GetTimeStamp(), Item(0).GetTimeStampUTC()),
            std::tuple(0u, 21, 0xC0, FileTimeToDateTime(com::DateToFileTime(45001.0)), 45001.0));
  // Asynchronous reads go through the stream's connection, from the device.
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  const auto read = SimulationControl::LastArguments("IOPCAsyncIO::Read");
  EXPECT_EQ(std::tuple(read->dataSource, read->connection), std::tuple(OPC_DS_DEVICE, group_->GetAdviseSink()->GetCookie()));
  Pump();
  EXPECT_EQ(std::tuple(group_->GetTaskId(), events_.size(), Item(1).GetValue().VarType()), std::tuple(0u, 2u, VT_BSTR));
  group_->GetAdviseSink()->UnAdvise();  // only once
  server_->SetActive(false);
  EXPECT_EQ(SimulationControl::CallCount("IDataObject::DUnadvise"), 1u);

  // A refused callback falls back to the stream; with neither subscription
  // the group stays on the server and the OLE error is raised.
  SimulationControl::FailMethod("IOPCGroup::FindConnectionPoint", E_NOINTERFACE);
  ConnectSim();
  ASSERT_TRUE(group_->GetAdviseSink() && !group_->GetDataCallback());
  Pump(), Publish(OLESTR("Static.Int32"), 8), Pump();
  EXPECT_EQ(events_.back().rfind("data Static.Int32", 0), 0u);
  server_->SetActive(false);
  SimulationControl::FailMethod("IDataObject::DAdvise", E_OUTOFMEMORY);
  EXPECT_EQ(OleErrorOf([&] { server_->SetActive(true); }), E_OUTOFMEMORY);
  EXPECT_TRUE(group_->IsOnServer() && !group_->GetAdviseSink());
  server_->SetActive(false);
}

// Stream blocks made by hand, as a server in another process might send
// them.
TEST_F(XeloCallbackTest, HandMadeStreamBlocks) {
  Subscribe({"Static.Int32", "Static.Int16"}, sim::kProgIdSimDA1);
  TXeloItem &a = Item(0), &b = Item(1);
  const com::ComPtr<TXeloAdviseSink> sink(group_->GetAdviseSink());
  const auto send = [&](CLIPFORMAT format, DWORD transaction, HRESULT status, std::vector<StreamEntry> items) {
    SendStreamBlock(*sink, format, transaction, status, items);
    Pump();
  };
  send(OPCSTMFORMATDATATIME, 0, S_OK, {{b.GetClientHandle(), 0xD8, 16, 45000.5}, {a.GetClientHandle(), 0x14, 32, 45000.75}});
  EXPECT_EQ(events_, Lines{"data Static.Int16 Static.Int32"});
  // Only the major quality.
  EXPECT_EQ(std::tuple(b.GetQuality(), a.GetQuality(), b.GetValue().AsVARIANT().lVal, a.GetTimeStamp(), b.GetTimeStampUTC(),
                       a.GetTimeStampUTC()),
            std::tuple(0xC0, 0x00, 16, FileTimeToDateTime(com::DateToFileTime(45000.75)), 45000.5, 45000.75));
  // Without time stamps the stamps stay as they were.
  send(OPCSTMFORMATDATA, 0, S_OK, {{a.GetClientHandle(), 0xC0, 7, 1.0}});
  EXPECT_EQ(std::tuple(a.GetValue().AsVARIANT().lVal, a.GetTimeStamp(), a.GetTimeStampUTC()),
            std::tuple(7, FileTimeToDateTime(com::DateToFileTime(45000.75)), 45000.75));
  // A failure status only completes its own transaction; blocks for no item
  // of ours, of a format registered but never read, or arriving after the
  // group left the server change nothing.
  group_->SetTaskId(4242);
  for (const DWORD transaction : {4241u, 4242u}) {
    send(OPCSTMFORMATDATATIME, transaction, E_FAIL, {{a.GetClientHandle(), 0xC0, 555, 1.0}});
    EXPECT_EQ(group_->GetTaskId(), transaction == 4242 ? 0u : 4242u);
  }
  send(OPCSTMFORMATDATATIME, 0, S_OK, {{0xABCDEF, 0xC0, 1, 1.0}});
  send(OPCSTMFORMATWRITECOMPLETE, 0, S_OK, {{a.GetClientHandle(), 0xC0, 2, 1.0}});
  group_->OPCRemoveGroup();
  send(OPCSTMFORMATDATATIME, 0, S_OK, {{a.GetClientHandle(), 0xC0, 3, 1.0}});
  EXPECT_EQ(std::tuple(a.GetValue().AsVARIANT().lVal, events_.size()), std::tuple(7, 2u));
}

}  // namespace
}  // namespace xelo::test
