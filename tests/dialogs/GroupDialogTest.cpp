// The group edit dialog, driven modally as its callers see it: the record
// shown and handed back, the blank name refused, numbers that do not parse,
// and Cancel after a failed Ok.
#include "xelo/dialogs/XeloGroupDlg.h"

#include "support/QtScene.h"

namespace xelo::test {
namespace {

// Every field of a record, for comparing whole records.
auto Fields(const tGroupStateRec& r) {
  return std::tuple(r.UpdateRate, r.Active, r.Name, r.TimeBias, r.DeadBand, r.LocaleId, r.ClientHandle, r.ServerHandle);
}

class GroupDialogTest : public QtScene {
 protected:
  bool Edit(std::function<void(TXeloDlgEditGroup&)> script) {
    Drive(std::move(script));
    return OPCEditGroupDialog(record_);
  }
  // Types each text into its edit and clicks Ok.
  static void OkWith(TXeloDlgEditGroup& dialog, std::initializer_list<std::pair<QLineEdit*, const char*>> typed) {
    for (auto [edit, text] : typed) Type(edit, text);
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
  }
  tGroupStateRec record_{500, false, "Boiler", -60, 12.345f, 0x0407, 7, 4711};
};

TEST_F(GroupDialogTest, ShowsTheRecordOkHandsBackTheFourFieldsOnlyAndBadFieldsAreRefused) {
  const tGroupStateRec expected{250, true, "  Feed pump ", -60, 1.5f, 0x0407, 7, 4711};  // the name as typed
  EXPECT_TRUE(Edit([&](TXeloDlgEditGroup& dialog) {
    EXPECT_EQ(Utf8(dialog.eGroupName->text() + "|" + dialog.eUpdateRate->text() + "|" + dialog.eDeadBand->text() +
                   (dialog.cActive->isChecked() ? "|x" : "|o")),
              "Boiler|500|12.35|o") << "two decimals, rounded";
    Type(dialog.eGroupName, "  Feed pump ");
    Type(dialog.eUpdateRate, "250");
    Type(dialog.eDeadBand, "1.5");
    dialog.cActive->setFocus();
    QTest::keyClick(dialog.cActive, Qt::Key_Space);
    EXPECT_TRUE(SaveScreenshot(dialog, "group-dialog"));
    // Enter in an edit is Ok: the default button.
    QTest::keyClick(dialog.eDeadBand, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
  }));
  EXPECT_EQ(Fields(record_), Fields(expected)) << "only the four fields change";
  EXPECT_TRUE(Shown().empty());

  // A blank name or numbers that do not parse are refused, and Cancel keeps
  // the caller's record.
  const tGroupStateRec before = record_;
  EXPECT_FALSE(Edit([&](TXeloDlgEditGroup& dialog) {
    // A blank name: a beep, no message, the focus back on it.
    dialog.eDeadBand->setFocus();
    OkWith(dialog, {{dialog.eGroupName, "   "}, {dialog.eUpdateRate, "100"}});
    EXPECT_EQ(std::pair(ui_->BeepCount(), dialog.focusWidget()), std::pair(1, static_cast<QWidget*>(dialog.eGroupName)));
    EXPECT_EQ(Fields(dialog.State()), Fields(before)) << "nothing stored";
    // Numbers: each reported; the fields before the bad one are stored in
    // the working copy, the rate first.
    OkWith(dialog, {{dialog.eGroupName, "Mixer"}, {dialog.eUpdateRate, "fast"}});
    EXPECT_EQ(dialog.State().Name, before.Name) << "the rate is stored first";
    OkWith(dialog, {{dialog.eUpdateRate, "-1"}});
    EXPECT_EQ(dialog.State().UpdateRate, before.UpdateRate);
    OkWith(dialog, {{dialog.eUpdateRate, "750"}, {dialog.eDeadBand, "1,5"}});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(Shown(), (std::vector<std::string>{"'fast' is not a valid integer value", "'-1' is not a valid update rate",
                                                 "'1,5' is not a valid floating point value"}));
    EXPECT_EQ(std::tuple(dialog.State().UpdateRate, dialog.State().Name, dialog.State().DeadBand),
              std::tuple(750u, std::string("Mixer"), before.DeadBand));
    QTest::mouseClick(dialog.BCancel, Qt::LeftButton);
  }));
  EXPECT_EQ(Fields(record_), Fields(before));
  EXPECT_EQ(ui_->BeepCount(), 1);
}

}  // namespace
}  // namespace xelo::test
