#include "xelo/framework/Filer.h"

#include "xelo/framework/Collection.h"
#include "xelo/framework/Component.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/TypInfo.h"
#include "xelo/framework/Variant.h"

#include <algorithm>
#include <any>
#include <cmath>
#include <exception>
#include <limits>
#include <span>

namespace xelo {

namespace {

std::vector<std::string> SplitDots(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = path.find('.', start);
    parts.emplace_back(path.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts;
}

// A component's Name is the header of its object, not a property line.
// The name is compared first: the cast is only needed for a property of
// that name, not for each of the many items of a collection.
bool IsNameProperty(const TPersistent& object, const TPropInfo& prop) {
  return prop.Name().size() == 4 && SameText(prop.Name(), "Name") && dynamic_cast<const TComponent*>(&object) != nullptr;
}

// The declared name of an enumeration value, or null for a value it lacks;
// the writer takes it as it is instead of copying it.
const std::string* EnumNameOf(const TTypeInfo& type, std::int64_t value) {
  const auto& values = type.EnumValues;
  // Values are distinct and sorted; when they fill their bounds (most
  // enumerations do), a value's name sits at its distance from the first.
  if (!values.empty() && value >= type.MinValue && value <= type.MaxValue &&
      static_cast<std::uint64_t>(type.MaxValue) - static_cast<std::uint64_t>(type.MinValue) + 1 == values.size()) {
    return &values[static_cast<std::size_t>(static_cast<std::uint64_t>(value) - static_cast<std::uint64_t>(type.MinValue))].second;
  }
  for (const auto& [v, name] : values) {
    if (v == value) return &name;
  }
  return nullptr;
}

// A subcomponent of the object that publishes it is part of that object's
// data (written as dotted lines); any other component is only referred to.
bool IsInlineComponent(const TPersistent& holder, const TComponent& component) {
  return component.IsSubComponent() && component.GetOwner() == &holder;
}

bool ClassChainHasName(TClass cls, std::string_view name) {
  for (TClass c = cls; c != nullptr; c = c->ClassParent()) {
    if (SameText(c->ClassName(), name)) return true;
  }
  return false;
}

// Ends an update of a collection on every way out.
class CollectionUpdate {
 public:
  explicit CollectionUpdate(TCollection& c) : c_(c) { c_.BeginUpdate(); }
  ~CollectionUpdate() { c_.EndUpdate(); }
  CollectionUpdate(const CollectionUpdate&) = delete;
  CollectionUpdate& operator=(const CollectionUpdate&) = delete;

 private:
  TCollection& c_;
};

}  // namespace

namespace detail {

// --- Writer -------------------------------------------------------------------------

class ComponentWriter {
 public:
  ComponentWriter(TComponent& root, TFormSink& sink) : root_(root), sink_(sink) {}

  void Object(TComponent& component, int depth) {
    if (depth > kMaxFormDepth) throw EWriteError("Cannot write " + component.ClassName() + ": nesting too deep");
    const bool wasWriting = component.GetComponentState().Contains(csWriting);
    component.SetState(csWriting, true);
    struct Restore {
      TComponent& c;
      bool was;
      ~Restore() { c.SetState(csWriting, was); }
    } restore{component, wasWriting};

    sink_.BeginObject(TFormObjectFlag::Object, component.ClassName(), component.GetName());
    Properties(component, {}, depth);
    component.GetChildren([&](TComponent& child) { Object(child, depth + 1); }, root_);
    sink_.EndObject();
  }

