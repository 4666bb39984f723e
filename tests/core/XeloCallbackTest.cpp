// Data changes, completions and shutdown notices: from the server's call to
// the application's event on the main thread.
#include "support/ServerFixture.h"
#include "support/TimeZone.h"

#include "xelo/com/OleDate.h"
#include "xelo/core/XeloAdviseSink.h"
#include "xelo/core/XeloDataCallback.h"
#include "xelo/core/XeloMessages.h"
#include "xelo/framework/MessageWindow.h"
#include "xelo/framework/UserInterface.h"

#include <gtest/gtest.h>

namespace {

using namespace xelo;
using xelo::HWND;  // the framework's window handle, not the Windows SDK's
using xelo::sim::SimulationControl;
using xelo::test::OPCMessageOf;

// What one event delivered: the item identifiers of its list, in order.
struct Delivery {
  std::string kind;
  std::vector<std::string> ids;
};

class XeloCallbackTest : public xelo::test::ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    server_->SetOnDatachange([this](TPersistent* sender, TXeloItemList* list) { Record("data", sender, list); });
    server_->SetOnWriteComplete([this](TPersistent* sender, TXeloItemList* list) { Record("written", sender, list); });
    server_->SetOnWriteError([this](TPersistent* sender, TXeloItemList* list) { Record("write error", sender, list); });
    server_->SetOnServerShutdown([this](TPersistent* sender, const std::string& reason) {
      EXPECT_EQ(sender, server_.get());
      deliveries_.push_back({"shutdown:" + reason, {}});
    });
  }

  void Record(const std::string& kind, TPersistent* sender, TXeloItemList* list) {
    EXPECT_EQ(sender, server_.get());  // the component, never the group
    Delivery delivery{kind, {}};
    for (int i = 0; i < list->GetCount(); ++i) delivery.ids.push_back(list->GetItem(i)->GetItemID());
    deliveries_.push_back(delivery);
  }

  // A connected group with the given items, its first values delivered
  // and forgotten.
  TXeloGroup* Subscribe(std::initializer_list<const char*> ids, const std::string& progId = sim::kProgIdSim) {
    TXeloGroup* group = Groups().Add("G");
    for (const char* id : ids) group->GetOPCItems()->AddItem(id);
    ConnectSim(progId);
    Pump();
    deliveries_.clear();
    return group;
  }

  static void SetValue(const OLECHAR* id, LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    SimulationControl::SetItemValue(id, v);
  }

  std::vector<Delivery> deliveries_;
};

TEST_F(XeloCallbackTest, DataChangeReachesTheApplicationAfterTheCall) {
  TXeloGroup* group = Subscribe({"Static.Int32", "Static.Int16", "Static.UInt32"});
  SetValue(OLESTR("Static.Int32"), 11);
  SimulationControl::SetItemQuality(OLESTR("Static.Int16"), 0xD8);
  SimulationControl::SetItemTimeStamp(OLESTR("Static.UInt32"), com::DateToFileTime(45000.25));
  SimulationControl::PublishNow();
  // Stored at once, announced only when the queue is pumped.
  TXeloItems& items = *group->GetOPCItems();
  EXPECT_EQ(items.GetItem(0)->GetValue().AsVARIANT().lVal, 11);
  EXPECT_EQ(items.GetItem(1)->GetQuality(), 0xD8);  // the whole word
  EXPECT_EQ(items.GetItem(2)->GetTimeStamp(), FileTimeToDateTime(com::DateToFileTime(45000.25)));
  EXPECT_TRUE(deliveries_.empty());
  Pump();
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(deliveries_[0].kind, "data");
  EXPECT_EQ(deliveries_[0].ids, (std::vector<std::string>{"Static.Int32", "Static.Int16", "Static.UInt32"}));
}

