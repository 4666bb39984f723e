// The library's components in Qt Designer: one custom widget per component
// class of the palette page "OPC" (its stand-in, ComponentWidget.h), on
// the widget box page "OPC" with the class's palette picture, and a task
// menu on each stand-in with its component editor's verbs ("OPC
// Inspector...", "OPC to GUI..."). The forms Designer edits are marked as
// forms, so the components of one form find each other and the form's
// widgets; what a verb changed is reported to Designer as a change of the
// form, which then saves the components' texts with it.
#pragma once

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionFactory>

#include <QObject>
#include <QPointer>

#include <memory>

class QDesignerFormEditorInterface;

namespace xelo {

class TComponentWidget;

class TXeloWidgetCollection : public QObject, public QDesignerCustomWidgetCollectionInterface {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
  Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)

 public:
  explicit TXeloWidgetCollection(QObject* parent = nullptr);
  ~TXeloWidgetCollection() override;

  QList<QDesignerCustomWidgetInterface*> customWidgets() const override;

  // Once per Designer: the task menus, the forms marked.
  void Initialize(QDesignerFormEditorInterface* core);

 private:
  struct Session;
  QList<QDesignerCustomWidgetInterface*> widgets_;
  std::unique_ptr<Session> session_;
  QDesignerFormEditorInterface* core_ = nullptr;
};

// One component class as Designer sees it.
class TXeloWidgetInterface : public QObject, public QDesignerCustomWidgetInterface {
  Q_OBJECT
  Q_INTERFACES(QDesignerCustomWidgetInterface)

 public:
  TXeloWidgetInterface(TXeloWidgetCollection& collection, const QString& componentClass, QObject* parent);

  QString name() const override { return widgetClass_; }
  QString group() const override;
  QString toolTip() const override { return componentClass_; }
  QString whatsThis() const override;
  QString includeFile() const override;
  QIcon icon() const override;
  bool isContainer() const override { return false; }
  QWidget* createWidget(QWidget* parent) override;
  bool isInitialized() const override { return initialized_; }
  void initialize(QDesignerFormEditorInterface* core) override;
  QString domXml() const override;

 private:
  TXeloWidgetCollection& collection_;
  QString componentClass_;
  QString widgetClass_;
  bool initialized_ = false;
};

// The task menu of a stand-in: its component editor's verbs.
class TXeloTaskMenu : public QObject, public QDesignerTaskMenuExtension {
  Q_OBJECT
  Q_INTERFACES(QDesignerTaskMenuExtension)

 public:
  TXeloTaskMenu(TComponentWidget* widget, QDesignerFormEditorInterface* core, QObject* parent);

  QList<QAction*> taskActions() const override { return actions_; }
  QAction* preferredEditAction() const override { return actions_.isEmpty() ? nullptr : actions_.front(); }

 private:
  void RunVerb(int index);

  QPointer<TComponentWidget> widget_;
  QDesignerFormEditorInterface* core_;
  QList<QAction*> actions_;
};

class TXeloTaskMenuFactory : public QExtensionFactory {
  Q_OBJECT

 public:
  TXeloTaskMenuFactory(QDesignerFormEditorInterface* core, QExtensionManager* parent);

 protected:
  QObject* createExtension(QObject* object, const QString& iid, QObject* parent) const override;

 private:
  QDesignerFormEditorInterface* core_;
};

}  // namespace xelo
