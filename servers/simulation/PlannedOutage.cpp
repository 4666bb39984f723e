#include "servers/simulation/PlannedOutage.h"

#include "servers/simulation/SimulationRuntime.h"
#include "xelo/com/Apartment.h"
#include "xelo/com/HResult.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>

namespace xelo::sim {
namespace {

std::optional<double> Seconds(std::string_view text) {
  if (text.empty()) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  // A day at most: a longer plan is a typing error, not a test.
  if (end != copy.c_str() + copy.size() || !std::isfinite(value) || value < 0.0 || value > 86400.0) {
    return std::nullopt;
  }
  return value;
}

std::chrono::milliseconds Milliseconds(double seconds) {
  return std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000.0)));
}

// Runs `call` once, `delay` from now.
void After(std::chrono::milliseconds delay, std::function<void()> call) {
  auto& scheduler = xelo::com::Scheduler();
  auto timer = std::make_shared<xelo::com::IApartmentScheduler::TimerId>(0);
  *timer = scheduler.StartTimer(delay, [&scheduler, timer, call = std::move(call)] {
    // Stopping the timer may destroy this lambda: nothing of it is used
    // after that.
    const std::function<void()> run = call;
    scheduler.StopTimer(*timer);
    run();
  });
}

}  // namespace

std::optional<OutagePlan> ParseOutagePlan(std::string_view text) {
  const std::size_t colon = text.find(':');
  OutagePlan plan;
  const std::optional<double> after = Seconds(text.substr(0, colon));
  if (!after) return std::nullopt;
  plan.after = *after;
  if (colon != std::string_view::npos) {
    plan.down = Seconds(text.substr(colon + 1));
    if (!plan.down) return std::nullopt;
  }
  return plan;
}

void ArmPlannedOutage() {
  static bool armed = false;
  if (armed) return;
  armed = true;
  const char* value = std::getenv("XELO_SIM_OUTAGE");
  if (value == nullptr || *value == '\0') return;
  const std::optional<OutagePlan> plan = ParseOutagePlan(value);
  if (!plan) {
    std::fprintf(stderr, "XELO_SIM_OUTAGE: expected AFTER[:DOWN] in seconds, not '%s'; no outage\n", value);
    return;
  }
  After(Milliseconds(plan->after), [down = plan->down] {
    SimulationRuntime& runtime = SimulationRuntime::Instance();
    runtime.KillServers(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE));
    runtime.RefuseCreation(std::numeric_limits<unsigned>::max(), CO_E_SERVER_EXEC_FAILURE);
    if (down) After(Milliseconds(*down), [] { SimulationRuntime::Instance().RefuseCreation(0, S_OK); });
  });
}

}  // namespace xelo::sim
