// Groups: names, settings on and off the server, rebuilding on reconnection,
// and their reads, writes, refreshes and cancellation.
#include "support/ServerFixture.h"


namespace xelo::test {
namespace {

auto Last(const char* method) { return SimulationControl::LastArguments(method); }
tGroupStateRec StateOf(TXeloGroup& group) {
  tGroupStateRec state;
  group.GetState(state);
  return state;
}

class XeloGroupTest : public ServerFixture {};

TEST_F(XeloGroupTest, NamesAreExactAndUniqueAndOfflineSettersOnlyStore) {
  TXeloGroup* line1 = Groups().Add("Line1");
  Groups().Add("line1");  // differs in case only: another group
  EXPECT_EQ(std::tuple(Groups().GetOPCGroup("Line1"), Groups().GetOPCGroup("LINE1"), Groups().Exists(" Line1")),
            std::tuple(line1, nullptr, -1));
  EXPECT_EQ(MessageOf<EOPCException>([&] { Groups().Add("Line1"); }), "group Line1 already exists");
  EXPECT_EQ(MessageOf<EOPCException>([&] { Groups().Remove("LINE1"); }), "group not found");
  Groups().Remove("line1");
  EXPECT_EQ(server_->GetGroupCount(), 1);
  // Default names count the collection: not unique by design, the name only
  // says where the group started.
  Groups().Delete(0);
  Groups().TCollection::Add();
  auto* second = static_cast<TXeloGroup*>(Groups().TCollection::Add());
  Groups().Delete(0);
  EXPECT_EQ(static_cast<TXeloGroup*>(Groups().TCollection::Add())->GetName() + second->GetName(),
            "TXeloGroup1TXeloGroup1");
  second->SetName("  ");
  EXPECT_EQ(second->GetDisplayName(), "TXeloGroup");
  Groups().RemoveAll();
  // New groups take the server's defaults; off the server setters only store.
  TxDefaultGroup& defaults = *server_->GetOPCGroupDefault();
  defaults.SetIsActive(false), defaults.SetUpdateRate(250), defaults.SetDeadBand(2.5f);
  defaults.SetLocaleId(1031), defaults.SetTimeBias(-60);
  TXeloGroup* group = Groups().Add("G");
  EXPECT_EQ(std::tuple(group->GetIsActive(), group->GetUpdateRate(), group->GetDeadBand(), group->GetLocaleId(),
                       group->GetTimeBias()), std::tuple(false, 250, 2.5f, 1031, -60));
  group->SetUpdateRate(15), group->SetName("H");
  // Exactly as set: nobody revised it.
  EXPECT_EQ(std::tuple(group->GetUpdateRate(), SimulationControl::CallCount("IOPCGroupStateMgt::SetState")),
            std::tuple(15, 0u));
  tGroupStateRec state;
  state.Name = "untouched";
  EXPECT_EQ(MessageOf<EOPCException>([&] { group->GetState(state); }), "not connected to server");
  EXPECT_EQ(state.Name, "untouched");
}

TEST_F(XeloGroupTest, SettingsOnTheServer) {
  server_->GetOPCGroupDefault()->SetLocaleId(1031), server_->GetOPCGroupDefault()->SetTimeBias(-60);
  ConnectSim();
  TXeloGroup* group = Groups().Add("Fast");
  // IOPCAsyncIO only asked for without IOPCAsyncIO2.
  EXPECT_TRUE(group->GetSyncIO() && group->GetAsyncIO2() && !group->GetAsyncIO() &&
              StateOf(*group).ServerHandle == group->GetServerHandle());
  EXPECT_EQ(std::tuple(Last("IOPCServer::AddGroup")->text, Last("IOPCServer::AddGroup")->requestedRate),
            std::tuple(com::OleString(OLESTR("Fast")), std::optional<DWORD>(1000)));
  // Each setter sends the other settings as they are; the revised rate
  // stays, and unchanged values send nothing.
  group->SetUpdateRate(15);
  EXPECT_EQ(group->GetUpdateRate(), 100);
  group->SetIsActive(false), group->SetDeadBand(5.0f);
  EXPECT_EQ(Last("IOPCGroupStateMgt::SetState")->requestedRate, 100u);
  const tGroupStateRec state = StateOf(*group);
  EXPECT_EQ(std::tuple(state.UpdateRate, state.Active, state.DeadBand, state.LocaleId, state.TimeBias),
            std::tuple(100u, false, 5.0f, 1031u, -60));
  group->SetLocaleId(1033), group->SetTimeBias(30);
  EXPECT_EQ(std::tuple(StateOf(*group).LocaleId, StateOf(*group).TimeBias), std::tuple(1033u, 30));
  const unsigned calls = SimulationControl::CallCount("IOPCGroupStateMgt::SetState");
  group->SetIsActive(false), group->SetUpdateRate(100), group->SetDeadBand(5.0f), group->SetName("Fast");
  EXPECT_EQ(std::tuple(SimulationControl::CallCount("IOPCGroupStateMgt::SetState"),
                       SimulationControl::CallCount("IOPCGroupStateMgt::SetName")), std::tuple(calls, 0u));
  // Refused settings keep the old values.
  Groups().Add("Taken");
  EXPECT_TRUE(!MessageOf<EOPCException>([&] { group->SetName("Taken"); }).empty() && group->GetName() == "Fast");
  SimulationControl::FailMethod("IOPCGroupStateMgt::SetState", E_FAIL, true);
  EXPECT_TRUE(!MessageOf<EOleSysError>([&] { group->SetDeadBand(7.0f); }).empty() && group->GetDeadBand() == 5.0f);
  // A designer creates new groups under their default name, then renames.
  server_->SetDesigning(true);
  ASSERT_TRUE(Groups().Add("Designed")->IsOnServer());
  EXPECT_EQ(Last("IOPCServer::AddGroup")->text + Last("IOPCGroupStateMgt::SetName")->text, OLESTR("TXeloGroup2Designed"));
  server_->SetDesigning(false), ConnectSim(sim::kProgIdSimDA1);  // without IOPCAsyncIO2: the old interface
  EXPECT_TRUE(!group->GetAsyncIO2() && group->GetAsyncIO());
}

TEST_F(XeloGroupTest, ReconnectionRebuildsEveryGroupWithItsSettings) {
  Groups().Add("Empty"), ConnectSim();
  EXPECT_TRUE(waits_.empty()) << "the connect delay is only for items";
  server_->SetActive(false), Groups().Remove("Empty");
  TXeloGroup *a = AddGroup({"Static.Int32"}, "A"), *b = Groups().Add("B");
  a->SetIsActive(false), b->SetUpdateRate(500), b->SetDeadBand(0.5f), server_->SetConnectDelay(750);
  server_->SetActive(true), server_->SetActive(false);
  EXPECT_EQ(waits_, std::vector<std::int32_t>{750});
  EXPECT_FALSE(a->IsOnServer() || a->GetOPCItems()->GetItem(0)->IsOnServer() ||
               SimulationControl::Live().groups != liveGroups_);
  server_->SetActive(true);
  EXPECT_EQ(std::tuple(StateOf(*b).UpdateRate, StateOf(*b).DeadBand, StateOf(*a).Active,
                       a->GetOPCItems()->GetItem(0)->IsOnServer()),
            std::tuple(500u, 0.5f, false, true));
  const unsigned removals = SimulationControl::CallCount("IOPCItemMgt::RemoveItems");
  Groups().Remove("A");
  EXPECT_EQ(std::tuple(SimulationControl::Live().groups, SimulationControl::CallCount("IOPCItemMgt::RemoveItems")),
            std::tuple(liveGroups_ + 1, removals + 1));
  Groups().RemoveAll();
  EXPECT_EQ(SimulationControl::Live().groups, liveGroups_);

  // A refused AddGroup stops the rebuild; the groups before it stay.
  server_->SetActive(false);
  for (const char* name : {"A", "B", "C"}) Groups().Add(name);
  Groups().GetItem(1)->SetName("A");  // the server refuses a second "A"
  const int connects = connects_;
  EXPECT_FALSE(MessageOf<EOPCException>([&] { server_->SetActive(true); }).empty());
  EXPECT_EQ(std::tuple(server_->Connected(), connects_, Groups().GetItem(0)->IsOnServer(), Groups().GetItem(1)->IsOnServer(),
                       Groups().GetItem(2)->IsOnServer()), std::tuple(true, connects, true, false, false));
  server_->SetActive(false);
}

class XeloGroupIOTest : public EventRecordingFixture {
 protected:
  void SetUp() override {
    EventRecordingFixture::SetUp();
    group_ = AddGroup({"Static.Int32", "Static.ReadOnly", "Static.Double"});
  }
  // "type:value" of what the server holds.
  static std::string ServerValue(const OLECHAR* id) {
    VARIANT raw;
    EXPECT_TRUE(SimulationControl::GetItemValue(id, &raw));
    const Variant value = Variant::Attach(raw);
    return std::to_string(value.VarType()) + ":" + VarToStr(value);
  }
};

TEST_F(XeloGroupIOTest, ReadsWritesTransactionsAndCancellation) {
  EXPECT_FALSE(group_->SyncRead(nullptr, true) || group_->SyncWrite(nullptr) || group_->AsyncRead(nullptr) ||
               group_->AsyncWrite(nullptr));  // nothing without the server
  ConnectSim();
  group_->CancelLastAsyncCall();  // nothing pending: no call
  EXPECT_EQ(SimulationControl::CallCount("IOPCAsyncIO2::Cancel2"), 0u);
  // Transaction ids count across groups and calls.
  TXeloGroup* other = AddGroup({"Static.Int32"}, "Other");
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  const DWORD first = *Last("IOPCAsyncIO2::Read")->transactionId;
  ASSERT_TRUE(other->AsyncRead(nullptr));
  EXPECT_EQ(*Last("IOPCAsyncIO2::Read")->transactionId, first + 1);
  group_->Refresh(false);
  EXPECT_EQ(std::tuple(*Last("IOPCAsyncIO2::Refresh2")->transactionId, Last("IOPCAsyncIO2::Refresh2")->dataSource),
            std::tuple(first + 2, OPC_DS_DEVICE));
  Item(0).WriteAsync(Variant(3));
  EXPECT_EQ(std::tuple(*Last("IOPCAsyncIO2::Write")->transactionId, group_->GetTransactionId()),
            std::tuple(first + 3, first + 3));
  // Cancelled, accepted or not: nothing stays pending.
  const DWORD cancelId = group_->GetTaskId();
  ASSERT_NE(cancelId, 0u);
  group_->CancelLastAsyncCall();
  EXPECT_EQ(std::tuple(Last("IOPCAsyncIO2::Cancel2")->cancelId, group_->GetTaskId() + group_->GetTransactionId()),
            std::tuple(cancelId, 0u));
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  SimulationControl::FailMethod("IOPCAsyncIO2::Cancel2", E_FAIL, true);
  EXPECT_ANY_THROW(group_->CancelLastAsyncCall());
  EXPECT_EQ(group_->GetTaskId() + group_->GetTransactionId(), 0u);
  // A completion of another transaction leaves the pending one alone.
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  const DWORD transaction = group_->GetTransactionId();
  group_->TransactionCompleted(transaction + 1000);
  EXPECT_NE(group_->GetTaskId(), 0u);
  group_->TransactionCompleted(transaction);
  EXPECT_EQ(group_->GetTaskId(), 0u);
  // A refused start raises and leaves the items alone.
  SimulationControl::FailMethod("IOPCAsyncIO2::Read", OPC_E_INVALIDHANDLE, true);
  EXPECT_EQ(MessageOf<EOPCException>([&] { group_->AsyncRead(nullptr); }), GetOPCErrorMessage(OPC_E_INVALIDHANDLE));
  EXPECT_EQ(std::tuple(group_->GetTaskId(), Item(0).GetLastError(), Item(1).GetLastError(), Item(2).GetLastError()),
            std::tuple(0u, 0, 0, 0));

  // Synchronous reads take the quality word whole, from the source asked for.
  const FILETIME stamp = com::DateToFileTime(45000.5);
  SetSimValue(OLESTR("Static.Int32"), 4711), SimulationControl::SetItemTimeStamp(OLESTR("Static.Int32"), stamp);
  SimulationControl::SetItemQuality(OLESTR("Static.Int32"), 0x1D9);  // vendor bits, substatus and limit kept
  TXeloItemList one(&Item(0));
  EXPECT_TRUE(group_->SyncRead(&one, false) && Last("IOPCSyncIO::Read")->dataSource == OPC_DS_DEVICE);
  EXPECT_EQ(std::tuple(Item(0).GetValue().AsVARIANT().lVal, Item(0).GetQuality(), Item(0).GetTimeStamp()),
            std::tuple(4711, 0x1D9, FileTimeToDateTime(stamp)));
  EXPECT_TRUE(group_->SyncRead(nullptr, true));
  EXPECT_EQ(std::tuple(Last("IOPCSyncIO::Read")->dataSource, Last("IOPCSyncIO::Read")->count), std::tuple(OPC_DS_CACHE, 3u));

  // Write values go out only when written, many in one call.
  const std::int32_t quality = Item(2).GetQuality();
  Item(0).SetWriteValue(Variant(-12)), Item(2).SetWriteValue(Variant(2.5));
  EXPECT_EQ(SimulationControl::CallCount("IOPCSyncIO::Write"), 0u);
  TXeloItemList both(&Item(0));
  both.Add(&Item(2));
  EXPECT_TRUE(group_->SyncWrite(&both));
  EXPECT_EQ(std::tuple(Last("IOPCSyncIO::Write")->count, ServerValue(OLESTR("Static.Int32")),
                       ServerValue(OLESTR("Static.Double"))),
            std::tuple(2u, "3:-12", "5:2.5"));
  // One item refused: its error and quality, the others untouched.
  for (int i = 0; i < 3; ++i) Item(i).SetWriteValue(Variant(7));
  EXPECT_FALSE(group_->SyncWrite(nullptr));
  EXPECT_EQ(std::tuple(Item(1).GetLastError(), Item(1).GetQuality(), Item(2).GetQuality()),
            std::tuple(OPC_E_BADRIGHTS, 0, quality));
  EXPECT_EQ(std::tuple(Item(0).GetLastError(), Item(2).GetLastError(), ServerValue(OLESTR("Static.Double"))),
            std::tuple(0, 0, "5:7"));
  EXPECT_EQ(MessageOf<EOPCException>([&] { Item(1).WriteSync(Variant(1)); }),
            std::string("cannot write Items:\r\nStatic.ReadOnly- ") + GetOPCErrorMessage(OPC_E_BADRIGHTS) + "\r\n");
  // An item of the list off the server stops the call before it is made.
  server_->SetBatchMode(true);
  TXeloItem* batched = group_->GetOPCItems()->AddItem("Static.Bool");
  const unsigned reads = SimulationControl::CallCount("IOPCSyncIO::Read");
  EXPECT_EQ(MessageOf<EOPCException>([&] { group_->SyncRead(nullptr, false); }), "item Static.Bool not exists on OPCServer");
  EXPECT_EQ(MessageOf<EOPCException>([&] { batched->WriteAsync(Variant(true)); }), "item Static.Bool not exists on OPCServer");
  EXPECT_EQ(SimulationControl::CallCount("IOPCSyncIO::Read"), reads);
}


}  // namespace
}  // namespace xelo::test
