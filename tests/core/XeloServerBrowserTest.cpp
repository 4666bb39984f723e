// Finding servers: the class-registration scan of GetOPCServers and the
// enumerator-driven TxeloServerBrowser, against the simulation's classes and
// its OPC server list.
#include "xelo/core/XeloServerBrowser.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/Activation.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Strings.h"

#include "support/NativeCom.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;
using Lines = std::vector<std::string>;

constexpr char kEnumClasses[] = "IOPCServerList::EnumClassesOfCategories";
Lines LinesOf(const TStrings& list) {
  Lines lines;
  for (int i = 0; i < list.GetCount(); ++i) lines.push_back(list.Get(i));
  return lines;
}

const Lines kSimDA{sim::kProgIdSim, sim::kProgIdSimDA1, sim::kProgIdSimFlat};

// A registration sorted before all others; never created as an object.
constexpr CLSID kClsidEarly{0x5C1A00F3, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x54, 0x45, 0x53, 0x54, 0x53, 0x42}};
com::ClassRegistration Early(std::vector<CATID> categories, bool opcKey) {
  return com::ClassRegistration{kClsidEarly, "Aaa.Early.1", "early", std::move(categories), opcKey, nullptr};
}

class XeloServerBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application();
    SimulationControl::Reset();
    liveBlocks_ = com::LiveAllocations();
  }
  void TearDown() override {
    browser_.reset();
    SimulationControl::Reset();
    EXPECT_EQ(com::LiveAllocations(), liveBlocks_) << "an enumerator buffer was leaked or freed twice";
  }
  Lines ProgIDs() const {
    Lines ids;
    for (int i = 0; i < browser_->GetCount(); ++i) ids.push_back(browser_->GetItems(i)->ProgID);
    return ids;
  }
  tXeloServerSet TypesAt(int index) const { return browser_->GetItems(index)->ServerTypes; }

  com::AllocationCounts liveBlocks_;  // after the simulation has set itself up
  std::unique_ptr<TxeloServerBrowser> browser_ = std::make_unique<TxeloServerBrowser>(nullptr);
};

TEST_F(XeloServerBrowserTest, DefaultsPublishedPropertiesAndTheOneByteSet) {
  static_assert(sizeof(tXeloServerSet) == 1);
  EXPECT_EQ(browser_->GetComputerName(), "");
  EXPECT_EQ(browser_->GetServertype().Bits(), 7);
  EXPECT_EQ((tXeloServerSet{svr_DA10}).Bits(), 2);
  EXPECT_EQ((tXeloServerSet{svr_AE10}).Bits(), 4);
  Lines names;
  for (const TPropInfo* prop : GetPropList(*browser_)) names.push_back(prop->Name());
  EXPECT_EQ(names, (Lines{"Name", "Tag", "ComputerName", "Servertype"}));
  EXPECT_EQ(FindClass("TxeloServerBrowser"), TxeloServerBrowser::StaticClass());
  EXPECT_EQ(GetSetProp(*browser_, "Servertype", true), "[svr_DA20,svr_DA10,svr_AE10]");
  SetSetProp(*browser_, "Servertype", "[svr_AE10]");
  EXPECT_EQ(browser_->GetServertype(), tXeloServerSet{svr_AE10});
}

TEST_F(XeloServerBrowserTest, GetOPCServersListsKeysWithAnOpcSubkeyInRegistryOrder) {
  TStringList list{"stale"};
  GetOPCServers(list);
  EXPECT_EQ(LinesOf(list), kSimDA) << "AE and the server list have no OPC key";
#if !XELO_COM_NATIVE  // on Windows' COM the classes root is the system's registry
  {
    const com::ScopedClassRegistration early(Early({}, true));
    GetOPCServers(list);
    EXPECT_EQ(list.GetCount(), 4);
    EXPECT_EQ(list.Get(0), "Aaa.Early.1");
  }
  const com::ScopedClassRegistration early(Early({}, false));
  GetOPCServers(list);
  EXPECT_EQ(LinesOf(list), kSimDA);
#endif
}

