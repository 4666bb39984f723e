// TXeloBrowser against the simulation server: moves and the mirrored
// position, listings and what their filters send, error reports through the
// server component, unbinding when the server component goes.
#include "xelo/core/XeloBrowser.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/HResult.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/core/Xelo.h"
#include "xelo/framework/Application.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;
using Lines = std::vector<std::string>;

constexpr char kMove[] = "IOPCBrowseServerAddressSpace::ChangeBrowsePosition";
constexpr char kList[] = "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs";
constexpr char kOrganization[] = "IOPCBrowseServerAddressSpace::QueryOrganization";
const Lines kDeviceLeaves{"Ramp", "Random", "Sine", "Counter", "Setpoint", "Switch", "Text", "Array"};
constexpr int kAllLeaves = 16 + 10 + 4;

Lines LinesOf(const TStrings& list) {
  Lines lines;
  for (int i = 0; i < list.GetCount(); ++i) lines.push_back(list.Get(i));
  return lines;
}

// A server that offers IOPCServer and nothing to browse with.
class ServerWithoutBrowsing : public com::ComObject<IOPCServer> {
 public:
  STDMETHOD(AddGroup)(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE*, DWORD*, REFIID,
                      LPUNKNOWN*) override { return E_NOTIMPL; }
  STDMETHOD(GetErrorString)(HRESULT, LCID, LPWSTR*) override { return E_NOTIMPL; }
  STDMETHOD(GetGroupByName)(LPCWSTR, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
  STDMETHOD(GetStatus)(OPCSERVERSTATUS**) override { return E_NOTIMPL; }
  STDMETHOD(RemoveGroup)(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
  STDMETHOD(CreateGroupEnumerator)(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
};
constexpr CLSID kClsidNoBrowsing{0x5C1A00F1, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x54, 0x45, 0x53, 0x54, 0x42, 0x52}};

class XeloBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application();
    SimulationControl::Reset();
    liveBlocks_ = com::LiveAllocations();
    server_->SetOnError([this](TPersistent*, const std::string& text, bool& raise) {
      errors_.push_back(text);
      raise = raiseErrors_;
    });
  }
  void TearDown() override {
    browser_.reset();
    server_.reset();
    SimulationControl::Reset();
    EXPECT_EQ(SimulationControl::Live().servers, liveServers_);
    EXPECT_EQ(com::LiveAllocations(), liveBlocks_) << "a server buffer was leaked or freed twice";
  }
  void Connect(const std::string& progId = sim::kProgIdSim) {
    server_->Connect(progId, "");
    ASSERT_TRUE(server_->GetActive());
    browser_->SetOPCServer(server_.get());
  }
  // The message of the EOPCException `operation` raises.
  template <class F>
  static std::string Raised(F&& operation) {
    try {
      operation();
    } catch (const EOPCException& e) {
      return e.Message();
    }
    return "(nothing raised)";
  }

  const std::size_t liveServers_ = SimulationControl::Live().servers;
  com::AllocationCounts liveBlocks_;  // after the simulation has set itself up
  std::unique_ptr<TXeloServer> server_ = std::make_unique<TXeloServer>(nullptr);
  std::unique_ptr<TXeloBrowser> browser_ = std::make_unique<TXeloBrowser>(nullptr);
  Lines errors_;
  bool raiseErrors_ = true;
};

TEST_F(XeloBrowserTest, DefaultsAndPublishedProperties) {
  EXPECT_EQ(browser_->GetDatatype(), vtEMPTY);
  EXPECT_TRUE(browser_->GetAccessRights().Empty());
  EXPECT_EQ(browser_->GetFilter() + browser_->GetCurrentPosition(), "");
  Lines names;
  for (const TPropInfo* prop : GetPropList(*browser_)) names.push_back(prop->Name());
  EXPECT_EQ(names, (Lines{"Name", "Tag", "OPCServer", "Filter", "Datatype", "AccessRights"}));
  EXPECT_EQ(FindClass("TXeloBrowser"), TXeloBrowser::StaticClass());
  // Streams and property editors go through the metadata, by name.
  SetEnumProp(*browser_, "Datatype", "vtR8");
  SetSetProp(*browser_, "AccessRights", "[opcWritable]");
  SetObjectProp(*browser_, "OPCServer", server_.get());
  EXPECT_EQ(browser_->GetDatatype(), vtR8);
  EXPECT_EQ(browser_->GetAccessRights(), OPCAcesstype{opcWritable});
  EXPECT_EQ(browser_->GetOPCServer(), server_.get());
}