TEST_F(XeloCallbackTest, WriteCompletions) {
  TXeloGroup* group = Subscribe({"Static.Int32", "Static.ReadOnly", "Static.Double", "Behaviour.Clamped"});
  TXeloItems& items = *group->GetOPCItems();
  ASSERT_TRUE(group->SyncRead(nullptr, true));

  items.GetItem(0)->WriteAsync(Variant(5));
  Pump();
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(deliveries_[0].kind, "written");
  EXPECT_EQ(group->GetTaskId(), 0u);  // the completion ended the pending call

  // The clamp notice is a success code, but the value on the server is not
  // the one written.
  deliveries_.clear();
  items.GetItem(3)->WriteAsync(Variant(150.0));
  Pump();
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(deliveries_[0].kind, "write error");
  EXPECT_EQ(items.GetItem(3)->GetLastError(), OPC_S_CLAMP);
  EXPECT_EQ(items.GetItem(3)->GetQuality(), 0);
}

TEST_F(XeloCallbackTest, WriteErrorWithoutHandlerIsReported) {
  server_->SetOnWriteError(nullptr);
  TXeloGroup* group = Subscribe({"Behaviour.Clamped"});
  group->GetOPCItems()->GetItem(0)->WriteAsync(Variant(-5.0));
  Pump();
  ASSERT_EQ(ui_->Records().size(), 1u);
  EXPECT_EQ(ui_->Records()[0].kind, THeadlessUserInterface::Kind::Exception);
  EXPECT_EQ(ui_->Records()[0].text.rfind("cannot write Items:\r\nBehaviour.Clamped- ", 0), 0u);
}

TEST_F(XeloCallbackTest, ReadCompletionIsADataChange) {
  TXeloGroup* group = Subscribe({"Static.Int32", "Static.Int16"});
  ASSERT_TRUE(group->AsyncRead(nullptr));
  EXPECT_NE(group->GetTaskId(), 0u);
  Pump();
  EXPECT_EQ(group->GetTaskId(), 0u);
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(deliveries_[0].kind, "data");
  EXPECT_EQ(deliveries_[0].ids.size(), 2u);

  // A server that completes inside its call leaves nothing pending.
  SimulationControl::SetEarlyCallbacks(true);
  ASSERT_TRUE(group->AsyncRead(nullptr));
  EXPECT_EQ(group->GetTaskId(), 0u);
  group->CancelLastAsyncCall();
  EXPECT_EQ(SimulationControl::CallCount("IOPCAsyncIO2::Cancel2"), 0u);
}

TEST_F(XeloCallbackTest, CancelCompletionClearsAndPostsNothing) {
  TXeloGroup* group = Subscribe({"Behaviour.Slow"});
  ASSERT_TRUE(group->AsyncRead(nullptr));
  TXeloDataCallback* sink = group->GetDataCallback();
  ASSERT_NE(sink, nullptr);
  sink->OnCancelComplete(group->GetTransactionId(), 12345);
  EXPECT_EQ(group->GetTaskId(), 0u);
  Pump();
  EXPECT_TRUE(deliveries_.empty());
}

TEST_F(XeloCallbackTest, CallbacksForAnotherGroupAreIgnored) {
  TXeloGroup* group = Subscribe({"Static.Int32"});
  SimulationControl::SetForeignGroupHandle(OPCHANDLE{777});
  SetValue(OLESTR("Static.Int32"), 99);
  SimulationControl::PublishNow();
  Pump();
  EXPECT_TRUE(deliveries_.empty());
  EXPECT_NE(group->GetOPCItems()->GetItem(0)->GetValue().AsVARIANT().lVal, 99);
}

