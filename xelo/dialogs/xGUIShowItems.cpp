// The item dialog of the binding table: its form, the group tree and item
// list over the server component's configuration, and the function that
// runs it modally.
#include "xelo/dialogs/xGUIShowItems.h"

#include "xelo/framework/SysUtils.h"
#include "xelo/gui/ControlRegistry.h"
#include "xelo/qt/UserInterface.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace xelo {

namespace {

constexpr int colItem = 0;
constexpr int colActive = 1;
// The least widths of the item list's columns.
constexpr int kItemMinWidth = 40;
constexpr int kActiveMinWidth = 20;

QString Text(const std::string& text) { return QString::fromStdString(text); }

QToolButton* FlatButton(const char* name, QStyle::StandardPixmap icon, const QString& hint, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setObjectName(name);
  button->setAutoRaise(true);
  button->setIcon(parent->style()->standardIcon(icon));
  button->setToolTip(hint);
  return button;
}

}  // namespace

TxGUIItemDlg::TxGUIItemDlg(QWidget* parent) : QDialog(parent) {
  setObjectName("xGUIItemDlg");
  setWindowTitle("OPC Items");
  // A system menu and nothing else: no minimising, maximising or help.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  // The top panel: the two flat buttons, the property name and "default".
  auto* top = new QHBoxLayout;
  bAssign = FlatButton("bAssign", QStyle::SP_DialogApplyButton, "Assign", this);
  SpeedButton2 = FlatButton("SpeedButton2", QStyle::SP_DialogCancelButton, "Cancel", this);
  ePropName = new QLineEdit(this);
  ePropName->setObjectName("ePropName");
  ePropName->setMinimumWidth(140);
  cDefault = new QCheckBox("default", this);
  cDefault->setObjectName("cDefault");
  top->addWidget(bAssign);
  top->addWidget(SpeedButton2);
  top->addSpacing(8);
  top->addWidget(new QLabel("Set property ", this));
  top->addWidget(ePropName, 1);
  top->addWidget(new QLabel("for Control", this));
  top->addWidget(cDefault);

  // Groups left, the selected group's items right.
  auto* left = new QWidget(this);
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  leftLayout->addWidget(new QLabel("Groups", left));
  TreeView1 = new QTreeWidget(left);
  TreeView1->setObjectName("TreeView1");
  TreeView1->setHeaderHidden(true);
  TreeView1->setRootIsDecorated(false);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
  leftLayout->addWidget(TreeView1);
  GroupsNode = new QTreeWidgetItem(TreeView1, QStringList("OPC Groups"));

  ItemView = new QTreeWidget(this);
  ItemView->setObjectName("ItemView");
  ItemView->setRootIsDecorated(false);
  ItemView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ItemView->setSelectionMode(QAbstractItemView::SingleSelection);
  ItemView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ItemView->setHeaderLabels({"OPC Item", "Active"});
  ItemView->header()->setMinimumSectionSize(kActiveMinWidth);
  ItemView->header()->setStretchLastSection(false);

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(left);
  splitter->addWidget(ItemView);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({160, 280});

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(splitter, 1);
  resize(460, 320);

  connect(bAssign, &QToolButton::clicked, this, qt::Guarded([this] { AssignClick(); }));
  connect(SpeedButton2, &QToolButton::clicked, this, &QDialog::reject);
  // On an item only: a double click on the empty part of the list is no
  // choice and must not close the dialog.
  connect(ItemView, &QTreeWidget::itemDoubleClicked, this, qt::Guarded([this] { AssignClick(); }));
  connect(TreeView1, &QTreeWidget::itemSelectionChanged, this, qt::Guarded([this] { ShowItems(); }));

  if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
}

void TxGUIItemDlg::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  qt::Guarded([this] {
    ShowGroups();
    ePropName->setText(Text(PropName));
    ePropName->setFocus();
    if (!Item.empty()) {
      for (int r = 0; r < ItemView->topLevelItemCount(); ++r) {
        QTreeWidgetItem* row = ItemView->topLevelItem(r);
        if (row->text(colItem).toStdString() == Item) row->setSelected(true);
      }
    }
  })();
}

void TxGUIItemDlg::ShowGroups() {
  TreeView1->clearSelection();
  qDeleteAll(GroupsNode->takeChildren());
  QTreeWidgetItem* selected = nullptr;
  if (Server != nullptr) {
    const TXeloGroups* groups = Server->GetOPCGroups();
    for (int i = 0; i < groups->GetCount(); ++i) {
      const std::string& name = groups->GetItem(i)->GetName();
      auto* node = new QTreeWidgetItem(GroupsNode, QStringList(Text(name)));
      if (name == Group) selected = node;  // exactly, case and all
    }
  }
  TreeView1->expandAll();
  if (selected != nullptr) TreeView1->setCurrentItem(selected);  // lists its items
}

void TxGUIItemDlg::ShowItems() {
  ItemView->setUpdatesEnabled(false);
  ItemView->clear();
  const QList<QTreeWidgetItem*> nodes = TreeView1->selectedItems();
  const TXeloGroup* group = Server != nullptr && !nodes.isEmpty()
                                ? Server->GetOPCGroups()->GetOPCGroup(nodes.first()->text(0).toStdString())
                                : nullptr;
  if (group != nullptr) {
    const TXeloItems* items = group->GetOPCItems();
    for (int i = 0; i < items->GetCount(); ++i) {
      const TXeloItem* item = items->GetItem(i);
      auto* row = new QTreeWidgetItem(ItemView, {Text(item->GetItemID()), item->GetIsActive() ? "X" : " "});
      if (item->GetItemID() == Item) row->setSelected(true);
    }
  }
  ItemView->resizeColumnToContents(colItem);
  ItemView->setColumnWidth(colItem, std::max(ItemView->columnWidth(colItem), kItemMinWidth));
  ItemView->setColumnWidth(colActive, std::max(ItemView->columnWidth(colActive), kActiveMinWidth));
  ItemView->setUpdatesEnabled(true);
}

void TxGUIItemDlg::AssignClick() {
  PropName = Trim(ePropName->text().toStdString());
  const QList<QTreeWidgetItem*> nodes = TreeView1->selectedItems();
  if (!nodes.isEmpty() && nodes.first() != GroupsNode) Group = nodes.first()->text(0).toStdString();
  const QList<QTreeWidgetItem*> rows = ItemView->selectedItems();
  if (rows.isEmpty()) {
    Item.clear();
  } else {
    // A row that no longer names an item of the group (the configuration
    // changed while the dialog was open) is no choice: the item stays.
    const std::string id = rows.first()->text(colItem).toStdString();
    if (FindXeloItem(Server, Group, id) != nullptr) Item = id;
  }
  accept();
}

bool xGUISelectOPCItem(TXeloServer* Server, std::string& Group, std::string& Item, std::string& PropName,
                       bool& SetDefault) {
  TxGUIItemDlg dialog;
  dialog.Server = Server;
  dialog.Group = Group;
  dialog.Item = Item;
  dialog.PropName = PropName;
  SetDefault = false;
  dialog.cDefault->setChecked(PropName.empty());
  if (qt::ShowModal(dialog) != qt::mrOk) return false;
  Group = dialog.Group;
  Item = dialog.Item;
  PropName = dialog.PropName;
  SetDefault = dialog.cDefault->isChecked();
  return true;
}

}  // namespace xelo

// The form's meta-object code in this object file, so that linking the form
// does not pull in the meta-object code of every other dialog.
#include "moc_xGUIShowItems.cpp"
