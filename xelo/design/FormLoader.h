// Loads a form designed in Qt Designer (a .ui file) with the library's
// components on it: a QUiLoader that makes the components' stand-ins
// itself (ComponentWidget.h), so a program needs neither the Designer
// plugin nor a plugin path at run time. After load() the components of the
// form are loaded together (an active server connects, bindings attach to
// their widgets), and the form's widgets show values once the program runs
// Qt's event loop with the framework's queue bound to it:
//
//   QApplication app(argc, argv);
//   xelo::qt::EventLoopBridge bridge;
//   xelo::TFormLoader loader;
//   QFile file("plant.ui");
//   file.open(QIODevice::ReadOnly);
//   std::unique_ptr<QWidget> form(loader.load(&file));
//   form->show();
//   return app.exec();
//
// Errors of the components' texts (a text that does not parse, a widget or
// server a binding names that the form does not have) are raised by
// load(), after the whole form was made; the form is then returned through
// LastForm() so the caller can still show or delete it.
//
// Main thread only.
#pragma once

#include <QPointer>
#include <QUiLoader>
#include <QWidget>

namespace xelo {

class TFormLoader : public QUiLoader {
  Q_OBJECT

 public:
  explicit TFormLoader(QObject* parent = nullptr);

  // QUiLoader::load, then the form's components loaded. Null when Qt could
  // not read the form (errorString() says why).
  QWidget* load(QIODevice* device, QWidget* parentWidget = nullptr);
  // The last form load() made, also when it raised; null once deleted.
  QWidget* LastForm() const { return lastForm_; }

  QWidget* createWidget(const QString& className, QWidget* parent = nullptr, const QString& name = QString()) override;
  // Qt's own widgets and the stand-ins of the library's components.
  QStringList availableWidgets() const;

 private:
  QPointer<QWidget> lastForm_;
};

}  // namespace xelo
