// The item browse dialog driven as a user drives it, against the embedded
// simulation server (and a small server whose root mixes branches and
// leaves): walking levels with keys, button and double clicks, the filter
// controls narrowing the list exactly as the browser narrows its own
// listing, the identifiers handed back, the position kept between two
// openings, and browser errors reaching the application.
#include "xelo/dialogs/XeloBrowseDlg.h"

#include "servers/simulation/SimulationControl.h"
#include "servers/simulation/SimulationServer.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/ComObject.h"
#include "xelo/com/EnumeratorImpl.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/core/Xelo.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/UserInterface.h"

#include "support/QtTesting.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace xelo::test {
namespace {

using sim::SimulationControl;
using Lines = std::vector<std::string>;

constexpr char kMove[] = "IOPCBrowseServerAddressSpace::ChangeBrowsePosition";
constexpr char kList[] = "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs";
const Lines kDeviceLeaves{"Ramp", "Random", "Sine", "Counter", "Setpoint", "Switch", "Text", "Array"};

// A hierarchical server whose root holds the branch "Area" next to the
// leaves "Alpha" and "Beta"; "Area" holds "Gamma". The simulated address
// space has no level with both.
class MixedServer : public com::ComObject<IOPCServer, IOPCBrowseServerAddressSpace> {
 public:
  STDMETHOD(AddGroup)(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE*, DWORD*, REFIID,
                      LPUNKNOWN*) override { return E_NOTIMPL; }
  STDMETHOD(GetErrorString)(HRESULT, LCID, LPWSTR*) override { return E_NOTIMPL; }
  STDMETHOD(GetGroupByName)(LPCWSTR, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
  STDMETHOD(GetStatus)(OPCSERVERSTATUS**) override { return E_NOTIMPL; }
  STDMETHOD(RemoveGroup)(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
  STDMETHOD(CreateGroupEnumerator)(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }

  STDMETHOD(QueryOrganization)(OPCNAMESPACETYPE* type) override {
    *type = OPC_NS_HIERARCHIAL;
    return S_OK;
  }
  STDMETHOD(ChangeBrowsePosition)(OPCBROWSEDIRECTION direction, LPCWSTR name) override {
    const com::OleString target = name != nullptr ? com::OleString(name) : com::OleString();
    if (direction == OPC_BROWSE_DOWN && inArea_ == false && target == OLESTR("Area")) {
      inArea_ = true;
    } else if ((direction == OPC_BROWSE_UP && inArea_) || (direction == OPC_BROWSE_TO && target.empty())) {
      inArea_ = false;
    } else {
      return E_INVALIDARG;
    }
    return S_OK;
  }
  STDMETHOD(BrowseOPCItemIDs)(OPCBROWSETYPE type, LPCWSTR, VARTYPE, DWORD, LPENUMSTRING* names) override {
    std::vector<com::OleString> list;
    if (type == OPC_BRANCH && !inArea_) list = {OLESTR("Area")};
    if (type == OPC_LEAF)
      list = inArea_ ? std::vector<com::OleString>{OLESTR("Gamma")}
                     : std::vector<com::OleString>{OLESTR("Alpha"), OLESTR("Beta")};
    *names = com::MakeStringEnumerator(std::move(list)).Detach();
    return S_OK;
  }
  STDMETHOD(GetItemID)(LPWSTR name, LPWSTR* id) override {
    *id = com::CoTaskMemStrDup((inArea_ ? com::OleString(OLESTR("Area.")) : com::OleString()) + name);
    return S_OK;
  }
  STDMETHOD(BrowseAccessPaths)(LPCWSTR, LPENUMSTRING*) override { return E_NOTIMPL; }

 private:
  bool inArea_ = false;
};
constexpr CLSID kClsidMixed{0x5C1A00F2, 0x7E10, 0x4B8A, {0x9C, 0x35, 0x54, 0x45, 0x53, 0x54, 0x44, 0x4C}};

Lines LinesOf(const TStrings& list) {
  Lines lines;
  for (int i = 0; i < list.GetCount(); ++i) lines.push_back(list.Get(i));
  return lines;
}

// The list's entries, a branch (image 0) marked by a trailing "/".
Lines Entries(const TXeloDlgBrowse& dialog) {
  Lines lines;
  for (int row = 0; row < dialog.ListView->count(); ++row) {
    const QListWidgetItem* entry = dialog.ListView->item(row);
    lines.push_back(entry->text().toStdString() + (entry->data(Qt::UserRole).toInt() == 0 ? "/" : ""));
  }
  return lines;
}

Lines Selected(const TXeloDlgBrowse& dialog) {
  Lines lines;
  for (int row = 0; row < dialog.ListView->count(); ++row) {
    if (dialog.ListView->item(row)->isSelected()) lines.push_back(dialog.ListView->item(row)->text().toStdString());
  }
  return lines;
}

// What the browser itself lists at its position with these settings:
// branches (marked), then the leaves.
Lines Listing(TXeloBrowser& browser, const std::string& filter, OPCADatatype type, OPCAcesstype rights) {
  browser.SetFilter(filter);
  browser.SetDatatype(type);
  browser.SetAccessRights(rights);
  browser.ShowBranches();
  Lines lines;
  for (const std::string& branch : LinesOf(browser.GetItems())) lines.push_back(branch + "/");
  browser.ShowLeafs(false);
  for (const std::string& leaf : LinesOf(browser.GetItems())) lines.push_back(leaf);
  return lines;
}

QListWidgetItem* Entry(const TXeloDlgBrowse& dialog, const std::string& text) {
  const auto found = dialog.ListView->findItems(QString::fromStdString(text), Qt::MatchExactly);
  return found.isEmpty() ? nullptr : found.first();
}

QPoint Where(const TXeloDlgBrowse& dialog, const std::string& text) {
  QListWidgetItem* entry = Entry(dialog, text);
  EXPECT_NE(entry, nullptr) << text;
  return entry != nullptr ? dialog.ListView->visualItemRect(entry).center() : QPoint();
}

void Click(TXeloDlgBrowse& dialog, const std::string& text, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::mouseClick(dialog.ListView->viewport(), Qt::LeftButton, modifiers, Where(dialog, text));
}

// An item view only reports a double click that follows a press.
void DoubleClick(TXeloDlgBrowse& dialog, const std::string& text) {
  const QPoint at = Where(dialog, text);
  QTest::mouseClick(dialog.ListView->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseDClick(dialog.ListView->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(dialog.ListView->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

void Key(QWidget* widget, Qt::Key key) { QTest::keyClick(widget, key); }

// Replaces the filter text as a user does, leaving the box with Tab.
void TypeFilter(TXeloDlgBrowse& dialog, const std::string& text) {
  dialog.eFilter->setFocus(Qt::MouseFocusReason);
  dialog.eFilter->selectAll();
  QTest::keyClicks(dialog.eFilter, QString::fromStdString(text));
  if (text.empty()) Key(dialog.eFilter, Qt::Key_Delete);
  Key(dialog.eFilter, Qt::Key_Tab);
}

// Chooses the data type `name` with the keys of the closed drop-down list
// (typed names would run into the list's keyboard search of a moment ago).
void Choose(TXeloDlgBrowse& dialog, const std::string& name) {
  dialog.cDataType->setFocus(Qt::TabFocusReason);
  Key(dialog.cDataType, Qt::Key_Home);
  for (int i = 0; i < dialog.cDataType->count() && dialog.cDataType->currentText().toStdString() != name; ++i) {
    Key(dialog.cDataType, Qt::Key_Down);
  }
}

class BrowseDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ui = std::make_unique<THeadlessUserInterface>(false);
    ui_ = ui.get();
    previousUi_ = Application().SetUserInterface(std::move(ui));
    SimulationControl::Reset();
    server_ = std::make_unique<TXeloServer>(nullptr);
    server_->SetServer(sim::kProgIdSim);
    server_->SetActive(true);
    ASSERT_TRUE(server_->GetActive());
    browser_ = server_->GetOPCBrowser();
    ASSERT_NE(browser_, nullptr);
  }
  void TearDown() override {
    server_.reset();
    SimulationControl::Reset();
    Application().ProcessMessages();
    Application().SetUserInterface(std::move(previousUi_));
  }

  // Plays `script` on the browse dialog once it shows; whatever the script
  // leaves open is cancelled, so that a failed step cannot hang the test.
  static void WhenShown(std::function<void(TXeloDlgBrowse&)> script) {
    WhenModalShows([script = std::move(script)](QDialog& modal) {
      auto* dialog = qobject_cast<TXeloDlgBrowse*>(&modal);
      if (dialog == nullptr) {
        ADD_FAILURE() << "another dialog showed";
      } else {
        // Focus follows only once the window is active, which the platform
        // reports a moment after showing it.
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog));
        script(*dialog);
      }
      if (modal.isVisible()) modal.reject();
    });
  }

  THeadlessUserInterface* ui_ = nullptr;
  std::unique_ptr<IUserInterface> previousUi_;
  std::unique_ptr<TXeloServer> server_;
  TXeloBrowser* browser_ = nullptr;
};

TEST_F(BrowseDialogTest, WalksTheLevelsWithKeysButtonAndDoubleClicks) {
  TStringList items;
  WhenShown([&](TXeloDlgBrowse& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Open OPC Item");
    EXPECT_EQ(dialog.cDataType->currentText(), "EMPTY");
    EXPECT_EQ(dialog.ePath->text(), "root");
    EXPECT_EQ(Entries(dialog), (Lines{"Channel 1/", "Static/", "Behaviour/"}));
    EXPECT_EQ(Selected(dialog), Lines{"Channel 1"});
    EXPECT_EQ(dialog.ListView->currentRow(), 0);

    // At the root there is nowhere up to go, and the server is not asked.
    const unsigned moves = SimulationControl::CallCount(kMove);
    Key(dialog.ListView, Qt::Key_Backspace);
    QTest::mouseClick(dialog.bBack, Qt::LeftButton);
    EXPECT_EQ(SimulationControl::CallCount(kMove), moves);
    EXPECT_EQ(dialog.ePath->text(), "root");
    EXPECT_EQ(Entries(dialog), (Lines{"Channel 1/", "Static/", "Behaviour/"}));

    Key(dialog.ListView, Qt::Key_Space);  // into the selected "Channel 1"
    EXPECT_EQ(dialog.ePath->text(), "Channel 1");
    EXPECT_EQ(Entries(dialog), (Lines{"Device 1/", "Device 2/"}));
    DoubleClick(dialog, "Device 2");
    EXPECT_EQ(dialog.ePath->text(), "Device 2");
    EXPECT_EQ(browser_->GetCurrentPosition(), "Channel 1.Device 2");
    EXPECT_EQ(Entries(dialog), kDeviceLeaves);
    Key(dialog.ListView, Qt::Key_Space);  // a leaf: no level below
    EXPECT_EQ(dialog.ePath->text(), "Device 2");

    Key(dialog.ListView, Qt::Key_Backspace);
    EXPECT_EQ(dialog.ePath->text(), "Channel 1");
    EXPECT_EQ(Selected(dialog), Lines{"Device 1"});
    QTest::mouseClick(dialog.bBack, Qt::LeftButton);
    EXPECT_EQ(dialog.ePath->text(), "root");
    EXPECT_EQ(browser_->GetCurrentPosition(), "");

    DoubleClick(dialog, "Static");
    EXPECT_TRUE(dialog.isVisible());
    DoubleClick(dialog, "ReadOnly");  // a leaf: opens it
    EXPECT_FALSE(dialog.isVisible());
  });
  EXPECT_TRUE(OPCBrowseDialog(*browser_, items, false));
  EXPECT_EQ(LinesOf(items), Lines{"Static.ReadOnly"});
  EXPECT_TRUE(ui_->Records().empty());
}

TEST_F(BrowseDialogTest, OpensWhereTheLastDialogLeftTheBrowserUnlessAtRoot) {
  TStringList items;
  WhenShown([&](TXeloDlgBrowse& dialog) {
    Key(dialog.ListView, Qt::Key_Space);
    DoubleClick(dialog, "Device 1");
    QTest::mouseClick(dialog.bCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(OPCBrowseDialog(*browser_, items, true));
  EXPECT_EQ(LinesOf(browser_->GetPositionList()), (Lines{"Channel 1", "Device 1"}));

  Lines shown;
  std::string path;
  WhenShown([&](TXeloDlgBrowse& dialog) {
    path = dialog.ePath->text().toStdString();
    shown = Entries(dialog);
    Key(dialog.ListView, Qt::Key_Escape);
  });
  EXPECT_EQ(OPCBrowseItemDialog(*browser_, false), "");
  EXPECT_EQ(path, "Device 1");
  EXPECT_EQ(shown, kDeviceLeaves);

  WhenShown([&](TXeloDlgBrowse& dialog) {
    path = dialog.ePath->text().toStdString();
    shown = Entries(dialog);
  });
  EXPECT_FALSE(OPCBrowseDialog(*browser_, items, true));
  EXPECT_EQ(path, "root");
  EXPECT_EQ(shown, (Lines{"Channel 1/", "Static/", "Behaviour/"}));
  EXPECT_EQ(browser_->GetPositionList().GetCount(), 0);
}

TEST_F(BrowseDialogTest, FilterDataTypeAndRightsNarrowTheListAsTheBrowserDoes) {
  struct Scene {
    Lines level;  // where the scene plays
    std::string filter;
    std::string type;  // as the drop-down list shows it
    OPCADatatype ordinal;
    bool writable;
    bool readable;
    DWORD mask;  // what reaches the server
  };
  // Every Static item passes every usable data type; only the device's
  // array item fails the scalar ones.
  const Lines statics{"Static"};
  const Lines device{"Channel 1", "Device 1"};
  const std::vector<Scene> scenes{
      {statics, "", "EMPTY", vtEMPTY, true, false, OPC_WRITEABLE},
      {statics, "", "EMPTY", vtEMPTY, false, true, OPC_READABLE},
      {statics, "", "EMPTY", vtEMPTY, true, true, OPC_READABLE | OPC_WRITEABLE},
      {statics, "*Int*", "EMPTY", vtEMPTY, false, false, 0},
      {device, "", "DATE", vtDATE, false, false, 0},
      {device, "S*", "R8", vtR8, true, true, OPC_READABLE | OPC_WRITEABLE},
      {device, "", "I4", vtI4, false, true, OPC_READABLE},
  };
  WhenShown([&](TXeloDlgBrowse& dialog) {
    // The name filter narrows the branches too.
    TypeFilter(dialog, "?ta*");
    EXPECT_EQ(Entries(dialog), Lines{"Static/"});
    EXPECT_EQ(SimulationControl::LastArguments(kList)->text, OLESTR("?ta*"));

    for (const Scene& scene : scenes) {
      SCOPED_TRACE(scene.level.back() + " " + scene.filter + " " + scene.type + " " + std::to_string(scene.mask));
      // To the scene's level with no filter on, which gives all its items.
      TypeFilter(dialog, "");
      Choose(dialog, "EMPTY");
      if (dialog.cWritable->isChecked()) QTest::mouseClick(dialog.cWritable, Qt::LeftButton);
      if (dialog.cReadable->isChecked()) QTest::mouseClick(dialog.cReadable, Qt::LeftButton);
      while (dialog.ePath->text() != "root") QTest::mouseClick(dialog.bBack, Qt::LeftButton);
      for (const std::string& branch : scene.level) {
        Click(dialog, branch);
        Key(dialog.ListView, Qt::Key_Space);
      }
      ASSERT_EQ(LinesOf(browser_->GetPositionList()), scene.level);
      const Lines all = Entries(dialog);

      TypeFilter(dialog, scene.filter);
      Choose(dialog, scene.type);
      EXPECT_EQ(dialog.cDataType->currentIndex(), scene.ordinal);
      if (scene.writable) QTest::mouseClick(dialog.cWritable, Qt::LeftButton);
      if (scene.readable) QTest::mouseClick(dialog.cReadable, Qt::LeftButton);

      OPCAcesstype rights;
      if (scene.writable) rights.Include(opcWritable);
      if (scene.readable) rights.Include(opcReadable);
      EXPECT_EQ(browser_->GetAccessRights(), rights);
      const auto sent = SimulationControl::LastArguments(kList);
      ASSERT_TRUE(sent.has_value());
      EXPECT_EQ(sent->accessMask, scene.mask);
      EXPECT_EQ(sent->dataTypeFilter, static_cast<VARTYPE>(scene.ordinal));

      const Lines shown = Entries(dialog);
      EXPECT_EQ(shown, Listing(*browser_, scene.filter, scene.ordinal, rights));
      EXPECT_FALSE(shown.empty());
      EXPECT_LT(shown.size(), all.size()) << "the scene narrows nothing";
      EXPECT_TRUE(dialog.isVisible());
    }
  });
  TStringList items;
  EXPECT_FALSE(OPCBrowseDialog(*browser_, items, true));
}

TEST_F(BrowseDialogTest, EnterInTheFilterBoxRefreshesAndElsewhereOpens) {
  TStringList items;
  WhenShown([&](TXeloDlgBrowse& dialog) {
    dialog.eFilter->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(dialog.eFilter->hasFocus());
    QTest::keyClicks(dialog.eFilter, "B*");
    Key(dialog.eFilter, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.eFilter->hasFocus());
    EXPECT_EQ(Entries(dialog), Lines{"Behaviour/"});

    dialog.ListView->setFocus(Qt::TabFocusReason);
    Key(dialog.ListView, Qt::Key_Return);  // a branch: in, nothing chosen yet
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.ePath->text(), "Behaviour");
    EXPECT_EQ(Entries(dialog), Lines{"Bad"});  // the filter holds below too
    EXPECT_EQ(items.GetCount(), 0);
    Key(dialog.ListView, Qt::Key_Enter);
    EXPECT_FALSE(dialog.isVisible());
  });
  items.Add("left over");
  EXPECT_TRUE(OPCBrowseDialog(*browser_, items, true));
  EXPECT_EQ(LinesOf(items), Lines{"Behaviour.Bad"});
}

TEST_F(BrowseDialogTest, SelectedLeavesGiveTheirIdentifiersInListOrder) {
  ASSERT_TRUE(browser_->Moveto("Channel 1.Device 2"));
  TStringList items;
  WhenShown([&](TXeloDlgBrowse& dialog) {
    Click(dialog, "Text");
    Click(dialog, "Switch", Qt::ControlModifier);
    Click(dialog, "Ramp", Qt::ControlModifier);
    EXPECT_EQ(Selected(dialog), (Lines{"Ramp", "Switch", "Text"}));
    EXPECT_TRUE(SaveScreenshot(dialog, "browse-dialog"));
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
  });
  EXPECT_TRUE(OPCBrowseDialog(*browser_, items, false));
  EXPECT_EQ(LinesOf(items), (Lines{"Channel 1.Device 2.Ramp", "Channel 1.Device 2.Switch", "Channel 1.Device 2.Text"}));

  // The one-item dialog lets only one entry be selected.
  WhenShown([&](TXeloDlgBrowse& dialog) {
    EXPECT_EQ(dialog.ListView->selectionMode(), QAbstractItemView::SingleSelection);
    Click(dialog, "Sine");
    Click(dialog, "Counter", Qt::ControlModifier);
    EXPECT_EQ(Selected(dialog), Lines{"Counter"});
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
  });
  EXPECT_EQ(OPCBrowseItemDialog(*browser_, false), "Channel 1.Device 2.Counter");

  WhenShown([&](TXeloDlgBrowse& dialog) {
    Click(dialog, "Sine");
    QTest::mouseClick(dialog.bCancel, Qt::LeftButton);
  });
  EXPECT_EQ(OPCBrowseItemDialog(*browser_, false), "");
}

TEST_F(BrowseDialogTest, ASelectedBranchIsEnteredBeforeLeavesAreChosen) {
  const com::ScopedClassRegistration registration(com::ClassRegistration{
      kClsidMixed, "Xelo.Test.Mixed.1", "branches and leaves", {}, false, com::MakeClassFactory<MixedServer>()});
  server_->SetActive(false);
  server_->SetServer("Xelo.Test.Mixed.1");
  server_->SetActive(true);
  ASSERT_TRUE(server_->GetActive());
  TStringList items;
  WhenShown([&](TXeloDlgBrowse& dialog) {
    EXPECT_EQ(Entries(dialog), (Lines{"Area/", "Alpha", "Beta"}));
    Click(dialog, "Beta");
    Click(dialog, "Area", Qt::ControlModifier);
    Click(dialog, "Alpha", Qt::ControlModifier);
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.ePath->text(), "Area");
    EXPECT_EQ(items.GetCount(), 0);
    EXPECT_EQ(Entries(dialog), Lines{"Gamma"});
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
  });
  items.Add("left over");
  EXPECT_TRUE(OPCBrowseDialog(*browser_, items, true));
  EXPECT_EQ(LinesOf(items), Lines{"Area.Gamma"});
  server_->SetActive(false);
}

TEST_F(BrowseDialogTest, ShowsNothingWithoutAnActiveServer) {
  int shown = 0;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      ++shown;
      modal->reject();
    }
  });
  watch.start(0);

