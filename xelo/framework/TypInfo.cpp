#include "xelo/framework/TypInfo.h"

#include "xelo/framework/Collection.h"
#include "xelo/framework/Component.h"
#include "xelo/framework/SysUtils.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <stdexcept>

namespace xelo {

namespace {

std::string FoldCase(std::string_view s) { return UpperCase(s); }

std::string Range(const TTypeInfo& t) { return std::to_string(t.MinValue) + ".." + std::to_string(t.MaxValue); }

[[noreturn]] void UnknownProperty(std::string_view name) {
  detail::ThrowPropertyError("Property " + std::string(name) + " does not exist");
}

const TPropInfo& Lookup(const TPersistent& instance, std::string_view name) {
  const TPropInfo* prop = GetPropInfo(instance, name);
  if (prop == nullptr) UnknownProperty(name);
  return *prop;
}

void CheckInstance(const TPersistent& instance, const TPropInfo& prop) {
  if (!instance.InheritsFrom(prop.DeclaringClass())) {
    detail::ThrowPropertyError("Property " + prop.Name() + " does not belong to class " + instance.ClassName());
  }
}

bool IsOrdinalKind(TTypeKind k) {
  return k == tkInteger || k == tkChar || k == tkWChar || k == tkEnumeration || k == tkSet || k == tkInt64;
}

void CheckKind(const TPropInfo& prop, bool ok, const char* what) {
  if (!ok) detail::ThrowPropertyError("Property " + prop.Name() + " is not " + what);
}

void CheckWritable(const TPropInfo& prop) {
  if (prop.IsReadOnly()) detail::ThrowPropertyError("Property " + prop.Name() + " is read-only");
}

// The bit mask of all elements a set type can hold.
std::uint64_t SetMask(const TTypeInfo& setType) {
  std::uint64_t mask = 0;
  for (const auto& [value, name] : setType.ElementType->EnumValues) mask |= std::uint64_t{1} << value;
  return mask;
}

// Whether `value` is a valid value of an ordinal or Int64 property.
bool OrdinalInRange(const TTypeInfo& t, std::int64_t value) {
  switch (t.Kind) {
    case tkEnumeration:
      // Values are distinct and sorted: as many as the bounds leave room
      // for means every value between them, as in most enumerations.
      if (static_cast<std::uint64_t>(t.MaxValue) - static_cast<std::uint64_t>(t.MinValue) + 1 == t.EnumValues.size()) {
        return value >= t.MinValue && value <= t.MaxValue;
      }
      return std::any_of(t.EnumValues.begin(), t.EnumValues.end(),
                         [value](const auto& e) { return e.first == value; });
    case tkSet:
      return (static_cast<std::uint64_t>(value) & ~SetMask(t)) == 0;
    default:
      return value >= t.MinValue && value <= t.MaxValue;
  }
}

std::string TrimBlanks(std::string_view s) {
  std::size_t b = 0;
  std::size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

struct Registry {
  std::mutex mutex;
  std::map<std::string, TClass> byName;  // upper-cased name
};

Registry& ClassRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

// --- Type information --------------------------------------------------------

namespace detail {

void ThrowPropertyError(const std::string& message) { throw EPropertyError(message); }

TTypeInfoPtr MakeOrdinalType(TTypeKind kind, std::string name, std::int64_t min, std::int64_t max) {
  auto t = std::make_shared<TTypeInfo>();
  t->Kind = kind;
  t->Name = std::move(name);
  t->MinValue = min;
  t->MaxValue = max;
  return t;
}

TTypeInfoPtr MakeSetType(const TTypeInfoPtr& element) {
  if (!element || element->Kind != tkEnumeration) throw std::invalid_argument("a set needs an enumeration type");
  if (element->EnumValues.empty() || element->EnumValues.front().first < 0 || element->EnumValues.back().first > 63) {
    throw std::invalid_argument("set elements must have ordinals 0..63");
  }
  auto t = std::make_shared<TTypeInfo>();
  t->Kind = tkSet;
  t->Name = "set of " + element->Name;
  t->ElementType = element;
  t->MinValue = 0;
  t->MaxValue = static_cast<std::int64_t>(SetMask(*t));
  return t;
}

TTypeInfoPtr MakeFloatType(FloatType type) {
  static const TTypeInfoPtr single = [] {
    auto t = std::make_shared<TTypeInfo>();
    t->Kind = tkFloat;
    t->Name = "Single";
    t->Float = FloatType::Single;
    return t;
  }();
  static const TTypeInfoPtr dbl = [] {
    auto t = std::make_shared<TTypeInfo>();
    t->Kind = tkFloat;
    t->Name = "Double";
    t->Float = FloatType::Double;
    return t;
  }();
  return type == FloatType::Single ? single : dbl;
}

TTypeInfoPtr MakeSimpleType(TTypeKind kind, std::string name) {
  auto t = std::make_shared<TTypeInfo>();
  t->Kind = kind;
  t->Name = std::move(name);
  return t;
}

TTypeInfoPtr MakeClassType(TClass (*classRef)()) {
  auto t = std::make_shared<TTypeInfo>();
  t->Kind = tkClass;
  t->ClassRef = classRef;
  return t;
}

void ValidateProperty(const TPropInfo& prop, const std::string& className) {
  const std::string where = className + "." + prop.Name();
  if (!IsValidIdent(prop.Name())) throw std::invalid_argument(where + ": not a valid property name");
  const TTypeInfo& t = prop.PropType();
  if (t.Kind == tkEnumeration && t.EnumValues.empty()) {
    throw std::invalid_argument(where + ": an enumeration needs at least one value");
  }
  if (prop.HasDefault() && !OrdinalInRange(t, prop.DefaultValue())) {
    throw std::invalid_argument(where + ": the default lies outside the property's values");
  }
}

}  // namespace detail

TTypeInfoPtr MakeEnumType(std::string typeName, std::vector<std::string> names) {
  std::vector<std::pair<std::int64_t, std::string>> values;
  values.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) values.emplace_back(static_cast<std::int64_t>(i), std::move(names[i]));
  return MakeEnumType(std::move(typeName), std::move(values));
}

TTypeInfoPtr MakeEnumType(std::string typeName, std::vector<std::pair<std::int64_t, std::string>> values) {
  std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!IsValidIdent(values[i].second)) {
      throw std::invalid_argument(typeName + ": '" + values[i].second + "' is not an identifier");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (values[j].first == values[i].first || SameText(values[j].second, values[i].second)) {
        throw std::invalid_argument(typeName + ": duplicate value or name '" + values[i].second + "'");
      }
    }
  }
  auto t = std::make_shared<TTypeInfo>();
  t->Kind = tkEnumeration;
  t->Name = std::move(typeName);
  if (!values.empty()) {
    t->MinValue = values.front().first;
    t->MaxValue = values.back().first;
  }
  t->EnumValues = std::move(values);
  return t;
}

