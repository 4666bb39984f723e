// What the binding component costs per bound widget and data change, against
// what the application would pay setting the same value itself.
//
//   Bound/<kind>   TXeloGUI::OnDataChange for a one-item change whose one
//                  binding sets a widget property: the hook, the GUIList walk,
//                  the copy of the value, the registry's kind dispatch, the
//                  conversion and QMetaProperty::write
//   Direct/<kind>  the same value converted by hand and written with
//                  QMetaProperty::write, nothing else
// Kinds: Text (Static.Int32 and Static.Int16 shown alternately in a QLabel's
// "text"), Integer (the same into a QProgressBar's "value").
//
// Target: Bound at most 1.5 times Direct for each kind in the same run (the
// binding's own work must not dominate Qt's).
#include "xelo/core/Xelo.h"
#include "xelo/gui/XeloGUI.h"
#include "xelo/framework/UserInterface.h"

#include "servers/simulation/SimulationServer.h"
#include "xelo/framework/Application.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

struct Scene {
  Scene() {
    xelo::Application().SetUserInterface(std::make_unique<xelo::THeadlessUserInterface>(false));
    server.SetServer(xelo::sim::kProgIdSim);
    xelo::TXeloGroup* group = server.GetOPCGroups()->Add("G");
    items[0] = group->GetOPCItems()->AddItem("Static.Int32");
    items[1] = group->GetOPCItems()->AddItem("Static.Int16");
    server.SetActive(true);
    group->SyncRead(nullptr, false);  // both items hold a value
    progress.setRange(0, 100);
    gui.SetOPCServer(&server);
    for (int i = 0; i < 2; ++i) lists[i].Add(items[i]);
  }
  xelo::TXeloServer server{nullptr};
  xelo::TXeloItem* items[2] = {};
  xelo::TXeloItemList lists[2];
  xelo::TXeloGUI gui{nullptr};
  QLabel label;
  QProgressBar progress;
};

// Made in main, after the QApplication, and gone before it.
Scene* gScene = nullptr;
Scene& TheScene() { return *gScene; }

void Bound(benchmark::State& state, QWidget* (*widget)(Scene&), const char* property) {
  Scene& scene = TheScene();
  scene.gui.GetItems()->Clear();
  for (xelo::TXeloItem* item : scene.items) scene.gui.AddItem(item, widget(scene), property);
  int next = 0;
  for (auto _ : state) {
    scene.gui.OnDataChange(&scene.server, &scene.lists[next]);
    next ^= 1;
  }
  scene.gui.GetItems()->Clear();
}

void Direct(benchmark::State& state, QWidget* (*widget)(Scene&), const char* property, bool asText) {
  Scene& scene = TheScene();
  QWidget* target = widget(scene);
  const QMetaProperty meta = target->metaObject()->property(target->metaObject()->indexOfProperty(property));
  int next = 0;
  for (auto _ : state) {
    const xelo::Variant& value = scene.items[next]->GetValue();
    const QVariant converted = asText ? QVariant(QString::fromStdString(xelo::VarToStr(value)))
                                      : QVariant(static_cast<int>(value.ToInt64()));
    meta.write(target, converted);
    next ^= 1;
  }
}

QWidget* Label(Scene& scene) { return &scene.label; }
QWidget* Progress(Scene& scene) { return &scene.progress; }

void BM_BoundText(benchmark::State& state) { Bound(state, Label, "text"); }
void BM_DirectText(benchmark::State& state) { Direct(state, Label, "text", true); }
void BM_BoundInteger(benchmark::State& state) { Bound(state, Progress, "value"); }
void BM_DirectInteger(benchmark::State& state) { Direct(state, Progress, "value", false); }

BENCHMARK(BM_BoundText);
BENCHMARK(BM_DirectText);
BENCHMARK(BM_BoundInteger);
BENCHMARK(BM_DirectInteger);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qt(argc, argv);
  auto scene = std::make_unique<Scene>();
  gScene = scene.get();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gScene = nullptr;
  return 0;
}
