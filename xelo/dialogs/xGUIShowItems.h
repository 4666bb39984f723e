// The item dialog of the binding table ("OPC Items"): picks one group and
// item of a server component and the property name for one binding, and can
// mark that name as the default for the control's class.
//
// The dialog only reads the server's groups and items; it changes nothing.
// The groups are the component's own (its configuration), so the server
// need not be connected.
//
// Main thread only.
#pragma once

#include "xelo/core/Xelo.h"

#include <QDialog>

#include <string>

class QCheckBox;
class QLineEdit;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace xelo {

class TxGUIItemDlg : public QDialog {
  Q_OBJECT

 public:
  explicit TxGUIItemDlg(QWidget* parent = nullptr);

  // Set before showing, read after OK. The server is not owned; null shows
  // no groups.
  TXeloServer* Server = nullptr;
  std::string Group;
  std::string Item;
  std::string PropName;

  // Lists the items of the group selected in the tree (none for no group).
  void ShowItems();
  // "Assign" (bAssign, or a double click on an item): takes the property
  // name, the selected group and item into the fields above and accepts.
  void AssignClick();

  QToolButton* bAssign = nullptr;
  QToolButton* SpeedButton2 = nullptr;
  QLineEdit* ePropName = nullptr;
  QCheckBox* cDefault = nullptr;
  QTreeWidget* TreeView1 = nullptr;
  QTreeWidget* ItemView = nullptr;
  // The fixed top node "OPC Groups"; the groups are its children.
  QTreeWidgetItem* GroupsNode = nullptr;

 protected:
  // Each showing lists the server's groups anew and selects `Group`.
  void showEvent(QShowEvent* event) override;

 private:
  void ShowGroups();
};

// Lets the user choose `Group`, `Item` and `PropName` of `Server` for one
// binding. `SetDefault` comes back true when the user ticked "default" (the
// property name is to be remembered for the control's class); "default"
// starts ticked when `PropName` is empty. True on OK, and only then are the
// arguments changed (SetDefault is false on Cancel).
bool xGUISelectOPCItem(TXeloServer* Server, std::string& Group, std::string& Item, std::string& PropName,
                       bool& SetDefault);

}  // namespace xelo
