#include "xelo/gui/XeloGUI.h"

#include "xelo/framework/SysUtils.h"
#include "xelo/gui/ControlProperty.h"
#include "xelo/qt/Form.h"

#include <vector>

namespace xelo {

// This component's place in the server's chain of data-change handlers.
// The server holds it through a HookHandler; so does a binding component
// that hooked the server after this one and saved our handler. When this
// component goes while the server's event is no longer its own handler, it
// cannot restore the event without cutting out whoever came later; its hook
// then only passes the changes on to the handler it saved.
struct TXeloGUI::Hook {
  TXeloGUI* gui = nullptr;  // null: pass on only
  TOnOPCDataChangeEvent saved;
};

// The handler in the server's event: a type of its own, so that a hook can
// tell whether the event still holds it.
struct TXeloGUI::HookHandler {
  std::shared_ptr<Hook> hook;
  void operator()(TPersistent* sender, TXeloItemList* items) const {
    const std::shared_ptr<Hook> keep = hook;  // a handler may unhook
    if (keep->gui != nullptr) {
      keep->gui->OnDataChange(sender, items);
    } else if (keep->saved) {
      keep->saved(sender, items);
    }
  }
};

// ---- TxGUIItem ---------------------------------------------------------------

TxGUIItem::TxGUIItem(TCollection* collection) : TCollectionItem(collection) {}

TxGUIItem::~TxGUIItem() {
  DeleteFromGUIList();
  QObject::disconnect(controlDestroyed_);
}

TClass TxGUIItem::StaticClass() {
  using T = TxGUIItem;
  static const TMetaClass meta = TClassBuilder<T>("TxGUIItem")
                                     .String("Control", &T::GetControlName, &T::SetControlName)
                                     .String("CtrlPropName", &T::GetCtrlPropName, &T::SetPropName)
                                     .String("OPCGroup", &T::GetOPCGroup, &T::SetOPCGroup)
                                     .String("OPCItem", &T::GetOPCItem, &T::SetOPCItem)
                                     .Event("OnChangeData", &T::GetOnChangeData, &T::SetOnChangeData)
                                     .Build();
  return &meta;
}

TXeloGUI* TxGUIItem::GUIComponent() const {
  const TCollection* collection = GetCollection();
  return collection == nullptr ? nullptr : dynamic_cast<TXeloGUI*>(collection->GetOwner());
}

void TxGUIItem::SetPropName(const std::string& value) {
  ctrlPropName_ = value;
  SetPropInfo();
}

void TxGUIItem::SetOPCItem(const std::string& value) {
  opcItem_ = value;
  AddToOpcServer(opcGroup_, opcItem_);
}

void TxGUIItem::SetOPCGroup(const std::string& value) {
  opcGroup_ = value;
  AddToOpcServer(opcGroup_, opcItem_);
}

std::string TxGUIItem::GetControlName() const {
  return control_ != nullptr ? control_->objectName().toStdString() : pendingControlName_;
}

void TxGUIItem::SetControlName(const std::string& value) {
  const TXeloGUI* gui = GUIComponent();
  if (gui != nullptr && gui->GetComponentState().Contains(csLoading)) {
    // The widgets of the form may not be known yet; Loaded resolves it.
    SetComponent(nullptr);
    pendingControlName_ = value;
    return;
  }
  QWidget* control = nullptr;
  if (!value.empty()) {
    control = gui != nullptr ? gui->FindFormControl(value) : nullptr;
    if (control == nullptr) throw EPropertyError("No control named \"" + value + "\" on the form");
  }
  SetComponent(control);
}

void TxGUIItem::SetComponent(QWidget* value) {
  pendingControlName_.clear();
  if (value != control_) {
    QObject::disconnect(controlDestroyed_);
    controlDestroyed_ = {};
    control_ = value;
    if (control_ != nullptr) {
      // A destroyed widget takes its bindings with it, this one included:
      // the component deletes them, so nothing is touched here afterwards.
      controlDestroyed_ = QObject::connect(control_, &QObject::destroyed, [this](QObject* gone) {
        if (TXeloGUI* gui = GUIComponent()) {
          gui->ControlDestroyed(gone);
        } else {
          control_ = nullptr;
        }
      });
    }
  }
  SetPropInfo();
  Changed(false);
}

void TxGUIItem::Update() { AddToOpcServer(opcGroup_, opcItem_); }

void TxGUIItem::SetPropInfo() {
  propInfo_.reset();
  setProc_ = nullptr;
  if (ctrlPropName_.empty() || control_ == nullptr) return;
  propInfo_ = qt::FindProperty(*control_, ctrlPropName_);
  setProc_ = GetDefaultSetProc(control_, ctrlPropName_);
}

void TxGUIItem::AddToOpcServer(const std::string& Group, const std::string& Item) {
  TXeloGUI* gui = GUIComponent();
  if (gui == nullptr || gui->Designing()) return;
  DeleteFromGUIList();
  if (Trim(Group).empty() || Trim(Item).empty()) return;
  opcItemRef_ = FindXeloItem(gui->GetOPCServer(), Group, Item);
  if (opcItemRef_ == nullptr) return;
  AddToGUIList(opcItemRef_);
  if (!opcItemRef_->GetValue().IsEmpty() && gui->GetOPCServer()->GetActive()) {
    gui->SetValueToControl(this, opcItemRef_->GetValue());
  }
}

void TxGUIItem::AddToGUIList(TXeloItem* Item) {
  if (Item == nullptr) return;
  void* self = static_cast<TXeloItemBinding*>(this);
  if (Item->GUIList().IndexOf(self) < 0) Item->GUIList().Add(self);
}

void TxGUIItem::DeleteFromGUIList() {
  if (opcItemRef_ == nullptr) return;
  // An attached binding's item is alive: a destroyed item detaches it first.
  opcItemRef_->GUIList().Remove(static_cast<TXeloItemBinding*>(this));
  opcItemRef_ = nullptr;
}

void TxGUIItem::XeloItemDestroyed(TXeloItem* item) {
  if (item == opcItemRef_) opcItemRef_ = nullptr;
}

std::string TxGUIItem::GetDisplayName() const {
  if (control_ != nullptr) return control_->objectName().toStdString();
  return TCollectionItem::GetDisplayName();
}

std::string TxGUIItem::GetNamePath() const {
  const TXeloGUI* gui = GUIComponent();
  if (control_ != nullptr && gui != nullptr) return gui->GetName() + "." + control_->objectName().toStdString();
  return TCollectionItem::GetNamePath();
}

// ---- TxGUIItems --------------------------------------------------------------

TxGUIItems::TxGUIItems(TXeloGUI* owner) : TCollection(owner, TxGUIItem::StaticClass()) {}

TClass TxGUIItems::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TxGUIItems>("TxGUIItems").Build();
  return &meta;
}

