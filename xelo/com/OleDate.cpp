#include "xelo/com/OleDate.h"

#include <cmath>
#include <cstdio>

namespace xelo::com {
namespace {

constexpr long long kMsPerDay = 86'400'000;
constexpr long long kTicksPerDay = 864'000'000'000;
constexpr long long kTicksPerMs = 10'000;
// 1899-12-30 as a FILETIME, and 1970-01-01 as a day number of a DATE.
constexpr unsigned long long kOleEpochTicks = 94'353'120'000'000'000ULL;
constexpr long long kUnixEpochDay = 25'569;
constexpr long long kLastDayNumber = 2'958'465;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar. The
// year is shifted to start in March so that the leap day is the last day of
// the shifted year; eras of 400 years then repeat exactly.
long long DaysFromCivil(long long year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long shiftedMonth = month > 2 ? month - 3 : month + 9;
  const long long dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146'097 + dayOfEra - 719'468;
}

// The inverse of DaysFromCivil.
void CivilFromDays(long long days, int& year, int& month, int& day) {
  days += 719'468;
  const long long era = (days >= 0 ? days : days - 146'096) / 146'097;
  const long long dayOfEra = days - era * 146'097;
  const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Splits a DATE into the calendar day (counted from 1899-12-30) and the time
// of day in milliseconds, rounded to a multiple of `unitMs`. Rounding up to
// midnight moves to the next day, except on the last valid day, where the
// time stays just before midnight rather than leaving the range.
bool SplitDate(DATE date, long long unitMs, long long& dayNumber, long long& msOfDay) {
  if (!IsValidDate(date)) return false;
  const double whole = std::trunc(date);
  // The negative rule: the fraction is a forward time of day either way.
  const double fraction = std::fabs(date - whole);
  const long long unitsPerDay = kMsPerDay / unitMs;
  long long units = std::llround(fraction * static_cast<double>(unitsPerDay));
  dayNumber = static_cast<long long>(whole);
  if (units >= unitsPerDay) {
    if (dayNumber < kLastDayNumber) {
      ++dayNumber;
      units = 0;
    } else {
      units = unitsPerDay - 1;
    }
  }
  msOfDay = units * unitMs;
  return true;
}

DATE Combine(long long dayNumber, double fractionOfDay) {
  const auto day = static_cast<double>(dayNumber);
  return dayNumber >= 0 ? day + fractionOfDay : day - fractionOfDay;
}

// A cursor over date text; every Read* advances only on success.
class TextReader {
 public:
  explicit TextReader(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }
  bool Take(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool SkipBlanks() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
    return pos_ != start;
  }
  // Between minDigits and maxDigits decimal digits.
  bool ReadNumber(int minDigits, int maxDigits, int& value) {
    int count = 0;
    int result = 0;
    while (count < maxDigits && pos_ + count < text_.size() && IsDigit(text_[pos_ + count])) {
      result = result * 10 + (text_[pos_ + count] - '0');
      ++count;
    }
    if (count < minDigits) return false;
    // A longer run of digits is not a field we know.
    if (pos_ + count < text_.size() && IsDigit(text_[pos_ + count])) return false;
    pos_ += count;
    value = result;
    return true;
  }
  // True when a "YYYY-" date begins here.
  bool AtDate() const {
    if (text_.size() - pos_ < 5) return false;
    for (std::size_t i = 0; i < 4; ++i) {
      if (!IsDigit(text_[pos_ + i])) return false;
    }
    return text_[pos_ + 4] == '-';
  }

  static bool IsBlank(char c) { return c == ' ' || c == '\t'; }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

bool ReadTime(TextReader& reader, DateParts& parts) {
  if (!reader.ReadNumber(1, 2, parts.hour) || !reader.Take(':') || !reader.ReadNumber(2, 2, parts.minute)) {
    return false;
  }
  if (reader.Take(':')) return reader.ReadNumber(2, 2, parts.second);
  return true;
}

}  // namespace

bool IsValidDate(DATE date) {
  // Written so that NaN fails both comparisons.
  return date > kFirstDate - 1.0 && date < kLastDay + 1.0;
}

bool DateFromParts(const DateParts& parts, DATE& date) {
  if (parts.year < 100 || parts.year > 9999 || parts.month < 1 || parts.month > 12) return false;
  if (parts.day < 1 || parts.day > DaysInMonth(parts.year, parts.month)) return false;
  if (parts.hour < 0 || parts.hour > 23 || parts.minute < 0 || parts.minute > 59 || parts.second < 0 ||
      parts.second > 59 || parts.millisecond < 0 || parts.millisecond > 999) {
    return false;
  }
  const long long dayNumber = DaysFromCivil(parts.year, parts.month, parts.day) + kUnixEpochDay;
  const long long ms =
      ((parts.hour * 60LL + parts.minute) * 60 + parts.second) * 1000 + parts.millisecond;
  date = Combine(dayNumber, static_cast<double>(ms) / static_cast<double>(kMsPerDay));
  return true;
}

bool PartsFromDate(DATE date, DateParts& parts) {
  long long dayNumber = 0;
  long long ms = 0;
  if (!SplitDate(date, 1, dayNumber, ms)) return false;
  DateParts result;
  CivilFromDays(dayNumber - kUnixEpochDay, result.year, result.month, result.day);
  result.millisecond = static_cast<int>(ms % 1000);
  result.second = static_cast<int>(ms / 1000 % 60);
  result.minute = static_cast<int>(ms / 60'000 % 60);
  result.hour = static_cast<int>(ms / 3'600'000);
  parts = result;
  return true;
}

DATE FileTimeToDate(const FILETIME& fileTime) {
  const unsigned long long ticks =
      (static_cast<unsigned long long>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  const auto perDay = static_cast<unsigned long long>(kTicksPerDay);
  if (ticks >= kOleEpochTicks) {
    // Whole days and the time of day apart, so that the day count does not
    // eat into the precision of the fraction.
    const unsigned long long since = ticks - kOleEpochTicks;
    return static_cast<double>(since / perDay) +
           static_cast<double>(since % perDay) / static_cast<double>(kTicksPerDay);
  }
  const unsigned long long before = kOleEpochTicks - ticks;
  const auto wholeDays = static_cast<long long>(before / perDay);
  const unsigned long long remainder = before % perDay;
  if (remainder == 0) return static_cast<double>(-wholeDays);
  // The instant lies inside day -(wholeDays + 1), (perDay - remainder)
  // ticks after its midnight.
  return Combine(-(wholeDays + 1),
                 static_cast<double>(perDay - remainder) / static_cast<double>(kTicksPerDay));
}

FILETIME DateToFileTime(DATE date) {
  long long dayNumber = 0;
  long long ms = 0;
  if (!SplitDate(date, 1, dayNumber, ms)) return FILETIME{0, 0};
  const long long ticks = static_cast<long long>(kOleEpochTicks) + dayNumber * kTicksPerDay + ms * kTicksPerMs;
  if (ticks < 0) return FILETIME{0, 0};
  const auto value = static_cast<unsigned long long>(ticks);
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

std::string DateToText(DATE date) {
  long long dayNumber = 0;
  long long ms = 0;
  if (!SplitDate(date, 1000, dayNumber, ms)) return {};
  const long long seconds = ms / 1000;
  const int hour = static_cast<int>(seconds / 3600);
  const int minute = static_cast<int>(seconds / 60 % 60);
  const int second = static_cast<int>(seconds % 60);
  char buffer[32];
  if (dayNumber == 0) {
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hour, minute, second);
    return buffer;
  }
  int year = 0;
  int month = 0;
  int day = 0;
  CivilFromDays(dayNumber - kUnixEpochDay, year, month, day);
  if (seconds == 0) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  }
  return buffer;
}

std::optional<DATE> DateFromText(std::string_view text) {
  TextReader reader(text);
  reader.SkipBlanks();
  DateParts parts;
  if (reader.AtDate()) {
    if (!reader.ReadNumber(4, 4, parts.year) || !reader.Take('-') || !reader.ReadNumber(1, 2, parts.month) ||
        !reader.Take('-') || !reader.ReadNumber(1, 2, parts.day)) {
      return std::nullopt;
    }
    const bool blanks = reader.SkipBlanks();
    if (!reader.AtEnd()) {
      // A time must follow, after a 'T' or after blanks.
      if (!(blanks ? true : reader.Take('T')) || !ReadTime(reader, parts)) return std::nullopt;
    }
  } else if (!ReadTime(reader, parts)) {
    return std::nullopt;
  }
  reader.SkipBlanks();
  if (!reader.AtEnd()) return std::nullopt;
  DATE date = 0;
  if (!DateFromParts(parts, date)) return std::nullopt;
  return date;
}

}  // namespace xelo::com
