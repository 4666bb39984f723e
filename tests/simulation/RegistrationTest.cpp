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
    EXPECT_TRUE(!r->userTypeName.empty() && r->factory);
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
    // The DA 1.0 server and its groups have no connection points and no
    // IOPCAsyncIO2, but IOPCAsyncIO.
    Session s(Create<IOPCServer>(OLESTR("Xelo.Sim.DA1.1")));
    ComPtr<IConnectionPointContainer> cpc;
    EXPECT_EQ(s.server.As(cpc), E_NOINTERFACE);
    EXPECT_EQ(s.items.As(cpc), E_NOINTERFACE);
    EXPECT_FALSE(cpc);
    ComPtr<IOPCAsyncIO2> io2;
    EXPECT_EQ(s.items.As(io2), E_NOINTERFACE);
    ComPtr<IOPCAsyncIO> io1;
    EXPECT_EQ(s.items.As(io1), S_OK);
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

// Which of the simulation's classes a listing has, by short name.
std::string Sims(const std::vector<CLSID>& list) {
  const std::pair<const char*, CLSID> all[] = {
      {"Sim ", CLSID_XeloSim}, {"DA1 ", CLSID_XeloSimDA1}, {"Flat ", CLSID_XeloSimFlat}, {"AE ", CLSID_XeloSimAE}};
  std::string found;
  for (const auto& [name, clsid] : all) {
    if (std::find(list.begin(), list.end(), clsid) != list.end()) found += name;
  }
  return found;
}

TEST_F(Registration, ServerListSelectsByCategoriesAndGivesDetailsAndProgIds) {
  auto list = Create<IOPCServerList>(OLESTR("OPC.ServerList.1"));
  ASSERT_TRUE(list);
  EXPECT_EQ(Sims(Classes(list.Get(), {CATID_OPCDAServer20}, {}, 1, 0)), "Sim Flat ");
  // Implemented is "any of": DA 1.0 or DA 2.0.
  EXPECT_EQ(Sims(Classes(list.Get(), {CATID_OPCDAServer10, CATID_OPCDAServer20}, {}, 2, 0)), "Sim DA1 Flat ");
  // Required is "all of": DA 2.0 servers that also serve DA 1.0.
  EXPECT_EQ(Sims(Classes(list.Get(), {CATID_OPCDAServer20}, {CATID_OPCDAServer10}, 1, 1)), "Sim ");
  EXPECT_EQ(Classes(list.Get(), {CATID_OPCAEServer10}, {}, 1, 0), std::vector<CLSID>{CLSID_XeloSimAE});
  // The wildcard count: every class, required categories still apply.
  EXPECT_EQ(Sims(Classes(list.Get(), {}, {CATID_OPCDAServer10}, static_cast<ULONG>(-1), 1)), "Sim DA1 ");
  EXPECT_TRUE(Classes(list.Get(), {CATID_OPCHDAServer10}, {}, 1, 0).empty());
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
  EXPECT_EQ(Sims(all), "Sim DA1 ");
}

}  // namespace
}  // namespace xelo::sim::test
