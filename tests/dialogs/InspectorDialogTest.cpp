// The OPC Inspector against the simulation server, driven as a user drives
// it: the status once a second, connecting and disconnecting, the server's
// events taken over while the window is open and given back after, the
// group and item menus with the dialogs they open, and the value columns.
#include "xelo/dialogs/XeloInspectorDlg.h"

#include "xelo/qt/EventLoop.h"

#include "support/QtScene.h"

namespace xelo::test {
namespace {

class InspectorTest : public QtScene {
 protected:
  void SetUp() override { MakeServer(false); }

  // The inspector shown without a modal loop, so the test goes on.
  TXeloDlgExplorer& Show() {
    form_ = std::make_unique<TXeloDlgExplorer>(server_.get());
    form_->show();
    return *form_;
  }
  static bool QtWaitFor(const std::function<bool()>& done, int ms = 5000) { return QTest::qWaitFor(done, ms); }
  static QAction* Entry(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
      if (action->text() == text) return action;
    ADD_FAILURE() << "no entry " << Utf8(text);
    return nullptr;
  }
  // Scripts the group dialog that `entry` of the group menu opens.
  void GroupDialog(const char* entry, const char* name, const char* rate) {
    WhenModalShows([=](QDialog& dialog) {
      dialog.findChild<QLineEdit*>("eGroupName")->setText(name);
      dialog.findChild<QLineEdit*>("eUpdateRate")->setText(rate);
      QTest::mouseClick(dialog.findChild<QPushButton*>("bOk"), Qt::LeftButton);
    });
    Entry(form_->GroupPopup, entry)->trigger();
  }
  std::string Status() const {
    return Utf8(form_->LServer->text() + "|" + form_->LState->text() + "|" + form_->LInfo->text() + "|" +
                form_->LName->text() + "|" + form_->LDeadBand->text() + "|" + form_->LActive->text());
  }

