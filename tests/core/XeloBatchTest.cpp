// Item lists and the batch operations of an item collection.
#include "support/ServerFixture.h"

#include "xelo/framework/UserInterface.h"

#include <gtest/gtest.h>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;
using xelo::test::OPCMessageOf;

class XeloBatchTest : public xelo::test::ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    server_->SetBatchMode(true);  // the tests make the calls themselves
    group_ = Groups().Add("G");
  }

  TXeloItems& Items() { return *group_->GetOPCItems(); }
  // New items off the server, all in one list.
  TXeloItemList& Define(std::initializer_list<const char*> ids) {
    for (const char* id : ids) list_.Add(Items().AddItem(id));
    return list_;
  }

  TXeloGroup* group_ = nullptr;
  TXeloItemList list_;
};

TEST_F(XeloBatchTest, EmptyListsDoNothing) {
  ConnectSim();
  TXeloItemList empty;
  EXPECT_FALSE(Items().OPCAddItems(&empty, true));
  EXPECT_FALSE(Items().OPCValidateItems(&empty));
  EXPECT_FALSE(Items().OPCRemoveItems(&empty));
  EXPECT_FALSE(Items().OPCActiveItems(&empty, true));
  EXPECT_FALSE(Items().OPCSetDataTypes(&empty));
  empty.CheckOPCErrors("x", true);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), 0u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::ValidateItems"), 0u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::RemoveItems"), 0u);
}

TEST_F(XeloBatchTest, AddWithOneRefusedItem) {
  ConnectSim();
  SimulationControl::RefuseItem(OLESTR("Static.Int16"), OPC_E_UNKNOWNITEMID);
  TXeloItemList& list = Define({"Static.Float", "Static.Int16", "Static.ReadOnly"});
  list.GetItem(0)->SetRequestDatatype(vtR8);
  EXPECT_FALSE(Items().OPCAddItems(&list, true));
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), 1u);
  const auto args = SimulationControl::LastArguments("IOPCItemMgt::AddItems");
  EXPECT_EQ(args->itemIds, (std::vector<xelo::com::OleString>{OLESTR("Static.Float"), OLESTR("Static.Int16"), OLESTR("Static.ReadOnly")}));
  EXPECT_EQ(args->requestedTypes, (std::vector<VARTYPE>{VT_R8, VT_EMPTY, VT_EMPTY}));

  TXeloItem& first = *list.GetItem(0);
  TXeloItem& second = *list.GetItem(1);
  TXeloItem& third = *list.GetItem(2);
  EXPECT_TRUE(first.IsOnServer());
  EXPECT_EQ(first.GetCanonicalDatatype(), VT_R4);  // canonical, not the requested type
  EXPECT_EQ(first.GetLastError(), 0);
  EXPECT_FALSE(second.IsOnServer());
  EXPECT_EQ(second.GetLastError(), OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(second.GetCanonicalDatatype(), 0);
  EXPECT_TRUE(third.IsOnServer());
  EXPECT_EQ(third.GetAccessRights(), static_cast<DWORD>(OPC_READABLE));
  EXPECT_NE(first.GetServerHandle(), third.GetServerHandle());

  EXPECT_EQ(OPCMessageOf([&] { list.CheckOPCErrors("cannot add Items:", true); }),
            std::string("cannot add Items:\r\nStatic.Int16- ") + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n");
}

TEST_F(XeloBatchTest, PreconditionsComeBeforeTheInterfaceCheck) {
  TXeloItemList& list = Define({"Static.Int32", "Static.Int16"});
  // Not connected: the group is not on the server.
  EXPECT_FALSE(Items().OPCAddItems(&list, true));
  EXPECT_EQ(OPCMessageOf([&] { Items().OPCActiveItems(&list, false); }), "item Static.Int32 not exists on OPCServer");
  EXPECT_EQ(OPCMessageOf([&] { Items().OPCSetDataTypes(&list); }), "item Static.Int32 not exists on OPCServer");
  EXPECT_EQ(OPCMessageOf([&] { Items().OPCRemoveItems(&list); }), "item Static.Int32 not exists on OPCServer");

  ConnectSim();  // the group adds both items on its way to the server
  TXeloItemList on(list.GetItem(1));
  TXeloItemList first(list.GetItem(0));
  ASSERT_TRUE(Items().OPCRemoveItems(&first));
  // The third entry is on the server: nothing at all is added.
  TXeloItem* extra = Items().AddItem("Static.Double");
  TXeloItemList mixed;
  mixed.Add(list.GetItem(0));
  mixed.Add(extra);
  mixed.Add(list.GetItem(1));
  const unsigned adds = SimulationControl::CallCount("IOPCItemMgt::AddItems");
  EXPECT_EQ(OPCMessageOf([&] { Items().OPCAddItems(&mixed, true); }), "item Static.Int16 already exists on OPCServer");
  EXPECT_EQ(OPCMessageOf([&] { Items().OPCValidateItems(&mixed); }), "item Static.Int16 already exists on OPCServer");
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), adds);
  EXPECT_FALSE(list.GetItem(0)->IsOnServer());
  EXPECT_FALSE(extra->IsOnServer());

  // In a designer only validation is done.
  server_->SetDesigning(true);
  TXeloItemList off(extra);
  EXPECT_FALSE(Items().OPCAddItems(&off, true));
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), adds);
  EXPECT_TRUE(Items().OPCValidateItems(&off));
  EXPECT_FALSE(extra->IsOnServer());
  EXPECT_EQ(extra->GetCanonicalDatatype(), VT_R8);
  EXPECT_FALSE(Items().OPCRemoveItems(&on));  // nothing but validation in a designer
  EXPECT_TRUE(list.GetItem(1)->IsOnServer());
  server_->SetDesigning(false);
}

