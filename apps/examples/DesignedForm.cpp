// A form designed in Qt Designer with the library's components on it
// (DesignedForm.ui: a server component with a group of three items, a
// binding component showing them in a line edit, a label and a check box),
// loaded at run time: no line of code per value, nor for the connection.
//
//   xelo_example_designed_form [FORM.ui]       runs until the window is closed
//   xelo_example_designed_form FORM.ui --changes 8 --screenshot form.png
//                                              ends after 8 data changes, saving the window
#include "xelo/core/Xelo.h"
#include "xelo/design/ComponentWidget.h"
#include "xelo/design/FormLoader.h"
#include "xelo/qt/EventLoop.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

int main(int argc, char** argv) {
  const char* path = "DesignedForm.ui";
  int stopAfter = 0;  // data changes; 0: until the window is closed
  const char* screenshot = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--changes") == 0 && i + 1 < argc) {
      stopAfter = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) {
      screenshot = argv[++i];
    } else {
      path = argv[i];
    }
  }
  QApplication qt(argc, argv);
  xelo::qt::EventLoopBridge bridge;

  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    std::fprintf(stderr, "cannot open %s\n", path);
    return 1;
  }
  xelo::TFormLoader loader;
  std::unique_ptr<QWidget> form;
  try {
    form.reset(loader.load(&file));
  } catch (const std::exception& error) {
    // The form is made all the same; a binding that failed is left out.
    form.reset(loader.LastForm());
    std::fprintf(stderr, "%s: %s\n", path, error.what());
  }
  if (form == nullptr) {
    std::fprintf(stderr, "%s: %s\n", path, loader.errorString().toStdString().c_str());
    return 1;
  }

  // The components are the form's; the program may still reach them.
  auto* standIn = form->findChild<xelo::TXeloServerWidget*>("XeloServer1");
  auto* server = standIn != nullptr ? dynamic_cast<xelo::TXeloServer*>(&standIn->Component()) : nullptr;
  if (server == nullptr || !server->GetActive() || form->findChild<QLineEdit*>("RampEdit") == nullptr) {
    std::fprintf(stderr, "the form's server did not connect\n");
    return 1;
  }
  // The binding component already serves the server's data changes (and
  // would hand them on to a handler set before the form was loaded); the
  // program watches the ramp's line edit instead.
  auto* ramp = form->findChild<QLineEdit*>("RampEdit");
  int changes = 0;
  QObject::connect(ramp, &QLineEdit::textChanged, [&] {
    if (++changes == stopAfter) qt.quit();
  });
  form->show();
  qt.exec();
  if (screenshot != nullptr && !form->grab().save(screenshot)) {
    std::fprintf(stderr, "cannot save %s\n", screenshot);
    return 1;
  }
  std::printf("designed form: %d data changes, ramp %s\n", changes, ramp->text().toStdString().c_str());
  return 0;
}
