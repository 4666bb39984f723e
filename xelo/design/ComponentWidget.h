// Non-visual components on a Qt form. A form designed in Qt Designer holds
// the library's components as small stand-in widgets: in the designer a
// 32 x 32 picture of the component's class; at run time an invisible
// widget that takes no room in a layout. The component of every stand-in
// is owned by the form (qt::TForm) of the widget it sits in, so that the
// components of one window find each other (a binding component its
// server) and the window's controls (by objectName).
//
// What a form stores of a component is its text form, the property
// `componentText`: the configuration file's text of that one component,
// with its properties, groups, items or bindings. The component is named
// after the stand-in's objectName, also when the object is renamed. Some of
// the component's published properties appear as Qt properties of their
// own (ServerName, ComputerName, ...); they show and change the live
// component (before it is loaded, the kept text) and are not stored.
//
// Loading: a text given to a stand-in that has no component yet is kept
// until the form's components are loaded together: by
// LoadFormComponents(form), by the first call of a stand-in's Component(),
// or on the next turn of Qt's event loop after the stand-in was made. Loading
// all of a form's components at once lets references between them resolve
// whatever order the form lists them in; the components' Loaded() then
// connect an active server and attach the bindings to their widgets.
//
// The form of a stand-in is its window, or its nearest ancestor marked as
// a form with MarkAsForm (a design host marks the forms it edits, which
// are not windows of their own).
//
// Main thread only.
#pragma once

#include "xelo/framework/ComponentStream.h"
#include "xelo/framework/Persistent.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>

namespace xelo {

class TComponent;

namespace qt {
class TForm;
}

namespace design_detail {
class FormHolder;
}

class TComponentWidget : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString componentText READ ComponentTextProperty WRITE SetComponentTextProperty)

 public:
  ~TComponentWidget() override;

  TClass ComponentClass() const { return componentClass_; }

  // The component, after loading the form's components if they are not
  // loaded yet. Loading errors (a text that does not parse, a reference
  // that does not resolve) raise from here; the component is there all the
  // same, with what could be read.
  TComponent& Component();
  // The component when the form's components are loaded; null before.
  TComponent* LoadedComponent() const;

  // Takes the component off the form and deletes it, keeping its text as
  // the stand-in's until the form's components are loaded again: what a
  // design host does when the user deletes the stand-in (which it keeps
  // for an undo). References to the component are cleared, as for any
  // component that goes.
  void Unload();

  // A design host's stand-in: the picture shows and the component is in
  // the designing state. Best set before the component is loaded (a
  // component loaded to run may have connected already).
  void SetDesigning(bool designing);
  bool IsDesigning() const { return designing_; }

  // The component's text form: the live component's once loaded, else the
  // text given, else the text of a component of this class with nothing
  // set. Setting it on a loaded component reads the text into it (it keeps
  // what the text does not mention); a text that does not parse, or names
  // another class, raises and changes nothing. Set before, the text is
  // kept as it is and checked when the form's components are loaded (a
  // text that fails then leaves the component empty). As a Qt property (a
  // form loader, a design host) errors go to the application's exception
  // handler instead of raising.
  QString ComponentText() const;
  void SetComponentText(const QString& text);

  QSize sizeHint() const override;

 protected:
  TComponentWidget(TClass componentClass, QWidget* parent);

  // Qt property accessors for the published properties the subclasses
  // show: they go through the component's published property of that name,
  // or, before the component is loaded, through the text the stand-in keeps
  // (so that reading them does not load the form's components early).
  QString StringProperty(const char* name) const;
  void SetStringProperty(const char* name, const QString& value);
  int IntegerProperty(const char* name) const;
  void SetIntegerProperty(const char* name, int value);

  void paintEvent(QPaintEvent* event) override;

  // The value the kept text gives the property `name`; none when the text
  // does not mention it (or does not parse).
  std::optional<TFormValue> PendingValue(const char* name) const;
  // Puts the property into the kept text (none: takes it out).
  void SetPendingValue(const char* name, std::optional<TFormValue> value);

 private:
  // `read` applied to a component of the class with nothing set.
  template <class F>
  auto ReadDefault(F read) const;

  friend void LoadFormComponents(QWidget* form);
  friend class design_detail::FormHolder;

  QString ComponentTextProperty() const;
  void SetComponentTextProperty(const QString& text);
  std::string ObjectName() const;
  void Renamed(const QString& name);

  TClass componentClass_;
  bool designing_ = false;
  std::optional<std::string> pendingText_;
  QPointer<design_detail::FormHolder> form_;  // set once loaded
  std::string componentName_;                 // the component's name once loaded
};

