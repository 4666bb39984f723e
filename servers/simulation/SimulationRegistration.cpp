#include "servers/simulation/SimulationRegistration.h"

#include "servers/simulation/AlarmsEventsServer.h"
#include "servers/simulation/OwnershipLedger.h"
#include "servers/simulation/PlannedOutage.h"
#include "servers/simulation/ServerList.h"
#include "servers/simulation/ServerObject.h"
#include "servers/simulation/SimulationRuntime.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/opc/OpcCategories.h"

// Referred to on the link line of every program that links the library, so
// that this object file (and the registration below) is always linked in.
extern "C" {
extern const int xelo_sim_registration_anchor;
const int xelo_sim_registration_anchor = 1;
}

namespace xelo::sim {
namespace {

using xelo::com::ClassRegistration;
using xelo::com::ComPtr;

ComPtr<IClassFactory> ServerFactory(ServerFlavour flavour) {
  return xelo::com::MakeComObject<xelo::com::FunctionClassFactory>([flavour](REFIID riid, void** out) {
    if (auto refused = SimulationRuntime::Instance().EnterCreation()) {
      if (out != nullptr) *out = nullptr;
      return *refused;
    }
    auto server = xelo::com::MakeComObject<ServerObject>(flavour);
    ArmPlannedOutage();
    return server->QueryInterface(riid, out);
  });
}

}  // namespace

long SimulationRegistration::Register() {
  auto& registry = xelo::com::ClassRegistry::Instance();
  const ClassRegistration registrations[] = {
      {CLSID_XeloSim, kProgIdSim, kUserTypeSim, {CATID_OPCDAServer10, CATID_OPCDAServer20}, true,
       ServerFactory(ServerFlavour::Standard)},
      {CLSID_XeloSimDA1, kProgIdSimDA1, kUserTypeSimDA1, {CATID_OPCDAServer10}, true,
       ServerFactory(ServerFlavour::DA1Only)},
      {CLSID_XeloSimFlat, kProgIdSimFlat, kUserTypeSimFlat, {CATID_OPCDAServer20}, true,
       ServerFactory(ServerFlavour::Flat)},
      {CLSID_XeloSimAE, kProgIdSimAE, kUserTypeSimAE, {CATID_OPCAEServer10}, false,
       xelo::com::MakeClassFactory<AlarmsEventsServer>()},
      {CLSID_OPCServerList, xelo::opc::kServerListProgId, kUserTypeServerList, {}, false,
       xelo::com::MakeClassFactory<ServerList>()},
  };
  HRESULT result = S_OK;
  for (const auto& registration : registrations) {
    const HRESULT hr = registry.Register(registration);
    if (FAILED(hr) && SUCCEEDED(result)) result = hr;
  }
  return result;
}

namespace {
[[maybe_unused]] const long registeredAtLoad = SimulationRegistration::Register();
// XELO_SIM_STRICT is read now, before any client can be handed a buffer.
[[maybe_unused]] const bool strictAtLoad = OwnershipLedger::Instance().Strict();
}  // namespace

}  // namespace xelo::sim
