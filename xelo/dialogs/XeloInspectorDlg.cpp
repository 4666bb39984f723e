#include "xelo/dialogs/XeloInspectorDlg.h"

#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloQuality.h"
#include "xelo/core/XeloServerBrowser.h"
#include "xelo/dialogs/XeloBrowseDlg.h"
#include "xelo/dialogs/XeloGroupDlg.h"
#include "xelo/dialogs/XeloServerDlg.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Strings.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/qt/UserInterface.h"
#include "xelo/qt/Values.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <exception>
#include <functional>

namespace xelo {

namespace {

// The value labels that "clearing the info labels" empties carry this mark.
constexpr char kTag[] = "tag";

// Columns of the item list: the three of the inspector, then what a user of
// such a tool looks for next.
enum ItemColumn { colItemId, colAccessPath, colActive, colValue, colQuality, colTimeStamp };

QString Text(const std::string& text) { return QString::fromStdString(text); }

// A date-time value of the library in the user's own format; empty for 0.
QString LocalDateTime(double value) {
  if (value == 0) return {};
  try {
    return QLocale().toString(qt::ToQVariant(Variant::Date(value)).toDateTime(), QLocale::ShortFormat);
  } catch (const std::exception&) {
    return {};  // outside the calendar
  }
}

// The editable server combo box, which fills its list with this computer's
// servers the first time it opens with an empty list.
class ServerComboBox final : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> AboutToShowList;

  void showPopup() override {
    if (AboutToShowList) qt::Guarded(AboutToShowList)();
    QComboBox::showPopup();
  }
};

QLabel* ValueLabel(const char* name, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setProperty(kTag, 1);
  return label;
}

QLabel* Heading(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont font = label->font();
  font.setBold(true);
  label->setFont(font);
  return label;
}

QToolButton* FlatButton(const char* name, QStyle::StandardPixmap icon, const QString& text, const QString& hint,
                        QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setAutoRaise(true);
  button->setIcon(parent->style()->standardIcon(icon));
  button->setText(text);
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setToolTip(hint);
  return button;
}

QAction* MenuEntry(QMenu* menu, const QString& text, const std::function<void()>& handler) {
  QAction* action = menu->addAction(text);
  QObject::connect(action, &QAction::triggered, menu, qt::Guarded(handler));
  return action;
}

}  // namespace

// ---- the form's workings --------------------------------------------------------

struct TXeloDlgExplorer::Impl {
  Impl(TXeloDlgExplorer& f, TXeloServer* s) : form(f), server(s) {}

  TXeloDlgExplorer& form;
  TXeloServer* server;
  TOnOPCDataChangeEvent savedDataChange;  // the handler found when the form was shown
  bool hooked = false;
  QAction* itemActive = nullptr;

  // ---- labels ----

  void ClearInfoLabels() {
    for (QLabel* label : form.findChildren<QLabel*>()) {
      if (label->property(kTag).toInt() == 1) label->clear();
    }
    form.LServer->setText("not connected");
  }

  // ---- groups and items ----

