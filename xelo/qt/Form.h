// A form: a top-level Qt widget as a framework component that owns the
// non-visual components of that window (a server component, a binding
// component), so that they find each other as components of one form.
#pragma once

#include "xelo/framework/Component.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string_view>
#include <utility>

namespace xelo::qt {

class TForm : public TComponent {
  XELO_CLASS(TForm, TComponent)

 public:
  // `widget` stays the application's; the form only refers to it.
  explicit TForm(QWidget* widget, TComponent* owner = nullptr);
  ~TForm() override;

  // The widget, or null once it was destroyed.
  QWidget* Widget() const { return widget_; }
  // The widget itself or its first descendant whose objectName is `name`;
  // null for an empty name or none.
  QWidget* FindControl(std::string_view name) const;

  // A form designer that edits this form (a design host sets it): asked to
  // make a control its selected one. Empty outside a designer.
  using TSelectControl = std::function<void(QWidget& control)>;
  void SetDesignerSelect(TSelectControl select) { designerSelect_ = std::move(select); }
  const TSelectControl& GetDesignerSelect() const { return designerSelect_; }

 private:
  QPointer<QWidget> widget_;
  TSelectControl designerSelect_;
};

// Widgets that stand for a non-visual component on a form (a picture in a
// form designer, hidden at run time) are marked so: they are no controls,
// and lists of a form's controls leave them out.
void MarkAsComponentStandIn(QWidget& widget);
bool IsComponentStandIn(const QWidget& widget);

}  // namespace xelo::qt
