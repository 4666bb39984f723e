// Library values as cells: item values, time stamps, qualities, type
// names and error codes, each as the library's text and as typed JSON.
#pragma once

#include "Output.h"

#include "xelo/com/WinTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xelo {
class Variant;
}

namespace xelo::cli {

// Text: VarToAStr ("1;2;3;" for arrays). JSON: null for empty, Booleans
// and numbers as such, arrays as arrays, dates as time texts, everything
// else as its text.
Cell ValueCell(const Variant& value);
Json ValueJson(const Variant& value);

// A local date-time value as "YYYY-MM-DD hh:mm:ss.mmm"; empty for 0 (no
// time) and for values outside the calendar.
std::string DateTimeText(double dateTime);

// How JSON and CSV write time stamps: UTC, or local time with its offset
// from UTC (--local-time). Tables always show local time.
enum class StampZone { Utc, Local };

// "2026-12-07T18:30:05.123Z" for a UTC date-time value; empty for 0.
std::string IsoUtcText(double utc);
// "2026-12-07T19:30:05.123+01:00": the local value with the offset the two
// values of one stamp differ by; empty for 0.
std::string IsoLocalText(double local, double utc);
// The present moment as JSON and CSV write time stamps in `zone`.
std::string IsoNowText(StampZone zone);
// A time stamp the library holds as local and UTC value: the table shows
// DateTimeText(local), JSON and CSV the ISO text `zone` asks for; null
// (blank) without a time.
Cell TimeStampCell(double local, double utc, StampZone zone);

// The quality words of the library (QualityToStr).
Cell QualityCell(WORD quality);

// "vtR8", "vtBSTR", "vtR8[]" for an array; "vt<number>" for a type
// without a name.
std::string TypeName(VARTYPE type);
// Reads "vtR8", "R8" (any case), "vtR8[]" back; none for an unknown name.
std::optional<VARTYPE> ParseTypeName(std::string_view name);

// The text of an item's result code, null for 0.
Cell ErrorCell(HRESULT code);

// The two columns that follow an "error" column for programs (JSON and
// CSV): the result code in hexadecimal and its symbolic name.
std::vector<Column> ErrorCodeColumns();
// Their cells: null for no code (none, or 0) and the name null for a code
// without one.
void AddErrorCodeCells(Row& row, std::optional<HRESULT> code);

}  // namespace xelo::cli
