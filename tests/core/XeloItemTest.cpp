#include "support/ServerFixture.h"

#include "xelo/framework/TypInfo.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;
using xelo::test::OPCMessageOf;

class XeloItemTest : public xelo::test::ServerFixture {
 protected:
  TXeloGroup& Group() {
    if (Groups().GetCount() == 0) Groups().Add("G");
    return *Groups().GetItem(0);
  }
  TXeloItems& Items() { return *Group().GetOPCItems(); }
  // Calls of the item management interface made so far.
  static unsigned ItemCalls() {
    unsigned calls = 0;
    for (const char* method : {"IOPCItemMgt::AddItems", "IOPCItemMgt::ValidateItems", "IOPCItemMgt::RemoveItems",
                               "IOPCItemMgt::SetActiveState", "IOPCItemMgt::SetDatatypes"}) {
      calls += SimulationControl::CallCount(method);
    }
    return calls;
  }
};

TEST_F(XeloItemTest, NewItemsCopyTheGroupTemplateOnce) {
  TxDefaultItem& defaults = *Group().GetDefaultItem();
  defaults.SetIsActive(false);
  defaults.SetAccessPath("Path");
  defaults.SetRequestDataType(vtR8);
  auto* item = static_cast<TXeloItem*>(Items().Add());
  EXPECT_FALSE(item->GetIsActive());
  EXPECT_EQ(item->GetAccessPath(), "Path");
  EXPECT_EQ(item->GetRequestDatatype(), vtR8);
  EXPECT_EQ(item->GetServerHandle(), kNoServerHandle);
  EXPECT_EQ(item->GetGroup(), &Group());
  defaults.SetIsActive(true);
  EXPECT_FALSE(item->GetIsActive());

  std::vector<std::string> names;
  for (const TPropInfo* prop : GetPropList(*item)) names.push_back(prop->Name());
  EXPECT_EQ(names, (std::vector<std::string>{"ItemID", "AccessPath", "IsActive", "RequestDatatype", "Value", "Quality",
                                             "TimeStamp", "CanonicalDatatype", "EUType", "EUInfo"}));
}

TEST_F(XeloItemTest, ClientHandlesResolveOnlyLiveItems) {
  TXeloItem* a = Items().AddItem("Static.Int32");
  TXeloItem* b = Items().AddItem("Static.Int32");
  const OPCHANDLE handleA = a->GetClientHandle();
  EXPECT_NE(handleA, b->GetClientHandle());
  EXPECT_EQ(FindItemByClientHandle(handleA), a);
  EXPECT_EQ(FindItemByClientHandle(b->GetClientHandle()), b);
  delete a;
  EXPECT_EQ(FindItemByClientHandle(handleA), nullptr);
  EXPECT_EQ(Items().GetCount(), 1);
  // A new item never takes over the handle of the one that is gone, also
  // after thousands of items have come and gone (their slots are reused).
  std::set<OPCHANDLE> gone{handleA};
  for (int round = 0; round < 3000; ++round) {
    TXeloItem* item = Items().AddItem("X");
    const OPCHANDLE handle = item->GetClientHandle();
    ASSERT_NE(handle, 0u);
    ASSERT_NE(handle, kNoServerHandle);
    ASSERT_FALSE(gone.contains(handle)) << "round " << round;
    ASSERT_EQ(FindItemByClientHandle(handle), item);
    delete item;
    gone.insert(handle);
  }
  for (OPCHANDLE handle : gone) EXPECT_EQ(FindItemByClientHandle(handle), nullptr);
  EXPECT_EQ(FindItemByClientHandle(b->GetClientHandle()), b);
}

TEST_F(XeloItemTest, AddItemWhileConnectedPutsItOnTheServer) {
  ConnectSim();
  TXeloItem* item = Items().AddItem("Static.Float");
  EXPECT_TRUE(item->IsOnServer());
  EXPECT_EQ(item->GetCanonicalDatatype(), VT_R4);
  EXPECT_EQ(item->GetAccessRights(), static_cast<DWORD>(OPC_READABLE | OPC_WRITEABLE));
  EXPECT_EQ(Items().GetOPCItem(item->GetServerHandle()), item);
  EXPECT_EQ(Items().LocateOPCItem("Static.Float"), item);
  EXPECT_EQ(Items().LocateOPCItem("static.float"), nullptr);

  const std::string message = OPCMessageOf([&] { Items().AddItem("No.Such.Item"); });
  EXPECT_EQ(message, std::string("OPC Command:\r\nNo.Such.Item- ") + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n");
  ASSERT_EQ(Items().GetCount(), 2);
  EXPECT_FALSE(Items().GetItem(1)->IsOnServer());
  EXPECT_EQ(Items().GetItem(1)->GetLastError(), OPC_E_UNKNOWNITEMID);
}

TEST_F(XeloItemTest, IdentityIsFrozenOnTheServer) {
  ConnectSim();
  TXeloItem* item = Items().AddItem("Static.Int32");
  EXPECT_EQ(OPCMessageOf([&] { item->SetItemID("Static.Int32"); }), "not possible if connected to OPC Server");
  EXPECT_EQ(OPCMessageOf([&] { item->SetAccessPath(""); }), "not possible if connected to OPC Server");
  EXPECT_EQ(item->GetItemID(), "Static.Int32");

  // Off the server at run time: taken silently, used at the next add.
  server_->SetActive(false);
  const unsigned calls = ItemCalls();
  item->SetItemID("Static.Int16");
  EXPECT_EQ(ItemCalls(), calls);
  server_->SetActive(true);
  EXPECT_EQ(item->GetCanonicalDatatype(), VT_I2);
}

TEST_F(XeloItemTest, SettersSendOnlyChanges) {
  ConnectSim();
  TXeloItem* item = Items().AddItem("Static.Int32");
  const unsigned calls = ItemCalls();
  item->SetIsActive(true);
  item->SetRequestDatatype(vtEMPTY);
  EXPECT_EQ(ItemCalls(), calls);
  item->SetIsActive(false);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::SetActiveState"), 1u);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCItemMgt::SetActiveState")->flag, FALSE);
  item->SetRequestDatatype(vtR8);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCItemMgt::SetDatatypes")->requestedTypes,
            std::vector<VARTYPE>{VT_R8});

  // A type the server refuses: stored all the same, the refusal raised.
  EXPECT_FALSE(OPCMessageOf([&] { item->SetRequestDatatype(vtDISPATCH); }).empty());
  EXPECT_EQ(item->GetRequestDatatype(), vtDISPATCH);
  EXPECT_LT(item->GetLastError(), 0);
}