  QTreeWidgetItem* SelectedNode() const {
    const QList<QTreeWidgetItem*> selected = form.TreeView1->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
  }
  TXeloGroup* SelectedGroup() const {
    const QTreeWidgetItem* node = SelectedNode();
    return node == nullptr ? nullptr : server->GetOPCGroups()->GetOPCGroup(node->text(0).toStdString());
  }
  QTreeWidgetItem* SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = form.ItemView->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
  }
  // The row's item, checked against the selected group's items: a row never
  // leads to an item that is gone.
  TXeloItem* ItemOf(const QTreeWidgetItem* row) const {
    TXeloGroup* group = SelectedGroup();
    if (row == nullptr || group == nullptr) return nullptr;
    auto* item = reinterpret_cast<TXeloItem*>(row->data(colItemId, Qt::UserRole).value<quintptr>());
    TXeloItems* items = group->GetOPCItems();
    for (int i = 0; i < items->GetCount(); ++i) {
      if (items->GetItem(i) == item) return item;
    }
    return nullptr;
  }

  void FillRow(QTreeWidgetItem* row, TXeloItem* item) {
    row->setData(colItemId, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(item)));
    row->setText(colItemId, Text(item->GetItemID()));
    row->setText(colAccessPath, Text(item->GetAccessPath()));
    row->setText(colActive, item->GetIsActive() ? "X" : " ");
    ShowValue(row, item);
  }
  void ShowValue(QTreeWidgetItem* row, TXeloItem* item) {
    const bool none = item->GetValue().IsEmpty() && item->GetTimeStamp() == 0;
    row->setText(colValue, Text(VarToAStr(item->GetValue())));
    row->setText(colQuality, none ? QString() : Text(QualityToStr(static_cast<WORD>(item->GetQuality()))));
    row->setText(colTimeStamp, LocalDateTime(item->GetTimeStamp()));
  }
  void AddRow(TXeloItem* item) { FillRow(new QTreeWidgetItem(form.ItemView), item); }

  void ShowGroupItems() {
    form.ItemView->clear();
    TXeloGroup* group = SelectedGroup();
    if (group == nullptr) return;
    TXeloItems* items = group->GetOPCItems();
    for (int i = 0; i < items->GetCount(); ++i) AddRow(items->GetItem(i));
  }

  void ShowGroups() {
    form.ItemView->clear();
    form.TreeView1->clear();
    TXeloGroups* groups = server->GetOPCGroups();
    for (int i = 0; i < groups->GetCount(); ++i) {
      new QTreeWidgetItem(form.TreeView1, QStringList(Text(groups->GetItem(i)->GetName())));
    }
    form.TreeView1->setCurrentItem(nullptr);
    form.TreeView1->clearSelection();
  }

  // ---- status ----

  void ShowGroupState() {
    TXeloGroup* group = SelectedGroup();
    if (group == nullptr) {
      ClearInfoLabels();
      return;
    }
    tGroupStateRec state;
    group->GetState(state);
    form.LName->setText(Text(state.Name));
    form.LUpdate->setText(QString::number(state.UpdateRate));
    form.LDeadBand->setText(Text(Format("%.2f", {static_cast<double>(state.DeadBand)})));
    form.LActive->setText(state.Active ? "active" : "not active");
  }

  void TimerTick() {
    form.Timer1->stop();
    if (!server->GetActive()) {
      ClearInfoLabels();
      return;
    }
    try {
      ShowGroupState();
      const tServerStateRec state = server->GetState();
      form.LServer->setText(Text(server->GetServerName()));
      form.LState->setText(Text(ServerStateToStr(state.ServerState)));
      form.LInfo->setText(Text(state.VendorInfo));
      form.LStartTime->setText(LocalDateTime(state.StartTime));
      form.LUpdateTime->setText(LocalDateTime(state.LastUpdateTime));
      form.Timer1->start();
    } catch (const std::exception&) {
      // A server that cannot tell its state is taken for lost.
      try {
        server->SetActive(false);
      } catch (const std::exception&) {
        // It may refuse the goodbye as well; the component is inactive.
      }
      ClearInfoLabels();
    }
  }

  // ---- the server's events while the form is shown ----

  void Hook() {
    server->SetOnError([this](TPersistent*, const std::string& text, bool&) { form.lErrorinfo->setText(Text(text)); });
    server->SetOnServerShutdown([this](TPersistent*, const std::string&) {
      form.Timer1->stop();
      ClearInfoLabels();
      form.lErrorinfo->setText("Disconnect from Server");
    });
    // The value columns follow the data changes; whoever handled them
    // before still does, after the rows.
    savedDataChange = server->GetOnDatachange();
    server->SetOnDatachange([this, saved = savedDataChange](TPersistent* sender, TXeloItemList* items) {
      ShowChanges(items);
      if (saved) saved(sender, items);
    });
    hooked = true;
  }
  void Unhook() {
    if (!hooked) return;
    hooked = false;
    server->SetOnDatachange(savedDataChange);
  }

  void ShowChanges(TXeloItemList* items) {
    for (int r = 0; r < form.ItemView->topLevelItemCount(); ++r) {
      QTreeWidgetItem* row = form.ItemView->topLevelItem(r);
      const auto* shown = reinterpret_cast<TXeloItem*>(row->data(colItemId, Qt::UserRole).value<quintptr>());
      for (int i = 0; i < items->GetCount(); ++i) {
        if (items->GetItem(i) == shown) {
          ShowValue(row, items->GetItem(i));
          break;
        }
      }
    }
  }

  // ---- the top row ----

  void FillServerList() {
    if (!Trim(ItemTexts()).empty()) return;
    const QString typed = form.ServerCombo->currentText();
    {
      qt::TWaitCursor hourglass;
      TStringList servers;
      GetOPCServers(servers);
      for (int i = 0; i < servers.GetCount(); ++i) form.ServerCombo->addItem(Text(servers.Strings(i)));
    }
    form.ServerCombo->setEditText(typed);  // filling the list does not change what was typed
  }
  std::string ItemTexts() const {
    std::string all;
    for (int i = 0; i < form.ServerCombo->count(); ++i) all += form.ServerCombo->itemText(i).toStdString() + "\n";
    return all;
  }

  void RemoteSelect() {
    std::string computer = server->GetComputerName();
    std::string name;
    std::string classId;
    const bool chosen = xeloBrowseServer(computer, name, classId);
    if (chosen) form.ServerCombo->setEditText(Text(classId));
    server->SetComputername(computer);
  }

  void Connect() {
    const std::string name = form.ServerCombo->currentText().toStdString();
    if (Trim(name).empty()) {
      Application().ShowMessage("first select OPC Server");
      return;
    }
    form.lErrorinfo->clear();
    server->SetServer(name);
    server->SetActive(true);
    form.Timer1->start();
  }

  // ---- group menu ----

  void AddGroup() {
    TxDefaultGroup* defaults = server->GetOPCGroupDefault();
    tGroupStateRec state;
    state.UpdateRate = defaults->GetUpdateRate();
    state.Active = defaults->GetIsActive();
    state.LocaleId = defaults->GetLocaleId();
    state.DeadBand = defaults->GetDeadBand();
    state.TimeBias = defaults->GetTimeBias();
    if (!OPCEditGroupDialog(state)) return;
    defaults->SetUpdateRate(state.UpdateRate);
    defaults->SetIsActive(state.Active);
    defaults->SetLocaleId(state.LocaleId);
    defaults->SetDeadBand(state.DeadBand);
    defaults->SetTimeBias(state.TimeBias);
    server->GetOPCGroups()->Add(state.Name);
    auto* node = new QTreeWidgetItem(form.TreeView1, QStringList(Text(state.Name)));
    form.TreeView1->setCurrentItem(node);
    form.TreeView1->setFocus();
  }

  void RemoveGroup() {
    QTreeWidgetItem* node = SelectedNode();
    if (node == nullptr) return;
    server->GetOPCGroups()->Remove(node->text(0).toStdString());
    form.ItemView->clear();
    delete node;
  }

  void RemoveAllGroups() {
    server->GetOPCGroups()->RemoveAll();
    form.ItemView->clear();
    form.TreeView1->clear();
  }

  void GroupProperties() {
    QTreeWidgetItem* node = SelectedNode();
    if (node == nullptr) {
      Application().ShowMessage("First select Group");
      return;
    }
    TXeloGroup* group = SelectedGroup();
    if (group == nullptr) {
      Application().ShowMessage("ERROR");
      return;
    }
    tGroupStateRec state;
    state.Name = group->GetName();
    state.UpdateRate = group->GetUpdateRate();
    state.Active = group->GetIsActive();
    state.LocaleId = group->GetLocaleId();
    state.DeadBand = group->GetDeadBand();
    state.TimeBias = group->GetTimeBias();
    if (!OPCEditGroupDialog(state)) return;
    group->SetName(state.Name);
    node->setText(0, Text(state.Name));
    group->SetUpdateRate(state.UpdateRate);
    group->SetIsActive(state.Active);
    group->SetLocaleId(state.LocaleId);
    group->SetDeadBand(state.DeadBand);
    group->SetTimeBias(state.TimeBias);
  }

  // ---- item menu ----

  void ItemMenuOpens() {
    const bool group = SelectedGroup() != nullptr;
    for (QAction* action : form.ItemPopup->actions()) action->setEnabled(group);
    if (TXeloItem* item = group ? ItemOf(SelectedRow()) : nullptr) itemActive->setChecked(item->GetIsActive());
  }

  void AddItems() {
    if (!server->GetActive()) return;
    TStringList chosen;
    if (!OPCBrowseDialog(*server->GetOPCBrowser(), chosen, false)) return;
    TXeloGroup* group = SelectedGroup();
    if (group == nullptr) return;
    for (int i = 0; i < chosen.GetCount(); ++i) {
      group->GetDefaultItem()->SetIsActive(true);
      AddRow(group->GetOPCItems()->AddItem(chosen.Strings(i)));
    }
  }

  void RemoveItem() {
    QTreeWidgetItem* row = SelectedRow();
    if (row == nullptr) return;
    delete ItemOf(row);
    delete row;
  }

  void RemoveAllItems() {
    TXeloGroup* group = SelectedGroup();
    if (group == nullptr) return;
    group->GetOPCItems()->RemoveAll();
    form.ItemView->clear();
  }

  // The check mark was the item's state when the menu opened; Qt has
  // toggled it on the way here, so it now says what the item becomes.
  void ToggleActive(bool checked) {
    QTreeWidgetItem* row = SelectedRow();
    TXeloItem* item = ItemOf(row);
    if (item == nullptr) return;
    item->SetIsActive(checked);
    FillRow(row, item);
  }

  void WriteValue() {
    QTreeWidgetItem* row = SelectedRow();
    TXeloItem* item = ItemOf(row);
    if (item == nullptr) return;
    bool ok = false;
    const QString text = QInputDialog::getText(&form, "Write value", Text(item->GetItemID()), QLineEdit::Normal,
                                               Text(VarToAStr(item->GetValue())), &ok);
    if (!ok) return;
    VARTYPE type = static_cast<VARTYPE>(item->GetCanonicalDatatype());
    if (type == VT_EMPTY) type = VT_BSTR;  // a server that did not say: as text
    item->WriteSync(AStrToVar(text.toStdString(), type));
    const HRESULT result = item->GetLastError();
    form.lErrorinfo->setText(SUCCEEDED(result) ? QString()
                                               : Text(item->GetItemID() + ": " + item->GetLastErrorStr()));
  }
};