TEST_F(XeloServerBrowserTest, ExecuteMergesADualServerAtItsDA10Place) {
  browser_->Execute();
  ASSERT_EQ(ProgIDs(), (Lines{sim::kProgIdSim, sim::kProgIdSimDA1, sim::kProgIdSimFlat, sim::kProgIdSimAE}));
  EXPECT_EQ(TypesAt(0), (tXeloServerSet{svr_DA10, svr_DA20}));
  EXPECT_EQ(TypesAt(1), tXeloServerSet{svr_DA10});
  EXPECT_EQ(TypesAt(2), tXeloServerSet{svr_DA20});
  EXPECT_EQ(TypesAt(3), tXeloServerSet{svr_AE10});
  const TxeloServerItem* dual = browser_->GetItems(0);
  EXPECT_EQ(dual->UserType, sim::kUserTypeSim);
  EXPECT_EQ(dual->ClassID, "{5C1A0001-7E10-4B8A-9C35-58454C4F5349}");
  EXPECT_EQ(SimulationControl::LastArguments(kEnumClasses)->count, 1u);
  browser_->Execute();  // every run starts from nothing
  EXPECT_EQ(browser_->GetCount(), 4);

  // A DA 2.0-only server that sorts first still comes after the DA 1.0 ones.
  const com::ScopedClassRegistration early(Early({CATID_OPCDAServer20}, true));
  browser_->SetServertype({svr_DA20, svr_DA10});
  browser_->Execute();
  EXPECT_EQ(ProgIDs(), (Lines{sim::kProgIdSim, sim::kProgIdSimDA1, "Aaa.Early.1", sim::kProgIdSimFlat}));
}

TEST_F(XeloServerBrowserTest, AlarmsAndEventsOnly) {
  browser_->SetServertype({svr_AE10});
  browser_->Execute();
  EXPECT_EQ(ProgIDs(), Lines{sim::kProgIdSimAE});
  EXPECT_EQ(TypesAt(0), tXeloServerSet{svr_AE10});
}

TEST_F(XeloServerBrowserTest, ComputerNameIsKeptAndStampedOnEveryEntry) {
  browser_->GetOPCServers("localhost");
  EXPECT_EQ(browser_->GetComputerName(), "localhost");
  ASSERT_EQ(browser_->GetCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(browser_->GetItems(i)->Computer, "localhost");

  if (xelo::test::NativeComUnderWine()) GTEST_SKIP() << "Wine's COM creates objects on this computer whatever computer is named";
  try {
    browser_->GetOPCServers("no-such-computer.invalid");
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
  }
  EXPECT_EQ(browser_->GetCount(), 0);
  browser_->SetServertype({});  // the enumerator is still created
  EXPECT_THROW(browser_->Execute(), EOleSysError);
}

TEST_F(XeloServerBrowserTest, EnumeratorFailuresRaiseTheComErrorAndKeepWhatWasFound) {
  SimulationControl::FailMethod(kEnumClasses, OPC_E_UNKNOWNITEMID, /*once=*/true);
  try {
    browser_->Execute();
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {  // not the OPC text table's EOPCException
    EXPECT_EQ(e.ErrorCode(), OPC_E_UNKNOWNITEMID);
  }
  com::ComPtr<IOPCServerList> list;
  ASSERT_EQ(CoCreateInstance(CLSID_OPCServerList, nullptr, CLSCTX_ALL, IID_IOPCServerList, list.PutVoid()), S_OK);
  browser_->GetServers(*list, CATID_OPCDAServer10, {svr_DA10});
  SimulationControl::FailMethod("IOPCServerList::GetClassDetails", E_ACCESSDENIED, /*once=*/true);
  EXPECT_THROW(browser_->GetServers(*list, CATID_OPCDAServer20, {svr_DA20}), EOleSysError);
  EXPECT_EQ(ProgIDs(), (Lines{sim::kProgIdSim, sim::kProgIdSimDA1}));
  EXPECT_EQ(TypesAt(0), tXeloServerSet{svr_DA10});
}

TEST_F(XeloServerBrowserTest, EntriesMergeByExactClassIdAndTheLastOneWins) {
  browser_->AddServer("First", "Vendor.First.1", "{0000000A}", {svr_DA10});
  browser_->SetComputerName("elsewhere");
  browser_->AddServer("Second", "Vendor.Second.1", "{0000000A}", {svr_AE10});
  browser_->AddServer("Third", "Vendor.Third.1", "{0000000a}", {svr_DA20});
  ASSERT_EQ(ProgIDs(), (Lines{"Vendor.First.1", "Vendor.Third.1"}));
  EXPECT_EQ(browser_->GetItems(0)->Computer, "");
  EXPECT_EQ(TypesAt(0), (tXeloServerSet{svr_DA10, svr_AE10}));
  EXPECT_EQ(browser_->GetServer("{0000000a}"), browser_->GetItems(1));

  auto twin = std::make_unique<TxeloServerItem>("", "twin", "Twin.1", "{0000000A}");
  TxeloServerItem* placed = twin.get();
  const std::unique_ptr<TxeloServerItem> replaced = browser_->SetItems(1, std::move(twin));
  EXPECT_EQ(replaced->ProgID, "Vendor.Third.1");
  EXPECT_EQ(browser_->GetServer("{0000000A}"), placed);
  EXPECT_THROW(browser_->GetItems(2), EListError);
  browser_->Clear();
  EXPECT_EQ(browser_->GetServer("{0000000A}"), nullptr);
}

}  // namespace
