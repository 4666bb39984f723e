// The design host as the editors see it: a form designer that is told when
// an editor changed the form, so that it can mark the form unsaved, refresh
// its property view and offer an undo step.
//
// Main thread only.
#pragma once

namespace xelo {

class IDesigner {
 public:
  virtual ~IDesigner() = default;
  // An editor changed the form (a component's properties, groups, items or
  // bindings).
  virtual void Modified() = 0;
};

}  // namespace xelo
