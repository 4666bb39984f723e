// Values between the framework's Variant (what OPC servers deliver) and
// Qt's QVariant (what widget properties take).
#pragma once

#include "xelo/framework/Variant.h"

#include <QVariant>

namespace xelo::qt {

// Variant to QVariant:
//   empty             → an invalid QVariant
//   Null              → a QVariant holding std::nullptr_t
//   I1, I2, I4, INT   → int          UI1, UI2, UI4, UINT → uint
//   I8                → qlonglong    UI8                 → qulonglong
//   R4                → float        R8, CY, DECIMAL     → double
//   BOOL              → bool         ERROR               → int (the code)
//   BSTR, text        → QString
//   DATE              → QDateTime, the date's wall-clock time as local time
//   an array          → a QVariantList of its first dimension from its low
//                       bound on, a list of lists for two dimensions, ...
// Interfaces and other types raise EConvertError.
QVariant ToQVariant(const Variant& value);

// QVariant to Variant:
//   invalid           → empty        std::nullptr_t → Null
//   bool              → BOOL
//   int and narrower signed types, QChar (its code) → I4
//   uint and narrower unsigned types               → UI4
//   qlonglong, long   → I8           qulonglong, unsigned long → UI8
//   float             → R4           double                    → R8
//   QString, QByteArray (UTF-8)      → text
//   QDateTime (as local time), QDate (its midnight) → DATE
//   QVariantList, QStringList        → a VT_VARIANT array from 0
// Anything else that Qt converts to text becomes that text; the rest, and a
// date outside DATE's range, raise EConvertError.
Variant FromQVariant(const QVariant& value);

}  // namespace xelo::qt