void TxGUIItems::SetItem(int index, TxGUIItem* value) {
  TxGUIItem* target = GetItem(index);
  target->SetPropName(value->GetCtrlPropName());
  target->SetComponent(value->GetControl());
  target->pendingControlName_ = value->pendingControlName_;
  target->SetOnChangeData(value->GetOnChangeData());
  target->SetOPCGroup(value->GetOPCGroup());
  target->SetOPCItem(value->GetOPCItem());
}

// ---- TXeloGUI ----------------------------------------------------------------

TXeloGUI::TXeloGUI(TComponent* owner) : TComponent(owner), items_(std::make_unique<TxGUIItems>(this)) {
  if (dynamic_cast<qt::TForm*>(owner) != nullptr) {
    for (TComponent* component : owner->Components()) {
      if (auto* server = dynamic_cast<TXeloServer*>(component)) opcServer_ = server;
    }
  }
}

TXeloGUI::~TXeloGUI() {
  Unhook();
  items_.reset();
}

TClass TXeloGUI::StaticClass() {
  using T = TXeloGUI;
  static const TMetaClass meta = TClassBuilder<T>("TXeloGUI")
                                     .Object("OPCServer", &T::GetOPCServer, &T::SetOPCServer)
                                     .Object("Items", &T::GetItems)
                                     .Build();
  return &meta;
}

namespace {
const bool registered = [] {
  RegisterClasses({TXeloGUI::StaticClass(), TxGUIItem::StaticClass()});
  return true;
}();
}  // namespace

