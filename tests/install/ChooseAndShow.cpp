// A user's Qt program against the installed package: the item browse dialog
// chooses an item of the simulation server (scripted here as a user would
// click), and a binding shows the item's value in a line edit.
#include <xelo/core/Xelo.h>
#include <xelo/dialogs/XeloBrowseDlg.h>
#include <xelo/gui/XeloGUI.h>
#include <xelo/qt/EventLoop.h>
#include <xelo/qt/Form.h>
#include <xelo/qt/Scripting.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  QApplication qt(argc, argv);
  xelo::qt::EventLoopBridge bridge;
  QWidget window;
  auto* edit = new QLineEdit(&window);
  xelo::qt::TForm form(&window);
  auto* server = new xelo::TXeloServer(&form);
  server->SetServer("Xelo.Sim.1");
  server->SetActive(true);
  server->GetOPCBrowser()->Moveto("Static");

  xelo::qt::WhenModalShows([](QDialog& dialog) {
    auto* list = dialog.findChild<QListWidget*>("ListView");
    const QList<QListWidgetItem*> found = list->findItems("String", Qt::MatchExactly);
    if (!found.isEmpty()) list->setCurrentItem(found.first());
    dialog.findChild<QPushButton*>("bOk")->click();
  });
  const std::string chosen = xelo::OPCBrowseItemDialog(*server->GetOPCBrowser(), false);
  std::printf("chosen %s\n", chosen.c_str());
  if (chosen.empty()) return 1;

  server->GetOPCGroups()->Add("G")->GetOPCItems()->AddItem(chosen);
  auto* gui = new xelo::TXeloGUI(&form);
  gui->SetOPCServer(server);
  gui->AddItem("G", chosen, edit, "");
  if (!xelo::qt::WaitUntil([&] { return !edit->text().isEmpty(); }, 10000)) return 1;
  std::printf("shown %s\n", edit->text().toUtf8().constData());
  return 0;
}
