// The binding table and its item dialog on a small form, driven as a user
// drives them: the rows over the form's controls, the remembered default
// property names (in a scratch settings store, never the user's), reset and
// assign, the rows turned into bindings on close, bindings and controls that
// go while the table is open, and what the item dialog hands back.
#include "xelo/dialogs/XeloGUIDlg.h"

#include "xelo/dialogs/xGUIShowItems.h"
#include "xelo/framework/Registry.h"

#include "support/QtScene.h"
#include "support/ScratchDirectory.h"

#include <QGroupBox>
#include <QToolButton>

namespace xelo::test {
namespace {

using Texts = std::vector<std::string>;

Texts Columns(const QTreeWidgetItem* r) { return {Utf8(r->text(0)), Utf8(r->text(1)), Utf8(r->text(2)), Utf8(r->text(3))}; }
std::string Selected(const QTreeWidget* view) {
  return view->selectedItems().isEmpty() ? "<none>" : Utf8(view->selectedItems().first()->text(0));
}

// Named controls (one in a named group box), a spin box with Qt's inner
// line edit, a memo with Qt's viewport, and an unnamed label; the group "G"
// also holds an inactive "Static.Double", the group "g" "Static.Bool".
class BindingTableTest : public QtScene {
 protected:
  void SetUp() override {
    SetSettingsDirectoryForTesting(settings_.Path());
    form_.server->GetOPCGroups()->GetOPCGroup("G")->GetOPCItems()->AddItem("Static.Double")->SetIsActive(false);
    form_.server->GetOPCGroups()->Add("g")->GetOPCItems()->AddItem("Static.Bool");
    new QLabel("unnamed", &form_.window);
  }
  void TearDown() override { SetSettingsDirectoryForTesting(std::string()); }

  void RunTable(std::function<void(TxGUISelectForm&)> script) {
    Drive(std::move(script));
    xGUISelectControls(gui_);
  }
  static void Assign(TxGUISelectForm& table, const char* control, std::function<void(TxGUIItemDlg&)> script) {
    Drive(std::move(script), &table);
    Click(table.ListView, Find(table.ListView, control), Qt::LeftButton, true);
  }
  std::vector<Texts> Bindings() const {
    std::vector<Texts> all;
    for (int i = 0; i < gui_->GetItems()->GetCount(); ++i) {
      const TxGUIItem* b = gui_->GetItems()->GetItem(i);
      all.push_back({b->GetControl() != nullptr ? Utf8(b->GetControl()->objectName()) : "<none>",
                     b->GetCtrlPropName(), b->GetOPCGroup(), b->GetOPCItem()});
    }
    return all;
  }
  auto Pick(std::function<void(TxGUIItemDlg&)> script) {
    Drive(std::move(script));
    const bool ok = xGUISelectOPCItem(form_.server, group_, item_, propName_, setDefault_);
    return std::tuple(ok, group_, item_, propName_, setDefault_);
  }

