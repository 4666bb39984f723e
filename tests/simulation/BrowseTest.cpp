// IOPCBrowseServerAddressSpace on the hierarchical and the flat server.
#include "SimHelpers.h"

#include <algorithm>

namespace xelo::sim::test {
namespace {

using Browse = SimulationTest;

std::vector<com::OleString> List(IOPCBrowseServerAddressSpace* b, OPCBROWSETYPE type, const OLECHAR* filter = OLESTR(""),
                                  VARTYPE vt = VT_EMPTY, DWORD access = 0, HRESULT* hr = nullptr) {
  ComPtr<IEnumString> e;
  const HRESULT result = b->BrowseOPCItemIDs(type, filter, vt, access, e.Put());
  if (hr != nullptr) *hr = result;
  if (SUCCEEDED(result)) {
    EXPECT_TRUE(e) << "an enumerator even when nothing matched";
  }
  return Drain(e.Get());
}

using Names = std::vector<com::OleString>;

// The fully qualified id of `name`; "" when refused (and then nothing is handed over).
com::OleString ItemId(IOPCBrowseServerAddressSpace* b, const OLECHAR* name) {
  LPWSTR id = nullptr;
  const HRESULT hr = b->GetItemID(const_cast<LPWSTR>(name), &id);
  EXPECT_TRUE(hr == S_OK || (hr == E_INVALIDARG && id == nullptr)) << hr;
  return Take(id);
}

TEST_F(Browse, HierarchicalPositionsListingsAndFilters) {
  auto b = Create<IOPCBrowseServerAddressSpace>();
  OPCNAMESPACETYPE type{};
  EXPECT_EQ((std::pair{b->QueryOrganization(&type), type}), (std::pair{S_OK, OPC_NS_HIERARCHIAL}));
  EXPECT_EQ(List(b.Get(), OPC_BRANCH), (Names{OLESTR("Channel 1"), OLESTR("Static"), OLESTR("Behaviour")}));
  HRESULT hr;
  EXPECT_EQ(List(b.Get(), OPC_LEAF, OLESTR(""), VT_EMPTY, 0, &hr), Names{});
  EXPECT_EQ((Codes{hr, b->ChangeBrowsePosition(OPC_BROWSE_UP, OLESTR(""))}), (Codes{S_FALSE, E_FAIL}));

  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Channel 1")), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_BRANCH), (Names{OLESTR("Device 1"), OLESTR("Device 2")}));
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Device 2")), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_LEAF),
            (Names{OLESTR("Ramp"), OLESTR("Random"), OLESTR("Sine"), OLESTR("Counter"), OLESTR("Setpoint"), OLESTR("Switch"), OLESTR("Text"), OLESTR("Array")}));
  // A full id passes; an unknown name is refused.
  EXPECT_EQ((Names{ItemId(b.Get(), OLESTR("Sine")), ItemId(b.Get(), OLESTR("")),
                   ItemId(b.Get(), OLESTR("Static.Int16")), ItemId(b.Get(), OLESTR("Nothing"))}),
            (Names{OLESTR("Channel 1.Device 2.Sine"), OLESTR("Channel 1.Device 2"), OLESTR("Static.Int16"),
                   OLESTR("")}));
  // DOWN into a leaf or an unknown branch, TO an unknown path: refused, position kept.
  EXPECT_EQ((Codes{b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Ramp")),
                   b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Device 9")),
                   b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Channel 9"))}),
            (Codes{E_INVALIDARG, E_INVALIDARG, E_INVALIDARG}));
  EXPECT_EQ(ItemId(b.Get(), OLESTR("")), OLESTR("Channel 1.Device 2"));

  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, nullptr), S_OK);
  EXPECT_EQ(ItemId(b.Get(), OLESTR("")), OLESTR("Channel 1"));
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Behaviour")), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_LEAF), (Names{OLESTR("Clamped"), OLESTR("Bad"), OLESTR("Uncertain"), OLESTR("Slow")}));
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, nullptr), S_OK);  // null = root
  EXPECT_EQ(List(b.Get(), OPC_BRANCH).size(), 3u);
  EXPECT_EQ((Codes{b->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(9), OLESTR("")),
                   b->BrowseAccessPaths(OLESTR("Static.Int16"), nullptr)}),
            (Codes{E_INVALIDARG, E_NOTIMPL}));

  const auto all = List(b.Get(), OPC_FLAT);
  ASSERT_EQ(all.size(), 16u + 10u + 4u);
  EXPECT_EQ(all.front(), OLESTR("Channel 1.Device 1.Ramp"));
  // Property items are addressable but not browsed.
  EXPECT_EQ(std::count(all.begin(), all.end(), OLESTR("Channel 1.Device 1.Ramp.HighEU")), 0);
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Channel 1")), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_FLAT, OLESTR("*Device 2.S*")),
            (Names{OLESTR("Channel 1.Device 2.Sine"), OLESTR("Channel 1.Device 2.Setpoint"),
                   OLESTR("Channel 1.Device 2.Switch")}));

  // Name, type and access filters.
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Static")), S_OK);
  struct Case {
    const OLECHAR* filter;
    Names expected;
  };
  const Case cases[] = {
      {OLESTR("Int*"), {OLESTR("Int16"), OLESTR("Int32")}},
      {OLESTR("Int##"), {OLESTR("Int16"), OLESTR("Int32")}},
      {OLESTR("?nt16"), {OLESTR("Int16")}},
      {OLESTR("*Only"), {OLESTR("ReadOnly"), OLESTR("WriteOnly")}},
      {OLESTR("[DF]*"), {OLESTR("Float"), OLESTR("Double"), OLESTR("Date")}},
      {OLESTR("[!A-R]*"), {OLESTR("UInt32"), OLESTR("String"), OLESTR("WriteOnly")}},
      {OLESTR("[a-z]*"), {}},  // case-sensitive
      {OLESTR("*t#2"), {OLESTR("Int32"), OLESTR("UInt32")}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.filter, c.filter + std::char_traits<OLECHAR>::length(c.filter)));
    HRESULT hr;
    EXPECT_EQ(List(b.Get(), OPC_LEAF, c.filter, VT_EMPTY, 0, &hr), c.expected);
    EXPECT_EQ(hr, c.expected.empty() ? S_FALSE : S_OK);
  }
  HRESULT badFilter, badType;
  List(b.Get(), OPC_LEAF, OLESTR("[abc"), VT_EMPTY, 0, &badFilter);
  List(b.Get(), static_cast<OPCBROWSETYPE>(0), OLESTR(""), VT_EMPTY, 0, &badType);
  EXPECT_EQ((Codes{badFilter, badType}), (Codes{OPC_E_INVALIDFILTER, E_INVALIDARG}));
  EXPECT_EQ(SimulationControl::LastArguments("IOPCBrowseServerAddressSpace::BrowseOPCItemIDs")->browseType,
            static_cast<OPCBROWSETYPE>(0));

  // Writable items: read-only ones drop out; both bits: neither ReadOnly nor WriteOnly.
  EXPECT_EQ(List(b.Get(), OPC_LEAF, OLESTR("*Only"), VT_EMPTY, OPC_WRITEABLE), Names{OLESTR("WriteOnly")});
  EXPECT_TRUE(List(b.Get(), OPC_LEAF, OLESTR("*Only"), VT_EMPTY, OPC_READABLE | OPC_WRITEABLE).empty());
  // Everything scalar converts to a text; nothing here converts to an interface.
  EXPECT_EQ(List(b.Get(), OPC_LEAF, OLESTR(""), VT_BSTR).size(), 10u);
  EXPECT_TRUE(List(b.Get(), OPC_LEAF, OLESTR(""), VT_UNKNOWN).empty());
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR("Channel 1.Device 1")), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_LEAF, OLESTR(""), VT_ARRAY | VT_R8), (Names{OLESTR("Array")}));
  const auto args = SimulationControl::LastArguments("IOPCBrowseServerAddressSpace::BrowseOPCItemIDs");
  EXPECT_EQ((std::pair{args->dataTypeFilter, args->accessMask}),
            (std::pair{decltype(args->dataTypeFilter){VT_ARRAY | VT_R8}, decltype(args->accessMask){0}}));
}