TEST_F(XeloCallbackTest, LateMessagesAndLateSinksFindNothingGone) {
  TXeloGroup* group = Subscribe({"Static.Int32", "Static.Int16"});
  const com::ComPtr<TXeloDataCallback> sink(group->GetDataCallback());
  SetValue(OLESTR("Static.Int32"), 1);
  SimulationControl::SetItemQuality(OLESTR("Static.Int16"), 0x40);
  SimulationControl::PublishNow();
  // The first item goes before its message is handled: left out.
  delete group->GetOPCItems()->GetItem(0);
  Pump();
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(deliveries_[0].ids, std::vector<std::string>{"Static.Int16"});

  // The group goes before its message is handled: no event.
  deliveries_.clear();
  SetValue(OLESTR("Static.Int16"), 2);
  SimulationControl::PublishNow();
  OPCHANDLE handle = group->GetOPCItems()->GetItem(0)->GetClientHandle();
  const OPCHANDLE groupHandle = group->GetClientHandle();
  Groups().Remove("G");
  Pump();
  EXPECT_TRUE(deliveries_.empty());

  // A server that calls the sink after the group is gone reaches nothing.
  VARIANT value;
  VariantInit(&value);
  WORD quality = 0xC0;
  FILETIME stamp{};
  HRESULT error = S_OK;
  EXPECT_EQ(sink->OnDataChange(0, groupHandle, S_OK, S_OK, 1, &handle, &value, &quality, &stamp, &error), S_OK);
  EXPECT_EQ(sink->OnWriteComplete(0, groupHandle, S_OK, 1, &handle, &error), S_OK);
  Pump();
  EXPECT_TRUE(deliveries_.empty());
}

TEST_F(XeloCallbackTest, QueuedMessagesDieWithTheComponent) {
  Subscribe({"Static.Int32"});
  SetValue(OLESTR("Static.Int32"), 3);
  SimulationControl::PublishNow();
  server_.reset();  // the queued item list is freed unread (the leak check sees it)
  Pump();
  EXPECT_TRUE(deliveries_.empty());
}

TEST_F(XeloCallbackTest, ShutdownRequestDeactivates) {
  Subscribe({"Static.Int32"});
  SimulationControl::RequestShutdown(OLESTR("maintenance"));
  Pump();
  ASSERT_FALSE(deliveries_.empty());
  EXPECT_EQ(deliveries_[0].kind, "shutdown:");  // the server's reason is not passed on
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(disconnects_, 1);

  server_->SetOnServerShutdown(nullptr);
  server_->SetActive(true);
  SimulationControl::RequestShutdown(OLESTR("again"));
  Pump();
  EXPECT_FALSE(server_->GetActive());
  EXPECT_EQ(disconnects_, 2);
}

TEST_F(XeloCallbackTest, HandlerExceptionsDoNotStopTheQueue) {
  Subscribe({"Static.Int32"});
  int calls = 0;
  server_->SetOnDatachange([&](TPersistent*, TXeloItemList*) {
    ++calls;
    throw EOPCException("handler failed");
  });
  for (LONG v = 1; v <= 2; ++v) {
    SetValue(OLESTR("Static.Int32"), v);
    SimulationControl::PublishNow();
  }
  Pump();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(ui_->ShownTexts(), (std::vector<std::string>{"handler failed", "handler failed"}));
}

TEST_F(XeloCallbackTest, WindowAnswersEndOfSession) {
  const HWND window = server_->GetHandle();
  EXPECT_EQ(server_->GetHandle(), window);
  EXPECT_EQ(SendMessage(window, WM_QUERYENDSESSION, 0, 0), 1);
  EXPECT_EQ(SendMessage(window, WM_USER + 77, 0, 0), 0);
}

// Each item keeps its stamp twice. In the hour that autumn repeats, two
// instants an hour apart show the same local time; only the UTC values
// still tell them apart, also after a sync read.
TEST_F(XeloCallbackTest, TimeStampsKeepTheirUTCValueAcrossTheChangeOfTime) {
  const xelo::test::ScopedZone zone(xelo::test::kCentralEurope);
  // 2021-10-31 00:30 and 01:30 UTC: both 02:30 CET/CEST on day 44500.
  const DATE first = 44500 + 0.5 / 24;
  const DATE second = 44500 + 1.5 / 24;
  TXeloGroup* group = Subscribe({"Static.Int32", "Static.Int16"});
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int32"), com::DateToFileTime(first));
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int16"), com::DateToFileTime(second));
  SetValue(OLESTR("Static.Int32"), 1);
  SetValue(OLESTR("Static.Int16"), 2);
  SimulationControl::PublishNow();
  const auto check = [&](const std::string& how) {
    SCOPED_TRACE(how);
    const TXeloItem& a = *group->GetOPCItems()->GetItem(0);
    const TXeloItem& b = *group->GetOPCItems()->GetItem(1);
    EXPECT_NEAR(a.GetTimeStamp(), 44500 + 2.5 / 24, 1e-9);
    EXPECT_EQ(a.GetTimeStamp(), b.GetTimeStamp());
    EXPECT_DOUBLE_EQ(a.GetTimeStampUTC(), first);
    EXPECT_DOUBLE_EQ(b.GetTimeStampUTC(), second);
  };
  check("data change");
  group->GetOPCItems()->GetItem(0)->StoreTimeStamp(0.0, 0.0);
  group->GetOPCItems()->GetItem(1)->StoreTimeStamp(0.0, 0.0);
  ASSERT_TRUE(group->SyncRead(nullptr, true));
  check("sync read");
}

