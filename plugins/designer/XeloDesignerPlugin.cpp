#include "XeloDesignerPlugin.h"

#include "xelo/design/ComponentEditor.h"
#include "xelo/design/ComponentWidget.h"
#include "xelo/design/DesignRegistry.h"
#include "xelo/design/Designer.h"
#include "xelo/design/PalettePictures.h"
#include "xelo/design/XeloDesign.h"
#include "xelo/framework/Component.h"
#include "xelo/qt/EventLoop.h"
#include "xelo/qt/Form.h"
#include "xelo/qt/UserInterface.h"

#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>
#include <QtDesigner/QDesignerFormWindowManagerInterface>
#include <QtDesigner/QDesignerPropertyEditorInterface>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QExtensionManager>

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QTimer>

namespace xelo {
namespace {

// Designer saves a property only when it counts as changed; the text of a
// component always is, whatever made it (a verb, a property view edit).
void KeepComponentText(QDesignerFormEditorInterface* core, QWidget* widget) {
  if (core == nullptr || core->extensionManager() == nullptr) return;
  auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(core->extensionManager(), widget);
  if (sheet == nullptr) return;
  const int index = sheet->indexOf(QStringLiteral("componentText"));
  if (index >= 0) sheet->setChanged(index, true);
}

// The design host as the component editors see it: a change they report
// makes the form unsaved and the property view show the new values.
class FormWindowDesigner final : public IDesigner {
 public:
  FormWindowDesigner(QDesignerFormEditorInterface* core, TComponentWidget* widget) : core_(core), widget_(widget) {}

  void Modified() override {
    if (widget_ == nullptr) return;
    QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(widget_);
    if (form == nullptr || form->mainContainer() == nullptr) return;
    for (TComponentWidget* w : form->mainContainer()->findChildren<TComponentWidget*>()) KeepComponentText(core_, w);
    form->setDirty(true);
    if (QDesignerPropertyEditorInterface* editor = core_->propertyEditor()) {
      if (editor->object() != nullptr) editor->setObject(editor->object());
    }
  }

