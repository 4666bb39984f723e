#include "xelo/design/ComponentWidget.h"

#include "xelo/core/XeloServer.h"
#include "xelo/core/XeloServerBrowser.h"
#include "xelo/design/PalettePictures.h"
#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Filer.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/TextForm.h"
#include "xelo/framework/TypInfo.h"
#include "xelo/gui/XeloGUI.h"
#include "xelo/qt/Form.h"

#include <QPainter>
#include <QTimer>

#include <exception>
#include <memory>
#include <utility>
#include <vector>

namespace xelo {

namespace design_detail {

const QString kHolderName = QStringLiteral("xelo_form_components");

// The framework form of a Qt form, kept as a hidden child of the form's
// widget: it lives as long as the widget, and takes the components of the
// form's stand-ins with it.
class FormHolder : public QObject {
 public:
  explicit FormHolder(QWidget* widget) : QObject(widget), form_(std::make_unique<qt::TForm>(widget)) {
    setObjectName(kHolderName);
  }
  qt::TForm& Form() const { return *form_; }

 private:
  std::unique_ptr<qt::TForm> form_;
};

}  // namespace design_detail

namespace {

using design_detail::FormHolder;
using design_detail::kHolderName;

const char* const kFormMark = "xeloForm";

QWidget* FormWidgetOf(QWidget* widget) {
  for (QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    if (w->property(kFormMark).toBool() || w->isWindow()) return w;
  }
  return widget;
}

FormHolder* HolderOf(QWidget* formWidget) {
  // By name and C++ type: the holder has no meta-object of its own.
  return dynamic_cast<FormHolder*>(formWidget->findChild<QObject*>(kHolderName, Qt::FindDirectChildrenOnly));
}

std::string Utf8(const QString& text) { return text.toStdString(); }

// Runs a Qt property accessor: Qt cannot carry an exception through its
// meta-object calls, so errors go to the application's handler.
template <class F>
void Reported(F action) {
  try {
    action();
  } catch (const std::exception& error) {
    Application().HandleException(error);
  }
}

// The text of one component, parsed and checked against the stand-in's
// class; `name` replaces the text's own object name.
TFormObject ParseComponentText(const std::string& text, TClass componentClass, const std::string& name) {
  TFormObject object = ParseFormText(text);
  if (!SameText(object.ClassName, componentClass->ClassName())) {
    throw EReadError("The text describes a " + object.ClassName + ", not a " + componentClass->ClassName());
  }
  object.ClassName = componentClass->ClassName();
  object.Name = name;
  return object;
}

// Reads `children` into `form`'s components, so that references between
// them resolve among the form's components; the form's other components
// are not reloaded.
void ReadIntoForm(qt::TForm& form, std::vector<TFormObject> children) {
  TFormObject root;
  root.ClassName = qt::TForm::StaticClass()->ClassName();
  root.Name = form.GetName();
  root.Children = std::move(children);
  ReadComponentsIntoForm(root, form);
}

}  // namespace

// --- TComponentWidget -------------------------------------------------------------

TComponentWidget::TComponentWidget(TClass componentClass, QWidget* parent)
    : QWidget(parent), componentClass_(componentClass) {
  RegisterClass(componentClass);
  qt::MarkAsComponentStandIn(*this);
  setVisible(false);
  setFixedSize(sizeHint());
  connect(this, &QObject::objectNameChanged, this, &TComponentWidget::Renamed);
  // A form loader sets the stored text after making the widget; once it
  // is done (it runs without returning to the event loop), the form's
  // components are loaded together.
  QTimer::singleShot(0, this, [this] {
    if (form_ == nullptr) Reported([this] { LoadFormComponents(this); });
  });
}

void TComponentWidget::Unload() {
  TComponent* component = LoadedComponent();
  if (component == nullptr) return;
  pendingText_ = Utf8(ComponentText());
  form_ = nullptr;
  componentName_.clear();
  delete component;
}

TComponentWidget::~TComponentWidget() {
  // The form may be gone first (its holder is destroyed with the window);
  // then so is the component.
  if (TComponent* component = LoadedComponent()) delete component;
}

void TComponentWidget::SetDesigning(bool designing) {
  designing_ = designing;
  setVisible(designing);
  if (TComponent* component = LoadedComponent()) component->SetDesigning(designing);
  update();
}

std::string TComponentWidget::ObjectName() const { return Utf8(objectName()); }

TComponent* TComponentWidget::LoadedComponent() const {
  if (form_ == nullptr) return nullptr;
  TComponent* component = form_->Form().FindComponent(componentName_);
  return component != nullptr && component->InheritsFrom(componentClass_) ? component : nullptr;
}

TComponent& TComponentWidget::Component() {
  if (TComponent* component = LoadedComponent()) return *component;
  LoadFormComponents(this);
  TComponent* component = LoadedComponent();
  if (component == nullptr) throw EComponentError("The component of " + Utf8(objectName()) + " is gone");
  return *component;
}

QString TComponentWidget::ComponentText() const {
  if (TComponent* component = LoadedComponent()) {
    // The form's text, whose references name the form's components as they
    // are read back; this component's object out of it.
    const TFormObject form = ComponentToForm(form_->Form());
    for (const TFormObject& child : form.Children) {
      if (child.Name == component->GetName()) return QString::fromStdString(FormToText(child));
    }
  }
  if (pendingText_) return QString::fromStdString(*pendingText_);
  TFormObject empty;
  empty.ClassName = componentClass_->ClassName();
  empty.Name = ObjectName();
  return QString::fromStdString(FormToText(empty));
}

void TComponentWidget::SetComponentText(const QString& text) {
  const std::string utf8 = Utf8(text);
  if (TComponent* component = LoadedComponent()) {
    TFormObject object = ParseComponentText(utf8, componentClass_, component->GetName());
    std::vector<TFormObject> children;
    children.push_back(std::move(object));
    ReadIntoForm(form_->Form(), std::move(children));
    return;
  }
  pendingText_ = utf8;  // checked when the form's components are loaded
}

QString TComponentWidget::ComponentTextProperty() const {
  QString text;
  Reported([&] { text = ComponentText(); });
  return text;
}

void TComponentWidget::SetComponentTextProperty(const QString& text) {
  Reported([&] { SetComponentText(text); });
}

void TComponentWidget::Renamed(const QString& name) {
  TComponent* component = LoadedComponent();
  if (component == nullptr) return;
  Reported([&] {
    component->SetName(Utf8(name));
    componentName_ = component->GetName();
  });
}

// Before the component is loaded, the Qt properties read and change the
// text the stand-in keeps: a design host that reads them while it is still
// making the form must not load the form's components one at a time
// (references between them would not resolve).
std::optional<TFormValue> TComponentWidget::PendingValue(const char* name) const {
  if (pendingText_) {
    try {
      const TFormObject object = ParseFormText(*pendingText_);
      for (const TFormProperty& property : object.Properties) {
        if (SameText(property.Name, name)) return property.Value;
      }
    } catch (const EParserError&) {
      // The text's error is reported when the form's components are loaded.
    }
  }
  return std::nullopt;
}

void TComponentWidget::SetPendingValue(const char* name, std::optional<TFormValue> value) {
  TFormObject object;
  if (pendingText_) {
    object = ParseFormText(*pendingText_);
  } else {
    object.ClassName = componentClass_->ClassName();
    object.Name = ObjectName();
  }
  std::erase_if(object.Properties, [name](const TFormProperty& p) { return SameText(p.Name, name); });
  if (value) object.Properties.push_back({name, std::move(*value)});
  pendingText_ = FormToText(object);
}

template <class F>
auto TComponentWidget::ReadDefault(F read) const {
  TComponent scratch(nullptr);
  return read(*componentClass_->CreateComponent(scratch));
}

QString TComponentWidget::StringProperty(const char* name) const {
  QString value;
  Reported([&] {
    if (TComponent* component = LoadedComponent()) {
      value = QString::fromStdString(GetStrProp(*component, name));
    } else if (const std::optional<TFormValue> pending = PendingValue(name)) {
      value = QString::fromStdString(pending->Text);
    } else {
      value = QString::fromStdString(ReadDefault([name](TComponent& c) { return GetStrProp(c, name); }));
    }
  });
  return value;
}

void TComponentWidget::SetStringProperty(const char* name, const QString& value) {
  Reported([&] {
    if (TComponent* component = LoadedComponent()) {
      SetStrProp(*component, name, Utf8(value));
    } else {
      SetPendingValue(name, value.isEmpty() ? std::nullopt : std::optional(TFormValue::String(Utf8(value))));
    }
  });
}

int TComponentWidget::IntegerProperty(const char* name) const {
  std::int64_t value = 0;
  Reported([&] {
    if (TComponent* component = LoadedComponent()) {
      value = GetOrdProp(*component, name);
    } else if (const std::optional<TFormValue> pending = PendingValue(name)) {
      value = pending->Kind == TFormValueKind::Ident ? (SameText(pending->Text, "True") ? 1 : 0) : pending->Int;
    } else {
      value = ReadDefault([name](TComponent& c) { return GetOrdProp(c, name); });
    }
  });
  return static_cast<int>(value);
}

void TComponentWidget::SetIntegerProperty(const char* name, int value) {
  Reported([&] {
    if (TComponent* component = LoadedComponent()) {
      SetOrdProp(*component, name, value);
    } else if (GetPropInfo(componentClass_, name)->Kind() == tkEnumeration) {  // a Boolean
      SetPendingValue(name, TFormValue::Ident(value != 0 ? "True" : "False"));
    } else {
      SetPendingValue(name, TFormValue::Integer(value));
    }
  });
}

QSize TComponentWidget::sizeHint() const { return {32, 32}; }

void TComponentWidget::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const QPixmap picture = PalettePicture(componentClass_->ClassName());
  if (!picture.isNull()) painter.drawPixmap(rect(), picture);
}