void TXeloGUI::Unhook() {
  if (!hook_) return;
  const HookHandler* current =
      opcServer_ != nullptr ? opcServer_->GetOnDatachange().target<HookHandler>() : nullptr;
  const std::shared_ptr<Hook> hook = std::move(hook_);
  hook->gui = nullptr;
  // Still the server's own handler: the one found before comes back. Else
  // whoever hooked later keeps our hook, which now only passes changes on.
  if (current != nullptr && current->hook == hook) opcServer_->SetOnDatachange(hook->saved);
}

void TXeloGUI::SetOPCServer(TXeloServer* value) {
  if (Designing()) {
    if (opcServer_ != nullptr) opcServer_->RemoveFreeNotification(this);
    opcServer_ = value;
    if (opcServer_ != nullptr) opcServer_->FreeNotification(this);
    return;
  }
  if (opcServer_ != nullptr) {
    for (int i = 0; i < items_->GetCount(); ++i) items_->GetItem(i)->DeleteFromGUIList();
    Unhook();
    opcServer_->RemoveFreeNotification(this);
  }
  opcServer_ = value;
  if (opcServer_ == nullptr) return;
  opcServer_->FreeNotification(this);
  hook_ = std::make_shared<Hook>(Hook{this, opcServer_->GetOnDatachange()});
  opcServer_->SetOnDatachange(HookHandler{hook_});
  for (int i = 0; i < items_->GetCount(); ++i) items_->GetItem(i)->Update();
}

void TXeloGUI::SetItems(const TxGUIItems* value) {
  if (value == items_.get()) return;
  items_->BeginUpdate();
  items_->Clear();
  for (int i = 0; value != nullptr && i < value->GetCount(); ++i) {
    items_->Add();
    items_->SetItem(items_->GetCount() - 1, value->GetItem(i));
  }
  items_->EndUpdate();
}

TxGUIItem* TXeloGUI::AddItem(const std::string& Group, const std::string& Item, QWidget* Control,
                             std::string PropName) {
  if (PropName.empty()) GetDefaultPropName(Control, PropName);
  auto* binding = static_cast<TxGUIItem*>(items_->Add());
  binding->SetPropName(PropName);
  binding->SetOPCItem(Item);
  binding->SetOPCGroup(Group);
  binding->SetComponent(Control);
  binding->AddToOpcServer(Group, Item);
  // A binding whose first value could not be set is gone already.
  for (int i = 0; i < items_->GetCount(); ++i) {
    if (items_->GetItem(i) == binding) return binding;
  }
  return nullptr;
}

TxGUIItem* TXeloGUI::AddItem(TXeloItem* Item, QWidget* Control, const std::string& PropName) {
  const std::string group = Item->GetGroup() != nullptr ? Item->GetGroup()->GetName() : std::string();
  return AddItem(group, Item->GetItemID(), Control, PropName);
}

bool TXeloGUI::DeleteItem(QWidget* Control, const std::string& PropName) {
  for (int i = 0; i < items_->GetCount(); ++i) {
    TxGUIItem* binding = items_->GetItem(i);
    if (binding->GetControl() == Control && SameText(binding->GetCtrlPropName(), PropName)) {
      delete binding;
      return true;
    }
  }
  return false;
}

TXeloItem* TXeloGUI::GetXeloItem(QWidget* Control, const std::string& PropName) const {
  for (int i = 0; i < items_->GetCount(); ++i) {
    const TxGUIItem* binding = items_->GetItem(i);
    if (binding->GetControl() == Control && (PropName.empty() || SameText(binding->GetCtrlPropName(), PropName))) {
      return binding->GetOPCItemRef();
    }
  }
  return nullptr;
}

TxGUIItem* TXeloGUI::Find(QWidget* Control, std::string& ControlName, std::string& PropName, std::string& Group,
                          std::string& Item) const {
  PropName.clear();
  Group.clear();
  Item.clear();
  for (int i = 0; i < items_->GetCount(); ++i) {
    TxGUIItem* binding = items_->GetItem(i);
    if (binding->GetControl() != Control) continue;
    ControlName = Control != nullptr ? Control->objectName().toStdString() : std::string();
    PropName = binding->GetCtrlPropName();
    Group = binding->GetOPCGroup();
    Item = binding->GetOPCItem();
    return binding;
  }
  return nullptr;
}

