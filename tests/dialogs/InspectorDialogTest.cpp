// The OPC Inspector against the simulation server, driven as a user drives
// it: the status once a second, connecting and disconnecting, the server's
// events taken over while the window is open and given back after, the
// group and item menus with the dialogs they open, and the value columns.
#include "xelo/dialogs/XeloInspectorDlg.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/UserInterface.h"
#include "xelo/qt/EventLoop.h"

#include "support/QtTesting.h"
#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace xelo::test {
namespace {

class InspectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ui = std::make_unique<THeadlessUserInterface>(false);
    ui_ = ui.get();
    previousUi_ = Application().SetUserInterface(std::move(ui));
    sim::SimulationControl::Reset();
    server_ = std::make_unique<TXeloServer>(nullptr);
    server_->SetServer(sim::kProgIdSim);
    group_ = server_->GetOPCGroups()->Add("G");
    group_->SetUpdateRate(10);
    number_ = group_->GetOPCItems()->AddItem("Static.Int32");
    text_ = group_->GetOPCItems()->AddItem("Static.String");
  }
  void TearDown() override {
    form_.reset();
    server_.reset();
    bridge_.reset();
    Application().ProcessMessages();
    Application().SetUserInterface(std::move(previousUi_));
  }

  // The inspector shown without a modal loop, so the test goes on.
  TXeloDlgExplorer& Show() {
    form_ = std::make_unique<TXeloDlgExplorer>(server_.get());
    form_->show();
    return *form_;
  }
  static bool WaitFor(const std::function<bool()>& done, int ms = 5000) { return QTest::qWaitFor(done, ms); }
  void SelectGroup(const QString& name) {
    const QList<QTreeWidgetItem*> found = form_->TreeView1->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    form_->TreeView1->setCurrentItem(found.first());
  }
  static QAction* Entry(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions()) {
      if (action->text() == text) return action;
    }
    ADD_FAILURE() << "no entry " << text.toStdString();
    return nullptr;
  }
  std::vector<std::string> Shown() const { return ui_->ShownTexts(); }

  std::unique_ptr<qt::EventLoopBridge> bridge_ = std::make_unique<qt::EventLoopBridge>();
  THeadlessUserInterface* ui_ = nullptr;
  std::unique_ptr<IUserInterface> previousUi_;
  std::unique_ptr<TXeloServer> server_;
  TXeloGroup* group_ = nullptr;
  TXeloItem* number_ = nullptr;
  TXeloItem* text_ = nullptr;
  std::unique_ptr<TXeloDlgExplorer> form_;
};

TEST_F(InspectorTest, TheStatusComesEverySecondFromAnActiveServerAndNotConnectedOtherwise) {
  TXeloDlgExplorer& form = Show();
  EXPECT_EQ(form.windowTitle(), "OPC Inspector");
  EXPECT_EQ(form.LServer->text(), "not connected");
  EXPECT_EQ(form.ServerCombo->currentText().toStdString(), sim::kProgIdSim);
  ASSERT_EQ(form.TreeView1->topLevelItemCount(), 1);
  EXPECT_EQ(form.TreeView1->selectedItems().size(), 0);
  EXPECT_TRUE(form.Timer1->isActive());
  // Inactive: the first tick clears and stops.
  EXPECT_TRUE(WaitFor([&] { return !form.Timer1->isActive(); }, 2000));
  EXPECT_EQ(form.LServer->text(), "not connected");

  sim::SimulationControl::SetVendorInfo(u"Vendor of the test");
  QTest::mouseClick(form.bConnect, Qt::LeftButton);
  ASSERT_TRUE(server_->GetActive());
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.LServer->text(), "not connected") << "nothing before the first second";
  ASSERT_TRUE(WaitFor([&] { return form.LServer->text() != "not connected"; }, 2000));
  EXPECT_EQ(form.LServer->text().toStdString(), sim::kProgIdSim);
  EXPECT_EQ(form.LState->text(), "running");
  EXPECT_EQ(form.LInfo->text(), "Vendor of the test");
  EXPECT_FALSE(form.LStartTime->text().isEmpty());
  EXPECT_TRUE(form.LName->text().isEmpty()) << "no group selected";
  SelectGroup("G");
  ASSERT_TRUE(WaitFor([&] { return form.LName->text() == "G"; }, 2000)) << "refreshed every second";
  tGroupStateRec state;
  group_->GetState(state);  // the rate the server granted
  EXPECT_EQ(form.LUpdate->text(), QString::number(state.UpdateRate));
  EXPECT_EQ(form.LDeadBand->text(), "0.00");
  EXPECT_EQ(form.LActive->text(), "active");

  // A status read that fails takes the server for lost.
  sim::SimulationControl::FailMethod("IOPCServer::GetStatus", E_FAIL);
  ASSERT_TRUE(WaitFor([&] { return !server_->GetActive(); }, 2000));
  EXPECT_FALSE(form.Timer1->isActive());
  EXPECT_EQ(form.LServer->text(), "not connected");
  EXPECT_TRUE(form.LName->text().isEmpty());
  sim::SimulationControl::ClearMethodFailures();

  // Disconnect: the next tick clears and stops.
  QTest::mouseClick(form.bConnect, Qt::LeftButton);
  ASSERT_TRUE(server_->GetActive());
  QTest::mouseClick(form.BDisconnect, Qt::LeftButton);
  EXPECT_FALSE(server_->GetActive());
  EXPECT_TRUE(WaitFor([&] { return !form.Timer1->isActive(); }, 2000));
}

