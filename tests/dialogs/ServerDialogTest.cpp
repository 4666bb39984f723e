// The server browse dialog against the embedded simulation's server list:
// the tree by category, what a selected node puts into the edits, what the
// dialog function hands back on Ok and on Cancel, searching again, nothing
// found, and a failing enumeration.
#include "xelo/dialogs/XeloServerDlg.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/UserInterface.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"

#include "support/QtTesting.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace xelo::test {
namespace {

using Texts = std::vector<std::string>;

constexpr char kSimClassId[] = "{5C1A0001-7E10-4B8A-9C35-58454C4F5349}";
constexpr char kSimAEClassId[] = "{5C1A0004-7E10-4B8A-9C35-58454C4F5349}";

// A server's node as Tree() below writes it.
std::string Node(const char* userType) { return "  " + std::string(userType); }

// The tree as the simulation's server list fills it: every server under
// each category it was found in, roots in the order of their first server.
const Texts kFullTree{
    "DA Servers 1.0", Node(sim::kUserTypeSim),   Node(sim::kUserTypeSimDA1),   //
    "DA Servers 2.0", Node(sim::kUserTypeSim),   Node(sim::kUserTypeSimFlat),  //
    "AE Servers 1.0", Node(sim::kUserTypeSimAE),
};

class ServerDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ui = std::make_unique<THeadlessUserInterface>(false);
    ui_ = ui.get();
    previousUi_ = Application().SetUserInterface(std::move(ui));
    sim::SimulationControl::Reset();
  }
  void TearDown() override {
    sim::SimulationControl::Reset();
    Application().SetUserInterface(std::move(previousUi_));
  }

  // Runs the dialog function with `script` driving the form; whatever the
  // script leaves open is cancelled.
  bool Browse(std::function<void(TxeloServerBrowseDlg&)> script) {
    WhenModalShows([script = std::move(script)](QDialog& modal) {
      auto* dialog = qobject_cast<TxeloServerBrowseDlg*>(&modal);
      if (dialog == nullptr) {
        ADD_FAILURE() << "another dialog came";
      } else {
        script(*dialog);
      }
      if (modal.isVisible()) modal.reject();
    });
    return xeloBrowseServer(computer_, server_, classId_);
  }

  // Roots, and their children indented; a node that shows an entry which is
  // not the browser's, or a root with an entry, is marked.
  static Texts Tree(const TxeloServerBrowseDlg& dialog) {
    Texts lines;
    for (int r = 0; r < dialog.TreeView1->topLevelItemCount(); ++r) {
      const QTreeWidgetItem* root = dialog.TreeView1->topLevelItem(r);
      lines.push_back(root->text(0).toStdString() + (root->data(0, Qt::UserRole).isValid() ? " (entry!)" : ""));
      for (int c = 0; c < root->childCount(); ++c) {
        const QTreeWidgetItem* node = root->child(c);
        const auto* entry = reinterpret_cast<const TxeloServerItem*>(node->data(0, Qt::UserRole).value<quintptr>());
        bool known = false;
        for (int i = 0; i < dialog.Browser().GetCount(); ++i) known = known || dialog.Browser().GetItems(i) == entry;
        const bool matches = known && entry->UserType == node->text(0).toStdString();
        lines.push_back("  " + node->text(0).toStdString() + (matches ? "" : " (no entry!)"));
      }
    }
    return lines;
  }

  static void Click(QTreeWidget* tree, QTreeWidgetItem* node) {
    tree->scrollToItem(node);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(node).center());
  }

  std::string computer_;
  std::string server_ = "before";
  std::string classId_ = "before";
  THeadlessUserInterface* ui_ = nullptr;
  std::unique_ptr<IUserInterface> previousUi_;
};

