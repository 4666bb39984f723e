// Metaclasses and published-property metadata.
//
// Every class of the framework's tree (Persistent.h) has one TMetaClass: its
// name, its parent, its published properties in declaration order (the
// parent's first) and, for classes that can be created by name, a factory
// (components take their owner, collection items their collection). The
// component stream writes and reads objects through this metadata only, and
// the generic property functions below (GetOrdProp, SetStrProp, ...) give
// design tools and the GUI binding access to any published property by name.
//
// Declaring published properties: the class's StaticClass() builds its
// metaclass once with a TClassBuilder, in declaration order:
//
//   TClass TXeloGroup::StaticClass() {
//     static const TMetaClass meta = TClassBuilder<TXeloGroup>("TXeloGroup")
//         .String("Name", &TXeloGroup::GetName, &TXeloGroup::SetName)
//         .Boolean("IsActive", &TXeloGroup::GetIsActive, &TXeloGroup::SetIsActive)
//         .Integer("UpdateRate", &TXeloGroup::GetUpdateRate, &TXeloGroup::SetUpdateRate)
//         .Float("DeadBand", &TXeloGroup::GetDeadBand, &TXeloGroup::SetDeadBand, FloatType::Single)
//         .Object("DefaultItem", &TXeloGroup::GetDefaultItem)
//         .Object("OPCItems", &TXeloGroup::GetOPCItems)
//         .Build();
//     return &meta;
//   }
//
// Each property method takes the name, a getter, optionally a setter, then
// options in any order:
//   - getter: a const member function, a callable taking `const T&`, or a
//     data member pointer (which then serves as getter and setter);
//   - setter: a member function or a callable taking `(T&, value)`; without
//     one the property is read-only (never written to a stream, setting it
//     raises EPropertyError);
//   - Default(v): the declared default of an ordinal, set or 64-bit property
//     (written to a stream only when the value differs); NoDefault() says
//     "none" explicitly, which is also what no option means;
//   - Stored(false) or Stored(&T::IsXStored): never / conditionally written;
//   - FloatType::Single / FloatType::Double for Float (default: from the
//     getter's type);
//   - the enumeration type for Enum and Set: a TTypeInfoPtr from
//     MakeEnumType(...), shared by every property of that type, or an
//     inline EnumNames{"a", "b"} list.
// Value types: Integer takes integral types of up to 32 bits (signed or
// unsigned; the bounds are those of the type), Int64 64-bit signed ones,
// Char `char`/`unsigned char` (0..255), WideChar `OLECHAR`, Boolean `bool`,
// Enum an enumeration whose values are 0..n-1 (or those of the type info),
// Set a TEnumSet<E> or an unsigned bit mask (bit i = element of ordinal i),
// Float `float`/`double`, String `std::string` (UTF-8), Variant
// `xelo::Variant`, Object a pointer or reference to a TPersistent subclass
// (a nested object, a collection, or, with a setter, a component reference),
// Event any copyable callable type such as a std::function (never streamed).
//
// Errors: the property functions raise EPropertyError for an unknown
// property, a property of another kind, a read-only property, a value out of
// the property's bounds, an unknown enumeration name or set element.
// Mistakes in a builder (a default outside the enumeration, two properties
// of one name in one class) raise std::invalid_argument from StaticClass().
#pragma once

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Persistent.h"

#include <any>
#include <concepts>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace xelo {

class TComponent;
class TCollection;
class TCollectionItem;
class Variant;

enum TTypeKind {
  tkInteger,      // an integral value of up to 32 bits
  tkChar,         // an 8-bit character, 0..255
  tkWChar,        // a UTF-16 code unit, 0..65535
  tkEnumeration,  // named values; Boolean is the enumeration False, True
  tkSet,          // a set of the elements of an enumeration
  tkFloat,        // single or double precision
  tkString,       // UTF-8 text
  tkVariant,      // xelo::Variant
  tkInt64,        // a 64-bit signed integer
  tkClass,        // a TPersistent object: nested object, collection or component reference
  tkMethod,       // an event handler
};

enum class FloatType { Single, Double };

// A set of the values of an enumeration whose ordinals lie in 0..63, held as
// a bit mask (bit i = the value of ordinal i).
template <class E>
  requires std::is_enum_v<E>
