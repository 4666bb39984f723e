// Browsing: TXeloBrowser's moves, listings, filters and error reports
// against the simulation server, and finding servers with GetOPCServers and
// TxeloServerBrowser.
#include "support/NativeCom.h"
#include "support/ServerFixture.h"

#include "xelo/com/Activation.h"
#include "xelo/com/HResult.h"
#include "xelo/core/XeloBrowser.h"
#include "xelo/core/XeloServerBrowser.h"

namespace xelo::test {
namespace {

constexpr char kMove[] = "IOPCBrowseServerAddressSpace::ChangeBrowsePosition";
constexpr char kList[] = "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs";
constexpr char kOrganization[] = "IOPCBrowseServerAddressSpace::QueryOrganization";
constexpr int kAllLeaves = 16 + 10 + 4;
constexpr CLSID kClsidNoBrowsing{0x5C1A00F1, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x54, 0x45, 0x53, 0x54, 0x42, 0x52}};

std::string SystemText(HRESULT code) { return "Browser: " + com::SystemMessageText(code); }

class XeloBrowserTest : public AllocationCheckedServerFixture {
 protected:
  void Release() override { browser_.reset(); }
  // Streams and property editors set the properties through the metadata.
  void Connect(const std::string& progId = sim::kProgIdSim) {
    ConnectSim(progId);
    SetObjectProp(*browser_, "OPCServer", server_.get());
  }
  Lines Listed() { return LinesOf(browser_->GetItems()); }
  static auto Last(const char* method) { return SimulationControl::LastArguments(method); }