  std::unique_ptr<qt::EventLoopBridge> bridge_ = std::make_unique<qt::EventLoopBridge>();
  std::unique_ptr<TXeloDlgExplorer> form_;
};

TEST_F(InspectorTest, TheServersEventsAreTheInspectorsWhileItIsOpenAndComeBackAfter) {
  int applicationErrors = 0, applicationShutdowns = 0;
  server_->SetOnError([&](TPersistent*, const std::string&, bool& raise) { ++applicationErrors; raise = false; });
  server_->SetOnServerShutdown([&](TPersistent*, const std::string&) { ++applicationShutdowns; });
  server_->SetActive(true);
  bool sawShutdown = false;
  std::string errorLine;
  Drive<TXeloDlgExplorer>([&](TXeloDlgExplorer& form) {
    // An empty name is refused with a message.
    form.ServerCombo->setEditText("  ");
    QTest::mouseClick(form.bConnect, Qt::LeftButton);
    // A shutdown request: the refresh stops, the line says so.
    sim::SimulationControl::RequestShutdown(u"maintenance");
    sawShutdown = QtWaitFor([&] { return form.lErrorinfo->text() == "Disconnect from Server"; });
    EXPECT_FALSE(form.Timer1->isActive());
    // A server that cannot be created: the error shows in the red line,
    // and raises as the component says (the application shows it).
    form.ServerCombo->setEditText("No.Such.Server.1");
    QTest::mouseClick(form.bConnect, Qt::LeftButton);
    errorLine = Utf8(form.lErrorinfo->text());
    form.ServerCombo->setEditText("Typed.But.Not.Connected");
  });
  OPCExplorer(server_.get());
  EXPECT_TRUE(sawShutdown && !errorLine.empty());
  EXPECT_EQ(Shown(), (std::vector<std::string>{"first select OPC Server", errorLine}));
  // The typed name is the server's, though never connected.
  EXPECT_EQ(server_->GetServerName(), "Typed.But.Not.Connected");
  // The application's handlers are back, and had nothing meanwhile.
  bool raise = true;
  server_->GetOnError()(server_.get(), "x", raise);
  server_->GetOnServerShutdown()(server_.get(), "y");
  EXPECT_EQ(std::pair(applicationErrors, applicationShutdowns), std::pair(1, 1));
}

// A whole session as a user has it, with the screenshot kept.
TEST_F(InspectorTest, TheStatusComesEverySecondWhileConnectedAndTheMenusAddEditAndRemoveGroupsAndItems) {
  TXeloDlgExplorer& form = Show();
  EXPECT_TRUE(Utf8(form.ServerCombo->currentText()) == sim::kProgIdSim && form.Timer1->isActive());
  // Inactive: the first tick clears and stops.
  EXPECT_TRUE(QtWaitFor([&] { return !form.Timer1->isActive() && form.LServer->text() == "not connected"; }, 2000));

  sim::SimulationControl::SetVendorInfo(u"Vendor of the test");
  QTest::mouseClick(form.bConnect, Qt::LeftButton);
  ASSERT_TRUE(server_->GetActive());
  ASSERT_TRUE(QtWaitFor([&] { return form.LServer->text() != "not connected"; }, 2000));
  EXPECT_EQ(Status(), std::string(sim::kProgIdSim) + "|running|Vendor of the test|||") << "no group selected";
  form.TreeView1->setCurrentItem(form.TreeView1->topLevelItem(0));
  ASSERT_TRUE(QtWaitFor([&] { return form.LName->text() == "G"; }, 2000)) << "refreshed every second";
  EXPECT_EQ(Status(), std::string(sim::kProgIdSim) + "|running|Vendor of the test|G|0.00|active");
  tGroupStateRec state;
  group_->GetState(state);  // the rate the server granted
  EXPECT_EQ(form.LUpdate->text(), QString::number(state.UpdateRate));

  // Nothing selected: properties asks first.
  form.TreeView1->clearSelection();
  Entry(form.GroupPopup, "Properties...")->trigger();
  EXPECT_EQ(Shown(), std::vector<std::string>{"First select Group"});

  // A group added with rate 500 makes 500 the default of later groups; its
  // properties (it is selected) rename it and change the rate.
  GroupDialog("Add Group...", "Plant", "500");
  ASSERT_EQ(server_->GetOPCGroups()->GetCount(), 2);
  TXeloGroup* plant = server_->GetOPCGroups()->GetItem(1);
  EXPECT_EQ(server_->GetOPCGroupDefault()->GetUpdateRate(), 500);
  GroupDialog("Properties...", "Renamed", "250");
  EXPECT_EQ(plant->GetName() + " " + std::to_string(plant->GetUpdateRate()), "Renamed 250");

  // Three leaves of the first device chosen in the browse dialog: active,
  // listed, and their values good.
  server_->GetOPCBrowser()->Moveto("Channel 1.Device 1");
  WhenModalShows([](QDialog& dialog) {
    auto* list = dialog.findChild<QListWidget*>("ListView");  // the device's leaves only
    for (int i = 0; i < std::min(3, list->count()); ++i) list->item(i)->setSelected(true);
    QTest::mouseClick(dialog.findChild<QPushButton*>("bOk"), Qt::LeftButton);
  });
  emit form.ItemPopup->aboutToShow();
  Entry(form.ItemPopup, "Add Item..")->trigger();
  ASSERT_EQ(std::pair(plant->GetOPCItems()->GetCount(), form.ItemView->topLevelItemCount()), std::pair(3, 3));
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(plant->GetOPCItems()->GetItem(i)->GetIsActive() &&
                Utf8(form.ItemView->topLevelItem(i)->text(0)) == plant->GetOPCItems()->GetItem(i)->GetItemID()) << i;
  EXPECT_TRUE(QtWaitFor([&] {
    return Column(form.ItemView, 4) == std::vector<std::string>(3, "good") && form.LState->text() == "running";
  }));
  EXPECT_TRUE(SaveScreenshot(form, "inspector"));

  // On the first group: a value written through the menu is converted to
  // the item's type and comes back; Active toggles.
  form.TreeView1->setCurrentItem(form.TreeView1->topLevelItem(0));
  QTreeWidgetItem* row = form.ItemView->topLevelItem(0);
  form.ItemView->setCurrentItem(row);
  WhenModalShows([](QDialog& dialog) { dialog.findChild<QLineEdit*>()->setText("4711"); dialog.accept(); });
  Entry(form.ItemPopup, "Write value...")->trigger();
  EXPECT_TRUE(QtWaitFor([&] { return form.ItemView->topLevelItem(0)->text(3) == "4711"; }));
  emit form.ItemPopup->aboutToShow();
  QAction* active = Entry(form.ItemPopup, "Active");
  EXPECT_TRUE(active->isEnabled() && active->isChecked());
  active->trigger();
  EXPECT_FALSE(number_->GetIsActive());
  EXPECT_EQ(form.ItemView->topLevelItem(0)->text(2), " ");

  Entry(form.ItemPopup, "Remove all Items")->trigger();
  EXPECT_EQ(group_->GetOPCItems()->GetCount() + form.ItemView->topLevelItemCount(), 0);
  Entry(form.GroupPopup, "Remove Group")->trigger();
  EXPECT_EQ(server_->GetOPCGroups()->Exists("G"), -1);
  Entry(form.GroupPopup, "Remove all Groups")->trigger();
  EXPECT_EQ(server_->GetOPCGroups()->GetCount() + form.TreeView1->topLevelItemCount(), 0);

  // Disconnect: the next tick clears and stops.
  QTest::mouseClick(form.BDisconnect, Qt::LeftButton);
  EXPECT_FALSE(server_->GetActive());
  EXPECT_TRUE(QtWaitFor([&] { return !form.Timer1->isActive() && form.LServer->text() == "not connected"; }, 2000));
}

}  // namespace
}  // namespace xelo::test
