#include "xelo/design/FormLoader.h"

#include "xelo/design/ComponentWidget.h"
#include "xelo/design/DesignRegistry.h"
#include "xelo/design/XeloDesign.h"

namespace xelo {

TFormLoader::TFormLoader(QObject* parent) : QUiLoader(parent) {}

QWidget* TFormLoader::load(QIODevice* device, QWidget* parentWidget) {
  lastForm_ = QUiLoader::load(device, parentWidget);
  if (lastForm_ != nullptr) LoadFormComponents(lastForm_);
  return lastForm_;
}

QWidget* TFormLoader::createWidget(const QString& className, QWidget* parent, const QString& name) {
  if (TComponentWidget* widget = CreateComponentWidget(className, parent)) {
    widget->setObjectName(name);
    return widget;
  }
  return QUiLoader::createWidget(className, parent, name);
}

QStringList TFormLoader::availableWidgets() const {
  QStringList names = QUiLoader::availableWidgets();
  RegisterXeloDesign();
  for (TClass cls : GetPaletteClasses("OPC")) {
    const QString name = ComponentWidgetClassName(cls);
    if (!name.isEmpty() && !names.contains(name)) names.append(name);
  }
  return names;
}

}  // namespace xelo