class TEnumSet {
 public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> elements) {
    for (E e : elements) Include(e);
  }
  static constexpr TEnumSet FromBits(std::uint64_t bits) {
    TEnumSet s;
    s.bits_ = bits;
    return s;
  }
  constexpr std::uint64_t Bits() const { return bits_; }
  constexpr bool Contains(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TEnumSet& Include(E e) {
    bits_ |= Bit(e);
    return *this;
  }
  constexpr TEnumSet& Exclude(E e) {
    bits_ &= ~Bit(e);
    return *this;
  }
  friend constexpr TEnumSet operator|(TEnumSet a, TEnumSet b) { return FromBits(a.bits_ | b.bits_); }
  friend constexpr TEnumSet operator&(TEnumSet a, TEnumSet b) { return FromBits(a.bits_ & b.bits_); }
  friend constexpr TEnumSet operator-(TEnumSet a, TEnumSet b) { return FromBits(a.bits_ & ~b.bits_); }
  friend constexpr bool operator==(TEnumSet a, TEnumSet b) = default;

 private:
  static constexpr std::uint64_t Bit(E e) { return std::uint64_t{1} << static_cast<unsigned>(e); }
  std::uint64_t bits_ = 0;
};

// The type of a property: its kind and what the kind needs.
struct TTypeInfo {
  TTypeKind Kind = tkInteger;
  std::string Name;  // "Integer", "Boolean", "OPCADatatype", ...; empty for tkClass
  // Ordinal kinds and tkInt64: the bounds (for sets, of the bit mask).
  std::int64_t MinValue = 0;
  std::int64_t MaxValue = 0;
  // tkEnumeration: the named values, ordered by value.
  std::vector<std::pair<std::int64_t, std::string>> EnumValues;
  // tkSet: the element enumeration.
  std::shared_ptr<const TTypeInfo> ElementType;
  // tkFloat.
  FloatType Float = FloatType::Double;
  // tkClass: the declared class of the object. Reached through a function,
  // so that classes may refer to each other (and to themselves) while their
  // metaclasses are being built.
  TClass (*ClassRef)() = nullptr;
  TClass ClassType() const { return ClassRef != nullptr ? ClassRef() : nullptr; }
};
using TTypeInfoPtr = std::shared_ptr<const TTypeInfo>;

// An enumeration type with the values 0..names.size()-1.
TTypeInfoPtr MakeEnumType(std::string typeName, std::vector<std::string> names);
// An enumeration type with explicit values (distinct values and names).
TTypeInfoPtr MakeEnumType(std::string typeName, std::vector<std::pair<std::int64_t, std::string>> values);
// Boolean: the enumeration False (0), True (1).
const TTypeInfoPtr& BooleanType();

// The name of an enumeration value, or an empty text for a value it lacks.
std::string GetEnumName(const TTypeInfo& type, std::int64_t value);
// The value of a name (case-insensitive), or nothing.
std::optional<std::int64_t> GetEnumValue(const TTypeInfo& type, std::string_view name);

// An inline list of enumeration names for TClassBuilder::Enum and ::Set.
struct EnumNames {
  EnumNames(std::initializer_list<std::string_view> names) : Names(names.begin(), names.end()) {}
  std::vector<std::string> Names;
};

// Builder options (see the file comment).
template <class V>
struct Default {
  Default(V value) : Value(value) {}  // NOLINT: implicit on purpose, Default(1000)
  V Value;
};
struct NoDefault {};
template <class P>
struct Stored {
  Stored(P predicate) : Predicate(predicate) {}  // NOLINT
  P Predicate;
};

// One published property.
class TPropInfo {
 public:
  const std::string& Name() const { return name_; }
  TTypeKind Kind() const { return type_->Kind; }
  const TTypeInfo& PropType() const { return *type_; }
  // The class that declared the property.
  TClass DeclaringClass() const { return declaringClass_; }
  // Position in the declaring class's full property list (0 = first).
  int Index() const { return index_; }
  bool IsReadOnly() const;
  bool HasDefault() const { return hasDefault_; }
  std::int64_t DefaultValue() const { return default_; }
  // Whether the stream writes the property for `instance` at all (the
  // `stored` option; the default rules come on top).
  bool IsStored(const TPersistent& instance) const;

