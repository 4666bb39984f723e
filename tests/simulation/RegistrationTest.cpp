// Registration of the simulation classes and the OPC server list.
#include "support/SimulationFixture.h"

#include "xelo/com/ClassRegistry.h"

#include <algorithm>

namespace xelo::sim::test {
namespace {

using Registration = SimulationTest;

TEST_F(Registration, EveryVariantIsRegisteredWithItsCategoriesAndOpcKey) {
  struct Expected {
    const char* progId;
    CLSID clsid;
    std::vector<CATID> categories;
    bool opcKey;
  };
  const Expected expected[] = {
      {"Xelo.Sim.1", CLSID_XeloSim, {CATID_OPCDAServer10, CATID_OPCDAServer20}, true},
      {"Xelo.Sim.DA1.1", CLSID_XeloSimDA1, {CATID_OPCDAServer10}, true},
      {"Xelo.Sim.Flat.1", CLSID_XeloSimFlat, {CATID_OPCDAServer20}, true},
      {"Xelo.Sim.AE.1", CLSID_XeloSimAE, {CATID_OPCAEServer10}, false},
      {"OPC.ServerList.1", CLSID_OPCServerList, {}, false},
  };
  for (const auto& e : expected) {
    SCOPED_TRACE(e.progId);
    const auto r = xelo::com::ClassRegistry::Instance().FindByProgId(e.progId);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->clsid, e.clsid);
    EXPECT_EQ(r->categories, e.categories);
    EXPECT_EQ(r->hasOpcKey, e.opcKey);
    EXPECT_FALSE(r->userTypeName.empty());
    EXPECT_TRUE(r->factory);
  }
}

TEST_F(Registration, ClassIdentifiersAreDistinct) {
  const CLSID all[] = {CLSID_XeloSim, CLSID_XeloSimDA1, CLSID_XeloSimFlat, CLSID_XeloSimAE, CLSID_OPCServerList};
  for (std::size_t i = 0; i < std::size(all); ++i) {
    for (std::size_t j = i + 1; j < std::size(all); ++j) EXPECT_FALSE(all[i] == all[j]);
  }
}

TEST_F(Registration, InterfacesOfEachVariant) {
  {
    auto server = Create<IUnknown>(OLESTR("Xelo.Sim.1"));
    for (const IID* iid : {&IID_IOPCServer, &IID_IOPCCommon, &IID_IConnectionPointContainer,
                           &IID_IOPCBrowseServerAddressSpace, &IID_IOPCItemProperties}) {
      ComPtr<IUnknown> p;
      EXPECT_EQ(server->QueryInterface(*iid, p.PutVoid()), S_OK);
    }
  }
  {
    auto server = Create<IOPCServer>(OLESTR("Xelo.Sim.DA1.1"));
    ComPtr<IConnectionPointContainer> cpc;
    EXPECT_EQ(server.As(cpc), E_NOINTERFACE);
    EXPECT_FALSE(cpc);
  }
  {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(OLESTR("Xelo.Sim.AE.1"), &clsid), S_OK);
    ComPtr<IOPCServer> server;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid()), E_NOINTERFACE);
    ComPtr<IOPCCommon> common;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCCommon, common.PutVoid()), S_OK);
  }
}

// ---- the server list ----

std::vector<CLSID> Classes(IOPCServerList* list, std::vector<CATID> implemented, std::vector<CATID> required,
                           ULONG implementedCount, ULONG requiredCount) {
  ComPtr<IEnumGUID> e;
  EXPECT_EQ(list->EnumClassesOfCategories(implementedCount, implemented.data(), requiredCount, required.data(),
                                          e.Put()),
            S_OK);
  std::vector<CLSID> all;
  GUID g;
  ULONG fetched = 0;
  while (e && e->Next(1, &g, &fetched) == S_OK) all.push_back(g);
  return all;
}

bool Has(const std::vector<CLSID>& list, const CLSID& clsid) {
  return std::find(list.begin(), list.end(), clsid) != list.end();
}

