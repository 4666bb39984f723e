// The binding component against the embedded simulation server, on real
// Qt widgets: values reaching widgets, the per-binding event, dropped and
// deleted bindings, the chain of data-change handlers, and what happens when
// the widget, the item or the server goes.
#include "xelo/gui/XeloGUI.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/Filer.h"
#include "xelo/framework/TextForm.h"
#include "xelo/framework/UserInterface.h"
#include "xelo/qt/Form.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace xelo::test {
namespace {

using namespace std::chrono_literals;

class XeloGUITest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousUi_ = Application().SetUserInterface(std::make_unique<THeadlessUserInterface>(false));
    sim::SimulationControl::Reset();
    server_ = std::make_unique<TXeloServer>(nullptr);
    server_->SetServer(sim::kProgIdSim);
    group_ = server_->GetOPCGroups()->Add("G");
    group_->SetUpdateRate(10);
    number_ = group_->GetOPCItems()->AddItem("Static.Int32");
    text_ = group_->GetOPCItems()->AddItem("Static.String");
    server_->SetActive(true);
    ASSERT_TRUE(server_->GetActive());
    ASSERT_TRUE(WaitFor([&] { return !number_->GetValue().IsEmpty() && !text_->GetValue().IsEmpty(); }));
  }
  void TearDown() override {
    gui_.reset();
    server_.reset();
    Application().ProcessMessages();
    Application().SetUserInterface(std::move(previousUi_));
  }

  static bool WaitFor(const std::function<bool()>& done) {
    return Application().ProcessMessagesUntil(done, 5s);
  }
  // What the application's handler saw: each changed item with its value.
  void Record(TXeloItemList* items) {
    ++changes_;
    for (int i = 0; i < items->GetCount(); ++i) delivered_.emplace_back(items->GetItem(i), items->GetItem(i)->GetValue());
  }
  // Writes `value` to the item and waits until a data change delivered it.
  void Change(TXeloItem* item, const Variant& value) {
    const std::size_t before = delivered_.size();
    item->WriteSync(value);
    ASSERT_TRUE(WaitFor([&] {
      for (std::size_t i = before; i < delivered_.size(); ++i) {
        if (delivered_[i].first == item && delivered_[i].second == value) return true;
      }
      return false;
    })) << VarToStr(value);
  }
  // The binding component, hooked into the server after the application's
  // recording handler.
  void MakeGUI() {
    server_->SetOnDatachange([this](TPersistent*, TXeloItemList* items) { Record(items); });
    gui_ = std::make_unique<TXeloGUI>(nullptr);
    gui_->SetOPCServer(server_.get());
  }

  std::unique_ptr<TXeloServer> server_;
  TXeloGroup* group_ = nullptr;
  TXeloItem* number_ = nullptr;
  TXeloItem* text_ = nullptr;
  std::unique_ptr<TXeloGUI> gui_;
  int changes_ = 0;
  std::vector<std::pair<TXeloItem*, Variant>> delivered_;
  std::unique_ptr<IUserInterface> previousUi_;
};

TEST_F(XeloGUITest, OnAFormTheLastServerIsTakenElseNone) {
  QWidget window;
  qt::TForm form(&window);
  auto* first = new TXeloServer(&form);
  auto* second = new TXeloServer(&form);
  EXPECT_EQ((new TXeloGUI(&form))->GetOPCServer(), second);
  EXPECT_NE(first, second);
  TComponent plain(nullptr);
  new TXeloServer(&plain);
  EXPECT_EQ((new TXeloGUI(&plain))->GetOPCServer(), nullptr);
  EXPECT_EQ(TXeloGUI(nullptr).GetOPCServer(), nullptr);
}