const TTypeInfoPtr& BooleanType() {
  static const TTypeInfoPtr type = MakeEnumType("Boolean", std::vector<std::string>{"False", "True"});
  return type;
}

std::string GetEnumName(const TTypeInfo& type, std::int64_t value) {
  for (const auto& [v, name] : type.EnumValues) {
    if (v == value) return name;
  }
  return {};
}

std::optional<std::int64_t> GetEnumValue(const TTypeInfo& type, std::string_view name) {
  // Names are unique regardless of case, and streams mostly spell them as
  // declared: that spelling is found without folding any letters.
  // Names of one enumeration often share their start ("vtI2", "vtI4"):
  // the last letter tells most of them apart before a comparison.
  for (const auto& [v, n] : type.EnumValues) {
    if (n.size() == name.size() && (name.empty() || n.back() == name.back()) && n == name) return v;
  }
  for (const auto& [v, n] : type.EnumValues) {
    if (SameText(n, name)) return v;
  }
  return std::nullopt;
}

// --- Properties and metaclasses -------------------------------------------------

bool TPropInfo::IsReadOnly() const {
  switch (Kind()) {
    case tkFloat: return !access_.setFloat;
    case tkString: return !access_.setStr;
    case tkClass: return !access_.setObj;
    case tkMethod: return !access_.setMethod;
    case tkVariant: return !access_.setVariant;
    default: return !access_.setOrd;
  }
}

bool TPropInfo::IsStored(const TPersistent& instance) const {
  if (storedPredicate_) return storedPredicate_(instance);
  return storedConst_;
}

