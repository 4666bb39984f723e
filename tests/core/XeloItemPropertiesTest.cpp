// Item properties: the server component's queries and TXeloItemProperties,
// against the simulation server and, for answers it never gives (ids with
// the top bit set, success codes with a remark, no properties), against a
// scripted server.
#include "xelo/core/XeloItemProperties.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/BStr.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/core/Xelo.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Strings.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;
using Lines = std::vector<std::string>;

constexpr char kQuery[] = "IOPCItemProperties::QueryAvailableProperties";
constexpr char kRead[] = "IOPCItemProperties::GetItemProperties";
constexpr char kLookup[] = "IOPCItemProperties::LookupItemIDs";

// What the scripted server answers. Ids not in `codes` answer S_OK; every
// non-failure comes with a value (or identifier), as servers do for
// success codes with a remark.
struct Script {
  std::vector<std::pair<DWORD, xelo::com::OleString>> properties;  // all of type VT_BSTR
  std::map<DWORD, HRESULT> codes;
} script;

template <class T>
T* TaskArray(std::size_t n) {
  auto* block = static_cast<T*>(CoTaskMemAlloc((n == 0 ? 1 : n) * sizeof(T)));
  for (std::size_t i = 0; i < n; ++i) block[i] = T{};
  return block;
}
HRESULT CodeOf(DWORD id) { return script.codes.contains(id) ? script.codes[id] : S_OK; }

class ScriptedServer : public com::ComObject<IOPCServer, IOPCItemProperties> {
 public:
  STDMETHOD(AddGroup)(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE*, DWORD*, REFIID,
                      LPUNKNOWN*) override { return E_NOTIMPL; }
  STDMETHOD(GetErrorString)(HRESULT, LCID, LPWSTR*) override { return E_NOTIMPL; }
  STDMETHOD(GetGroupByName)(LPCWSTR, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
  STDMETHOD(GetStatus)(OPCSERVERSTATUS**) override { return E_NOTIMPL; }
  STDMETHOD(RemoveGroup)(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
  STDMETHOD(CreateGroupEnumerator)(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }

  STDMETHOD(QueryAvailableProperties)(LPWSTR, DWORD* count, DWORD** ids, LPWSTR** texts, VARTYPE** types) override {
    const std::size_t n = script.properties.size();
    *count = static_cast<DWORD>(n);
    *ids = TaskArray<DWORD>(n);
    *texts = TaskArray<LPWSTR>(n);
    *types = TaskArray<VARTYPE>(n);
    for (std::size_t i = 0; i < n; ++i) {
      (*ids)[i] = script.properties[i].first;
      (*texts)[i] = com::CoTaskMemStrDup(script.properties[i].second);
      (*types)[i] = VT_BSTR;
    }
    return S_OK;
  }
  STDMETHOD(GetItemProperties)(LPWSTR, DWORD count, DWORD* ids, VARIANT** values, HRESULT** errors) override {
    *values = TaskArray<VARIANT>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      (*errors)[i] = CodeOf(ids[i]);
      if (SUCCEEDED((*errors)[i])) {
        (*values)[i].vt = VT_BSTR;
        (*values)[i].bstrVal = SysAllocString(OLESTR("scripted"));
      }
    }
    return S_OK;
  }
  STDMETHOD(LookupItemIDs)(LPWSTR, DWORD count, DWORD* ids, LPWSTR** itemIds, HRESULT** errors) override {
    *itemIds = TaskArray<LPWSTR>(count);
    *errors = TaskArray<HRESULT>(count);
    for (DWORD i = 0; i < count; ++i) {
      (*errors)[i] = CodeOf(ids[i]);
      if (SUCCEEDED((*errors)[i])) (*itemIds)[i] = com::CoTaskMemStrDup(OLESTR("Scripted.Id"));
    }
    return S_OK;
  }
};
constexpr CLSID kClsidScripted{0x5C1A00F2, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x54, 0x45, 0x53, 0x54, 0x50, 0x52}};

class XeloItemPropertiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Application();
    SimulationControl::Reset();
    liveBlocks_ = com::LiveAllocations();
    script = Script{};
    server_->SetOnError([this](TPersistent*, const std::string& text, bool&) { errors_.push_back(text); });
  }
  void TearDown() override {
    server_.reset();
    SimulationControl::Reset();
    EXPECT_TRUE(errors_.empty()) << "property queries never report through OnError";
    EXPECT_EQ(SimulationControl::Live().servers, liveServers_);
    EXPECT_EQ(com::LiveAllocations(), liveBlocks_) << "a server buffer was leaked or freed twice";
  }
  void Connect(const std::string& progId = sim::kProgIdSim) {
    server_->Connect(progId, "");
    ASSERT_TRUE(server_->GetActive());
  }
  void ConnectScripted() { Connect("Xelo.Test.Scripted.1"); }

  const std::size_t liveServers_ = SimulationControl::Live().servers;
  com::AllocationCounts liveBlocks_;  // after the simulation has set itself up
  const com::ScopedClassRegistration scripted_{com::ClassRegistration{
      kClsidScripted, "Xelo.Test.Scripted.1", "scripted", {}, false, com::MakeClassFactory<ScriptedServer>()}};
  std::unique_ptr<TXeloServer> server_ = std::make_unique<TXeloServer>(nullptr);
  Lines errors_;
};

Lines LinesOf(const TStrings& list) {
  Lines lines;
  for (int i = 0; i < list.GetCount(); ++i) lines.push_back(list.Get(i));
  return lines;
}

TEST_F(XeloItemPropertiesTest, ServerListsOneLinePerPropertyInTheServersOrder) {
  Connect();
  TStringList list{"stale"};
  EXPECT_TRUE(server_->QueryAvailableProperties("Static.Int16", list));
  EXPECT_EQ(LinesOf(list), (Lines{R"(1,"Item Canonical Data Type",2)", R"(2,"Item Value",2)",
                                  R"(3,"Item Quality",2)", R"(4,"Item Timestamp",7)",
                                  R"(5,"Item Access Rights",3)", R"(6,"Server Scan Rate",4)",
                                  R"(101,"Item Description",8)"}));
  EXPECT_EQ(SimulationControl::LastArguments(kQuery)->text, OLESTR("Static.Int16"));
}

TEST_F(XeloItemPropertiesTest, LinesKeepTopBitIdsUnsignedAndQuotesAsTheyAre) {
  ConnectScripted();
  script.properties = {{0x80000001u, OLESTR("Vendor \"special\"")}, {0xFFFFFFFFu, OLESTR("")}};
  TStringList list;
  EXPECT_TRUE(server_->QueryAvailableProperties("Any", list));
  EXPECT_EQ(LinesOf(list), (Lines{R"(2147483649,"Vendor "special"",8)", R"(4294967295,"",8)"}));
}

TEST_F(XeloItemPropertiesTest, UnknownItemRaisesTheLibrarysTextAndEmptiesTheList) {
  Connect();
  TStringList list{"stale"};
  EXPECT_THROW(server_->QueryAvailableProperties("Static.Nothing", list), EOPCException);
  EXPECT_EQ(list.GetCount(), 0);
  try {
    TXeloItemProperties properties(server_.get(), "Static.Int16");
    properties.SetItemId("Static.Nothing");
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(), "The item is no longer available in the server address space.");
  }
  TXeloItemProperties unbound(nullptr, "Static.Nothing");
  EXPECT_THROW(unbound.SetOPCServer(server_.get()), EOPCException);
  EXPECT_EQ(unbound.GetOPCServer(), server_.get()) << "stored before the query";
  EXPECT_EQ(unbound.GetCount(), 0);
}

TEST_F(XeloItemPropertiesTest, EverythingIsSilentWithoutConnection) {
  TStringList list{"stale"};
  EXPECT_FALSE(server_->QueryAvailableProperties("Static.Int16", list));
  EXPECT_EQ(list.GetCount(), 0);
  Variant value = 7;
  EXPECT_FALSE(server_->GetItemProperty("Static.Int16", OPC_PROPERTY_VALUE, value));
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_EQ(server_->LookupItemId("Channel 1.Device 1.Ramp", OPC_PROPERTY_HIGH_EU), "");
  TXeloItemProperties properties(server_.get(), "Static.Int16");
  EXPECT_EQ(properties.GetCount(), 0);
  EXPECT_FALSE(properties.Refresh());
}