TEST_F(XeloCallbackTest, DataAccessOneStreams) {
  TXeloGroup* group = Subscribe({"Static.Int32", "Static.String"}, sim::kProgIdSimDA1);
  ASSERT_NE(group->GetAdviseSink(), nullptr);
  EXPECT_EQ(group->GetDataCallback(), nullptr);
  SetValue(OLESTR("Static.Int32"), 21);
  SimulationControl::SetItemQuality(OLESTR("Static.Int32"), 0xD8);
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int32"), com::DateToFileTime(45001.0));
  SimulationControl::PublishNow();
  Pump();
  ASSERT_EQ(deliveries_.size(), 1u);
  ASSERT_FALSE(deliveries_[0].ids.empty());
  EXPECT_EQ(deliveries_[0].ids[0], "Static.Int32");
  TXeloItem& item = *group->GetOPCItems()->GetItem(0);
  EXPECT_EQ(item.GetValue().AsVARIANT().lVal, 21);
  EXPECT_EQ(item.GetQuality(), 0xC0);  // only the major quality of a stream
  EXPECT_EQ(item.GetTimeStamp(), FileTimeToDateTime(com::DateToFileTime(45001.0)));
  EXPECT_EQ(item.GetTimeStampUTC(), 45001.0);

  // Asynchronous reads go through the stream's connection, from the device.
  deliveries_.clear();
  ASSERT_TRUE(group->AsyncRead(nullptr));
  const auto args = SimulationControl::LastArguments("IOPCAsyncIO::Read");
  EXPECT_EQ(args->dataSource, OPC_DS_DEVICE);
  EXPECT_EQ(args->connection, group->GetAdviseSink()->GetCookie());
  EXPECT_NE(group->GetTaskId(), 0u);
  Pump();
  EXPECT_EQ(group->GetTaskId(), 0u);
  ASSERT_EQ(deliveries_.size(), 1u);
  EXPECT_EQ(group->GetOPCItems()->GetItem(1)->GetValue().VarType(), VT_BSTR);

  server_->SetActive(false);
  EXPECT_EQ(SimulationControl::CallCount("IDataObject::DUnadvise"), 1u);
}

TEST_F(XeloCallbackTest, RefusedCallbackFallsBackToTheStream) {
  SimulationControl::FailMethod("IOPCGroup::FindConnectionPoint", E_NOINTERFACE);
  TXeloGroup* group = Subscribe({"Static.Int32"});
  EXPECT_EQ(group->GetDataCallback(), nullptr);
  ASSERT_NE(group->GetAdviseSink(), nullptr);
  SetValue(OLESTR("Static.Int32"), 8);
  SimulationControl::PublishNow();
  Pump();
  EXPECT_EQ(deliveries_.size(), 1u);

  // Neither subscription: the group stays on the server and the OLE error
  // is raised.
  server_->SetActive(false);
  SimulationControl::FailMethod("IDataObject::DAdvise", E_OUTOFMEMORY);
  try {
    server_->SetActive(true);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_OUTOFMEMORY);
  }
  EXPECT_TRUE(group->IsOnServer());
  EXPECT_EQ(group->GetAdviseSink(), nullptr);
  server_->SetActive(false);
}

}  // namespace
