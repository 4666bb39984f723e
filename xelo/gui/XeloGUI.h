// The GUI binding component: shows item values in Qt widgets without
// application code.
//
// A TXeloGUI refers to one server component and holds bindings (TxGUIItem),
// each naming a group and an item of that server by text and a widget with
// one of its properties. At run time the component puts itself into the
// server's OnDatachange event: every binding of a changed item receives the
// item's value, put into the widget by the control registry's setter
// procedure for that widget and property, or else by setting the property
// through its metadata (ControlRegistry.h). The application's own handler,
// found in the event when the component hooked it, runs after the bound
// widgets were updated. In a designer the component only stores its
// configuration.
//
// Lifetimes: a binding whose widget is destroyed is deleted; a binding
// whose item is destroyed (a group or item deleted at run time) becomes
// unattached; a removed server component leaves every binding unattached.
// Several binding components on one server form a chain of handlers that
// stays whole whatever order they go in.
//
// Main thread only.
#pragma once

#include "xelo/core/Xelo.h"
#include "xelo/framework/Collection.h"
#include "xelo/framework/Component.h"
#include "xelo/gui/ControlRegistry.h"
#include "xelo/qt/Properties.h"

#include <QMetaObject>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace xelo {

class TXeloGUI;
class TxGUIItems;

// Called for each value of a binding before it is set: `Handled` comes in
// true; left true, the handler has dealt with the value; set to false, the
// (possibly changed) `OPCValue` is set as usual.
using TGUIOnSetValue = std::function<void(QWidget* Control, Variant& OPCValue, bool& Handled)>;

// One binding of a widget's property to an item.
class TxGUIItem : public TCollectionItem, public TXeloItemBinding {
  XELO_CLASS(TxGUIItem, TCollectionItem)

 public:
  explicit TxGUIItem(TCollection* collection);
  // Leaves its item's GUIList, then the collection.
  ~TxGUIItem() override;

  const std::string& GetCtrlPropName() const { return ctrlPropName_; }
  // Stores the name, then looks up the property and the setter procedure.
  void SetPropName(const std::string& value);
  const std::string& GetOPCItem() const { return opcItem_; }
  // Stores the text, then attaches the binding anew.
  void SetOPCItem(const std::string& value);
  QWidget* GetControl() const { return control_; }
  // Stores the widget, looks up the property and setter, reports the
  // change to the collection; does not attach.
  void SetComponent(QWidget* value);
  // The widget as the text form stores it: its objectName (while a read
  // name waits for the widget, that name). Set while the binding component
  // is loading, the name is kept and resolved among the widgets of its form
  // when loading ends; set otherwise, it is resolved at once (an empty name
  // clears the widget; EPropertyError for a name the form does not have).
  std::string GetControlName() const;
  void SetControlName(const std::string& value);
  const std::string& GetOPCGroup() const { return opcGroup_; }
  // Stores the text, then attaches the binding anew.
  void SetOPCGroup(const std::string& value);
  const TGUIOnSetValue& GetOnChangeData() const { return onChangeData_; }
  void SetOnChangeData(TGUIOnSetValue value) { onChangeData_ = std::move(value); }

  // The item this binding is attached to, or null.
  TXeloItem* GetOPCItemRef() const { return opcItemRef_; }
  // The bound property's metadata (none without a widget or name, or for a
  // property the widget does not have) and the registry's setter for the
  // widget and name.
  const std::optional<qt::PropertyInfo>& GetPropInfo() const { return propInfo_; }
  TGUISetProc GetSetProc() const { return setProc_; }

  // AddToOpcServer(OPCGroup, OPCItem).
  void Update();
  void SetPropInfo();
  // Detaches, then attaches to the item `Item` of the group `Group` of the
  // owning component's server when both texts are not blank and the item
  // exists; shows the item's value at once when it has one and the server is
  // active. Nothing in a designer.
  void AddToOpcServer(const std::string& Group, const std::string& Item);
  void AddToGUIList(TXeloItem* Item);
  void DeleteFromGUIList();

  // The widget's objectName, or the collection item's default.
  std::string GetDisplayName() const override;
  // "<binding component>.<widget>", or the collection item's default.
  std::string GetNamePath() const override;

  TXeloGUI* GUIComponent() const;

