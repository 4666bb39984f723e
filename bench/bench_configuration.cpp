// Saving and loading the configuration of a large server component: 100
// groups of 1,000 items each, not connected.
//
// Reported per benchmark:
//   bytes_per_second  text written (Save, Format) or read (Load, Parse)
//   ms                wall time of one whole save or load
//   items             items in the configuration
// Save: the component to text (SaveToStream: written straight into the
// text, no tree on the way). Load: the text into a fresh component
// (LoadFromStream: parsing into the flat form, then creating every group
// and item through its setters). Parse: the text into the flat form, as
// Load does; ParseTree: the same made into a tree (ParseFormText). Format:
// a tree to text (FormToText). None of these involves a server.
// Targets: save and load of the 100,000 items in at most 60 ms each; Parse
// at 150 MB/s or more. Save, load and save again must give the same bytes
// (the Load benchmark fails with an error otherwise).
#include "xelo/core/Xelo.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/Filer.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/TextForm.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

using namespace xelo;

constexpr int kGroups = 100;
constexpr int kItemsPerGroup = 1000;

// Every kind of value the configuration holds, and texts that need quoting
// now and then, so that no fast path covers everything.
void Fill(TXeloServer& server) {
  server.SetName("OPCServer1");
  server.SetServer("Xelo.Sim.1");
  server.SetClientName("Benchmark");
  server.GetOPCGroupDefault()->SetDeadBand(0.1f);
  const char* const devices[] = {"Channel 1.Device 1.", "Channel 1.Device 2.", "Static.", "Behaviour."};
  const char* const names[] = {"Ramp", "Random", "Sine", "Counter", "Setpoint", "Switch", "Text", "Array"};
  for (int g = 0; g < kGroups; ++g) {
    TXeloGroup* group = server.GetOPCGroups()->Add("Group " + std::to_string(g));
    group->SetUpdateRate(250 + g);
    group->SetDeadBand(static_cast<float>(g) / 7.0f);
    group->SetTimeBias(-g);
    TXeloItems& items = *group->GetOPCItems();
    for (int i = 0; i < kItemsPerGroup; ++i) {
      std::string id = std::string(devices[i % 4]) + names[(i / 4) % 8] + "." + std::to_string(g * kItemsPerGroup + i);
      if (i % 97 == 0) id += "'s";
      TXeloItem* item = items.AddItem(id);
      if (i % 3 == 0) item->SetAccessPath("Path" + std::to_string(i % 10));
      if (i % 5 == 0) item->SetIsActive(false);
      item->SetRequestDatatype(static_cast<OPCADatatype>(i % 12));
    }
  }
}

std::string SaveText(TXeloServer& server) {
  TStringStream out;
  server.SaveToStream(out);
  return out.DataString();
}

// The configuration and its text, made once.
struct Configuration {
  TXeloServer server{nullptr};
  std::string text;
  Configuration() {
    Application();
    Fill(server);
    text = SaveText(server);
  }
};

Configuration& Shared() {
  static Configuration config;
  return config;
}

void Report(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
  state.counters["items"] = kGroups * kItemsPerGroup;
}

void Save(benchmark::State& state) {
  Configuration& config = Shared();
  for (auto _ : state) {
    TStringStream out;
    config.server.SaveToStream(out);
    benchmark::DoNotOptimize(out.DataString().data());
  }
  Report(state, config.text.size());
}

void Load(benchmark::State& state) {
  Configuration& config = Shared();
  std::unique_ptr<TXeloServer> loaded;
  for (auto _ : state) {
    state.PauseTiming();
    loaded = std::make_unique<TXeloServer>(nullptr);  // the previous one dies untimed
    TStringStream in(config.text);
    state.ResumeTiming();
    loaded->LoadFromStream(in);
  }
  Report(state, config.text.size());
  if (loaded && SaveText(*loaded) != config.text) state.SkipWithError("save, load, save is not byte-identical");
}

void Parse(benchmark::State& state) {
  const std::string& text = Shared().text;
  for (auto _ : state) {
    TFlatForm form = ParseFlatFormText(text);
    benchmark::DoNotOptimize(form.Properties.data());
  }
  Report(state, text.size());
}

void ParseTree(benchmark::State& state) {
  const std::string& text = Shared().text;
  for (auto _ : state) {
    TFormObject form = ParseFormText(text);
    benchmark::DoNotOptimize(form.Properties.data());
  }
  Report(state, text.size());
}

void Format(benchmark::State& state) {
  Configuration& config = Shared();
  const TFormObject form = ComponentToForm(config.server);
  for (auto _ : state) {
    std::string text = FormToText(form);
    benchmark::DoNotOptimize(text.data());
  }
  Report(state, config.text.size());
}

BENCHMARK(Save)->Unit(benchmark::kMillisecond);
BENCHMARK(Load)->Unit(benchmark::kMillisecond);
BENCHMARK(Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(ParseTree)->Unit(benchmark::kMillisecond);
BENCHMARK(Format)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
