#include "xelo/qt/Values.h"

#include "xelo/com/OleDate.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/SysUtils.h"

#include <QDateTime>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

namespace xelo::qt {
namespace {

QString ToQString(const std::string& utf8) { return QString::fromStdString(utf8); }

QDateTime ToQDateTime(DATE date) {
  com::DateParts parts;
  if (!com::PartsFromDate(date, parts)) throw EConvertError("The date " + std::to_string(date) + " is out of range");
  return QDateTime(QDate(parts.year, parts.month, parts.day),
                   QTime(parts.hour, parts.minute, parts.second, parts.millisecond));
}

DATE ToDate(const QDateTime& value) {
  const QDateTime local = value.toLocalTime();
  const com::DateParts parts{local.date().year(), local.date().month(),  local.date().day(),
                             local.time().hour(), local.time().minute(), local.time().second(),
                             local.time().msec()};
  DATE date = 0;
  if (!value.isValid() || !com::DateFromParts(parts, date)) {
    throw EConvertError("The date " + value.toString(Qt::ISODate).toStdString() + " is out of range");
  }
  return date;
}

// The elements of dimensions `dim` and after, the earlier ones fixed in
// `indices`.
QVariant ArrayToQVariant(const Variant& array, int dim, std::vector<LONG>& indices) {
  QVariantList list;
  const LONG low = VarArrayLowBound(array, dim);
  const LONG high = VarArrayHighBound(array, dim);
  for (std::int64_t i = low; i <= high; ++i) {
    indices[static_cast<std::size_t>(dim - 1)] = static_cast<LONG>(i);
    if (dim == VarArrayDimCount(array)) {
      list.push_back(ToQVariant(array.GetElement(std::span<const LONG>(indices))));
    } else {
      list.push_back(ArrayToQVariant(array, dim + 1, indices));
    }
  }
  return list;
}

}  // namespace

QVariant ToQVariant(const Variant& value) {
  const VARTYPE type = value.VarType();
  if ((type & VT_ARRAY) != 0) {
    std::vector<LONG> indices(static_cast<std::size_t>(VarArrayDimCount(value)));
    if (indices.empty()) return QVariantList();
    return ArrayToQVariant(value, 1, indices);
  }
  const VARIANT& v = value.AsVARIANT();
  switch (type) {
    case VT_EMPTY: return QVariant();
    case VT_NULL: return QVariant::fromValue(nullptr);
    case VT_I1: return int{v.cVal};
    case VT_I2: return int{v.iVal};
    case VT_I4: return int{v.lVal};
    case VT_INT: return int{v.intVal};
    case VT_UI1: return uint{v.bVal};
    case VT_UI2: return uint{v.uiVal};
    case VT_UI4: return uint{v.ulVal};
    case VT_UINT: return uint{v.uintVal};
    case VT_I8: return qlonglong{v.llVal};
    case VT_UI8: return qulonglong{v.ullVal};
    case VT_R4: return v.fltVal;
    case VT_R8: return v.dblVal;
    case VT_CY:
    case VT_DECIMAL: return value.ToDouble();
    case VT_BOOL: return v.boolVal != VARIANT_FALSE;
    case VT_ERROR: return int{v.scode};
    case VT_DATE: return ToQDateTime(v.date);
    case VT_BSTR:
    case varString: return ToQString(VarToStr(value));
    default: throw EConvertError("A value of variant type 0x" + IntToHex(type, 4) + " has no Qt counterpart");
  }
}

Variant FromQVariant(const QVariant& value) {
  if (!value.isValid()) return Variant();
  switch (value.metaType().id()) {
    case QMetaType::Nullptr: return Variant::Null();
    case QMetaType::Bool: return Variant(value.toBool());
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::SChar:
    case QMetaType::Char:
    case QMetaType::QChar: return Variant(static_cast<std::int32_t>(value.toInt()));
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar: return Variant(static_cast<std::uint32_t>(value.toUInt()));
    case QMetaType::LongLong:
    case QMetaType::Long: return Variant(static_cast<std::int64_t>(value.toLongLong()));
    case QMetaType::ULongLong:
    case QMetaType::ULong: return Variant(static_cast<std::uint64_t>(value.toULongLong()));
    case QMetaType::Float: return Variant(value.toFloat());
    case QMetaType::Double: return Variant(value.toDouble());
    case QMetaType::QString: return Variant(value.toString().toStdString());
    case QMetaType::QByteArray: return Variant(value.toByteArray().toStdString());
    case QMetaType::QDateTime: return Variant::Date(ToDate(value.toDateTime()));
    case QMetaType::QDate: return Variant::Date(ToDate(value.toDate().startOfDay()));
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
      const QVariantList list = value.toList();
      Variant array = Variant::Array(VT_VARIANT, 0, static_cast<LONG>(list.size()) - 1);
      for (qsizetype i = 0; i < list.size(); ++i) array.SetElement(static_cast<LONG>(i), FromQVariant(list[i]));
      return array;
    }
    default:
      if (value.canConvert<QString>()) return Variant(value.toString().toStdString());
      throw EConvertError(std::string("A Qt value of type ") + value.metaType().name() + " has no Variant counterpart");
  }
}

}  // namespace xelo::qt