  // Type-erased access, filled by TClassBuilder. The instance has already
  // been checked to be of the declaring class. Prefer the Get*/Set*Prop
  // functions, which check kind, bounds and instance.
  struct Accessors {
    std::function<std::int64_t(const TPersistent&)> getOrd;  // ordinal kinds, sets, tkInt64
    std::function<void(TPersistent&, std::int64_t)> setOrd;
    std::function<double(const TPersistent&)> getFloat;
    std::function<void(TPersistent&, double)> setFloat;
    std::function<std::string(const TPersistent&)> getStr;
    // tkString whose getter hands out a reference to the text the object
    // keeps: that text, read without a copy; empty otherwise.
    std::function<const std::string&(const TPersistent&)> getStrRef;
    std::function<void(TPersistent&, const std::string&)> setStr;
    std::function<TPersistent*(const TPersistent&)> getObj;
    std::function<void(TPersistent&, TPersistent*)> setObj;
    std::function<std::any(const TPersistent&)> getMethod;
    std::function<void(TPersistent&, const std::any&)> setMethod;
    std::function<bool(const TPersistent&)> methodAssigned;
    // tkVariant: the value travels as a std::any holding an xelo::Variant,
    // so that this header does not depend on the variant's.
    std::function<std::any(const TPersistent&)> getVariant;
    std::function<void(TPersistent&, const std::any&)> setVariant;
  };
  const Accessors& Access() const { return access_; }

 private:
  template <class T>
  friend class TClassBuilder;
  friend class TMetaClass;

  std::string name_;
  TTypeInfoPtr type_;
  TClass declaringClass_ = nullptr;
  int index_ = 0;
  bool hasDefault_ = false;
  std::int64_t default_ = 0;
  bool storedConst_ = true;
  std::function<bool(const TPersistent&)> storedPredicate_;
  Accessors access_;
};

namespace detail {
struct ClassData {
  std::string name;
  TClass parent = nullptr;
  std::vector<std::unique_ptr<TPropInfo>> ownProperties;
  TComponent* (*createComponent)(TComponent* owner) = nullptr;
  TCollectionItem* (*createItem)(TCollection* collection) = nullptr;
};
}  // namespace detail

// The metaclass of one class. Metaclasses live for the whole program (as
// function-local statics of StaticClass()); they are never copied.
class TMetaClass {
 public:
  explicit TMetaClass(detail::ClassData&& data);
  TMetaClass(const TMetaClass&) = delete;
  TMetaClass& operator=(const TMetaClass&) = delete;

  const std::string& ClassName() const { return name_; }
  TClass ClassParent() const { return parent_; }
  // True when this class is `cls` or derives from it (false for null).
  bool InheritsFrom(TClass cls) const;

  // All published properties, the parent's first, in declaration order. A
  // property that a class redeclares (same name) keeps its parent's place.
  std::span<const TPropInfo* const> Properties() const { return properties_; }
  // Case-insensitive; null when there is none.
  const TPropInfo* FindProperty(std::string_view name) const;

  // Creation by class reference. A component class whose constructor takes
  // its owner (`explicit TFoo(TComponent* owner)`) can be created; so can a
  // collection item class whose constructor takes its collection.
  bool CanCreateComponent() const { return createComponent_ != nullptr; }
  bool CanCreateItem() const { return createItem_ != nullptr; }
  // A new component owned by `owner`. EInvalidOperation when the class
  // cannot be created.
  TComponent* CreateComponent(TComponent& owner) const;
  // A new component without an owner; the caller owns it.
  std::unique_ptr<TComponent> CreateComponent() const;
  // A new item, owned by `collection`.
  TCollectionItem* CreateItem(TCollection& collection) const;

 private:
  std::string name_;
  TClass parent_;
  std::vector<std::unique_ptr<TPropInfo>> ownProperties_;
  std::vector<const TPropInfo*> properties_;
  TComponent* (*createComponent_)(TComponent*);
  TCollectionItem* (*createItem_)(TCollection*);
};

// The class registry, for creating classes by name while reading a stream.
// Registering the same class again does nothing; another class under a name
// already taken (case-insensitive) raises EInvalidOperation. Thread-safe.
void RegisterClass(TClass cls);
void RegisterClasses(std::initializer_list<TClass> classes);
void UnRegisterClass(TClass cls);
// Null when no class of that name is registered.
TClass GetClass(std::string_view className);
// EClassNotFound "Class TFoo not found" when none is registered.
TClass FindClass(std::string_view className);

// --- Property lookup -------------------------------------------------------

const TPropInfo* GetPropInfo(TClass cls, std::string_view name);
const TPropInfo* GetPropInfo(const TPersistent& instance, std::string_view name);
std::span<const TPropInfo* const> GetPropList(TClass cls);
std::span<const TPropInfo* const> GetPropList(const TPersistent& instance);
bool IsPublishedProp(const TPersistent& instance, std::string_view name);
// EPropertyError "Property X does not exist" for an unknown name.
TTypeKind PropType(const TPersistent& instance, std::string_view name);
bool IsStoredProp(const TPersistent& instance, const TPropInfo& prop);

