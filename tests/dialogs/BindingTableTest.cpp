// The binding table and its item dialog on a small form, driven as a user
// drives them: the rows over the form's controls, the remembered default
// property names (in a scratch settings store, never the user's), reset and
// assign, the rows turned into bindings on close, bindings and controls that
// go while the table is open, and what the item dialog hands back.
#include "xelo/dialogs/XeloGUIDlg.h"

#include "support/ScratchDirectory.h"
#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/dialogs/xGUIShowItems.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Registry.h"
#include "xelo/framework/Strings.h"
#include "xelo/framework/UserInterface.h"

#include "support/QtTesting.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <typeinfo>
#include <vector>

namespace xelo::test {
namespace {

using Texts = std::vector<std::string>;
constexpr char kKey[] = "\\Software\\Tavri\\XELO";

// Runs `script` on the next modal dialog (which must be a `Dialog`), then
// closes it if the script left it open.
template <class Dialog>
void Drive(std::function<void(Dialog&)> script, QWidget* current = nullptr) {
  WhenModalShows(
      [script](QDialog& modal) {
        auto* dialog = qobject_cast<Dialog*>(&modal);
        if (dialog != nullptr) script(*dialog);
        EXPECT_NE(dialog, nullptr) << "another dialog came";
        if (modal.isVisible()) modal.reject();
      },
      current);
}

QTreeWidgetItem* Find(const QTreeWidget* view, const char* text) {
  const QList<QTreeWidgetItem*> found = view->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  EXPECT_EQ(found.size(), 1) << text;
  return found.value(0);
}
Texts Column(const QTreeWidget* view, int column) {
  Texts texts;
  for (int r = 0; r < view->topLevelItemCount(); ++r) {
    texts.push_back(view->topLevelItem(r)->text(column).toStdString());
  }
  return texts;
}
Texts Columns(const QTreeWidgetItem* row) {
  return {row->text(0).toStdString(), row->text(1).toStdString(), row->text(2).toStdString(),
          row->text(3).toStdString()};
}
std::string Selected(const QTreeWidget* view) {
  return view->selectedItems().isEmpty() ? "<none>" : view->selectedItems().first()->text(0).toStdString();
}
// A click (button), or a double click as a user makes it, on a row.
void Click(QTreeWidget* view, QTreeWidgetItem* row, Qt::MouseButton button, bool twice = false) {
  const QPoint at = view->visualItemRect(row).center();
  QTest::mouseClick(view->viewport(), button, {}, at);
  if (!twice) return;
  QTest::mouseDClick(view->viewport(), button, {}, at);
  QTest::mouseRelease(view->viewport(), button, {}, at);
}

class BindingTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSettingsDirectoryForTesting(settings_.Path());
    previousUi_ = Application().SetUserInterface(std::make_unique<THeadlessUserInterface>(false));
    sim::SimulationControl::Reset();
    // Named controls (one in a named group box), a spin box with Qt's inner
    // line edit, a memo with Qt's viewport, and an unnamed label.
    auto* layout = new QVBoxLayout(&window_);
    layout->addWidget(edit_ = Named(new QLineEdit, "Edit1"));
    layout->addWidget(memo_ = Named(new QPlainTextEdit, "Memo1"));
    layout->addWidget(Named(new QFrame, "Panel1"));
    auto* box = Named(new QGroupBox("Box"), "Box1");
    inner_ = Named(new QLineEdit(box), "Edit2");
    layout->addWidget(box);
    layout->addWidget(spin_ = Named(new QSpinBox, "Spin1"));
    layout->addWidget(new QLabel("unnamed"));
    server_ = new TXeloServer(&form_);
    server_->SetServer(sim::kProgIdSim);
    TXeloItems* g = server_->GetOPCGroups()->Add("G")->GetOPCItems();
    g->AddItem("Static.Int32");
    text_ = g->AddItem("Static.String");
    g->AddItem("Static.Double")->SetIsActive(false);
    server_->GetOPCGroups()->Add("g")->GetOPCItems()->AddItem("Static.Bool");
    gui_ = new TXeloGUI(&form_);
  }
  void TearDown() override {
    Application().SetUserInterface(std::move(previousUi_));
    SetSettingsDirectoryForTesting(std::string());
  }
  template <class W>
  static W* Named(W* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
  }

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
      all.push_back({b->GetControl() != nullptr ? b->GetControl()->objectName().toStdString() : "<none>",
                     b->GetCtrlPropName(), b->GetOPCGroup(), b->GetOPCItem()});
    }
    return all;
  }
  auto Pick(std::function<void(TxGUIItemDlg&)> script) {
    Drive(std::move(script));
    const bool ok = xGUISelectOPCItem(server_, group_, item_, propName_, setDefault_);
    return std::tuple(ok, group_, item_, propName_, setDefault_);
  }

  xelo::testing::ScratchDirectory settings_;
  std::unique_ptr<IUserInterface> previousUi_;
  QWidget window_;
  qt::TForm form_{&window_};  // deleted first: the components before the widgets
  QLineEdit* edit_ = nullptr;
  QPlainTextEdit* memo_ = nullptr;
  QLineEdit* inner_ = nullptr;
  QSpinBox* spin_ = nullptr;
  TXeloServer* server_ = nullptr;
  TXeloItem* text_ = nullptr;
  TXeloGUI* gui_ = nullptr;
  std::string group_ = "G", item_ = "Static.String", propName_ = "text";
  bool setDefault_ = true;
};