  std::unique_ptr<TXeloBrowser> browser_ = std::make_unique<TXeloBrowser>(nullptr);
};

TEST_F(XeloBrowserTest, WithoutServerComponentConnectionOrBrowsingInterface) {
  EXPECT_EQ(FindClass("TXeloBrowser"), TXeloBrowser::StaticClass());
  EXPECT_EQ(MessageOf<EOPCException>([&] { browser_->ShowBranches(); }) + MessageOf<EOPCException>([&] { browser_->GetItemId("Ramp"); }),
            "first define server objectfirst define server object");
  EXPECT_TRUE(errors_.empty()) << "raised directly, not through OnError";
  browser_->SetOPCServer(server_.get());
  EXPECT_EQ(MessageOf<EOPCException>([&] { browser_->ShowBranches(); }), "not connected to server");
  raiseErrors_ = false;
  EXPECT_EQ(std::tuple(browser_->MoveDown("Static"), browser_->GetOrganization(), browser_->GetItemId("Ramp")),
            std::tuple(false, -1, ""));
  browser_->ShowLeafs(false);
  EXPECT_EQ(errors_, Lines(5, "not connected to server")) << "one report per operation";

  const com::ScopedClassRegistration registration(StubRegistration<StubServer<>>(kClsidNoBrowsing, "Xelo.Test.NoBrowsing.1"));
  errors_.clear(), Connect("Xelo.Test.NoBrowsing.1");
  EXPECT_EQ(std::tuple(browser_->MoveDown("Static"), browser_->GetItemId("Ramp")), std::tuple(false, ""));
  raiseErrors_ = true;
  EXPECT_EQ(MessageOf<EOPCException>([&] { browser_->ShowBranches(); }), "Browser interface not found");
  EXPECT_EQ(errors_, Lines(3, "Browser interface not found"));
  server_->SetActive(false);
}

TEST_F(XeloBrowserTest, MovesMirrorThePositionAndListingsFollowIt) {
  Connect();
  browser_->ShowBranches();
  EXPECT_EQ(Listed(), (Lines{"Channel 1", "Static", "Behaviour"}));
  ASSERT_TRUE(browser_->MoveDown("Channel 1"));
  ASSERT_TRUE(browser_->MoveDown("Device 1"));
  EXPECT_EQ(std::tuple(browser_->GetCurrentPosition(), Last(kMove)->text),
            std::tuple("Channel 1.Device 1", com::OleString(OLESTR("Device 1"))));
  browser_->ShowLeafs(false);  // the server really is there
  EXPECT_EQ(std::tuple(Last(kList)->browseType, Listed()),
            std::tuple(OPC_LEAF, Lines{"Ramp", "Random", "Sine", "Counter", "Setpoint", "Switch", "Text", "Array"}));
  ASSERT_TRUE(browser_->Moveup());
  EXPECT_EQ(std::tuple(browser_->GetCurrentPosition(), Last(kMove)->browseDirection), std::tuple("Channel 1", OPC_BROWSE_UP));
  ASSERT_TRUE(browser_->Moveto("Channel 1.Device 2"));
  EXPECT_EQ(std::tuple(LinesOf(browser_->GetPositionList()), Last(kMove)->text, browser_->GetItemId("Setpoint")),
            std::tuple(Lines{"Channel 1", "Device 2"}, com::OleString(OLESTR("Channel 1.Device 2")),
                       "Channel 1.Device 2.Setpoint"));
  ASSERT_TRUE(browser_->MovetoRoot());
  EXPECT_EQ(std::tuple(browser_->GetPositionList().GetCount(), Last(kMove)->browseDirection), std::tuple(0, OPC_BROWSE_TO));
  browser_->ShowLeafs(true);
  // The organisation is asked once per binding.
  EXPECT_EQ(std::tuple(Last(kList)->browseType, browser_->GetCount(), SimulationControl::CallCount(kOrganization),
                       errors_.size()),
            std::tuple(OPC_FLAT, kAllLeaves, 1u, 0u));

  // A flat space refuses moves without asking and lists all leaves.
  Connect(sim::kProgIdSimFlat);
  EXPECT_EQ(browser_->GetOrganization(), OPC_NS_FLAT);
  const unsigned calls = SimulationControl::CallCount(kMove) + SimulationControl::CallCount(kList);
  EXPECT_FALSE(browser_->MoveDown("Static") || browser_->Moveup() || browser_->MovetoRoot() ||
               browser_->Moveto("Static"));
  browser_->ShowBranches();
  EXPECT_EQ(std::tuple(browser_->GetCount(), SimulationControl::CallCount(kMove) + SimulationControl::CallCount(kList)),
            std::tuple(0, calls));
  for (const bool flat : {false, true}) {
    browser_->ShowLeafs(flat);
    EXPECT_EQ(std::tuple(Last(kList)->browseType, browser_->GetCount()), std::tuple(OPC_FLAT, kAllLeaves));
  }
}

TEST_F(XeloBrowserTest, FiltersReachTheServer) {
  Connect();
  ASSERT_TRUE(browser_->Moveto("Static"));
  // The rights, their mask, and which of ReadOnly and WriteOnly are listed.
  const std::tuple<const char*, DWORD, Lines> cases[] = {
      {"[]", 0, {"ReadOnly", "WriteOnly"}}, {"[opcReadable]", 1, {"ReadOnly"}}, {"[opcWritable]", 2, {"WriteOnly"}},
      {"[opcReadable,opcWritable]", 3, {}}};
  browser_->SetFilter("*Only");
  for (const auto& [rights, mask, listed] : cases) {
    SetSetProp(*browser_, "AccessRights", rights);
    browser_->ShowLeafs(false);
    EXPECT_EQ(std::tuple(Last(kList)->accessMask, Last(kList)->dataTypeFilter, Last(kList)->text, Listed()),
              std::tuple(mask, VARTYPE{VT_EMPTY}, com::OleString(OLESTR("*Only")), listed));
  }
  SetEnumProp(*browser_, "Datatype", "vtUNKNOWN");  // nothing here converts to an interface
  browser_->ShowLeafs(false);
  EXPECT_EQ(std::tuple(Last(kList)->dataTypeFilter, browser_->GetCount()), std::tuple(VT_UNKNOWN, 0));
}

// Reports prefer the server's text, then the library's, then the system's
// (Windows' wording here; Wine's differs). OnError may let them go.
TEST_F(XeloBrowserTest, FailuresAreReportedThroughTheServerComponent) {
  Connect();
  browser_->SetFilter("[");  // an invalid pattern
  EXPECT_EQ(MessageOf<EOPCException>([&] { browser_->ShowBranches(); }), "Browser: The filter string was not valid.");
  SimulationControl::FailMethod("IOPCServer::GetErrorString", E_FAIL, true);
  EXPECT_EQ(MessageOf<EOPCException>([&] { browser_->ShowBranches(); }), "Browser: The filter string was not valid");
  browser_->SetFilter(""), raiseErrors_ = false, errors_.clear();
  EXPECT_TRUE(!browser_->Check(E_NOTIMPL) && browser_->Check(S_FALSE));
  EXPECT_TRUE(!browser_->Moveup() && !browser_->Moveto("Channel 9") && browser_->GetCurrentPosition().empty());
  SimulationControl::FailMethod(kList, E_FAIL, true);  // a failure and no enumerator
  browser_->GetItems().Add("stale"), browser_->ShowBranches();
  TStringList paths{"stale"};
  browser_->GetAccessPath("Static.Int16", paths);  // the simulation has none
  EXPECT_EQ(std::tuple(browser_->GetCount(), paths.GetCount(), browser_->GetItemId("Nothing")), std::tuple(0, 0, ""));
  EXPECT_EQ(errors_, (Lines{SystemText(E_NOTIMPL), SystemText(E_FAIL), SystemText(E_INVALIDARG), SystemText(E_FAIL),
                            SystemText(E_NOTIMPL), SystemText(E_INVALIDARG)}));
  // A failed organisation query is not a move's to swallow; it is asked
  // again, and a rebinding asks anew.
  raiseErrors_ = true, browser_->SetOPCServer(server_.get());
  SimulationControl::FailMethod(kOrganization, E_FAIL, true);
  const unsigned moves = SimulationControl::CallCount(kMove);
  EXPECT_THROW(browser_->MoveDown("Channel 1"), EOPCException);
  EXPECT_EQ(std::tuple(SimulationControl::CallCount(kMove), browser_->GetOrganization()), std::tuple(moves, OPC_NS_HIERARCHIAL));
  EXPECT_EQ(SimulationControl::CallCount(kOrganization), 3u);
}

TEST_F(XeloBrowserTest, LosingTheServerComponentUnbinds) {
  Connect();
  ASSERT_TRUE(browser_->Moveto("Channel 1.Device 1"));
  browser_->ShowLeafs(false), server_.reset();
  // The browse interface is released.
  EXPECT_EQ(std::tuple(browser_->GetOPCServer(), browser_->GetCount() + browser_->GetPositionList().GetCount(),
                       SimulationControl::Live().servers), std::tuple(nullptr, 0, liveServers_));
  EXPECT_EQ(MessageOf<EOPCException>([&] { browser_->ShowLeafs(false); }), "first define server object");

  TComponent owner(nullptr);
  auto* server = new TXeloServer(&owner);  // owned by `owner` until removed
  auto* browser = new TXeloBrowser(&owner);
  server->Connect(sim::kProgIdSim, ""), browser->SetOPCServer(server), owner.RemoveComponent(*server);
  const std::unique_ptr<TXeloServer> removed(server);
  EXPECT_EQ(browser->GetOPCServer(), nullptr);
}

// ---- finding servers ----------------------------------------------------------------------

// A registration sorted before all others; never created as an object.
constexpr CLSID kClsidEarly{0x5C1A00F3, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x54, 0x45, 0x53, 0x54, 0x53, 0x42}};
com::ClassRegistration Early(std::vector<CATID> categories, bool opcKey) {
  return com::ClassRegistration{kClsidEarly, "Aaa.Early.1", "early", std::move(categories), opcKey, nullptr};
}