TEST_F(XeloGUITest, BoundWidgetsShowEachValueBeforeTheApplicationsHandlerRuns) {
  QLabel label;
  QPlainTextEdit memo;
  QCheckBox box;
  QSpinBox spin;
  spin.setRange(0, 100);
  std::string labelInHandler;
  server_->SetOnDatachange([&](TPersistent*, TXeloItemList* items) {
    Record(items);
    labelInHandler = label.text().toStdString();
  });
  gui_ = std::make_unique<TXeloGUI>(nullptr);
  gui_->SetOPCServer(server_.get());
  // Attached to an active server's item with a value: shown at once.
  TxGUIItem* labelBinding = gui_->AddItem("G", "Static.Int32", &label, "");
  EXPECT_EQ(labelBinding->GetCtrlPropName(), "text");
  EXPECT_EQ(label.text(), "32");
  EXPECT_EQ(gui_->AddItem(number_, &memo, "")->GetCtrlPropName(), "lines");
  gui_->AddItem("G", "Static.Int32", &box, "checked");
  gui_->AddItem("G", "Static.Int32", &spin, "Value");
  EXPECT_EQ(spin.value(), 32);

  Change(number_, Variant(std::int32_t{250}));
  EXPECT_EQ(label.text(), "250");
  EXPECT_EQ(labelInHandler, "250") << "the application's handler runs after the widgets";
  EXPECT_EQ(spin.value(), 100);
  EXPECT_TRUE(box.isChecked());
  Change(number_, Variant(std::int32_t{0}));
  EXPECT_FALSE(box.isChecked());
  // Every data change appends (the first value may have come twice: once
  // when bound, once more with the group's first data change).
  EXPECT_TRUE(memo.toPlainText().startsWith("32\n")) << memo.toPlainText().toStdString();
  EXPECT_TRUE(memo.toPlainText().endsWith("\n250\n0")) << memo.toPlainText().toStdString();
  EXPECT_EQ(gui_->GetXeloItem(&label, ""), number_);
  EXPECT_EQ(labelBinding->GetOPCItemRef(), number_);
  EXPECT_EQ(labelBinding->GetNamePath(), "." + label.objectName().toStdString());
}

TEST_F(XeloGUITest, TheBindingsEventSeesEachValueFirstAndMayTakeItOver) {
  MakeGUI();
  QLineEdit untouched;
  QLineEdit doubled;
  TxGUIItem* handledAlways = gui_->AddItem("G", "Static.Int32", &untouched, "");
  handledAlways->SetOnChangeData([](QWidget*, Variant&, bool&) {});
  untouched.setText("start");
  TxGUIItem* doubling = gui_->AddItem("G", "Static.Int32", &doubled, "");
  doubling->SetOnChangeData([&](QWidget* control, Variant& value, bool& handled) {
    EXPECT_EQ(control, &doubled);
    EXPECT_TRUE(handled);
    value = Variant(value.ToInt32() * 2);
    handled = false;
  });
  Change(number_, Variant(std::int32_t{21}));
  EXPECT_EQ(untouched.text(), "start");
  EXPECT_EQ(doubled.text(), "42");

  // A widget the registry does not know is bound without a property and
  // gets values only through the event.
  QSlider slider;
  TxGUIItem* free = gui_->AddItem("G", "Static.Int32", &slider, "");
  EXPECT_EQ(free->GetCtrlPropName(), "");
  int seen = 0;
  free->SetOnChangeData([&](QWidget*, Variant& value, bool& handled) {
    seen = value.ToInt32();
    handled = false;  // and then nothing is set
  });
  Change(number_, Variant(std::int32_t{5}));
  EXPECT_EQ(seen, 5);
  EXPECT_EQ(slider.value(), 0);
  EXPECT_EQ(gui_->GetItems()->GetCount(), 3);
}

TEST_F(XeloGUITest, ABindingThatCannotTakeAValueIsDroppedAndItsSiblingsGoOn) {
  MakeGUI();
  QSpinBox spin;
  QLabel first;
  QLabel last;
  QLabel nowhere;
  gui_->AddItem("G", "Static.String", &first, "");
  // "Hello" is no number: the spin box's binding goes at once.
  EXPECT_EQ(gui_->AddItem("G", "Static.String", &spin, "value"), nullptr);
  gui_->AddItem("G", "Static.String", &last, "");
  gui_->AddItem("G", "Static.String", &nowhere, "noSuchProperty");
  EXPECT_EQ(gui_->GetItems()->GetCount(), 3);
  for (int i = 0; i < gui_->GetItems()->GetCount(); ++i) EXPECT_NE(gui_->GetItems()->GetItem(i)->GetControl(), &spin);
  Change(text_, Variant("Welt"));
  EXPECT_EQ(first.text(), "Welt");
  EXPECT_EQ(last.text(), "Welt");
  EXPECT_EQ(nowhere.text(), "") << "a property the widget does not have is never set";
  EXPECT_EQ(gui_->GetItems()->GetCount(), 3) << "nor is its binding dropped";
  EXPECT_EQ(text_->GUIList().GetCount(), 3);
}