 private:
  // `path` is the dotted path of a nested object ("Settings."), empty for
  // the object itself.
  void Properties(const TPersistent& object, std::string_view path, int depth) {
    if (depth > kMaxFormDepth) throw EWriteError("Cannot write " + object.ClassName() + ": nesting too deep");
    const std::span<const TPropInfo* const> props = GetPropList(object);
    for (const TPropInfo* prop : props) {
      if (prop->Kind() == tkMethod || IsNameProperty(object, *prop) || !prop->IsStored(object)) continue;
      const TFormName name{path, prop->Name()};
      if (prop->Kind() == tkClass) {
        ObjectProperty(object, *prop, name, depth);
        continue;
      }
      if (prop->IsReadOnly()) continue;
      const TPropInfo::Accessors& a = prop->Access();
      const TTypeInfo& type = prop->PropType();
      switch (prop->Kind()) {
        case tkInteger:
        case tkInt64:
        case tkChar:
        case tkWChar:
        case tkEnumeration:
        case tkSet: {
          const std::int64_t v = a.getOrd(object);
          if (prop->HasDefault() && v == prop->DefaultValue()) break;
          OrdinalValue(name, type, v);
          break;
        }
        case tkFloat: {
          const double v = a.getFloat(object);
          if (v == 0) break;
          if (type.Float == FloatType::Single) {
            sink_.Value(name, TFormScalar::Single(static_cast<float>(v)));
          } else {
            sink_.Value(name, TFormScalar::Double(v));
          }
          break;
        }
        case tkString: {
          // Read in place where the object keeps its text: an item
          // identifier per item of a large configuration is not copied.
          if (a.getStrRef) {
            const std::string& v = a.getStrRef(object);
            if (!v.empty()) sink_.Value(name, TFormScalar::String(v));
          } else {
            const std::string v = a.getStr(object);
            if (!v.empty()) sink_.Value(name, TFormScalar::String(v));
          }
          break;
        }
        case tkVariant: {
          const std::any held = a.getVariant(object);
          const auto* v = std::any_cast<Variant>(&held);
          if (v != nullptr && !v->IsEmpty()) VariantValue(name, *v);
          break;
        }
        default:
          break;
      }
    }
  }

  // The stream knows numbers, texts and identifiers; a variant goes as the
  // one of them that carries its value (Null and Booleans as the
  // identifiers Null, True, False). A date, currency or decimal is written
  // as its number and comes back as a double.
  void VariantValue(const TFormName& name, const Variant& v) {
    const VARTYPE type = v.VarType();
    switch (type) {
      case VT_NULL: return sink_.Value(name, TFormScalar::Ident("Null"));
      case VT_BOOL: return sink_.Value(name, TFormScalar::Ident(v.ToBool() ? "True" : "False"));
      case VT_I1:
      case VT_I2:
      case VT_I4:
      case VT_I8:
      case VT_INT:
      case VT_UI1:
      case VT_UI2:
      case VT_UI4:
      case VT_UINT: return sink_.Value(name, TFormScalar::Integer(v.ToInt64()));
      case VT_UI8:
        if (v.AsVARIANT().ullVal <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
          return sink_.Value(name, TFormScalar::Integer(v.ToInt64()));
        }
        return sink_.Value(name, TFormScalar::Double(v.ToDouble()));
      case VT_R4: return sink_.Value(name, TFormScalar::Single(v.AsVARIANT().fltVal));
      case VT_R8:
      case VT_DATE:
      case VT_CY:
      case VT_DECIMAL: return sink_.Value(name, TFormScalar::Double(v.ToDouble()));
      case varString:
      case VT_BSTR: {
        const std::string text = VarToStr(v);
        return sink_.Value(name, TFormScalar::String(text));
      }
      default:
        throw EWriteError("Cannot write " + name.Joined() + ": a variant of type " + std::to_string(type) +
                          " has no form in the component stream");
    }
  }

  void OrdinalValue(const TFormName& name, const TTypeInfo& type, std::int64_t v) {
    switch (type.Kind) {
      case tkChar:
      case tkWChar: {
        std::string text;
        AppendUtf8(text, static_cast<char32_t>(v));
        return sink_.Value(name, TFormScalar::String(text));
      }
      case tkEnumeration: {
        // A value without a name can only come from a cast in C++; keep it
        // as a number rather than losing it.
        const std::string* n = EnumNameOf(type, v);
        if (n == nullptr) return sink_.Value(name, TFormScalar::Integer(v));
        return sink_.Value(name, TFormScalar::Ident(*n));
      }
      case tkSet: {
        std::vector<std::string_view> elements;
        for (const auto& [value, n] : type.ElementType->EnumValues) {
          if ((static_cast<std::uint64_t>(v) >> value) & 1) elements.push_back(n);
        }
        return sink_.Value(name, TFormScalar::Set(elements.data(), elements.size()));
      }
      default:
        return sink_.Value(name, TFormScalar::Integer(v));
    }
  }

