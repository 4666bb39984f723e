// The base of string property editors: how a designer's property view
// shows and edits one published string property of the selected
// components. The value is read and written through the property metadata
// (TypInfo.h), so an editor works for any class that publishes the
// property. An editor that sets paDialog in its attributes gets an ellipsis
// button next to the text, which calls Edit().
//
// The design host creates an editor for each use (DesignRegistry.h finds
// the registered one); it owns neither the components nor the designer.
//
// Main thread only.
#pragma once

#include "xelo/framework/TypInfo.h"

#include <string>
#include <vector>

namespace xelo {

class IDesigner;

enum TPropertyAttribute {
  paValueList,    // the value is picked from a list
  paDialog,       // Edit() opens a dialog (the ellipsis button)
  paMultiSelect,  // shown when several components are selected
  paReadOnly,     // the text cannot be typed in
  paRevertable,   // the value can be put back to the inherited one
};
using TPropertyAttributes = TEnumSet<TPropertyAttribute>;

class TStringProperty {
 public:
  // `components`: at least one, each publishing `prop`, a string property.
  // EPropertyError otherwise.
  TStringProperty(std::vector<TPersistent*> components, const TPropInfo& prop, IDesigner& designer);
  virtual ~TStringProperty() = default;
  TStringProperty(const TStringProperty&) = delete;
  TStringProperty& operator=(const TStringProperty&) = delete;

  int GetComponentCount() const { return static_cast<int>(components_.size()); }
  // EListError for a bad index.
  TPersistent* GetComponent(int index) const;
  const TPropInfo& GetPropInfo() const { return prop_; }
  const std::string& GetName() const { return prop_.Name(); }
  IDesigner& GetDesigner() const { return designer_; }

  // The base: {paMultiSelect, paRevertable}.
  virtual TPropertyAttributes GetAttributes() const;
  // The first component's value.
  virtual std::string GetValue() const;
  // Sets the value of every component, then reports the change.
  virtual void SetValue(const std::string& value);
  // The ellipsis button; the base does nothing.
  virtual void Edit() {}
  // Tells the designer that the property changed.
  void Modified();

 private:
  std::vector<TPersistent*> components_;
  const TPropInfo& prop_;
  IDesigner& designer_;
};

}  // namespace xelo
