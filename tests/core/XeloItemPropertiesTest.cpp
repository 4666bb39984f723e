// Item properties: the server component's queries and TXeloItemProperties,
// against the simulation server and a scripted server.
#include "support/ServerFixture.h"

#include "xelo/core/XeloItemProperties.h"

namespace xelo::test {
namespace {

constexpr char kQuery[] = "IOPCItemProperties::QueryAvailableProperties";
constexpr char kRead[] = "IOPCItemProperties::GetItemProperties";
constexpr char kScripted[] = "Xelo.Test.Scripted.1";
constexpr CLSID kClsidScripted{0x5C1A00F2, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x54, 0x45, 0x53, 0x54, 0x50, 0x52}};

class XeloItemPropertiesTest : public AllocationCheckedServerFixture {
 protected:
  void SetUp() override {
    AllocationCheckedServerFixture::SetUp();
    gPropertyScript = {};
  }
  void Release() override { EXPECT_TRUE(errors_.empty()) << "property queries never report through OnError"; }
  static unsigned Calls(const char* method) { return SimulationControl::CallCount(method); }

  const com::ScopedClassRegistration scripted_{StubRegistration<ScriptedPropertiesServer>(kClsidScripted, kScripted)};
};

TEST_F(XeloItemPropertiesTest, ServerQueriesListReadAndLookUp) {
  TStringList list{"stale"};
  Variant value = 7;
  // Not connected: silent.
  EXPECT_FALSE(server_->QueryAvailableProperties("Static.Int16", list) ||
               server_->GetItemProperty("Static.Int16", OPC_PROPERTY_VALUE, value) || !value.IsEmpty() || list.GetCount() ||
               !server_->LookupItemId("Channel 1.Device 1.Ramp", OPC_PROPERTY_HIGH_EU).empty());
  ConnectSim();
  list.Add("stale");
  EXPECT_TRUE(server_->QueryAvailableProperties("Static.Int16", list));
  EXPECT_EQ(LinesOf(list), (Lines{R"(1,"Item Canonical Data Type",2)", R"(2,"Item Value",2)", R"(3,"Item Quality",2)",
                                  R"(4,"Item Timestamp",7)", R"(5,"Item Access Rights",3)",
                                  R"(6,"Server Scan Rate",4)", R"(101,"Item Description",8)"}));
  EXPECT_TRUE(!MessageOf<EOPCException>([&] { server_->QueryAvailableProperties("Static.Nothing", list); }).empty() &&
              list.GetCount() == 0);
  ASSERT_TRUE(server_->GetItemProperty("Static.String", OPC_PROPERTY_VALUE, value));  // true for exactly S_OK
  EXPECT_EQ(std::tuple(VarToStr(value), SimulationControl::LastArguments(kRead)->propertyIds),
            std::tuple("Hello", std::vector<DWORD>{OPC_PROPERTY_VALUE}));
  EXPECT_FALSE(server_->GetItemProperty("Static.WriteOnly", OPC_PROPERTY_VALUE, value) || !value.IsEmpty());  // bad rights
  // A lookup raises only for failure codes.
  EXPECT_EQ(server_->LookupItemId("Channel 1.Device 1.Ramp", OPC_PROPERTY_HIGH_EU), "Channel 1.Device 1.Ramp.HighEU");
  EXPECT_EQ(MessageOf<EOPCException>([&] { server_->LookupItemId("Channel 1.Device 1.Ramp", OPC_PROPERTY_VALUE); }),
            "The server does not recognise the passed property ID.");
  EXPECT_EQ(server_->LookupItemId("Static.Nothing", OPC_PROPERTY_HIGH_EU), "");  // the call fails

  server_->Connect(kScripted, "");
  EXPECT_FALSE(server_->QueryAvailableProperties("Any", list));  // no properties
  gPropertyScript.properties = {{0x80000001u, OLESTR("Vendor \"special\"")}, {0xFFFFFFFFu, OLESTR("")}};
  EXPECT_TRUE(server_->QueryAvailableProperties("Any", list) &&
              LinesOf(list) == (Lines{R"(2147483649,"Vendor "special"",8)", R"(4294967295,"",8)"}));
  gPropertyScript.codes = {{OPC_PROPERTY_VALUE, OPC_S_CLAMP}, {OPC_PROPERTY_HIGH_EU, OPC_S_CLAMP}};
  EXPECT_FALSE(server_->GetItemProperty("Any", OPC_PROPERTY_VALUE, value) || !value.IsEmpty());
  EXPECT_TRUE(server_->GetItemProperty("Any", static_cast<std::int32_t>(0x80000001u), value));
  EXPECT_EQ(server_->LookupItemId("Any", OPC_PROPERTY_HIGH_EU) + "/" + server_->LookupItemId("Any", OPC_PROPERTY_LOW_EU),
            "/Scripted.Id");
}

TEST_F(XeloItemPropertiesTest, ListQueriesOnceRequeriesOnlyOnChangeOwnsItsRecordsAndKeepsThemOnFailures) {
  EXPECT_FALSE(TXeloItemProperties(server_.get(), "Static.Int16").Refresh());  // not connected
  ConnectSim();
  const long blocks = com::LiveAllocations().Total();
  auto properties = std::make_unique<TXeloItemProperties>(server_.get(), "Static.Int16");
  EXPECT_GT(com::LiveAllocations().Total(), blocks);  // the texts live in the records
  ASSERT_EQ(properties->GetCount(), 7);
  const TXeloItemProperty& first = *properties->GetItem(0);
  EXPECT_EQ(std::tuple(first.PropertyID, first.Description, first.DataType, first.Value.ToInt32()),
            std::tuple(OPC_PROPERTY_DATATYPE, std::string("Item Canonical Data Type"), VARTYPE{VT_I2}, int{VT_I2}));
  EXPECT_EQ(std::tuple(properties->GetItem(1)->Value.ToInt32(), Calls(kQuery) + Calls(kRead),
                       SimulationControl::LastArguments(kRead)->propertyIds),
            std::tuple(16, 2u, std::vector<DWORD>{1, 2, 3, 4, 5, 6, 101}));
  EXPECT_FALSE(TXeloItemProperties().GetItemProperties());  // asks nothing
  properties->SetItemId("Static.Int16"), properties->SetOPCServer(server_.get());
  EXPECT_EQ(Calls(kQuery), 1u);
  properties->SetItemId("Channel 1.Device 1.Ramp");
  const int ramp = properties->GetCount();
  properties->SetItemId("Static.Bool"), server_->Disconnect();
  const int afterDisconnect = properties->GetCount();  // nothing refreshes by itself
  properties->SetItemId("Static.Int32");
  EXPECT_EQ(std::tuple(ramp, afterDisconnect, properties->GetCount(), Calls(kQuery)), std::tuple(10, 7, 0, 3u));
  auto replacement = std::make_unique<TXeloItemProperty>();
  EXPECT_THROW(properties->GetItem(0), EListError);
  ConnectSim();
  EXPECT_EQ(MessageOf<EOPCException>([&] { properties->SetItemId("Static.Nothing"); }),
            "The item is no longer available in the server address space.");
  properties->SetItemId("Static.Int16");
  EXPECT_EQ(properties->SetItem(0, std::move(replacement))->PropertyID, OPC_PROPERTY_DATATYPE);
  properties.reset();
  EXPECT_EQ(com::LiveAllocations().Total(), blocks);
  TXeloItemProperties unbound(nullptr, "Static.Nothing");
  EXPECT_THROW(unbound.SetOPCServer(server_.get()), EOPCException);
  EXPECT_EQ(unbound.GetOPCServer(), server_.get()) << "stored before the query";
  // Failed reads leave records empty or untouched.
  properties = std::make_unique<TXeloItemProperties>(server_.get(), "Static.WriteOnly");
  ASSERT_EQ(properties->GetCount(), 7);
  EXPECT_FALSE(properties->Refresh());
  for (int i = 0; i < 7; ++i)
    EXPECT_EQ(properties->GetItem(i)->Value.IsEmpty(), properties->GetItem(i)->PropertyID == OPC_PROPERTY_VALUE);
  properties->SetItemId("Static.String");
  EXPECT_TRUE(properties->Refresh());
  SimulationControl::FailMethod(kRead, E_FAIL);
  EXPECT_FALSE(properties->GetItemProperties());
  EXPECT_EQ(VarToStr(properties->GetItem(1)->Value), "Hello") << "a failed call changes nothing";
  properties->SetOPCServer(nullptr), server_->Connect(kScripted, "");
  gPropertyScript.properties = {{1, OLESTR("first")}, {2, OLESTR("second")}};
  gPropertyScript.codes = {{2, OPC_S_CLAMP}};
  properties->SetOPCServer(server_.get());
  EXPECT_FALSE(properties->Refresh());
  EXPECT_TRUE(VarToStr(properties->GetItem(0)->Value) == "scripted" && properties->GetItem(1)->Value.IsEmpty());
}

}  // namespace
}  // namespace xelo::test
