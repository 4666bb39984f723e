// IOPCItemMgt: adding, validating, removing and changing items.
#include "support/SimulationFixture.h"

namespace xelo::sim::test {
namespace {

using ItemManagement = SimulationTest;

TEST_F(ItemManagement, AddItemsAnswersPerItem) {
  Session s(Create());
  SimulationControl::RefuseItem(OLESTR("Static.Bool"), E_ACCESSDENIED);
  ItemDefs defs;
  defs.Add(OLESTR("Channel 1.Device 1.Ramp"), 1)               // fine
      .Add(OLESTR("Channel 1.Device 1.Nothing"), 2)           // unknown
      .Add(OLESTR(""), 3)                                     // empty id
      .Add(OLESTR("Static.*"), 4)                             // illegal character
      .Add(OLESTR("Static.Int16"), 5, VT_EMPTY, true, OLESTR("COM1"))  // any access path is unknown
      .Add(OLESTR("Static.String"), 6, VT_ARRAY | VT_I4)      // a text never becomes an array
      .Add(OLESTR("Static.Int16"), 7, VT_BSTR)                // converts
      .Add(OLESTR("Static.Bool"), 8)                          // refused by the control API
      .Add(OLESTR("Channel 1.Device 1..Ramp"), 9);            // empty segment
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(s.items->AddItems(defs.Count(), defs.Data(), &results, &errors), S_FALSE);
  ASSERT_NE(results, nullptr);
  ASSERT_NE(errors, nullptr);
  const HRESULT expected[] = {S_OK, OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNPATH,
                              OPC_E_BADTYPE, S_OK, E_ACCESSDENIED, OPC_E_INVALIDITEMID};
  for (DWORD i = 0; i < defs.Count(); ++i) EXPECT_EQ(errors[i], expected[i]) << "item " << i;
  EXPECT_EQ(results[0].vtCanonicalDataType, VT_R8);
  EXPECT_EQ(results[0].dwAccessRights, OPC_READABLE);
  EXPECT_EQ(results[6].vtCanonicalDataType, VT_I2);
  EXPECT_EQ(results[6].dwAccessRights, OPC_READABLE | OPC_WRITEABLE);
  EXPECT_NE(results[0].hServer, 0u);
  EXPECT_NE(results[6].hServer, 0u);
  EXPECT_NE(results[0].hServer, results[6].hServer);
  EXPECT_EQ(results[1].hServer, 0u);
  FreeResults(results, defs.Count());
  CoTaskMemFree(errors);

  ItemDefs good;
  good.Add(OLESTR("Static.Double"), 1).Add(OLESTR("Behaviour.Slow"), 2, VT_R4);
  ASSERT_EQ(s.items->AddItems(good.Count(), good.Data(), &results, &errors), S_OK);
  FreeResults(results, good.Count());
  CoTaskMemFree(errors);
  const auto args = SimulationControl::LastArguments("IOPCItemMgt::AddItems");
  ASSERT_TRUE(args);
  EXPECT_EQ(args->itemIds, (std::vector<com::OleString>{OLESTR("Static.Double"), OLESTR("Behaviour.Slow")}));
  EXPECT_EQ(args->requestedTypes, (std::vector<VARTYPE>{VT_EMPTY, VT_R4}));

  EXPECT_EQ(s.items->AddItems(0, good.Data(), &results, &errors), E_INVALIDARG);
  EXPECT_EQ(results, nullptr);
  EXPECT_EQ(errors, nullptr);
  EXPECT_EQ(SimulationControl::CallCount("IOPCItemMgt::AddItems"), 3u);
}

TEST_F(ItemManagement, ValidateItemsAddsNothing) {
  Session s(Create());
  ItemDefs defs;
  defs.Add(OLESTR("Static.Float"), 1, VT_R8).Add(OLESTR("Static.Date"), 2, VT_UNKNOWN).Add(OLESTR("Channel 1.Device 2.Array"), 3, VT_BSTR);
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  // A date never becomes an interface, an array never a scalar text.
  ASSERT_EQ(s.items->ValidateItems(defs.Count(), defs.Data(), FALSE, &results, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_BADTYPE);
  EXPECT_EQ(errors[2], OPC_E_BADTYPE);
  EXPECT_EQ(results[0].vtCanonicalDataType, VT_R4);
  EXPECT_EQ(results[0].hServer, 0u);
  FreeResults(results, defs.Count());
  CoTaskMemFree(errors);
  ComPtr<IEnumOPCItemAttributes> e;
  EXPECT_EQ(s.items->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(e.Put())), S_FALSE);
  OPCITEMATTRIBUTES* attributes = nullptr;
  ULONG fetched = 7;
  EXPECT_EQ(e->Next(1, &attributes, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  CoTaskMemFree(attributes);
}

TEST_F(ItemManagement, HandleBasedCallsReportInvalidHandles) {
  Session s(Create());
  const OPCHANDLE a = s.AddOne(OLESTR("Static.Int32"), 10);
  const OPCHANDLE b = s.AddOne(OLESTR("Static.Double"), 11);
  OPCHANDLE handles[] = {a, 9999, b};
  HRESULT* errors = nullptr;

  ASSERT_EQ(s.items->SetActiveState(3, handles, FALSE, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[2], S_OK);
  CoTaskMemFree(errors);

  OPCHANDLE clients[] = {20, 21, 22};
  ASSERT_EQ(s.items->SetClientHandles(3, handles, clients, &errors), S_FALSE);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  CoTaskMemFree(errors);

  VARTYPE types[] = {VT_R8, VT_I4, VT_DATE};
  ASSERT_EQ(s.items->SetDatatypes(3, handles, types, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[2], S_OK);
  CoTaskMemFree(errors);
  VARTYPE impossible[] = {VT_ARRAY | VT_BSTR};
  ASSERT_EQ(s.items->SetDatatypes(1, handles, impossible, &errors), S_FALSE);
  EXPECT_EQ(errors[0], OPC_E_BADTYPE);
  CoTaskMemFree(errors);

  // The enumerator shows all of it.
  ComPtr<IEnumOPCItemAttributes> e;
  ASSERT_EQ(s.items->CreateEnumerator(IID_IEnumOPCItemAttributes, reinterpret_cast<LPUNKNOWN*>(e.Put())), S_OK);
  OPCITEMATTRIBUTES* attributes = nullptr;
  ULONG fetched = 0;
  ASSERT_EQ(e->Next(2, &attributes, &fetched), S_OK);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(com::OleString(attributes[0].szItemID), OLESTR("Static.Int32"));
  EXPECT_EQ(attributes[0].hClient, 20u);
  EXPECT_EQ(attributes[0].hServer, a);
  EXPECT_EQ(attributes[0].bActive, FALSE);
  EXPECT_EQ(attributes[0].vtRequestedDataType, VT_R8);
  EXPECT_EQ(attributes[0].vtCanonicalDataType, VT_I4);
  EXPECT_EQ(attributes[0].dwEUType, OPC_NOENUM);
  EXPECT_EQ(attributes[0].vEUInfo.vt, VT_EMPTY);
  // Static.Double is analog: EU info is {low, high}.
  EXPECT_EQ(attributes[1].dwEUType, OPC_ANALOG);
  ASSERT_EQ(attributes[1].vEUInfo.vt, VT_ARRAY | VT_R8);
  const auto* range = static_cast<const double*>(attributes[1].vEUInfo.parray->pvData);
  EXPECT_EQ(range[0], -1000.0);
  EXPECT_EQ(range[1], 1000.0);
  EXPECT_EQ(attributes[1].vtRequestedDataType, VT_DATE);
  for (ULONG i = 0; i < fetched; ++i) {
    CoTaskMemFree(attributes[i].szAccessPath);
    CoTaskMemFree(attributes[i].szItemID);
    VariantClear(&attributes[i].vEUInfo);
  }
  CoTaskMemFree(attributes);
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(s.items->CreateEnumerator(IID_IEnumString, wrong.Put()), E_NOINTERFACE);

  ASSERT_EQ(s.items->RemoveItems(3, handles, &errors), S_FALSE);
  EXPECT_EQ(errors[0], S_OK);
  EXPECT_EQ(errors[1], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(errors[2], S_OK);
  CoTaskMemFree(errors);
  ASSERT_EQ(s.items->RemoveItems(1, handles, &errors), S_FALSE);  // already gone
  EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
  CoTaskMemFree(errors);
  EXPECT_EQ(s.items->RemoveItems(0, handles, &errors), E_INVALIDARG);
}

TEST_F(ItemManagement, BrokenRemoveItemsAnswersWithoutErrorArray) {
  Session s(Create());
  OPCHANDLE handle = s.AddOne(OLESTR("Static.Int32"), 1);
  SimulationControl::SetRemoveItemsWithoutErrors(true);
  HRESULT* errors = reinterpret_cast<HRESULT*>(0x1);
  EXPECT_EQ(s.items->RemoveItems(1, &handle, &errors), S_OK);
  EXPECT_EQ(errors, nullptr);
  SimulationControl::SetRemoveItemsWithoutErrors(false);
  ASSERT_EQ(s.items->RemoveItems(1, &handle, &errors), S_FALSE);  // it was removed all the same
  EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
  CoTaskMemFree(errors);
}

TEST_F(ItemManagement, GroupStateAndNames) {
  auto server = Create();
  Session s(server);
  auto state = s.As<IOPCGroupStateMgt>();
  DWORD revised = 0;
  DWORD rate = 20;
  BOOL active = FALSE;
  FLOAT deadband = 12.5f;
  LCID lcid = 0x409;
  OPCHANDLE client = 4242;
  EXPECT_EQ(state->SetState(&rate, &revised, &active, nullptr, &deadband, &lcid, &client), OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, 100u);
  rate = 1000;
  EXPECT_EQ(state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(revised, 1000u);
  EXPECT_EQ(state->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(revised, 1000u);
  FLOAT wrong = 101.0f;
  EXPECT_EQ(state->SetState(nullptr, &revised, nullptr, nullptr, &wrong, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCGroupStateMgt::SetState")->requestedRate, std::nullopt);

  LPWSTR name = nullptr;
  LONG bias;
  OPCHANDLE handle;
  ASSERT_EQ(state->GetState(&rate, &active, &name, &bias, &deadband, &lcid, &client, &handle), S_OK);
  Take(name);
  EXPECT_EQ(rate, 1000u);
  EXPECT_EQ(active, FALSE);
  EXPECT_EQ(deadband, 12.5f);
  EXPECT_EQ(client, 4242u);
  EXPECT_EQ(handle, s.groupHandle);

  DWORD h2 = 0;
  ComPtr<IOPCGroupStateMgt> second;
  ASSERT_EQ(server->AddGroup(OLESTR("Second"), TRUE, 100, 1, nullptr, nullptr, 0, &h2, &revised, IID_IOPCGroupStateMgt,
                             reinterpret_cast<LPUNKNOWN*>(second.Put())),
            S_OK);
  EXPECT_EQ(second->SetName(OLESTR("G")), OPC_E_DUPLICATENAME);
  EXPECT_EQ(second->SetName(OLESTR("")), E_INVALIDARG);
  EXPECT_EQ(second->SetName(OLESTR("Renamed")), S_OK);
  ComPtr<IUnknown> byName;
  EXPECT_EQ(server->GetGroupByName(OLESTR("Renamed"), IID_IUnknown, byName.Put()), S_OK);
  byName = nullptr;
  second = nullptr;
  EXPECT_EQ(server->RemoveGroup(h2, FALSE), S_OK);
}

}  // namespace
}  // namespace xelo::sim::test
