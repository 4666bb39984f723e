#include "xelo/qt/Properties.h"

#include <QMetaEnum>
#include <QMetaObject>

#include <limits>

namespace xelo::qt {
namespace {

template <class T>
PropertyInfo Bounded(const QMetaProperty& property, PropertyKind kind) {
  return {property, kind, static_cast<std::int64_t>(std::numeric_limits<T>::min()),
          static_cast<std::int64_t>(std::numeric_limits<T>::max())};
}

bool SameIgnoringCase(std::string_view a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

PropertyInfo DescribeProperty(const QMetaProperty& property) {
  if (property.isEnumType()) {
    const QMetaEnum values = property.enumerator();
    if (values.isFlag()) return {property, PropertyKind::Set, 0, 0};
    std::int64_t low = 0;
    std::int64_t high = -1;
    for (int i = 0; i < values.keyCount(); ++i) {
      const std::int64_t value = values.value(i);
      if (i == 0 || value < low) low = value;
      if (i == 0 || value > high) high = value;
    }
    return {property, PropertyKind::Enumeration, low, high};
  }
  switch (property.metaType().id()) {
    case QMetaType::Bool: return {property, PropertyKind::Enumeration, 0, 1};
    case QMetaType::Int: return Bounded<int>(property, PropertyKind::Integer);
    case QMetaType::UInt: return Bounded<unsigned>(property, PropertyKind::Integer);
    case QMetaType::Short: return Bounded<short>(property, PropertyKind::Integer);
    case QMetaType::UShort: return Bounded<unsigned short>(property, PropertyKind::Integer);
    case QMetaType::Char:
    case QMetaType::SChar: return Bounded<signed char>(property, PropertyKind::Integer);
    case QMetaType::UChar: return Bounded<unsigned char>(property, PropertyKind::Integer);
    case QMetaType::QChar: return Bounded<char16_t>(property, PropertyKind::Character);
    case QMetaType::LongLong:
    case QMetaType::Long: return Bounded<qint64>(property, PropertyKind::Int64);
    case QMetaType::ULongLong:
    case QMetaType::ULong: return {property, PropertyKind::Int64, 0, std::numeric_limits<qint64>::max()};
    case QMetaType::Float:
    case QMetaType::Double: return {property, PropertyKind::Float, 0, 0};
    case QMetaType::QString: return {property, PropertyKind::String, 0, 0};
    case QMetaType::QVariant: return {property, PropertyKind::Variant, 0, 0};
    default: return {property, PropertyKind::None, 0, 0};
  }
}

std::optional<PropertyInfo> FindProperty(const QObject& object, std::string_view name) {
  const QMetaObject* meta = object.metaObject();
  for (int i = 0; i < meta->propertyCount(); ++i) {
    const QMetaProperty property = meta->property(i);
    if (SameIgnoringCase(name, property.name()) && property.isWritable()) return DescribeProperty(property);
  }
  return std::nullopt;
}

}  // namespace xelo::qt