// Loads the components of every stand-in of the form `widget` belongs to
// that has none yet, together; then they are the form's (qt::TForm)
// components. Errors raise after every stand-in has its component.
void LoadFormComponents(QWidget* widget);

// The framework form that owns the components of the stand-ins of the form
// `widget` belongs to; null before any was loaded.
qt::TForm* FormComponentsOf(QWidget* widget);

// Makes `widget` a form of its own for the stand-ins below it (see above).
void MarkAsForm(QWidget* widget);

// --- The library's components ---------------------------------------------------

class TXeloServerWidget : public TComponentWidget {
  Q_OBJECT
  Q_PROPERTY(QString ServerName READ ServerName WRITE SetServerName STORED false)
  Q_PROPERTY(QString ComputerName READ ComputerName WRITE SetComputerName STORED false)
  Q_PROPERTY(QString ClientName READ ClientName WRITE SetClientName STORED false)
  Q_PROPERTY(bool Active READ Active WRITE SetActive STORED false)
  Q_PROPERTY(bool BatchMode READ BatchMode WRITE SetBatchMode STORED false)
  Q_PROPERTY(int ConnectDelay READ ConnectDelay WRITE SetConnectDelay STORED false)

 public:
  explicit TXeloServerWidget(QWidget* parent = nullptr);

  QString ServerName() const { return StringProperty("ServerName"); }
  void SetServerName(const QString& value) { SetStringProperty("ServerName", value); }
  QString ComputerName() const { return StringProperty("ComputerName"); }
  void SetComputerName(const QString& value) { SetStringProperty("ComputerName", value); }
  QString ClientName() const { return StringProperty("ClientName"); }
  void SetClientName(const QString& value) { SetStringProperty("ClientName", value); }
  bool Active() const { return IntegerProperty("Active") != 0; }
  void SetActive(bool value) { SetIntegerProperty("Active", value ? 1 : 0); }
  bool BatchMode() const { return IntegerProperty("BatchMode") != 0; }
  void SetBatchMode(bool value) { SetIntegerProperty("BatchMode", value ? 1 : 0); }
  int ConnectDelay() const { return IntegerProperty("ConnectDelay"); }
  void SetConnectDelay(int value) { SetIntegerProperty("ConnectDelay", value); }
};

class TxeloServerBrowserWidget : public TComponentWidget {
  Q_OBJECT
  Q_PROPERTY(QString ComputerName READ ComputerName WRITE SetComputerName STORED false)

 public:
  explicit TxeloServerBrowserWidget(QWidget* parent = nullptr);

  QString ComputerName() const { return StringProperty("ComputerName"); }
  void SetComputerName(const QString& value) { SetStringProperty("ComputerName", value); }
};

class TXeloGUIWidget : public TComponentWidget {
  Q_OBJECT
  // The server component's name (a stand-in's objectName on the same form).
  Q_PROPERTY(QString OPCServer READ OPCServer WRITE SetOPCServer STORED false)

 public:
  explicit TXeloGUIWidget(QWidget* parent = nullptr);

  QString OPCServer() const;
  void SetOPCServer(const QString& name);
};

// The stand-in class of a component class (by the component class's name,
// any case), for design hosts and form loaders: its Qt class name
// ("xelo::TXeloServerWidget") and a factory. Empty / null for a class
// without a stand-in.
QString ComponentWidgetClassName(TClass componentClass);
TComponentWidget* CreateComponentWidget(const QString& widgetClassName, QWidget* parent);

}  // namespace xelo
