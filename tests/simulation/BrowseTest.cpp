// IOPCBrowseServerAddressSpace on the hierarchical and the flat server.
#include "SimulationFixture.h"

#include <algorithm>

namespace xelo::sim::test {
namespace {

using Browse = SimulationTest;

std::vector<std::u16string> List(IOPCBrowseServerAddressSpace* b, OPCBROWSETYPE type, const char16_t* filter = u"",
                                  VARTYPE vt = VT_EMPTY, DWORD access = 0, HRESULT* hr = nullptr) {
  ComPtr<IEnumString> e;
  const HRESULT result = b->BrowseOPCItemIDs(type, filter, vt, access, e.Put());
  if (hr != nullptr) *hr = result;
  if (SUCCEEDED(result)) {
    EXPECT_TRUE(e) << "an enumerator even when nothing matched";
  }
  return Drain(e.Get());
}

using Names = std::vector<std::u16string>;

TEST_F(Browse, HierarchicalPositionsAndListings) {
  auto b = Create<IOPCBrowseServerAddressSpace>();
  OPCNAMESPACETYPE type{};
  ASSERT_EQ(b->QueryOrganization(&type), S_OK);
  EXPECT_EQ(type, OPC_NS_HIERARCHIAL);

  EXPECT_EQ(List(b.Get(), OPC_BRANCH), (Names{u"Channel 1", u"Static", u"Behaviour"}));
  HRESULT hr;
  EXPECT_TRUE(List(b.Get(), OPC_LEAF, u"", VT_EMPTY, 0, &hr).empty());
  EXPECT_EQ(hr, S_FALSE);
  EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);

  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Channel 1"), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_BRANCH), (Names{u"Device 1", u"Device 2"}));
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Device 2"), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_LEAF),
            (Names{u"Ramp", u"Random", u"Sine", u"Counter", u"Setpoint", u"Switch", u"Text", u"Array"}));
  LPWSTR id = nullptr;
  ASSERT_EQ(b->GetItemID(const_cast<LPWSTR>(u"Sine"), &id), S_OK);
  EXPECT_EQ(Take(id), u"Channel 1.Device 2.Sine");
  ASSERT_EQ(b->GetItemID(const_cast<LPWSTR>(u""), &id), S_OK);
  EXPECT_EQ(Take(id), u"Channel 1.Device 2");
  ASSERT_EQ(b->GetItemID(const_cast<LPWSTR>(u"Static.Int16"), &id), S_OK);  // a full id passes
  EXPECT_EQ(Take(id), u"Static.Int16");
  EXPECT_EQ(b->GetItemID(const_cast<LPWSTR>(u"Nothing"), &id), E_INVALIDARG);
  EXPECT_EQ(id, nullptr);

  // DOWN into a leaf or an unknown branch, TO an unknown path: refused, position kept.
  EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Ramp"), E_INVALIDARG);
  EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Device 9"), E_INVALIDARG);
  EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u"Channel 9"), E_INVALIDARG);
  ASSERT_EQ(b->GetItemID(const_cast<LPWSTR>(u""), &id), S_OK);
  EXPECT_EQ(Take(id), u"Channel 1.Device 2");

  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, nullptr), S_OK);
  ASSERT_EQ(b->GetItemID(const_cast<LPWSTR>(u""), &id), S_OK);
  EXPECT_EQ(Take(id), u"Channel 1");
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u"Behaviour"), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_LEAF), (Names{u"Clamped", u"Bad", u"Uncertain", u"Slow"}));
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, nullptr), S_OK);  // null = root
  EXPECT_EQ(List(b.Get(), OPC_BRANCH).size(), 3u);
  EXPECT_EQ(b->ChangeBrowsePosition(static_cast<OPCBROWSEDIRECTION>(9), u""), E_INVALIDARG);
  EXPECT_EQ(b->BrowseAccessPaths(u"Static.Int16", nullptr), E_NOTIMPL);
}

TEST_F(Browse, FlatListingsFromAPosition) {
  auto b = Create<IOPCBrowseServerAddressSpace>();
  const auto all = List(b.Get(), OPC_FLAT);
  EXPECT_EQ(all.size(), 16u + 10u + 4u);
  EXPECT_EQ(all.front(), u"Channel 1.Device 1.Ramp");
  // Property items are addressable but not browsed.
  EXPECT_EQ(std::count(all.begin(), all.end(), u"Channel 1.Device 1.Ramp.HighEU"), 0);
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u"Channel 1"), S_OK);
  const auto below = List(b.Get(), OPC_FLAT, u"*Device 2.S*");
  EXPECT_EQ(below, (Names{u"Channel 1.Device 2.Sine", u"Channel 1.Device 2.Setpoint", u"Channel 1.Device 2.Switch"}));
}

