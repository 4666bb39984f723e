// A Qt window whose widgets show live items of the simulation server
// through one binding component, without a line of code per value:
//
//   xelo_example_bound_form                     runs until the window is closed
//   xelo_example_bound_form --changes 8 --screenshot form.png
//                                               ends after 8 data changes, saving the window
#include "xelo/core/Xelo.h"
#include "xelo/gui/XeloGUI.h"
#include "xelo/qt/EventLoop.h"
#include "xelo/qt/Form.h"

#include <QApplication>
#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  int stopAfter = 0;  // data changes; 0: until the window is closed
  const char* screenshot = nullptr;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--changes") == 0) stopAfter = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--screenshot") == 0) screenshot = argv[i + 1];
  }
  QApplication qt(argc, argv);
  xelo::qt::EventLoopBridge bridge;

  // The window: ordinary Qt widgets.
  QWidget window;
  window.setWindowTitle("Xelo bound form");
  auto* layout = new QFormLayout(&window);
  auto* ramp = new QLineEdit;
  auto* sine = new QLabel;
  auto* onOff = new QCheckBox("on");
  auto* level = new QProgressBar;
  level->setRange(0, 99);
  auto* log = new QPlainTextEdit;
  auto* counts = new QListWidget;
  layout->addRow("Ramp", ramp);
  layout->addRow("Sine", sine);
  layout->addRow("Switch", onOff);
  layout->addRow("Level", level);
  layout->addRow("Text", log);
  layout->addRow("Counter", counts);
  window.resize(420, 460);

  // The form owns the server component and the binding component, which
  // finds the server by itself.
  xelo::qt::TForm form(&window);
  auto* server = new xelo::TXeloServer(&form);
  server->SetServer("Xelo.Sim.1");
  xelo::TXeloGroup* group = server->GetOPCGroups()->Add("Device 1");
  group->SetUpdateRate(100);
  for (const char* id : {"Ramp", "Sine", "Switch", "Text", "Counter"}) {
    group->GetOPCItems()->AddItem(std::string("Channel 1.Device 1.") + id);
  }
  // The application's own handler runs after the bound widgets were served.
  int changes = 0;
  server->SetOnDatachange([&](xelo::TPersistent*, xelo::TXeloItemList*) {
    if (++changes == stopAfter) qt.quit();
  });
  auto* gui = new xelo::TXeloGUI(&form);  // refers to the form's server
  gui->SetOPCServer(gui->GetOPCServer());  // and, set at run time, hooks it

  gui->AddItem("Device 1", "Channel 1.Device 1.Ramp", ramp, "");  // "text", the registry's default
  gui->AddItem("Device 1", "Channel 1.Device 1.Ramp", level, "value");
  gui->AddItem("Device 1", "Channel 1.Device 1.Switch", onOff, "");
  gui->AddItem("Device 1", "Channel 1.Device 1.Text", log, "");        // a line per change
  gui->AddItem("Device 1", "Channel 1.Device 1.Counter", counts, "");  // an entry per change
  // One value formatted by the application.
  gui->AddItem("Device 1", "Channel 1.Device 1.Sine", sine, "")
      ->SetOnChangeData([](QWidget*, xelo::Variant& value, bool& handled) {
        value = xelo::Variant(QString::number(value.ToDouble(), 'f', 3).toStdString());
        handled = false;  // now set it as usual
      });

  server->SetActive(true);
  if (!server->GetActive()) {
    std::fprintf(stderr, "cannot connect to Xelo.Sim.1\n");
    return 1;
  }
  window.show();
  qt.exec();
  if (screenshot != nullptr && !window.grab().save(screenshot)) {
    std::fprintf(stderr, "cannot save %s\n", screenshot);
    return 1;
  }
  std::printf("bound form: %d data changes, ramp %s, sine %s, %d counter entries\n", changes,
              ramp->text().toStdString().c_str(), sine->text().toStdString().c_str(), counts->count());
  return 0;
}
