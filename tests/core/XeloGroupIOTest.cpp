// Reads, writes, refreshes and cancellation of a group on the server.
#include "support/ServerFixture.h"

#include "xelo/com/OleDate.h"

#include <gtest/gtest.h>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;
using xelo::test::OPCMessageOf;

class XeloGroupIOTest : public xelo::test::ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    group_ = Groups().Add("G");
    for (const char* id : {"Static.Int32", "Static.ReadOnly", "Static.Double"}) group_->GetOPCItems()->AddItem(id);
  }
  TXeloItem& Item(int index) { return *group_->GetOPCItems()->GetItem(index); }

  TXeloGroup* group_ = nullptr;
};

TEST_F(XeloGroupIOTest, NothingWithoutTheServer) {
  EXPECT_FALSE(group_->SyncRead(nullptr, true));
  EXPECT_FALSE(group_->SyncWrite(nullptr));
  EXPECT_FALSE(group_->AsyncRead(nullptr));
  EXPECT_FALSE(group_->AsyncWrite(nullptr));
  group_->Refresh(true);
  group_->CancelLastAsyncCall();

  ConnectSim();
  TXeloGroup* empty = Groups().Add("Empty");
  EXPECT_FALSE(empty->SyncRead(nullptr, true));
  EXPECT_FALSE(empty->AsyncWrite(nullptr));
  EXPECT_EQ(SimulationControl::CallCount("IOPCSyncIO::Read"), 0u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCAsyncIO2::Write"), 0u);

  // An item of the list off the server stops the call before it is made.
  TXeloItem* off = group_->GetOPCItems()->AddItem("Static.Int16");
  server_->SetBatchMode(true);
  TXeloItem* batched = group_->GetOPCItems()->AddItem("Static.Bool");
  (void)off;
  EXPECT_EQ(OPCMessageOf([&] { group_->SyncRead(nullptr, false); }), "item Static.Bool not exists on OPCServer");
  EXPECT_EQ(OPCMessageOf([&] { batched->WriteAsync(Variant(true)); }), "item Static.Bool not exists on OPCServer");
  EXPECT_EQ(SimulationControl::CallCount("IOPCSyncIO::Read"), 0u);
}

TEST_F(XeloGroupIOTest, SyncReadStoresWhatTheServerHas) {
  ConnectSim();
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 4711;
  SimulationControl::SetItemValue(OLESTR("Static.Int32"), value);
  SimulationControl::SetItemQuality(OLESTR("Static.Int32"), 0x1D9);  // vendor bits, substatus and limit kept
  FILETIME stamp = com::DateToFileTime(45000.5);
  SimulationControl::SetItemTimeStamp(OLESTR("Static.Int32"), stamp);

  TXeloItemList one(&Item(0));
  EXPECT_TRUE(group_->SyncRead(&one, false));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCSyncIO::Read")->dataSource, OPC_DS_DEVICE);
  EXPECT_EQ(Item(0).GetValue().AsVARIANT().lVal, 4711);
  EXPECT_EQ(Item(0).GetQuality(), 0x1D9);
  EXPECT_EQ(Item(0).GetTimeStamp(), FileTimeToDateTime(stamp));
  EXPECT_EQ(Item(0).GetLastError(), 0);

  EXPECT_TRUE(group_->SyncRead(nullptr, true));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCSyncIO::Read")->dataSource, OPC_DS_CACHE);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCSyncIO::Read")->count, 3u);
}

TEST_F(XeloGroupIOTest, SyncWriteWithOneFailingItem) {
  ConnectSim();
  ASSERT_TRUE(group_->SyncRead(nullptr, false));
  const std::int32_t quality = Item(2).GetQuality();
  Item(0).WriteSync(Variant(42));
  for (int i = 0; i < 3; ++i) Item(i).SetWriteValue(Variant(7));
  EXPECT_FALSE(group_->SyncWrite(nullptr));
  EXPECT_EQ(Item(0).GetLastError(), 0);
  EXPECT_EQ(Item(1).GetLastError(), OPC_E_BADRIGHTS);
  EXPECT_EQ(Item(1).GetQuality(), 0);
  EXPECT_EQ(Item(2).GetQuality(), quality);
  EXPECT_EQ(Item(2).GetLastError(), 0);

  VARIANT written;
  ASSERT_TRUE(SimulationControl::GetItemValue(OLESTR("Static.Double"), &written));
  EXPECT_EQ(written.vt, VT_R8);
  EXPECT_EQ(written.dblVal, 7.0);
  VariantClear(&written);

  EXPECT_EQ(OPCMessageOf([&] { Item(1).WriteSync(Variant(1)); }),
            std::string("cannot write Items:\r\nStatic.ReadOnly- ") + GetOPCErrorMessage(OPC_E_BADRIGHTS) + "\r\n");
}

