// The group edit dialog, driven modally as its callers see it: the record
// shown and handed back, the blank name refused, numbers that do not parse,
// and Cancel after a failed Ok.
#include "xelo/dialogs/XeloGroupDlg.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/UserInterface.h"

#include "support/QtTesting.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace xelo::test {
namespace {

using Texts = std::vector<std::string>;

class GroupDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ui = std::make_unique<THeadlessUserInterface>(false);
    ui_ = ui.get();
    previousUi_ = Application().SetUserInterface(std::move(ui));
  }
  void TearDown() override { Application().SetUserInterface(std::move(previousUi_)); }

  // Runs the dialog function on `record_` with `script` driving the form;
  // whatever the script leaves open is cancelled.
  bool Edit(std::function<void(TXeloDlgEditGroup&)> script) {
    WhenModalShows([script = std::move(script)](QDialog& modal) {
      auto* dialog = qobject_cast<TXeloDlgEditGroup*>(&modal);
      if (dialog == nullptr) {
        ADD_FAILURE() << "another dialog came";
      } else {
        script(*dialog);
      }
      if (modal.isVisible()) modal.reject();
    });
    return OPCEditGroupDialog(record_);
  }

  static void Type(QLineEdit* edit, const char* text) {
    edit->selectAll();
    QTest::keyClicks(edit, QString::fromUtf8(text));
  }

  // Every field of a record, for comparing whole records.
  static auto Fields(const tGroupStateRec& r) {
    return std::tuple(r.UpdateRate, r.Active, r.Name, r.TimeBias, r.DeadBand, r.LocaleId, r.ClientHandle,
                      r.ServerHandle);
  }

  tGroupStateRec record_{500, false, "Boiler", -60, 12.345f, 0x0407, 7, 4711};
  THeadlessUserInterface* ui_ = nullptr;
  std::unique_ptr<IUserInterface> previousUi_;
};

TEST_F(GroupDialogTest, ShowsTheRecordAndOkHandsBackTheFourFieldsOnly) {
  tGroupStateRec expected = record_;
  expected.UpdateRate = 250;
  expected.Name = "  Feed pump ";  // as typed
  expected.DeadBand = 1.5f;
  expected.Active = true;
  const bool ok = Edit([&](TXeloDlgEditGroup& dialog) {
    EXPECT_EQ(dialog.windowTitle(), "Edit Group");
    Texts labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) labels.push_back(label->text().toStdString());
    EXPECT_EQ(labels, (Texts{"Groupname", "UpdateRate", "DeadBand", "Active"}));
    EXPECT_EQ(dialog.findChild<QPushButton*>("BCancel"), dialog.BCancel);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a fixed border";

    EXPECT_EQ(dialog.eGroupName->text(), "Boiler");
    EXPECT_EQ(dialog.eUpdateRate->text(), "500");
    EXPECT_EQ(dialog.eDeadBand->text(), "12.35") << "two decimals, rounded";
    EXPECT_FALSE(dialog.cActive->isChecked());

    Type(dialog.eGroupName, "  Feed pump ");
    Type(dialog.eUpdateRate, "250");
    Type(dialog.eDeadBand, "1.5");
    dialog.cActive->setFocus();
    QTest::keyClick(dialog.cActive, Qt::Key_Space);
    EXPECT_TRUE(SaveScreenshot(dialog, "group-dialog"));
    // Enter in an edit is Ok: the default button.
    QTest::keyClick(dialog.eDeadBand, Qt::Key_Return);
    EXPECT_FALSE(dialog.isVisible());
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(Fields(record_), Fields(expected)) << "only the four fields change";
  EXPECT_TRUE(ui_->ShownTexts().empty());

  // Opened again on what came back.
  Edit([](TXeloDlgEditGroup& dialog) {
    EXPECT_EQ(dialog.eDeadBand->text(), "1.50");
    EXPECT_TRUE(dialog.cActive->isChecked());
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
  });
  EXPECT_EQ(Fields(record_), Fields(expected));
}

TEST_F(GroupDialogTest, ABlankNameIsRefusedWithABeepAndTheFocusBackOnIt) {
  const tGroupStateRec before = record_;
  const bool ok = Edit([&](TXeloDlgEditGroup& dialog) {
    Type(dialog.eGroupName, "   ");
    Type(dialog.eUpdateRate, "100");
    dialog.eDeadBand->setFocus();
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ui_->BeepCount(), 1);
    EXPECT_TRUE(ui_->ShownTexts().empty()) << "a beep, no message";
    EXPECT_EQ(dialog.focusWidget(), dialog.eGroupName);
    EXPECT_EQ(Fields(dialog.State()), Fields(before)) << "nothing stored";
    QTest::mouseClick(dialog.BCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(Fields(record_), Fields(before));
}

TEST_F(GroupDialogTest, NumbersThatDoNotParseAreReportedAndCancelStillKeepsTheCallersRecord) {
  const tGroupStateRec before = record_;
  const bool ok = Edit([&](TXeloDlgEditGroup& dialog) {
    Type(dialog.eGroupName, "Mixer");
    Type(dialog.eUpdateRate, "fast");
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(ui_->ShownTexts(), Texts{"'fast' is not a valid integer value"});
    EXPECT_EQ(dialog.State().Name, "Boiler") << "the rate is stored first";
    Type(dialog.eUpdateRate, "-1");
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
    EXPECT_EQ(ui_->ShownTexts().back(), "'-1' is not a valid update rate");
    EXPECT_EQ(dialog.State().UpdateRate, before.UpdateRate);

    Type(dialog.eUpdateRate, "750");
    Type(dialog.eDeadBand, "1,5");
    QTest::mouseClick(dialog.bOk, Qt::LeftButton);
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(ui_->ShownTexts().size(), 3u);
    EXPECT_EQ(ui_->ShownTexts()[2], "'1,5' is not a valid floating point value");
    // The fields before the dead band reached the working copy.
    EXPECT_EQ(dialog.State().UpdateRate, 750u);
    EXPECT_EQ(dialog.State().Name, "Mixer");
    EXPECT_EQ(dialog.State().DeadBand, before.DeadBand);
    QTest::mouseClick(dialog.BCancel, Qt::LeftButton);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(Fields(record_), Fields(before));
  EXPECT_EQ(ui_->BeepCount(), 0);
}

}  // namespace
}  // namespace xelo::test
