#include "servers/simulation/CallRecorder.h"

#include <thread>
#include <utility>

namespace xelo::sim {

std::optional<HRESULT> CallRecorder::Enter(std::string_view method, CallArguments args) {
  if (const auto stall = stalls_.find(method); stall != stalls_.end()) {
    const std::chrono::milliseconds duration = stall->second.duration;
    if (stall->second.once) stalls_.erase(stall);
    // A server busy elsewhere: the caller's thread waits, as it would in a
    // synchronous call to a slow server.
    std::this_thread::sleep_for(duration);
  }
  auto it = records_.find(method);
  if (it == records_.end()) it = records_.emplace(std::string(method), Record{}).first;
  ++it->second.count;
  it->second.last = std::move(args);
  const auto failure = failures_.find(method);
  if (failure == failures_.end()) return std::nullopt;
  const HRESULT hr = failure->second.hr;
  if (failure->second.once) failures_.erase(failure);
  return hr;
}

unsigned CallRecorder::Count(std::string_view method) const {
  const auto it = records_.find(method);
  return it != records_.end() ? it->second.count : 0;
}

std::optional<CallArguments> CallRecorder::LastArguments(std::string_view method) const {
  const auto it = records_.find(method);
  if (it == records_.end()) return std::nullopt;
  return it->second.last;
}

void CallRecorder::FailMethod(std::string_view method, HRESULT hr, bool once) {
  failures_.insert_or_assign(std::string(method), Failure{hr, once});
}

void CallRecorder::ClearFailures() { failures_.clear(); }

void CallRecorder::StallMethod(std::string_view method, std::chrono::milliseconds duration, bool once) {
  stalls_.insert_or_assign(std::string(method), Stall{duration, once});
}

void CallRecorder::ClearStalls() { stalls_.clear(); }

void CallRecorder::Reset() {
  records_.clear();
  failures_.clear();
  stalls_.clear();
}

}  // namespace xelo::sim
