// The server browse dialog: lists the OPC servers of a computer in a tree
// grouped by server type ("DA Servers 1.0", "DA Servers 2.0",
// "AE Servers 1.0") and picks one.
//
// Main thread only.
#pragma once

#include "xelo/core/XeloServerBrowser.h"

#include <QDialog>

#include <memory>
#include <string>

class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace xelo {

class TxeloServerBrowseDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TxeloServerBrowseDlg(QWidget* parent = nullptr);
  ~TxeloServerBrowseDlg() override;

  // The dialog's own browser (and so the entries the tree's nodes show).
  TxeloServerBrowser& Browser() const { return *browser_; }

  // "&Search": enumerates the servers of the computer in eComputername with
  // the hourglass cursor, rebuilding the tree from scratch; "no OPC Server
  // found on selected Computer" when there is none. Errors of the
  // enumeration pass on (the cursor comes back first).
  void SearchClick();
  // "&Ok": closes, accepted when eServerName is not empty.
  void OkClick();

  QLineEdit* eComputername = nullptr;
  QLineEdit* eServerName = nullptr;
  QLineEdit* eServerClsId = nullptr;
  QPushButton* bSearch = nullptr;
  QPushButton* bOk = nullptr;
  QPushButton* bCancel = nullptr;
  QTreeWidget* TreeView1 = nullptr;

 private:
  void ClearTree();
  void AddServer(TxeloServerItem& server);
  void SelectionChanged();

  std::unique_ptr<TxeloServerBrowser> browser_;
  QTreeWidgetItem* rootDA10_ = nullptr;
  QTreeWidgetItem* rootDA20_ = nullptr;
  QTreeWidgetItem* rootAE10_ = nullptr;
};

// Opens the dialog on `ComputerName`; whatever the answer, the three texts
// then hold what the dialog's edits showed. True on OK.
bool xeloBrowseServer(std::string& ComputerName, std::string& ServerName, std::string& ClassId);

}  // namespace xelo
