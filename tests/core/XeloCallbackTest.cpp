// Data changes, completions and shutdown notices: from the server's call
// (a callback or an OPC DA 1.0 stream) to the application's event on the
// main thread.
#include "support/ServerFixture.h"
#include "support/TimeZone.h"

#include "xelo/com/OleDate.h"
#include "xelo/core/XeloAdviseSink.h"
#include "xelo/core/XeloDataCallback.h"
#include "xelo/framework/MessageWindow.h"
#include "xelo/opc/OpcStreams.h"

#include <cstring>

namespace xelo::test {
namespace {

using xelo::HWND;  // the framework's window handle, not the Windows SDK's

using XeloCallbackTest = EventRecordingFixture;

TEST_F(XeloCallbackTest, DataChangesAreStoredAtOnceAndAnnouncedAfterTheCall) {
  Subscribe({"Static.Int32", "Static.Int16", "Static.UInt32"});
  SimulationControl::SetItemQuality(OLESTR("Static.Int16"), 0xD8);
  SimulationControl::SetItemTimeStamp(OLESTR("Static.UInt32"), com::DateToFileTime(45000.25));
  Publish(OLESTR("Static.Int32"), 11);
  EXPECT_EQ(Item(0).GetValue().AsVARIANT().lVal, 11);
  EXPECT_EQ(Item(1).GetQuality(), 0xD8);  // the whole word
  EXPECT_EQ(Item(2).GetTimeStamp(), FileTimeToDateTime(com::DateToFileTime(45000.25)));
  EXPECT_TRUE(events_.empty());
  Pump();
  EXPECT_EQ(events_, Lines{"data Static.Int32 Static.Int16 Static.UInt32"});
  // Callbacks for another group are ignored.
  SimulationControl::SetForeignGroupHandle(OPCHANDLE{777});
  Publish(OLESTR("Static.Int32"), 99);
  Pump();
  EXPECT_EQ(events_.size(), 1u);
  EXPECT_EQ(Item(0).GetValue().AsVARIANT().lVal, 11);
  SimulationControl::SetForeignGroupHandle(std::nullopt);
  // A handler that raises does not stop the queue.
  server_->SetOnDatachange([&](TPersistent*, TXeloItemList*) { throw EOPCException("handler failed"); });
  Publish(OLESTR("Static.Int32"), 1);
  Publish(OLESTR("Static.Int32"), 2);
  Pump();
  EXPECT_EQ(ui_->ShownTexts(), Lines(2, "handler failed"));
}

TEST_F(XeloCallbackTest, CompletionsOfWritesAndReads) {
  Subscribe({"Static.Int32", "Behaviour.Clamped"});
  Item(0).WriteAsync(Variant(5));
  Pump();
  EXPECT_EQ(events_, Lines{"written Static.Int32"});
  EXPECT_EQ(group_->GetTaskId(), 0u);  // the completion ended the pending call
  // The clamp notice is a success code, but the value on the server is not
  // the one written.
  Item(1).WriteAsync(Variant(150.0));
  Pump();
  EXPECT_EQ(events_.back(), "write error Behaviour.Clamped");
  EXPECT_EQ(Item(1).GetLastError(), OPC_S_CLAMP);
  EXPECT_EQ(Item(1).GetQuality(), 0);
  server_->SetOnWriteError(nullptr);  // without a handler the error is reported
  Item(1).WriteAsync(Variant(-5.0));
  Pump();
  ASSERT_EQ(ui_->Records().size(), 1u);
  EXPECT_EQ(ui_->Records()[0].kind, THeadlessUserInterface::Kind::Exception);
  EXPECT_EQ(ui_->Records()[0].text.rfind("cannot write Items:\r\nBehaviour.Clamped- ", 0), 0u);

  ASSERT_TRUE(group_->AsyncRead(nullptr));
  EXPECT_NE(group_->GetTaskId(), 0u);
  Pump();
  EXPECT_EQ(group_->GetTaskId(), 0u);
  EXPECT_EQ(events_.back(), "data Static.Int32 Behaviour.Clamped");
  // A server that completes inside its call leaves nothing pending.
  SimulationControl::SetEarlyCallbacks(true);
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  EXPECT_EQ(group_->GetTaskId(), 0u);
  group_->CancelLastAsyncCall();
  EXPECT_EQ(SimulationControl::CallCount("IOPCAsyncIO2::Cancel2"), 0u);
  SimulationControl::SetEarlyCallbacks(false);
  // A cancel completion clears the pending call and posts nothing.
  TXeloItemList slow(group_->GetOPCItems()->AddItem("Behaviour.Slow"));
  Pump();
  ASSERT_TRUE(group_->AsyncRead(&slow));
  const std::size_t seen = events_.size();
  group_->GetDataCallback()->OnCancelComplete(group_->GetTransactionId(), 12345);
  EXPECT_EQ(group_->GetTaskId(), 0u);
  Pump();
  EXPECT_EQ(events_.size(), seen);
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
  VARIANT value;
  VariantInit(&value);
  WORD quality = 0xC0;
  FILETIME stamp{};
  HRESULT error = S_OK;
  EXPECT_EQ(sink->OnDataChange(0, groupHandle, S_OK, S_OK, 1, &handle, &value, &quality, &stamp, &error), S_OK);
  EXPECT_EQ(sink->OnWriteComplete(0, groupHandle, S_OK, 1, &handle, &error), S_OK);
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
  SimulationControl::RequestShutdown(OLESTR("maintenance"));
  Pump();
  EXPECT_EQ(events_, Lines{"shutdown:"});  // the server's reason is not passed on
  EXPECT_FALSE(server_->GetActive());
  server_->SetOnServerShutdown(nullptr);
  server_->SetActive(true);
  SimulationControl::RequestShutdown(OLESTR("again"));
  Pump();
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(disconnects_, 2);
  EXPECT_EQ(SendMessage(server_->GetHandle(), WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_EQ(SendMessage(server_->GetHandle(), WM_USER + 77, 0, 0), 0);
}

// Each item keeps its stamp twice. In the hour that autumn repeats, two
// instants an hour apart show the same local time; only the UTC values
// still tell them apart, also after a sync read.
TEST_F(XeloCallbackTest, TimeStampsKeepTheirUTCValueAcrossTheChangeOfTime) {
  const ScopedZone zone(kCentralEurope);
  // 2021-10-31 00:30 and 01:30 UTC: both 02:30 CET/CEST on day 44500.
  const DATE first = 44500 + 0.5 / 24;
  const DATE second = 44500 + 1.5 / 24;
  Subscribe({"Static.Int32", "Static.Int16"});
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int32"), com::DateToFileTime(first));
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int16"), com::DateToFileTime(second));
  SetSimValue(OLESTR("Static.Int16"), 2);
  Publish(OLESTR("Static.Int32"), 1);
  for (const bool syncRead : {false, true}) {
    SCOPED_TRACE(syncRead ? "sync read" : "data change");
    if (syncRead) {
      Item(0).StoreTimeStamp(0.0, 0.0);
      Item(1).StoreTimeStamp(0.0, 0.0);
      ASSERT_TRUE(group_->SyncRead(nullptr, true));
    }
    EXPECT_NEAR(Item(0).GetTimeStamp(), 44500 + 2.5 / 24, 1e-9);
    EXPECT_EQ(Item(0).GetTimeStamp(), Item(1).GetTimeStamp());
    EXPECT_DOUBLE_EQ(Item(0).GetTimeStampUTC(), first);
    EXPECT_DOUBLE_EQ(Item(1).GetTimeStampUTC(), second);
  }
}

TEST_F(XeloCallbackTest, DataAccessOneStreams) {
  Subscribe({"Static.Int32", "Static.String"}, sim::kProgIdSimDA1);
  ASSERT_NE(group_->GetAdviseSink(), nullptr);
  EXPECT_EQ(group_->GetDataCallback(), nullptr);
  SimulationControl::SetItemQuality(OLESTR("Static.Int32"), 0xD8);
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int32"), com::DateToFileTime(45001.0));
  Publish(OLESTR("Static.Int32"), 21);
  Pump();
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].rfind("data Static.Int32", 0), 0u);
  EXPECT_EQ(Item(0).GetValue().AsVARIANT().lVal, 21);
  EXPECT_EQ(Item(0).GetQuality(), 0xC0);  // only the major quality of a stream
  EXPECT_EQ(Item(0).GetTimeStamp(), FileTimeToDateTime(com::DateToFileTime(45001.0)));
  EXPECT_EQ(Item(0).GetTimeStampUTC(), 45001.0);
  // Asynchronous reads go through the stream's connection, from the device.
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO::Read")->dataSource, OPC_DS_DEVICE);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO::Read")->connection, group_->GetAdviseSink()->GetCookie());
  Pump();
  EXPECT_EQ(group_->GetTaskId(), 0u);
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(Item(1).GetValue().VarType(), VT_BSTR);
  group_->GetAdviseSink()->UnAdvise();  // only once
  server_->SetActive(false);
  EXPECT_EQ(SimulationControl::CallCount("IDataObject::DUnadvise"), 1u);