TEST_F(XeloBrowserTest, WithoutServerComponentOrConnection) {
  EXPECT_EQ(Raised([&] { browser_->ShowBranches(); }), "first define server object");
  EXPECT_EQ(Raised([&] { browser_->MoveDown("Static"); }), "first define server object");
  EXPECT_EQ(Raised([&] { browser_->GetItemId("Ramp"); }), "first define server object");
  EXPECT_TRUE(errors_.empty()) << "raised directly, not through OnError";

  browser_->SetOPCServer(server_.get());
  EXPECT_EQ(Raised([&] { browser_->ShowBranches(); }), "not connected to server");
  raiseErrors_ = false;
  EXPECT_FALSE(browser_->MoveDown("Static"));
  EXPECT_EQ(browser_->GetOrganization(), -1);
  EXPECT_EQ(browser_->GetItemId("Ramp"), "");
  browser_->ShowLeafs(false);
  EXPECT_EQ(errors_.size(), 5u) << "one report per operation";
}

TEST_F(XeloBrowserTest, MovesMirrorThePositionWithBlanksKept) {
  Connect();
  browser_->ShowBranches();
  EXPECT_EQ(LinesOf(browser_->GetItems()), (Lines{"Channel 1", "Static", "Behaviour"}));
  ASSERT_TRUE(browser_->MoveDown("Channel 1"));
  ASSERT_TRUE(browser_->MoveDown("Device 1"));
  EXPECT_EQ(browser_->GetCurrentPosition(), "Channel 1.Device 1");
  EXPECT_EQ(SimulationControl::LastArguments(kMove)->text, OLESTR("Device 1"));
  browser_->ShowLeafs(false);  // the server really is there
  EXPECT_EQ(LinesOf(browser_->GetItems()), kDeviceLeaves);
  EXPECT_EQ(browser_->GetItemId("Ramp"), "Channel 1.Device 1.Ramp");

  ASSERT_TRUE(browser_->Moveup());
  EXPECT_EQ(browser_->GetCurrentPosition(), "Channel 1");
  EXPECT_EQ(SimulationControl::LastArguments(kMove)->browseDirection, OPC_BROWSE_UP);

  ASSERT_TRUE(browser_->Moveto("Channel 1.Device 2"));
  EXPECT_EQ(LinesOf(browser_->GetPositionList()), (Lines{"Channel 1", "Device 2"}));
  EXPECT_EQ(SimulationControl::LastArguments(kMove)->text, OLESTR("Channel 1.Device 2"));
  EXPECT_EQ(browser_->GetItemId("Setpoint"), "Channel 1.Device 2.Setpoint");

  ASSERT_TRUE(browser_->MovetoRoot());
  EXPECT_EQ(browser_->GetPositionList().GetCount(), 0);
  EXPECT_EQ(SimulationControl::LastArguments(kMove)->browseDirection, OPC_BROWSE_TO);
  EXPECT_EQ(SimulationControl::CallCount(kOrganization), 1u) << "asked once per binding";
  EXPECT_TRUE(errors_.empty());
}

TEST_F(XeloBrowserTest, LeafListingAtThePositionFlatListingOfAllLeaves) {
  Connect();
  ASSERT_TRUE(browser_->Moveto("Channel 1.Device 1"));
  browser_->ShowLeafs(false);
  EXPECT_EQ(SimulationControl::LastArguments(kList)->browseType, OPC_LEAF);
  EXPECT_EQ(browser_->GetCount(), 8);
  ASSERT_TRUE(browser_->MovetoRoot());
  browser_->ShowLeafs(true);
  EXPECT_EQ(SimulationControl::LastArguments(kList)->browseType, OPC_FLAT);
  EXPECT_EQ(browser_->GetCount(), kAllLeaves);
  EXPECT_GE(browser_->GetItems().IndexOf("Static.Int16"), 0);
}