void TXeloGUI::OnDataChange(TPersistent* Sender, TXeloItemList* ItemList) {
  // Kept alive for the call: a handler may destroy this component.
  const std::shared_ptr<Hook> hook = hook_;
  for (int i = 0; ItemList != nullptr && i < ItemList->GetCount(); ++i) {
    TXeloItem* item = ItemList->GetItem(i);
    // Served from a copy, each binding only while it is still in the list:
    // a binding dropped meanwhile is skipped, the others still served. (A
    // few bindings per item are the rule: they are copied without the heap.)
    const int count = item->GUIList().GetCount();
    void* few[8];
    std::vector<void*> many;
    void** bindings = few;
    if (count > 8) {
      many.resize(static_cast<std::size_t>(count));
      bindings = many.data();
    }
    for (int j = 0; j < count; ++j) bindings[j] = item->GUIList().Get(j);
    for (int j = 0; j < count; ++j) {
      void* entry = bindings[j];
      if (j > 0 && item->GUIList().IndexOf(entry) < 0) continue;  // the first is listed still
      auto* binding = static_cast<TxGUIItem*>(static_cast<TXeloItemBinding*>(entry));
      // Each component serves its own bindings: another one on the same
      // server serves its own in its turn of the chain.
      if (binding->GUIComponent() == this) SetValueToControl(binding, item->GetValue());
    }
  }
  if (hook && hook->saved) hook->saved(Sender, ItemList);
}

void TXeloGUI::SetValueToControl(TxGUIItem* Item, const Variant& Value) {
  QWidget* control = Item->GetControl();
  if (control == nullptr) return;
  // The working copy that the binding's event may change; without an event
  // the value is set as it is.
  std::optional<Variant> copy;
  if (Item->GetOnChangeData()) {
    copy.emplace(Value);
    bool handled = true;
    Item->GetOnChangeData()(control, *copy, handled);
    if (handled) return;
  }
  const Variant& value = copy ? *copy : Value;
  try {
    if (Item->GetSetProc() != nullptr) {
      Item->GetSetProc()(control, value);
    } else if (!Item->GetCtrlPropName().empty()) {
      SetControlProperty(control, Item->GetPropInfo(), Item->GetCtrlPropName(), value);
    }
  } catch (...) {
    // A binding whose value cannot be set is dropped for good.
    delete Item;
  }
}

void TXeloGUI::ControlDestroyed(QObject* control) {
  for (int i = items_->GetCount() - 1; i >= 0; --i) {
    if (items_->GetItem(i)->GetControl() == control) delete items_->GetItem(i);
  }
}

void TXeloGUI::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr && AComponent == opcServer_) {
    if (AComponent->GetComponentState().Contains(csDestroying)) {
      // Its groups and items are gone already (they detached their
      // bindings), and so is its event: nothing of it may be touched.
      if (hook_) hook_->gui = nullptr;
      hook_.reset();
      opcServer_ = nullptr;
    } else {
      SetOPCServer(nullptr);
    }
  }
  TComponent::Notification(AComponent, Operation);
}

QWidget* TXeloGUI::FindFormControl(const std::string& name) const {
  for (TComponent* owner = GetOwner(); owner != nullptr; owner = owner->GetOwner()) {
    if (const auto* form = dynamic_cast<const qt::TForm*>(owner)) return form->FindControl(name);
  }
  return nullptr;
}

void TXeloGUI::Loaded() {
  TComponent::Loaded();
  std::string missing;
  for (int i = 0; i < items_->GetCount(); ++i) {
    TxGUIItem* binding = items_->GetItem(i);
    if (binding->pendingControlName_.empty()) continue;
    QWidget* control = FindFormControl(binding->pendingControlName_);
    if (control == nullptr) {
      if (missing.empty()) missing = binding->pendingControlName_;
      continue;
    }
    binding->SetComponent(control);
    // Attached while the widget was still unknown: show the value now. A
    // binding that cannot take it is deleted, and the next one moves up.
    if (hook_) {
      binding->Update();
      if (i >= items_->GetCount() || items_->GetItem(i) != binding) --i;
    }
  }
  if (!missing.empty()) {
    throw EReadError("Error reading TxGUIItem.Control: no control named \"" + missing + "\" on the form");
  }
}

}  // namespace xelo
