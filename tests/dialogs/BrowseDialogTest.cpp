// The item browse dialog driven as a user drives it, against the embedded
// simulation server: walking levels with keys, button and double clicks,
// the filter controls narrowing the list exactly as the browser narrows its own
// listing, the identifiers handed back, the position kept between two
// openings.
#include "xelo/dialogs/XeloBrowseDlg.h"

#include "support/Expectations.h"
#include "support/QtScene.h"

namespace xelo::test {
namespace {

using sim::SimulationControl;
using Lines = std::vector<std::string>;
using xelo::testing::LinesOf;

constexpr char kMove[] = "IOPCBrowseServerAddressSpace::ChangeBrowsePosition";
constexpr char kList[] = "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs";
const Lines kDeviceLeaves{"Ramp", "Random", "Sine", "Counter", "Setpoint", "Switch", "Text", "Array"};

// The list's entries, a branch (image 0) marked by a trailing "/"; only
// the selected ones when asked.
Lines Entries(const TXeloDlgBrowse& dialog, bool selected = false) {
  Lines lines;
  for (int row = 0; row < dialog.ListView->count(); ++row) {
    const QListWidgetItem* entry = dialog.ListView->item(row);
    if (selected && !entry->isSelected()) continue;
    lines.push_back(Utf8(entry->text()) + (entry->data(Qt::UserRole).toInt() == 0 && !selected ? "/" : ""));
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

void ClickEntry(TXeloDlgBrowse& dialog, const std::string& text, Qt::KeyboardModifiers modifiers = {}, bool twice = false) {
  QListWidgetItem* entry = Find(dialog.ListView, text);
  if (entry != nullptr) ClickAt(dialog.ListView, dialog.ListView->visualItemRect(entry), Qt::LeftButton, modifiers, twice);
}

void Key(QWidget* widget, Qt::Key key) { QTest::keyClick(widget, key); }

// Replaces the filter text as a user does, leaving the box with Tab.
void TypeFilter(TXeloDlgBrowse& dialog, const std::string& text) {
  dialog.eFilter->setFocus(Qt::MouseFocusReason);
  Type(dialog.eFilter, text.c_str());
  if (text.empty()) Key(dialog.eFilter, Qt::Key_Delete);
  Key(dialog.eFilter, Qt::Key_Tab);
}

// Sets the filters as a user does: the type `name` with the keys of the
// closed drop-down list (typed names would run into the list's keyboard
// search of a moment ago), the rights by clicking their boxes.
void SetFilters(TXeloDlgBrowse& dialog, const std::string& filter, const std::string& name, OPCAcesstype rights) {
  TypeFilter(dialog, filter);
  dialog.cDataType->setFocus(Qt::TabFocusReason);
  Key(dialog.cDataType, Qt::Key_Home);
  for (int i = 0; i < dialog.cDataType->count() && Utf8(dialog.cDataType->currentText()) != name; ++i)
    Key(dialog.cDataType, Qt::Key_Down);
  for (auto [box, right] : {std::pair(dialog.cWritable, opcWritable), std::pair(dialog.cReadable, opcReadable)})
    if (box->isChecked() != rights.Contains(right)) QTest::mouseClick(box, Qt::LeftButton);
}

class BrowseDialogTest : public QtScene {
 protected:
  void SetUp() override { MakeServer(true); browser_ = server_->GetOPCBrowser(); }

  // Plays `script` on the browse dialog once it shows (and is active: focus
  // follows only then, which the platform reports a moment after showing).
  static void WhenShown(std::function<void(TXeloDlgBrowse&)> script) {
    Drive<TXeloDlgBrowse>([script = std::move(script)](TXeloDlgBrowse& dialog) {
      dialog.activateWindow();
      EXPECT_TRUE(QTest::qWaitForWindowActive(&dialog));
      script(dialog);
    });
  }
  TXeloBrowser* browser_ = nullptr;
  TStringList items_;
};

TEST_F(BrowseDialogTest, WalksTheLevelsWithKeysButtonAndDoubleClicksAndOpensWhereTheLastDialogLeftIt) {
  const Lines roots{"Channel 1/", "Static/", "Behaviour/"};
  WhenShown([&](TXeloDlgBrowse& dialog) {
    EXPECT_EQ(Entries(dialog), roots);
    // At the root there is nowhere up to go, and the server is not asked.
    const unsigned moves = SimulationControl::CallCount(kMove);
    QTest::mouseClick(dialog.bBack, Qt::LeftButton);
    EXPECT_EQ(SimulationControl::CallCount(kMove), moves);

    Key(dialog.ListView, Qt::Key_Space);  // into the selected "Channel 1"
    EXPECT_EQ(Entries(dialog), (Lines{"Device 1/", "Device 2/"}));
    ClickEntry(dialog, "Device 2", {}, true);
    EXPECT_EQ(browser_->GetCurrentPosition(), "Channel 1.Device 2");
    EXPECT_EQ(Entries(dialog), kDeviceLeaves);
    Key(dialog.ListView, Qt::Key_Backspace);
    EXPECT_EQ(dialog.ePath->text(), "Channel 1");
    EXPECT_EQ(Entries(dialog, true), Lines{"Device 1"});
    ClickEntry(dialog, "Device 1", {}, true);
    QTest::mouseClick(dialog.bCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(OPCBrowseDialog(*browser_, items_, true));
  EXPECT_EQ(LinesOf(browser_->GetPositionList()), (Lines{"Channel 1", "Device 1"}));

  // The next dialog opens there; the selected leaves give their
  // identifiers in list order.
  WhenShown([&](TXeloDlgBrowse& dialog) {
    EXPECT_EQ(dialog.ePath->text(), "Device 1");
    ClickEntry(dialog, "Text");
    ClickEntry(dialog, "Switch", Qt::ControlModifier);
    ClickEntry(dialog, "Ramp", Qt::ControlModifier);
    EXPECT_TRUE(SaveScreenshot(dialog, "browse-dialog"));
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
  });
  EXPECT_TRUE(OPCBrowseDialog(*browser_, items_, false));
  EXPECT_EQ(LinesOf(items_), (Lines{"Channel 1.Device 1.Ramp", "Channel 1.Device 1.Switch", "Channel 1.Device 1.Text"}));
  EXPECT_TRUE(ui_->Records().empty());
}

TEST_F(BrowseDialogTest, FilterDataTypeAndRightsNarrowTheListAsTheBrowserDoes) {
  // Where the scene plays, the filters (the type as the drop-down list
  // shows it), and what reaches the server.
  struct Scene { Lines level; std::string filter, type; OPCADatatype ordinal; OPCAcesstype rights; DWORD mask; };
  // Every Static item passes every usable data type; only the device's
  // array item fails the scalar ones.
  const Lines device{"Channel 1", "Device 1"};
  const std::vector<Scene> scenes{{{"Static"}, "", "EMPTY", vtEMPTY, {opcWritable}, OPC_WRITEABLE},
                                  {device, "S*", "R8", vtR8, {opcWritable, opcReadable}, OPC_READABLE | OPC_WRITEABLE},
                                  {device, "", "I4", vtI4, {opcReadable}, OPC_READABLE}};
  WhenShown([&](TXeloDlgBrowse& dialog) {
    // The name filter narrows the branches too.
    TypeFilter(dialog, "?ta*");
    EXPECT_EQ(Entries(dialog), Lines{"Static/"});
    EXPECT_EQ(SimulationControl::LastArguments(kList)->text, OLESTR("?ta*"));

    for (const Scene& scene : scenes) {
      SCOPED_TRACE(scene.level.back() + " " + scene.filter + " " + scene.type + " " + std::to_string(scene.mask));
      // To the scene's level with no filter on, which gives all its items.
      SetFilters(dialog, "", "EMPTY", {});
      while (dialog.ePath->text() != "root") QTest::mouseClick(dialog.bBack, Qt::LeftButton);
      for (const std::string& branch : scene.level) {
        ClickEntry(dialog, branch);
        Key(dialog.ListView, Qt::Key_Space);
      }
      ASSERT_EQ(LinesOf(browser_->GetPositionList()), scene.level);
      const Lines all = Entries(dialog);

      SetFilters(dialog, scene.filter, scene.type, scene.rights);
      const auto sent = SimulationControl::LastArguments(kList);
      ASSERT_TRUE(sent.has_value());
      EXPECT_EQ(std::tuple(sent->accessMask, sent->dataTypeFilter), std::tuple(scene.mask, VARTYPE(scene.ordinal)));
      const Lines shown = Entries(dialog);
      EXPECT_EQ(shown, Listing(*browser_, scene.filter, scene.ordinal, scene.rights));
      EXPECT_TRUE(!shown.empty() && shown.size() < all.size()) << "the scene narrows nothing";
    }
  });
  EXPECT_FALSE(OPCBrowseDialog(*browser_, items_, true));
}

}  // namespace
}  // namespace xelo::test