// --- Typed access ----------------------------------------------------------
// Each function exists by property and by name. The `const TPropInfo&` forms
// check that the instance is of the property's declaring class.

// Ordinal kinds (integer, char, wide char, enumeration, set as bit mask) and
// 64-bit integers.
std::int64_t GetOrdProp(const TPersistent& instance, const TPropInfo& prop);
std::int64_t GetOrdProp(const TPersistent& instance, std::string_view name);
void SetOrdProp(TPersistent& instance, const TPropInfo& prop, std::int64_t value);
void SetOrdProp(TPersistent& instance, std::string_view name, std::int64_t value);

// Enumerations (Boolean included), by value name.
std::string GetEnumProp(const TPersistent& instance, const TPropInfo& prop);
std::string GetEnumProp(const TPersistent& instance, std::string_view name);
void SetEnumProp(TPersistent& instance, const TPropInfo& prop, std::string_view value);
void SetEnumProp(TPersistent& instance, std::string_view name, std::string_view value);

// Sets as element names: "a,b" (or "[a,b]" with brackets). Setting accepts
// "[a, b]", "a,b", "" and "[]".
std::string GetSetProp(const TPersistent& instance, const TPropInfo& prop, bool brackets = false);
std::string GetSetProp(const TPersistent& instance, std::string_view name, bool brackets = false);
void SetSetProp(TPersistent& instance, const TPropInfo& prop, std::string_view value);
void SetSetProp(TPersistent& instance, std::string_view name, std::string_view value);

// Floats. Setting a single-precision property with a finite value beyond its
// range raises.
double GetFloatProp(const TPersistent& instance, const TPropInfo& prop);
double GetFloatProp(const TPersistent& instance, std::string_view name);
void SetFloatProp(TPersistent& instance, const TPropInfo& prop, double value);
void SetFloatProp(TPersistent& instance, std::string_view name, double value);

std::string GetStrProp(const TPersistent& instance, const TPropInfo& prop);
std::string GetStrProp(const TPersistent& instance, std::string_view name);
void SetStrProp(TPersistent& instance, const TPropInfo& prop, const std::string& value);
void SetStrProp(TPersistent& instance, std::string_view name, const std::string& value);

std::int64_t GetInt64Prop(const TPersistent& instance, const TPropInfo& prop);
std::int64_t GetInt64Prop(const TPersistent& instance, std::string_view name);
void SetInt64Prop(TPersistent& instance, const TPropInfo& prop, std::int64_t value);
void SetInt64Prop(TPersistent& instance, std::string_view name, std::int64_t value);

// Object properties. Setting one needs a setter and an object of the
// property's class (or null).
TPersistent* GetObjectProp(const TPersistent& instance, const TPropInfo& prop);
TPersistent* GetObjectProp(const TPersistent& instance, std::string_view name);
void SetObjectProp(TPersistent& instance, const TPropInfo& prop, TPersistent* value);
void SetObjectProp(TPersistent& instance, std::string_view name, TPersistent* value);

// Events: the handler travels in a std::any holding the handler's exact type
// (a std::any of another type raises EPropertyError).
std::any GetMethodProp(const TPersistent& instance, const TPropInfo& prop);
std::any GetMethodProp(const TPersistent& instance, std::string_view name);
void SetMethodProp(TPersistent& instance, const TPropInfo& prop, const std::any& handler);
void SetMethodProp(TPersistent& instance, std::string_view name, const std::any& handler);
bool IsMethodAssigned(const TPersistent& instance, const TPropInfo& prop);

// Variants: declared in Variant.h's companion functions (GetVariantProp,
// SetVariantProp) so that this header does not need the variant type.