  void ObjectProperty(const TPersistent& object, const TPropInfo& prop, const TFormName& name, int depth) {
    TPersistent* value = prop.Access().getObj(object);
    if (value == nullptr) return;
    if (auto* component = dynamic_cast<TComponent*>(value); component != nullptr && !IsInlineComponent(object, *component)) {
      if (prop.IsReadOnly()) return;
      const std::string path = ReferencePath(*component);
      if (!path.empty()) sink_.Value(name, TFormScalar::Ident(path));
      return;
    }
    if (auto* collection = dynamic_cast<TCollection*>(value)) {
      if (depth + 1 > kMaxFormDepth) throw EWriteError("Cannot write " + name.Joined() + ": nesting too deep");
      sink_.BeginCollection(name);
      for (int i = 0; i < collection->GetCount(); ++i) {
        sink_.BeginItem();
        Properties(*collection->GetItem(i), {}, depth + 1);
        sink_.EndItem();
      }
      sink_.EndCollection();
      return;
    }
    const std::string nested = name.Joined() + ".";
    Properties(*value, nested, depth + 1);
  }

  std::string ReferencePath(const TComponent& target) const {
    if (&target == &root_) return root_.GetName();
    std::vector<const TComponent*> chain;
    const TComponent* c = &target;
    for (; c != nullptr && c != &root_; c = c->GetOwner()) chain.push_back(c);
    // Inside the root: the names below it. Outside: the names from the
    // topmost owner down, which only a global lookup could resolve.
    std::string path;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if ((*it)->GetName().empty()) return {};
      if (!path.empty()) path += '.';
      path += (*it)->GetName();
    }
    return path;
  }

  TComponent& root_;
  TFormSink& sink_;
};

// --- Reader --------------------------------------------------------------------------

class ComponentReader : public DestructionWatch {
 public:
  // `childrenOnly`: the root itself is not read and not loaded, and of its
  // components only those the form names (ReadComponentsIntoForm).
  explicit ComponentReader(TComponent& root, bool childrenOnly = false) : root_(root), childrenOnly_(childrenOnly) {}

  void Read(const TFlatForm& form) {
    form_ = &form;
    const TFlatObject& root = form.Objects.front();
    try {
      if (!childrenOnly_) {
        TrackTree(root_);
        if (!root_.GetComponentState().Contains(csDesigning)) root_.SetName(std::string(root.Name));
        Properties(root_, root.FirstProperty, 0);
      }
      Children(root_, root.FirstChild, 1);
      ResolveFixups();
    } catch (...) {
      Abort();
      throw;
    }
    for (TComponent* c : loading_) c->SetState(csReading, false);
    CallLoaded();
  }

  void Destroyed(const TPersistent* object) noexcept override {
    std::erase_if(loading_, [object](const TComponent* c) { return static_cast<const TPersistent*>(c) == object; });
    std::erase_if(fixups_, [object](const Fixup& f) { return f.instance == object; });
    if (current_ != nullptr && static_cast<const TPersistent*>(current_) == object) current_ = nullptr;
  }

 private:
  struct Fixup {
    TPersistent* instance;
    const TPropInfo* prop;
    std::string path;
    std::string where;
  };

  // Where a property line failed, "Class.Property"; made into a text only
  // when there is an error to report, not for every line read.
  struct Where {
    const TPersistent& instance;
    std::string_view name;
    std::string Text() const { return instance.ClassName() + "." + std::string(name); }
  };

  [[noreturn]] void Fail(const std::string& where, const std::string& reason) {
    annotated_ = true;
    throw EReadError("Error reading " + where + ": " + reason);
  }
  [[noreturn]] void Fail(const Where& where, const std::string& reason) { Fail(where.Text(), reason); }

  void Track(TComponent& c) {
    if (std::find(loading_.begin(), loading_.end(), &c) != loading_.end()) return;
    c.SetState(csLoading, true);
    c.SetState(csReading, true);
    loading_.push_back(&c);
  }

  void TrackTree(TComponent& c) {
    Track(c);
    for (TComponent* child : c.Components()) TrackTree(*child);
  }

  void Abort() noexcept {
    for (TComponent* c : loading_) {
      c->SetState(csLoading, false);
      c->SetState(csReading, false);
    }
    loading_.clear();
    fixups_.clear();
  }

  void Properties(TPersistent& instance, std::uint32_t first, int depth) {
    // The class once per object, not once per property: an item has a
    // handful of properties, a configuration a hundred thousand items.
    const TClass cls = instance.ClassType();
    for (std::uint32_t i = first; i != kFormNone; i = form_->Properties[i].Next) {
      Property(instance, cls, form_->Properties[i], depth);
    }
  }

