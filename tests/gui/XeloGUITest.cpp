// The binding component against the embedded simulation server, on real
// Qt widgets: values reaching widgets, the per-binding event, dropped and
// deleted bindings, the chain of data-change handlers, what happens when
// the widget, the item or the server goes.
#include "xelo/gui/XeloGUI.h"

#include "xelo/gui/ControlProperty.h"

#include "support/Expectations.h"
#include "support/QtScene.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Filer.h"
#include "xelo/framework/TextForm.h"

#include <map>

namespace xelo::test {
namespace {

class XeloGUITest : public QtScene {
 protected:
  // The application's handler records each item's value (and then runs
  // `also_`); the binding component is not hooked yet.
  void SetUp() override {
    MakeServer(true);
    record_ = [this](TPersistent*, TXeloItemList* items) {
      ++changes_;
      for (int i = 0; i < items->GetCount(); ++i) seen_[items->GetItem(i)] = items->GetItem(i)->GetValue();
      if (also_) also_();
    };
    server_->SetOnDatachange(record_);
    gui_ = std::make_unique<TXeloGUI>(nullptr);
  }
  // Writes `value` to the item and waits until the application's handler
  // saw it come.
  void Write(TXeloItem* item, const Variant& value) {
    item->WriteSync(value);
    ASSERT_TRUE(WaitFor([&] { return seen_[item] == value; })) << VarToStr(value);
  }

