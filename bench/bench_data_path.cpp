// The data path: what a data change costs the client, from the server's call
// of IOPCDataCallback::OnDataChange to the application's OnDatachange.
//
// Reported per benchmark:
//   ns/value        wall time per value of one whole callback: the sink
//                   (copying every value, storing quality, time stamp and
//                   error), the post, and the handling of the message that
//                   fires OnDatachange with the item list
//   allocs/callback heap allocations (operator new) per callback in the
//                   steady state; the copies of string values come from the
//                   string allocator and are not counted
//   first allocs    the same for the very first callback of a fresh group
// CopyOnly is the baseline of the same run: copying the same VARIANT arrays
// into the client's values and nothing else.
// Latency measures an idle client: a thread standing for the server's
// transport delivers a one-item data change through the main thread's
// queue, and the time runs until OnDatachange fires; HandOff is the same
// thread hand-off with a bare condition variable.
//
// Targets (10,000-item callbacks): at most 60 ns client cost per scalar
// value (R8) and at most 150 ns per short string value (BSTR of 16
// characters, the copy included); no heap allocation per callback in the
// steady state and at most 2 on the first; idle latency at most twice the
// bare hand-off.
#include "xelo/core/Xelo.h"
#include "xelo/core/XeloDataCallback.h"

#include "servers/simulation/SimulationServer.h"
#include "xelo/com/BStr.h"
#include "xelo/framework/Application.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <new>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace {
std::atomic<long> gAllocations{0};
}  // namespace

