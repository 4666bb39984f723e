#include "Values.h"

#include "ResultCodes.h"

#include "xelo/com/OleDate.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloItemList.h"
#include "xelo/core/XeloQuality.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/Variant.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

namespace {

// "YYYY-MM-DDThh:mm:ss.mmm", empty for 0 and dates outside the calendar.
std::string IsoText(double dateTime) {
  std::string text = DateTimeText(dateTime);
  if (!text.empty()) text[10] = 'T';
  return text;
}

}  // namespace

std::string IsoUtcText(double utc) {
  std::string text = IsoText(utc);
  if (!text.empty()) text += 'Z';
  return text;
}

std::string IsoNowText(StampZone zone) {
  // FILETIME ticks (100 ns since 1601) of the system clock, through the
  // library's own conversions, so that "now" reads like any time stamp.
  constexpr long long kTicksFrom1601To1970 = 116444736000000000LL;
  const auto since1970 = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  const auto ticks = static_cast<unsigned long long>(kTicksFrom1601To1970 + since1970.count() * 10000LL);
  const FILETIME now{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  const double utc = FileTimeToDateTimeUTC(now);
  return zone == StampZone::Utc ? IsoUtcText(utc) : IsoLocalText(FileTimeToDateTime(now), utc);
}

std::string IsoLocalText(double local, double utc) {
  std::string text = IsoText(local);
  // Without its UTC value the offset is unknown; the local time alone is
  // still what was asked for.
  if (text.empty() || utc == 0) return text;
  // Both values carry the same whole milliseconds, so the difference is a
  // whole number of minutes up to rounding.
  const long minutes = std::lround((local - utc) * 24 * 60);
  char offset[48];
  std::snprintf(offset, sizeof offset, "%c%02ld:%02ld", minutes < 0 ? '-' : '+', std::labs(minutes) / 60,
                std::labs(minutes) % 60);
  return text + offset;
}

Cell TimeStampCell(double local, double utc, StampZone zone) {
  const std::string forPeople = DateTimeText(local);
  const std::string forPrograms = zone == StampZone::Utc ? IsoUtcText(utc) : IsoLocalText(local, utc);
  // Programs get an ISO text or nothing, never the table's form.
  if (forPrograms.empty()) return {Json(nullptr), forPeople, std::string()};
  return {Json(forPrograms), forPeople, forPrograms};
}

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

std::vector<Column> ErrorCodeColumns() {
  return {{"errorCode", "error code", false}, {"errorName", "error name", false}};
}

void AddErrorCodeCells(Row& row, std::optional<HRESULT> code) {
  if (!code || *code == 0) {
    row.push_back(Cell::Null());
    row.push_back(Cell::Null());
    return;
  }
  row.push_back(Cell::Text(ResultCodeHex(*code)));
  row.push_back(Cell::OptionalText(std::string(ResultCodeName(*code))));
}

}  // namespace xelo::cli
