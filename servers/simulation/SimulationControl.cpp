#include "servers/simulation/SimulationControl.h"

#include "servers/simulation/GroupObject.h"
#include "servers/simulation/OwnershipLedger.h"
#include "servers/simulation/SimulationRuntime.h"

#include <cstdio>
#include <stdexcept>

namespace xelo::sim {
namespace {

SimulationRuntime& Runtime() { return SimulationRuntime::Instance(); }

SimulatedItem* Item(com::OleStringView id) { return Runtime().Space().Find(id); }

}  // namespace

void SimulationControl::RunUpdateCycle() { Runtime().RunCycle(); }

void SimulationControl::PublishNow() { Runtime().PublishNow(); }

bool SimulationControl::SetItemValue(com::OleStringView itemId, const VARIANT& value) {
  SimulatedItem* item = Item(itemId);
  if (item == nullptr) return false;
  item->value = OwnedVariant(value);
  return true;
}

bool SimulationControl::SetItemQuality(com::OleStringView itemId, WORD quality) {
  SimulatedItem* item = Item(itemId);
  if (item == nullptr) return false;
  item->quality = quality;
  return true;
}

bool SimulationControl::SetItemTimeStamp(com::OleStringView itemId, FILETIME timestamp) {
  SimulatedItem* item = Item(itemId);
  if (item == nullptr) return false;
  item->timestamp = timestamp;
  return true;
}

bool SimulationControl::GetItemValue(com::OleStringView itemId, VARIANT* value, WORD* quality) {
  SimulatedItem* item = Item(itemId);
  if (item == nullptr || value == nullptr) return false;
  if (FAILED(item->value.CopyTo(value))) return false;
  if (quality != nullptr) *quality = item->quality;
  return true;
}

void SimulationControl::SetRandomSeed(std::uint32_t seed) { Runtime().SetSeed(seed); }

void SimulationControl::SetServerState(OPCSERVERSTATE state) { Runtime().Status().state = state; }

void SimulationControl::SetVendorInfo(com::OleStringView text) { Runtime().Status().vendorInfo = com::OleString(text); }

void SimulationControl::SetVersion(WORD major, WORD minor, WORD build) {
  auto& status = Runtime().Status();
  status.majorVersion = major;
  status.minorVersion = minor;
  status.buildNumber = build;
}

void SimulationControl::SetBandWidth(DWORD bandWidth) { Runtime().Status().bandWidth = bandWidth; }

void SimulationControl::RequestShutdown(com::OleStringView reason) { Runtime().RequestShutdown(reason); }

void SimulationControl::FailMethod(std::string_view method, HRESULT hr, bool once) {
  Runtime().Calls().FailMethod(method, hr, once);
}

void SimulationControl::ClearMethodFailures() { Runtime().Calls().ClearFailures(); }

void SimulationControl::RefuseItem(com::OleStringView itemId, HRESULT code) {
  if (SUCCEEDED(code)) {
    char text[80];
    std::snprintf(text, sizeof text, "RefuseItem needs a failure code, not 0x%08X", static_cast<unsigned>(code));
    throw std::invalid_argument(text);
  }
  Runtime().Behaviour().refusedItems.insert_or_assign(com::OleString(itemId), code);
}

void SimulationControl::ClearRefusedItems() { Runtime().Behaviour().refusedItems.clear(); }

void SimulationControl::StallMethod(std::string_view method, std::chrono::milliseconds duration, bool once) {
  Runtime().Calls().StallMethod(method, duration, once);
}

void SimulationControl::ClearMethodStalls() { Runtime().Calls().ClearStalls(); }

void SimulationControl::KillServers(HRESULT code) {
  if (SUCCEEDED(code)) {
    char text[80];
    std::snprintf(text, sizeof text, "KillServers needs a failure code, not 0x%08X", static_cast<unsigned>(code));
    throw std::invalid_argument(text);
  }
  Runtime().KillServers(code);
}

unsigned SimulationControl::KilledCalls() { return Runtime().KilledCalls(); }

void SimulationControl::RefuseCreation(unsigned count, HRESULT code) { Runtime().RefuseCreation(count, code); }

void SimulationControl::SetRemoveItemsWithoutErrors(bool on) { Runtime().Behaviour().removeItemsWithoutErrors = on; }

void SimulationControl::SetEarlyCallbacks(bool on) { Runtime().Behaviour().earlyCallbacks = on; }

void SimulationControl::SetForeignGroupHandle(std::optional<OPCHANDLE> handle) {
  Runtime().Behaviour().foreignGroupHandle = handle;
}

void SimulationControl::SetStrictOwnership(bool on) { OwnershipLedger::Instance().SetStrict(on); }

bool SimulationControl::StrictOwnership() { return OwnershipLedger::Instance().Strict(); }

std::vector<std::string> SimulationControl::OwnershipViolations() { return OwnershipLedger::Instance().Violations(); }

void SimulationControl::CheckOwnership() { OwnershipLedger::Instance().Checkpoint(); }

unsigned SimulationControl::CallCount(std::string_view method) { return Runtime().Calls().Count(method); }

std::optional<CallArguments> SimulationControl::LastArguments(std::string_view method) {
  return Runtime().Calls().LastArguments(method);
}

SimulationControl::LiveObjects SimulationControl::Live() {
  return LiveObjects{Runtime().Servers().size(), Runtime().Groups().size(), Runtime().KilledServers(),
                     Runtime().KilledGroups()};
}

std::vector<com::OleString> SimulationControl::LiveGroupNames() {
  std::vector<com::OleString> names;
  for (const GroupObject* group : Runtime().Groups()) names.push_back(group->Name());
  return names;
}

void SimulationControl::Reset() { Runtime().Reset(); }

}  // namespace xelo::sim
