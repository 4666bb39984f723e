// The group edit dialog: a small fixed form over a working copy of one
// group's state record, and the function that runs it modally.
#include "xelo/dialogs/XeloGroupDlg.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/qt/UserInterface.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <cstdint>

namespace xelo {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

std::string Text(const QLineEdit& edit) { return edit.text().toStdString(); }

// A line edit or check box with its label in front, as one row of `grid`.
template <class Control>
Control* AddRow(QGridLayout& grid, const char* label, Control* control, const char* name) {
  control->setObjectName(QString::fromLatin1(name));
  const int row = grid.rowCount();
  auto* caption = new QLabel(QString::fromLatin1(label));
  caption->setBuddy(control);
  grid.addWidget(caption, row, 0);
  grid.addWidget(control, row, 1);
  return control;
}

QPushButton* AddButton(QHBoxLayout& row, const char* text, const char* name) {
  auto* button = new QPushButton(QString::fromLatin1(text));
  button->setObjectName(QString::fromLatin1(name));
  row.addWidget(button);
  return button;
}

}  // namespace

TXeloDlgEditGroup::TXeloDlgEditGroup(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("XeloDlgEditGroup"));
  setWindowTitle(QStringLiteral("Edit Group"));

  auto* grid = new QGridLayout;
  eGroupName = AddRow(*grid, "Groupname", new QLineEdit, "eGroupName");
  eUpdateRate = AddRow(*grid, "UpdateRate", new QLineEdit(QStringLiteral("1000")), "eUpdateRate");
  eDeadBand = AddRow(*grid, "DeadBand", new QLineEdit(QStringLiteral("0")), "eDeadBand");
  cActive = AddRow(*grid, "Active", new QCheckBox, "cActive");
  eGroupName->setMinimumWidth(180);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  bOk = AddButton(*buttons, "&Ok", "bOk");
  BCancel = AddButton(*buttons, "&Cancel", "BCancel");
  // Enter anywhere in the form means Ok, not whichever button had the focus.
  bOk->setAutoDefault(false);
  BCancel->setAutoDefault(false);
  bOk->setDefault(true);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(6);
  layout->addLayout(buttons);
  // A fixed border: the form keeps the size its contents need.
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(bOk, &QPushButton::clicked, this, qt::Guarded([this] { OkClick(); }));
  connect(BCancel, &QPushButton::clicked, this, &QDialog::reject);

  adjustSize();
  if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
}

void TXeloDlgEditGroup::SetState(const tGroupStateRec& state) {
  state_ = state;
  eUpdateRate->setText(Text(IntToStr(state_.UpdateRate)));
  eGroupName->setText(Text(state_.Name));
  // The framework's conversions read '.' back, so the dead band is shown
  // with the same separator that OkClick parses.
  eDeadBand->setText(Text(Format("%.2f", state_.DeadBand)));
  cActive->setChecked(state_.Active);
}

void TXeloDlgEditGroup::OkClick() {
  if (Trim(Text(*eGroupName)).empty()) {
    Application().Beep();
    eGroupName->setFocus();
    return;
  }
  // Stored one by one: a number that does not parse raises here and leaves
  // the fields before it changed in the working copy only; the caller sees
  // them only after a later Ok succeeds.
  const std::string rate = Text(*eUpdateRate);
  const int milliseconds = StrToInt(rate);
  // The rate is unsigned on the server: -1 would ask for 49 days.
  if (milliseconds < 0) throw EConvertError("'" + rate + "' is not a valid update rate");
  state_.UpdateRate = static_cast<std::uint32_t>(milliseconds);
  state_.Name = Text(*eGroupName);
  state_.DeadBand = static_cast<float>(StrToFloat(Text(*eDeadBand)));
  state_.Active = cActive->isChecked();
  accept();
}

bool OPCEditGroupDialog(tGroupStateRec& State) {
  TXeloDlgEditGroup dialog;
  dialog.SetState(State);
  if (qt::ShowModal(dialog) != qt::mrOk) return false;
  State = dialog.State();
  return true;
}

}  // namespace xelo