// ---- layout ----------------------------------------------------------------------

TXeloDlgExplorer::TXeloDlgExplorer(TXeloServer* server, QWidget* parent)
    : QDialog(parent), impl_(std::make_unique<Impl>(*this, server)) {
  setObjectName("TXeloDlgExplorer");
  setWindowTitle("OPC Inspector");
  setSizeGripEnabled(true);
  auto* layout = new QVBoxLayout(this);

  auto* menuBar = new QMenuBar(this);
  FileMenu = menuBar->addMenu("File");
  FileMenu->setObjectName("FileMenu");
  QAction* exit = FileMenu->addAction("Exit");
  exit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
  connect(exit, &QAction::triggered, this, &QDialog::reject);
  layout->setMenuBar(menuBar);

  // The server to connect to, and the three buttons.
  auto* top = new QHBoxLayout();
  auto* combo = new ServerComboBox(this);
  combo->setObjectName("ServerCombo");
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setToolTip("Select OPC Server");
  combo->setMinimumWidth(260);
  combo->AboutToShowList = [this] { impl_->FillServerList(); };
  ServerCombo = combo;
  bRemoteSelect = FlatButton("bRemoteSelect", QStyle::SP_DriveNetIcon, "Remote", "select OPC Server with OPCENUM.EXE",
                             this);
  bConnect = FlatButton("bConnect", QStyle::SP_DialogYesButton, "Connect", "Connect to server", this);
  BDisconnect = FlatButton("BDisconnect", QStyle::SP_DialogNoButton, "Disconnect", "Disconnect from server", this);
  top->addWidget(ServerCombo, 1);
  top->addWidget(bRemoteSelect);
  top->addWidget(bConnect);
  top->addWidget(BDisconnect);
  layout->addLayout(top);
  connect(bRemoteSelect, &QToolButton::clicked, this, qt::Guarded([this] { impl_->RemoteSelect(); }));
  connect(bConnect, &QToolButton::clicked, this, qt::Guarded([this] { impl_->Connect(); }));
  connect(BDisconnect, &QToolButton::clicked, this, qt::Guarded([this] { impl_->server->SetActive(false); }));

  // Groups left, the selected group's items right.
  auto* splitter = new QSplitter(Qt::Horizontal, this);
  TreeView1 = new QTreeWidget(splitter);
  TreeView1->setObjectName("TreeView1");
  TreeView1->setHeaderHidden(true);
  TreeView1->setRootIsDecorated(false);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setToolTip("click right mousekey to edit groups");
  TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
  ItemView = new QTreeWidget(splitter);
  ItemView->setObjectName("ItemView");
  ItemView->setRootIsDecorated(false);
  ItemView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ItemView->setHeaderLabels({"ItemId", "Accesspath", "Active", "Value", "Quality", "Time stamp"});
  ItemView->setToolTip("click right mousekey to edit Items");
  ItemView->setContextMenuPolicy(Qt::CustomContextMenu);
  ItemView->header()->resizeSection(colItemId, 180);
  ItemView->header()->resizeSection(colAccessPath, 80);
  ItemView->header()->resizeSection(colActive, 45);
  ItemView->header()->resizeSection(colValue, 100);
  ItemView->header()->resizeSection(colQuality, 70);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({160, 560});
  layout->addWidget(splitter, 1);
  connect(TreeView1, &QTreeWidget::itemSelectionChanged, this, qt::Guarded([this] { impl_->ShowGroupItems(); }));

  // The selected group's state, then the server's.
  auto* groupState = new QGridLayout();
  groupState->addWidget(Heading("Groupstate", this), 0, 0);
  groupState->addWidget(new QLabel("Updaterate", this), 0, 1);
  groupState->addWidget(new QLabel("Deadband", this), 0, 2);
  groupState->addWidget(new QLabel("Active", this), 0, 3);
  LName = ValueLabel("LName", this);
  LUpdate = ValueLabel("LUpdate", this);
  LDeadBand = ValueLabel("LDeadBand", this);
  LActive = ValueLabel("LActive", this);
  groupState->addWidget(LName, 1, 0);
  groupState->addWidget(LUpdate, 1, 1);
  groupState->addWidget(LDeadBand, 1, 2);
  groupState->addWidget(LActive, 1, 3);
  layout->addLayout(groupState);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  layout->addWidget(line);

  auto* serverState = new QGridLayout();
  LServer = ValueLabel("LServer", this);
  LState = ValueLabel("LState", this);
  LStartTime = ValueLabel("LStartTime", this);
  LUpdateTime = ValueLabel("LUpdateTime", this);
  LInfo = ValueLabel("LInfo", this);
  LInfo->setWordWrap(true);
  LInfo->setMinimumHeight(2 * LInfo->fontMetrics().lineSpacing());
  LInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  serverState->addWidget(Heading("Severstate", this), 0, 0);
  serverState->addWidget(LServer, 0, 1);
  serverState->addWidget(new QLabel("State", this), 0, 2);
  serverState->addWidget(LState, 0, 3);
  serverState->addWidget(LInfo, 1, 0, 2, 2);
  serverState->addWidget(new QLabel("Start Time", this), 1, 2);
  serverState->addWidget(LStartTime, 1, 3);
  serverState->addWidget(new QLabel("Last Update", this), 2, 2);
  serverState->addWidget(LUpdateTime, 2, 3);
  serverState->setColumnStretch(1, 1);
  serverState->setColumnStretch(3, 1);
  layout->addLayout(serverState);

  lErrorinfo = new QLabel(this);
  lErrorinfo->setObjectName("lErrorinfo");
  lErrorinfo->setStyleSheet("color: red");
  lErrorinfo->setWordWrap(true);
  layout->addWidget(lErrorinfo);

  // Status once a second, from the start.
  Timer1 = new QTimer(this);
  Timer1->setObjectName("Timer1");
  Timer1->setInterval(1000);
  connect(Timer1, &QTimer::timeout, this, qt::Guarded([this] { impl_->TimerTick(); }));
  Timer1->start();

  GroupPopup = new QMenu(this);
  GroupPopup->setObjectName("GroupPopup");
  MenuEntry(GroupPopup, "Add Group...", [this] { impl_->AddGroup(); });
  MenuEntry(GroupPopup, "Remove Group", [this] { impl_->RemoveGroup(); });
  MenuEntry(GroupPopup, "Remove all Groups", [this] { impl_->RemoveAllGroups(); });
  MenuEntry(GroupPopup, "Properties...", [this] { impl_->GroupProperties(); });
  connect(TreeView1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { GroupPopup->exec(TreeView1->viewport()->mapToGlobal(at)); });

  ItemPopup = new QMenu(this);
  ItemPopup->setObjectName("ItemPopup");
  MenuEntry(ItemPopup, "Add Item..", [this] { impl_->AddItems(); });
  MenuEntry(ItemPopup, "Remove Item", [this] { impl_->RemoveItem(); });
  MenuEntry(ItemPopup, "Remove all Items", [this] { impl_->RemoveAllItems(); });
  impl_->itemActive = ItemPopup->addAction("Active");
  impl_->itemActive->setCheckable(true);
  connect(impl_->itemActive, &QAction::triggered, this, qt::Guarded([this](bool checked) {
            impl_->ToggleActive(checked);
          }));
  ItemPopup->addSeparator();
  MenuEntry(ItemPopup, "Write value...", [this] { impl_->WriteValue(); });
  connect(ItemPopup, &QMenu::aboutToShow, this, qt::Guarded([this] { impl_->ItemMenuOpens(); }));
  connect(ItemView, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { ItemPopup->exec(ItemView->viewport()->mapToGlobal(at)); });

  resize(860, 520);
}