TEST_F(XeloItemPropertiesTest, GetItemPropertyIsTrueOnlyForExactlySOk) {
  Connect();
  Variant value;
  ASSERT_TRUE(server_->GetItemProperty("Static.String", OPC_PROPERTY_VALUE, value));
  EXPECT_EQ(VarToStr(value), "Hello");
  EXPECT_EQ(SimulationControl::LastArguments(kRead)->propertyIds, std::vector<DWORD>{OPC_PROPERTY_VALUE});
  EXPECT_FALSE(server_->GetItemProperty("Static.WriteOnly", OPC_PROPERTY_VALUE, value));  // bad rights
  EXPECT_TRUE(value.IsEmpty());
  SimulationControl::FailMethod(kRead, E_FAIL);
  EXPECT_FALSE(server_->GetItemProperty("Static.String", OPC_PROPERTY_VALUE, value));

  server_->Connect("Xelo.Test.Scripted.1", "");
  script.codes = {{OPC_PROPERTY_VALUE, OPC_S_CLAMP}};
  EXPECT_FALSE(server_->GetItemProperty("Any", OPC_PROPERTY_VALUE, value));
  EXPECT_TRUE(value.IsEmpty());
  EXPECT_TRUE(server_->GetItemProperty("Any", static_cast<std::int32_t>(0x80000001u), value));
}

TEST_F(XeloItemPropertiesTest, LookupItemIdRaisesOnlyForFailureCodes) {
  Connect();
  EXPECT_EQ(server_->LookupItemId("Channel 1.Device 1.Ramp", OPC_PROPERTY_HIGH_EU), "Channel 1.Device 1.Ramp.HighEU");
  try {
    server_->LookupItemId("Channel 1.Device 1.Ramp", OPC_PROPERTY_VALUE);
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(), "The server does not recognise the passed property ID.");
  }
  EXPECT_EQ(server_->LookupItemId("Static.Nothing", OPC_PROPERTY_HIGH_EU), "");  // the call fails
  EXPECT_EQ(SimulationControl::LastArguments(kLookup)->propertyIds, std::vector<DWORD>{OPC_PROPERTY_HIGH_EU});

  server_->Connect("Xelo.Test.Scripted.1", "");
  script.codes = {{OPC_PROPERTY_HIGH_EU, OPC_S_CLAMP}};
  EXPECT_EQ(server_->LookupItemId("Any", OPC_PROPERTY_HIGH_EU), "");
  EXPECT_EQ(server_->LookupItemId("Any", OPC_PROPERTY_LOW_EU), "Scripted.Id");
}

TEST_F(XeloItemPropertiesTest, ZeroPropertiesGiveEmptyAnswersAndFalse) {
  ConnectScripted();
  TStringList list{"stale"};
  EXPECT_FALSE(server_->QueryAvailableProperties("Any", list));
  EXPECT_EQ(list.GetCount(), 0);
  TXeloItemProperties properties(server_.get(), "Any");
  EXPECT_EQ(properties.GetCount(), 0);
  EXPECT_FALSE(properties.Refresh());
}

TEST_F(XeloItemPropertiesTest, ListQueriesAndReadsOnceInServerOrder) {
  Connect();
  TXeloItemProperties properties(server_.get(), "Static.Int16");
  ASSERT_EQ(properties.GetCount(), 7);
  const TXeloItemProperty* first = properties.GetItem(0);
  EXPECT_EQ(first->PropertyID, OPC_PROPERTY_DATATYPE);
  EXPECT_EQ(first->Description, "Item Canonical Data Type");
  EXPECT_EQ(first->DataType, VT_I2);
  EXPECT_EQ(first->Value.ToInt32(), VT_I2);
  EXPECT_EQ(properties.GetItem(1)->Value.ToInt32(), 16);
  EXPECT_EQ(SimulationControl::CallCount(kQuery), 1u);
  EXPECT_EQ(SimulationControl::CallCount(kRead), 1u);
  EXPECT_EQ(SimulationControl::LastArguments(kRead)->propertyIds, (std::vector<DWORD>{1, 2, 3, 4, 5, 6, 101}));

  TXeloItemProperties empty;  // asks nothing
  EXPECT_FALSE(empty.GetItemProperties());
  EXPECT_EQ(SimulationControl::CallCount(kQuery), 1u);
}

