// xelo-inspector: the OPC Inspector as a program of its own, on a fresh
// server component.
//
//   xelo-inspector [--server NAME] [--computer NAME] [CONFIGURATION]
//   xelo-inspector --script FILE ...       a scripted session (Script.h)
//
// A configuration file given on the command line is loaded into the
// component first (and connects when it was saved connected); File > Open...
// and Save As... load and save the component's configuration. Nothing is
// saved unless asked.
#include "Script.h"

#include "xelo/core/Xelo.h"
#include "xelo/dialogs/XeloInspectorDlg.h"
#include "xelo/framework/Application.h"
#include "xelo/qt/EventLoop.h"
#include "xelo/qt/UserInterface.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QFileDialog>
#include <QMenu>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr char kFilter[] = "Xelo configurations (*.xcf *.txt);;All files (*)";

// File > Open... and Save As..., before Exit.
void AddFileEntries(xelo::TXeloDlgExplorer& window) {
  QMenu* file = window.FileMenu;
  QAction* exit = file->actions().value(0);
  auto* open = new QAction("Open...", file);
  open->setShortcut(QKeySequence::Open);
  QObject::connect(open, &QAction::triggered, &window, xelo::qt::Guarded([&window] {
                     const QString path = QFileDialog::getOpenFileName(&window, "Open configuration", {}, kFilter);
                     if (path.isEmpty()) return;
                     window.Server()->LoadFromFile(path.toStdString());
                     window.ShowServer();
                     window.Timer1->start();
                   }));
  auto* save = new QAction("Save As...", file);
  save->setShortcut(QKeySequence::SaveAs);
  QObject::connect(save, &QAction::triggered, &window, xelo::qt::Guarded([&window] {
                     const QString path = QFileDialog::getSaveFileName(&window, "Save configuration", {}, kFilter);
                     if (path.isEmpty()) return;
                     // What the window shows is what is saved.
                     window.Server()->SetServer(window.ServerCombo->currentText().toStdString());
                     window.Server()->SaveToFile(path.toStdString());
                   }));
  file->insertAction(exit, open);
  file->insertAction(exit, save);
  file->insertSeparator(exit);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  QApplication::setApplicationName("xelo-inspector");
  QApplication::setApplicationDisplayName("OPC Inspector");
  QCommandLineParser options;
  options.setApplicationDescription("The OPC Inspector: connect to an OPC DA server, browse it, watch its items.");
  options.addHelpOption();
  const QCommandLineOption server("server", "The server's ProgID or class identifier.", "NAME");
  const QCommandLineOption computer("computer", "The computer the server runs on.", "NAME");
  const QCommandLineOption script("script", "Run the session of FILE, then end.", "FILE");
  options.addOptions({server, computer, script});
  options.addPositionalArgument("configuration", "A saved configuration to load.", "[CONFIGURATION]");
  options.process(qt);
  if (options.positionalArguments().size() > 1) {
    std::fprintf(stderr, "xelo-inspector: one configuration at most\n");
    return 2;
  }
  std::vector<std::string> commands;
  if (options.isSet(script)) {
    std::string error;
    if (!xelo::inspector::ReadScript(options.value(script).toStdString(), commands, error)) {
      std::fprintf(stderr, "xelo-inspector: %s\n", error.c_str());
      return 2;
    }
    // A scripted session asks nobody: messages go to stderr.
    xelo::Application().SetUserInterface(std::make_unique<xelo::THeadlessUserInterface>(true));
  } else {
    xelo::Application().SetUserInterface(std::make_unique<xelo::qt::TQtUserInterface>());
  }
  xelo::qt::EventLoopBridge bridge;

  xelo::TXeloServer component(nullptr);
  try {
    if (!options.positionalArguments().isEmpty()) {
      component.LoadFromFile(options.positionalArguments().first().toStdString());
    }
    if (options.isSet(server)) component.SetServer(options.value(server).toStdString());
    if (options.isSet(computer)) component.SetComputername(options.value(computer).toStdString());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "xelo-inspector: %s\n", error.what());
    return 2;
  }

  int exitCode = 0;
  {
    xelo::TXeloDlgExplorer window(&component);
    AddFileEntries(window);
    if (options.isSet(script)) xelo::inspector::RunScript(window, std::move(commands), exitCode);
    window.exec();
    component.SetServer(window.ServerCombo->currentText().toStdString());
  }
  component.SetActive(false);
  return exitCode;
}
