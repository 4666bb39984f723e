// The item browse dialog ("Open OPC Item"): walks a connected server's
// address space with a TXeloBrowser level by level, narrows the list by a
// name filter, a data type and access rights, and gives back the fully
// qualified identifiers of the chosen items.
//
// The browser is the caller's: the dialog leaves it where the user left it,
// so a later dialog on the same browser opens there (unless StartAtRoot).
// Errors of the browser while a level is shown pass to the application.
//
// Main thread only.
#pragma once

#include "xelo/core/XeloBrowser.h"
#include "xelo/framework/Strings.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace xelo {

class TXeloDlgBrowse : public QDialog {
  Q_OBJECT

 public:
  explicit TXeloDlgBrowse(QWidget* parent = nullptr);

  // Set before showing; neither is owned.
  TXeloBrowser* Browser = nullptr;
  TStrings* Items = nullptr;
  bool StartAtRoot = false;

  // Applies the filter controls to the browser and lists the level.
  void ShowLevel();
  // Descends into the selected branch; false with no selection or a leaf.
  bool NextLevel();
  // One level up; nothing at the root.
  void PreviousLevel();
  // "&Open", Enter or a double click on the list.
  void OpenClick();

  QLineEdit* ePath = nullptr;
  QPushButton* bBack = nullptr;
  QListWidget* ListView = nullptr;
  QLineEdit* eFilter = nullptr;
  QComboBox* cDataType = nullptr;
  QCheckBox* cWritable = nullptr;
  QCheckBox* cReadable = nullptr;
  QPushButton* bOk = nullptr;
  QPushButton* bCancel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CollectResult();
  bool shown_ = false;
};

// Lets the user choose items of `Browser`'s server into `Items`; false at
// once, showing nothing, when the browser has no server or it is not active.
bool OPCBrowseDialog(TXeloBrowser& Browser, TStrings& Items, bool StartAtRoot);
// One item; the empty text on Cancel or without an active server.
std::string OPCBrowseItemDialog(TXeloBrowser& Browser, bool StartAtRoot);

}  // namespace xelo
