// TComponent: a persistent object with an owner, a name, a state, and
// notifications about the components around it.
//
// Ownership: a component constructed with an owner is owned by it. The
// owner deletes its components when it is destroyed, the last inserted
// first. A component may also be deleted directly (`delete c`); it then
// leaves its owner. A component without an owner belongs to whoever created
// it (typically a std::unique_ptr); do not give an owned component to a
// unique_ptr as well.
//
// Notifications: when a component is inserted into or removed from an owner,
// Notification(component, opInsert / opRemove) is sent to the owner and to
// every component the owner owns (the component itself included), so that
// references to a removed component can be cleared. For references across
// owners, FreeNotification(other) asks `other` to send Notification(other,
// opRemove) to this component when it is destroyed; the bookkeeping is kept
// on both sides, so nothing dangles whichever of the two dies first (and
// both receive the notification when either dies).
//
// Destruction order: ~TComponent runs after the derived destructors, so a
// derived class whose owned components must die while its own members are
// still alive calls DestroyComponents() at the start of its destructor.
// While the owner destroys its components, each one gets BeforeDestruction()
// (fully alive) and then its destructor.
//
// Names: empty, or a valid identifier unique (case-insensitive) among the
// owner's components. SetName raises EComponentError "'X' is not a valid
// component name" or "A component named X already exists".
//
// Thread: the main thread.
#pragma once

#include "xelo/framework/Persistent.h"
#include "xelo/framework/TypInfo.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace xelo {

namespace detail {
class ComponentReader;
class ComponentWriter;
}

enum TComponentStateFlag {
  csLoading,     // stored properties are being read; Loaded() ends it
  csReading,     // the reader is inside this component's data
  csWriting,     // the writer is writing this component
  csDestroying,  // the component is being destroyed
  csDesigning,   // the component lives in a designer
  csUpdating,    // an update of the component is in progress (set by derived classes)
};
using TComponentState = TEnumSet<TComponentStateFlag>;

enum TOperation { opInsert, opRemove };

class TComponent : public TPersistent {
  XELO_CLASS(TComponent, TPersistent)

 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;

  // The owner (null for none). Owner() and GetOwner() are the same.
  TComponent* GetOwner() const override { return owner_; }
  TComponent* Owner() const { return owner_; }

  const std::string& GetName() const { return name_; }
  virtual void SetName(const std::string& newName);
  int GetTag() const { return tag_; }
  void SetTag(int value) { tag_ = value; }

  // The owned components in insertion order.
  int GetComponentCount() const { return static_cast<int>(components_.size()); }
  // EListError "List index out of bounds (N)" for a bad index.
  TComponent* GetComponent(int index) const;
  std::span<TComponent* const> Components() const { return components_; }
  // The owned component with that name (case-insensitive); null for an
  // empty name or none.
  TComponent* FindComponent(std::string_view name) const;
  // Position of `component` among the owned ones, or -1.
  int IndexOfComponent(const TComponent* component) const;

  // Moves `component` into this owner (out of its previous one); raises
  // EComponentError when its name is taken here. Inherits the designing state.
  void InsertComponent(TComponent& component);
  // Takes `component` out of this owner; it then has no owner and belongs
  // to the caller. Does nothing when this is not its owner.
  void RemoveComponent(TComponent& component);
  // Deletes every owned component, the last inserted first.
  void DestroyComponents();

  TComponentState GetComponentState() const { return state_; }
  // Sets or clears csDesigning, for the owned components too when asked.
  void SetDesigning(bool value, bool setChildren = true);
  // A subcomponent is owned but belongs to its owner's data: it is streamed
  // as a nested object of the property that publishes it, never as a
  // child block of its own.
  void SetSubComponent(bool value) { subComponent_ = value; }
  bool IsSubComponent() const { return subComponent_; }

  void FreeNotification(TComponent* other);
  void RemoveFreeNotification(TComponent* other);

  // Sets csDestroying here and in every owned component (once).
  void Destroying();
  // Called on a fully alive component before it is deleted by its owner;
  // the default calls Destroying(). Call it yourself before a `delete` when
  // the component must see it.
  virtual void BeforeDestruction();

  std::string GetNamePath() const override { return name_; }

  // Streaming hooks. GetChildren calls `proc` for each component to write as
  // a child block inside this component's block; the default gives the
  // owned components that are not subcomponents. GetChildOwner gives the
  // owner of components read inside this component's block (null means the
  // root of the reading); the default is this component. GetChildParent and
  // SetParentComponent/HasParent serve controls that have a parent apart
  // from their owner; the defaults do nothing.
  virtual void GetChildren(const std::function<void(TComponent&)>& proc, TComponent& root);
  virtual TComponent* GetChildOwner();
  virtual TComponent* GetChildParent();
  virtual bool HasParent() const { return false; }
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* parent);

  // Called once after all stored properties were read; clears csLoading.
  // Overrides call the base.
  virtual void Loaded();
  // See the file comment. The default does nothing; overrides clear their
  // references to a component removed with opRemove.
  virtual void Notification(TComponent* component, TOperation operation);

 protected:
  void SetState(TComponentStateFlag flag, bool on);
  // Raises EComponentError when `newName` cannot be the name of `component`
  // (one of this owner's components, or one about to be inserted).
  void ValidateRename(const TComponent* component, const std::string& newName) const;

 private:
  friend class detail::ComponentReader;
  friend class detail::ComponentWriter;

  // Sends Notification(component, op) to this owner and all it owns.
  void NotifyAll(TComponent* component, TOperation op);
  void Remove(TComponent& component);
  void RemoveFreeNotifications();

  TComponent* owner_ = nullptr;
  std::string name_;
  int tag_ = 0;
  TComponentState state_;
  bool subComponent_ = false;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
};

}  // namespace xelo
