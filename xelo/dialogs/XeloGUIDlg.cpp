// The binding table: its form, the rows over the form's controls and the
// component's bindings, the remembered default property names, and the
// function that runs it modally.
#include "xelo/dialogs/XeloGUIDlg.h"

#include "xelo/dialogs/xGUIShowItems.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Registry.h"
#include "xelo/qt/UserInterface.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScreen>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <exception>

namespace xelo {

namespace {

constexpr int colControl = 0;
constexpr int colPropName = 1;
constexpr int colGroup = 2;
constexpr int colItem = 3;
// A row's binding, by its ID in the component's collection: a binding can
// be deleted while the table is open (its widget destroyed, a value it
// could not take), and an ID that is gone simply finds nothing.
constexpr int kBindingRole = Qt::UserRole;
constexpr int kNoBinding = -1;

constexpr const char* kSettingsKey = "\\Software\\Tavri\\XELO";

QString Text(const std::string& text) { return QString::fromStdString(text); }
std::string Text(const QTreeWidgetItem& row, int column) { return row.text(column).toStdString(); }

std::string ClassName(const QWidget& control) { return control.metaObject()->className(); }

void CollectControls(const QWidget& parent, std::vector<QWidget*>& controls) {
  for (QObject* child : parent.children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget == nullptr || widget->isWindow() || qt::IsComponentStandIn(*widget)) continue;
    const QString name = widget->objectName();
    if (name.startsWith(QLatin1String("qt_"))) continue;  // Qt's inside of a control
    if (!name.isEmpty()) controls.push_back(widget);
    CollectControls(*widget, controls);
  }
}

}  // namespace

std::vector<QWidget*> FormControls(const QWidget& form) {
  std::vector<QWidget*> controls;
  CollectControls(form, controls);
  return controls;
}

std::string DefaultPropName(QWidget* control) {
  if (control == nullptr) return {};
  std::string name;
  TRegistry registry;
  // Created when missing, reading too: the key is where the user's choices
  // go, and it is there from the first look on.
  if (registry.OpenKey(kSettingsKey, true)) name = registry.ReadString(ClassName(*control));
  if (name.empty()) GetDefaultPropName(control, name);
  return name;
}

void RememberDefaultPropName(QWidget* control, const std::string& name) {
  if (control == nullptr) return;
  const std::string valueName = ClassName(*control);
  TRegistry registry;
  // Not at the root instead: a failure must not pass for a remembered name.
  if (!registry.OpenKey(kSettingsKey, true)) throw ERegistryException("Failed to set data for '" + valueName + "'");
  if (name.empty()) {
    registry.DeleteValue(valueName);
  } else {
    registry.WriteString(valueName, name);
  }
}

TxGUISelectForm::TxGUISelectForm(QWidget* parent) : QDialog(parent) {
  setObjectName("xGUISelectForm");
  setWindowTitle("OPC to GUI");
  // Sizeable, with a system menu and a maximise button.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setSizeGripEnabled(true);

  ListView = new QTreeWidget(this);
  ListView->setObjectName("ListView");
  ListView->setRootIsDecorated(false);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setSelectionMode(QAbstractItemView::SingleSelection);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setHeaderLabels({"Control", "Propname", "OPC Group", "OPC Item"});
  ListView->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
  ListView->setToolTip("Make doubleclick to assign\nMake right mouseclick to reset");
  // The right button is the reset, not a context menu.
  ListView->setContextMenuPolicy(Qt::NoContextMenu);
  ListView->viewport()->installEventFilter(this);
  // A double click on a row (not on the empty part of the list) assigns;
  // the press before it has made that row the selected one.
  connect(ListView, &QTreeWidget::itemDoubleClicked, this, qt::Guarded([this] { AssignRow(); }));
  // At design time a click on a row makes its control the form designer's
  // selected one.
  connect(ListView, &QTreeWidget::itemClicked, this, qt::Guarded([this](QTreeWidgetItem* row, int) {
    QWidget* control = RowControl(row);
    if (control == nullptr || GUI == nullptr || !GUI->GetComponentState().Contains(csDesigning)) return;
    if (OwnerForm != nullptr && OwnerForm->GetDesignerSelect()) OwnerForm->GetDesignerSelect()(*control);
  }));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(ListView);
  resize(520, 340);
  if (const QScreen* desktop = screen()) move(desktop->availableGeometry().center() - rect().center());
}

void TxGUISelectForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  qt::Guarded([this] { FillRows(); })();
}

