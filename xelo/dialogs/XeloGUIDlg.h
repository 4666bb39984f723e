// The binding table ("OPC to GUI"): every control of the form that owns a
// binding component, one row each, with the property, group and item it is
// bound to. A double click on a row assigns through the item dialog
// (xGUIShowItems.h), a right click resets the row's group and item; the
// rows become bindings when the table closes, however it is closed. At
// design time a click on a row selects its control in the form designer
// (qt::TForm::GetDesignerSelect), when the form has one.
//
// The controls of a form are the descendants of its widget that carry an
// objectName, in the widget tree's order (depth first, children in their
// order): controls inside a named panel or group box are controls of the
// form too. Qt's own inner widgets are not: a widget whose objectName
// starts with "qt_" (the viewport of a scroll area, the line edit of a spin
// box) is skipped with everything below it, and so are a separate window
// parented to the form (a dialog, a menu) and a widget that stands for a
// non-visual component (qt::IsComponentStandIn: a form designer's picture
// of a server or binding component).
//
// The default property name of a control, proposed for a row without one,
// is the one remembered for the control's class in the per-user settings
// (key "\Software\Tavri\XELO", value name = the Qt class name, e.g.
// "QLineEdit"), else the control registry's. Settings failures are not
// caught: the two functions below raise ERegistryException, and inside the
// table the application's exception handling reports it.
//
// Main thread only.
#pragma once

#include "xelo/gui/XeloGUI.h"
#include "xelo/qt/Form.h"

#include <QDialog>
#include <QPointer>

#include <string>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace xelo {

class TxGUISelectForm : public QDialog {
  Q_OBJECT

 public:
  explicit TxGUISelectForm(QWidget* parent = nullptr);

  // Set before showing; not owned.
  TXeloGUI* GUI = nullptr;
  // Taken from GUI when the table is shown: its server and its owner form
  // (null when the owner is no form).
  TXeloServer* Server = nullptr;
  qt::TForm* OwnerForm = nullptr;

  // One row per control of OwnerForm: the control's name, its (first)
  // binding's property name (else the default property name), group and
  // item; the first row selected.
  void FillRows();
  // The binding a row was filled from, or null: none, or deleted since
  // (its widget went, or a value it could not take dropped it).
  TxGUIItem* RowBinding(const QTreeWidgetItem* row) const;
  // Right mouse button: empties the selected row's group and item.
  void ResetRow();
  // Double click: edits the selected row in the item dialog.
  void AssignRow();
  // Turns every row into a binding change (what closing does).
  void ApplyRows();

  QTreeWidget* ListView = nullptr;

 protected:
  // Each showing fills the rows anew from the bindings.
  void showEvent(QShowEvent* event) override;
  // Every way of closing ends here: the rows are applied first.
  void done(int result) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTreeWidgetItem* SelectedRow() const;
  // The widget a row stands for, or null once it was destroyed. Kept per
  // row rather than found again by name: two widgets may share a name.
  QWidget* RowControl(const QTreeWidgetItem* row) const;

  std::vector<QPointer<QWidget>> rowControls_;  // in row order
};

// The table on `GUI`'s form, modally; the bindings change when it closes.
// Nothing without a component. Raises Exception "first assign property
// opcserver" for a component without server and "only possible on Forms"
// for one whose owner is no qt::TForm.
void xGUISelectControls(TXeloGUI* GUI);

// The controls of the form `form` as the table lists them (see above).
std::vector<QWidget*> FormControls(const QWidget& form);

// The property name remembered for `control`'s class, else the control
// registry's default; empty for none (and for no control).
std::string DefaultPropName(QWidget* control);
// Remembers `name` for `control`'s class; the empty name forgets it.
// Nothing without a control.
void RememberDefaultPropName(QWidget* control, const std::string& name);

}  // namespace xelo