TEST_F(XeloGUITest, DeleteItemMatchesTheNameExactlyWhereGetXeloItemTakesAnyBinding) {
  MakeGUI();
  QLineEdit edit;
  gui_->AddItem("G", "Static.Int32", &edit, "Text");
  EXPECT_EQ(gui_->GetXeloItem(&edit, ""), number_);
  EXPECT_FALSE(gui_->DeleteItem(&edit, ""));
  std::string control = "kept", prop, group, item;
  ASSERT_NE(gui_->Find(&edit, control, prop, group, item), nullptr);
  EXPECT_EQ(prop + "|" + group + "|" + item, "Text|G|Static.Int32");
  EXPECT_TRUE(gui_->DeleteItem(&edit, "text"));
  EXPECT_EQ(number_->GUIList().GetCount(), 0);
  control = "kept";
  EXPECT_EQ(gui_->Find(&edit, control, prop, group, item), nullptr);
  EXPECT_EQ(control, "kept");
  EXPECT_EQ(prop + group + item, "");
}

TEST_F(XeloGUITest, ADestroyedWidgetTakesItsBindingsAndADestroyedItemLeavesThemUnattached) {
  MakeGUI();
  TXeloGUI other(nullptr);
  other.SetOPCServer(server_.get());
  auto label = std::make_unique<QLabel>();
  QLabel keeper;
  gui_->AddItem("G", "Static.Int32", label.get(), "");
  gui_->AddItem("G", "Static.String", label.get(), "toolTip");
  gui_->AddItem("G", "Static.Int32", &keeper, "");
  other.AddItem("G", "Static.Int32", label.get(), "");
  label.reset();
  EXPECT_EQ(gui_->GetItems()->GetCount(), 1);
  EXPECT_EQ(other.GetItems()->GetCount(), 0);
  EXPECT_EQ(number_->GUIList().GetCount(), 1);
  Change(number_, Variant(std::int32_t{8}));
  EXPECT_EQ(keeper.text(), "8");

  // The item goes at run time: its binding stays, unattached, and nothing
  // reaches it.
  TxGUIItem* binding = gui_->GetItems()->GetItem(0);
  ASSERT_EQ(binding->GetOPCItemRef(), number_);
  delete number_;
  number_ = nullptr;
  EXPECT_EQ(binding->GetOPCItemRef(), nullptr);
  Change(text_, Variant("still served"));
  EXPECT_EQ(keeper.text(), "8");
  binding->Update();  // no such item any more
  EXPECT_EQ(binding->GetOPCItemRef(), nullptr);
}

TEST_F(XeloGUITest, ServersAreHookedGivenBackAndSurviveAnyOrderOfRemoval) {
  int appChanges = 0;
  const TOnOPCDataChangeEvent app = [&](TPersistent*, TXeloItemList* items) {
    ++appChanges;
    Record(items);
  };
  server_->SetOnDatachange(app);
  auto first = std::make_unique<TXeloGUI>(nullptr);
  auto second = std::make_unique<TXeloGUI>(nullptr);
  first->SetOPCServer(server_.get());
  second->SetOPCServer(server_.get());
  QPlainTextEdit firstMemo;
  QPlainTextEdit secondMemo;
  first->AddItem("G", "Static.Int32", &firstMemo, "");
  second->AddItem("G", "Static.Int32", &secondMemo, "");
  auto changeTo = [&](std::int32_t value) { Change(number_, Variant(value)); };
  changeTo(1);
  firstMemo.clear();
  secondMemo.clear();
  changeTo(2);
  EXPECT_EQ(firstMemo.toPlainText(), "2") << "each binding once, by its own component";
  EXPECT_EQ(secondMemo.toPlainText(), "2");
  // The first one goes first (not the reverse of hooking): the chain holds.
  first.reset();
  changeTo(3);
  EXPECT_EQ(secondMemo.toPlainText(), "2\n3");
  second.reset();
  const int before = appChanges;
  changeTo(4);
  EXPECT_GT(appChanges, before) << "the application's handler is back in the event";
  EXPECT_EQ(secondMemo.toPlainText(), "2\n3");

  // Replacing the server gives the old one back the handler it had (none).
  TXeloServer spare(nullptr);
  server_->SetOnDatachange(nullptr);
  gui_ = std::make_unique<TXeloGUI>(nullptr);
  gui_->SetOPCServer(server_.get());
  EXPECT_TRUE(static_cast<bool>(server_->GetOnDatachange()));
  gui_->SetOPCServer(&spare);
  EXPECT_FALSE(static_cast<bool>(server_->GetOnDatachange()));
  EXPECT_TRUE(static_cast<bool>(spare.GetOnDatachange()));
  gui_->SetOPCServer(server_.get());

  // An application that sets the event after the hook replaces it.
  QLabel label;
  gui_->AddItem("G", "Static.String", &label, "");
  server_->SetOnDatachange(app);
  Change(text_, Variant("direct"));
  EXPECT_EQ(label.text(), "Hello");
}

