#include "xelo/framework/Component.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/SysUtils.h"

#include <algorithm>

namespace xelo {

namespace {

void EraseOne(std::vector<TComponent*>& list, const TComponent* item) {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

}  // namespace

TClass TComponent::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TComponent>("TComponent")
                                     .String("Name", &TComponent::GetName, &TComponent::SetName)
                                     .Integer("Tag", &TComponent::GetTag, &TComponent::SetTag, Default(0))
                                     .Build();
  return &meta;
}

TComponent::TComponent(TComponent* owner) {
  if (owner != nullptr) owner->InsertComponent(*this);
}

TComponent::~TComponent() {
  Destroying();
  RemoveFreeNotifications();
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(*this);
}

void TComponent::SetName(const std::string& newName) {
  if (newName == name_) return;
  if (owner_ != nullptr) {
    owner_->ValidateRename(this, newName);
  } else if (!newName.empty() && !IsValidIdent(newName)) {
    throw EComponentError("'" + newName + "' is not a valid component name");
  }
  name_ = newName;
}

void TComponent::ValidateRename(const TComponent* component, const std::string& newName) const {
  if (newName.empty()) return;
  if (!IsValidIdent(newName)) throw EComponentError("'" + newName + "' is not a valid component name");
  const TComponent* other = FindComponent(newName);
  if (other != nullptr && other != component) throw EComponentError("A component named " + newName + " already exists");
}

TComponent* TComponent::GetComponent(int index) const {
  if (index < 0 || index >= GetComponentCount()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  return components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(std::string_view name) const {
  if (name.empty()) return nullptr;
  for (TComponent* c : components_) {
    if (SameText(c->name_, name)) return c;
  }
  return nullptr;
}

int TComponent::IndexOfComponent(const TComponent* component) const {
  auto it = std::find(components_.begin(), components_.end(), component);
  return it == components_.end() ? -1 : static_cast<int>(it - components_.begin());
}

void TComponent::InsertComponent(TComponent& component) {
  if (component.owner_ == this) return;
  if (&component == this) throw EComponentError("A component cannot own itself");
  for (const TComponent* o = this; o != nullptr; o = o->owner_) {
    if (o == &component) throw EComponentError("A component cannot be owned by a component it owns");
  }
  ValidateRename(&component, component.name_);
  if (component.owner_ != nullptr) component.owner_->RemoveComponent(component);
  components_.push_back(&component);
  component.owner_ = this;
  if (state_.Contains(csDesigning)) component.SetDesigning(true);
  NotifyAll(&component, opInsert);
}

void TComponent::RemoveComponent(TComponent& component) {
  if (component.owner_ != this) return;
  // Everyone hears of the removal while the component is still listed, so
  // that a handler can still find it by name.
  NotifyAll(&component, opRemove);
  Remove(component);
}

void TComponent::Remove(TComponent& component) {
  EraseOne(components_, &component);
  component.owner_ = nullptr;
}

void TComponent::NotifyAll(TComponent* component, TOperation op) {
  Notification(component, op);
  // A handler may delete components of this owner; walk by index from the
  // end and re-clamp after each call instead of holding iterators.
  std::size_t i = components_.size();
  while (i > 0) {
    --i;
    components_[i]->Notification(component, op);
    if (i > components_.size()) i = components_.size();
  }
}

void TComponent::DestroyComponents() {
  while (!components_.empty()) {
    TComponent* last = components_.back();
    last->BeforeDestruction();
    delete last;  // its destructor takes it out of components_
  }
}

void TComponent::SetDesigning(bool value, bool setChildren) {
  SetState(csDesigning, value);
  if (setChildren) {
    for (TComponent* c : components_) c->SetDesigning(value, true);
  }
}

void TComponent::SetState(TComponentStateFlag flag, bool on) {
  if (on) {
    state_.Include(flag);
  } else {
    state_.Exclude(flag);
  }
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
    freeNotifies_.push_back(other);
  }
  if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) == other->freeNotifies_.end()) {
    other->freeNotifies_.push_back(this);
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other == nullptr) return;
  EraseOne(freeNotifies_, other);
  EraseOne(other->freeNotifies_, this);
}

void TComponent::RemoveFreeNotifications() {
  while (!freeNotifies_.empty()) {
    TComponent* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    EraseOne(other->freeNotifies_, this);
    other->Notification(this, opRemove);
  }
}

void TComponent::Destroying() {
  if (state_.Contains(csDestroying)) return;
  state_.Include(csDestroying);
  for (TComponent* c : components_) c->Destroying();
}

void TComponent::BeforeDestruction() { Destroying(); }

void TComponent::GetChildren(const std::function<void(TComponent&)>& proc, TComponent& /*root*/) {
  for (std::size_t i = 0; i < components_.size(); ++i) {
    if (!components_[i]->IsSubComponent()) proc(*components_[i]);
  }
}

TComponent* TComponent::GetChildOwner() { return this; }

TComponent* TComponent::GetChildParent() { return this; }

void TComponent::SetParentComponent(TComponent* /*parent*/) {}

void TComponent::Loaded() { state_.Exclude(csLoading); }

void TComponent::Notification(TComponent* /*component*/, TOperation /*operation*/) {}

}  // namespace xelo