// --- Loading a form's components ---------------------------------------------------

void LoadFormComponents(QWidget* widget) {
  QWidget* formWidget = FormWidgetOf(widget);
  FormHolder* holder = HolderOf(formWidget);
  std::vector<TComponentWidget*> waiting;
  auto collect = [&](TComponentWidget* w) {
    if (w->form_ == nullptr && FormWidgetOf(w) == formWidget) waiting.push_back(w);
  };
  if (auto* self = qobject_cast<TComponentWidget*>(formWidget)) collect(self);
  for (TComponentWidget* w : formWidget->findChildren<TComponentWidget*>()) collect(w);
  if (waiting.empty()) return;
  if (holder == nullptr) {
    holder = new FormHolder(formWidget);
    for (const TComponentWidget* w : waiting) {
      if (w->designing_) holder->Form().SetDesigning(true);
    }
  }
  qt::TForm& form = holder->Form();

  // Every stand-in gets a name first, as a design host would give it.
  for (TComponentWidget* w : waiting) {
    if (!w->objectName().isEmpty()) continue;
    const std::string base = std::string(w->componentClass_->ClassName()).substr(1);
    for (int n = 1;; ++n) {
      const QString name = QString::fromStdString(base + std::to_string(n));
      if (form.FindComponent(Utf8(name)) == nullptr && formWidget->findChild<QWidget*>(name) == nullptr) {
        w->setObjectName(name);
        break;
      }
    }
  }

  std::exception_ptr failure;
  std::vector<TFormObject> children;
  for (TComponentWidget* w : waiting) {
    try {
      children.push_back(ParseComponentText(w->pendingText_.value_or(Utf8(w->ComponentText())),
                                            w->componentClass_, w->ObjectName()));
    } catch (...) {
      if (!failure) failure = std::current_exception();
      // An empty component in its place, which references to it still find.
      TFormObject empty;
      empty.ClassName = w->componentClass_->ClassName();
      empty.Name = w->ObjectName();
      children.push_back(std::move(empty));
    }
  }
  try {
    ReadIntoForm(form, std::move(children));
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  // Whatever failed, every stand-in ends with a component of its class.
  for (TComponentWidget* w : waiting) {
    TComponent* component = form.FindComponent(w->ObjectName());
    if (component == nullptr) {
      try {
        component = w->componentClass_->CreateComponent(form);
        component->SetName(w->ObjectName());
      } catch (...) {
        delete component;
        if (!failure) failure = std::current_exception();
        continue;
      }
    }
    w->pendingText_.reset();
    w->componentName_ = component->GetName();
    w->form_ = holder;
  }
  if (failure) std::rethrow_exception(failure);
}

qt::TForm* FormComponentsOf(QWidget* widget) {
  FormHolder* holder = HolderOf(FormWidgetOf(widget));
  return holder != nullptr ? &holder->Form() : nullptr;
}

void MarkAsForm(QWidget* widget) { widget->setProperty(kFormMark, true); }

// --- The library's components ------------------------------------------------------

TXeloServerWidget::TXeloServerWidget(QWidget* parent) : TComponentWidget(TXeloServer::StaticClass(), parent) {}

TxeloServerBrowserWidget::TxeloServerBrowserWidget(QWidget* parent)
    : TComponentWidget(TxeloServerBrowser::StaticClass(), parent) {}

TXeloGUIWidget::TXeloGUIWidget(QWidget* parent) : TComponentWidget(TXeloGUI::StaticClass(), parent) {}

QString TXeloGUIWidget::OPCServer() const {
  QString name;
  Reported([&] {
    if (const auto* gui = static_cast<const TXeloGUI*>(LoadedComponent())) {
      if (const TXeloServer* server = gui->GetOPCServer()) name = QString::fromStdString(server->GetName());
    } else if (const std::optional<TFormValue> pending = PendingValue("OPCServer")) {
      name = QString::fromStdString(pending->Text);
    }
  });
  return name;
}

void TXeloGUIWidget::SetOPCServer(const QString& name) {
  Reported([&] {
    auto* gui = static_cast<TXeloGUI*>(LoadedComponent());
    if (gui == nullptr) {
      SetPendingValue("OPCServer", name.isEmpty() ? std::nullopt : std::optional(TFormValue::Ident(Utf8(name))));
      return;
    }
    TXeloServer* server = nullptr;
    if (!name.isEmpty()) {
      qt::TForm* form = FormComponentsOf(this);
      server = form != nullptr ? dynamic_cast<TXeloServer*>(form->FindComponent(Utf8(name))) : nullptr;
      if (server == nullptr) throw EPropertyError("No server component named " + Utf8(name) + " on the form");
    }
    gui->SetOPCServer(server);
  });
}

QString ComponentWidgetClassName(TClass componentClass) {
  if (componentClass == TXeloServer::StaticClass()) return QStringLiteral("xelo::TXeloServerWidget");
  if (componentClass == TxeloServerBrowser::StaticClass()) return QStringLiteral("xelo::TxeloServerBrowserWidget");
  if (componentClass == TXeloGUI::StaticClass()) return QStringLiteral("xelo::TXeloGUIWidget");
  return {};
}

TComponentWidget* CreateComponentWidget(const QString& widgetClassName, QWidget* parent) {
  if (widgetClassName == QLatin1String("xelo::TXeloServerWidget")) return new TXeloServerWidget(parent);
  if (widgetClassName == QLatin1String("xelo::TxeloServerBrowserWidget")) return new TxeloServerBrowserWidget(parent);
  if (widgetClassName == QLatin1String("xelo::TXeloGUIWidget")) return new TXeloGUIWidget(parent);
  return nullptr;
}

}  // namespace xelo
