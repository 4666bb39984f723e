#include "xelo/gui/ControlProperty.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/qt/Values.h"

#include <QAbstractButton>
#include <QListWidget>
#include <QMetaEnum>
#include <QPlainTextEdit>
#include <QRadioButton>

#include <cmath>
#include <limits>
#include <string_view>

namespace xelo {
namespace {

std::string PropertyText(const QWidget* control, const qt::PropertyInfo& info) {
  return std::string(control->metaObject()->className()) + "." + info.property.name();
}

void Write(QWidget* control, const qt::PropertyInfo& info, const QVariant& value) {
  if (!info.property.write(control, value)) {
    throw EPropertyError("The property " + PropertyText(control, info) + " does not take the value '" +
                         value.toString().toStdString() + "'");
  }
}

// An ordinal of the property's C++ type, which QMetaProperty::write takes
// without a conversion of its own.
QVariant Ordinal(const qt::PropertyInfo& info, std::int64_t value) {
  switch (info.property.metaType().id()) {
    case QMetaType::UInt: return QVariant(static_cast<uint>(value));
    case QMetaType::QChar: return QVariant(QChar(static_cast<char16_t>(value)));
    case QMetaType::LongLong:
    case QMetaType::Long: return QVariant(static_cast<qlonglong>(value));
    case QMetaType::ULongLong:
    case QMetaType::ULong: return QVariant(static_cast<qulonglong>(value));
    case QMetaType::Bool: return QVariant(value != 0);
    default: return QVariant(static_cast<int>(value));
  }
}

bool SameIgnoringCase(std::string_view a, std::string_view b) { return LowerCase(a) == LowerCase(b); }

// An enumeration's value by name, compared without regard to case.
std::int64_t EnumValue(const QWidget* control, const qt::PropertyInfo& info, const std::string& name) {
  if (!info.property.isEnumType()) {  // bool
    if (SameIgnoringCase(name, "false")) return 0;
    if (SameIgnoringCase(name, "true")) return 1;
  } else {
    const QMetaEnum values = info.property.enumerator();
    for (int i = 0; i < values.keyCount(); ++i) {
      if (SameIgnoringCase(name, values.key(i))) return values.value(i);
    }
  }
  throw EPropertyError("Invalid enumeration value '" + name + "' for property " + PropertyText(control, info));
}

// A set's bit mask from its element names: "[a,b]", "a,b" or "a|b".
int SetValue(const QWidget* control, const qt::PropertyInfo& info, std::string text) {
  text = Trim(text);
  if (!text.empty() && text.front() == '[') {
    if (text.back() != ']') throw EPropertyError("Invalid set value '" + text + "'");
    text = Trim(text.substr(1, text.size() - 2));
  }
  const QMetaEnum values = info.property.enumerator();
  int bits = 0;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const std::size_t end = text.find_first_of(",|", start);
    const std::string element = Trim(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    bool found = false;
    for (int i = 0; i < values.keyCount() && !found; ++i) {
      if (SameIgnoringCase(element, values.key(i))) {
        bits |= values.value(i);
        found = true;
      }
    }
    if (!found) {
      throw EPropertyError("Invalid set element '" + element + "' for property " + PropertyText(control, info));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return bits;
}

std::int64_t Clamp(std::int64_t ordinal, std::int64_t low, std::int64_t high) {
  return ordinal < low ? low : ordinal > high ? high : ordinal;
}

}  // namespace

std::int64_t ClampOrdinal(const Variant& Value, std::int64_t Low, std::int64_t High) {
  // Integers keep every digit: through a double, 64-bit values beyond 2^53
  // would change.
  const VARIANT& v = Value.AsVARIANT();
  switch (Value.VarType()) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_INT: case VT_UINT:
    case VT_I8:
      return Clamp(Value.ToInt64(), Low, High);
    case VT_UI8:
      return v.ullVal > static_cast<ULONGLONG>(std::numeric_limits<std::int64_t>::max())
                 ? High
                 : Clamp(static_cast<std::int64_t>(v.ullVal), Low, High);
    default:
      break;
  }
  const double number = std::trunc(Value.ToDouble());
  if (std::isnan(number)) throw EConvertError("NaN is no ordinal value");
  // Doubles from 2^63 on do not fit 64 bits; they are beyond every bound.
  constexpr double kLimit = 9223372036854775808.0;
  std::int64_t ordinal;
  if (number >= kLimit) {
    ordinal = std::numeric_limits<std::int64_t>::max();
  } else if (number < -kLimit) {
    ordinal = std::numeric_limits<std::int64_t>::min();
  } else {
    ordinal = static_cast<std::int64_t>(number);
  }
  return Clamp(ordinal, Low, High);
}

void SetControlProperty(QWidget* Control, const std::optional<qt::PropertyInfo>& PropInfo,
                        const std::string& /*PropName*/, const Variant& Value) {
  if (Control == nullptr || !PropInfo) return;
  const qt::PropertyInfo& info = *PropInfo;
  switch (info.kind) {
    case qt::PropertyKind::Integer:
    case qt::PropertyKind::Character:
    case qt::PropertyKind::Int64:
      Write(Control, info, Ordinal(info, ClampOrdinal(Value, info.low, info.high)));
      break;
    case qt::PropertyKind::Enumeration: {
      const std::int64_t ordinal = Value.VarType() == varString ? EnumValue(Control, info, VarToStr(Value))
                                                                 : ClampOrdinal(Value, info.low, info.high);
      Write(Control, info, Ordinal(info, ordinal));
      break;
    }
    case qt::PropertyKind::Set: {
      const int bits = Value.VarType() == VT_I4 ? static_cast<int>(Value.AsVARIANT().lVal)
                                                : SetValue(Control, info, VarToStr(Value));
      Write(Control, info, QVariant(bits));
      break;
    }
    case qt::PropertyKind::Float:
      Write(Control, info, QVariant(Value.ToDouble()));
      break;
    case qt::PropertyKind::String:
      Write(Control, info, QVariant(QString::fromStdString(VarToStr(Value))));
      break;
    case qt::PropertyKind::Variant:
      Write(Control, info, qt::ToQVariant(Value));
      break;
    case qt::PropertyKind::None:
      break;
  }
}

void SetMemoLines(QWidget* Control, const Variant& Value) {
  auto* memo = qobject_cast<QPlainTextEdit*>(Control);
  if (memo == nullptr || Value.IsEmpty()) return;
  if ((Value.VarType() & VT_ARRAY) != 0) {
    const LONG high = VarArrayHighBound(Value, 1);
    for (std::int64_t i = 0; i <= high; ++i) {
      memo->appendPlainText(QString::fromStdString(VarToStr(Value.GetElement(static_cast<LONG>(i)))));
    }
    return;
  }
  memo->appendPlainText(QString::fromStdString(VarToStr(Value)));
}

void SetListBoxItems(QWidget* Control, const Variant& Value) {
  if (auto* list = qobject_cast<QListWidget*>(Control)) list->addItem(QString::fromStdString(VarToStr(Value)));
}

void SetCheckBoxChecked(QWidget* Control, const Variant& Value) {
  if (auto* button = qobject_cast<QAbstractButton*>(Control)) button->setChecked(!(Value == 0));
}

void SetRadioButtonChecked(QWidget* Control, const Variant& Value) {
  auto* radio = qobject_cast<QAbstractButton*>(Control);
  if (radio == nullptr) return;
  const bool checked = !(Value == 0);
  // Qt keeps the checked button of an exclusive group checked; the value
  // says otherwise, so exclusivity steps aside for the change.
  if (!checked && radio->autoExclusive() && radio->isChecked()) {
    radio->setAutoExclusive(false);
    radio->setChecked(false);
    radio->setAutoExclusive(true);
    return;
  }
  radio->setChecked(checked);
}

}  // namespace xelo
