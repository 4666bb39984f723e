// The process-wide state of the simulation server: the address space, the
// status fields every server object reports, the behaviour switches and
// call records of the control API, the live server and group objects, and
// the server-wide update timer.
//
// Server and group objects register here while they live; the registry
// holds no references (objects are owned by their COM clients), so posted
// callbacks look their object up by id at delivery time and find nothing
// once it is gone (or killed). The update timer runs on the apartment
// scheduler while at least one server object lives.
//
// Killed objects stand for a server process that was ended: they stay
// registered apart from the live ones until their clients let go of them,
// and the sinks they held are kept here, unreleased, until Reset().
//
// Main thread only. Internal: tests use SimulationControl.
#pragma once

#include "servers/simulation/AddressSpace.h"
#include "servers/simulation/CallRecorder.h"
#include "servers/simulation/OwnershipLedger.h"
#include "xelo/com/Apartment.h"
#include "xelo/com/ComPtr.h"
#include "xelo/opc/OpcTypes.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace xelo::sim {

class ServerObject;
class GroupObject;

class SimulationRuntime {
 public:
  static constexpr std::chrono::milliseconds kUpdatePeriod{100};

  struct StatusFields {
    OPCSERVERSTATE state = OPC_STATUS_RUNNING;
    com::OleString vendorInfo = OLESTR("Xelo OPC DA Simulation Server");
    WORD majorVersion = 1;
    WORD minorVersion = 0;
    WORD buildNumber = 1;
    DWORD bandWidth = 0xFFFFFFFFu;  // unknown
    FILETIME startTime{};
  };

  struct Switches {
    std::map<com::OleString, HRESULT> refusedItems;
    bool removeItemsWithoutErrors = false;
    bool earlyCallbacks = false;
    std::optional<OPCHANDLE> foreignGroupHandle;
  };

  static SimulationRuntime& Instance();

  AddressSpace& Space() { return space_; }
  CallRecorder& Calls() { return calls_; }
  StatusFields& Status() { return status_; }
  Switches& Behaviour() { return switches_; }

  // Calls().Enter(), telling the ownership ledger whose [out] buffers
  // come next.
  std::optional<HRESULT> Enter(std::string_view method, CallArguments args = {}) {
    OwnershipLedger::Instance().Calling(method);
    return calls_.Enter(method, std::move(args));
  }

  // ---- live objects ----
  DWORD AddServer(ServerObject* server);
  void RemoveServer(DWORD id);
  ServerObject* FindServer(DWORD id) const;
  std::vector<ServerObject*> Servers() const;
  DWORD AddGroup(GroupObject* group);
  void RemoveGroup(DWORD id);
  GroupObject* FindGroup(DWORD id) const;
  std::vector<GroupObject*> Groups() const;
  std::size_t KilledServers() const { return killedServers_.size(); }
  std::size_t KilledGroups() const { return killedGroups_.size(); }

  // ---- dying ----
  // Every live server and group object dies: see SimulationControl.
  void KillServers(HRESULT code);
  // Keeps the sinks of a killed object, unreleased, until Reset().
  void Abandon(std::vector<xelo::com::ComPtr<IUnknown>> sinks);
  // A call reached a killed object.
  void NoteKilledCall() { ++killedCalls_; }
  unsigned KilledCalls() const { return killedCalls_; }
  // Records a creation of a server object ("IClassFactory::CreateInstance")
  // and answers the failure it must give instead, when one is due.
  std::optional<HRESULT> EnterCreation();
  void RefuseCreation(unsigned count, HRESULT code);

  // ---- control ----
  void RunCycle() { space_.Advance(); }
  // Every live group checks its subscription now, as if its timer ticked.
  void PublishNow();
  // Posts IOPCShutdown::ShutdownRequest to every connected shutdown sink.
  void RequestShutdown(com::OleStringView reason);
  void SetSeed(std::uint32_t seed);
  // Values, status, switches, records and the seed back to their start,
  // the abandoned sinks released; live and killed objects stay.
  void Reset();

 private:
  SimulationRuntime();
  void StartUpdates();
  void StopUpdates();

  AddressSpace space_;
  CallRecorder calls_;
  StatusFields status_;
  Switches switches_;
  std::uint32_t seed_ = AddressSpace::kDefaultSeed;
  std::map<DWORD, ServerObject*> servers_;
  std::map<DWORD, GroupObject*> groups_;
  std::map<DWORD, ServerObject*> killedServers_;
  std::map<DWORD, GroupObject*> killedGroups_;
  std::vector<xelo::com::ComPtr<IUnknown>> abandoned_;
  unsigned killedCalls_ = 0;
  unsigned refusedCreations_ = 0;
  HRESULT creationRefusal_ = S_OK;
  DWORD nextServer_ = 1;
  DWORD nextGroup_ = 1;
  xelo::com::IApartmentScheduler* timerScheduler_ = nullptr;
  xelo::com::IApartmentScheduler::TimerId timer_ = 0;
};

}  // namespace xelo::sim