  void Property(TPersistent& instance, TClass cls, const TFlatProperty& p, int depth) {
    const Where where{instance, p.Name};
    // Each dotted step leads into a nested object; the last part names the
    // property.
    std::string_view last = p.Name;
    TPersistent* target = &instance;
    TClass targetClass = cls;
    for (std::size_t dot = last.find('.'); dot != std::string_view::npos; dot = last.find('.')) {
      const std::string_view stepName = last.substr(0, dot);
      last.remove_prefix(dot + 1);
      const auto step = [stepName] { return std::string(stepName); };
      const TPropInfo* stepProp = GetPropInfo(*target, stepName);
      if (stepProp == nullptr) Fail(where, "Property " + step() + " does not exist");
      if (stepProp->Kind() != tkClass) Fail(where, "Property " + step() + " is not an object");
      TPersistent* next = stepProp->Access().getObj(*target);
      if (next == nullptr) Fail(where, "Property " + step() + " holds no object");
      // Only the object's own nested objects are reachable this way, not
      // components it merely refers to.
      if (const auto* c = dynamic_cast<const TComponent*>(next); c != nullptr && !IsInlineComponent(*target, *c)) {
        Fail(where, "Property " + step() + " refers to a component");
      }
      target = next;
      targetClass = next->ClassType();
    }
    const TPropInfo* prop = FindProperty(targetClass, last);
    if (prop == nullptr) Fail(where, "Property " + std::string(last) + " does not exist");
    try {
      Assign(*target, *prop, p.Value, where, depth);
    } catch (const EPropertyError& e) {
      // The checks of the property functions (range, enumeration, kind)
      // are reading errors here.
      if (annotated_) throw;
      Fail(where, e.Message());
    } catch (Exception& e) {
      if (!annotated_) {
        annotated_ = true;
        e.SetMessage("Error reading " + where.Text() + ": " + e.Message());
      }
      throw;
    }
  }

  // Items of a collection list the same properties in declaration order:
  // the search starts after the property found last in the same class,
  // where the next one nearly always is, going round once (the next item
  // starts over), and falls back to the full lookup for other spellings.
  const TPropInfo* FindProperty(TClass cls, std::string_view name) {
    if (cls == hintClass_) {
      const std::span<const TPropInfo* const> props = cls->Properties();
      for (std::size_t n = 0, i = hintIndex_; n < props.size(); ++n, ++i) {
        if (i >= props.size()) i = 0;
        if (props[i]->Name() == name) {
          hintIndex_ = i + 1;
          return props[i];
        }
      }
    }
    const TPropInfo* prop = GetPropInfo(cls, name);
    if (prop != nullptr) {
      hintClass_ = cls;
      hintIndex_ = static_cast<std::size_t>(prop->Index()) + 1;
    }
    return prop;
  }

  void WrongKind(const Where& where, const char* expected) { Fail(where, std::string(expected) + " expected"); }

  void Assign(TPersistent& target, const TPropInfo& prop, const TFlatValue& v, const Where& where, int depth) {
    using K = TFormValueKind;
    const TTypeInfo& type = prop.PropType();
    if (prop.Kind() == tkMethod) Fail(where, "Event handlers are not read from a component stream");
    if (prop.Kind() == tkClass) {
      ObjectValue(target, prop, v, where, depth);
      return;
    }
    if (prop.IsReadOnly()) Fail(where, "Property " + prop.Name() + " is read-only");
    // `prop` was found in the target's own class: the setters below skip
    // asking whether it belongs to the target, and check everything else.
    switch (prop.Kind()) {
      case tkInteger:
      case tkInt64:
        if (v.Kind != K::Integer) WrongKind(where, "An integer value");
        SetOrdPropFound(target, prop, v.Int);
        break;
      case tkChar:
      case tkWChar: {
        if (v.Kind == K::Integer) {
          SetOrdPropFound(target, prop, v.Int);
          break;
        }
        if (v.Kind != K::String) WrongKind(where, "A character");
        std::size_t pos = 0;
        const auto cp = DecodeUtf8(v.Text, pos);
        if (!cp || pos != v.Text.size()) Fail(where, "A text of exactly one character expected");
        SetOrdPropFound(target, prop, static_cast<std::int64_t>(*cp));
        break;
      }
      case tkEnumeration: {
        if (v.Kind == K::Integer) {
          SetOrdPropFound(target, prop, v.Int);
          break;
        }
        if (v.Kind != K::Ident) WrongKind(where, "An enumeration value");
        const auto value = GetEnumValue(type, v.Text);
        if (!value) Fail(where, "Invalid enumeration value '" + std::string(v.Text) + "'");
        SetOrdPropFound(target, prop, *value);
        break;
      }
      case tkSet: {
        if (v.Kind != K::Set) WrongKind(where, "A set");
        std::uint64_t bits = 0;
        for (std::uint32_t i = 0; i < v.Count; ++i) {
          const std::string_view e = form_->Elements[v.First + i];
          const auto value = GetEnumValue(*type.ElementType, e);
          if (!value) Fail(where, "Invalid set element '" + std::string(e) + "'");
          bits |= std::uint64_t{1} << *value;
        }
        SetOrdPropFound(target, prop, static_cast<std::int64_t>(bits));
        break;
      }
      case tkFloat:
        if (v.Kind == K::Integer) {
          SetFloatProp(target, prop, static_cast<double>(v.Int));
        } else if (v.Kind == K::Single || v.Kind == K::Double) {
          SetFloatProp(target, prop, v.Float);
        } else if (v.Kind == K::Ident && (SameText(v.Text, "NAN") || SameText(v.Text, "INF"))) {
          // The text form writes the non-finite values as these words.
          SetFloatProp(target, prop, SameText(v.Text, "NAN") ? std::nan("") : HUGE_VAL);
        } else {
          WrongKind(where, "A number");
        }
        break;
      case tkString:
        if (v.Kind != K::String) WrongKind(where, "A text");
        // One buffer for all texts read: the setter copies what it keeps.
        text_.assign(v.Text);
        SetStrPropFound(target, prop, text_);
        break;
      case tkVariant:
        SetVariantProp(target, prop, VariantOf(v, where));
        break;
      default:
        Fail(where, "Properties of this kind are not read from a component stream");
    }
  }

