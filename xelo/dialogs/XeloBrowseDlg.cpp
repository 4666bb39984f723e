// The item browse dialog: its form, the walk through the address space and
// the two functions that show it.
#include "xelo/dialogs/XeloBrowseDlg.h"

#include "xelo/core/XeloServer.h"
#include "xelo/framework/Application.h"
#include "xelo/qt/UserInterface.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>

namespace xelo {

namespace {

// The kind of a list entry, kept in its Qt::UserRole data: the image index
// the entry shows.
constexpr int kBranchImage = 0;
constexpr int kLeafImage = 1;

// The data types by ordinal: an entry's position in the drop-down list is
// the OPCADatatype it stands for.
constexpr std::array<std::string_view, 32> kDataTypeNames{
    "EMPTY", "NULL",     "I2",    "I4",        "R4",      "R8",          "CY",      "DATE",
    "BSTR",  "DISPATCH", "ERROR", "BOOL",      "VARIANT", "UNKNOWN",     "DECIMAL", "undef",
    "I1",    "UI1",      "UI2",   "UI4",       "I8",      "UI8",         "INT",     "UINT",
    "VOID",  "HRESULT",  "PTR",   "SAFEARRAY", "CARRAY",  "USERDEFINED", "LPSTR",   "LPWSTR",
};
static_assert(kDataTypeNames.size() == vtLPWSTR + 1);

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

bool IsBranch(const QListWidgetItem* entry) { return entry->data(Qt::UserRole).toInt() == kBranchImage; }

// The browser must have a connected server before a dialog is worth showing.
bool CanBrowse(const TXeloBrowser& Browser) {
  const TXeloServer* server = Browser.GetOPCServer();
  return server != nullptr && server->GetActive();
}

}  // namespace

TXeloDlgBrowse::TXeloDlgBrowse(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Open OPC Item"));

  ePath = new QLineEdit(this);
  ePath->setObjectName(QStringLiteral("ePath"));
  ePath->setReadOnly(true);
  ePath->setFocusPolicy(Qt::NoFocus);
  bBack = new QPushButton(this);
  bBack->setObjectName(QStringLiteral("bBack"));
  bBack->setIcon(style()->standardIcon(QStyle::SP_FileDialogToParent));
  bBack->setFlat(true);
  // A tool-bar button: it neither takes the focus nor turns into the
  // default button, so Enter always means "&Open".
  bBack->setFocusPolicy(Qt::NoFocus);
  bBack->setAutoDefault(false);

  ListView = new QListWidget(this);
  ListView->setObjectName(QStringLiteral("ListView"));
  // Small icons in rows, as a file window shows them.
  ListView->setViewMode(QListView::ListMode);
  ListView->setFlow(QListView::LeftToRight);
  ListView->setWrapping(true);
  ListView->setResizeMode(QListView::Adjust);
  ListView->setMovement(QListView::Static);
  ListView->setIconSize(QSize(16, 16));
  ListView->setSpacing(2);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView->setMinimumSize(440, 240);

  eFilter = new QLineEdit(this);
  eFilter->setObjectName(QStringLiteral("eFilter"));
  cDataType = new QComboBox(this);
  cDataType->setObjectName(QStringLiteral("cDataType"));
  cDataType->setEditable(false);
  for (std::string_view name : kDataTypeNames) cDataType->addItem(Text(name));
  cWritable = new QCheckBox(QStringLiteral("Writable"), this);
  cWritable->setObjectName(QStringLiteral("cWritable"));
  cReadable = new QCheckBox(QStringLiteral("Readable"), this);
  cReadable->setObjectName(QStringLiteral("cReadable"));

  bOk = new QPushButton(QStringLiteral("&Open"), this);
  bOk->setObjectName(QStringLiteral("bOk"));
  bOk->setDefault(true);
  bCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  bCancel->setObjectName(QStringLiteral("bCancel"));

  auto* pathRow = new QHBoxLayout;
  pathRow->addWidget(new QLabel(QStringLiteral("Path"), this));
  pathRow->addWidget(ePath, 1);
  pathRow->addWidget(bBack);

  auto* filters = new QGridLayout;
  filters->addWidget(new QLabel(QStringLiteral("Filter"), this), 0, 0);
  filters->addWidget(eFilter, 0, 1);
  filters->addWidget(new QLabel(QStringLiteral("Datatyp"), this), 1, 0);
  filters->addWidget(cDataType, 1, 1);
  auto* rights = new QVBoxLayout;
  rights->addWidget(cWritable);
  rights->addWidget(cReadable);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(bOk);
  buttons->addWidget(bCancel);
  auto* bottomRow = new QHBoxLayout;
  bottomRow->addLayout(filters, 1);
  bottomRow->addSpacing(12);
  bottomRow->addLayout(rights);
  bottomRow->addSpacing(12);
  bottomRow->addLayout(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(pathRow);
  layout->addWidget(ListView, 1);
  layout->addLayout(bottomRow);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // a fixed dialog border

  setTabOrder(ListView, eFilter);
  setTabOrder(eFilter, cDataType);
  setTabOrder(cDataType, cWritable);
  setTabOrder(cWritable, cReadable);
  setTabOrder(cReadable, bOk);
  setTabOrder(bOk, bCancel);
  ListView->setFocus();

  connect(bBack, &QPushButton::clicked, this, qt::Guarded([this] { PreviousLevel(); }));
  connect(bOk, &QPushButton::clicked, this, qt::Guarded([this] { OpenClick(); }));
  connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
  // Not `activated`: the view emits it for Enter too, which the default
  // button handles already, and on a single click under some styles.
  connect(ListView, &QListWidget::itemDoubleClicked, this, qt::Guarded([this] { OpenClick(); }));
  // `activated` and `clicked` answer the user only, not the form setting
  // its controls.
  connect(cDataType, &QComboBox::activated, this, qt::Guarded([this] { ShowLevel(); }));
  connect(cWritable, &QCheckBox::clicked, this, qt::Guarded([this] { ShowLevel(); }));
  connect(cReadable, &QCheckBox::clicked, this, qt::Guarded([this] { ShowLevel(); }));
  // Leaving the filter box applies the filter; Enter in it reaches
  // OpenClick through the default button.
  eFilter->installEventFilter(this);
  ListView->installEventFilter(this);
}

void TXeloDlgBrowse::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;  // shown again after being hidden: the list is current
  shown_ = true;
  try {
    cDataType->setCurrentIndex(0);  // no type restriction
    if (StartAtRoot && Browser != nullptr) Browser->MovetoRoot();
    ShowLevel();
  } catch (const std::exception& error) {
    Application().HandleException(error);
  }
}

bool TXeloDlgBrowse::eventFilter(QObject* watched, QEvent* event) {
  try {
    if (watched == ListView && event->type() == QEvent::KeyPress) {
      // Space and backspace walk; the view would take them for selecting
      // and for its keyboard search.
      const auto* key = static_cast<QKeyEvent*>(event);
      if (key->key() == Qt::Key_Space) {
        NextLevel();
        return true;
      }
      if (key->key() == Qt::Key_Backspace) {
        PreviousLevel();
        return true;
      }
    } else if (watched == eFilter && event->type() == QEvent::FocusOut) {
      // Only when the user moves to another control of the form: the
      // window losing activation or a popup does not leave the box.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason && isVisible()) ShowLevel();
    }
  } catch (const std::exception& error) {
    Application().HandleException(error);
    // A walking key stays taken; the filter box still needs its focus-out.
    return event->type() == QEvent::KeyPress;
  }
  return QDialog::eventFilter(watched, event);
}

void TXeloDlgBrowse::ShowLevel() {
  if (Browser == nullptr) return;
  Browser->SetFilter(eFilter->text().toStdString());
  Browser->SetDatatype(static_cast<OPCADatatype>(std::max(cDataType->currentIndex(), 0)));
  OPCAcesstype rights;
  if (cWritable->isChecked()) rights.Include(opcWritable);
  if (cReadable->isChecked()) rights.Include(opcReadable);
  Browser->SetAccessRights(rights);

  ListView->clear();
  const TStringList& position = Browser->GetPositionList();
  ePath->setText(position.GetCount() > 0 ? QString::fromStdString(position.Get(position.GetCount() - 1))
                                         : QStringLiteral("root"));

  const QIcon branchIcon = style()->standardIcon(QStyle::SP_DirIcon);
  const QIcon leafIcon = style()->standardIcon(QStyle::SP_FileIcon);
  const auto addEntries = [&](const QIcon& icon, int image) {
    const TStringList& names = Browser->GetItems();
    for (int i = 0; i < names.GetCount(); ++i) {
      auto* entry = new QListWidgetItem(icon, QString::fromStdString(names.Get(i)), ListView);
      entry->setData(Qt::UserRole, image);
    }
  };
  Browser->ShowBranches();
  addEntries(branchIcon, kBranchImage);
  // The leaves at the position; in a flat space the browser lists them all.
  Browser->ShowLeafs(false);
  addEntries(leafIcon, kLeafImage);

  if (ListView->count() > 0) ListView->setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
}

bool TXeloDlgBrowse::NextLevel() {
  if (Browser == nullptr) return false;
  // The first selected entry in list order, not in the order of selecting.
  QListWidgetItem* selected = nullptr;
  for (int row = 0; row < ListView->count() && selected == nullptr; ++row) {
    if (ListView->item(row)->isSelected()) selected = ListView->item(row);
  }
  if (selected == nullptr || !IsBranch(selected)) return false;
  Browser->MoveDown(selected->text().toStdString());
  ShowLevel();
  return true;
}

void TXeloDlgBrowse::PreviousLevel() {
  if (Browser == nullptr || Browser->GetPositionList().GetCount() == 0) return;
  Browser->Moveup();
  ShowLevel();
}

void TXeloDlgBrowse::CollectResult() {
  Items->Clear();
  for (int row = 0; row < ListView->count(); ++row) {
    const QListWidgetItem* entry = ListView->item(row);
    if (IsBranch(entry) || !entry->isSelected()) continue;
    const std::string id = Browser->GetItemId(entry->text().toStdString());
    // Empty after a failure the application chose to ignore: no item to
    // hand back, and the dialog must not close as if one were chosen.
    if (!id.empty()) Items->Add(id);
  }
}

void TXeloDlgBrowse::OpenClick() {
  if (Browser == nullptr || Items == nullptr) return;
  Items->Clear();
  if (eFilter->hasFocus()) {
    ShowLevel();  // Enter in the filter box applies the filter
    return;
  }
  if (!NextLevel()) CollectResult();
  if (Items->GetCount() > 0) accept();
}

bool OPCBrowseDialog(TXeloBrowser& Browser, TStrings& Items, bool StartAtRoot) {
  if (!CanBrowse(Browser)) return false;
  TXeloDlgBrowse dialog;
  dialog.Browser = &Browser;
  dialog.Items = &Items;
  dialog.StartAtRoot = StartAtRoot;
  return qt::ShowModal(dialog) == qt::mrOk;
}

std::string OPCBrowseItemDialog(TXeloBrowser& Browser, bool StartAtRoot) {
  std::string result;
  if (!CanBrowse(Browser)) return result;
  TStringList items;
  TXeloDlgBrowse dialog;
  dialog.Browser = &Browser;
  dialog.Items = &items;
  dialog.StartAtRoot = StartAtRoot;
  dialog.ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  if (qt::ShowModal(dialog) == qt::mrOk && items.GetCount() > 0) result = items.Get(0);
  return result;
}

}  // namespace xelo

// The form's meta-object code in this object file, so that linking the form
// does not pull in the meta-object code of every other dialog.
#include "moc_XeloBrowseDlg.cpp"
