// The server browse dialog against the embedded simulation's server list:
// the tree by category, what a selected node puts into the edits, what the
// dialog function hands back on Ok and on Cancel, searching again, nothing
// found, and a failing enumeration.
#include "xelo/dialogs/XeloServerDlg.h"

#include "xelo/framework/Exceptions.h"

#include "support/QtScene.h"

namespace xelo::test {
namespace {

using Texts = std::vector<std::string>;

constexpr char kSimClassId[] = "{5C1A0001-7E10-4B8A-9C35-58454C4F5349}";
constexpr char kSimAEClassId[] = "{5C1A0004-7E10-4B8A-9C35-58454C4F5349}";

// The tree as the simulation's server list fills it: every server under
// each category it was found in, roots in the order of their first server.
const Texts kFullTree{"DA Servers 1.0", std::string("  ") + sim::kUserTypeSim,  std::string("  ") + sim::kUserTypeSimDA1,
                      "DA Servers 2.0", std::string("  ") + sim::kUserTypeSim,  std::string("  ") + sim::kUserTypeSimFlat,
                      "AE Servers 1.0", std::string("  ") + sim::kUserTypeSimAE};

// Roots, and their children indented; each child must hold its entry of
// the browser.
Texts Tree(const TxeloServerBrowseDlg& dialog) {
  Texts lines;
  for (int r = 0; r < dialog.TreeView1->topLevelItemCount(); ++r) {
    const QTreeWidgetItem* root = dialog.TreeView1->topLevelItem(r);
    lines.push_back(Utf8(root->text(0)));
    for (int c = 0; c < root->childCount(); ++c) {
      const auto* entry = reinterpret_cast<const TxeloServerItem*>(root->child(c)->data(0, Qt::UserRole).value<quintptr>());
      lines.push_back("  " + (entry != nullptr ? entry->UserType : "(no entry!)"));
    }
  }
  return lines;
}

std::string ServerEdits(const TxeloServerBrowseDlg& dialog) {
  return Utf8(dialog.eServerName->text() + " " + dialog.eServerClsId->text());
}

void ClickNode(QTreeWidget* tree, int root, int child = -1) {
  tree->expandAll();
  Click(tree, child < 0 ? tree->topLevelItem(root) : tree->topLevelItem(root)->child(child));
}

class ServerDialogTest : public QtScene {
 protected:
  bool Browse(std::function<void(TxeloServerBrowseDlg&)> script) {
    Drive(std::move(script));
    return xeloBrowseServer(computer_, server_, classId_);
  }
  std::string computer_ = "localhost", server_ = "before", classId_ = "before";
};

TEST_F(ServerDialogTest, ADualServerShowsUnderBothDARootsOkHandsBackTheSelectionAndEverySearchStartsAfresh) {
  EXPECT_TRUE(Browse([&](TxeloServerBrowseDlg& dialog) {
    EXPECT_EQ(dialog.eComputername->text(), "localhost");
    // Enter in the computer name searches: the default button.
    QTest::keyClick(dialog.eComputername, Qt::Key_Return);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the hourglass stayed";
    ASSERT_EQ(Tree(dialog), kFullTree);
    ClickNode(dialog.TreeView1, 0, 1);
    EXPECT_EQ(dialog.eServerName->text(), sim::kProgIdSimDA1);
    for (int root : {0, 1}) {
      ClickNode(dialog.TreeView1, root, 0);
      EXPECT_EQ(ServerEdits(dialog), std::string(sim::kProgIdSim) + " " + kSimClassId) << root;
    }
    EXPECT_TRUE(SaveScreenshot(dialog, "server-dialog"));
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
    EXPECT_FALSE(dialog.isVisible());
  }));
  EXPECT_EQ(computer_ + " " + server_ + " " + classId_, std::string("localhost ") + sim::kProgIdSim + " " + kSimClassId);
  EXPECT_TRUE(Shown().empty());

  // Every search starts afresh, and nothing found or a failure is told to
  // the user.
  TxeloServerBrowseDlg dialog;
  dialog.show();
  dialog.SearchClick();
  ClickNode(dialog.TreeView1, 0, 0);
  ASSERT_EQ(dialog.eServerName->text(), sim::kProgIdSim);

  // The roots come back in the order of their first servers; none is kept,
  // nor is the selection.
  dialog.Browser().SetServertype({svr_AE10, svr_DA20});
  dialog.SearchClick();
  EXPECT_EQ(Tree(dialog), (Texts{kFullTree[3], kFullTree[4], kFullTree[5], kFullTree[6], kFullTree[7]}));
  EXPECT_EQ(ServerEdits(dialog), " ");

  dialog.Browser().SetServertype({});
  QTest::mouseClick(dialog.bSearch, Qt::LeftButton);
  EXPECT_EQ(dialog.TreeView1->topLevelItemCount(), 0);
  EXPECT_EQ(Shown(), Texts{"no OPC Server found on selected Computer"});

  dialog.Browser().SetServertype({svr_DA10, svr_DA20, svr_AE10});
  sim::SimulationControl::FailMethod("IOPCServerList::EnumClassesOfCategories", E_OUTOFMEMORY);
  EXPECT_THROW(dialog.SearchClick(), EOleSysError);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "the hourglass stayed after the failure";
  ui_->Clear();
  QTest::mouseClick(dialog.bSearch, Qt::LeftButton);
  const auto records = ui_->Records();
  EXPECT_TRUE(records.size() == 1 && records[0].kind == THeadlessUserInterface::Kind::Exception)
      << records.size() << " records: the error only, and no claim that nothing was found";
  sim::SimulationControl::ClearMethodFailures();
  dialog.SearchClick();
  EXPECT_EQ(Tree(dialog), kFullTree);
}

}  // namespace
}  // namespace xelo::test