TEST_F(BindingTableTest, RefusesAComponentWithoutServerOrNotOnAForm) {
  const auto refusal = [](TXeloGUI* gui) -> std::string {
    try {
      xGUISelectControls(gui);
    } catch (const Exception& error) {
      return typeid(error) == typeid(Exception) ? error.Message() : "<another exception class>";
    }
    return "<none>";
  };
  xGUISelectControls(nullptr);
  TComponent plain(nullptr);
  auto* elsewhere = new TXeloGUI(&plain);
  EXPECT_EQ(refusal(elsewhere), "first assign property opcserver");
  elsewhere->SetOPCServer(server_);
  EXPECT_EQ(refusal(elsewhere), "only possible on Forms");
}

TEST_F(BindingTableTest, ListsTheFormsControlsWithTheirBindingsAndRememberedDefaults) {
  TxGUIItem* bound = gui_->AddItem("G", "Static.Int32", inner_, "");
  RunTable([&](TxGUISelectForm& table) {
    EXPECT_EQ(table.windowTitle(), "OPC to GUI");
    EXPECT_EQ(table.ListView->toolTip(), "Make doubleclick to assign\nMake right mouseclick to reset");
    EXPECT_EQ(Columns(table.ListView->headerItem()), (Texts{"Control", "Propname", "OPC Group", "OPC Item"}));
    // Tree order; no row for Qt's inner widgets or an unnamed one.
    EXPECT_EQ(Column(table.ListView, 0), (Texts{"Edit1", "Memo1", "Panel1", "Box1", "Edit2", "Spin1"}));
    EXPECT_EQ(Column(table.ListView, 1), (Texts{"text", "lines", "", "", "text", ""}));
    EXPECT_EQ(Columns(Find(table.ListView, "Edit2")), (Texts{"Edit2", "text", "G", "Static.Int32"}));
    EXPECT_EQ(table.RowBinding(Find(table.ListView, "Edit2")), bound);
    EXPECT_EQ(Selected(table.ListView), "Edit1");
    Assign(table, "Panel1", [](TxGUIItemDlg& dialog) { EXPECT_TRUE(dialog.cDefault->isChecked()); });
    Assign(table, "Edit1", [](TxGUIItemDlg& dialog) {
      EXPECT_FALSE(dialog.cDefault->isChecked());
      dialog.ePropName->setText(" Hint ");
      dialog.cDefault->setChecked(true);
      QTest::mouseClick(dialog.bAssign, Qt::LeftButton);
    });
    EXPECT_EQ(Columns(Find(table.ListView, "Edit1")), (Texts{"Edit1", "Hint", "", ""}));
  });
  EXPECT_EQ(Bindings(), (std::vector<Texts>{{"Edit2", "text", "G", "Static.Int32"}}))
      << "no group nor item, no binding";
  QLineEdit elsewhere;
  EXPECT_EQ(DefaultPropName(&elsewhere), "Hint") << "any edit of any form";
  EXPECT_EQ(DefaultPropName(memo_), "lines");
  RememberDefaultPropName(nullptr, "ignored");

  // An empty name confirmed as the default forgets it.
  RunTable([&](TxGUISelectForm& table) {
    EXPECT_EQ(Column(table.ListView, 1), (Texts{"Hint", "lines", "", "", "text", ""})) << "bound: its own";
    Assign(table, "Edit1", [](TxGUIItemDlg& dialog) {
      dialog.ePropName->clear();
      dialog.cDefault->setChecked(true);
      QTest::mouseClick(dialog.bAssign, Qt::LeftButton);
    });
  });
  EXPECT_EQ(DefaultPropName(&elsewhere), "text");
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKeyReadOnly(kKey));
  TStringList names;
  registry.GetValueNames(names);
  EXPECT_EQ(names.GetCount(), 0) << "forgotten; nothing written for no control";
}