namespace detail {

[[noreturn]] void ThrowPropertyError(const std::string& message);

// SetOrdProp and SetStrProp for a caller that took `prop` from the
// instance's own class (the component reader, which sets every property of
// every item of a configuration): the same checks and errors, less the one
// that the property belongs to the instance.
void SetOrdPropFound(TPersistent& instance, const TPropInfo& prop, std::int64_t value);
void SetStrPropFound(TPersistent& instance, const TPropInfo& prop, const std::string& value);

// The smallest magnitude that rounds to infinity as a float: the largest
// float plus half its last place.
inline constexpr double kSingleOverflow = 0x1.ffffffp127;

template <class V>
inline constexpr bool IsEnumSet = false;
template <class E>
inline constexpr bool IsEnumSet<TEnumSet<E>> = true;

template <class V>
std::int64_t ToOrd(const V& v) {
  if constexpr (std::is_same_v<V, bool>) {
    return v ? 1 : 0;
  } else if constexpr (std::is_enum_v<V>) {
    return static_cast<std::int64_t>(static_cast<std::underlying_type_t<V>>(v));
  } else if constexpr (IsEnumSet<V>) {
    return static_cast<std::int64_t>(v.Bits());
  } else if constexpr (std::is_same_v<V, char> || std::is_same_v<V, signed char>) {
    return static_cast<unsigned char>(v);
  } else {
    static_assert(std::is_integral_v<V>, "not an ordinal value type");
    return static_cast<std::int64_t>(v);
  }
}

template <class V>
V FromOrd(std::int64_t v) {
  if constexpr (std::is_same_v<V, bool>) {
    return v != 0;
  } else if constexpr (std::is_enum_v<V>) {
    return static_cast<V>(static_cast<std::underlying_type_t<V>>(v));
  } else if constexpr (IsEnumSet<V>) {
    return V::FromBits(static_cast<std::uint64_t>(v));
  } else if constexpr (std::is_same_v<V, char> || std::is_same_v<V, signed char>) {
    return static_cast<V>(static_cast<unsigned char>(v));
  } else {
    return static_cast<V>(v);
  }
}

template <class T, class A>
decltype(auto) ReadVia(const A& accessor, const T& object) {
  return std::invoke(accessor, object);
}

template <class T, class V, class A>
void WriteVia(const A& accessor, T& object, V&& value) {
  if constexpr (std::is_member_object_pointer_v<A>) {
    object.*accessor = std::forward<V>(value);
  } else {
    std::invoke(accessor, object, std::forward<V>(value));
  }
}

template <class S, class T, class V>
concept SetterFor = !std::is_member_object_pointer_v<S> && std::invocable<const S&, T&, V>;

template <class O>
inline constexpr bool IsDefaultOption = false;
template <class V>
inline constexpr bool IsDefaultOption<Default<V>> = true;

template <class O>
inline constexpr bool IsTypeOption = std::is_same_v<O, TTypeInfoPtr> || std::is_same_v<O, EnumNames>;

template <class Getter, class T>
using GetterValue = std::remove_cvref_t<std::invoke_result_t<const Getter&, const T&>>;

TTypeInfoPtr MakeOrdinalType(TTypeKind kind, std::string name, std::int64_t min, std::int64_t max);
TTypeInfoPtr MakeSetType(const TTypeInfoPtr& element);
TTypeInfoPtr MakeFloatType(FloatType type);
TTypeInfoPtr MakeSimpleType(TTypeKind kind, std::string name);
TTypeInfoPtr MakeClassType(TClass (*classRef)());
// Checks what a finished property must satisfy (enumeration type present,
// default within bounds); raises std::invalid_argument.
void ValidateProperty(const TPropInfo& prop, const std::string& className);

template <class T>
TComponent* NewComponent(TComponent* owner) {
  return new T(owner);  // owned by `owner` (component model) or handed to a unique_ptr
}
template <class T>
TCollectionItem* NewItem(TCollection* collection) {
  return new T(collection);  // owned by `collection` (collection model)
}

}  // namespace detail

// Builds the metaclass of T (see the file comment). T must carry
// XELO_CLASS(T, Parent); the parent's metaclass is built first.
template <class T>
class TClassBuilder {
  static_assert(std::is_base_of_v<TPersistent, T>, "published classes derive from TPersistent");
  static_assert(std::is_same_v<typename T::ThisClass, T>, "the class lacks XELO_CLASS(ThisClass, Parent)");

 public:
  explicit TClassBuilder(std::string className) {
    data_.name = std::move(className);
    if constexpr (!std::is_same_v<T, TPersistent>) {
      static_assert(std::is_base_of_v<typename T::Inherited, T>, "XELO_CLASS names a parent that is not a base");
      data_.parent = T::Inherited::StaticClass();
    }
    if constexpr (!std::is_abstract_v<T>) {
      if constexpr (std::is_base_of_v<TComponent, T> && std::is_constructible_v<T, TComponent*>) {
        data_.createComponent = &detail::NewComponent<T>;
      } else if constexpr (std::is_base_of_v<TCollectionItem, T> && std::is_constructible_v<T, TCollection*>) {
        data_.createItem = &detail::NewItem<T>;
      }
    }
  }

