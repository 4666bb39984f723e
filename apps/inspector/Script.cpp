#include "Script.h"

#include "xelo/core/Xelo.h"
#include "xelo/dialogs/XeloInspectorDlg.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/qt/Scripting.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace xelo::inspector {

namespace {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The command's words; the last argument of a command keeps its blanks
// (item ids and file names have them).
std::vector<std::string> Words(const std::string& line, std::size_t count) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size() && words.size() + 1 < count) {
    const std::size_t end = line.find(' ', at);
    if (end == std::string::npos) break;
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  const std::string rest = Trim(line.substr(std::min(at, line.size())));
  if (!rest.empty()) words.push_back(rest);
  return words;
}

QAction* Entry(QMenu* menu, const QString& text) {
  for (QAction* action : menu->actions()) {
    if (action->text() == text) return action;
  }
  throw Failure("no menu entry " + text.toStdString());
}

// Triggers `entry`, whose dialog `script` fills; a dialog that does not
// come is a failure.
void WithDialog(TXeloDlgExplorer& window, QAction* entry, std::function<void(QDialog&)> script) {
  bool missed = false;
  qt::WhenModalShows(std::move(script), &window, 10000, [&missed] { missed = true; });
  entry->trigger();
  if (missed) throw Failure("the dialog did not open");
}

QTreeWidget& Rows(TXeloDlgExplorer& window) { return *window.ItemView; }

void Connect(TXeloDlgExplorer& window, const std::string& server) {
  if (!server.empty()) window.ServerCombo->setEditText(QString::fromStdString(server));
  window.bConnect->click();
  if (!window.Server()->GetActive()) throw Failure("not connected");
}

void AddGroup(TXeloDlgExplorer& window, const std::string& name, const std::string& rate) {
  WithDialog(window, Entry(window.GroupPopup, "Add Group..."), [&](QDialog& dialog) {
    dialog.findChild<QLineEdit*>("eGroupName")->setText(QString::fromStdString(name));
    if (!rate.empty()) dialog.findChild<QLineEdit*>("eUpdateRate")->setText(QString::fromStdString(rate));
    dialog.findChild<QPushButton*>("bOk")->click();
  });
  if (window.Server()->GetOPCGroups()->Exists(name) < 0) throw Failure("group " + name + " not added");
}

void SelectGroup(TXeloDlgExplorer& window, const std::string& name) {
  const QList<QTreeWidgetItem*> found = window.TreeView1->findItems(QString::fromStdString(name), Qt::MatchExactly);
  if (found.isEmpty()) throw Failure("no group " + name);
  window.TreeView1->setCurrentItem(found.first());
}

// Moves the component's browser to the item's branch, then picks the leaf
// in the dialog as a user would.
void AddItem(TXeloDlgExplorer& window, const std::string& id) {
  const std::size_t dot = id.rfind('.');
  TXeloBrowser& browser = *window.Server()->GetOPCBrowser();
  const bool moved = dot == std::string::npos ? browser.MovetoRoot() : browser.Moveto(id.substr(0, dot));
  if (!moved) throw Failure("no branch for " + id);
  const QString leaf = QString::fromStdString(dot == std::string::npos ? id : id.substr(dot + 1));
  const int before = Rows(window).topLevelItemCount();
  emit window.ItemPopup->aboutToShow();
  WithDialog(window, Entry(window.ItemPopup, "Add Item.."), [&](QDialog& dialog) {
    auto* list = dialog.findChild<QListWidget*>("ListView");
    const QList<QListWidgetItem*> found = list->findItems(leaf, Qt::MatchExactly);
    if (found.isEmpty()) {
      dialog.reject();
      return;
    }
    list->clearSelection();
    list->setCurrentItem(found.first());
    dialog.findChild<QPushButton*>("bOk")->click();
  });
  if (Rows(window).topLevelItemCount() != before + 1) throw Failure("item " + id + " not added");
}

// Column 4 is the quality, empty until the first value.
bool AllHaveValues(TXeloDlgExplorer& window) {
  for (int i = 0; i < Rows(window).topLevelItemCount(); ++i) {
    if (Rows(window).topLevelItem(i)->text(4).isEmpty()) return false;
  }
  return Rows(window).topLevelItemCount() > 0;
}

void PrintValues(TXeloDlgExplorer& window) {
  for (int i = 0; i < Rows(window).topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = Rows(window).topLevelItem(i);
    std::printf("%s = %s (%s)\n", row->text(0).toUtf8().constData(), row->text(3).toUtf8().constData(),
                row->text(4).toUtf8().constData());
  }
  std::fflush(stdout);
}

// False: the session ends here (quit).
bool Run(TXeloDlgExplorer& window, const std::string& line) {
  const std::vector<std::string> command = Words(line, 2);
  const std::string& verb = command[0];
  const std::string argument = command.size() > 1 ? command[1] : std::string();
  if (verb == "connect") {
    Connect(window, argument);
  } else if (verb == "disconnect") {
    window.BDisconnect->click();
  } else if (verb == "add-group") {
    const std::vector<std::string> words = Words(line, 3);
    if (words.size() < 2) throw Failure("add-group needs a name");
    AddGroup(window, words[1], words.size() > 2 ? words[2] : std::string());
  } else if (verb == "select-group") {
    SelectGroup(window, argument);
  } else if (verb == "add-item") {
    AddItem(window, argument);
  } else if (verb == "wait-values") {
    const int seconds = argument.empty() ? 10 : std::stoi(argument);
    if (!qt::WaitUntil([&] { return AllHaveValues(window); }, seconds * 1000)) {
      throw Failure("no values within " + std::to_string(seconds) + " s");
    }
  } else if (verb == "print-values") {
    PrintValues(window);
  } else if (verb == "screenshot") {
    if (!window.grab().save(QString::fromStdString(argument))) throw Failure("cannot write " + argument);
  } else if (verb == "save") {
    window.Server()->SetServer(window.ServerCombo->currentText().toStdString());
    window.Server()->SaveToFile(argument);
  } else if (verb == "quit") {
    return false;
  } else {
    throw Failure("unknown command '" + verb + "'");
  }
  return true;
}

}  // namespace

bool ReadScript(const std::string& path, std::vector<std::string>& commands, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "cannot read " + path;
    return false;
  }
  std::string line;
  while (std::getline(file, line)) {
    line = Trim(line);
    if (!line.empty() && line[0] != '#') commands.push_back(line);
  }
  return true;
}

void RunScript(TXeloDlgExplorer& window, std::vector<std::string> commands, int& exitCode) {
  QTimer::singleShot(0, &window, [&window, commands = std::move(commands), &exitCode] {
    exitCode = 0;
    for (const std::string& line : commands) {
      try {
        if (!Run(window, line)) break;
      } catch (const std::exception& error) {
        std::fprintf(stderr, "xelo-inspector: %s: %s\n", line.c_str(), error.what());
        exitCode = 1;
        break;
      }
    }
    window.reject();
  });
}

}  // namespace xelo::inspector