TEST_F(XeloItemPropertiesTest, SettersRequeryOnlyOnChange) {
  Connect();
  TXeloItemProperties properties(server_.get(), "Static.Int16");
  properties.SetItemId("Static.Int16");
  properties.SetOPCServer(server_.get());
  EXPECT_EQ(SimulationControl::CallCount(kQuery), 1u);
  properties.SetItemId("Channel 1.Device 1.Ramp");
  EXPECT_EQ(properties.GetCount(), 10);
  properties.SetItemId("");
  EXPECT_EQ(properties.GetCount(), 0);
  EXPECT_EQ(SimulationControl::CallCount(kQuery), 2u);

  properties.SetItemId("Static.Bool");
  server_->Disconnect();
  EXPECT_EQ(properties.GetCount(), 7) << "nothing refreshes by itself";
  properties.SetItemId("Static.Int32");
  EXPECT_EQ(properties.GetCount(), 0);
  EXPECT_EQ(SimulationControl::CallCount(kQuery), 3u);
}

TEST_F(XeloItemPropertiesTest, FailedReadsLeaveRecordsEmptyOrUntouched) {
  Connect();
  TXeloItemProperties properties(server_.get(), "Static.WriteOnly");
  ASSERT_EQ(properties.GetCount(), 7);
  EXPECT_FALSE(properties.Refresh());
  for (int i = 0; i < properties.GetCount(); ++i) {
    EXPECT_EQ(properties.GetItem(i)->Value.IsEmpty(), properties.GetItem(i)->PropertyID == OPC_PROPERTY_VALUE);
  }
  properties.SetItemId("Static.String");
  EXPECT_TRUE(properties.Refresh());
  SimulationControl::FailMethod(kRead, E_FAIL);
  EXPECT_FALSE(properties.GetItemProperties());
  EXPECT_EQ(VarToStr(properties.GetItem(1)->Value), "Hello") << "a failed call changes nothing";

  properties.SetOPCServer(nullptr);
  server_->Connect("Xelo.Test.Scripted.1", "");
  script.properties = {{1, OLESTR("first")}, {2, OLESTR("second")}};
  script.codes = {{2, OPC_S_CLAMP}};
  properties.SetOPCServer(server_.get());
  EXPECT_FALSE(properties.Refresh());
  EXPECT_EQ(VarToStr(properties.GetItem(0)->Value), "scripted");
  EXPECT_TRUE(properties.GetItem(1)->Value.IsEmpty());
}

TEST_F(XeloItemPropertiesTest, RecordsAreOwnedAndFreed) {
  Connect();
  // Texts live in the records (as BSTRs; on Windows' COM those are counted
  // with the task allocator's blocks).
  const long blocks = com::LiveAllocations().Total();
  auto properties = std::make_unique<TXeloItemProperties>(server_.get(), "Static.String");
  EXPECT_GT(com::LiveAllocations().Total(), blocks);
  auto replacement = std::make_unique<TXeloItemProperty>();
  TXeloItemProperty* placed = replacement.get();
  std::unique_ptr<TXeloItemProperty> replaced = properties->SetItem(0, std::move(replacement));
  EXPECT_EQ(properties->GetItem(0), placed);
  EXPECT_EQ(replaced->PropertyID, OPC_PROPERTY_DATATYPE);
  EXPECT_THROW(properties->GetItem(7), EListError);
  properties.reset();
  EXPECT_EQ(com::LiveAllocations().Total(), blocks);
}

}  // namespace