  template <class G, class... Rest>
  TClassBuilder& Integer(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(std::is_integral_v<V> && !std::is_same_v<V, bool> && sizeof(V) <= 4,
                  "Integer properties hold integral values of up to 32 bits");
    return Add<tkInteger, V>(std::move(name),
                             detail::MakeOrdinalType(tkInteger, "Integer", std::numeric_limits<V>::min(),
                                                     std::numeric_limits<V>::max()),
                             getter, std::forward<Rest>(rest)...);
  }

  template <class G, class... Rest>
  TClassBuilder& Int64(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(std::is_integral_v<V> && std::is_signed_v<V>, "Int64 properties hold signed integral values");
    return Add<tkInt64, V>(std::move(name),
                           detail::MakeOrdinalType(tkInt64, "Int64", std::numeric_limits<V>::min(),
                                                   std::numeric_limits<V>::max()),
                           getter, std::forward<Rest>(rest)...);
  }

  template <class G, class... Rest>
  TClassBuilder& Char(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(sizeof(V) == 1 && std::is_integral_v<V> && !std::is_same_v<V, bool>,
                  "Char properties hold 8-bit characters");
    return Add<tkChar, V>(std::move(name), detail::MakeOrdinalType(tkChar, "Char", 0, 255), getter,
                          std::forward<Rest>(rest)...);
  }

  template <class G, class... Rest>
  TClassBuilder& WideChar(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(std::is_same_v<V, OLECHAR>, "WideChar properties hold OLECHAR");
    return Add<tkWChar, V>(std::move(name), detail::MakeOrdinalType(tkWChar, "WideChar", 0, 65535), getter,
                           std::forward<Rest>(rest)...);
  }

  template <class G, class... Rest>
  TClassBuilder& Boolean(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(std::is_same_v<V, bool>, "Boolean properties hold bool");
    return Add<tkEnumeration, V>(std::move(name), BooleanType(), getter, std::forward<Rest>(rest)...);
  }

  // Needs the enumeration type among the options (TTypeInfoPtr or EnumNames).
  template <class G, class... Rest>
  TClassBuilder& Enum(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(std::is_enum_v<V> || (std::is_integral_v<V> && sizeof(V) <= 4),
                  "Enum properties hold an enumeration");
    static_assert((detail::IsTypeOption<std::remove_cvref_t<Rest>> || ...), "Enum needs its enumeration type");
    return Add<tkEnumeration, V>(std::move(name), nullptr, getter, std::forward<Rest>(rest)...);
  }

  // Needs the element enumeration among the options.
  template <class G, class... Rest>
  TClassBuilder& Set(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(detail::IsEnumSet<V> || (std::is_integral_v<V> && std::is_unsigned_v<V> && !std::is_same_v<V, bool>),
                  "Set properties hold a TEnumSet or an unsigned bit mask");
    static_assert((detail::IsTypeOption<std::remove_cvref_t<Rest>> || ...), "Set needs its element type");
    return Add<tkSet, V>(std::move(name), nullptr, getter, std::forward<Rest>(rest)...);
  }

  template <class G, class... Rest>
  TClassBuilder& Float(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(std::is_same_v<V, float> || std::is_same_v<V, double>, "Float properties hold float or double");
    return Add<tkFloat, V>(std::move(name),
                           detail::MakeFloatType(std::is_same_v<V, float> ? FloatType::Single : FloatType::Double),
                           getter, std::forward<Rest>(rest)...);
  }

  template <class G, class... Rest>
  TClassBuilder& String(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    static_assert(std::is_convertible_v<V, std::string>, "String properties hold std::string");
    return Add<tkString, std::string>(std::move(name), detail::MakeSimpleType(tkString, "string"), getter,
                                      std::forward<Rest>(rest)...);
  }

  // Needs Variant.h included where the builder is used.
  template <class G, class... Rest>
  TClassBuilder& Variant(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    return Add<tkVariant, V>(std::move(name), detail::MakeSimpleType(tkVariant, "Variant"), getter,
                             std::forward<Rest>(rest)...);
  }