TEST_F(XeloItemTest, SetActiveOnARefusedItemNamesIt) {
  ConnectSim();
  SimulationControl::RefuseItem(OLESTR("Static.Int32"), OPC_E_UNKNOWNITEMID);
  EXPECT_ANY_THROW(Items().AddItem("Static.Int32"));
  TXeloItem* item = Items().GetItem(0);
  EXPECT_EQ(OPCMessageOf([&] { item->SetIsActive(false); }), "item Static.Int32 not exists on OPCServer");
}

TEST_F(XeloItemTest, BatchModeSendsNothingForSingleItems) {
  server_->SetBatchMode(true);
  ConnectSim();
  const unsigned calls = ItemCalls();
  TXeloItem* item = Items().AddItem("Static.Int32");
  item->SetIsActive(false);
  item->SetRequestDatatype(vtR8);
  EXPECT_FALSE(item->IsOnServer());
  EXPECT_EQ(ItemCalls(), calls);

  // On the server through a batch, then destroyed in batch mode: the item
  // stays on the server until its group leaves.
  TXeloItemList list(item);
  ASSERT_TRUE(Items().OPCAddItems(&list, true));
  delete item;
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::RemoveItems"), 0u);
}

TEST_F(XeloItemTest, ConnectedGroupOffTheServerAddsSilently) {
  Group();
  ConnectSim();
  Group().OPCRemoveGroup();
  TXeloItem* item = Items().AddItem("Static.Int32");
  EXPECT_FALSE(item->IsOnServer());
  EXPECT_EQ(item->GetLastError(), 0);
}

TEST_F(XeloItemTest, DestroyingAnItemRemovesIt) {
  ConnectSim();
  TXeloItem* item = Items().AddItem("Static.Int32");
  item->SetLastError(E_FAIL);  // an old error must not be reported by the removal
  delete item;
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::RemoveItems"), 1u);
}

TEST_F(XeloItemTest, DesignerValidatesNewIdentifiers) {
  ConnectSim();
  server_->SetDesigning(true);
  auto* item = static_cast<TXeloItem*>(Items().Add());
  item->SetItemID("Static.Double");
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::ValidateItems"), 1u);
  EXPECT_FALSE(item->IsOnServer());
  EXPECT_EQ(item->GetCanonicalDatatype(), VT_R8);
  EXPECT_EQ(OPCMessageOf([&] { item->SetItemID("Nowhere"); }),
            std::string("OPC Command:\r\nNowhere- ") + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n");
  EXPECT_EQ(item->GetItemID(), "Nowhere");
  // Changes of the active state are only stored in a designer.
  item->SetIsActive(false);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::SetActiveState"), 0u);
}

TEST_F(XeloItemTest, TextsAndQuality) {
  TXeloItem* item = Items().AddItem("  ");
  EXPECT_EQ(item->GetDisplayName(), "TXeloItem");
  item->SetItemID(" A.B ");
  EXPECT_EQ(item->GetDisplayName(), " A.B ");
  EXPECT_EQ(item->GetLastErrorStr(), "");
  item->SetLastError(static_cast<HRESULT>(0x80004005));
  EXPECT_EQ(item->GetLastErrorStr(), "unknown error : -2147467259");
  item->SetLastError(OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(item->GetLastErrorStr(), GetOPCErrorMessage(OPC_E_UNKNOWNITEMID));

  for (const auto& [quality, good] :
       std::vector<std::pair<int, bool>>{{0xC0, true}, {0xD8, true}, {0x1C0, true}, {0x40, false}, {0x00, false}}) {
    item->StoreQuality(quality);
    EXPECT_EQ(item->IsGoodQuality(), good) << quality;
  }
}

TEST_F(XeloItemTest, WriteOffTheServerIsSilent) {
  TXeloItem* item = Items().AddItem("Static.Int32");
  item->WriteSync(Variant(5));
  item->WriteAsync(Variant(6));
  EXPECT_EQ(item->GetWriteValue().AsVARIANT().lVal, 6);
  EXPECT_EQ(SimulationControl::CallCount("IOPCSyncIO::Write"), 0u);
}

TEST_F(XeloItemTest, RemoveAllTakesItemsOffThenDestroysThem) {
  ConnectSim();
  Items().AddItem("Static.Int32");
  Items().AddItem("Static.Int16");
  Items().RemoveAll();
  EXPECT_EQ(Items().GetCount(), 0);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::RemoveItems"), 1u);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCItemMgt::RemoveItems")->count, 2u);
}

}  // namespace