class XeloServerBrowserTest : public XeloBrowserTest {
 protected:
  void Release() override {
    servers_.reset();
    XeloBrowserTest::Release();
  }
  Lines ProgIDs() const {
    Lines ids;
    for (int i = 0; i < servers_->GetCount(); ++i) ids.push_back(servers_->GetItems(i)->ProgID);
    return ids;
  }
  tXeloServerSet TypesAt(int index) const { return servers_->GetItems(index)->ServerTypes; }

  std::unique_ptr<TxeloServerBrowser> servers_ = std::make_unique<TxeloServerBrowser>(nullptr);
};

TEST_F(XeloServerBrowserTest, ListsInRegistryOrderAndMergesADualServerAtItsDA10Place) {
  EXPECT_EQ(GetSetProp(*servers_, "Servertype", true), "[svr_DA20,svr_DA10,svr_AE10]");
  TStringList list{"stale"};
  GetOPCServers(list);
  EXPECT_EQ(LinesOf(list), (Lines{sim::kProgIdSim, sim::kProgIdSimDA1, sim::kProgIdSimFlat})) << "AE and the list have no OPC key";
#if !XELO_COM_NATIVE  // on Windows' COM the classes root is the system's registry
  for (const bool opcKey : {true, false}) {
    const com::ScopedClassRegistration early(Early({}, opcKey));
    GetOPCServers(list);
    EXPECT_EQ(std::tuple(list.Get(0) == "Aaa.Early.1", list.GetCount()), std::tuple(opcKey, opcKey ? 4 : 3));
  }
#endif
  // Execute merges a dual server at its DA 1.0 place.
  servers_->Execute();
  ASSERT_EQ(ProgIDs(), (Lines{sim::kProgIdSim, sim::kProgIdSimDA1, sim::kProgIdSimFlat, sim::kProgIdSimAE}));
  EXPECT_EQ(std::vector({TypesAt(0), TypesAt(1), TypesAt(2), TypesAt(3)}),
            std::vector<tXeloServerSet>({{svr_DA10, svr_DA20}, {svr_DA10}, {svr_DA20}, {svr_AE10}}));
  EXPECT_EQ(std::tuple(servers_->GetItems(0)->ClassID,
                       SimulationControl::LastArguments("IOPCServerList::EnumClassesOfCategories")->count),
            std::tuple("{5C1A0001-7E10-4B8A-9C35-58454C4F5349}", 1u));
  servers_->GetOPCServers("localhost");  // every run starts from nothing
  ASSERT_EQ(std::tuple(servers_->GetComputerName(), servers_->GetCount()), std::tuple("localhost", 4));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(servers_->GetItems(i)->Computer, "localhost");
  SetSetProp(*servers_, "Servertype", "[svr_AE10]"), servers_->Execute();
  EXPECT_EQ(ProgIDs(), Lines{sim::kProgIdSimAE});
  {
    // A DA 2.0-only server that sorts first still comes after the DA 1.0 ones.
    const com::ScopedClassRegistration early(Early({CATID_OPCDAServer20}, true));
    servers_->SetServertype({svr_DA20, svr_DA10}), servers_->Execute();
    EXPECT_EQ(ProgIDs(), (Lines{sim::kProgIdSim, sim::kProgIdSimDA1, "Aaa.Early.1", sim::kProgIdSimFlat}));
  }
  if (!NativeComUnderWine()) {  // Wine's COM creates objects here whatever computer is named
    EXPECT_EQ(OleErrorOf([&] { servers_->GetOPCServers("no-such-computer.invalid"); }),
              HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    EXPECT_EQ(servers_->GetCount(), 0);
    servers_->SetServertype({});  // the enumerator is still created
    EXPECT_THROW(servers_->Execute(), EOleSysError);
  }
}

TEST_F(XeloServerBrowserTest, FailuresRaiseTheComErrorAndEntriesMergeByExactClassId) {
  SimulationControl::FailMethod("IOPCServerList::EnumClassesOfCategories", OPC_E_UNKNOWNITEMID, true);
  // The COM error, not the OPC text table's EOPCException.
  EXPECT_EQ(OleErrorOf([&] { servers_->Execute(); }), OPC_E_UNKNOWNITEMID);
  com::ComPtr<IOPCServerList> list;
  ASSERT_EQ(CoCreateInstance(CLSID_OPCServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList, list.PutVoid()), S_OK);
  servers_->GetServers(*list, CATID_OPCDAServer10, {svr_DA10});
  SimulationControl::FailMethod("IOPCServerList::GetClassDetails", E_ACCESSDENIED, true);
  EXPECT_THROW(servers_->GetServers(*list, CATID_OPCDAServer20, {svr_DA20}), EOleSysError);
  EXPECT_EQ(std::tuple(ProgIDs(), TypesAt(0)),
            std::tuple(Lines{sim::kProgIdSim, sim::kProgIdSimDA1}, tXeloServerSet{svr_DA10}));

  servers_->Clear(), servers_->AddServer("First", "Vendor.First.1", "{0000000A}", {svr_DA10});
  servers_->SetComputerName("elsewhere");
  servers_->AddServer("Second", "Vendor.Second.1", "{0000000A}", {svr_AE10});
  servers_->AddServer("Third", "Vendor.Third.1", "{0000000a}", {svr_DA20});
  ASSERT_EQ(ProgIDs(), (Lines{"Vendor.First.1", "Vendor.Third.1"}));
  EXPECT_EQ(std::tuple(TypesAt(0), servers_->GetServer("{0000000a}")),
            std::tuple(tXeloServerSet{svr_DA10, svr_AE10}, servers_->GetItems(1)));
  auto twin = std::make_unique<TxeloServerItem>("", "twin", "Twin.1", "{0000000A}");
  TxeloServerItem* placed = twin.get();
  EXPECT_EQ(servers_->SetItems(1, std::move(twin))->ProgID, "Vendor.Third.1");
  EXPECT_EQ(servers_->GetServer("{0000000A}"), placed);
  EXPECT_THROW(servers_->GetItems(2), EListError);
  servers_->Clear();
  EXPECT_EQ(servers_->GetServer("{0000000A}"), nullptr);
}

}  // namespace
}  // namespace xelo::test
