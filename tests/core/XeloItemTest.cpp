// Items one by one, item lists, and the batch operations of an item
// collection.
#include "support/ServerFixture.h"


#include <set>

namespace xelo::test {
namespace {

unsigned Calls(const char* method) { return SimulationControl::CallCount(method); }
// Calls of the item management interface made so far.
unsigned ItemCalls() {
  unsigned calls = 0;
  for (const char* method : {"AddItems", "ValidateItems", "RemoveItems", "SetActiveState", "SetDatatypes"}) {
    calls += Calls((std::string("IOPCItemMgt::") + method).c_str());
  }
  return calls;
}
auto LastItemCall(const char* method) { return SimulationControl::LastArguments(std::string("IOPCItemMgt::") + method); }
std::string UnknownItemReport(const std::string& head, const std::string& id) {
  return head + "\r\n" + id + "- " + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n";
}

class XeloItemTest : public ServerFixture {
 protected:
  void SetUp() override {
    ServerFixture::SetUp();
    group_ = Groups().Add("G");
  }
  TXeloItems& Items() { return *group_->GetOPCItems(); }
  TXeloItem* Add(const std::string& id) { return Items().AddItem(id); }
  // New items off the server (in batch mode), all in one list.
  TXeloItemList& Define(std::initializer_list<const char*> ids) {
    server_->SetBatchMode(true);
    for (const char* id : ids) list_.Add(Add(id));
    return list_;
  }
  TXeloItem& At(int i) { return *list_.GetItem(i); }