 private:
  friend class TxGUIItems;
  friend class TXeloGUI;
  void XeloItemDestroyed(TXeloItem* item) override;

  std::string ctrlPropName_;
  std::string opcItem_;
  QWidget* control_ = nullptr;
  std::string pendingControlName_;  // read, not yet resolved to a widget
  QMetaObject::Connection controlDestroyed_;
  std::string opcGroup_;
  TGUIOnSetValue onChangeData_;
  TXeloItem* opcItemRef_ = nullptr;
  std::optional<qt::PropertyInfo> propInfo_;
  TGUISetProc setProc_ = nullptr;
};

// The bindings of a TXeloGUI (its owner).
class TxGUIItems : public TCollection {
  XELO_CLASS(TxGUIItems, TCollection)

 public:
  explicit TxGUIItems(TXeloGUI* owner);
  TxGUIItem* GetItem(int index) const { return static_cast<TxGUIItem*>(TCollection::GetItem(index)); }
  // Copies `value`'s settings into the binding at `index`.
  void SetItem(int index, TxGUIItem* value);
  TxGUIItem* operator[](int index) const { return GetItem(index); }
};

class TXeloGUI : public TComponent {
  XELO_CLASS(TXeloGUI, TComponent)

 public:
  // On a form (qt::TForm), refers to the last server component the form
  // owns (without hooking it).
  explicit TXeloGUI(TComponent* owner);
  // Gives the server back the handler it had, if this component hooked it,
  // then deletes the bindings.
  ~TXeloGUI() override;

  TXeloServer* GetOPCServer() const { return opcServer_; }
  // At run time: detaches every binding and gives the old server its
  // handler back; then hooks the new one and attaches every binding. In a
  // designer only the reference is stored.
  void SetOPCServer(TXeloServer* value);
  TxGUIItems* GetItems() const { return items_.get(); }
  // Replaces the bindings with copies of `value`'s; the component keeps its
  // own collection.
  void SetItems(const TxGUIItems* value);

  // A binding of `Control`'s property `PropName` (the registry's default
  // for the widget when empty) to an item, attached at once; null when the
  // item's value, shown at once, could not be set (the binding was dropped).
  virtual TxGUIItem* AddItem(const std::string& Group, const std::string& Item, QWidget* Control,
                             std::string PropName);
  virtual TxGUIItem* AddItem(TXeloItem* Item, QWidget* Control, const std::string& PropName);
  // Deletes the first binding of `Control` whose property name equals
  // `PropName` without regard to case; false without one.
  virtual bool DeleteItem(QWidget* Control, const std::string& PropName);

  // The item of the first binding of `Control` and `PropName` (any binding
  // of the widget for an empty name), or null.
  TXeloItem* GetXeloItem(QWidget* Control, const std::string& PropName) const;
  // The first binding of `Control`, with its widget's name, property,
  // group and item; null (and ControlName unchanged) without one.
  TxGUIItem* Find(QWidget* Control, std::string& ControlName, std::string& PropName, std::string& Group,
                  std::string& Item) const;

  // What the server's OnDatachange runs: every binding of every changed
  // item, then the handler found when the server was hooked.
  void OnDataChange(TPersistent* Sender, TXeloItemList* ItemList);
  // Puts one value into a binding's widget (see TGUIOnSetValue); a binding
  // whose value cannot be set is deleted.
  void SetValueToControl(TxGUIItem* Item, const Variant& Value);

  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Resolves the widget names read for the bindings among the widgets of
  // the form, then attaches those bindings anew so that they show their
  // item's value at once. EReadError names the first widget not found; its
  // binding keeps the name (saved again as it was read) and the others work.
  void Loaded() override;

  // The widget of the form (the first qt::TForm among the owners) named
  // `name`, or null.
  QWidget* FindFormControl(const std::string& name) const;

 private:
  struct Hook;
  struct HookHandler;
  friend class TxGUIItem;
  void Unhook();
  // Deletes every binding of a widget being destroyed.
  void ControlDestroyed(QObject* control);
  bool Designing() const { return GetComponentState().Contains(csDesigning); }

  TXeloServer* opcServer_ = nullptr;
  std::shared_ptr<Hook> hook_;  // while this component is hooked into the server
  std::unique_ptr<TxGUIItems> items_;
};

}  // namespace xelo