  xelo::testing::ScratchDirectory settings_;
  QtForm form_;
  TXeloGUI* gui_ = form_.gui;
  QLineEdit* edit_ = form_.Add<QLineEdit>("Edit1");
  QPlainTextEdit* memo_ = form_.Add<QPlainTextEdit>("Memo1");
  QFrame* panel_ = form_.Add<QFrame>("Panel1");
  QLineEdit* inner_ = form_.Add<QLineEdit>("Edit2", form_.Add<QGroupBox>("Box1"));
  QSpinBox* spin_ = form_.Add<QSpinBox>("Spin1");
  std::string group_ = "G", item_ = "Static.String", propName_ = "text";  // what the item dialog shows
  bool setDefault_ = true;
};

TEST_F(BindingTableTest, ListsTheFormsControlsWithTheirBindingsAndRemembersDefaultPropertyNames) {
  TxGUIItem* bound = gui_->AddItem("G", "Static.Int32", inner_, "");
  RunTable([&](TxGUISelectForm& table) {
    // Tree order; no row for Qt's inner widgets or an unnamed one.
    EXPECT_EQ(Column(table.ListView, 0), (Texts{"Edit1", "Memo1", "Panel1", "Box1", "Edit2", "Spin1"}));
    EXPECT_EQ(Column(table.ListView, 1), (Texts{"text", "lines", "", "", "text", ""}));
    EXPECT_EQ(Columns(Find(table.ListView, "Edit2")), (Texts{"Edit2", "text", "G", "Static.Int32"}));
    EXPECT_EQ(table.RowBinding(Find(table.ListView, "Edit2")), bound);
    Assign(table, "Panel1", [](TxGUIItemDlg& dialog) { EXPECT_TRUE(dialog.cDefault->isChecked()); });
    Assign(table, "Edit1", [](TxGUIItemDlg& dialog) {
      EXPECT_FALSE(dialog.cDefault->isChecked());
      dialog.ePropName->setText(" Hint ");
      dialog.cDefault->setChecked(true);
      QTest::mouseClick(dialog.bAssign, Qt::LeftButton);
    });
    EXPECT_EQ(Columns(Find(table.ListView, "Edit1")), (Texts{"Edit1", "Hint", "", ""}));
  });
  EXPECT_EQ(Bindings(), (std::vector<Texts>{{"Edit2", "text", "G", "Static.Int32"}})) << "no group nor item, no binding";
  QLineEdit elsewhereEdit;
  EXPECT_EQ(DefaultPropName(&elsewhereEdit) + " " + DefaultPropName(memo_), "Hint lines") << "any edit of any form";
}

TEST_F(BindingTableTest, ClosingTurnsRowsIntoBindingsAndLeavesThoseThatWentWhileItWasOpenAlone) {
  gui_->AddItem("G", "Static.Int32", inner_, "");
  TxGUIItem* changed = gui_->AddItem("G", "Static.String", memo_, "");
  RunTable([&](TxGUISelectForm& table) {
    Click(table.ListView, Find(table.ListView, "Edit2"), Qt::RightButton);
    EXPECT_EQ(Columns(Find(table.ListView, "Edit2")), (Texts{"Edit2", "text", "", ""}));
    Assign(table, "Edit1", [](TxGUIItemDlg& dialog) {
      dialog.TreeView1->setCurrentItem(Find(dialog.TreeView1, "G"));
      dialog.ItemView->setCurrentItem(Find(dialog.ItemView, "Static.String"));
      QTest::mouseClick(dialog.bAssign, Qt::LeftButton);
    });
    Assign(table, "Memo1", [](TxGUIItemDlg& dialog) {
      dialog.ItemView->setCurrentItem(Find(dialog.ItemView, "Static.Int32"));
      QTest::mouseClick(dialog.bAssign, Qt::LeftButton);
    });
    Find(table.ListView, "Spin1")->setText(2, "g");  // a group only
    EXPECT_EQ(Bindings().size(), 2u) << "nothing changes before the table closes";
    EXPECT_TRUE(SaveScreenshot(table, "binding-table"));
    table.close();
  });
  EXPECT_EQ(Bindings(), (std::vector<Texts>{{"Memo1", "lines", "G", "Static.Int32"},
                                            {"Edit1", "text", "G", "Static.String"},
                                            {"Spin1", "", "g", ""}}));
  EXPECT_EQ(gui_->GetItems()->GetItem(0), changed) << "changed in place";

  // A row whose widget went while the table was open is skipped; a bound
  // row left with a group only loses its binding.
  RunTable([&](TxGUISelectForm& table) {
    Find(table.ListView, "Edit1")->setText(3, "Static.Int32");
    delete edit_;
  });
  EXPECT_EQ(Bindings(), (std::vector<Texts>{{"Memo1", "lines", "G", "Static.Int32"}}));
}

TEST_F(BindingTableTest, TheItemDialogShowsTheGroupsAndHandsBackTheChoiceOnOkOnly) {
  EXPECT_EQ(Pick([](TxGUIItemDlg& dialog) {
              EXPECT_EQ(dialog.ePropName->text(), "text");
              EXPECT_EQ(dialog.GroupsNode->text(0) + QString::number(dialog.GroupsNode->childCount()), "OPC Groups2");
              EXPECT_EQ(Selected(dialog.TreeView1), "G") << "the exact name, not the other case";
              EXPECT_EQ(Column(dialog.ItemView, 0), (Texts{"Static.String", "Static.Int32", "Static.Double"}));
              EXPECT_EQ(Column(dialog.ItemView, 1), (Texts{"X", "X", " "}));
              EXPECT_EQ(Selected(dialog.ItemView), "Static.String");
              dialog.TreeView1->setCurrentItem(Find(dialog.TreeView1, "g"));
              EXPECT_EQ(Selected(dialog.ItemView), "<none>");
              dialog.ePropName->setText("  checked ");
              dialog.cDefault->setChecked(true);
              Click(dialog.ItemView, Find(dialog.ItemView, "Static.Bool"));
              EXPECT_TRUE(SaveScreenshot(dialog, "binding-item-dialog"));
              Click(dialog.ItemView, Find(dialog.ItemView, "Static.Bool"), Qt::LeftButton, true);
            }), std::tuple(true, "g", "Static.Bool", "checked", true));
  // An item deleted from the configuration meanwhile is no choice; Cancel
  // keeps the texts. (An empty name proposes "default".)
  std::tie(group_, item_, propName_) = std::tuple("G", "Static.String", "");
  EXPECT_EQ(Pick([&](TxGUIItemDlg& dialog) {
              dialog.ItemView->setCurrentItem(Find(dialog.ItemView, "Static.Double"));
              delete form_.server->GetOPCGroups()->GetOPCGroup("G")->GetOPCItems()->GetItem(2);
              QTest::mouseClick(dialog.bAssign, Qt::LeftButton);
            }), std::tuple(true, "G", "Static.String", "", true));
  EXPECT_EQ(Pick([](TxGUIItemDlg& dialog) {
              dialog.ePropName->setText("x");
              QTest::mouseClick(dialog.SpeedButton2, Qt::LeftButton);
            }), std::tuple(false, "G", "Static.String", "", false));
}

}  // namespace
}  // namespace xelo::test