TEST_F(InspectorTest, TheServersEventsAreTheInspectorsWhileItIsOpenAndComeBackAfter) {
  int applicationErrors = 0;
  int applicationShutdowns = 0;
  server_->SetOnError([&](TPersistent*, const std::string&, bool& raise) {
    ++applicationErrors;
    raise = false;
  });
  server_->SetOnServerShutdown([&](TPersistent*, const std::string&) { ++applicationShutdowns; });
  server_->SetActive(true);
  bool sawShutdown = false;
  std::string errorLine;
  WhenModalShows([&](QDialog& dialog) {
    auto& form = dynamic_cast<TXeloDlgExplorer&>(dialog);
    // An empty name is refused with a message.
    form.ServerCombo->setEditText("  ");
    QTest::mouseClick(form.bConnect, Qt::LeftButton);
    // A shutdown request: the refresh stops, the line says so.
    sim::SimulationControl::RequestShutdown(u"maintenance");
    sawShutdown = QTest::qWaitFor([&] { return form.lErrorinfo->text() == "Disconnect from Server"; }, 5000);
    EXPECT_FALSE(form.Timer1->isActive());
    // A server that cannot be created: the error shows in the red line,
    // and raises as the component says (the application shows it).
    form.ServerCombo->setEditText("No.Such.Server.1");
    QTest::mouseClick(form.bConnect, Qt::LeftButton);
    errorLine = form.lErrorinfo->text().toStdString();
    form.ServerCombo->setEditText("Typed.But.Not.Connected");
    dialog.reject();
  });
  OPCExplorer(server_.get());
  EXPECT_TRUE(sawShutdown);
  EXPECT_FALSE(errorLine.empty());
  EXPECT_EQ(applicationErrors, 0);
  EXPECT_EQ(applicationShutdowns, 0);
  const std::vector<std::string> shown = Shown();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0], "first select OPC Server");
  EXPECT_EQ(shown[1], errorLine) << "the component's error reached the user";
  // The typed name is the server's, though never connected.
  EXPECT_EQ(server_->GetServerName(), "Typed.But.Not.Connected");
  // The application's handlers are back.
  bool raise = true;
  server_->GetOnError()(server_.get(), "x", raise);
  EXPECT_EQ(applicationErrors, 1);
  server_->GetOnServerShutdown()(server_.get(), "y");
  EXPECT_EQ(applicationShutdowns, 1);
}

TEST_F(InspectorTest, TheServerIsChosenFromThisComputersListOrAnotherComputersTree) {
  TXeloDlgExplorer& form = Show();
  // The list is filled the first time it opens, without touching the text.
  form.ServerCombo->setEditText("typed");
  ASSERT_EQ(form.ServerCombo->count(), 0);
  form.ServerCombo->showPopup();
  form.ServerCombo->hidePopup();
  EXPECT_GE(form.ServerCombo->findText(QString::fromStdString(sim::kProgIdSim)), 0);
  EXPECT_EQ(form.ServerCombo->currentText(), "typed");
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the hourglass is gone again";
  const int listed = form.ServerCombo->count();
  form.ServerCombo->showPopup();
  form.ServerCombo->hidePopup();
  EXPECT_EQ(form.ServerCombo->count(), listed) << "filled once";

  // A server chosen in the browse dialog: its class identifier, not its
  // name, goes into the combo box.
  QString chosenClassId;
  WhenModalShows([&](QDialog& dialog) {
    QTest::mouseClick(dialog.findChild<QPushButton*>("bSearch"), Qt::LeftButton);
    auto* tree = dialog.findChild<QTreeWidget*>("TreeView1");
    ASSERT_GT(tree->topLevelItemCount(), 0);
    ASSERT_GT(tree->topLevelItem(0)->childCount(), 0);
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    chosenClassId = dialog.findChild<QLineEdit*>("eServerClsId")->text();
    QTest::mouseClick(dialog.findChild<QPushButton*>("bOk"), Qt::LeftButton);
  });
  QTest::mouseClick(form.bRemoteSelect, Qt::LeftButton);
  EXPECT_TRUE(chosenClassId.startsWith("{")) << chosenClassId.toStdString();
  EXPECT_EQ(form.ServerCombo->currentText(), chosenClassId);
  // Cancelled, the dialog still hands back the computer name typed there.
  WhenModalShows([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>("eComputername")->setText("plant-pc");
    dialog.reject();
  });
  QTest::mouseClick(form.bRemoteSelect, Qt::LeftButton);
  EXPECT_EQ(server_->GetComputerName(), "plant-pc");
  EXPECT_EQ(form.ServerCombo->currentText(), chosenClassId);
}

