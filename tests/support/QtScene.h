// The scene the Qt layers' tests play in: a headless user interface that
// records what would be shown to the user, the simulation server in its
// initial state, and (when asked) a server component on it with the group
// "G" (10 ms) holding "Static.Int32" and "Static.String". Everything is
// put back when the test ends, the server component gone first.
#pragma once

#include "support/QtTesting.h"

#include "xelo/core/Xelo.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/UserInterface.h"
#include "xelo/gui/XeloGUI.h"
#include "xelo/qt/Form.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"

// The widgets and the parts of the standard library the tests use most.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace xelo::test {

// `widget` named `name`, for forms that find their controls by name.
template <class W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(name);
  return widget;
}

// A window and its form "Form1" holding (unless `empty`) the server
// component "Server1" on the simulation, with the group "G" holding
// "Static.String" and "Static.Int32", and the binding component "GUI1" on
// it. The widgets are the test's, made with Add.
struct QtForm {
  QWidget window;
  qt::TForm form{&window};  // deleted first: the components before the widgets
  TXeloServer* server = nullptr;
  TXeloGUI* gui = nullptr;

  explicit QtForm(bool empty = false) {
    form.SetName("Form1");
    if (empty) return;
    server = new TXeloServer(&form);
    server->SetName("Server1");
    server->SetServer(sim::kProgIdSim);
    TXeloItems* items = server->GetOPCGroups()->Add("G")->GetOPCItems();
    items->AddItem("Static.String");
    items->AddItem("Static.Int32");
    gui = new TXeloGUI(&form);
    gui->SetName("GUI1");
  }
  template <class W>
  W* Add(const char* name, QWidget* parent = nullptr) {
    return Named(new W(parent != nullptr ? parent : &window), name);
  }
  TXeloGUI* FindGUI() const { return dynamic_cast<TXeloGUI*>(form.FindComponent("GUI1")); }
};

class QtScene : public ::testing::Test {
 protected:
  QtScene() {
    auto ui = std::make_unique<THeadlessUserInterface>(false);
    ui_ = ui.get();
    previousUi_ = Application().SetUserInterface(std::move(ui));
    sim::SimulationControl::Reset();
  }
  ~QtScene() override {
    server_.reset();
    sim::SimulationControl::Reset();
    Application().ProcessMessages();
    Application().SetUserInterface(std::move(previousUi_));
  }

  // The server component; when `active`, connected and with both items'
  // first values in.
  void MakeServer(bool active) {
    server_ = std::make_unique<TXeloServer>(nullptr);
    server_->SetServer(sim::kProgIdSim);
    group_ = server_->GetOPCGroups()->Add("G");
    group_->SetUpdateRate(10);
    number_ = group_->GetOPCItems()->AddItem("Static.Int32");
    text_ = group_->GetOPCItems()->AddItem("Static.String");
    if (!active) return;
    server_->SetActive(true);
    ASSERT_TRUE(server_->GetActive());
    ASSERT_TRUE(WaitFor([&] { return !number_->GetValue().IsEmpty() && !text_->GetValue().IsEmpty(); }));
  }

  // Runs the framework's queue until `done` (false after 5 s).
  static bool WaitFor(const std::function<bool()>& done) {
    return Application().ProcessMessagesUntil(done, std::chrono::seconds(5));
  }
  std::vector<std::string> Shown() const { return ui_->ShownTexts(); }

  THeadlessUserInterface* ui_ = nullptr;
  std::unique_ptr<IUserInterface> previousUi_;
  std::unique_ptr<TXeloServer> server_;
  TXeloGroup* group_ = nullptr;
  TXeloItem* number_ = nullptr;
  TXeloItem* text_ = nullptr;
};

}  // namespace xelo::test
