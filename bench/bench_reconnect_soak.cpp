// Soak: a server component that loses its server again and again and comes
// back each time, with M items, for N cycles.
//
// One cycle: the simulation server dies (every server object killed), the
// keep-alive notices it, the items turn bad, AutoReconnect creates the
// server, its group and all M items anew, and the cycle ends when every
// item has a good value again from the new server's first data change.
//
// Reported:
//   time per cycle  wall time of one whole cycle, the server's first
//                   update included (its group ticks every 100 ms, so
//                   that is the floor)
//   rss_start_MiB   resident memory after the warm-up cycles
//   rss_drift_MiB   resident memory after the last cycle minus that
// Target: a drift of at most 1 MiB over the default run; reported, not
// asserted.
//
//   bench_reconnect_soak [--cycles N] [--items M] [benchmark options]
// defaults: 1,000 cycles of 1,000 items.
#include "xelo/core/Xelo.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/framework/Application.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace xelo;
using namespace std::chrono_literals;
using xelo::sim::SimulationControl;

int gCycles = 1000;
int gItems = 1000;
constexpr int kWarmUpCycles = 5;

// Resident memory in MiB where the system tells it (Linux), else 0.
double ResidentMiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  if (!(statm >> pages >> resident)) return 0;
  return static_cast<double>(resident) * 4096.0 / (1024.0 * 1024.0);
}

bool AllGood(const TXeloItems& items) {
  for (int i = 0; i < items.GetCount(); ++i) {
    if (!items.GetItem(i)->IsGoodQuality()) return false;
  }
  return true;
}

// The item identifiers of the simulated address space, used round robin.
std::vector<std::string> ItemIds() {
  std::vector<std::string> ids;
  for (const char* device : {"Channel 1.Device 1.", "Channel 1.Device 2."}) {
    for (const char* name : {"Ramp", "Random", "Sine", "Counter", "Setpoint", "Switch", "Text"}) {
      ids.push_back(std::string(device) + name);
    }
  }
  for (const char* name : {"Int16", "Int32", "UInt32", "Float", "Double", "Bool", "String", "Date"}) {
    ids.push_back(std::string("Static.") + name);
  }
  return ids;
}

void OneCycle(TXeloServer& server, TXeloGroup& group, int& losses, int& reconnects) {
  const int lostBefore = losses;
  const int backBefore = reconnects;
  SimulationControl::KillServers();
  if (!Application().ProcessMessagesUntil([&] { return losses > lostBefore; }, 10s)) {
    throw std::runtime_error("the loss was not noticed");
  }
  // What the dead server kept of ours is released here, as a test does.
  SimulationControl::Reset();
  if (!Application().ProcessMessagesUntil([&] { return reconnects > backBefore; }, 10s)) {
    throw std::runtime_error("no reconnection");
  }
  if (!Application().ProcessMessagesUntil([&] { return AllGood(*group.GetOPCItems()); }, 10s)) {
    throw std::runtime_error("the values did not come back");
  }
  if (!server.Connected()) throw std::runtime_error("not connected after the cycle");
}

void BM_ReconnectSoak(benchmark::State& state) {
  Application();
  int losses = 0;
  int reconnects = 0;
  TXeloServer server(nullptr);
  server.SetConnectDelay(0);
  server.SetKeepAlive(1);
  server.SetAutoReconnect(true);
  server.SetReconnectInterval(1);
  server.SetReconnectMaxInterval(8);
  server.SetOnConnectionLost([&](TPersistent*, HRESULT, const std::string&) { ++losses; });
  server.SetOnReconnect([&](TPersistent*) { ++reconnects; });
  TXeloGroup* group = server.GetOPCGroups()->Add("Soak");
  group->SetUpdateRate(100);
  const std::vector<std::string> ids = ItemIds();
  for (int i = 0; i < gItems; ++i) group->GetOPCItems()->AddItem(ids[static_cast<std::size_t>(i) % ids.size()]);
  server.Connect(sim::kProgIdSim, "");
  if (!Application().ProcessMessagesUntil([&] { return AllGood(*group->GetOPCItems()); }, 10s)) {
    state.SkipWithError("no values after connecting");
    return;
  }
  try {
    for (int i = 0; i < kWarmUpCycles; ++i) OneCycle(server, *group, losses, reconnects);
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
    return;
  }
  const double start = ResidentMiB();
  for (auto _ : state) {
    try {
      OneCycle(server, *group, losses, reconnects);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
  }
  const double end = ResidentMiB();
  state.counters["items"] = gItems;
  state.counters["rss_start_MiB"] = start;
  state.counters["rss_drift_MiB"] = end - start;
  server.SetActive(false);
  SimulationControl::Reset();
}

// Takes "--cycles N" / "--cycles=N" and "--items M" out of the arguments.
void TakeOptions(int& argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    int* target = nullptr;
    std::string value;
    for (const auto& [name, field] : {std::pair{"--cycles", &gCycles}, std::pair{"--items", &gItems}}) {
      const std::string prefix = std::string(name) + "=";
      if (arg == name && i + 1 < argc) {
        target = field;
        value = argv[++i];
      } else if (arg.rfind(prefix, 0) == 0) {
        target = field;
        value = arg.substr(prefix.size());
      }
    }
    if (target == nullptr) {
      argv[kept++] = argv[i];
      continue;
    }
    *target = std::max(1, std::atoi(value.c_str()));
  }
  argc = kept;
}

}  // namespace

int main(int argc, char** argv) {
  TakeOptions(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RegisterBenchmark("BM_ReconnectSoak", BM_ReconnectSoak)
      ->Iterations(gCycles)
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