TEST_F(InspectorTest, TheGroupMenuAddsEditsAndRemovesGroupsThroughTheGroupDialog) {
  TXeloDlgExplorer& form = Show();
  // Nothing selected: removing does nothing, properties asks first.
  form.TreeView1->clearSelection();
  Entry(form.GroupPopup, "Remove Group")->trigger();
  EXPECT_EQ(server_->GetOPCGroups()->GetCount(), 1);
  Entry(form.GroupPopup, "Properties...")->trigger();
  EXPECT_EQ(Shown(), std::vector<std::string>{"First select Group"});

  // A group added with rate 500 makes 500 the default of later groups.
  WhenModalShows([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>("eGroupName")->setText("Second");
    dialog.findChild<QLineEdit*>("eUpdateRate")->setText("500");
    QTest::mouseClick(dialog.findChild<QPushButton*>("bOk"), Qt::LeftButton);
  });
  Entry(form.GroupPopup, "Add Group...")->trigger();
  ASSERT_EQ(server_->GetOPCGroups()->GetCount(), 2);
  EXPECT_EQ(server_->GetOPCGroups()->GetItem(1)->GetName(), "Second");
  EXPECT_EQ(server_->GetOPCGroups()->GetItem(1)->GetUpdateRate(), 500);
  EXPECT_EQ(server_->GetOPCGroupDefault()->GetUpdateRate(), 500);
  EXPECT_EQ(server_->GetOPCGroups()->Add("Third")->GetUpdateRate(), 500);
  ASSERT_EQ(form.TreeView1->selectedItems().size(), 1);
  EXPECT_EQ(form.TreeView1->selectedItems().first()->text(0), "Second");

  // Properties of the selected group: renamed, rate changed.
  WhenModalShows([](QDialog& dialog) {
    EXPECT_EQ(dialog.findChild<QLineEdit*>("eUpdateRate")->text(), "500");
    dialog.findChild<QLineEdit*>("eGroupName")->setText("Renamed");
    dialog.findChild<QLineEdit*>("eUpdateRate")->setText("250");
    QTest::mouseClick(dialog.findChild<QPushButton*>("bOk"), Qt::LeftButton);
  });
  Entry(form.GroupPopup, "Properties...")->trigger();
  EXPECT_EQ(server_->GetOPCGroups()->GetItem(1)->GetName(), "Renamed");
  EXPECT_EQ(server_->GetOPCGroups()->GetItem(1)->GetUpdateRate(), 250);
  EXPECT_EQ(form.TreeView1->selectedItems().first()->text(0), "Renamed");

  // The menu opens on a right click in the tree.
  bool opened = false;
  QTimer::singleShot(50, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    opened = menu == form.GroupPopup;
    if (menu != nullptr) menu->close();
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), form.TreeView1->viewport()->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(form.TreeView1->viewport(), &click);
  EXPECT_TRUE(opened);

  Entry(form.GroupPopup, "Remove Group")->trigger();
  EXPECT_EQ(server_->GetOPCGroups()->Exists("Renamed"), -1);
  EXPECT_EQ(form.TreeView1->topLevelItemCount(), 1);
  Entry(form.GroupPopup, "Remove all Groups")->trigger();
  EXPECT_EQ(server_->GetOPCGroups()->GetCount(), 0);
  EXPECT_EQ(form.TreeView1->topLevelItemCount(), 0);
}

