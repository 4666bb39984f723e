// The control API of the simulation server: how tests and demos steer the
// server from inside the process. The client side never includes this.
//
// Installed with the package as <xelo/simulation/SimulationControl.h>, so
// that applications can test themselves against the embedded server the
// way our own tests do; in the source tree it is
// "servers/simulation/SimulationControl.h". It includes nothing of the
// server but public library headers, which keeps it usable from both places.
//
// Everything here runs on the main thread and takes effect at once, except
// RequestShutdown, which posts the notices to the apartment scheduler like
// any other callback. Item identifiers are those of the simulated address
// space (AddressSpace.h in the source tree; `xelo browse --ids` lists
// them); method names are "<Interface>::<Method>" as the COM interfaces
// spell them ("IOPCServer::AddGroup", "IOPCItemMgt::RemoveItems", "IOPCSyncIO::Read",
// "IOPCAsyncIO2::Read", "IOPCAsyncIO::Read", "IDataObject::DAdvise",
// "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs", "IOPCCommon::SetClientName",
// "IOPCServerList::EnumClassesOfCategories", ...; a group's connection point
// container answers as "IOPCGroup::FindConnectionPoint").
//
// Server objects are created through the class factory, counted as
// "IClassFactory::CreateInstance" (refused and failed attempts included).
//
// No sleeping is ever needed: update cycles run on the scheduler's timers
// (a test installs a DefaultScheduler with a ManualClock and advances it),
// or directly through RunUpdateCycle() and PublishNow().
#pragma once

#include "xelo/com/HResult.h"
#include "xelo/com/Variant.h"
#include "xelo/com/WinTypes.h"
#include "xelo/opc/OpcTypes.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace xelo::sim {

// What the server remembers of the last call of a method, for tests that
// check what a client passed. Only the fields that the method has are set;
// the rest stay empty.
struct CallArguments {
  std::optional<DWORD> transactionId;          // async calls (client's id; DA 1.0: the id handed out)
  std::optional<DWORD> cancelId;               // Cancel2 / Cancel
  std::optional<DWORD> connection;             // DA 1.0 connection token
  std::optional<OPCDATASOURCE> dataSource;     // sync Read, Refresh2, DA 1.0 Read/Refresh
  std::optional<OPCBROWSETYPE> browseType;     // BrowseOPCItemIDs
  std::optional<OPCBROWSEDIRECTION> browseDirection;  // ChangeBrowsePosition
  std::optional<VARTYPE> dataTypeFilter;       // BrowseOPCItemIDs
  std::optional<DWORD> accessMask;             // BrowseOPCItemIDs
  std::optional<DWORD> requestedRate;          // AddGroup, SetState
  std::optional<LCID> locale;                  // AddGroup, SetState, SetLocaleID, GetErrorString
  std::optional<BOOL> flag;                    // bActive / bForce / bEnable / bBlobUpdate
  std::optional<HRESULT> code;                 // GetErrorString
  std::optional<DWORD> handle;                 // RemoveGroup
  std::optional<DWORD> count;                  // per-item calls: dwCount
  com::OleString text;                         // group name, filter, browse string, item id, client name
  std::vector<com::OleString> itemIds;         // AddItems / ValidateItems
  std::vector<DWORD> propertyIds;              // item property calls
  std::vector<VARTYPE> requestedTypes;         // AddItems / ValidateItems / SetDatatypes

  // Fluent filling: CallArguments().Set(&CallArguments::locale, lcid).
  template <class Field, class Value>
  CallArguments& Set(Field CallArguments::*field, Value&& value) {
    this->*field = std::forward<Value>(value);
    return *this;
  }
};

class SimulationControl {
 public:
  struct LiveObjects {
    std::size_t servers = 0;
    std::size_t groups = 0;  // also groups removed from their server but still referenced
    // Objects killed by KillServers that a client still holds.
    std::size_t killedServers = 0;
    std::size_t killedGroups = 0;
  };

  // ---- simulated data ----
  // One update cycle of the signals now (Ramp, Random, Sine, Counter move).
  static void RunUpdateCycle();
  // Every group checks its subscription now, as if its update timer ticked.
  static void PublishNow();
  // False for an unknown item. Values are stored as given (no conversion);
  // give them in the item's canonical type.
  static bool SetItemValue(com::OleStringView itemId, const VARIANT& value);
  static bool SetItemQuality(com::OleStringView itemId, WORD quality);
  static bool SetItemTimeStamp(com::OleStringView itemId, FILETIME timestamp);
  // Copies the current value into `value` (uninitialised, the caller
  // clears it); false for an unknown item.
  static bool GetItemValue(com::OleStringView itemId, VARIANT* value, WORD* quality = nullptr);
  // Restarts the random generator (and every other value) from `seed`.
  static void SetRandomSeed(std::uint32_t seed);