TEST_F(Registration, ServerListSelectsByImplementedAndRequiredCategories) {
  auto list = Create<IOPCServerList>(OLESTR("OPC.ServerList.1"));
  ASSERT_TRUE(list);

  const auto da20 = Classes(list.Get(), {CATID_OPCDAServer20}, {}, 1, 0);
  EXPECT_TRUE(Has(da20, CLSID_XeloSim));
  EXPECT_TRUE(Has(da20, CLSID_XeloSimFlat));
  EXPECT_FALSE(Has(da20, CLSID_XeloSimDA1));
  EXPECT_FALSE(Has(da20, CLSID_XeloSimAE));

  // Implemented is "any of": DA 1.0 or DA 2.0.
  const auto either = Classes(list.Get(), {CATID_OPCDAServer10, CATID_OPCDAServer20}, {}, 2, 0);
  EXPECT_TRUE(Has(either, CLSID_XeloSim));
  EXPECT_TRUE(Has(either, CLSID_XeloSimFlat));
  EXPECT_TRUE(Has(either, CLSID_XeloSimDA1));
  EXPECT_FALSE(Has(either, CLSID_XeloSimAE));

  // Required is "all of": DA 2.0 servers that also serve DA 1.0.
  const auto both = Classes(list.Get(), {CATID_OPCDAServer20}, {CATID_OPCDAServer10}, 1, 1);
  EXPECT_TRUE(Has(both, CLSID_XeloSim));
  EXPECT_FALSE(Has(both, CLSID_XeloSimFlat));
  EXPECT_FALSE(Has(both, CLSID_XeloSimDA1));

  const auto ae = Classes(list.Get(), {CATID_OPCAEServer10}, {}, 1, 0);
  EXPECT_EQ(ae, std::vector<CLSID>{CLSID_XeloSimAE});

  // The wildcard count: every class, required categories still apply.
  const auto anyWithDa10 = Classes(list.Get(), {}, {CATID_OPCDAServer10}, static_cast<ULONG>(-1), 1);
  EXPECT_TRUE(Has(anyWithDa10, CLSID_XeloSim));
  EXPECT_TRUE(Has(anyWithDa10, CLSID_XeloSimDA1));
  EXPECT_FALSE(Has(anyWithDa10, CLSID_XeloSimFlat));

  const auto none = Classes(list.Get(), {CATID_OPCHDAServer10}, {}, 1, 0);
  EXPECT_TRUE(none.empty());
}

TEST_F(Registration, ServerListDetailsAndProgIds) {
  auto list = Create<IOPCServerList>(OLESTR("OPC.ServerList.1"));
  LPOLESTR progId = nullptr;
  LPOLESTR userType = nullptr;
  ASSERT_EQ(list->GetClassDetails(CLSID_XeloSimFlat, &progId, &userType), S_OK);
  EXPECT_EQ(Take(progId), OLESTR("Xelo.Sim.Flat.1"));
  EXPECT_EQ(Take(userType), OLESTR("Xelo OPC DA Simulation Server (flat)"));

  const CLSID unknown{0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
  EXPECT_EQ(list->GetClassDetails(unknown, &progId, &userType), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(progId, nullptr);

  CLSID clsid{};
  EXPECT_EQ(list->CLSIDFromProgID(OLESTR("Xelo.Sim.DA1.1"), &clsid), S_OK);
  EXPECT_EQ(clsid, CLSID_XeloSimDA1);
  EXPECT_EQ(list->CLSIDFromProgID(OLESTR("No.Such.Server"), &clsid), CO_E_CLASSSTRING);

  ComPtr<IOPCServerList2> list2;
  ASSERT_EQ(list.As(list2), S_OK);
  LPOLESTR independent = nullptr;
  ASSERT_EQ(list2->GetClassDetails(CLSID_XeloSim, &progId, &userType, &independent), S_OK);
  EXPECT_EQ(Take(progId), OLESTR("Xelo.Sim.1"));
  EXPECT_EQ(Take(userType), OLESTR("Xelo OPC DA Simulation Server"));
  EXPECT_EQ(Take(independent), OLESTR("Xelo.Sim"));

  CATID da10 = CATID_OPCDAServer10;
  ComPtr<IOPCEnumGUID> e;
  ASSERT_EQ(list2->EnumClassesOfCategories(1, &da10, 0, nullptr, e.Put()), S_OK);
  std::vector<CLSID> all;
  GUID g;
  ULONG fetched = 0;
  while (e->Next(1, &g, &fetched) == S_OK) all.push_back(g);
  EXPECT_TRUE(Has(all, CLSID_XeloSim));
  EXPECT_TRUE(Has(all, CLSID_XeloSimDA1));
  EXPECT_FALSE(Has(all, CLSID_XeloSimFlat));
}

}  // namespace
}  // namespace xelo::sim::test