  template <class G, class... Rest>
  TClassBuilder& Object(std::string name, G getter, Rest&&... rest) {
    using R = std::invoke_result_t<const G&, const T&>;
    using U = std::remove_cvref_t<std::remove_pointer_t<std::remove_cvref_t<R>>>;
    static_assert(std::is_base_of_v<TPersistent, U>, "Object properties hold TPersistent objects");
    if constexpr (!std::is_member_object_pointer_v<G>) {
      static_assert(std::is_pointer_v<std::remove_cvref_t<R>>
                        ? !std::is_const_v<std::remove_pointer_t<std::remove_cvref_t<R>>>
                        : !std::is_const_v<std::remove_reference_t<R>>,
                    "Object getters return a non-const pointer or reference");
    }
    return Add<tkClass, U*>(std::move(name), detail::MakeClassType(&U::StaticClass), getter,
                            std::forward<Rest>(rest)...);
  }

  template <class G, class... Rest>
  TClassBuilder& Event(std::string name, G getter, Rest&&... rest) {
    using V = detail::GetterValue<G, T>;
    return Add<tkMethod, V>(std::move(name), detail::MakeSimpleType(tkMethod, "Method"), getter,
                            std::forward<Rest>(rest)...);
  }

  // The metaclass; call once, as the initialiser of StaticClass()'s static.
  TMetaClass Build() { return TMetaClass(std::move(data_)); }

 private:
  template <TTypeKind K, class V, class G, class... Rest>
  TClassBuilder& Add(std::string name, TTypeInfoPtr type, G getter, Rest&&... rest) {
    if constexpr (K == tkFloat || K == tkString || K == tkVariant || K == tkClass || K == tkMethod) {
      static_assert(!(detail::IsDefaultOption<std::remove_cvref_t<Rest>> || ...),
                    "only ordinal, set and Int64 properties have a declared default");
    }
    auto prop = std::make_unique<TPropInfo>();
    prop->name_ = std::move(name);
    prop->type_ = std::move(type);
    BindGetter<K, V>(*prop, getter);
    if constexpr (std::is_member_object_pointer_v<G>) BindSetter<K, V>(*prop, getter);
    Finish<K, V>(*prop, std::forward<Rest>(rest)...);
    detail::ValidateProperty(*prop, data_.name);
    data_.ownProperties.push_back(std::move(prop));
    return *this;
  }

  template <TTypeKind K, class V>
  void Finish(TPropInfo&) {}

  template <TTypeKind K, class V, class First, class... Opts>
  void Finish(TPropInfo& prop, First&& first, Opts&&... opts) {
    using F = std::remove_cvref_t<First>;
    if constexpr (detail::SetterFor<F, T, SetterArg<K, V>>) {
      BindSetter<K, V>(prop, first);
      (ApplyOption<K, V>(prop, std::forward<Opts>(opts)), ...);
    } else {
      ApplyOption<K, V>(prop, std::forward<First>(first));
      (ApplyOption<K, V>(prop, std::forward<Opts>(opts)), ...);
    }
  }

  // The argument a setter must accept.
  template <TTypeKind K, class V>
  using SetterArg = std::conditional_t<K == tkString, const std::string&, V>;