TEST_F(Browse, FilterSyntax) {
  auto b = Create<IOPCBrowseServerAddressSpace>();
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u"Static"), S_OK);
  struct Case {
    const char16_t* filter;
    Names expected;
  };
  const Case cases[] = {
      {u"Int*", {u"Int16", u"Int32"}},
      {u"Int##", {u"Int16", u"Int32"}},
      {u"?nt16", {u"Int16"}},
      {u"*Only", {u"ReadOnly", u"WriteOnly"}},
      {u"[DF]*", {u"Float", u"Double", u"Date"}},
      {u"[!A-R]*", {u"UInt32", u"String", u"WriteOnly"}},
      {u"[a-z]*", {}},  // case-sensitive
      {u"int16", {}},
      {u"*", {u"Int16", u"Int32", u"UInt32", u"Float", u"Double", u"Bool", u"String", u"Date", u"ReadOnly",
              u"WriteOnly"}},
      {u"*t#2", {u"Int32", u"UInt32"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.filter, c.filter + std::char_traits<char16_t>::length(c.filter)));
    HRESULT hr;
    EXPECT_EQ(List(b.Get(), OPC_LEAF, c.filter, VT_EMPTY, 0, &hr), c.expected);
    EXPECT_EQ(hr, c.expected.empty() ? S_FALSE : S_OK);
  }
  HRESULT hr;
  List(b.Get(), OPC_LEAF, u"[abc", VT_EMPTY, 0, &hr);
  EXPECT_EQ(hr, OPC_E_INVALIDFILTER);
  List(b.Get(), static_cast<OPCBROWSETYPE>(0), u"", VT_EMPTY, 0, &hr);
  EXPECT_EQ(hr, E_INVALIDARG);
  const auto args = SimulationControl::LastArguments("IOPCBrowseServerAddressSpace::BrowseOPCItemIDs");
  ASSERT_TRUE(args);
  EXPECT_EQ(args->browseType, static_cast<OPCBROWSETYPE>(0));
}

TEST_F(Browse, DataTypeAndAccessFilters) {
  auto b = Create<IOPCBrowseServerAddressSpace>();
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u"Static"), S_OK);
  // Writable items; read-only ones drop out.
  auto writable = List(b.Get(), OPC_LEAF, u"", VT_EMPTY, OPC_WRITEABLE);
  EXPECT_EQ(std::count(writable.begin(), writable.end(), u"ReadOnly"), 0);
  EXPECT_EQ(std::count(writable.begin(), writable.end(), u"WriteOnly"), 1);
  // Both bits: neither ReadOnly nor WriteOnly.
  auto both = List(b.Get(), OPC_LEAF, u"*Only", VT_EMPTY, OPC_READABLE | OPC_WRITEABLE);
  EXPECT_TRUE(both.empty());
  // Everything scalar converts to a text; nothing here converts to an interface.
  EXPECT_EQ(List(b.Get(), OPC_LEAF, u"", VT_BSTR).size(), 10u);
  EXPECT_TRUE(List(b.Get(), OPC_LEAF, u"", VT_UNKNOWN).empty());
  ASSERT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u"Channel 1.Device 1"), S_OK);
  EXPECT_EQ(List(b.Get(), OPC_LEAF, u"", VT_ARRAY | VT_R8), (Names{u"Array"}));
  const auto args = SimulationControl::LastArguments("IOPCBrowseServerAddressSpace::BrowseOPCItemIDs");
  EXPECT_EQ(args->dataTypeFilter, VT_ARRAY | VT_R8);
  EXPECT_EQ(args->accessMask, 0u);
}

TEST_F(Browse, FlatServer) {
  auto b = Create<IOPCBrowseServerAddressSpace>(u"Xelo.Sim.Flat.1");
  OPCNAMESPACETYPE type{};
  ASSERT_EQ(b->QueryOrganization(&type), S_OK);
  EXPECT_EQ(type, OPC_NS_FLAT);
  HRESULT hr;
  EXPECT_TRUE(List(b.Get(), OPC_BRANCH, u"", VT_EMPTY, 0, &hr).empty());
  EXPECT_EQ(hr, S_FALSE);
  const auto leaves = List(b.Get(), OPC_LEAF, u"Static.*");
  EXPECT_EQ(leaves.size(), 10u);
  EXPECT_EQ(leaves.front(), u"Static.Int16");
  EXPECT_EQ(List(b.Get(), OPC_FLAT, u"Behaviour.*"),
            (Names{u"Behaviour.Clamped", u"Behaviour.Bad", u"Behaviour.Uncertain", u"Behaviour.Slow"}));
  EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_DOWN, u"Static"), E_INVALIDARG);
  EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_UP, u""), E_FAIL);
  EXPECT_EQ(b->ChangeBrowsePosition(OPC_BROWSE_TO, u""), S_OK);
  LPWSTR id = nullptr;
  ASSERT_EQ(b->GetItemID(const_cast<LPWSTR>(u"Static.Bool"), &id), S_OK);
  EXPECT_EQ(Take(id), u"Static.Bool");
  EXPECT_EQ(b->GetItemID(const_cast<LPWSTR>(u"Bool"), &id), E_INVALIDARG);
}

}  // namespace
}  // namespace xelo::sim::test
