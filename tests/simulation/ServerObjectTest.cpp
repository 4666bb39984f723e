// The server object: groups, status, error texts, locales, enumeration.
#include "SimHelpers.h"

#include "xelo/com/Enumerators.h"
#include "xelo/com/HResult.h"
#include "xelo/com/WideText.h"

namespace xelo::sim::test {
namespace {

using ServerObject = SimulationTest;

struct AddedGroup {
  HRESULT hr;
  OPCHANDLE handle = 0;
  DWORD revised = 0;
  ComPtr<IOPCGroupStateMgt> group;
};

AddedGroup Add(IOPCServer* server, const OLECHAR* name, DWORD rate, FLOAT* deadband = nullptr,
               LONG* bias = nullptr) {
  AddedGroup g;
  g.hr = server->AddGroup(name, TRUE, rate, 77, bias, deadband, 0x409, &g.handle, &g.revised, IID_IOPCGroupStateMgt,
                          Out(g.group));
  return g;
}

TEST_F(ServerObject, AddGroupRevisesRatesAndChecksDeadbandNamesAndBias) {
  auto server = Create();
  for (const auto& [requested, revised, hr] : {std::tuple{0u, 100u, OPC_S_UNSUPPORTEDRATE},
                                               {99u, 100u, OPC_S_UNSUPPORTEDRATE}, {100u, 100u, S_OK},
                                               {5000u, 5000u, S_OK}}) {
    SCOPED_TRACE(requested);
    auto g = Add(server.Get(), OLESTR(""), requested);
    EXPECT_EQ((std::pair{g.hr, g.revised}), (std::pair{hr, DWORD{revised}}));
    ASSERT_TRUE(g.group);
    const GroupState s = StateOf(g.group.Get());
    // A null dead band means 0.
    EXPECT_EQ((std::vector<double>{static_cast<double>(s.rate), static_cast<double>(s.active), s.deadband,
                                   static_cast<double>(s.lcid), static_cast<double>(s.client),
                                   static_cast<double>(s.handle)}),
              (std::vector<double>{static_cast<double>(revised), TRUE, 0.0, 0x409, 77, static_cast<double>(g.handle)}));
    EXPECT_EQ(server->RemoveGroup(g.handle, FALSE), OPC_S_INUSE);  // we still hold it
  }
  for (FLOAT bad : {100.5f, -0.1f}) EXPECT_EQ(Add(server.Get(), OLESTR("a"), 100, &bad).hr, E_INVALIDARG) << bad;
  FLOAT fine = 100.0f;
  LONG bias = -120;
  auto first = Add(server.Get(), OLESTR("Plant"), 100, &fine, &bias);
  ASSERT_EQ(first.hr, S_OK);
  auto duplicate = Add(server.Get(), OLESTR("Plant"), 100);
  EXPECT_EQ(duplicate.hr, OPC_E_DUPLICATENAME);
  EXPECT_FALSE(duplicate.group);
  const GroupState plant = StateOf(first.group.Get());
  EXPECT_EQ(plant.name, OLESTR("Plant"));
  EXPECT_EQ((std::pair{plant.bias, plant.deadband}), (std::pair{LONG{-120}, 100.0f}));

  // Generated names are unique and not empty.
  auto a = Add(server.Get(), nullptr, 100);
  auto b = Add(server.Get(), OLESTR(""), 100);
  ASSERT_EQ((Codes{a.hr, b.hr}), (Codes{S_OK, S_OK}));
  const com::OleString nameA = StateOf(a.group.Get()).name;
  EXPECT_FALSE(nameA.empty());
  EXPECT_NE(nameA, StateOf(b.group.Get()).name);
  EXPECT_NE(nameA, OLESTR("Plant"));
  EXPECT_NE(a.handle, b.handle);
}

TEST_F(ServerObject, StatusGroupsByNameRemovalEnumerationErrorTextsAndLocales) {
  auto server = Create();
  SimulationControl::SetServerState(OPC_STATUS_SUSPENDED);
  SimulationControl::SetVendorInfo(OLESTR("Test vendor"));
  SimulationControl::SetVersion(3, 4, 567);
  SimulationControl::SetBandWidth(42);
  auto one = Add(server.Get(), OLESTR("One"), 100);
  auto two = Add(server.Get(), OLESTR("Two"), 100);
  const Status status = StatusOf(server.Get());
  const OPCSERVERSTATUS& s = status.fields;
  EXPECT_EQ((std::vector<DWORD>{static_cast<DWORD>(status.hr), static_cast<DWORD>(s.dwServerState), s.dwGroupCount,
                                 s.dwBandWidth, s.wMajorVersion, s.wMinorVersion, s.wBuildNumber}),
            (std::vector<DWORD>{S_OK, OPC_STATUS_SUSPENDED, 2, 42, 3, 4, 567}));
  EXPECT_EQ(status.vendor, OLESTR("Test vendor"));
  // UTC FILETIMEs after 2020-01-01 (132223104000000000) with start <= current.
  const auto ticks = [](const FILETIME& f) { return (ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime; };
  EXPECT_GT(ticks(s.ftCurrentTime), 132223104000000000ULL);
  EXPECT_LE(ticks(s.ftStartTime), ticks(s.ftCurrentTime));
  EXPECT_EQ(server->GetStatus(nullptr), E_INVALIDARG);

  ComPtr<IOPCItemMgt> found;
  ASSERT_EQ(server->GetGroupByName(OLESTR("Two"), IID_IOPCItemMgt, Out(found)), S_OK);
  EXPECT_EQ(xelo::com::IdentityOf(found.Get()), xelo::com::IdentityOf(two.group.Get()));
  EXPECT_EQ(server->GetGroupByName(OLESTR("Three"), IID_IOPCItemMgt, Out(found)), E_INVALIDARG);

  {
    ComPtr<IEnumString> names;
    ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, Out(names)), S_OK);
    EXPECT_EQ(Drain(names.Get()), (std::vector<com::OleString>{OLESTR("One"), OLESTR("Two")}));
    ComPtr<IEnumUnknown> groups;
    ASSERT_EQ(server->CreateGroupEnumerator(OPC_ENUM_PRIVATE, IID_IEnumUnknown, Out(groups)), S_OK);
    IUnknown* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ((std::pair{groups->Next(3, got, &fetched), fetched}), (std::pair{S_FALSE, ULONG{2}}));
    for (ULONG i = 0; i < fetched; ++i) got[i]->Release();
    ComPtr<IEnumString> publicNames;
    EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_PUBLIC, IID_IEnumString, Out(publicNames)), S_FALSE);
    EXPECT_TRUE(Drain(publicNames.Get()).empty());
  }

  // Removing a group the client holds: in use, but gone from the name table
  // and still usable.
  found = nullptr;
  EXPECT_EQ(server->RemoveGroup(two.handle, FALSE), OPC_S_INUSE);
  EXPECT_EQ(server->GetGroupByName(OLESTR("Two"), IID_IOPCItemMgt, Out(found)), E_INVALIDARG);
  EXPECT_EQ(server->RemoveGroup(two.handle, FALSE), E_FAIL);
  EXPECT_EQ(SimulationControl::Live().groups, 2u);
  EXPECT_EQ(two.group->SetName(OLESTR("One")), S_OK);  // no longer competes with the server's names
  two.group = nullptr;
  EXPECT_EQ(SimulationControl::Live().groups, 1u);

  // Released first, removed after: nothing holds it any more.
  one.group = nullptr;
  EXPECT_EQ(server->RemoveGroup(one.handle, FALSE), S_OK);
  EXPECT_EQ(SimulationControl::Live().groups, 0u);
  EXPECT_EQ(server->RemoveGroup(12345, FALSE), E_FAIL);
  ComPtr<IEnumString> none;
  EXPECT_EQ(server->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumString, Out(none)), S_FALSE);

  // Error texts and locales.
  LPWSTR text = nullptr;
  ASSERT_EQ(server->GetErrorString(OPC_E_UNKNOWNITEMID, 0x409, &text), S_OK);
  EXPECT_EQ(Take(text),
            OLESTR("The item ID is not defined in the server address space or no longer exists in the server address ")
            OLESTR("space."));
  ASSERT_EQ(server->GetErrorString(E_INVALIDARG, 0, &text), S_OK);
  EXPECT_EQ(Take(text), xelo::com::ToUtf16(xelo::com::SystemMessageText(E_INVALIDARG)));  // the system's own text
  for (auto [code, lcid] : {std::pair{OPC_E_BADTYPE, 0x407}, {XELO_HR(0xC0041234), 0x409}}) {  // German; unknown
    EXPECT_EQ(server->GetErrorString(code, static_cast<LCID>(lcid), &text), E_INVALIDARG);
    EXPECT_EQ(text, nullptr);
  }

  auto common = server.As<IOPCCommon>();
  LCID lcid = 1;
  EXPECT_EQ((std::pair{common->GetLocaleID(&lcid), lcid}), (std::pair{S_OK, LCID{0x800}}));
  EXPECT_EQ((Codes{common->SetLocaleID(0x407), common->SetLocaleID(0x409), common->GetLocaleID(&lcid)}),
            (Codes{E_INVALIDARG, S_OK, S_OK}));
  EXPECT_EQ(lcid, 0x409u);
  DWORD count = 0;
  LCID* locales = nullptr;
  ASSERT_EQ(common->QueryAvailableLocaleIDs(&count, &locales), S_OK);
  std::vector<LCID> all(locales, locales + count);
  CoTaskMemFree(locales);
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<LCID>{0, 0x409, 0x800}));
  ASSERT_EQ(common->GetErrorString(OPC_S_CLAMP, &text), S_OK);
  EXPECT_EQ(Take(text), OLESTR("A value passed to write was accepted but the output was clamped."));
  EXPECT_EQ(common->SetClientName(OLESTR("Unit test")), S_OK);
  EXPECT_EQ(SimulationControl::LastArguments("IOPCCommon::SetClientName")->text, OLESTR("Unit test"));
}