  TXeloGroup* group_ = nullptr;
  TXeloItemList list_;
};

TEST_F(XeloItemTest, NewItemsCopyTheGroupTemplateOnceAndGetHandlesOfTheirOwn) {
  TxDefaultItem& defaults = *group_->GetDefaultItem();
  defaults.SetIsActive(false), defaults.SetAccessPath("Path"), defaults.SetRequestDataType(vtR8);
  TXeloItem* item = Add("  ");
  defaults.SetIsActive(true);
  EXPECT_EQ(std::tuple(item->GetIsActive(), item->GetAccessPath(), item->GetRequestDatatype(), item->GetGroup()),
            std::tuple(false, "Path", vtR8, group_));
  item->SetLastError(static_cast<HRESULT>(0x80004005));
  const std::string unknown = item->GetLastErrorStr();
  item->SetLastError(OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(std::tuple(item->GetDisplayName(), unknown, item->GetLastErrorStr()),
            std::tuple("TXeloItem", "unknown error : -2147467259", GetOPCErrorMessage(OPC_E_UNKNOWNITEMID)));
  std::vector<bool> good;
  for (const int quality : {0xC0, 0xD8, 0x1C0, 0x40, 0}) item->StoreQuality(quality), good.push_back(item->IsGoodQuality());
  EXPECT_EQ(good, std::vector<bool>({true, true, true, false, false}));
  // Off the server writes are silent and only stored.
  TXeloItem* kept = Add("Static.Int32");
  kept->WriteSync(Variant(5)), kept->WriteAsync(Variant(6));
  EXPECT_EQ(std::tuple(kept->GetWriteValue().AsVARIANT().lVal, Calls("IOPCSyncIO::Write")), std::tuple(6, 0u));
  delete item;

  // A new item never takes over the handle of one that is gone, also after
  // thousands of items have come and gone (their slots are reused).
  std::set<OPCHANDLE> gone;
  for (int round = 0; round < 3000; ++round) {
    TXeloItem* item = Add("X");
    const OPCHANDLE handle = item->GetClientHandle();
    ASSERT_NE(handle, 0u);
    ASSERT_FALSE(gone.contains(handle) || handle == kept->GetClientHandle()) << "round " << round;
    ASSERT_EQ(FindItemByClientHandle(handle), item);
    delete item;
    gone.insert(handle);
  }
  for (OPCHANDLE handle : gone) EXPECT_EQ(FindItemByClientHandle(handle), nullptr);
  EXPECT_EQ(std::tuple(FindItemByClientHandle(kept->GetClientHandle()), Items().GetCount()), std::tuple(kept, 1));
}

TEST_F(XeloItemTest, SingleItemsOnTheServer) {
  ConnectSim();
  TXeloItem* item = Add("Static.Float");
  EXPECT_EQ(std::tuple(item->GetCanonicalDatatype(), item->GetAccessRights(), Items().GetOPCItem(item->GetServerHandle()),
                       Items().LocateOPCItem("Static.Float"), Items().LocateOPCItem("static.float")),
            std::tuple(VT_R4, static_cast<DWORD>(OPC_READABLE | OPC_WRITEABLE), item, item, nullptr));
  EXPECT_EQ(MessageOf<EOPCException>([&] { Add("No.Such"); }), UnknownItemReport("OPC Command:", "No.Such"));
  EXPECT_EQ(std::tuple(Items().GetItem(1)->IsOnServer(), Items().GetItem(1)->GetLastError()),
            std::tuple(false, OPC_E_UNKNOWNITEMID));
  EXPECT_EQ(MessageOf<EOPCException>([&] { Items().GetItem(1)->SetIsActive(false); }) + "/" +
                MessageOf<EOPCException>([&] { item->SetItemID("Static.Float"); }) + "/" +
                MessageOf<EOPCException>([&] { item->SetAccessPath(""); }),
            "item No.Such not exists on OPCServer/not possible if connected to OPC Server/"
            "not possible if connected to OPC Server");

  // Setters send only changes; a type the server refuses is stored all the
  // same and the refusal raised.
  unsigned calls = ItemCalls();
  item->SetIsActive(true), item->SetRequestDatatype(vtEMPTY);
  EXPECT_EQ(ItemCalls(), calls);
  item->SetIsActive(false), item->SetRequestDatatype(vtR8);
  EXPECT_EQ(std::tuple(LastItemCall("SetActiveState")->flag, LastItemCall("SetDatatypes")->requestedTypes, ItemCalls()),
            std::tuple(FALSE, std::vector<VARTYPE>{VT_R8}, calls + 2));
  EXPECT_FALSE(MessageOf<EOPCException>([&] { item->SetRequestDatatype(vtDISPATCH); }).empty());
  EXPECT_TRUE(item->GetRequestDatatype() == vtDISPATCH && item->GetLastError() < 0);

  // Off the server at run time a new identity is taken silently.
  item->SetRequestDatatype(vtEMPTY);
  server_->SetActive(false);
  calls = ItemCalls();
  item->SetItemID("Static.Int16");
  EXPECT_EQ(ItemCalls(), calls);
  server_->SetActive(true);
  EXPECT_EQ(item->GetCanonicalDatatype(), VT_I2);
  // Destroyed: removed, an old error not reported; RemoveAll in one call.
  const unsigned removals = Calls("IOPCItemMgt::RemoveItems");
  item->SetLastError(E_FAIL);
  delete item;
  Add("Static.Int32"), Add("Static.Double");
  Items().RemoveAll();
  EXPECT_EQ(std::tuple(Items().GetCount(), Calls("IOPCItemMgt::RemoveItems"), LastItemCall("RemoveItems")->count),
            std::tuple(0, removals + 2, 2u));
  // A connected group off the server adds silently.
  group_->OPCRemoveGroup();
  EXPECT_FALSE(Add("Static.Int32")->IsOnServer());
}

TEST_F(XeloItemTest, DesignerValidatesAndBatchModeSendsNothing) {
  ConnectSim(), server_->SetDesigning(true);
  auto* item = static_cast<TXeloItem*>(Items().Add());
  item->SetItemID("Static.Double");
  EXPECT_EQ(std::tuple(Calls("IOPCItemMgt::ValidateItems"), item->IsOnServer(), item->GetCanonicalDatatype()),
            std::tuple(1u, false, VT_R8));
  EXPECT_EQ(MessageOf<EOPCException>([&] { item->SetItemID("Nowhere"); }), UnknownItemReport("OPC Command:", "Nowhere"));
  EXPECT_EQ(item->GetItemID(), "Nowhere");
  item->SetIsActive(false), server_->SetDesigning(false);  // only stored in a designer
  EXPECT_EQ(Calls("IOPCItemMgt::SetActiveState"), 0u);

  // In batch mode an item on the server through a batch and destroyed stays
  // on the server until its group leaves.
  const unsigned calls = ItemCalls();
  TXeloItem& batched = *Define({"Static.Int32"}).GetItem(0);
  batched.SetIsActive(false), batched.SetRequestDatatype(vtR8);
  EXPECT_TRUE(!batched.IsOnServer() && ItemCalls() == calls);
  ASSERT_TRUE(Items().OPCAddItems(&list_, true));
  delete &batched;
  EXPECT_EQ(Calls("IOPCItemMgt::RemoveItems"), 0u);
}

TEST_F(XeloItemTest, BatchAddReportsRefusedItems) {
  Define({"Static.Int32", "Nowhere"});
  ConnectSim();  // the group adds its items on its way to the server, reporting in a message box
  EXPECT_EQ(ui_->ShownTexts(), Lines{UnknownItemReport("cannot add Items:", "Nowhere")});
  // Only the item off the server is tried again; then nothing is left to
  // add: no call, no message.
  At(1).SetItemID("Static.Double"), Items().OPCAddAllItems(), Items().OPCAddAllItems();
  EXPECT_EQ(std::tuple(LastItemCall("AddItems")->itemIds, Calls("IOPCItemMgt::AddItems"), ui_->ShownTexts().size()),
            std::tuple(std::vector<com::OleString>{OLESTR("Static.Double")}, 2u, 1u));

  SimulationControl::RefuseItem(OLESTR("Static.Int16"), OPC_E_UNKNOWNITEMID);
  TXeloItemList list;
  for (const char* id : {"Static.Float", "Static.Int16", "Static.ReadOnly"}) list.Add(Add(id));
  list.GetItem(0)->SetRequestDatatype(vtR8);
  EXPECT_FALSE(Items().OPCAddItems(&list, true));
  EXPECT_EQ(std::tuple(LastItemCall("AddItems")->itemIds, LastItemCall("AddItems")->requestedTypes),
            std::tuple(std::vector<com::OleString>{OLESTR("Static.Float"), OLESTR("Static.Int16"), OLESTR("Static.ReadOnly")},
                       std::vector<VARTYPE>{VT_R8, VT_EMPTY, VT_EMPTY}));
  // Canonical, not the requested type.
  EXPECT_EQ(std::tuple(list.GetItem(0)->GetCanonicalDatatype(), list.GetItem(0)->GetLastError(),
                       list.GetItem(1)->GetCanonicalDatatype(), list.GetItem(1)->GetLastError(),
                       list.GetItem(1)->IsOnServer(), list.GetItem(2)->GetAccessRights()),
            std::tuple(VT_R4, 0, 0, OPC_E_UNKNOWNITEMID, false, static_cast<DWORD>(OPC_READABLE)));
  EXPECT_NE(list.GetItem(0)->GetServerHandle(), list.GetItem(2)->GetServerHandle());
  EXPECT_EQ(MessageOf<EOPCException>([&] { list.CheckOPCErrors("cannot add Items:", true); }),
            UnknownItemReport("cannot add Items:", "Static.Int16"));

  // A report lists at most 26 items.
  TXeloItemList bad;
  std::string expected = "Head\r\n";
  for (int i = 0; i < 30; ++i) {
    bad.Add(Add("Bad" + std::to_string(i)));
    if (i < 26) expected += "Bad" + std::to_string(i) + "- " + GetOPCErrorMessage(OPC_E_UNKNOWNITEMID) + "\r\n";
  }
  EXPECT_FALSE(Items().OPCAddItems(&bad, true));
  bad.CheckOPCErrors("Head", false);
  EXPECT_EQ(ui_->ShownTexts().back(), expected);
  // A failed call raises the COM error and changes no item.
  SimulationControl::FailMethod("IOPCItemMgt::AddItems", E_OUTOFMEMORY, true);
  TXeloItemList one(Add("Static.Bool"));
  EXPECT_THROW(Items().OPCAddItems(&one, true), EOleSysError);
  EXPECT_TRUE(!one.GetItem(0)->IsOnServer() && one.GetItem(0)->GetLastError() == 0);
}

TEST_F(XeloItemTest, BatchPreconditionsComeBeforeTheCall) {
  Define({"Static.Int32", "Static.Int16"});
  TXeloItemList empty;  // empty lists do nothing
  EXPECT_FALSE(Items().OPCAddItems(&empty, true) || Items().OPCRemoveItems(&empty) || Items().OPCSetDataTypes(&empty));
  EXPECT_FALSE(Items().OPCAddItems(&list_, true));  // the group is not on the server
  EXPECT_EQ((Lines{MessageOf<EOPCException>([&] { Items().OPCActiveItems(&list_, false); }),
                   MessageOf<EOPCException>([&] { Items().OPCSetDataTypes(&list_); }),
                   MessageOf<EOPCException>([&] { Items().OPCRemoveItems(&list_); })}),
            Lines(3, "item Static.Int32 not exists on OPCServer"));
  ConnectSim();
  TXeloItemList first(&At(0));
  ASSERT_TRUE(Items().OPCRemoveItems(&first));
  // An entry on the server: nothing at all is added.
  TXeloItem* extra = Add("Static.Double");
  TXeloItemList mixed;
  for (TXeloItem* item : {&At(0), extra, &At(1)}) mixed.Add(item);
  const unsigned calls = ItemCalls();
  EXPECT_EQ(MessageOf<EOPCException>([&] { Items().OPCAddItems(&mixed, true); }), "item Static.Int16 already exists on OPCServer");
  EXPECT_EQ(MessageOf<EOPCException>([&] { Items().OPCValidateItems(&mixed); }), "item Static.Int16 already exists on OPCServer");
  EXPECT_EQ(std::tuple(ItemCalls(), At(0).IsOnServer(), extra->IsOnServer()), std::tuple(calls, false, false));
  // In a designer only validation is done.
  server_->SetDesigning(true);
  TXeloItemList off(extra);
  EXPECT_TRUE(!Items().OPCAddItems(&off, true) && Items().OPCValidateItems(&off));
  EXPECT_EQ(std::tuple(extra->IsOnServer(), extra->GetCanonicalDatatype()), std::tuple(false, VT_R8));
  TXeloItemList on(&At(1));
  EXPECT_FALSE(Items().OPCRemoveItems(&on));
  EXPECT_TRUE(At(1).IsOnServer() && ItemCalls() == calls + 1);
  server_->SetDesigning(false);
}

TEST_F(XeloItemTest, BatchRemoveActiveStateAndDataTypes) {
  ConnectSim();
  Define({"Static.Int32", "Static.String", "Static.Double"});
  ASSERT_TRUE(Items().OPCAddItems(&list_, true));
  EXPECT_TRUE(Items().OPCActiveItems(&list_, false) && !At(0).GetIsActive() && LastItemCall("SetActiveState")->flag == FALSE &&
              Items().OPCActiveItems(&list_, true) && LastItemCall("SetActiveState")->flag == static_cast<BOOL>(-1));
  At(0).SetRequestDatatype(vtR8), At(1).SetRequestDatatype(vtDISPATCH);  // no conversion to an interface
  EXPECT_FALSE(Items().OPCSetDataTypes(&list_));
  // The canonical type stays.
  EXPECT_EQ(std::tuple(LastItemCall("SetDatatypes")->requestedTypes, At(0).GetLastError(), At(1).GetLastError() < 0,
                       At(1).GetCanonicalDatatype()),
            std::tuple(std::vector<VARTYPE>{VT_R8, VT_DISPATCH, VT_EMPTY}, 0, true, VT_BSTR));
  At(1).SetRequestDatatype(vtEMPTY);

  // The server forgets the second item behind the client's back.
  OPCHANDLE gone = At(1).GetServerHandle();
  HRESULT* errors = nullptr;
  ASSERT_EQ(group_->GetItemMgt()->RemoveItems(1, &gone, &errors), S_OK);
  CoTaskMemFree(errors);
  EXPECT_FALSE(Items().OPCRemoveItems(&list_));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(std::tuple(At(i).IsOnServer(), At(i).GetLastError()), std::tuple(false, i == 1 ? OPC_E_INVALIDHANDLE : S_OK));
  // A failed call without error array: the call's result for every item.
  ASSERT_TRUE(Items().OPCAddItems(&list_, true));
  SimulationControl::FailMethod("IOPCItemMgt::RemoveItems", E_OUTOFMEMORY, true);
  EXPECT_FALSE(Items().OPCRemoveItems(&list_) || At(0).IsOnServer());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(At(i).GetLastError(), E_OUTOFMEMORY) << i;
  ASSERT_TRUE(Items().OPCAddItems(&list_, true));
  SimulationControl::SetRemoveItemsWithoutErrors(true);
  EXPECT_TRUE(Items().OPCRemoveItems(&list_) && !At(1).IsOnServer());

  TXeloItemList many;  // one call each for a thousand items
  for (int i = 0; i < 1000; ++i) many.Add(Add(i % 2 ? "Static.Int32" : "Channel 1.Device 1.Ramp"));
  const unsigned before = ItemCalls();
  EXPECT_TRUE(Items().OPCAddItems(&many, true) && Items().OPCActiveItems(&many, false) && Items().OPCRemoveItems(&many));
  EXPECT_EQ(std::tuple(ItemCalls(), LastItemCall("RemoveItems")->count), std::tuple(before + 3, 1000u));
}

}  // namespace
}  // namespace xelo::test
