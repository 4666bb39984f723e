#include "xelo/framework/Persistent.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/TypInfo.h"

namespace xelo {

namespace {
// The innermost active watch of this thread; each links to the one it hides.
thread_local detail::DestructionWatch* activeWatch = nullptr;
}  // namespace

namespace detail {

DestructionWatch::DestructionWatch() : previous_(activeWatch) { activeWatch = this; }

DestructionWatch::~DestructionWatch() {
  // Watches normally end in reverse order; unlink wherever this one sits so
  // that an out-of-order end cannot leave a dangling link.
  for (DestructionWatch** link = &activeWatch; *link != nullptr; link = &(*link)->previous_) {
    if (*link == this) {
      *link = previous_;
      break;
    }
  }
}

}  // namespace detail

TPersistent::~TPersistent() {
  for (detail::DestructionWatch* w = activeWatch; w != nullptr; w = w->previous_) w->Destroyed(this);
}

TClass TPersistent::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TPersistent>("TPersistent").Build();
  return &meta;
}

TClass TPersistent::ClassType() const { return StaticClass(); }

const std::string& TPersistent::ClassName() const { return ClassType()->ClassName(); }

bool TPersistent::InheritsFrom(TClass cls) const { return ClassType()->InheritsFrom(cls); }

void TPersistent::Assign(const TPersistent* source) {
  if (source == nullptr) AssignError(nullptr);
  source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const {
  const std::string from = source == nullptr ? std::string("nil") : source->ClassName();
  throw EConvertError("Cannot assign a " + from + " to a " + ClassName());
}

TPersistent* TPersistent::GetOwner() const { return nullptr; }

void detail::ThrowInvalidCast(const TPersistent& object, TClass target) {
  throw EInvalidCast("Invalid class typecast: a " + object.ClassName() + " is not a " + target->ClassName());
}

std::string TPersistent::GetNamePath() const { return ClassName(); }

}  // namespace xelo