TMetaClass::TMetaClass(detail::ClassData&& data)
    : name_(std::move(data.name)),
      parent_(data.parent),
      ownProperties_(std::move(data.ownProperties)),
      createComponent_(data.createComponent),
      createItem_(data.createItem) {
  if (!IsValidIdent(name_)) throw std::invalid_argument("'" + name_ + "' is not a valid class name");
  if (parent_ != nullptr) {
    auto inherited = parent_->Properties();
    properties_.assign(inherited.begin(), inherited.end());
  }
  for (auto& own : ownProperties_) {
    own->declaringClass_ = this;
    auto same = std::find_if(properties_.begin(), properties_.end(),
                             [&](const TPropInfo* p) { return SameText(p->Name(), own->Name()); });
    if (same != properties_.end() && (*same)->DeclaringClass() == this) {
      throw std::invalid_argument(name_ + ": property " + own->Name() + " is declared twice");
    }
    if (same != properties_.end()) {
      // A redeclaration (to change a default, say) keeps the parent's place,
      // so that the stream order stays that of the first declaration.
      own->index_ = static_cast<int>(same - properties_.begin());
      *same = own.get();
    } else {
      own->index_ = static_cast<int>(properties_.size());
      properties_.push_back(own.get());
    }
  }
}

bool TMetaClass::InheritsFrom(TClass cls) const {
  for (TClass c = this; c != nullptr; c = c->parent_) {
    if (c == cls) return true;
  }
  return false;
}

const TPropInfo* TMetaClass::FindProperty(std::string_view name) const {
  // Streams spell names as declared, and a reader looks up every property
  // of every item: the exact spelling is found without folding letters.
  for (const TPropInfo* p : properties_) {
    if (p->Name() == name) return p;
  }
  for (const TPropInfo* p : properties_) {
    if (SameText(p->Name(), name)) return p;
  }
  return nullptr;
}

TComponent* TMetaClass::CreateComponent(TComponent& owner) const {
  if (createComponent_ == nullptr) throw EInvalidOperation("Class " + name_ + " cannot be created as a component");
  return createComponent_(&owner);
}

std::unique_ptr<TComponent> TMetaClass::CreateComponent() const {
  if (createComponent_ == nullptr) throw EInvalidOperation("Class " + name_ + " cannot be created as a component");
  return std::unique_ptr<TComponent>(createComponent_(nullptr));
}

TCollectionItem* TMetaClass::CreateItem(TCollection& collection) const {
  if (createItem_ == nullptr) throw EInvalidOperation("Class " + name_ + " cannot be created as a collection item");
  return createItem_(&collection);
}

// --- Class registry ------------------------------------------------------------

void RegisterClass(TClass cls) {
  if (cls == nullptr) throw EInvalidOperation("Cannot register a null class");
  Registry& r = ClassRegistry();
  std::lock_guard lock(r.mutex);
  auto [it, inserted] = r.byName.emplace(FoldCase(cls->ClassName()), cls);
  if (!inserted && it->second != cls) {
    throw EInvalidOperation("A class named " + cls->ClassName() + " already exists");
  }
}

void RegisterClasses(std::initializer_list<TClass> classes) {
  for (TClass c : classes) RegisterClass(c);
}

void UnRegisterClass(TClass cls) {
  if (cls == nullptr) return;
  Registry& r = ClassRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.byName.find(FoldCase(cls->ClassName()));
  if (it != r.byName.end() && it->second == cls) r.byName.erase(it);
}

TClass GetClass(std::string_view className) {
  Registry& r = ClassRegistry();
  std::lock_guard lock(r.mutex);
  auto it = r.byName.find(FoldCase(className));
  return it == r.byName.end() ? nullptr : it->second;
}

TClass FindClass(std::string_view className) {
  TClass cls = GetClass(className);
  if (cls == nullptr) throw EClassNotFound("Class " + std::string(className) + " not found");
  return cls;
}

// --- Lookup ----------------------------------------------------------------------

const TPropInfo* GetPropInfo(TClass cls, std::string_view name) {
  return cls == nullptr ? nullptr : cls->FindProperty(name);
}

const TPropInfo* GetPropInfo(const TPersistent& instance, std::string_view name) {
  return GetPropInfo(instance.ClassType(), name);
}

std::span<const TPropInfo* const> GetPropList(TClass cls) {
  if (cls == nullptr) return {};
  return cls->Properties();
}

std::span<const TPropInfo* const> GetPropList(const TPersistent& instance) { return GetPropList(instance.ClassType()); }

bool IsPublishedProp(const TPersistent& instance, std::string_view name) {
  return GetPropInfo(instance, name) != nullptr;
}

TTypeKind PropType(const TPersistent& instance, std::string_view name) { return Lookup(instance, name).Kind(); }

bool IsStoredProp(const TPersistent& instance, const TPropInfo& prop) {
  CheckInstance(instance, prop);
  return prop.IsStored(instance);
}

// --- Ordinals ----------------------------------------------------------------

