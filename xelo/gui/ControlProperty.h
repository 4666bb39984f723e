// The generic setting of a control's property from a value, by the kind of
// the property, used when no setter procedure applies; and its clamping of
// numbers. The binding component's own: not installed.
#pragma once

#include "xelo/framework/Variant.h"
#include "xelo/qt/Properties.h"

#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>

namespace xelo {

// The value as a number (a text is parsed as one), truncated toward zero to
// 64 bits, then raised to `Low` or lowered to `High`; integers keep all
// their digits. EConvertError for a value that is no number (NaN included).
std::int64_t ClampOrdinal(const Variant& Value, std::int64_t Low, std::int64_t High);

// Sets the property `PropInfo` of `Control` from `Value`; nothing happens
// without metadata. By the property's kind:
//   Integer, Character, Int64: ClampOrdinal between the type's bounds
//   Enumeration (bool too): a framework string (varString) sets by name,
//     any other value by ordinal, clamped between the lowest and highest
//   Set: a VT_I4 value is the bit mask; any other value's text names the
//     elements ("[AlignLeft,AlignTop]", "AlignLeft|AlignTop")
//   Float: the value as a number; String: its text; Variant: unchanged
//   None: nothing
// `PropName` is passed along, not used. A failed conversion, an unknown
// name and a property that does not take the value raise.
void SetControlProperty(QWidget* Control, const std::optional<qt::PropertyInfo>& PropInfo,
                        const std::string& PropName, const Variant& Value);

// The setter procedures of the standard registrations.
// Appends the value's text as a line; an array, each element from index 0
// to the first dimension's upper bound; an empty value, nothing.
void SetMemoLines(QWidget* Control, const Variant& Value);
// Appends the value's text as an entry, an empty value too (an empty entry).
void SetListBoxItems(QWidget* Control, const Variant& Value);
// Ticked exactly when the value is unequal to 0 (Variant comparison).
void SetCheckBoxChecked(QWidget* Control, const Variant& Value);
// As SetCheckBoxChecked; an auto-exclusive radio button is unticked too.
void SetRadioButtonChecked(QWidget* Control, const Variant& Value);

}  // namespace xelo