// A clone copies the settings and items, inactive; the groups the client
// still holds outlive their server, which is no longer there to clone into.
TEST_F(ServerObject, CloneGroupCopiesSettingsAndItemsInactiveAndGroupsOutliveTheServer) {
  Session original(Create(), 300);
  Add(original.server.Get(), OLESTR("Dropped"), 100);  // the client let go of this one at once
  original.AddOne(OLESTR("Static.Int32"), 5);
  auto g = original.As<IOPCGroupStateMgt>();
  ComPtr<IOPCGroupStateMgt> clone;
  EXPECT_EQ(g->CloneGroup(OLESTR("G"), IID_IOPCGroupStateMgt, Out(clone)), OPC_E_DUPLICATENAME);
  ASSERT_EQ(g->CloneGroup(OLESTR("Copy"), IID_IOPCGroupStateMgt, Out(clone)), S_OK);
  const GroupState s = StateOf(clone.Get());
  EXPECT_EQ(s.name, OLESTR("Copy"));
  EXPECT_EQ((std::pair{s.rate, s.active}), (std::pair{DWORD{300}, BOOL{FALSE}}));
  EXPECT_NE(s.handle, original.groupHandle);
  const auto attributes = AttributesOf(clone.As<IOPCItemMgt>().Get());
  ASSERT_EQ(attributes.size(), 1u);
  EXPECT_EQ((std::pair{attributes[0].id, attributes[0].client}),
            (std::pair{com::OleString(OLESTR("Static.Int32")), OPCHANDLE{5}}));

  EXPECT_EQ(SimulationControl::Live().groups, 3u);
  clone = nullptr;
  original.server = nullptr;
  EXPECT_EQ(SimulationControl::Live().servers, 0u);
  EXPECT_EQ(SimulationControl::LiveGroupNames(), std::vector<com::OleString>{OLESTR("G")});
  DWORD revised = 0;
  DWORD rate = 500;
  EXPECT_EQ((std::pair{g->SetState(&rate, &revised, nullptr, nullptr, nullptr, nullptr, nullptr), revised}),
            (std::pair{S_OK, DWORD{500}}));
  EXPECT_EQ(g->CloneGroup(OLESTR("Copy"), IID_IOPCGroupStateMgt, Out(clone)), E_FAIL);
}

}  // namespace
}  // namespace xelo::sim::test