TEST_F(ServerDialogTest, ADualServerShowsUnderBothDARootsAndOkHandsBackTheSelection) {
  computer_ = "localhost";
  const bool ok = Browse([&](TxeloServerBrowseDlg& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Select OPC Server");
    Texts labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) labels.push_back(label->text().toStdString());
    EXPECT_EQ(labels, (Texts{"Computername", "Servername", "Server Class ID"}));
    EXPECT_EQ(dialog.findChild<QTreeWidget*>("TreeView1"), dialog.TreeView1);
    EXPECT_EQ(dialog.findChild<QPushButton*>("bCancel"), dialog.bCancel);
    EXPECT_TRUE(dialog.eServerName->isReadOnly());
    EXPECT_TRUE(dialog.eServerClsId->isReadOnly());
    EXPECT_EQ(dialog.eComputername->text(), "localhost");

    // Enter in the computer name searches: the default button.
    QTest::keyClick(dialog.eComputername, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the hourglass stayed";
    ASSERT_EQ(Tree(dialog), kFullTree);
    EXPECT_EQ(dialog.Browser().GetComputerName(), "localhost");
    EXPECT_FALSE(dialog.TreeView1->topLevelItem(0)->isExpanded());

    dialog.TreeView1->expandAll();
    Click(dialog.TreeView1, dialog.TreeView1->topLevelItem(0)->child(1));
    EXPECT_EQ(dialog.eServerName->text(), sim::kProgIdSimDA1);
    for (int root : {0, 1}) {
      Click(dialog.TreeView1, dialog.TreeView1->topLevelItem(root)->child(0));
      EXPECT_EQ(dialog.eServerName->text(), sim::kProgIdSim) << root;
      EXPECT_EQ(dialog.eServerClsId->text(), kSimClassId) << root;
    }
    EXPECT_TRUE(SaveScreenshot(dialog, "server-dialog"));
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(server_, sim::kProgIdSim);
  EXPECT_EQ(classId_, kSimClassId);
  EXPECT_EQ(computer_, "localhost");
  EXPECT_TRUE(ui_->ShownTexts().empty());
}

TEST_F(ServerDialogTest, ARootEmptiesTheEditsAndOkThenCancels) {
  const bool ok = Browse([&](TxeloServerBrowseDlg& dialog) {
    QTest::mouseClick(dialog.bSearch, Qt::LeftButton);
    dialog.TreeView1->expandAll();
    QTreeWidgetItem* aeRoot = dialog.TreeView1->topLevelItem(2);
    Click(dialog.TreeView1, aeRoot->child(0));
    EXPECT_EQ(dialog.eServerClsId->text(), kSimAEClassId);
    Click(dialog.TreeView1, aeRoot);
    EXPECT_EQ(dialog.eServerName->text(), "");
    EXPECT_EQ(dialog.eServerClsId->text(), "");
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible()) << "Ok closes also without a server";
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(server_, "");
  EXPECT_EQ(classId_, "");
}

TEST_F(ServerDialogTest, CancelStillHandsBackWhatTheEditsShowed) {
  const bool ok = Browse([&](TxeloServerBrowseDlg& dialog) {
    QTest::keyClicks(dialog.eComputername, "localhost");
    QTest::mouseClick(dialog.bSearch, Qt::LeftButton);
    dialog.TreeView1->expandAll();
    Click(dialog.TreeView1, dialog.TreeView1->topLevelItem(2)->child(0));
    QTest::mouseClick(dialog.bCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(computer_, "localhost");
  EXPECT_EQ(server_, sim::kProgIdSimAE);
  EXPECT_EQ(classId_, kSimAEClassId);
}

TEST_F(ServerDialogTest, EverySearchStartsAfreshAndNothingFoundOrAFailureIsToldToTheUser) {
  TxeloServerBrowseDlg dialog;
  dialog.show();
  dialog.SearchClick();
  dialog.TreeView1->expandAll();
  Click(dialog.TreeView1, dialog.TreeView1->topLevelItem(0)->child(0));
  ASSERT_EQ(dialog.eServerName->text(), sim::kProgIdSim);

  // The roots come back in the order of their first servers; none is kept.
  dialog.Browser().SetServertype({svr_AE10, svr_DA20});
  dialog.SearchClick();
  EXPECT_EQ(Tree(dialog), (Texts{"DA Servers 2.0", Node(sim::kUserTypeSim), Node(sim::kUserTypeSimFlat),  //
                                 "AE Servers 1.0", Node(sim::kUserTypeSimAE)}));
  EXPECT_EQ(dialog.eServerName->text(), "") << "the selection went with the old tree";
  EXPECT_EQ(dialog.eServerClsId->text(), "");
  EXPECT_TRUE(ui_->ShownTexts().empty());

  dialog.Browser().SetServertype({});
  QTest::mouseClick(dialog.bSearch, Qt::LeftButton);
  EXPECT_EQ(dialog.TreeView1->topLevelItemCount(), 0);
  EXPECT_EQ(ui_->ShownTexts(), Texts{"no OPC Server found on selected Computer"});
  EXPECT_TRUE(dialog.isVisible());

  dialog.Browser().SetServertype({svr_DA10, svr_DA20, svr_AE10});
  sim::SimulationControl::FailMethod("IOPCServerList::EnumClassesOfCategories", E_OUTOFMEMORY);
  EXPECT_THROW(dialog.SearchClick(), EOleSysError);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the hourglass stayed after the failure";
  ui_->Clear();
  QTest::mouseClick(dialog.bSearch, Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  const auto records = ui_->Records();
  ASSERT_EQ(records.size(), 1u) << "the error, and no claim that nothing was found";
  EXPECT_EQ(records[0].kind, THeadlessUserInterface::Kind::Exception);
  EXPECT_EQ(dialog.TreeView1->topLevelItemCount(), 0);
  EXPECT_TRUE(dialog.isVisible());

  sim::SimulationControl::ClearMethodFailures();
  dialog.SearchClick();
  EXPECT_EQ(Tree(dialog), kFullTree);
}

}  // namespace
}  // namespace xelo::test
