// Adding many items to one group in one batch, against the embedded
// simulation server.
//
// Reported per benchmark:
//   ns/item       wall time of the whole batch divided by its items (the
//                 server's own work included)
//   calls/batch   server calls per batch; must be 1
//   bytes/item    client heap per item: the item objects, their handles
//                 and the collection (ClientMemory only)
// Targets: 100,000 items in at most 100 ms; at most 1.5x the time of the
// server's AddItems with a prebuilt array (ServerOnly); ns/item at 100k no
// more than 1.2x the one at 10k (time(100k)/time(10k) <= 12); at most 400
// bytes of client memory per item.
#include "xelo/core/Xelo.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/TaskPtr.h"
#include "xelo/framework/Application.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>
#include <vector>

namespace {

using namespace xelo;
using xelo::sim::SimulationControl;

// Identifiers from the whole address space, so that the server's lookups
// are not all the same one.
const std::vector<std::string>& Identifiers() {
  static const std::vector<std::string> ids = [] {
    std::vector<std::string> all;
    for (const char* device : {"Channel 1.Device 1.", "Channel 1.Device 2."}) {
      for (const char* name : {"Ramp", "Random", "Sine", "Counter", "Setpoint", "Switch", "Text", "Array"}) {
        all.push_back(std::string(device) + name);
      }
    }
    for (const char* name : {"Int16", "Int32", "UInt32", "Float", "Double", "Bool", "String", "Date"}) {
      all.push_back(std::string("Static.") + name);
    }
    return all;
  }();
  return ids;
}

// A connected server component in batch mode with one group of n items,
// none of them on the server yet.
struct Fixture {
  TXeloServer server{nullptr};
  TXeloGroup* group = nullptr;

  explicit Fixture(int n) {
    Application();
    server.SetBatchMode(true);
    server.SetConnectDelay(0);
    server.SetServer(sim::kProgIdSim);
    server.SetActive(true);
    group = server.GetOPCGroups()->Add("Bench");
    const auto& ids = Identifiers();
    for (int i = 0; i < n; ++i) group->GetOPCItems()->AddItem(ids[static_cast<std::size_t>(i) % ids.size()]);
  }
};

void AddThroughLibrary(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Fixture fixture(n);
  TXeloItems& items = *fixture.group->GetOPCItems();
  TXeloItemList list(items);
  unsigned calls = 0;
  for (auto _ : state) {
    const unsigned before = SimulationControl::CallCount("IOPCItemMgt::AddItems");
    const bool added = items.OPCAddItems(&list, true);
    calls += SimulationControl::CallCount("IOPCItemMgt::AddItems") - before;
    state.PauseTiming();
    if (!added) state.SkipWithError("some items were refused");
    items.OPCRemoveItems(&list);
    state.ResumeTiming();
  }
  state.counters["ns/item"] = benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                                                 benchmark::Counter::OneK::kIs1000);
  state.counters["calls/batch"] = static_cast<double>(calls) / static_cast<double>(state.iterations());
}

// The floor: the server's own AddItems with an array built beforehand.
void ServerOnly(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Fixture fixture(0);
  IOPCItemMgt* itemMgt = fixture.group->GetItemMgt();
  const auto& ids = Identifiers();
  std::vector<xelo::com::OleString> wide;
  for (int i = 0; i < n; ++i) wide.push_back(StringToWide(ids[static_cast<std::size_t>(i) % ids.size()]));
  xelo::com::OleString empty;
  std::vector<OPCITEMDEF> defs(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    defs[static_cast<std::size_t>(i)] = OPCITEMDEF{empty.data(), wide[static_cast<std::size_t>(i)].data(), -1,
                                                   static_cast<OPCHANDLE>(i + 1), 0, nullptr, VT_EMPTY, 0};
  }
  std::vector<OPCHANDLE> handles(static_cast<std::size_t>(n));
  for (auto _ : state) {
    com::TaskPtr<OPCITEMRESULT> results;
    com::TaskPtr<HRESULT> errors;
    itemMgt->AddItems(static_cast<DWORD>(n), defs.data(), results.Put(), errors.Put());
    state.PauseTiming();
    for (int i = 0; i < n; ++i) handles[static_cast<std::size_t>(i)] = results[static_cast<std::size_t>(i)].hServer;
    com::TaskPtr<HRESULT> removeErrors;
    itemMgt->RemoveItems(static_cast<DWORD>(n), handles.data(), removeErrors.Put());
    state.ResumeTiming();
  }
  state.counters["ns/item"] = benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                                                 benchmark::Counter::OneK::kIs1000);
}

// Client heap per item: everything an item costs while it is defined
// (object, texts, variants, handle table, collection slot).
void ClientMemory(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  double bytesPerItem = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Application();
    TXeloServer server(nullptr);
    TXeloGroup* group = server.GetOPCGroups()->Add("Bench");
    const auto& ids = Identifiers();
    const std::size_t before = mallinfo2().uordblks;
    state.ResumeTiming();
    for (int i = 0; i < n; ++i) group->GetOPCItems()->AddItem(ids[static_cast<std::size_t>(i) % ids.size()]);
    state.PauseTiming();
    bytesPerItem = static_cast<double>(mallinfo2().uordblks - before) / n;
    state.ResumeTiming();
  }
  state.counters["bytes/item"] = bytesPerItem;
}

BENCHMARK(AddThroughLibrary)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(ServerOnly)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(ClientMemory)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