TEST_F(XeloBatchTest, RemoveTakesEveryEntryOff) {
  ConnectSim();
  TXeloItemList& list = Define({"Static.Int32", "Static.Int16", "Static.Double"});
  ASSERT_TRUE(Items().OPCAddItems(&list, true));
  // The server forgets the second item behind the client's back.
  OPCHANDLE gone = list.GetItem(1)->GetServerHandle();
  HRESULT* errors = nullptr;
  ASSERT_EQ(group_->GetItemMgt()->RemoveItems(1, &gone, &errors), S_OK);
  CoTaskMemFree(errors);

  EXPECT_FALSE(Items().OPCRemoveItems(&list));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(list.GetItem(i)->IsOnServer()) << i;
  EXPECT_EQ(list.GetItem(0)->GetLastError(), 0);
  EXPECT_EQ(list.GetItem(1)->GetLastError(), OPC_E_INVALIDHANDLE);
  EXPECT_EQ(list.GetItem(2)->GetLastError(), 0);
}

TEST_F(XeloBatchTest, RemoveWithoutErrorArrayUsesTheCallResult) {
  ConnectSim();
  TXeloItemList& list = Define({"Static.Int32", "Static.Int16"});
  ASSERT_TRUE(Items().OPCAddItems(&list, true));
  SimulationControl::FailMethod("IOPCItemMgt::RemoveItems", E_OUTOFMEMORY, true);
  EXPECT_FALSE(Items().OPCRemoveItems(&list));
  EXPECT_EQ(list.GetItem(0)->GetLastError(), E_OUTOFMEMORY);
  EXPECT_EQ(list.GetItem(1)->GetLastError(), E_OUTOFMEMORY);
  EXPECT_FALSE(list.GetItem(0)->IsOnServer());

  ASSERT_TRUE(Items().OPCAddItems(&list, true));
  SimulationControl::SetRemoveItemsWithoutErrors(true);
  EXPECT_TRUE(Items().OPCRemoveItems(&list));
  EXPECT_FALSE(list.GetItem(1)->IsOnServer());
}

TEST_F(XeloBatchTest, ActiveStateAndDataTypes) {
  ConnectSim();
  TXeloItemList& list = Define({"Static.Int32", "Static.String"});
  ASSERT_TRUE(Items().OPCAddItems(&list, true));
  EXPECT_TRUE(Items().OPCActiveItems(&list, false));
  EXPECT_FALSE(list.GetItem(0)->GetIsActive());
  EXPECT_EQ(SimulationControl::LastArguments("IOPCItemMgt::SetActiveState")->flag, FALSE);
  EXPECT_TRUE(Items().OPCActiveItems(&list, true));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCItemMgt::SetActiveState")->flag, static_cast<BOOL>(-1));

  list.GetItem(0)->SetRequestDatatype(vtR8);
  list.GetItem(1)->SetRequestDatatype(vtDISPATCH);  // no conversion to an interface
  EXPECT_FALSE(Items().OPCSetDataTypes(&list));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCItemMgt::SetDatatypes")->requestedTypes,
            (std::vector<VARTYPE>{VT_R8, VT_DISPATCH}));
  EXPECT_EQ(list.GetItem(0)->GetLastError(), 0);
  EXPECT_LT(list.GetItem(1)->GetLastError(), 0);
  EXPECT_EQ(list.GetItem(1)->GetCanonicalDatatype(), VT_BSTR);  // the canonical type stays
}

