#include "xelo/qt/Form.h"

namespace xelo::qt {

TForm::TForm(QWidget* widget, TComponent* owner) : TComponent(owner), widget_(widget) {}

TForm::~TForm() = default;

TClass TForm::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TForm>("TForm").Build();
  return &meta;
}

QWidget* TForm::FindControl(std::string_view name) const {
  if (widget_ == nullptr || name.empty()) return nullptr;
  const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
  if (widget_->objectName() == wanted) return widget_;
  return widget_->findChild<QWidget*>(wanted);
}

namespace {
const char* const kStandIn = "xeloComponentStandIn";
}

void MarkAsComponentStandIn(QWidget& widget) { widget.setProperty(kStandIn, true); }

bool IsComponentStandIn(const QWidget& widget) { return widget.property(kStandIn).toBool(); }

}  // namespace xelo::qt