std::int64_t GetOrdProp(const TPersistent& instance, const TPropInfo& prop) {
  CheckInstance(instance, prop);
  CheckKind(prop, IsOrdinalKind(prop.Kind()), "of an ordinal type");
  return prop.Access().getOrd(instance);
}

std::int64_t GetOrdProp(const TPersistent& instance, std::string_view name) {
  return GetOrdProp(instance, Lookup(instance, name));
}

void SetOrdProp(TPersistent& instance, const TPropInfo& prop, std::int64_t value) {
  CheckInstance(instance, prop);
  detail::SetOrdPropFound(instance, prop, value);
}

void detail::SetOrdPropFound(TPersistent& instance, const TPropInfo& prop, std::int64_t value) {
  CheckKind(prop, IsOrdinalKind(prop.Kind()), "of an ordinal type");
  CheckWritable(prop);
  const TTypeInfo& t = prop.PropType();
  if (!OrdinalInRange(t, value)) {
    if (t.Kind == tkEnumeration || t.Kind == tkSet) {
      detail::ThrowPropertyError("Value " + std::to_string(value) + " is not a valid value of property " + prop.Name());
    }
    detail::ThrowPropertyError("Value " + std::to_string(value) + " is out of range for property " + prop.Name() +
                               " (" + Range(t) + ")");
  }
  prop.Access().setOrd(instance, value);
}

void SetOrdProp(TPersistent& instance, std::string_view name, std::int64_t value) {
  SetOrdProp(instance, Lookup(instance, name), value);
}

std::int64_t GetInt64Prop(const TPersistent& instance, const TPropInfo& prop) { return GetOrdProp(instance, prop); }
std::int64_t GetInt64Prop(const TPersistent& instance, std::string_view name) { return GetOrdProp(instance, name); }
void SetInt64Prop(TPersistent& instance, const TPropInfo& prop, std::int64_t value) {
  SetOrdProp(instance, prop, value);
}
void SetInt64Prop(TPersistent& instance, std::string_view name, std::int64_t value) {
  SetOrdProp(instance, name, value);
}

// --- Enumerations and sets ------------------------------------------------------

std::string GetEnumProp(const TPersistent& instance, const TPropInfo& prop) {
  CheckKind(prop, prop.Kind() == tkEnumeration, "an enumeration");
  return GetEnumName(prop.PropType(), GetOrdProp(instance, prop));
}

std::string GetEnumProp(const TPersistent& instance, std::string_view name) {
  return GetEnumProp(instance, Lookup(instance, name));
}

void SetEnumProp(TPersistent& instance, const TPropInfo& prop, std::string_view value) {
  CheckKind(prop, prop.Kind() == tkEnumeration, "an enumeration");
  const auto v = GetEnumValue(prop.PropType(), TrimBlanks(value));
  if (!v) {
    detail::ThrowPropertyError("Invalid enumeration value '" + std::string(value) + "' for property " + prop.Name());
  }
  SetOrdProp(instance, prop, *v);
}

void SetEnumProp(TPersistent& instance, std::string_view name, std::string_view value) {
  SetEnumProp(instance, Lookup(instance, name), value);
}

std::string GetSetProp(const TPersistent& instance, const TPropInfo& prop, bool brackets) {
  CheckKind(prop, prop.Kind() == tkSet, "a set");
  const auto bits = static_cast<std::uint64_t>(GetOrdProp(instance, prop));
  std::string out;
  for (const auto& [value, name] : prop.PropType().ElementType->EnumValues) {
    if ((bits >> value) & 1) {
      if (!out.empty()) out += ',';
      out += name;
    }
  }
  return brackets ? "[" + out + "]" : out;
}

std::string GetSetProp(const TPersistent& instance, std::string_view name, bool brackets) {
  return GetSetProp(instance, Lookup(instance, name), brackets);
}

