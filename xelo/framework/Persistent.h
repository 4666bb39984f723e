// TPersistent, the root of every class that has published properties and can
// be streamed, assigned and named in a name path.
//
// Every class of the framework's class tree carries a metaclass (TypInfo.h):
// its name, its parent and its published properties. A class joins the tree
// by putting XELO_CLASS(ThisClass, ParentClass) first in its body and by
// defining `static TClass StaticClass()` in its .cpp with a TClassBuilder
// (TypInfo.h explains the builder):
//
//   class TxDefaultGroup : public TPersistent {
//     XELO_CLASS(TxDefaultGroup, TPersistent)
//    public:
//     ...
//   };
//
//   TClass TxDefaultGroup::StaticClass() {
//     static const TMetaClass meta = TClassBuilder<TxDefaultGroup>("TxDefaultGroup")
//         .Boolean("IsActive", &TxDefaultGroup::GetIsActive, &TxDefaultGroup::SetIsActive)
//         .Build();
//     return &meta;
//   }
//
// A class without the macro is treated as its nearest ancestor that has it.
//
// Thread: objects belong to the thread that uses them (the main thread);
// metaclasses are immutable after their first use and may be read anywhere.
#pragma once

#include <string>

namespace xelo {

class TMetaClass;
// A class reference: the metaclass of a class of the framework's tree.
using TClass = const TMetaClass*;

// Declares the class's place in the metaclass tree. Put it first in the class
// body; it leaves the access at `private`.
#define XELO_CLASS(ThisClass_, ParentClass_)                               \
 public:                                                                   \
  using ThisClass = ThisClass_;                                            \
  using Inherited = ParentClass_;                                          \
  static ::xelo::TClass StaticClass();                                     \
  ::xelo::TClass ClassType() const override { return StaticClass(); }    \
                                                                           \
 private:

class TPersistent {
 public:
  using ThisClass = TPersistent;

  TPersistent() = default;
  virtual ~TPersistent();
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;

  // The metaclass of TPersistent itself (no parent, no properties).
  static TClass StaticClass();
  // The metaclass of the object's dynamic class.
  virtual TClass ClassType() const;
  const std::string& ClassName() const;
  // True when the object's class is `cls` or derives from it (false for null).
  bool InheritsFrom(TClass cls) const;

  // Copies the state of `source` into this object. The default asks the
  // source's AssignTo; when neither side knows the other, EConvertError
  // "Cannot assign a TSource to a TDest" ("a nil" for a null source).
  virtual void Assign(const TPersistent* source);
  // The object that owns this one in the name path (and, for components, in
  // memory); null by default.
  virtual TPersistent* GetOwner() const;
  // The name by which design tools and messages identify the object; by
  // default the class name.
  virtual std::string GetNamePath() const;

 protected:
  // Copies this object into `dest`; the default raises as Assign describes.
  virtual void AssignTo(TPersistent* dest) const;
  // Raises EConvertError "Cannot assign a <source class> to a <this class>".
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

namespace detail {
[[noreturn]] void ThrowInvalidCast(const TPersistent& object, TClass target);
}  // namespace detail

// The checked class conversion: `object` taken as a T, which it must be (or
// derive from); null stays null. Otherwise EInvalidCast "Invalid class
// typecast: a TFoo is not a TBar", so that a tool handed the wrong object
// stops before it uses it.
template <class T>
T* CheckedCast(TPersistent* object) {
  if (object == nullptr) return nullptr;
  if (T* typed = dynamic_cast<T*>(object)) return typed;
  detail::ThrowInvalidCast(*object, T::StaticClass());
}

namespace detail {

// Framework-internal. Lets a long-running operation that holds raw pointers
// to objects it does not own (the component reader with its pending
// references and its list of components to notify) forget objects that are
// destroyed in the meantime. A watch is active from construction to
// destruction, on the constructing thread only; watches nest.
class DestructionWatch {
 public:
  DestructionWatch();
  virtual ~DestructionWatch();
  DestructionWatch(const DestructionWatch&) = delete;
  DestructionWatch& operator=(const DestructionWatch&) = delete;

  // Called from ~TPersistent, after the derived destructors have run.
  virtual void Destroyed(const TPersistent* object) noexcept = 0;

 private:
  friend class ::xelo::TPersistent;
  DestructionWatch* previous_;
};

}  // namespace detail

}  // namespace xelo
