// The group edit dialog: name, update rate, dead band and active flag of
// one group, held in a tGroupStateRec.
//
// The other fields of the record pass through unchanged. "&Ok" refuses a
// name of blanks only (a beep, the focus back on the name); numbers that do
// not parse raise EConvertError from the click (shown by the application),
// and the dialog stays open.
//
// Main thread only.
#pragma once

#include "xelo/core/XeloGroup.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace xelo {

class TXeloDlgEditGroup : public QDialog {
  Q_OBJECT

 public:
  explicit TXeloDlgEditGroup(QWidget* parent = nullptr);

  // The working record: set before showing, read after OK.
  const tGroupStateRec& State() const { return state_; }
  void SetState(const tGroupStateRec& state);

  // What "&Ok" does (also through Enter): stores the fields into the
  // working record in the order rate, name, dead band, active, and accepts.
  void OkClick();

  QLineEdit* eGroupName = nullptr;
  QLineEdit* eUpdateRate = nullptr;
  QLineEdit* eDeadBand = nullptr;
  QCheckBox* cActive = nullptr;
  QPushButton* bOk = nullptr;
  QPushButton* BCancel = nullptr;

 private:
  tGroupStateRec state_;
};

// Edits `State` in the dialog; true on OK, and only then is `State` changed.
bool OPCEditGroupDialog(tGroupStateRec& State);

}  // namespace xelo