void SetSetProp(TPersistent& instance, const TPropInfo& prop, std::string_view value) {
  CheckKind(prop, prop.Kind() == tkSet, "a set");
  std::string text = TrimBlanks(value);
  if (!text.empty() && text.front() == '[') {
    if (text.back() != ']') detail::ThrowPropertyError("Invalid set value '" + std::string(value) + "'");
    text = TrimBlanks(std::string_view(text).substr(1, text.size() - 2));
  }
  std::uint64_t bits = 0;
  if (!text.empty()) {
    std::size_t start = 0;
    while (true) {
      const std::size_t comma = text.find(',', start);
      const std::string element =
          TrimBlanks(std::string_view(text).substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      const auto v = GetEnumValue(*prop.PropType().ElementType, element);
      if (!v) detail::ThrowPropertyError("Invalid set element '" + element + "' for property " + prop.Name());
      bits |= std::uint64_t{1} << *v;
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  SetOrdProp(instance, prop, static_cast<std::int64_t>(bits));
}

void SetSetProp(TPersistent& instance, std::string_view name, std::string_view value) {
  SetSetProp(instance, Lookup(instance, name), value);
}

// --- Floats, strings, objects, events ----------------------------------------------

double GetFloatProp(const TPersistent& instance, const TPropInfo& prop) {
  CheckInstance(instance, prop);
  CheckKind(prop, prop.Kind() == tkFloat, "a float property");
  return prop.Access().getFloat(instance);
}

double GetFloatProp(const TPersistent& instance, std::string_view name) {
  return GetFloatProp(instance, Lookup(instance, name));
}

void SetFloatProp(TPersistent& instance, const TPropInfo& prop, double value) {
  CheckInstance(instance, prop);
  CheckKind(prop, prop.Kind() == tkFloat, "a float property");
  CheckWritable(prop);
  if (prop.PropType().Float == FloatType::Single) {
    // A finite value that would round to infinity is out of range; values
    // just above the largest float still round down to it.
    if (std::isfinite(value) && std::fabs(value) >= detail::kSingleOverflow) {
      detail::ThrowPropertyError("Value " + FloatToStr(value) + " is out of range for property " + prop.Name());
    }
    value = static_cast<double>(static_cast<float>(value));
  }
  prop.Access().setFloat(instance, value);
}

void SetFloatProp(TPersistent& instance, std::string_view name, double value) {
  SetFloatProp(instance, Lookup(instance, name), value);
}

std::string GetStrProp(const TPersistent& instance, const TPropInfo& prop) {
  CheckInstance(instance, prop);
  CheckKind(prop, prop.Kind() == tkString, "a string property");
  return prop.Access().getStr(instance);
}

std::string GetStrProp(const TPersistent& instance, std::string_view name) {
  return GetStrProp(instance, Lookup(instance, name));
}

void SetStrProp(TPersistent& instance, const TPropInfo& prop, const std::string& value) {
  CheckInstance(instance, prop);
  detail::SetStrPropFound(instance, prop, value);
}

void detail::SetStrPropFound(TPersistent& instance, const TPropInfo& prop, const std::string& value) {
  CheckKind(prop, prop.Kind() == tkString, "a string property");
  CheckWritable(prop);
  prop.Access().setStr(instance, value);
}

void SetStrProp(TPersistent& instance, std::string_view name, const std::string& value) {
  SetStrProp(instance, Lookup(instance, name), value);
}

TPersistent* GetObjectProp(const TPersistent& instance, const TPropInfo& prop) {
  CheckInstance(instance, prop);
  CheckKind(prop, prop.Kind() == tkClass, "an object property");
  return prop.Access().getObj(instance);
}

TPersistent* GetObjectProp(const TPersistent& instance, std::string_view name) {
  return GetObjectProp(instance, Lookup(instance, name));
}

void SetObjectProp(TPersistent& instance, const TPropInfo& prop, TPersistent* value) {
  CheckInstance(instance, prop);
  CheckKind(prop, prop.Kind() == tkClass, "an object property");
  CheckWritable(prop);
  prop.Access().setObj(instance, value);
}

void SetObjectProp(TPersistent& instance, std::string_view name, TPersistent* value) {
  SetObjectProp(instance, Lookup(instance, name), value);
}

std::any GetMethodProp(const TPersistent& instance, const TPropInfo& prop) {
  CheckInstance(instance, prop);
  CheckKind(prop, prop.Kind() == tkMethod, "an event");
  return prop.Access().getMethod(instance);
}

std::any GetMethodProp(const TPersistent& instance, std::string_view name) {
  return GetMethodProp(instance, Lookup(instance, name));
}

void SetMethodProp(TPersistent& instance, const TPropInfo& prop, const std::any& handler) {
  CheckInstance(instance, prop);
  CheckKind(prop, prop.Kind() == tkMethod, "an event");
  CheckWritable(prop);
  prop.Access().setMethod(instance, handler);
}

void SetMethodProp(TPersistent& instance, std::string_view name, const std::any& handler) {
  SetMethodProp(instance, Lookup(instance, name), handler);
}

bool IsMethodAssigned(const TPersistent& instance, const TPropInfo& prop) {
  CheckInstance(instance, prop);
  CheckKind(prop, prop.Kind() == tkMethod, "an event");
  return prop.Access().methodAssigned(instance);
}

}  // namespace xelo
