// Counts the calls of each COM method of the simulation server, keeps the
// arguments of the last one, and answers the failures that tests inject.
// Methods are named "<Interface>::<Method>", e.g. "IOPCServer::AddGroup",
// "IOPCAsyncIO2::Read", "IOPCAsyncIO::Read", "IDataObject::DAdvise".
// Main thread only.
#pragma once

#include "servers/simulation/SimulationControl.h"
#include "xelo/com/HResult.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace xelo::sim {

class CallRecorder {
 public:
  // Records a call of `method` with `args`, first holding the caller for
  // as long as a stall of the method says; returns the HRESULT the method
  // must answer instead of doing its work, when a failure is injected.
  std::optional<HRESULT> Enter(std::string_view method, CallArguments args);

  unsigned Count(std::string_view method) const;
  std::optional<CallArguments> LastArguments(std::string_view method) const;

  // `method` answers `hr` from now on (once: only its next call).
  void FailMethod(std::string_view method, HRESULT hr, bool once);
  void ClearFailures();
  // Every call of `method` from now on (once: only the next one) takes
  // `duration` before it answers.
  void StallMethod(std::string_view method, std::chrono::milliseconds duration, bool once);
  void ClearStalls();
  // Forgets counts, arguments, injected failures and stalls.
  void Reset();

 private:
  struct Record {
    unsigned count = 0;
    CallArguments last;
  };
  struct Failure {
    HRESULT hr;
    bool once;
  };
  std::map<std::string, Record, std::less<>> records_;
  struct Stall {
    std::chrono::milliseconds duration;
    bool once;
  };
  std::map<std::string, Failure, std::less<>> failures_;
  std::map<std::string, Stall, std::less<>> stalls_;
};

}  // namespace xelo::sim