  Variant VariantOf(const TFlatValue& v, const Where& where) {
    using K = TFormValueKind;
    switch (v.Kind) {
      case K::Integer:
        if (v.Int >= std::numeric_limits<std::int32_t>::min() && v.Int <= std::numeric_limits<std::int32_t>::max()) {
          return Variant(static_cast<std::int32_t>(v.Int));
        }
        return Variant(v.Int);
      case K::Single: return Variant(static_cast<float>(v.Float));
      case K::Double: return Variant(v.Float);
      case K::String: return Variant(v.Text);
      case K::Ident:
        if (SameText(v.Text, "Null")) return Variant::Null();
        if (SameText(v.Text, "True")) return Variant(true);
        if (SameText(v.Text, "False")) return Variant(false);
        if (SameText(v.Text, "Unassigned")) return Variant();
        if (SameText(v.Text, "NAN")) return Variant(std::nan(""));
        if (SameText(v.Text, "INF")) return Variant(HUGE_VAL);
        break;
      default:
        break;
    }
    Fail(where, "A number, a text, True, False or Null expected");
  }

  void ObjectValue(TPersistent& target, const TPropInfo& prop, const TFlatValue& v, const Where& where,
                   int depth) {
    if (v.Kind == TFormValueKind::Collection) {
      auto* collection = dynamic_cast<TCollection*>(prop.Access().getObj(target));
      if (collection == nullptr) Fail(where, "Property " + prop.Name() + " is not a collection");
      // Written empty: the existing items stay.
      if (v.Count == 0) return;
      CollectionUpdate update(*collection);
      collection->Clear();
      for (std::uint32_t item = v.First; item != kFormNone; item = form_->Items[item].Next) {
        Properties(*collection->Add(), form_->Items[item].FirstProperty, depth + 1);
      }
      return;
    }
    if (v.Kind == TFormValueKind::Ident) {
      if (prop.IsReadOnly()) Fail(where, "Property " + prop.Name() + " is read-only");
      if (!prop.PropType().ClassType()->InheritsFrom(TComponent::StaticClass())) {
        Fail(where, "Property " + prop.Name() + " does not refer to a component");
      }
      if (SameText(v.Text, "nil")) {
        SetObjectProp(target, prop, nullptr);
      } else {
        fixups_.push_back({&target, &prop, std::string(v.Text), where.Text()});
      }
      return;
    }
    Fail(where, "A collection or a component name expected");
  }

