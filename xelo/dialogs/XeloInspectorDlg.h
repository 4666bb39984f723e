// The OPC Inspector: a modal window that works directly on one server
// component. It picks the server (from this computer's servers or, through
// the server browse dialog, on another computer), connects and
// disconnects, shows the server's status once a second while connected,
// shows the groups as a tree and the items of the selected group as a list,
// and adds, edits and removes groups and items through two context menus.
// Changes are changes of the component itself; nothing is undone on close.
//
// Beyond the list's three columns the inspector shows each item's value,
// quality and time stamp, refreshed by the component's data changes, and
// offers "Write value..." on the item menu.
//
// Main thread only.
#pragma once

#include "xelo/core/Xelo.h"

#include <QDialog>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace xelo {

class TXeloDlgExplorer : public QDialog {
  Q_OBJECT

 public:
  // The form does not own `server`.
  explicit TXeloDlgExplorer(TXeloServer* server, QWidget* parent = nullptr);
  ~TXeloDlgExplorer() override;

  TXeloServer* Server() const { return server_; }

  QComboBox* ServerCombo = nullptr;
  QToolButton* bRemoteSelect = nullptr;
  QToolButton* bConnect = nullptr;
  QToolButton* BDisconnect = nullptr;
  QTreeWidget* TreeView1 = nullptr;
  QTreeWidget* ItemView = nullptr;
  QLabel* LName = nullptr;
  QLabel* LUpdate = nullptr;
  QLabel* LDeadBand = nullptr;
  QLabel* LActive = nullptr;
  QLabel* LServer = nullptr;
  QLabel* LState = nullptr;
  QLabel* LStartTime = nullptr;
  QLabel* LUpdateTime = nullptr;
  QLabel* LInfo = nullptr;
  QLabel* lErrorinfo = nullptr;
  QTimer* Timer1 = nullptr;
  QMenu* GroupPopup = nullptr;
  QMenu* ItemPopup = nullptr;

 private:
  TXeloServer* server_ = nullptr;
};

// Shows the inspector on `Server` modally (nothing without a server). The
// server's OnError, OnConnect, OnDisconnect and OnServerShutdown handlers
// are saved before and given back after; its ServerName becomes the combo
// box's text on close. The connection state stays as the user left it.
void OPCExplorer(TXeloServer* Server);

}  // namespace xelo
