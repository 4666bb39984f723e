// OLE Automation DATE: a double counting days since 1899-12-30 00:00, the
// fraction being the time of day. Everything here is plain calendar
// arithmetic (proleptic Gregorian, no time zones, no locale): a DATE means
// whatever clock its producer used, and OPC servers hand us UTC.
//
// Negative dates follow COM's odd rule: the integer part counts days
// backwards, but the fraction is still a forward time of day, so -1.25 is
// 1899-12-29 06:00 and -0.25 is the same instant as 0.25 (1899-12-30 06:00).
// Valid dates run from 0100-01-01 (-657434.0) to 9999-12-31 23:59:59.999
// (just below 2958466.0).
//
// Pure functions; safe on any thread.
#pragma once

#include "xelo/com/WinTypes.h"

#include <optional>
#include <string>
#include <string_view>

namespace xelo::com {

struct DateParts {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  friend bool operator==(const DateParts&, const DateParts&) = default;
};

// 0100-01-01 and 9999-12-31 (both at 00:00).
inline constexpr DATE kFirstDate = -657434.0;
inline constexpr DATE kLastDay = 2958465.0;

// True for a finite DATE inside the valid range. Because of the negative
// rule, values down to (but excluding) -657435.0 still fall on 0100-01-01.
bool IsValidDate(DATE date);

// Builds the DATE of `parts`; false (and `date` untouched) when a field is
// out of range: year 100..9999, month 1..12, day within the month, hour
// 0..23, minute and second 0..59, millisecond 0..999.
bool DateFromParts(const DateParts& parts, DATE& date);

// Splits a DATE into calendar fields, rounded to the nearest millisecond.
// False (and `parts` untouched) for an invalid DATE.
bool PartsFromDate(DATE date, DateParts& parts);

// FILETIME (100-ns ticks since 1601-01-01) to DATE and back, as plain UTC
// arithmetic. FileTimeToDate gives dates before 1899-12-30 by the negative
// rule. DateToFileTime rounds to the nearest millisecond, the resolution a
// DATE reliably carries, so that a FILETIME with whole milliseconds
// survives the round trip exactly; an invalid DATE or one before 1601
// gives the zero FILETIME.
DATE FileTimeToDate(const FILETIME& fileTime);
FILETIME DateToFileTime(DATE date);

// "YYYY-MM-DD hh:mm:ss", rounded to the nearest second. Only the date when
// the time is 00:00:00, only the time when the date is 1899-12-30 (so 0.0
// gives "00:00:00"). Empty for an invalid DATE.
std::string DateToText(DATE date);

// Accepts "YYYY-MM-DD", "YYYY-MM-DD hh:mm[:ss]", "YYYY-MM-DDThh:mm[:ss]"
// and "hh:mm[:ss]" (a time on 1899-12-30), with blanks around. Month, day
// and hour may have one digit; year four, minute and second two. Nothing
// else is accepted, and fields are validated as by DateFromParts.
std::optional<DATE> DateFromText(std::string_view text);

}  // namespace xelo::com
