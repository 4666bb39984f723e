// IOPCItemMgt: adding, validating, removing and changing items.
#include "SimHelpers.h"

namespace xelo::sim::test {
namespace {

using ItemManagement = SimulationTest;

TEST_F(ItemManagement, AddItemsAnswersPerItem) {
  Session s(Create());
  ItemDefs defs;
  defs.Add(OLESTR("Channel 1.Device 1.Ramp"), 1)               // fine
      .Add(OLESTR("Channel 1.Device 1.Nothing"), 2)           // unknown
      .Add(OLESTR(""), 3)                                     // empty id
      .Add(OLESTR("Static.*"), 4)                             // illegal character
      .Add(OLESTR("Static.Int16"), 5, VT_EMPTY, true, OLESTR("COM1"))  // any access path is unknown
      .Add(OLESTR("Static.String"), 6, VT_ARRAY | VT_I4)      // a text never becomes an array
      .Add(OLESTR("Static.Int16"), 7, VT_BSTR)                // converts
      .Add(OLESTR("Channel 1.Device 1..Ramp"), 9);            // empty segment
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  EXPECT_EQ(Answer(s.items->AddItems(defs.Count(), defs.Data(), &results, &errors), errors, defs.Count()),
            (Codes{S_FALSE, S_OK, OPC_E_UNKNOWNITEMID, OPC_E_INVALIDITEMID, OPC_E_INVALIDITEMID, OPC_E_UNKNOWNPATH,
                   OPC_E_BADTYPE, S_OK, OPC_E_INVALIDITEMID}));
  EXPECT_EQ((std::vector<DWORD>{results[0].vtCanonicalDataType, results[0].dwAccessRights,
                                results[6].vtCanonicalDataType, results[6].dwAccessRights, results[1].hServer}),
            (std::vector<DWORD>{VT_R8, OPC_READABLE, VT_I2, OPC_READABLE | OPC_WRITEABLE, 0}));
  EXPECT_TRUE(results[0].hServer != 0 && results[6].hServer != 0 && results[0].hServer != results[6].hServer);
  FreeResults(results, defs.Count());

  ItemDefs good;
  good.Add(OLESTR("Static.Double"), 1).Add(OLESTR("Behaviour.Slow"), 2, VT_R4);
  HRESULT hr = E_FAIL;
  s.Add(good, nullptr, &hr);
  EXPECT_EQ(hr, S_OK);
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
  defs.Add(OLESTR("Static.Float"), 1, VT_R8)
      .Add(OLESTR("Static.Date"), 2, VT_UNKNOWN)
      .Add(OLESTR("Channel 1.Device 2.Array"), 3, VT_BSTR);
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  // A date never becomes an interface, an array never a scalar text.
  EXPECT_EQ(Answer(s.items->ValidateItems(defs.Count(), defs.Data(), FALSE, &results, &errors), errors, 3),
            (Codes{S_FALSE, S_OK, OPC_E_BADTYPE, OPC_E_BADTYPE}));
  EXPECT_EQ((std::pair{results[0].vtCanonicalDataType, results[0].hServer}), (std::pair{VARTYPE{VT_R4}, OPCHANDLE{0}}));
  FreeResults(results, defs.Count());
  ComPtr<IEnumOPCItemAttributes> e;
  EXPECT_EQ(s.items->CreateEnumerator(IID_IEnumOPCItemAttributes, Out(e)), S_FALSE);
  EXPECT_TRUE(AttributesOf(s.items.Get()).empty());
}

TEST_F(ItemManagement, HandleBasedCallsReportInvalidHandles) {
  Session s(Create());
  const OPCHANDLE a = s.AddOne(OLESTR("Static.Int32"), 10);
  const OPCHANDLE b = s.AddOne(OLESTR("Static.Double"), 11);
  OPCHANDLE handles[] = {a, 9999, b};
  HRESULT* errors = nullptr;
  OPCHANDLE clients[] = {20, 21, 22};
  VARTYPE types[] = {VT_R8, VT_I4, VT_DATE};
  VARTYPE impossible[] = {VT_ARRAY | VT_BSTR};
  const Codes oneUnknown{S_FALSE, S_OK, OPC_E_INVALIDHANDLE, S_OK};
  EXPECT_EQ(Answer(s.items->SetActiveState(3, handles, FALSE, &errors), errors, 3), oneUnknown);
  EXPECT_EQ(Answer(s.items->SetClientHandles(3, handles, clients, &errors), errors, 3), oneUnknown);
  EXPECT_EQ(Answer(s.items->SetDatatypes(3, handles, types, &errors), errors, 3), oneUnknown);
  EXPECT_EQ(Answer(s.items->SetDatatypes(1, handles, impossible, &errors), errors, 1), (Codes{S_FALSE, OPC_E_BADTYPE}));

  // The enumerator shows all of it; Static.Double is analog: EU info is {low, high}.
  const auto attributes = AttributesOf(s.items.Get(), 2);
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[0].id, OLESTR("Static.Int32"));
  EXPECT_EQ((std::vector<DWORD>{attributes[0].client, attributes[0].server, static_cast<DWORD>(attributes[0].active),
                                attributes[0].requested, attributes[0].canonical,
                                static_cast<DWORD>(attributes[0].euType), attributes[0].euInfoType}),
            (std::vector<DWORD>{20, a, FALSE, VT_R8, VT_I4, OPC_NOENUM, VT_EMPTY}));
  EXPECT_EQ(attributes[1].euType, OPC_ANALOG);
  EXPECT_EQ(attributes[1].euRange, (std::vector<double>{-1000.0, 1000.0}));
  EXPECT_EQ(attributes[1].requested, VT_DATE);
  ComPtr<IUnknown> wrong;
  EXPECT_EQ(s.items->CreateEnumerator(IID_IEnumString, wrong.Put()), E_NOINTERFACE);

