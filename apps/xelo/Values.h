// Library values as cells: item values, time stamps, qualities, type
// names and error codes, each as the library's text and as typed JSON.
#pragma once

#include "Output.h"

#include "xelo/com/WinTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
Cell DateTimeCell(double dateTime);

// The quality words of the library (QualityToStr).
Cell QualityCell(WORD quality);

// "vtR8", "vtBSTR", "vtR8[]" for an array; "vt<number>" for a type
// without a name.
std::string TypeName(VARTYPE type);
// Reads "vtR8", "R8" (any case), "vtR8[]" back; none for an unknown name.
std::optional<VARTYPE> ParseTypeName(std::string_view name);

// The text of an item's result code, null for 0.
Cell ErrorCell(HRESULT code);

}  // namespace xelo::cli