TEST_F(XeloBrowserTest, FlatSpaceRefusesMovesWithoutAskingAndListsAllLeaves) {
  Connect(sim::kProgIdSimFlat);
  EXPECT_EQ(browser_->GetOrganization(), OPC_NS_FLAT);
  EXPECT_FALSE(browser_->MoveDown("Static") || browser_->Moveup() || browser_->MovetoRoot() ||
               browser_->Moveto("Static"));
  EXPECT_EQ(SimulationControl::CallCount(kMove), 0u);
  browser_->GetItems().Add("stale");
  browser_->ShowBranches();
  EXPECT_EQ(browser_->GetCount(), 0);
  EXPECT_EQ(SimulationControl::CallCount(kList), 0u);
  for (const bool flat : {false, true}) {
    browser_->ShowLeafs(flat);
    EXPECT_EQ(SimulationControl::LastArguments(kList)->browseType, OPC_FLAT);
    EXPECT_EQ(browser_->GetCount(), kAllLeaves);
  }
}

TEST_F(XeloBrowserTest, FiltersReachTheServer) {
  Connect();
  ASSERT_TRUE(browser_->Moveto("Static"));
  struct Case {
    OPCAcesstype rights;
    DWORD mask;
    Lines listed;  // of ReadOnly and WriteOnly
  };
  const Case cases[] = {{{}, 0, {"ReadOnly", "WriteOnly"}},
                        {{opcReadable}, 1, {"ReadOnly"}},
                        {{opcWritable}, 2, {"WriteOnly"}},
                        {{opcReadable, opcWritable}, 3, {}}};
  browser_->SetFilter("*Only");
  for (const Case& c : cases) {
    browser_->SetAccessRights(c.rights);
    browser_->ShowLeafs(false);
    const auto args = SimulationControl::LastArguments(kList);
    EXPECT_EQ(args->accessMask, c.mask);
    EXPECT_EQ(args->dataTypeFilter, VT_EMPTY);
    EXPECT_EQ(args->text, OLESTR("*Only"));
    EXPECT_EQ(LinesOf(browser_->GetItems()), c.listed) << c.mask;
  }
  browser_->SetDatatype(vtUNKNOWN);  // nothing here converts to an interface
  browser_->ShowLeafs(false);
  EXPECT_EQ(SimulationControl::LastArguments(kList)->dataTypeFilter, VT_UNKNOWN);
  EXPECT_EQ(browser_->GetCount(), 0);
}

TEST_F(XeloBrowserTest, RefusedMoveCallsOnErrorAndRaisesNothing) {
  Connect();
  bool moved = true;
  EXPECT_NO_THROW(moved = browser_->Moveup());  // OnError lets the exception go
  EXPECT_FALSE(moved);
  EXPECT_FALSE(browser_->Moveto("Channel 9"));
  // The system's texts for the codes (Windows' wording here; Wine's differs).
  EXPECT_EQ(errors_, (Lines{"Browser: " + com::SystemMessageText(E_FAIL),
                            "Browser: " + com::SystemMessageText(E_INVALIDARG)}));
  EXPECT_EQ(browser_->GetCurrentPosition(), "");
  // Failing organisation queries are not a move's to swallow.
  browser_->SetOPCServer(server_.get());
  SimulationControl::FailMethod(kOrganization, E_FAIL);
  EXPECT_THROW(browser_->MoveDown("Channel 1"), EOPCException);
  EXPECT_EQ(SimulationControl::CallCount(kMove), 2u);
}

