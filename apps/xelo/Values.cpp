#include "Values.h"

#include "xelo/com/OleDate.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloQuality.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/Variant.h"

#include <cmath>
#include <cstdio>

namespace xelo::cli {

namespace {

// A real as JSON: the number the library's text shows (so an R4 of 0.1
// stays 0.1 instead of its binary double), or that text where JSON has no
// number (NaN, infinities).
Json RealJson(const Variant& value) {
  const std::string text = VarToStr(value);
  double number = 0;
  if (TryStrToFloat(text, number) && std::isfinite(number)) return Json(number);
  return Json(text);
}

Json ScalarJson(const Variant& value) {
  const VARIANT& v = value.AsVARIANT();
  switch (value.VarType()) {
    case VT_EMPTY:
    case VT_NULL:
      return Json(nullptr);
    case VT_BOOL:
      return Json(v.boolVal != VARIANT_FALSE);
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UINT:
      return Json(value.ToInt64());
    case VT_UI8:
      return Json(static_cast<std::uint64_t>(v.ullVal));
    case VT_ERROR:
      return Json(static_cast<std::int64_t>(v.scode));
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DECIMAL:
      return RealJson(value);
    case VT_DATE:
      return Json(DateTimeText(v.date));
    default:
      return Json(VarToStr(value));
  }
}

}  // namespace

Json ValueJson(const Variant& value) {
  try {
    if (!value.IsArray()) return ScalarJson(value);
    if (VarArrayDimCount(value) != 1) return Json(VarToAStr(value));
    Json array = Json::array();
    const LONG high = VarArrayHighBound(value, 1);
    for (LONG i = VarArrayLowBound(value, 1); i <= high; ++i) array.push_back(ScalarJson(value.GetElement(i)));
    return array;
  } catch (const std::exception&) {
    // A value without a text shows as none, as VarToAStr shows it blank.
    return Json(nullptr);
  }
}

Cell ValueCell(const Variant& value) { return {ValueJson(value), VarToAStr(value)}; }

std::string DateTimeText(double dateTime) {
  if (dateTime == 0) return {};
  com::DateParts parts;
  if (!com::PartsFromDate(dateTime, parts)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.year, parts.month, parts.day, parts.hour,
                parts.minute, parts.second, parts.millisecond);
  return text;
}

Cell DateTimeCell(double dateTime) { return Cell::OptionalText(DateTimeText(dateTime)); }

Cell QualityCell(WORD quality) { return Cell::Text(QualityToStr(quality)); }

std::string TypeName(VARTYPE type) {
  const auto base = static_cast<VARTYPE>(type & VT_TYPEMASK);
  std::string name(OPCADatatypeName(static_cast<OPCADatatype>(base)));
  if (name.empty()) name = "vt" + std::to_string(base);
  if ((type & VT_ARRAY) != 0) name += "[]";
  return name;
}

std::optional<VARTYPE> ParseTypeName(std::string_view name) {
  VARTYPE flags = 0;
  if (name.size() > 2 && name.substr(name.size() - 2) == "[]") {
    flags = VT_ARRAY;
    name.remove_suffix(2);
  }
  for (std::size_t ordinal = 0; ordinal < OPCADatatypeNames.size(); ++ordinal) {
    const std::string_view known = OPCADatatypeNames[ordinal];
    if (SameText(name, known) || SameText(name, known.substr(2))) {
      return static_cast<VARTYPE>(ordinal | flags);
    }
  }
  return std::nullopt;
}

Cell ErrorCell(HRESULT code) {
  if (code == 0) return Cell::Null();
  return Cell::Text(ItemErrorText(code));
}

}  // namespace xelo::cli