TEST_F(XeloGUITest, ADestroyedServerLeavesTheBindingsUnattachedAndTheComponentWithoutServer) {
  QWidget window;
  qt::TForm form(&window);
  auto* server = new TXeloServer(&form);
  server->SetServer(sim::kProgIdSim);
  server->GetOPCGroups()->Add("G")->GetOPCItems()->AddItem("Static.Int32");
  auto* gui = new TXeloGUI(&form);
  ASSERT_EQ(gui->GetOPCServer(), server);
  gui->SetOPCServer(server);  // at run time the reference is set again to hook
  QLabel label;
  TxGUIItem* binding = gui->AddItem("G", "Static.Int32", &label, "");
  EXPECT_NE(binding->GetOPCItemRef(), nullptr);
  EXPECT_EQ(label.text(), "") << "an inactive server shows nothing at once";
  delete server;
  EXPECT_EQ(gui->GetOPCServer(), nullptr);
  EXPECT_EQ(binding->GetOPCItemRef(), nullptr);
  EXPECT_EQ(gui->GetItems()->GetCount(), 1);
}

TEST_F(XeloGUITest, InADesignerOnlyTheConfigurationIsStored) {
  TXeloGUI gui(nullptr);
  gui.SetDesigning(true);
  gui.SetOPCServer(server_.get());
  EXPECT_EQ(gui.GetOPCServer(), server_.get());
  EXPECT_FALSE(static_cast<bool>(server_->GetOnDatachange())) << "the server's event is not touched";
  QLabel label;
  TxGUIItem* binding = gui.AddItem("G", "Static.Int32", &label, "");
  ASSERT_NE(binding, nullptr);
  EXPECT_EQ(binding->GetOPCItemRef(), nullptr);
  EXPECT_EQ(label.text(), "");
  EXPECT_EQ(binding->GetOPCItem(), "Static.Int32");
  EXPECT_EQ(number_->GUIList().GetCount(), 0);
}

TEST_F(XeloGUITest, SetItemsCopiesTheBindings) {
  MakeGUI();
  QLabel label;
  TXeloGUI source(nullptr);
  source.SetOPCServer(server_.get());
  source.AddItem("G", "Static.Int32", &label, "");
  gui_->SetItems(source.GetItems());
  ASSERT_EQ(gui_->GetItems()->GetCount(), 1);
  EXPECT_NE(gui_->GetItems(), source.GetItems());
  EXPECT_EQ(gui_->GetItems()->GetItem(0)->GetControl(), &label);
  EXPECT_EQ(gui_->GetItems()->GetItem(0)->GetOPCItemRef(), number_);
  EXPECT_EQ(number_->GUIList().GetCount(), 2);
}

// A window with a line edit and a check box, its form, and (when `bind`)
// an active server and a binding component showing two items in them.
struct BoundWindow {
  QWidget window;
  QLineEdit* edit = new QLineEdit(&window);
  QCheckBox* box = new QCheckBox(&window);
  qt::TForm form{&window};