TEST_F(XeloGroupIOTest, WriteValuesOfManyItemsGoOutInOneCall) {
  ConnectSim();
  Item(0).SetWriteValue(Variant(-12));
  Item(2).SetWriteValue(Variant(2.5));
  EXPECT_EQ(SimulationControl::CallCount("IOPCSyncIO::Write"), 0u);  // setting sends nothing
  TXeloItemList both;
  both.Add(&Item(0));
  both.Add(&Item(2));
  EXPECT_TRUE(group_->SyncWrite(&both));
  EXPECT_EQ(SimulationControl::CallCount("IOPCSyncIO::Write"), 1u);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCSyncIO::Write")->count, 2u);
  EXPECT_EQ(Item(0).GetWriteValue().ToInt32(), -12);

  VARIANT written;
  ASSERT_TRUE(SimulationControl::GetItemValue(OLESTR("Static.Int32"), &written));
  EXPECT_EQ(written.vt, VT_I4);
  EXPECT_EQ(written.lVal, -12);
  VariantClear(&written);
  ASSERT_TRUE(SimulationControl::GetItemValue(OLESTR("Static.Double"), &written));
  EXPECT_EQ(written.vt, VT_R8);
  EXPECT_EQ(written.dblVal, 2.5);
  VariantClear(&written);
}

TEST_F(XeloGroupIOTest, TransactionIdsCountAcrossGroups) {
  ConnectSim();
  TXeloGroup* other = Groups().Add("Other");
  other->GetOPCItems()->AddItem("Static.Int32");
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  const DWORD first = *SimulationControl::LastArguments("IOPCAsyncIO2::Read")->transactionId;
  ASSERT_TRUE(other->AsyncRead(nullptr));
  EXPECT_EQ(*SimulationControl::LastArguments("IOPCAsyncIO2::Read")->transactionId, first + 1);
  group_->Refresh(false);
  EXPECT_EQ(*SimulationControl::LastArguments("IOPCAsyncIO2::Refresh2")->transactionId, first + 2);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO2::Refresh2")->dataSource, OPC_DS_DEVICE);
  Item(0).WriteAsync(Variant(3));
  EXPECT_EQ(*SimulationControl::LastArguments("IOPCAsyncIO2::Write")->transactionId, first + 3);
  EXPECT_NE(group_->GetTaskId(), 0u);
  EXPECT_EQ(group_->GetTransactionId(), first + 3);
}

TEST_F(XeloGroupIOTest, CancelForgetsThePendingCall) {
  ConnectSim();
  group_->CancelLastAsyncCall();
  EXPECT_EQ(SimulationControl::CallCount("IOPCAsyncIO2::Cancel2"), 0u);

  ASSERT_TRUE(group_->AsyncRead(nullptr));
  const DWORD cancelId = group_->GetTaskId();
  ASSERT_NE(cancelId, 0u);
  group_->CancelLastAsyncCall();
  EXPECT_EQ(SimulationControl::LastArguments("IOPCAsyncIO2::Cancel2")->cancelId, cancelId);
  EXPECT_EQ(group_->GetTaskId(), 0u);
  EXPECT_EQ(group_->GetTransactionId(), 0u);

  ASSERT_TRUE(group_->AsyncRead(nullptr));
  SimulationControl::FailMethod("IOPCAsyncIO2::Cancel2", E_FAIL, true);
  EXPECT_ANY_THROW(group_->CancelLastAsyncCall());
  EXPECT_EQ(group_->GetTaskId(), 0u);

  // A completion of another transaction leaves the pending one alone.
  ASSERT_TRUE(group_->AsyncRead(nullptr));
  const DWORD transaction = group_->GetTransactionId();
  group_->TransactionCompleted(transaction + 1000);
  EXPECT_NE(group_->GetTaskId(), 0u);
  group_->TransactionCompleted(transaction);
  EXPECT_EQ(group_->GetTaskId(), 0u);
}

TEST_F(XeloGroupIOTest, RefusedStartKeepsTheItemsAndRaises) {
  ConnectSim();
  SimulationControl::FailMethod("IOPCAsyncIO2::Read", OPC_E_INVALIDHANDLE, true);
  EXPECT_EQ(OPCMessageOf([&] { group_->AsyncRead(nullptr); }), GetOPCErrorMessage(OPC_E_INVALIDHANDLE));
  EXPECT_EQ(group_->GetTaskId(), 0u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Item(i).GetLastError(), 0);
}

}  // namespace