TEST_F(XeloBatchTest, FailedCallChangesNoItem) {
  ConnectSim();
  TXeloItemList& list = Define({"Static.Int32"});
  SimulationControl::FailMethod("IOPCItemMgt::AddItems", E_OUTOFMEMORY, true);
  try {
    Items().OPCAddItems(&list, true);
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_OUTOFMEMORY);
  }
  EXPECT_FALSE(list.GetItem(0)->IsOnServer());
  EXPECT_EQ(list.GetItem(0)->GetLastError(), 0);
}

TEST_F(XeloBatchTest, ErrorReportListsTwentySixItems) {
  ConnectSim();
  std::vector<std::string> ids;
  for (int i = 0; i < 30; ++i) {
    ids.push_back("Bad" + std::to_string(i));
    list_.Add(Items().AddItem(ids.back()));
  }
  EXPECT_FALSE(Items().OPCAddItems(&list_, true));
  list_.CheckOPCErrors("Head", false);
  ASSERT_EQ(ui_->ShownTexts().size(), 1u);
  const std::string text = ui_->ShownTexts()[0];
  std::string expected = "Head\r\n";
  for (int i = 0; i < 26; ++i) expected += ids[i] + "- " + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n";
  EXPECT_EQ(text, expected);
}

TEST_F(XeloBatchTest, AddAllItemsReportsInAMessageBox) {
  Define({"Static.Int32", "Nowhere", "Static.Int16"});
  ConnectSim();  // the group adds its items when it goes to the server
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), 1u);
  ASSERT_EQ(ui_->ShownTexts().size(), 1u);
  EXPECT_EQ(ui_->ShownTexts()[0],
            std::string("cannot add Items:\r\nNowhere- ") + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n");
  EXPECT_TRUE(Items().GetItem(0)->IsOnServer());
  EXPECT_FALSE(Items().GetItem(1)->IsOnServer());

  // Only the item that is off the server is tried again.
  Items().GetItem(1)->SetItemID("Static.Double");
  Items().OPCAddAllItems();
  EXPECT_EQ(SimulationControl::LastArguments("IOPCItemMgt::AddItems")->itemIds,
            std::vector<xelo::com::OleString>{OLESTR("Static.Double")});
  Items().OPCAddAllItems();  // nothing left to add: no call, no message
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), 2u);
  EXPECT_EQ(ui_->ShownTexts().size(), 1u);
}

TEST_F(XeloBatchTest, OneCallForAThousandItems) {
  ConnectSim();
  for (int i = 0; i < 1000; ++i) list_.Add(Items().AddItem(i % 2 ? "Static.Int32" : "Channel 1.Device 1.Ramp"));
  EXPECT_TRUE(Items().OPCAddItems(&list_, true));
  EXPECT_TRUE(Items().OPCActiveItems(&list_, false));
  EXPECT_TRUE(Items().OPCRemoveItems(&list_));
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), 1u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::SetActiveState"), 1u);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::RemoveItems"), 1u);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCItemMgt::RemoveItems")->count, 1000u);
}

TEST_F(XeloBatchTest, ListConstructors) {
  Define({"A", "B"});
  TXeloItemList all(Items());
  ASSERT_EQ(all.GetCount(), 2);
  EXPECT_EQ(all.GetItem(1), Items().GetItem(1));
  TXeloItemList one(Items().GetItem(1));
  EXPECT_EQ(one.GetCount(), 1);
  one.PutItem(0, Items().GetItem(0));
  EXPECT_EQ(one[0], Items().GetItem(0));
  all.Clear();
  EXPECT_EQ(Items().GetCount(), 2);  // the list owns nothing
}

}  // namespace