  explicit BoundWindow(bool bind) {
    form.SetName("Form1");
    edit->setObjectName("Edit1");
    box->setObjectName("Check1");
    if (!bind) return;
    auto* server = new TXeloServer(&form);
    server->SetName("Server1");
    server->SetServer(sim::kProgIdSim);
    TXeloGroup* group = server->GetOPCGroups()->Add("G");
    group->SetUpdateRate(10);
    group->GetOPCItems()->AddItem("Static.String");
    group->GetOPCItems()->AddItem("Static.Int32");
    auto* gui = new TXeloGUI(&form);
    gui->SetName("GUI1");
    gui->AddItem("G", "Static.String", edit, "");
    gui->AddItem("G", "Static.Int32", box, "");
    server->SetActive(true);
  }
  TXeloGUI* GUI() const { return dynamic_cast<TXeloGUI*>(form.FindComponent("GUI1")); }
};

TEST_F(XeloGUITest, AFormWithItsBindingsIsSavedAsTextAndLoadedOntoAnotherWindow) {
  std::string text;
  {
    BoundWindow saved(true);
    text = FormToText(ComponentToForm(saved.form));
  }
  // Each binding names its widget, then property, group and item; the
  // component names its server.
  const auto at = [&](const std::string& line) { return text.find(line); };
  ASSERT_NE(at("OPCServer = Server1"), std::string::npos) << text;
  EXPECT_LT(at("Control = 'Edit1'"), at("CtrlPropName = 'text'")) << text;
  EXPECT_LT(at("CtrlPropName = 'text'"), at("OPCGroup = 'G'")) << text;
  EXPECT_LT(at("OPCGroup = 'G'"), at("OPCItem = 'Static.String'")) << text;
  EXPECT_NE(at("Control = 'Check1'"), std::string::npos) << text;

  BoundWindow loaded(false);
  ReadComponentForm(ParseFormText(text), loaded.form);
  TXeloGUI* gui = loaded.GUI();
  ASSERT_NE(gui, nullptr);
  ASSERT_EQ(gui->GetItems()->GetCount(), 2);
  EXPECT_EQ(gui->GetItems()->GetItem(0)->GetControl(), loaded.edit);
  EXPECT_EQ(gui->GetItems()->GetItem(1)->GetControl(), loaded.box);
  EXPECT_NE(gui->GetItems()->GetItem(0)->GetOPCItemRef(), nullptr);
  // The loaded server connects, and its values reach the new window's
  // widgets through the loaded bindings.
  EXPECT_TRUE(WaitFor([&] { return loaded.edit->text() == "Hello" && loaded.box->isChecked(); }))
      << loaded.edit->text().toStdString();
  EXPECT_EQ(FormToText(ComponentToForm(loaded.form)), text) << "saved again unchanged";
}

TEST_F(XeloGUITest, AWidgetNameTheFormDoesNotHaveIsAnErrorThatSparesTheOtherBindings) {
  std::string text;
  {
    BoundWindow saved(true);
    text = FormToText(ComponentToForm(saved.form));
  }
  const std::size_t name = text.find("'Edit1'");
  ASSERT_NE(name, std::string::npos);
  text.replace(name, 7, "'Gone1'");
  BoundWindow loaded(false);
  try {
    ReadComponentForm(ParseFormText(text), loaded.form);
    FAIL() << "a missing widget is reported";
  } catch (const EReadError& error) {
    EXPECT_NE(std::string(error.what()).find("\"Gone1\""), std::string::npos) << error.what();
  }
  TXeloGUI* gui = loaded.GUI();
  ASSERT_NE(gui, nullptr);
  EXPECT_EQ(gui->GetItems()->GetItem(0)->GetControl(), nullptr);
  EXPECT_EQ(gui->GetItems()->GetItem(0)->GetControlName(), "Gone1") << "kept for saving";
  EXPECT_TRUE(WaitFor([&] { return loaded.box->isChecked(); }));
  EXPECT_EQ(loaded.edit->text(), "");

  // Outside loading the name is resolved at once.
  TxGUIItem* binding = gui->GetItems()->GetItem(0);
  EXPECT_THROW(binding->SetControlName("Nowhere"), EPropertyError);
  binding->SetControlName("Edit1");
  EXPECT_EQ(binding->GetControl(), loaded.edit);
  binding->SetControlName("");
  EXPECT_EQ(binding->GetControl(), nullptr);
}

}  // namespace
}  // namespace xelo::test