TEST_F(InspectorTest, TheItemMenuFollowsTheSelectionAndTogglesActive) {
  server_->SetActive(true);
  ASSERT_TRUE(WaitFor([&] { return !number_->GetValue().IsEmpty(); }));
  TXeloDlgExplorer& form = Show();
  emit form.ItemPopup->aboutToShow();
  for (QAction* action : form.ItemPopup->actions()) {
    if (!action->isSeparator()) {
      EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    }
  }
  SelectGroup("G");
  ASSERT_EQ(form.ItemView->topLevelItemCount(), 2);
  QTreeWidgetItem* row = form.ItemView->topLevelItem(0);
  EXPECT_EQ(row->text(0), "Static.Int32");
  EXPECT_EQ(row->text(2), "X");
  EXPECT_EQ(row->text(4), "good");
  form.ItemView->setCurrentItem(row);
  emit form.ItemPopup->aboutToShow();
  QAction* active = Entry(form.ItemPopup, "Active");
  EXPECT_TRUE(active->isEnabled());
  EXPECT_TRUE(active->isChecked());
  active->trigger();
  EXPECT_FALSE(number_->GetIsActive());
  EXPECT_EQ(form.ItemView->topLevelItem(0)->text(2), " ");
  emit form.ItemPopup->aboutToShow();
  active->trigger();
  EXPECT_TRUE(number_->GetIsActive());

  // The value columns follow the data changes; a value written through the
  // menu is converted to the item's type and comes back.
  WhenModalShows([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>()->setText("4711");
    dialog.accept();
  });
  Entry(form.ItemPopup, "Write value...")->trigger();
  EXPECT_TRUE(WaitFor([&] { return form.ItemView->topLevelItem(0)->text(3) == "4711"; }));
  EXPECT_TRUE(form.lErrorinfo->text().isEmpty());
  WhenModalShows([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>()->setText("not a number");
    dialog.accept();
  });
  Entry(form.ItemPopup, "Write value...")->trigger();
  EXPECT_EQ(Shown().size(), 1u) << "a text that is no number is reported";

  form.ItemView->setCurrentItem(form.ItemView->topLevelItem(1));
  Entry(form.ItemPopup, "Remove Item")->trigger();
  EXPECT_EQ(group_->GetOPCItems()->GetCount(), 1);
  EXPECT_EQ(form.ItemView->topLevelItemCount(), 1);
  Entry(form.ItemPopup, "Remove all Items")->trigger();
  EXPECT_EQ(group_->GetOPCItems()->GetCount(), 0);
  EXPECT_EQ(form.ItemView->topLevelItemCount(), 0);
}

// A whole session as a user has it, with the screenshot kept: connect, add
// a group, add three items from the browse dialog, see values arrive.
TEST_F(InspectorTest, ASessionConnectsAddsAGroupAndItemsAndShowsTheirValues) {
  server_->GetOPCGroups()->RemoveAll();
  TXeloDlgExplorer& form = Show();
  QTest::mouseClick(form.bConnect, Qt::LeftButton);
  ASSERT_TRUE(server_->GetActive());
  WhenModalShows([](QDialog& dialog) {
    dialog.findChild<QLineEdit*>("eGroupName")->setText("Plant");
    dialog.findChild<QLineEdit*>("eUpdateRate")->setText("100");
    QTest::mouseClick(dialog.findChild<QPushButton*>("bOk"), Qt::LeftButton);
  });
  Entry(form.GroupPopup, "Add Group...")->trigger();
  ASSERT_EQ(server_->GetOPCGroups()->GetCount(), 1);

  // Down to the leaves of the first device, three of them chosen.
  server_->GetOPCBrowser()->Moveto("Channel 1.Device 1");
  WhenModalShows([](QDialog& dialog) {
    auto* list = dialog.findChild<QListWidget*>("ListView");
    int chosen = 0;
    for (int i = 0; i < list->count() && chosen < 3; ++i) {
      if (list->item(i)->data(Qt::UserRole).toInt() == 1) {
        list->item(i)->setSelected(true);
        ++chosen;
      }
    }
    QTest::mouseClick(dialog.findChild<QPushButton*>("bOk"), Qt::LeftButton);
  });
  emit form.ItemPopup->aboutToShow();
  Entry(form.ItemPopup, "Add Item..")->trigger();
  TXeloItems* items = server_->GetOPCGroups()->GetItem(0)->GetOPCItems();
  ASSERT_EQ(items->GetCount(), 3);
  ASSERT_EQ(form.ItemView->topLevelItemCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(items->GetItem(i)->GetIsActive());
    EXPECT_EQ(form.ItemView->topLevelItem(i)->text(0).toStdString(), items->GetItem(i)->GetItemID());
  }
  EXPECT_TRUE(WaitFor([&] {
    for (int i = 0; i < 3; ++i) {
      if (form.ItemView->topLevelItem(i)->text(4) != "good") return false;
    }
    return form.LState->text() == "running";
  }));
  EXPECT_TRUE(SaveScreenshot(form, "inspector"));
}

}  // namespace
}  // namespace xelo::test
