// Counts the calls of each COM method of the simulation server, keeps the
// arguments of the last one, and answers the failures that tests inject.
// Methods are named "<Interface>::<Method>", e.g. "IOPCServer::AddGroup",
// "IOPCAsyncIO2::Read", "IOPCAsyncIO::Read", "IDataObject::DAdvise".
// Main thread only.
#pragma once

#include "servers/simulation/SimulationControl.h"
#include "xelo/com/HResult.h"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace xelo::sim {

class CallRecorder {
 public:
  // Records a call of `method` with `args`; returns the HRESULT the method
  // must answer instead of doing its work, when a failure is injected.
  std::optional<HRESULT> Enter(std::string_view method, CallArguments args);

  unsigned Count(std::string_view method) const;
  std::optional<CallArguments> LastArguments(std::string_view method) const;

  // `method` answers `hr` from now on (once: only its next call).
  void FailMethod(std::string_view method, HRESULT hr, bool once);
  void ClearFailures();
  // Forgets counts, arguments and injected failures.
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
  std::map<std::string, Failure, std::less<>> failures_;
};

}  // namespace xelo::sim