  template <TTypeKind K, class V, class G>
  void BindGetter(TPropInfo& prop, const G& getter) {
    auto& a = prop.access_;
    if constexpr (K == tkFloat) {
      a.getFloat = [getter](const TPersistent& o) {
        return static_cast<double>(detail::ReadVia(getter, static_cast<const T&>(o)));
      };
    } else if constexpr (K == tkString) {
      a.getStr = [getter](const TPersistent& o) {
        return std::string(detail::ReadVia(getter, static_cast<const T&>(o)));
      };
      using Read = decltype(detail::ReadVia(getter, std::declval<const T&>()));
      if constexpr (std::is_same_v<Read, const std::string&>) {
        a.getStrRef = [getter](const TPersistent& o) -> const std::string& {
          return detail::ReadVia(getter, static_cast<const T&>(o));
        };
      }
    } else if constexpr (K == tkClass) {
      a.getObj = [getter](const TPersistent& o) -> TPersistent* {
        decltype(auto) r = detail::ReadVia(getter, static_cast<const T&>(o));
        if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(r)>>) {
          return const_cast<std::remove_cvref_t<std::remove_pointer_t<std::remove_cvref_t<decltype(r)>>>*>(r);
        } else {
          // A nested object held by value: the const view comes from the
          // const instance the getter receives; the object itself is the
          // instance's own, as mutable as the instance.
          return const_cast<std::remove_cvref_t<decltype(r)>*>(&r);
        }
      };
    } else if constexpr (K == tkMethod) {
      a.getMethod = [getter](const TPersistent& o) {
        return std::any(V(detail::ReadVia(getter, static_cast<const T&>(o))));
      };
      a.methodAssigned = [getter](const TPersistent& o) {
        if constexpr (std::is_constructible_v<bool, const V&>) {
          return static_cast<bool>(detail::ReadVia(getter, static_cast<const T&>(o)));
        } else {
          return true;
        }
      };
    } else if constexpr (K == tkVariant) {
      a.getVariant = [getter](const TPersistent& o) {
        return std::any(V(detail::ReadVia(getter, static_cast<const T&>(o))));
      };
    } else {
      a.getOrd = [getter](const TPersistent& o) {
        return detail::ToOrd<V>(detail::ReadVia(getter, static_cast<const T&>(o)));
      };
    }
  }

  template <TTypeKind K, class V, class S>
  void BindSetter(TPropInfo& prop, const S& setter) {
    auto& a = prop.access_;
    if constexpr (K == tkFloat) {
      a.setFloat = [setter](TPersistent& o, double v) {
        detail::WriteVia(setter, static_cast<T&>(o), static_cast<V>(v));
      };
    } else if constexpr (K == tkString) {
      a.setStr = [setter](TPersistent& o, const std::string& v) { detail::WriteVia(setter, static_cast<T&>(o), v); };
    } else if constexpr (K == tkClass) {
      a.setObj = [setter](TPersistent& o, TPersistent* v) {
        V typed = dynamic_cast<V>(v);
        if (v != nullptr && typed == nullptr) {
          detail::ThrowPropertyError("Cannot assign a " + v->ClassName() + " to a property of class " +
                                     std::remove_pointer_t<V>::StaticClass()->ClassName());
        }
        detail::WriteVia(setter, static_cast<T&>(o), typed);
      };
    } else if constexpr (K == tkMethod) {
      a.setMethod = [setter](TPersistent& o, const std::any& v) {
        if (!v.has_value()) {
          detail::WriteVia(setter, static_cast<T&>(o), V());
          return;
        }
        const V* handler = std::any_cast<V>(&v);
        if (handler == nullptr) detail::ThrowPropertyError("The handler is not of the event's type");
        detail::WriteVia(setter, static_cast<T&>(o), *handler);
      };
    } else if constexpr (K == tkVariant) {
      a.setVariant = [setter](TPersistent& o, const std::any& v) {
        const V* value = std::any_cast<V>(&v);
        if (value == nullptr) detail::ThrowPropertyError("The value is not a Variant");
        detail::WriteVia(setter, static_cast<T&>(o), *value);
      };
    } else {
      a.setOrd = [setter](TPersistent& o, std::int64_t v) {
        detail::WriteVia(setter, static_cast<T&>(o), detail::FromOrd<V>(v));
      };
    }
  }

  template <TTypeKind K, class V, class D>
  void ApplyOption(TPropInfo& prop, const Default<D>& option) {
    prop.hasDefault_ = true;
    prop.default_ = detail::ToOrd<D>(option.Value);
  }
  template <TTypeKind K, class V>
  void ApplyOption(TPropInfo& prop, NoDefault) {
    prop.hasDefault_ = false;
  }
  template <TTypeKind K, class V, class P>
  void ApplyOption(TPropInfo& prop, const Stored<P>& option) {
    if constexpr (std::is_same_v<P, bool>) {
      prop.storedConst_ = option.Predicate;
      prop.storedPredicate_ = nullptr;
    } else {
      static_assert(std::is_invocable_r_v<bool, const P&, const T&>, "Stored needs a bool or a predicate on T");
      prop.storedPredicate_ = [p = option.Predicate](const TPersistent& o) {
        return static_cast<bool>(std::invoke(p, static_cast<const T&>(o)));
      };
    }
  }
  template <TTypeKind K, class V>
  void ApplyOption(TPropInfo& prop, FloatType type) {
    static_assert(K == tkFloat, "FloatType applies to Float properties");
    prop.type_ = detail::MakeFloatType(type);
  }
  template <TTypeKind K, class V>
  void ApplyOption(TPropInfo& prop, const TTypeInfoPtr& type) {
    static_assert(K == tkEnumeration || K == tkSet, "a type option applies to Enum and Set properties");
    prop.type_ = K == tkSet ? detail::MakeSetType(type) : type;
  }
  template <TTypeKind K, class V>
  void ApplyOption(TPropInfo& prop, const EnumNames& names) {
    ApplyOption<K, V>(prop, MakeEnumType(prop.name_, names.Names));
  }

  detail::ClassData data_;
};

}  // namespace xelo