  // ---- server status ----
  static void SetServerState(OPCSERVERSTATE state);
  static void SetVendorInfo(com::OleStringView text);
  static void SetVersion(WORD major, WORD minor, WORD build);
  static void SetBandWidth(DWORD bandWidth);

  // Posts IOPCShutdown::ShutdownRequest(reason) to every connected client.
  static void RequestShutdown(com::OleStringView reason);

  // ---- injected faults ----
  // `method` answers `hr` (doing nothing else) on its next call (once) or
  // on every call.
  static void FailMethod(std::string_view method, HRESULT hr, bool once = false);
  static void ClearMethodFailures();
  // AddItems / ValidateItems refuse `itemId` with `code`, which must be a
  // failure code: a success code would refuse nothing, yet leave the item
  // without a server handle. std::invalid_argument for one, nothing changed.
  static void RefuseItem(com::OleStringView itemId, HRESULT code);
  static void ClearRefusedItems();
  // RemoveItems removes but answers S_OK without an error array.
  static void SetRemoveItemsWithoutErrors(bool on);
  // Asynchronous calls complete inside the call, before it returns.
  static void SetEarlyCallbacks(bool on);
  // Callbacks carry this group handle instead of the client's.
  static void SetForeignGroupHandle(std::optional<OPCHANDLE> handle);

  // `method` takes `duration` (real time: the caller's thread waits, as in
  // a synchronous call to a busy server) before it answers, on its next
  // call (once) or on every call.
  static void StallMethod(std::string_view method, std::chrono::milliseconds duration, bool once = false);
  static void ClearMethodStalls();

  // ---- a server that dies ----
  // Every live server object dies at once with all its groups, as a
  // server whose process was ended: from now on every call of a killed
  // object, and QueryInterface for anything but IUnknown, answers `code`;
  // AddRef and Release go on working (a client's COM answers them
  // locally). Update cycles, pending completions and shutdown notices stop
  // for them, and the sinks they held (shutdown, data callback, data
  // stream) are never released by them: Reset() releases those, so that a
  // test leaks nothing. Objects created later are alive as usual.
  static void KillServers(HRESULT code = HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
  // Calls that reached a killed object since Reset().
  static unsigned KilledCalls();
  // The next `count` creations of a server object fail with `code` (which
  // CoCreateInstance passes on), as for a server program that cannot
  // start; 0 ends a refusal.
  static void RefuseCreation(unsigned count, HRESULT code = CO_E_SERVER_EXEC_FAILURE);

  // ---- strict ownership ----
  // Strict mode checks that clients keep COM's ownership rule: what a
  // callback lends them ([in]) comes back unchanged and unfreed (checked
  // when the callback returns), and what a method hands them ([out]) is
  // freed by the next checkpoint: the start of the next scheduled update
  // cycle or asynchronous completion, or CheckOwnership(). A buffer kept
  // longer is then filled with 0xDD. Every violation is written to stderr
  // at once. XELO_SIM_STRICT=1 in the environment switches strict mode on
  // at start-up and makes every violation abort the process once printed;
  // switched here (also after that), violations are recorded instead, for
  // OwnershipViolations().
  static void SetStrictOwnership(bool on);
  static bool StrictOwnership();
  // One line each: "IOPCDataCallback::OnDataChange: the client changed
  // pvValues[2]", "IOPCSyncIO::Read: the client kept *ppErrors, an [out]
  // buffer, past the checkpoint".
  static std::vector<std::string> OwnershipViolations();
  // The [out] checkpoint, now.
  static void CheckOwnership();

  // ---- observation ----
  static unsigned CallCount(std::string_view method);
  static std::optional<CallArguments> LastArguments(std::string_view method);
  static LiveObjects Live();
  static std::vector<com::OleString> LiveGroupNames();

  // Values, status fields, faults, stalls, refusals, switches, counters
  // and the seed back to their start; ownership violations forgotten; the
  // sinks of killed objects released. Live and killed objects and the
  // strict ownership mode stay as they are.
  static void Reset();
};

}  // namespace xelo::sim
