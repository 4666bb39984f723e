// The server browse dialog: a computer name, a search through the dialog's
// own server browser, the servers found as a tree by category, and the
// function that runs it modally and hands back the texts of its edits.
#include "xelo/dialogs/XeloServerDlg.h"

#include "xelo/framework/Application.h"
#include "xelo/qt/UserInterface.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

namespace xelo {

namespace {

// A tree node's entry sits in this role; category roots have none.
constexpr int kEntryRole = Qt::UserRole;

QString Text(const std::string& text) { return QString::fromStdString(text); }

TxeloServerItem* EntryOf(const QTreeWidgetItem* node) {
  return node == nullptr ? nullptr : reinterpret_cast<TxeloServerItem*>(node->data(0, kEntryRole).value<quintptr>());
}

QLineEdit* AddEdit(QGridLayout& grid, int row, const char* label, const char* name, bool readOnly) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(name));
  edit->setReadOnly(readOnly);
  auto* caption = new QLabel(QString::fromLatin1(label));
  caption->setBuddy(edit);
  grid.addWidget(caption, row, 0);
  grid.addWidget(edit, row, 1);
  return edit;
}

QPushButton* AddButton(QGridLayout& grid, int row, const char* text, const char* name) {
  auto* button = new QPushButton(QString::fromLatin1(text));
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  grid.addWidget(button, row, 2);
  return button;
}

}  // namespace

TxeloServerBrowseDlg::TxeloServerBrowseDlg(QWidget* parent)
    : QDialog(parent), browser_(std::make_unique<TxeloServerBrowser>(nullptr)) {
  setObjectName(QStringLiteral("xeloServerBrowseDlg"));
  setWindowTitle(QStringLiteral("Select OPC Server"));

  auto* panel = new QWidget;
  panel->setObjectName(QStringLiteral("Panel1"));
  auto* grid = new QGridLayout(panel);
  grid->setContentsMargins(0, 0, 0, 0);
  eComputername = AddEdit(*grid, 0, "Computername", "eComputername", false);
  eServerName = AddEdit(*grid, 1, "Servername", "eServerName", true);
  eServerClsId = AddEdit(*grid, 2, "Server Class ID", "eServerClsId", true);
  bSearch = AddButton(*grid, 0, "&Search", "bSearch");
  bOk = AddButton(*grid, 1, "&Ok", "bOk");
  bCancel = AddButton(*grid, 2, "&Cancel", "bCancel");
  // Enter in the computer name searches.
  bSearch->setDefault(true);
  grid->setColumnStretch(1, 1);
  // Room for a whole class identifier.
  const QString widestClassId = QStringLiteral("{DDDDDDDD-DDDD-DDDD-DDDD-DDDDDDDDDDDD}");
  eServerClsId->setMinimumWidth(eServerClsId->fontMetrics().horizontalAdvance(widestClassId) + 16);

  TreeView1 = new QTreeWidget;
  TreeView1->setObjectName(QStringLiteral("TreeView1"));
  TreeView1->setHeaderHidden(true);
  TreeView1->setColumnCount(1);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setSelectionMode(QAbstractItemView::SingleSelection);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(panel);
  layout->addWidget(TreeView1, 1);

  connect(bSearch, &QPushButton::clicked, this, qt::Guarded([this] { SearchClick(); }));
  connect(bOk, &QPushButton::clicked, this, qt::Guarded([this] { OkClick(); }));
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(TreeView1, &QTreeWidget::currentItemChanged, this, qt::Guarded([this] { SelectionChanged(); }));

  ClearTree();
  resize(sizeHint().width(), 380);
  if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
}

TxeloServerBrowseDlg::~TxeloServerBrowseDlg() {
  // The nodes point into the browser, which goes before Qt deletes the
  // child widgets: no node may outlive it or report a change on its way.
  TreeView1->blockSignals(true);
  TreeView1->clear();
}

void TxeloServerBrowseDlg::ClearTree() {
  TreeView1->clear();
  rootDA10_ = nullptr;
  rootDA20_ = nullptr;
  rootAE10_ = nullptr;
  // The selection the edits showed is gone with its node (and its entry
  // with the next enumeration), so Ok must not pick it up any more.
  SelectionChanged();
}

void TxeloServerBrowseDlg::AddServer(TxeloServerItem& server) {
  const auto addUnder = [&](QTreeWidgetItem*& root, const char* caption) {
    if (root == nullptr) {
      root = new QTreeWidgetItem(TreeView1, QStringList{QString::fromLatin1(caption)});
    }
    auto* node = new QTreeWidgetItem(root, QStringList{Text(server.UserType)});
    node->setData(0, kEntryRole, QVariant::fromValue(reinterpret_cast<quintptr>(&server)));
  };
  if (server.ServerTypes.Contains(svr_DA10)) addUnder(rootDA10_, "DA Servers 1.0");
  if (server.ServerTypes.Contains(svr_DA20)) addUnder(rootDA20_, "DA Servers 2.0");
  if (server.ServerTypes.Contains(svr_AE10)) addUnder(rootAE10_, "AE Servers 1.0");
}

void TxeloServerBrowseDlg::SearchClick() {
  {
    const qt::TWaitCursor hourglass;
    ClearTree();
    // One repaint of the emptied tree before the search blocks the loop;
    // input waits, so no click can re-enter the search meanwhile.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    browser_->SetComputerName(eComputername->text().toStdString());
    browser_->Execute();
    for (int i = 0; i < browser_->GetCount(); ++i) AddServer(*browser_->GetItems(i));
  }
  // The cursor is back before the user has to read anything.
  if (browser_->GetCount() == 0) Application().ShowMessage("no OPC Server found on selected Computer");
}

void TxeloServerBrowseDlg::OkClick() { done(eServerName->text().isEmpty() ? QDialog::Rejected : QDialog::Accepted); }

void TxeloServerBrowseDlg::SelectionChanged() {
  const TxeloServerItem* entry = EntryOf(TreeView1->currentItem());
  eServerName->setText(entry != nullptr ? Text(entry->ProgID) : QString());
  eServerClsId->setText(entry != nullptr ? Text(entry->ClassID) : QString());
  // The beginning of a long text is the part to read.
  eServerName->setCursorPosition(0);
  eServerClsId->setCursorPosition(0);
}

bool xeloBrowseServer(std::string& ComputerName, std::string& ServerName, std::string& ClassId) {
  TxeloServerBrowseDlg dialog;
  dialog.eComputername->setText(Text(ComputerName));
  const int result = qt::ShowModal(dialog);
  // Also after Cancel: the caller decides by the result what to use.
  ServerName = dialog.eServerName->text().toStdString();
  ClassId = dialog.eServerClsId->text().toStdString();
  ComputerName = dialog.eComputername->text().toStdString();
  return result == qt::mrOk;
}

}  // namespace xelo
