// The process-wide state of the simulation server: the address space, the
// status fields every server object reports, the behaviour switches and
// call records of the control API, the live server and group objects, and
// the server-wide update timer.
//
// Server and group objects register here while they live; the registry
// holds no references (objects are owned by their COM clients), so posted
// callbacks look their object up by id at delivery time and find nothing
// once it is gone. The update timer runs on the apartment scheduler while
// at least one server object lives.
//
// Main thread only. Internal: tests use SimulationControl.
#pragma once

#include "servers/simulation/AddressSpace.h"
#include "servers/simulation/CallRecorder.h"
#include "servers/simulation/OwnershipLedger.h"
#include "xelo/com/Apartment.h"
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

  // ---- control ----
  void RunCycle() { space_.Advance(); }
  // Every live group checks its subscription now, as if its timer ticked.
  void PublishNow();
  // Posts IOPCShutdown::ShutdownRequest to every connected shutdown sink.
  void RequestShutdown(com::OleStringView reason);
  void SetSeed(std::uint32_t seed);
  // Values, status, switches, records and the seed back to their start;
  // live objects stay.
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
  DWORD nextServer_ = 1;
  DWORD nextGroup_ = 1;
  xelo::com::IApartmentScheduler* timerScheduler_ = nullptr;
  xelo::com::IApartmentScheduler::TimerId timer_ = 0;
};

}  // namespace xelo::sim
