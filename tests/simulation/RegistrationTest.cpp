// Registration of the simulation classes and the OPC server list.
#include "SimHelpers.h"

#include "xelo/com/ClassRegistry.h"

#include <algorithm>
#include <type_traits>

namespace xelo::sim::test {
namespace {

using Registration = SimulationTest;

// The categories are those the server list selects by, below.
TEST_F(Registration, EveryVariantIsRegisteredWithItsClassAndOpcKey) {
  for (const auto& [progId, clsid, opcKey] :
       {std::tuple{"Xelo.Sim.1", CLSID_XeloSim, true}, std::tuple{"Xelo.Sim.DA1.1", CLSID_XeloSimDA1, true},
        std::tuple{"Xelo.Sim.Flat.1", CLSID_XeloSimFlat, true}, std::tuple{"Xelo.Sim.AE.1", CLSID_XeloSimAE, false},
        std::tuple{"OPC.ServerList.1", CLSID_OPCServerList, false}}) {
    const auto r = xelo::com::ClassRegistry::Instance().FindByProgId(progId);
    ASSERT_TRUE(r.has_value()) << progId;
    EXPECT_EQ((std::tuple{r->clsid, r->hasOpcKey, !r->userTypeName.empty() && r->factory}),
              (std::tuple{clsid, opcKey, true}))
        << progId;
  }
  EXPECT_EQ(xelo::com::ClassRegistry::Instance().FindByProgId("OPC.ServerList.1")->categories, std::vector<CATID>{});
}

// The DA 1.0 server and its groups have no connection points and no IOPCAsyncIO2, but IOPCAsyncIO; the A&E one
// is no DA server. The DA 2.0 server's interfaces are used by every other test.
TEST_F(Registration, InterfacesOfTheOtherVariants) {
  Session s(Create<IOPCServer>(OLESTR("Xelo.Sim.DA1.1")));
  ComPtr<IConnectionPointContainer> cpc;
  ComPtr<IOPCAsyncIO2> io2;
  ComPtr<IOPCAsyncIO> io1;
  EXPECT_EQ((Codes{s.server.As(cpc), s.items.As(cpc), s.items.As(io2), s.items.As(io1)}),
            (Codes{E_NOINTERFACE, E_NOINTERFACE, E_NOINTERFACE, S_OK}));
  EXPECT_FALSE(cpc);
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(OLESTR("Xelo.Sim.AE.1"), &clsid), S_OK);
  ComPtr<IOPCServer> server;
  ComPtr<IOPCCommon> common;
  EXPECT_EQ((Codes{CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid()),
                   CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCCommon, common.PutVoid())}),
            (Codes{E_NOINTERFACE, S_OK}));
}

// ---- the server list ----

template <class List>
std::vector<CLSID> Classes(List* list, std::vector<CATID> implemented, std::vector<CATID> required,
                           ULONG implementedCount, ULONG requiredCount) {
  ComPtr<std::conditional_t<std::is_same_v<List, IOPCServerList>, IEnumGUID, IOPCEnumGUID>> e;
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
  EXPECT_EQ((std::pair{list->CLSIDFromProgID(OLESTR("Xelo.Sim.DA1.1"), &clsid), clsid}),
            (std::pair{S_OK, CLSID_XeloSimDA1}));
  EXPECT_EQ(list->CLSIDFromProgID(OLESTR("No.Such.Server"), &clsid), CO_E_CLASSSTRING);

  ComPtr<IOPCServerList2> list2;
  ASSERT_EQ(list.As(list2), S_OK);
  LPOLESTR independent = nullptr;
  ASSERT_EQ(list2->GetClassDetails(CLSID_XeloSim, &progId, &userType, &independent), S_OK);
  EXPECT_EQ(Take(progId), OLESTR("Xelo.Sim.1"));
  EXPECT_EQ(Take(userType), OLESTR("Xelo OPC DA Simulation Server"));
  EXPECT_EQ(Take(independent), OLESTR("Xelo.Sim"));

  EXPECT_EQ(Sims(Classes(list2.Get(), {CATID_OPCDAServer10}, {}, 1, 0)), "Sim DA1 ");
}

}  // namespace
}  // namespace xelo::sim::test