// Counts the C++ heap allocations of the whole process: the client's own
// bookkeeping is what the steady-state figure must keep at zero.
void* operator new(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
namespace {
// Out of line, so that the compiler does not pair this free with the new
// expressions it sees inlined.
[[gnu::noinline]] void Release(void* block) noexcept { std::free(block); }
}  // namespace
void operator delete(void* block) noexcept { Release(block); }
void operator delete(void* block, std::size_t) noexcept { Release(block); }

namespace {

using namespace xelo;

enum class Kind { Number, Text };

FILETIME Now() {
  // 100-ns ticks since 1601: the Unix epoch is 11,644,473,600 s later.
  const auto sinceUnix = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  const auto ticks = static_cast<std::uint64_t>(sinceUnix.count() / 100) + 116'444'736'000'000'000ull;
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// What a server lends the client for one callback of n items: client
// handles, values, qualities, time stamps and errors, owned here.
struct Callback {
  std::vector<OPCHANDLE> clients;
  std::vector<VARIANT> values;
  std::vector<WORD> qualities;
  std::vector<FILETIME> times;
  std::vector<HRESULT> errors;

  Callback(const TXeloItems& items, Kind kind) {
    const auto n = static_cast<std::size_t>(items.GetCount());
    const FILETIME now = Now();
    for (std::size_t i = 0; i < n; ++i) {
      clients.push_back(items.GetItem(static_cast<int>(i))->GetClientHandle());
      VARIANT v;
      VariantInit(&v);
      if (kind == Kind::Number) {
        v.vt = VT_R8;
        v.dblVal = static_cast<double>(i) * 0.5;
      } else {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(OLESTR("Tank 4 level: ok"));  // 16 characters
      }
      values.push_back(v);
      qualities.push_back(0xC0);
      times.push_back(now);
      errors.push_back(S_OK);
    }
  }
  ~Callback() {
    for (VARIANT& v : values) VariantClear(&v);
  }
  Callback(const Callback&) = delete;
  Callback& operator=(const Callback&) = delete;

  DWORD Count() const { return static_cast<DWORD>(clients.size()); }
};

// A connected server component with one inactive group of n items (the
// server sends nothing of its own), and an application handler that
// counts the values it is given.
struct Scene {
  TXeloServer server{nullptr};
  TXeloGroup* group = nullptr;
  long delivered = 0;

  Scene(int n, Kind kind) {
    Application();
    server.SetConnectDelay(0);
    server.SetServer(sim::kProgIdSim);
    group = server.GetOPCGroups()->Add("Bench");
    group->SetIsActive(false);
    const char* id = kind == Kind::Number ? "Static.Double" : "Static.String";
    for (int i = 0; i < n; ++i) group->GetOPCItems()->AddItem(id);
    server.SetOnDatachange([this](TPersistent*, TXeloItemList* list) { delivered += list->GetCount(); });
    server.SetActive(true);
  }

  // One data change through the sink and the message loop.
  bool Deliver(Callback& cb) {
    const long before = delivered;
    group->GetDataCallback()->OnDataChange(0, group->GetClientHandle(), S_OK, S_OK, cb.Count(), cb.clients.data(),
                                           cb.values.data(), cb.qualities.data(), cb.times.data(),
                                           cb.errors.data());
    Application().ProcessMessages();
    return delivered - before == static_cast<long>(cb.Count());
  }
};

void PerValueCounter(benchmark::State& state, int n) {
  state.counters["ns/value"] = benchmark::Counter(static_cast<double>(n) * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                                                  benchmark::Counter::OneK::kIs1000);
}

void ClientPath(benchmark::State& state, Kind kind) {
  const int n = static_cast<int>(state.range(0));
  Scene scene(n, kind);
  if (scene.group->GetDataCallback() == nullptr) {
    state.SkipWithError("the group has no data callback");
    return;
  }
  Callback cb(*scene.group->GetOPCItems(), kind);
  long allocations = gAllocations.load();
  const bool firstOk = scene.Deliver(cb);
  state.counters["first allocs"] = static_cast<double>(gAllocations.load() - allocations);
  scene.Deliver(cb);  // warm
  allocations = gAllocations.load();
  bool ok = firstOk;
  for (auto _ : state) ok = scene.Deliver(cb) && ok;
  state.counters["allocs/callback"] =
      static_cast<double>(gAllocations.load() - allocations) / static_cast<double>(state.iterations());
  if (!ok) state.SkipWithError("OnDatachange did not receive every item");
  PerValueCounter(state, n);
}

void ClientPathNumbers(benchmark::State& state) { ClientPath(state, Kind::Number); }
void ClientPathTexts(benchmark::State& state) { ClientPath(state, Kind::Text); }

// The floor: the copies of the values alone.
void CopyOnly(benchmark::State& state, Kind kind) {
  const int n = static_cast<int>(state.range(0));
  Scene scene(n, kind);
  Callback cb(*scene.group->GetOPCItems(), kind);
  std::vector<VARIANT> kept(cb.values.size());
  for (VARIANT& v : kept) VariantInit(&v);
  for (auto _ : state) {
    for (std::size_t i = 0; i < kept.size(); ++i) {
      VariantClear(&kept[i]);
      VariantCopy(&kept[i], &cb.values[i]);
    }
    benchmark::DoNotOptimize(kept.data());
  }
  for (VARIANT& v : kept) VariantClear(&v);
  PerValueCounter(state, n);
}

void CopyOnlyNumbers(benchmark::State& state) { CopyOnly(state, Kind::Number); }
void CopyOnlyTexts(benchmark::State& state) { CopyOnly(state, Kind::Text); }

// A thread that delivers something to the main thread on request, after
// the main thread has had time to fall asleep waiting for it.
class RemoteSide {
 public:
  template <class Deliver>
  explicit RemoteSide(Deliver deliver)
      : thread_([this, deliver] {
          for (;;) {
            go_.acquire();
            if (stop_) return;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            sentAt_ = std::chrono::steady_clock::now();
            deliver();
          }
        }) {}
  ~RemoteSide() {
    stop_ = true;
    go_.release();
    thread_.join();
  }
  void Go() { go_.release(); }
  std::chrono::steady_clock::time_point SentAt() const { return sentAt_; }

 private:
  std::binary_semaphore go_{0};
  std::atomic<bool> stop_{false};
  std::chrono::steady_clock::time_point sentAt_;
  std::thread thread_;
};

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Reports the median next to the mean, which a few scheduling hiccups of a
// busy machine would otherwise dominate.
void ReportMedian(benchmark::State& state, std::vector<double>& samples) {
  if (samples.empty()) return;
  std::nth_element(samples.begin(), samples.begin() + static_cast<long>(samples.size() / 2), samples.end());
  state.counters["median us"] = samples[samples.size() / 2] * 1e6;
}

void Latency(benchmark::State& state) {
  Scene scene(1, Kind::Number);
  Callback cb(*scene.group->GetOPCItems(), Kind::Number);
  TXeloDataCallback* sink = scene.group->GetDataCallback();
  const OPCHANDLE groupHandle = scene.group->GetClientHandle();
  std::chrono::steady_clock::time_point arrivedAt;
  bool arrived = false;
  scene.server.SetOnDatachange([&](TPersistent*, TXeloItemList*) {
    arrivedAt = std::chrono::steady_clock::now();
    arrived = true;
  });
  RemoteSide remote([&] {
    Application().Post([&] {
      sink->OnDataChange(0, groupHandle, S_OK, S_OK, cb.Count(), cb.clients.data(), cb.values.data(),
                         cb.qualities.data(), cb.times.data(), cb.errors.data());
    });
  });
  std::vector<double> samples;
  for (auto _ : state) {
    arrived = false;
    remote.Go();
    while (!arrived) Application().HandleMessage();
    samples.push_back(Seconds(arrivedAt - remote.SentAt()));
    state.SetIterationTime(samples.back());
  }
  ReportMedian(state, samples);
}

void HandOff(benchmark::State& state) {
  std::mutex mutex;
  std::condition_variable signal;
  bool ready = false;
  RemoteSide remote([&] {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      ready = true;
    }
    signal.notify_one();
  });
  std::vector<double> samples;
  for (auto _ : state) {
    remote.Go();
    std::unique_lock<std::mutex> lock(mutex);
    signal.wait(lock, [&] { return ready; });
    const auto arrivedAt = std::chrono::steady_clock::now();
    ready = false;
    lock.unlock();
    samples.push_back(Seconds(arrivedAt - remote.SentAt()));
    state.SetIterationTime(samples.back());
  }
  ReportMedian(state, samples);
}

BENCHMARK(ClientPathNumbers)->Arg(1)->Arg(100)->Arg(10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(CopyOnlyNumbers)->Arg(1)->Arg(100)->Arg(10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(ClientPathTexts)->Arg(1)->Arg(100)->Arg(10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(CopyOnlyTexts)->Arg(1)->Arg(100)->Arg(10'000)->Unit(benchmark::kMicrosecond);
BENCHMARK(Latency)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);
BENCHMARK(HandOff)->UseManualTime()->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