TEST_F(Browse, FlatServer) {
  auto b = Create<IOPCBrowseServerAddressSpace>(OLESTR("Xelo.Sim.Flat.1"));
  OPCNAMESPACETYPE type{};
  EXPECT_EQ((std::pair{b->QueryOrganization(&type), type}), (std::pair{S_OK, OPC_NS_FLAT}));
  HRESULT hr;
  EXPECT_EQ(List(b.Get(), OPC_BRANCH, OLESTR(""), VT_EMPTY, 0, &hr), Names{});
  const auto leaves = List(b.Get(), OPC_LEAF, OLESTR("Static.*"));
  ASSERT_EQ(leaves.size(), 10u);
  EXPECT_EQ((std::tuple{hr, leaves.front(), List(b.Get(), OPC_FLAT, OLESTR("Behaviour.*")).size()}),
            (std::tuple{S_FALSE, com::OleString(OLESTR("Static.Int16")), std::size_t{4}}));
  EXPECT_EQ((Codes{b->ChangeBrowsePosition(OPC_BROWSE_DOWN, OLESTR("Static")),
                   b->ChangeBrowsePosition(OPC_BROWSE_UP, OLESTR("")),
                   b->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR(""))}),
            (Codes{E_INVALIDARG, E_FAIL, S_OK}));
  EXPECT_EQ((Names{ItemId(b.Get(), OLESTR("Static.Bool")), ItemId(b.Get(), OLESTR("Bool"))}),
            (Names{OLESTR("Static.Bool"), OLESTR("")}));
}

}  // namespace
}  // namespace xelo::sim::test