TEST_F(BindingTableTest, ClosingTurnsResetAndAssignedRowsIntoBindings) {
  gui_->AddItem("G", "Static.Int32", inner_, "");
  TxGUIItem* changed = gui_->AddItem("G", "Static.String", memo_, "");
  RunTable([&](TxGUISelectForm& table) {
    Click(table.ListView, Find(table.ListView, "Edit2"), Qt::RightButton);
    EXPECT_EQ(Columns(Find(table.ListView, "Edit2")), (Texts{"Edit2", "text", "", ""}));
    Click(table.ListView, Find(table.ListView, "Panel1"), Qt::RightButton);
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

  // A bound row left with a group only loses its binding (Spin1's too).
  RunTable([&](TxGUISelectForm& table) { Find(table.ListView, "Memo1")->setText(3, ""); });
  EXPECT_EQ(Bindings(), (std::vector<Texts>{{"Edit1", "text", "G", "Static.String"}}));
}

TEST_F(BindingTableTest, BindingsAndControlsThatGoWhileTheTableIsOpenAreLeftAlone) {
  server_->SetActive(true);
  ASSERT_TRUE(server_->GetActive());
  text_->WriteSync(Variant("no number"));
  ASSERT_TRUE(Application().ProcessMessagesUntil([&] { return text_->GetValue() == Variant("no number"); },
                                                 std::chrono::seconds(5)));
  gui_->AddItem("G", "Static.Int32", inner_, "");
  ASSERT_NE(gui_->AddItem("G", "Static.Int32", spin_, "value"), nullptr);
  gui_->AddItem("G", "Static.Int32", memo_, "");
  // A second widget of the memo's name: each row stays with its own widget.
  auto* twin = Named(new QLabel(&window_), "Memo1");
  RunTable([&](TxGUISelectForm& table) {
    delete inner_;  // its binding goes with it
    Find(table.ListView, "Spin1")->setText(3, "Static.String");  // a value the spin box cannot take
    Find(table.ListView, "Edit1")->setText(2, "G");
    delete edit_;
    const QList<QTreeWidgetItem*> twins = table.ListView->findItems("Memo1", Qt::MatchExactly);
    ASSERT_EQ(twins.size(), 2);
    twins[1]->setText(2, "G");
    twins[1]->setText(3, "Static.String");
  });
  EXPECT_EQ(Bindings(), (std::vector<Texts>{{"Memo1", "lines", "G", "Static.Int32"},
                                            {"Memo1", "text", "G", "Static.String"}}));
  EXPECT_EQ(gui_->GetItems()->GetItem(0)->GetControl(), memo_);
  EXPECT_EQ(gui_->GetItems()->GetItem(1)->GetControl(), twin);
}

TEST_F(BindingTableTest, AtDesignTimeARowClickSelectsItsControlInTheFormDesigner) {
  std::vector<QWidget*> selected;
  form_.SetDesignerSelect([&](QWidget& control) { selected.push_back(&control); });
  RunTable([&](TxGUISelectForm& table) {
    Click(table.ListView, Find(table.ListView, "Spin1"), Qt::LeftButton);
    table.reject();
  });
  EXPECT_TRUE(selected.empty()) << "not while the application runs";
  gui_->SetDesigning(true);
  RunTable([&](TxGUISelectForm& table) {
    Click(table.ListView, Find(table.ListView, "Spin1"), Qt::LeftButton);
    Click(table.ListView, Find(table.ListView, "Edit2"), Qt::LeftButton);
    table.reject();
  });
  EXPECT_EQ(selected, (std::vector<QWidget*>{spin_, inner_}));
}

TEST_F(BindingTableTest, TheItemDialogShowsTheGroupsAndHandsBackTheChoiceOnOkOnly) {
  EXPECT_EQ(Pick([](TxGUIItemDlg& dialog) {
              EXPECT_EQ(dialog.windowTitle(), "OPC Items");
              EXPECT_EQ(dialog.focusWidget(), dialog.ePropName);
              EXPECT_EQ(dialog.ePropName->text(), "text");
              const QTreeWidgetItem* top = dialog.TreeView1->topLevelItem(0);
              EXPECT_EQ(top->text(0), "OPC Groups");
              EXPECT_TRUE(top->isExpanded());
              EXPECT_EQ(top->childCount(), 2);
              EXPECT_EQ(Selected(dialog.TreeView1), "G") << "the exact name, not the other case";
              EXPECT_EQ(Column(dialog.ItemView, 0), (Texts{"Static.Int32", "Static.String", "Static.Double"}));
              EXPECT_EQ(Column(dialog.ItemView, 1), (Texts{"X", "X", " "}));
              EXPECT_EQ(Selected(dialog.ItemView), "Static.String");
              dialog.TreeView1->setCurrentItem(Find(dialog.TreeView1, "g"));
              EXPECT_EQ(Selected(dialog.ItemView), "<none>");
              dialog.ePropName->setText("  checked ");
              dialog.cDefault->setChecked(true);
              Click(dialog.ItemView, Find(dialog.ItemView, "Static.Bool"), Qt::LeftButton);
              EXPECT_TRUE(SaveScreenshot(dialog, "binding-item-dialog"));
              Click(dialog.ItemView, Find(dialog.ItemView, "Static.Bool"), Qt::LeftButton, true);
            }),
            std::tuple(true, "g", "Static.Bool", "checked", true));
  // Cancel keeps the texts; an empty property name proposes "default".
  propName_.clear();
  EXPECT_EQ(Pick([](TxGUIItemDlg& dialog) {
              EXPECT_TRUE(dialog.cDefault->isChecked());
              dialog.ePropName->setText("x");
              QTest::mouseClick(dialog.SpeedButton2, Qt::LeftButton);
            }),
            std::tuple(false, "g", "Static.Bool", "", false));
  // The top node keeps the group; no row empties the item. ("default"
  // stays ticked: the name is still empty.)
  EXPECT_EQ(Pick([](TxGUIItemDlg& dialog) {
              dialog.TreeView1->setCurrentItem(dialog.GroupsNode);
              QTest::mouseClick(dialog.bAssign, Qt::LeftButton);
            }),
            std::tuple(true, "g", "", "", true));
  // An item deleted from the configuration meanwhile is no choice.
  group_ = "G";
  item_ = "Static.String";
  EXPECT_EQ(Pick([&](TxGUIItemDlg& dialog) {
              dialog.ItemView->setCurrentItem(Find(dialog.ItemView, "Static.Double"));
              delete server_->GetOPCGroups()->GetOPCGroup("G")->GetOPCItems()->GetItem(2);
              QTest::mouseClick(dialog.bAssign, Qt::LeftButton);
            }),
            std::tuple(true, "G", "Static.String", "", true));
}

}  // namespace
}  // namespace xelo::test