 private:
  QDesignerFormEditorInterface* core_;
  QPointer<TComponentWidget> widget_;
};

void WatchForm(QDesignerFormEditorInterface* core, QDesignerFormWindowInterface* form) {
  auto mark = [form] {
    if (QWidget* container = form->mainContainer()) MarkAsForm(container);
  };
  mark();
  QObject::connect(form, &QDesignerFormWindowInterface::mainContainerChanged, form, mark);
  QObject::connect(form, &QDesignerFormWindowInterface::widgetManaged, form, [core, form](QWidget* widget) {
    auto* standIn = qobject_cast<TComponentWidget*>(widget);
    if (standIn == nullptr) return;
    if (!standIn->IsDesigning()) standIn->SetDesigning(true);
    KeepComponentText(core, widget);
    // Back on the form (an undone delete): its component comes back, once
    // Designer is done with the command.
    if (standIn->LoadedComponent() == nullptr) {
      QTimer::singleShot(0, standIn, [standIn] { qt::Guarded([standIn] { LoadFormComponents(standIn); })(); });
    }
  });
  // Deleted from the form (kept by Designer for an undo): its component
  // goes, and with it the references of the other components to it.
  QObject::connect(form, &QDesignerFormWindowInterface::widgetUnmanaged, form, [](QWidget* widget) {
    if (auto* standIn = qobject_cast<TComponentWidget*>(widget)) standIn->Unload();
  });
}

}  // namespace

// --- The collection -------------------------------------------------------------------

// The plugin's copy of the library has a queue of its own: data changes of
// the components on the forms it made arrive through it, in Designer as in
// a program whose QUiLoader found the plugin.
struct TXeloWidgetCollection::Session {
  qt::EventLoopBridge bridge;
};

TXeloWidgetCollection::TXeloWidgetCollection(QObject* parent) : QObject(parent) {
  if (QCoreApplication* application = QCoreApplication::instance()) {
    session_ = std::make_unique<Session>();
    // Qt deletes its plugins' instances when it unloads them, after the
    // program's exit handlers have ended the library's copy of the
    // application object; the bridge to it goes with Qt's application.
    connect(application, &QObject::destroyed, this, [this] { session_.reset(); });
  }
  RegisterXeloDesign();
  for (TClass cls : GetPaletteClasses("OPC")) {
    if (ComponentWidgetClassName(cls).isEmpty()) continue;
    widgets_.append(new TXeloWidgetInterface(*this, QString::fromStdString(cls->ClassName()), this));
  }
}

TXeloWidgetCollection::~TXeloWidgetCollection() = default;

QList<QDesignerCustomWidgetInterface*> TXeloWidgetCollection::customWidgets() const { return widgets_; }

void TXeloWidgetCollection::Initialize(QDesignerFormEditorInterface* core) {
  if (core_ != nullptr || core == nullptr) return;
  core_ = core;
  if (QExtensionManager* manager = core->extensionManager()) {
    manager->registerExtensions(new TXeloTaskMenuFactory(core, manager), Q_TYPEID(QDesignerTaskMenuExtension));
  }
  if (QDesignerFormWindowManagerInterface* forms = core->formWindowManager()) {
    for (int i = 0; i < forms->formWindowCount(); ++i) WatchForm(core, forms->formWindow(i));
    connect(forms, &QDesignerFormWindowManagerInterface::formWindowAdded, this,
            [core](QDesignerFormWindowInterface* form) { WatchForm(core, form); });
  }
}

// --- One component class -------------------------------------------------------------

TXeloWidgetInterface::TXeloWidgetInterface(TXeloWidgetCollection& collection, const QString& componentClass,
                                           QObject* parent)
    : QObject(parent),
      collection_(collection),
      componentClass_(componentClass),
      widgetClass_(ComponentWidgetClassName(FindClass(componentClass.toStdString()))) {}

QString TXeloWidgetInterface::group() const { return QStringLiteral("OPC"); }

QString TXeloWidgetInterface::whatsThis() const {
  return componentClass_ + QStringLiteral(
                               ": a component of the form, shown here by its picture and invisible at run time. "
                               "Its task menu holds its editors.");
}

QString TXeloWidgetInterface::includeFile() const { return QStringLiteral("xelo/design/ComponentWidget.h"); }

QIcon TXeloWidgetInterface::icon() const { return QIcon(PalettePicture(componentClass_.toStdString())); }

QWidget* TXeloWidgetInterface::createWidget(QWidget* parent) {
  TComponentWidget* widget = CreateComponentWidget(widgetClass_, parent);
  // Made for a form Designer edits, the component is designed; made for
  // Designer's preview or a program's form loader, it runs.
  if (widget != nullptr && initialized_ && QDesignerFormWindowInterface::findFormWindow(parent) != nullptr) {
    widget->SetDesigning(true);
  }
  return widget;
}

void TXeloWidgetInterface::initialize(QDesignerFormEditorInterface* core) {
  if (initialized_ || core == nullptr) return;
  initialized_ = true;
  collection_.Initialize(core);
}

QString TXeloWidgetInterface::domXml() const {
  QString name = componentClass_;
  if (name.startsWith(QLatin1Char('T'), Qt::CaseInsensitive)) name.remove(0, 1);
  return QStringLiteral("<ui language=\"c++\"><widget class=\"%1\" name=\"%2\"/></ui>").arg(widgetClass_, name);
}

// --- The task menu ---------------------------------------------------------------------

TXeloTaskMenu::TXeloTaskMenu(TComponentWidget* widget, QDesignerFormEditorInterface* core, QObject* parent)
    : QObject(parent), widget_(widget), core_(core) {
  // The verbs depend on the class only: listed by an editor of a scratch
  // component, so that opening the menu does not load the form early.
  const TComponentEditorFactory factory = FindComponentEditor(widget->ComponentClass());
  if (!factory) return;
  qt::Guarded([&] {
    FormWindowDesigner designer(core, widget);
    TComponent scratch(nullptr);
    const std::unique_ptr<TComponentEditor> editor =
        factory(*widget->ComponentClass()->CreateComponent(scratch), designer);
    for (int i = 0; editor != nullptr && i < editor->GetVerbCount(); ++i) {
      auto* action = new QAction(QString::fromStdString(editor->GetVerb(i)), this);
      connect(action, &QAction::triggered, this, [this, i] { RunVerb(i); });
      actions_.append(action);
    }
  })();
}

void TXeloTaskMenu::RunVerb(int index) {
  if (widget_ == nullptr) return;
  // A fresh editor for each use, as the design registry expects; an
  // exception (a refused inspector, no server for the bindings) goes to
  // the user and reports nothing modified.
  qt::Guarded([&] {
    FormWindowDesigner designer(core_, widget_);
    TComponent& component = widget_->Component();
    // The binding table's row clicks select the row's widget on the form.
    if (QDesignerFormWindowInterface* form = QDesignerFormWindowInterface::findFormWindow(widget_)) {
      FormComponentsOf(widget_)->SetDesignerSelect([window = QPointer(form)](QWidget& control) {
        if (window == nullptr) return;
        window->clearSelection(false);
        window->selectWidget(&control, true);
      });
    }
    if (std::unique_ptr<TComponentEditor> editor = GetComponentEditor(component, designer)) editor->ExecuteVerb(index);
  })();
}

TXeloTaskMenuFactory::TXeloTaskMenuFactory(QDesignerFormEditorInterface* core, QExtensionManager* parent)
    : QExtensionFactory(parent), core_(core) {}

QObject* TXeloTaskMenuFactory::createExtension(QObject* object, const QString& iid, QObject* parent) const {
  if (iid != Q_TYPEID(QDesignerTaskMenuExtension)) return nullptr;
  auto* widget = qobject_cast<TComponentWidget*>(object);
  return widget != nullptr ? new TXeloTaskMenu(widget, core_, parent) : nullptr;
}

}  // namespace xelo