  // A refused callback falls back to the stream; with neither subscription
  // the group stays on the server and the OLE error is raised.
  SimulationControl::FailMethod("IOPCGroup::FindConnectionPoint", E_NOINTERFACE);
  ConnectSim();
  EXPECT_EQ(group_->GetDataCallback(), nullptr);
  ASSERT_NE(group_->GetAdviseSink(), nullptr);
  Pump();
  Publish(OLESTR("Static.Int32"), 8);
  Pump();
  EXPECT_EQ(events_.back().rfind("data Static.Int32", 0), 0u);
  server_->SetActive(false);
  SimulationControl::FailMethod("IDataObject::DAdvise", E_OUTOFMEMORY);
  try {
    server_->SetActive(true);
    ADD_FAILURE() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_OUTOFMEMORY);
  }
  EXPECT_TRUE(group_->IsOnServer());
  EXPECT_EQ(group_->GetAdviseSink(), nullptr);
  server_->SetActive(false);
}

// Stream blocks made by hand, as a server in another process might send
// them: header, item headers (client, value offset, quality, stamp), I4
// values.
TEST_F(XeloCallbackTest, HandMadeStreamBlocks) {
  Subscribe({"Static.Int32", "Static.Int16"}, sim::kProgIdSimDA1);
  TXeloItem& a = Item(0);
  TXeloItem& b = Item(1);
  const com::ComPtr<TXeloAdviseSink> sink(group_->GetAdviseSink());
  struct Entry {
    OPCHANDLE client;
    WORD quality;
    LONG value;
    double stamp;
  };
  const auto send = [&](CLIPFORMAT format, DWORD transaction, HRESULT status, std::vector<Entry> items) {
    const std::size_t headerSize = format == OPCSTMFORMATDATA ? 12 : 20;
    std::size_t valueAt = 20 + headerSize * items.size();
    std::vector<std::uint8_t> bytes(valueAt + 16 * items.size());
    const auto put = [&](std::size_t at, const auto& value) { std::memcpy(&bytes[at], &value, sizeof value); };
    put(0, static_cast<DWORD>(bytes.size()));
    put(4, static_cast<DWORD>(items.size()));
    put(12, transaction);
    put(16, status);
    for (std::size_t i = 0; i < items.size(); ++i, valueAt += 16) {
      const std::size_t at = 20 + headerSize * i;
      put(at, items[i].client);
      put(at + 4, static_cast<DWORD>(valueAt));
      put(at + 8, items[i].quality);
      if (headerSize == 20) put(at + 12, com::DateToFileTime(items[i].stamp));
      put(valueAt, WORD{VT_I4});
      put(valueAt + 8, items[i].value);
    }
    FORMATETC description{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    medium.tymed = TYMED_HGLOBAL;
    medium.hGlobal = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(medium.hGlobal), bytes.data(), bytes.size());
    GlobalUnlock(medium.hGlobal);
    sink->OnDataChange(&description, &medium);
    GlobalFree(medium.hGlobal);  // the caller's, not the sink's
    Pump();
  };
  send(OPCSTMFORMATDATATIME, 0, S_OK, {{b.GetClientHandle(), 0xD8, 16, 45000.5}, {a.GetClientHandle(), 0x14, 32, 45000.75}});
  EXPECT_EQ(events_, Lines{"data Static.Int16 Static.Int32"});
  EXPECT_EQ(b.GetQuality(), 0xC0);  // only the major quality
  EXPECT_EQ(a.GetQuality(), 0x00);
  EXPECT_EQ(b.GetValue().AsVARIANT().lVal, 16);
  EXPECT_EQ(a.GetTimeStamp(), FileTimeToDateTime(com::DateToFileTime(45000.75)));
  EXPECT_EQ(b.GetTimeStampUTC(), 45000.5);
  EXPECT_EQ(a.GetTimeStampUTC(), 45000.75);
  // Without time stamps the stamps stay as they were.
  send(OPCSTMFORMATDATA, 0, S_OK, {{a.GetClientHandle(), 0xC0, 7, 1.0}});
  EXPECT_EQ(a.GetValue().AsVARIANT().lVal, 7);
  EXPECT_EQ(a.GetTimeStamp(), FileTimeToDateTime(com::DateToFileTime(45000.75)));
  EXPECT_EQ(a.GetTimeStampUTC(), 45000.75);
  // A failure status only completes its own transaction; blocks for no item
  // of ours, of a format registered but never read, or arriving after the
  // group left the server change nothing.
  group_->SetTaskId(4242);
  send(OPCSTMFORMATDATATIME, 4241, E_FAIL, {});
  EXPECT_EQ(group_->GetTaskId(), 4242u);
  send(OPCSTMFORMATDATATIME, 4242, E_FAIL, {{a.GetClientHandle(), 0xC0, 555, 1.0}});
  EXPECT_EQ(group_->GetTaskId(), 0u);
  send(OPCSTMFORMATDATATIME, 0, S_OK, {{0xABCDEF, 0xC0, 1, 1.0}});
  send(OPCSTMFORMATWRITECOMPLETE, 0, S_OK, {{a.GetClientHandle(), 0xC0, 2, 1.0}});
  group_->OPCRemoveGroup();
  send(OPCSTMFORMATDATATIME, 0, S_OK, {{a.GetClientHandle(), 0xC0, 3, 1.0}});
  EXPECT_EQ(a.GetValue().AsVARIANT().lVal, 7);
  EXPECT_EQ(events_.size(), 2u);
}

}  // namespace
}  // namespace xelo::test