  TStringList items;
  items.Add("kept");
  TXeloBrowser unbound(nullptr);
  EXPECT_FALSE(OPCBrowseDialog(unbound, items, true));
  EXPECT_EQ(OPCBrowseItemDialog(unbound, true), "");

  TXeloServer inactive(nullptr);
  inactive.SetServer(sim::kProgIdSim);
  TXeloBrowser bound(nullptr);
  bound.SetOPCServer(&inactive);
  EXPECT_FALSE(OPCBrowseDialog(bound, items, false));
  EXPECT_EQ(OPCBrowseItemDialog(bound, false), "");

  server_->SetActive(false);
  EXPECT_EQ(server_->GetOPCBrowser()->GetOPCServer(), nullptr);
  EXPECT_FALSE(OPCBrowseDialog(*server_->GetOPCBrowser(), items, false));

  QTest::qWait(20);
  EXPECT_EQ(shown, 0);
  EXPECT_EQ(LinesOf(items), Lines{"kept"});
  EXPECT_TRUE(ui_->Records().empty());
}

TEST_F(BrowseDialogTest, BrowserErrorsGoToTheApplicationAndTheDialogStaysUsable) {
  const auto exceptions = [&] {
    Lines texts;
    for (const auto& record : ui_->Records()) {
      if (record.kind == THeadlessUserInterface::Kind::Exception) texts.push_back(record.text);
    }
    return texts;
  };
  SimulationControl::FailMethod(kList, E_FAIL);
  TStringList items;
  WhenShown([&](TXeloDlgBrowse& dialog) {
    // The first level could not be listed.
    ASSERT_EQ(exceptions().size(), 1u);
    EXPECT_EQ(exceptions()[0].rfind("Browser: ", 0), 0u) << exceptions()[0];
    EXPECT_EQ(dialog.ListView->count(), 0);
    EXPECT_EQ(dialog.ePath->text(), "root");

    SimulationControl::ClearMethodFailures();
    QTest::mouseClick(dialog.cReadable, Qt::LeftButton);
    EXPECT_EQ(Entries(dialog), (Lines{"Channel 1/", "Static/", "Behaviour/"}));

    // A failing listing in the middle of a walk: the walk goes on after it.
    SimulationControl::FailMethod(kList, E_FAIL, true);
    Click(dialog, "Static");
    Key(dialog.ListView, Qt::Key_Space);
    EXPECT_EQ(exceptions().size(), 2u);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.ePath->text(), "Static");
    QTest::mouseClick(dialog.cWritable, Qt::LeftButton);
    EXPECT_EQ(Entries(dialog), Listing(*browser_, "", vtEMPTY, {opcReadable, opcWritable}));
  });
  EXPECT_FALSE(OPCBrowseDialog(*browser_, items, true));
  EXPECT_EQ(exceptions().size(), 2u);
}

}  // namespace
}  // namespace xelo::test
