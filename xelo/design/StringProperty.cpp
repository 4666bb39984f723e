#include "xelo/design/StringProperty.h"

#include "xelo/design/Designer.h"
#include "xelo/framework/Exceptions.h"

#include <utility>

namespace xelo {

TStringProperty::TStringProperty(std::vector<TPersistent*> components, const TPropInfo& prop, IDesigner& designer)
    : components_(std::move(components)), prop_(prop), designer_(designer) {
  if (prop_.Kind() != tkString) throw EPropertyError("Property " + prop_.Name() + " is not a string property");
  if (components_.empty()) throw EPropertyError("No component to edit property " + prop_.Name());
  for (const TPersistent* component : components_) {
    // A property editor reads and writes through the metadata without
    // looking again, so a component without the property must not get in.
    if (component == nullptr || !component->InheritsFrom(prop_.DeclaringClass())) {
      throw EPropertyError("Property " + prop_.Name() + " does not exist");
    }
  }
}

TPersistent* TStringProperty::GetComponent(int index) const {
  if (index < 0 || index >= GetComponentCount()) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
  }
  return components_[static_cast<size_t>(index)];
}

TPropertyAttributes TStringProperty::GetAttributes() const { return {paMultiSelect, paRevertable}; }

std::string TStringProperty::GetValue() const { return GetStrProp(*components_.front(), prop_); }

void TStringProperty::SetValue(const std::string& value) {
  for (TPersistent* component : components_) SetStrProp(*component, prop_, value);
  Modified();
}

void TStringProperty::Modified() { designer_.Modified(); }

}  // namespace xelo