  std::unique_ptr<TXeloGUI> gui_;
  TOnOPCDataChangeEvent record_;
  std::function<void()> also_;
  int changes_ = 0;
  std::map<TXeloItem*, Variant> seen_;
};

TEST_F(XeloGUITest, OnAFormTheLastServerIsTakenElseNoneAndADesignerOnlyStoresIt) {
  QtForm window;
  auto* second = new TXeloServer(&window.form);
  EXPECT_EQ((new TXeloGUI(&window.form))->GetOPCServer(), second);
  EXPECT_EQ(FindXeloItem(server_.get(), "G", "Static.Int32"), number_);
  // In a designer the server's event is not touched and nothing is shown.
  server_->SetOnDatachange(nullptr);
  gui_->SetDesigning(true);
  gui_->SetOPCServer(server_.get());
  EXPECT_FALSE(static_cast<bool>(server_->GetOnDatachange()));
  QLabel label;
  ASSERT_NE(gui_->AddItem("G", "Static.Int32", &label, ""), nullptr);
  EXPECT_TRUE(label.text().isEmpty() && number_->GUIList().GetCount() == 0);
}

TEST_F(XeloGUITest, BoundWidgetsShowEachValueBeforeTheApplicationsHandlerRunsOrWhereItsEventSays) {
  QLabel label;
  QPlainTextEdit memo;
  QCheckBox box;
  QSpinBox spin;
  QLineEdit untouched, doubled;
  spin.setRange(0, 100);
  const auto shown = [&] {
    return Utf8(label.text() + "|" + QString::number(spin.value()) + "|" + (box.isChecked() ? "x" : "o") + "|" +
                untouched.text() + "|" + doubled.text());
  };
  std::string inHandler;
  also_ = [&] { inHandler = shown(); };
  gui_->SetOPCServer(server_.get());
  // Attached to an active server's item with a value: shown at once.
  EXPECT_EQ(gui_->AddItem("G", "Static.Int32", &label, "")->GetCtrlPropName(), "text");
  EXPECT_EQ(label.text(), "32");
  EXPECT_EQ(gui_->AddItem(number_, &memo, "")->GetCtrlPropName(), "lines");
  gui_->AddItem("G", "Static.Int32", &box, "checked");
  gui_->AddItem("G", "Static.Int32", &spin, "Value");
  EXPECT_EQ(spin.value(), 32);
  // A handler that does nothing keeps the widget as it was; one that clears
  // `handled` has its changed value set.
  gui_->AddItem("G", "Static.Int32", &untouched, "")->SetOnChangeData([](QWidget*, Variant&, bool&) {});
  untouched.setText("start");
  gui_->AddItem("G", "Static.Int32", &doubled, "")->SetOnChangeData([&](QWidget* control, Variant& value, bool& handled) {
    EXPECT_TRUE(control == &doubled && handled);
    value = Variant(value.ToInt32() * 2);
    handled = false;
  });

  Write(number_, Variant(std::int32_t{250}));
  EXPECT_EQ(shown(), "250|100|x|start|500");
  EXPECT_EQ(inHandler, shown()) << "the application's handler runs after the widgets";
  Write(number_, Variant(std::int32_t{0}));
  EXPECT_EQ(shown(), "0|0|o|start|0");
  // Every data change appends (the first value may have come twice: once
  // when bound, once more with the group's first data change).
  EXPECT_TRUE(memo.toPlainText().startsWith("32\n") && memo.toPlainText().endsWith("\n250\n0")) << Utf8(memo.toPlainText());
}

TEST_F(XeloGUITest, BindingsThatCannotTakeAValueGoAndDestroyedWidgetsItemsAndServersLeaveTheRestAlone) {
  gui_->SetOPCServer(server_.get());
  QSpinBox spin;
  auto* first = new QLabel;
  QLabel nowhere;
  QLineEdit edit;
  gui_->AddItem("G", "Static.String", first, "");
  // "Hello" is no number: the spin box's binding goes at once, its
  // siblings stay; a property the widget does not have is never set, nor is
  // its binding dropped.
  EXPECT_EQ(gui_->AddItem("G", "Static.String", &spin, "value"), nullptr);
  gui_->AddItem("G", "Static.String", &nowhere, "noSuchProperty");
  gui_->AddItem("G", "Static.Int32", &edit, "Text");
  Write(text_, Variant("Welt"));
  EXPECT_EQ(std::tuple(Utf8(first->text()), Utf8(nowhere.text()), gui_->GetItems()->GetCount()),
            std::tuple("Welt", "", 3));
  // Deleting takes the exact property name, without regard to case.
  EXPECT_TRUE(!gui_->DeleteItem(&edit, "") && gui_->DeleteItem(&edit, "text"));
  EXPECT_EQ(number_->GUIList().GetCount(), 0);

  // SetItems copies the bindings, attached; a destroyed widget takes its
  // bindings in every component.
  TXeloGUI copy(nullptr);
  copy.SetOPCServer(server_.get());
  copy.SetItems(gui_->GetItems());
  EXPECT_TRUE(copy.GetItems()->GetItem(0)->GetControl() == first && text_->GUIList().GetCount() == 4);
  delete first;
  EXPECT_EQ(std::tuple(gui_->GetItems()->GetCount(), copy.GetItems()->GetCount(), text_->GUIList().GetCount()),
            std::tuple(1, 1, 2));

  // The item goes at run time: its binding stays, unattached, and nothing
  // reaches it; then the server goes.
  TxGUIItem* binding = gui_->AddItem("G", "Static.Int32", &edit, "");
  delete number_;
  number_ = nullptr;
  EXPECT_EQ(binding->GetOPCItemRef(), nullptr);
  Write(text_, Variant("still served"));
  binding->Update();  // no such item any more
  EXPECT_TRUE(edit.text() == "32" && binding->GetOPCItemRef() == nullptr) << Utf8(edit.text());
  binding = gui_->GetItems()->GetItem(0);
  ASSERT_EQ(binding->GetOPCItemRef(), text_);
  server_.reset();
  EXPECT_TRUE(gui_->GetOPCServer() == nullptr && binding->GetOPCItemRef() == nullptr);
  EXPECT_EQ(gui_->GetItems()->GetCount(), 2);
}

TEST_F(XeloGUITest, ServersAreHookedGivenBackAndSurviveAnyOrderOfRemoval) {
  gui_->SetOPCServer(server_.get());
  auto second = std::make_unique<TXeloGUI>(nullptr);
  second->SetOPCServer(server_.get());
  QPlainTextEdit firstMemo, secondMemo;
  gui_->AddItem("G", "Static.Int32", &firstMemo, "");
  second->AddItem("G", "Static.Int32", &secondMemo, "");
  Write(number_, Variant(1));
  firstMemo.clear();
  secondMemo.clear();
  Write(number_, Variant(2));
  EXPECT_EQ(Utf8(firstMemo.toPlainText() + "|" + secondMemo.toPlainText()), "2|2") << "each once, by its own component";
  // The first one goes first (not the reverse of hooking): the chain holds.
  gui_.reset();
  Write(number_, Variant(3));
  EXPECT_EQ(secondMemo.toPlainText(), "2\n3");
  second.reset();
  const int before = changes_;
  Write(number_, Variant(4));
  EXPECT_GT(changes_, before) << "the application's handler is back in the event";
  EXPECT_EQ(secondMemo.toPlainText(), "2\n3");

  // Replacing the server gives the old one back the handler it had (none);
  // binding it again shows the bindings' values at once.
  TXeloServer spare(nullptr);
  server_->SetOnDatachange(nullptr);
  gui_ = std::make_unique<TXeloGUI>(nullptr);
  gui_->SetOPCServer(server_.get());
  QLabel label;
  gui_->AddItem("G", "Static.String", &label, "");
  gui_->SetOPCServer(&spare);
  EXPECT_FALSE(static_cast<bool>(server_->GetOnDatachange()));
  label.clear();
  gui_->SetOPCServer(server_.get());
  EXPECT_EQ(label.text(), "Hello");
  // An application that sets the event after the hook replaces it.
  server_->SetOnDatachange(record_);
  Write(text_, Variant("direct"));
  EXPECT_EQ(label.text(), "Hello");
}

// Saved as text and loaded onto another window, the bindings find their
// widgets by name and values flow; a name the window lacks is an error
// that spares the other binding and keeps the name for saving.
TEST_F(XeloGUITest, AFormIsSavedAsTextAndLoadedOntoAnotherWindowWhereMissingWidgetsAreReported) {
  std::string text;
  {
    QtForm saved;
    saved.gui->AddItem("G", "Static.String", saved.Add<QLineEdit>("Edit1"), "");
    saved.gui->AddItem("G", "Static.Int32", saved.Add<QCheckBox>("Check1"), "");
    saved.server->SetActive(true);
    text = FormToText(ComponentToForm(saved.form));
  }
  for (const bool missing : {false, true}) {
    SCOPED_TRACE(missing);
    std::string form = text;
    if (missing) form.replace(form.find("'Edit1'"), 7, "'Gone1'");
    QtForm loaded(true);
    auto* edit = loaded.Add<QLineEdit>("Edit1");
    auto* box = loaded.Add<QCheckBox>("Check1");
    const std::string error =
        xelo::testing::MessageOf<EReadError>([&] { ReadComponentForm(ParseFormText(form), loaded.form); });
    EXPECT_EQ(error.find("\"Gone1\"") != std::string::npos, missing) << error;
    TXeloGUI* gui = loaded.FindGUI();
    ASSERT_TRUE(gui != nullptr && gui->GetItems()->GetCount() == 2);
    TxGUIItem* binding = gui->GetItems()->GetItem(0);
    EXPECT_EQ(std::tuple(binding->GetControl(), binding->GetControlName()),
              std::tuple(missing ? nullptr : edit, std::string(missing ? "Gone1" : "Edit1")));
    EXPECT_TRUE(WaitFor([&] { return box->isChecked() && edit->text() == (missing ? "" : "Hello"); }));
    // Saved again unchanged; outside loading a name is resolved at once.
    if (!missing) { EXPECT_EQ(FormToText(ComponentToForm(loaded.form)), text); }
    if (missing) { EXPECT_THROW(binding->SetControlName("Nowhere"), EPropertyError); }
  }
}

}  // namespace
}  // namespace xelo::test