void TxGUISelectForm::FillRows() {
  Server = GUI != nullptr ? GUI->GetOPCServer() : nullptr;
  OwnerForm = GUI != nullptr ? dynamic_cast<qt::TForm*>(GUI->GetOwner()) : nullptr;
  ListView->setUpdatesEnabled(false);
  ListView->clear();
  rowControls_.clear();
  if (OwnerForm != nullptr && OwnerForm->Widget() != nullptr) {
    for (QWidget* control : FormControls(*OwnerForm->Widget())) {
      std::string name = control->objectName().toStdString();
      std::string propName;
      std::string group;
      std::string item;
      const TxGUIItem* binding = GUI->Find(control, name, propName, group, item);
      if (propName.empty()) propName = DefaultPropName(control);
      auto* row = new QTreeWidgetItem(ListView, {Text(name), Text(propName), Text(group), Text(item)});
      row->setData(colControl, kBindingRole, binding != nullptr ? binding->GetID() : kNoBinding);
      rowControls_.emplace_back(control);
    }
  }
  ListView->setUpdatesEnabled(true);
  if (ListView->topLevelItemCount() > 0) ListView->setCurrentItem(ListView->topLevelItem(0));
}

TxGUIItem* TxGUISelectForm::RowBinding(const QTreeWidgetItem* row) const {
  if (GUI == nullptr || row == nullptr) return nullptr;
  const int id = row->data(colControl, kBindingRole).toInt();
  return id == kNoBinding ? nullptr : static_cast<TxGUIItem*>(GUI->GetItems()->FindItemID(id));
}

QWidget* TxGUISelectForm::RowControl(const QTreeWidgetItem* row) const {
  const int index = ListView->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(row));
  return index >= 0 && index < static_cast<int>(rowControls_.size()) ? rowControls_[index].data() : nullptr;
}

QTreeWidgetItem* TxGUISelectForm::SelectedRow() const {
  const QList<QTreeWidgetItem*> selected = ListView->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

void TxGUISelectForm::ResetRow() {
  QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  row->setText(colGroup, QString());
  row->setText(colItem, QString());
}

void TxGUISelectForm::AssignRow() {
  QTreeWidgetItem* row = SelectedRow();
  if (row == nullptr) return;
  std::string group = Text(*row, colGroup);
  std::string item = Text(*row, colItem);
  std::string propName = Text(*row, colPropName);
  bool setDefault = false;
  if (!xGUISelectOPCItem(Server, group, item, propName, setDefault)) return;
  if (setDefault) RememberDefaultPropName(RowControl(row), propName);
  row->setText(colGroup, Text(group));
  row->setText(colItem, Text(item));
  row->setText(colPropName, Text(propName));
}

void TxGUISelectForm::ApplyRows() {
  if (GUI == nullptr) return;
  for (int r = 0; r < ListView->topLevelItemCount(); ++r) {
    const QTreeWidgetItem& row = *ListView->topLevelItem(r);
    QWidget* control = RowControl(&row);
    const std::string propName = Text(row, colPropName);
    const std::string group = Text(row, colGroup);
    const std::string item = Text(row, colItem);
    TxGUIItem* binding = RowBinding(&row);
    if (binding != nullptr) {
      if (group.empty() || item.empty()) {
        delete binding;
        continue;
      }
      const int id = binding->GetID();
      // Setting the group or the item attaches the binding and shows the
      // item's value at once; a value the widget cannot take deletes the
      // binding there, so it is looked up again before each further step.
      const auto alive = [&] { return GUI->GetItems()->FindItemID(id) != nullptr; };
      binding->SetPropName(propName);
      binding->SetOPCGroup(group);
      if (alive()) binding->SetOPCItem(item);
      if (alive()) binding->SetComponent(control);
    } else if (control != nullptr && (!group.empty() || !item.empty())) {
      GUI->AddItem(group, item, control, propName);
    }
  }
}

void TxGUISelectForm::done(int result) {
  // The table closes whatever a row's change raised; the rest of the rows
  // are not applied then, and the error is reported.
  try {
    ApplyRows();
  } catch (const std::exception& error) {
    Application().HandleException(error);
  }
  QDialog::done(result);
}

bool TxGUISelectForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView->viewport() && event->type() == QEvent::MouseButtonPress &&
      static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
    // The row under the mouse becomes the selected one first, so that the
    // reset hits the row the user points at.
    if (QTreeWidgetItem* under = ListView->itemAt(static_cast<QMouseEvent*>(event)->position().toPoint())) {
      ListView->setCurrentItem(under);
    }
    ResetRow();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void xGUISelectControls(TXeloGUI* GUI) {
  if (GUI == nullptr) return;
  if (GUI->GetOPCServer() == nullptr) throw Exception("first assign property opcserver");
  if (dynamic_cast<qt::TForm*>(GUI->GetOwner()) == nullptr) throw Exception("only possible on Forms");
  TxGUISelectForm form;
  form.GUI = GUI;
  qt::ShowModal(form);
}

}  // namespace xelo

// The form's meta-object code in this object file, so that linking the form
// does not pull in the meta-object code of every other dialog.
#include "moc_XeloGUIDlg.cpp"
