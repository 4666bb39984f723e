// The base of component editors: what a form designer offers on a
// component's context menu. An editor lists its verbs (menu entries) and
// runs one when the user picks it; a double-click runs Edit().
//
// The design host creates an editor for each use (DesignRegistry.h finds
// the registered one) and deletes it afterwards; an editor keeps no state of
// its own beyond the component and the designer, neither of which it owns.
//
// Main thread only.
#pragma once

#include <string>

namespace xelo {

class IDesigner;
class TComponent;

class TComponentEditor {
 public:
  TComponentEditor(TComponent& component, IDesigner& designer) : component_(component), designer_(designer) {}
  virtual ~TComponentEditor() = default;
  TComponentEditor(const TComponentEditor&) = delete;
  TComponentEditor& operator=(const TComponentEditor&) = delete;

  TComponent& GetComponent() const { return component_; }
  IDesigner& GetDesigner() const { return designer_; }

  // The verbs, numbered 0..GetVerbCount()-1. The base has none; its
  // GetVerb gives an empty text and its ExecuteVerb does nothing, so an
  // override hands every index it does not know to these.
  virtual int GetVerbCount() const { return 0; }
  virtual std::string GetVerb(int index) const;
  virtual void ExecuteVerb(int index);
  // What a double-click on the component does: the first verb, if any.
  virtual void Edit();

 private:
  TComponent& component_;
  IDesigner& designer_;
};

}  // namespace xelo
