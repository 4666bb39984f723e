// The property metadata of Qt widgets, seen the way the library's binding
// sets properties: each readable, writable property of a QObject has one of
// the kinds below, decided by its C++ type.
#pragma once

#include <QMetaProperty>
#include <QObject>

#include <cstdint>
#include <optional>
#include <string_view>

namespace xelo::qt {

enum class PropertyKind {
  Integer,      // int, short, signed and unsigned char, unsigned short and int: the type's bounds
  Character,    // QChar: 0..65535
  Enumeration,  // bool (False, True) and Q_ENUM types: set by name or by ordinal
  Set,          // Q_FLAG types: set by element names or by bit mask
  Float,        // float, double
  String,       // QString
  Variant,      // QVariant: the value as it is
  Int64,        // qint64, quint64 (long long, long): 64-bit bounds
  None,         // anything else (objects, lists, colours, fonts, ...): never set
};

struct PropertyInfo {
  QMetaProperty property;
  PropertyKind kind = PropertyKind::None;
  std::int64_t low = 0;   // the bounds of Integer, Character, Enumeration
  std::int64_t high = 0;  // and Int64 kinds
};

// The property `name` of `object`, compared without regard to case (as the
// binding's property names are); none when the object has no such property
// or it cannot be written.
std::optional<PropertyInfo> FindProperty(const QObject& object, std::string_view name);

// The kind and bounds of a property.
PropertyInfo DescribeProperty(const QMetaProperty& property);

}  // namespace xelo::qt