  EXPECT_EQ(Answer(s.items->RemoveItems(3, handles, &errors), errors, 3), oneUnknown);
  // Already gone; none at all.
  EXPECT_EQ(Answer(s.items->RemoveItems(1, handles, &errors), errors, 1), (Codes{S_FALSE, OPC_E_INVALIDHANDLE}));
  EXPECT_EQ(s.items->RemoveItems(0, handles, &errors), E_INVALIDARG);

  // A server that answers RemoveItems without its error array on request.
  OPCHANDLE handle = s.AddOne(OLESTR("Static.Int32"), 1);
  SimulationControl::SetRemoveItemsWithoutErrors(true);
  errors = reinterpret_cast<HRESULT*>(0x1);
  EXPECT_EQ((std::pair{s.items->RemoveItems(1, &handle, &errors), errors}),
            (std::pair{S_OK, static_cast<HRESULT*>(nullptr)}));
  SimulationControl::SetRemoveItemsWithoutErrors(false);
  // It was removed all the same.
  EXPECT_EQ(Answer(s.items->RemoveItems(1, &handle, &errors), errors, 1), (Codes{S_FALSE, OPC_E_INVALIDHANDLE}));
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
  EXPECT_EQ((std::pair{state->SetState(&rate, &revised, &active, nullptr, &deadband, &lcid, &client), revised}),
            (std::pair{OPC_S_UNSUPPORTEDRATE, DWORD{100}}));
  rate = 1000;
  EXPECT_EQ(state->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), S_OK);
  revised = 0;
  EXPECT_EQ((std::pair{state->SetState(nullptr, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), revised}),
            (std::pair{S_OK, DWORD{1000}}));
  FLOAT wrong = 101.0f;
  EXPECT_EQ(state->SetState(nullptr, &revised, nullptr, nullptr, &wrong, nullptr, nullptr), E_INVALIDARG);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCGroupStateMgt::SetState")->requestedRate, std::nullopt);

  const GroupState g = StateOf(state.Get());
  EXPECT_EQ((std::vector<double>{static_cast<double>(g.rate), static_cast<double>(g.active), g.deadband,
                                 static_cast<double>(g.client), static_cast<double>(g.handle)}),
            (std::vector<double>{1000, FALSE, 12.5, 4242, static_cast<double>(s.groupHandle)}));

  DWORD h2 = 0;
  ComPtr<IOPCGroupStateMgt> second;
  ASSERT_EQ(server->AddGroup(OLESTR("Second"), TRUE, 100, 1, nullptr, nullptr, 0, &h2, &revised, IID_IOPCGroupStateMgt,
                             Out(second)),
            S_OK);
  ComPtr<IUnknown> byName;
  EXPECT_EQ((Codes{second->SetName(OLESTR("G")), second->SetName(OLESTR("")), second->SetName(OLESTR("Renamed")),
                   server->GetGroupByName(OLESTR("Renamed"), IID_IUnknown, byName.Put())}),
            (Codes{OPC_E_DUPLICATENAME, E_INVALIDARG, S_OK, S_OK}));
  byName = nullptr;
  second = nullptr;
  EXPECT_EQ(server->RemoveGroup(h2, FALSE), S_OK);
}

}  // namespace
}  // namespace xelo::sim::test