TXeloDlgExplorer::~TXeloDlgExplorer() { impl_->Unhook(); }

TXeloServer* TXeloDlgExplorer::Server() const { return impl_->server; }

void TXeloDlgExplorer::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  if (const QScreen* screen = this->screen()) move(screen->availableGeometry().center() - rect().center());
  impl_->Hook();
  ShowServer();
}

void TXeloDlgExplorer::ShowServer() {
  impl_->ClearInfoLabels();
  lErrorinfo->clear();
  ServerCombo->setEditText(QString::fromStdString(impl_->server->GetServerName()));
  impl_->ShowGroups();
}

void TXeloDlgExplorer::done(int result) {
  // The data changes go back to whoever had them as soon as the window
  // closes, before the caller gives back the other handlers.
  impl_->Unhook();
  QDialog::done(result);
}

// ---- the function -------------------------------------------------------------------

void OPCExplorer(TXeloServer* Server) {
  if (Server == nullptr) return;
  const TOnOPCErrorEvent onError = Server->GetOnError();
  const TOnOPCConnectEvent onConnect = Server->GetOnConnect();
  const TOnOPCConnectEvent onDisconnect = Server->GetOnDisconnect();
  const TOnOPCServerShutdownEvent onShutdown = Server->GetOnServerShutdown();
  const auto giveBack = [&] {
    Server->SetOnError(onError);
    Server->SetOnConnect(onConnect);
    Server->SetOnDisconnect(onDisconnect);
    Server->SetOnServerShutdown(onShutdown);
  };
  try {
    TXeloDlgExplorer form(Server, QApplication::activeWindow());
    qt::ShowModal(form);
    Server->SetServer(form.ServerCombo->currentText().toStdString());
  } catch (...) {
    giveBack();
    throw;
  }
  giveBack();
}

}  // namespace xelo