TEST_F(XeloBrowserTest, ReportsPreferTheServersTextThenTheLibrarysThenTheSystems) {
  Connect();
  browser_->SetFilter("[");  // an invalid pattern
  EXPECT_EQ(Raised([&] { browser_->ShowBranches(); }), "Browser: The filter string was not valid.");
  SimulationControl::FailMethod("IOPCServer::GetErrorString", E_FAIL);
  EXPECT_EQ(Raised([&] { browser_->ShowBranches(); }), "Browser: The filter string was not valid");
  raiseErrors_ = false;
  EXPECT_FALSE(browser_->Check(E_NOTIMPL));
  EXPECT_TRUE(browser_->Check(S_FALSE));
  EXPECT_EQ(errors_.back(), "Browser: " + com::SystemMessageText(E_NOTIMPL));
}

TEST_F(XeloBrowserTest, SuppressedFailuresLeaveEmptyResults) {
  Connect();
  raiseErrors_ = false;
  browser_->ShowBranches();
  SimulationControl::FailMethod(kList, E_FAIL);  // a failure and no enumerator
  browser_->ShowBranches();
  EXPECT_EQ(browser_->GetCount(), 0);
  TStringList paths{"stale"};
  browser_->GetAccessPath("Static.Int16", paths);  // the simulation has none
  EXPECT_EQ(paths.GetCount(), 0);
  EXPECT_EQ(browser_->GetItemId("Nothing"), "");
  EXPECT_EQ(errors_, (Lines{"Browser: " + com::SystemMessageText(E_FAIL), "Browser: " + com::SystemMessageText(E_NOTIMPL),
                            "Browser: " + com::SystemMessageText(E_INVALIDARG)}));
  // A failed organisation query is asked again, a rebinding asks anew.
  SimulationControl::FailMethod(kOrganization, E_FAIL, /*once=*/true);
  browser_->SetOPCServer(server_.get());
  EXPECT_EQ(browser_->GetOrganization(), -1);
  EXPECT_EQ(browser_->GetOrganization(), OPC_NS_HIERARCHIAL);
  EXPECT_EQ(SimulationControl::CallCount(kOrganization), 3u);
}

TEST_F(XeloBrowserTest, DestroyingTheServerComponentUnbinds) {
  Connect();
  ASSERT_TRUE(browser_->Moveto("Channel 1.Device 1"));
  browser_->ShowLeafs(false);
  server_.reset();
  EXPECT_EQ(browser_->GetOPCServer(), nullptr);
  EXPECT_EQ(browser_->GetCount() + browser_->GetPositionList().GetCount(), 0);
  EXPECT_EQ(SimulationControl::Live().servers, liveServers_) << "the browse interface is released";
  EXPECT_EQ(Raised([&] { browser_->ShowLeafs(false); }), "first define server object");
}

TEST_F(XeloBrowserTest, RemovingTheServerComponentFromItsOwnerUnbinds) {
  TComponent owner(nullptr);
  auto* server = new TXeloServer(&owner);  // owned by `owner` until removed
  auto* browser = new TXeloBrowser(&owner);
  server->Connect(sim::kProgIdSim, "");
  browser->SetOPCServer(server);
  browser->ShowBranches();
  owner.RemoveComponent(*server);
  const std::unique_ptr<TXeloServer> removed(server);
  EXPECT_EQ(browser->GetOPCServer(), nullptr);
  EXPECT_EQ(browser->GetCount(), 0);
}

TEST_F(XeloBrowserTest, ServerWithoutBrowsingInterface) {
  const com::ScopedClassRegistration registration(com::ClassRegistration{
      kClsidNoBrowsing, "Xelo.Test.NoBrowsing.1", "no browsing", {}, false,
      com::MakeClassFactory<ServerWithoutBrowsing>()});
  Connect("Xelo.Test.NoBrowsing.1");
  EXPECT_EQ(Raised([&] { browser_->ShowBranches(); }), "Browser interface not found");
  raiseErrors_ = false;
  EXPECT_FALSE(browser_->MoveDown("Static"));
  EXPECT_EQ(browser_->GetItemId("Ramp"), "");
  EXPECT_EQ(errors_, Lines(3, "Browser interface not found"));
  server_.reset();
}

}  // namespace
