#include "servers/simulation/SimulationRuntime.h"

#include "servers/simulation/GroupObject.h"
#include "servers/simulation/ServerObject.h"
#include "servers/simulation/TimeSource.h"

namespace xelo::sim {

SimulationRuntime& SimulationRuntime::Instance() {
  // Never destroyed: objects a client leaks at exit may still unregister.
  static auto* runtime = new SimulationRuntime();
  return *runtime;
}

SimulationRuntime::SimulationRuntime() { status_.startTime = TimeSource::Now(); }

DWORD SimulationRuntime::AddServer(ServerObject* server) {
  const DWORD id = nextServer_++;
  servers_.emplace(id, server);
  if (servers_.size() == 1) StartUpdates();
  return id;
}

void SimulationRuntime::RemoveServer(DWORD id) {
  servers_.erase(id);
  killedServers_.erase(id);
  if (servers_.empty()) StopUpdates();
}

ServerObject* SimulationRuntime::FindServer(DWORD id) const {
  const auto it = servers_.find(id);
  return it != servers_.end() ? it->second : nullptr;
}

std::vector<ServerObject*> SimulationRuntime::Servers() const {
  std::vector<ServerObject*> result;
  for (const auto& [id, server] : servers_) result.push_back(server);
  return result;
}

DWORD SimulationRuntime::AddGroup(GroupObject* group) {
  const DWORD id = nextGroup_++;
  groups_.emplace(id, group);
  return id;
}

void SimulationRuntime::RemoveGroup(DWORD id) {
  groups_.erase(id);
  killedGroups_.erase(id);
}

void SimulationRuntime::KillServers(HRESULT code) {
  // Moved apart first: a killed object is no longer found by the posted
  // deliveries, the shutdown notices or PublishNow.
  std::map<DWORD, ServerObject*> servers;
  std::map<DWORD, GroupObject*> groups;
  servers.swap(servers_);
  groups.swap(groups_);
  killedServers_.insert(servers.begin(), servers.end());
  killedGroups_.insert(groups.begin(), groups.end());
  StopUpdates();
  for (const auto& [id, group] : groups) group->Kill(code);
  for (const auto& [id, server] : servers) server->Kill(code);
}

void SimulationRuntime::Abandon(std::vector<xelo::com::ComPtr<IUnknown>> sinks) {
  for (auto& sink : sinks) abandoned_.push_back(std::move(sink));
}

std::optional<HRESULT> SimulationRuntime::EnterCreation() {
  if (auto injected = Enter("IClassFactory::CreateInstance")) return injected;
  if (refusedCreations_ == 0) return std::nullopt;
  --refusedCreations_;
  return creationRefusal_;
}

void SimulationRuntime::RefuseCreation(unsigned count, HRESULT code) {
  refusedCreations_ = count;
  creationRefusal_ = code;
}

GroupObject* SimulationRuntime::FindGroup(DWORD id) const {
  const auto it = groups_.find(id);
  return it != groups_.end() ? it->second : nullptr;
}

std::vector<GroupObject*> SimulationRuntime::Groups() const {
  std::vector<GroupObject*> result;
  for (const auto& [id, group] : groups_) result.push_back(group);
  return result;
}

void SimulationRuntime::StartUpdates() {
  if (timer_ != 0) return;
  timerScheduler_ = &xelo::com::Scheduler();
  timer_ = timerScheduler_->StartTimer(kUpdatePeriod, [this] {
    // Like every scheduled start, an [out] checkpoint: the client's call
    // has returned.
    OwnershipLedger::Instance().Checkpoint();
    space_.Advance();
  });
}

void SimulationRuntime::StopUpdates() {
  if (timer_ == 0) return;
  timerScheduler_->StopTimer(timer_);
  timer_ = 0;
  timerScheduler_ = nullptr;
}

void SimulationRuntime::PublishNow() {
  // By id, because a sink may release (and so destroy) any group while we
  // are calling it.
  std::vector<DWORD> ids;
  for (const auto& [id, group] : groups_) ids.push_back(id);
  for (const DWORD id : ids) {
    if (GroupObject* group = FindGroup(id)) {
      xelo::com::ComPtr<GroupObject> keep(group);
      group->PublishChanges();
    }
  }
}

void SimulationRuntime::RequestShutdown(com::OleStringView reason) {
  std::vector<DWORD> ids;
  for (const auto& [id, server] : servers_) ids.push_back(id);
  com::OleString text(reason);
  for (const DWORD id : ids) {
    xelo::com::Scheduler().Post([this, id, text] {
      OwnershipLedger::Instance().Checkpoint();
      if (ServerObject* server = FindServer(id)) {
        xelo::com::ComPtr<ServerObject> keep(server);
        server->DeliverShutdown(text);
      }
    });
  }
}

void SimulationRuntime::SetSeed(std::uint32_t seed) {
  seed_ = seed;
  space_.Reset(seed_);
}

void SimulationRuntime::Reset() {
  seed_ = AddressSpace::kDefaultSeed;
  space_.Reset(seed_);
  calls_.Reset();
  status_ = StatusFields{};
  status_.startTime = TimeSource::Now();
  switches_ = Switches{};
  killedCalls_ = 0;
  refusedCreations_ = 0;
  creationRefusal_ = S_OK;
  OwnershipLedger::Instance().Reset();
  // Released last and from a list of their own: a sink's release may run
  // client code.
  std::vector<xelo::com::ComPtr<IUnknown>> abandoned;
  abandoned.swap(abandoned_);
  abandoned.clear();
}

}  // namespace xelo::sim