  void Children(TComponent& parent, std::uint32_t first, int depth) {
    for (std::uint32_t index = first; index != kFormNone; index = form_->Objects[index].Next) {
      const TFlatObject& flat = form_->Objects[index];
      const std::string className(flat.ClassName);
      const std::string name(flat.Name);
      TComponent* owner = parent.GetChildOwner();
      if (owner == nullptr) owner = &root_;
      const std::string where = className + " " + (name.empty() ? std::string("(unnamed)") : name);
      TComponent* component = owner->FindComponent(name);
      bool created = false;
      if (component != nullptr) {
        if (!ClassChainHasName(component->ClassType(), className)) {
          Fail(where, "Component " + name + " is a " + component->ClassName() + ", not a " + className);
        }
        TrackTree(*component);  // already, unless only the named children are read
      } else {
        TClass cls = GetClass(className);
        if (cls == nullptr) {
          annotated_ = true;
          throw EClassNotFound("Error reading " + where + ": Class " + className + " not found");
        }
        if (!cls->CanCreateComponent()) Fail(where, "Class " + className + " cannot be created");
        component = cls->CreateComponent(*owner);
        created = true;
        Track(*component);
      }
      try {
        if (created) component->SetName(name);
        if (component->HasParent()) component->SetParentComponent(parent.GetChildParent());
        Properties(*component, flat.FirstProperty, depth);
        Children(*component, flat.FirstChild, depth + 1);
      } catch (...) {
        // The object that failed goes away if this reading made it; the
        // watch has dropped it from our lists if someone else destroyed it.
        if (created && std::find(loading_.begin(), loading_.end(), component) != loading_.end()) {
          std::erase(loading_, component);
          delete component;
        }
        throw;
      }
    }
  }

  TComponent* Resolve(const std::string& path) const {
    const std::vector<std::string> names = SplitDots(path);
    TComponent* c = root_.FindComponent(names.front());
    if (c == nullptr && SameText(root_.GetName(), names.front())) c = &root_;
    for (std::size_t i = 1; c != nullptr && i < names.size(); ++i) c = c->FindComponent(names[i]);
    return c;
  }

  void ResolveFixups() {
    // A setter may destroy objects and so shorten the list; take one at a time.
    while (!fixups_.empty()) {
      Fixup f = std::move(fixups_.front());
      fixups_.erase(fixups_.begin());
      TComponent* target = Resolve(f.path);
      if (target == nullptr) Fail(f.where, "Component '" + f.path + "' not found");
      try {
        SetObjectProp(*f.instance, *f.prop, target);
      } catch (const EPropertyError& e) {
        Fail(f.where, e.Message());
      } catch (Exception& e) {
        annotated_ = true;
        e.SetMessage("Error reading " + f.where + ": " + e.Message());
        throw;
      }
    }
  }

  void CallLoaded() {
    auto rootIt = std::find(loading_.begin(), loading_.end(), &root_);
    if (rootIt != loading_.end()) std::rotate(rootIt, rootIt + 1, loading_.end());
    std::exception_ptr first;
    while (!loading_.empty()) {
      current_ = loading_.front();
      loading_.erase(loading_.begin());
      try {
        current_->Loaded();
      } catch (...) {
        if (!first) first = std::current_exception();
      }
      // An override that forgot the base call must not leave the state set.
      if (current_ != nullptr) current_->SetState(csLoading, false);
      current_ = nullptr;
    }
    if (first) std::rethrow_exception(first);
  }

  TComponent& root_;
  const bool childrenOnly_;
  const TFlatForm* form_ = nullptr;
  std::string text_;  // the text handed to a string setter
  TClass hintClass_ = nullptr;
  std::size_t hintIndex_ = 0;
  std::vector<TComponent*> loading_;
  std::vector<Fixup> fixups_;
  TComponent* current_ = nullptr;
  bool annotated_ = false;
};

}  // namespace detail

void WriteComponentForm(TComponent& root, TFormSink& sink) { detail::ComponentWriter(root, sink).Object(root, 0); }

TFormObject ComponentToForm(TComponent& root) {
  TFormTreeBuilder tree;
  WriteComponentForm(root, tree);
  return std::move(tree.Result());
}

void ReadComponentForm(const TFlatForm& form, TComponent& root) { detail::ComponentReader(root).Read(form); }

void ReadComponentForm(const TFormObject& form, TComponent& root) { ReadComponentForm(FlattenForm(form), root); }

void ReadComponentsIntoForm(const TFormObject& form, TComponent& root) {
  detail::ComponentReader(root, true).Read(FlattenForm(form));
}

void WriteComponent(TStream& stream, TComponent& root) { WriteForm(stream, ComponentToForm(root)); }

void ReadComponent(TStream& stream, TComponent& root) {
  const TFormObject form = ReadForm(stream);
  ReadComponentForm(form, root);
}

}  // namespace xelo
