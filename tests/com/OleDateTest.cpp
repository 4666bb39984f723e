#include "xelo/com/OleDate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using xelo::com::DateFromParts, xelo::com::DateFromText, xelo::com::DateParts, xelo::com::DateToFileTime;
using xelo::com::DateToText, xelo::com::FileTimeToDate, xelo::com::PartsFromDate;

constexpr unsigned long long kOleEpoch = 94353120000000000ULL;  // 1899-12-30 as a FILETIME
constexpr unsigned long long kTicksPerDay = 864000000000ULL;

FILETIME Ft(unsigned long long ticks) {
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}
unsigned long long Ticks(FILETIME ft) { return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }

DATE FromParts(DateParts parts) {
  DATE date = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(DateFromParts(parts, date)) << parts.year << "-" << parts.month << "-" << parts.day;
  return date;
}

DateParts ToParts(DATE date) {
  DateParts parts{0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(PartsFromDate(date, parts)) << date;
  return parts;
}

TEST(OleDate, KnownDaysAndTheNegativeRule) {
  EXPECT_EQ((std::vector<DATE>{FromParts({1970, 1, 1}), FromParts({2023, 3, 15, 12}), FromParts({1899, 12, 29, 6})}),
            (std::vector<DATE>{25569.0, 45000.5, -1.25}));
  // To the nearest millisecond, carrying into the next day; -0.25 is the
  // same instant as 0.25, and 0.2 ms before midnight on 1899-12-29 (the
  // negative rule) is 12-30 00:00.
  const double ms = 1.0 / 86400000.0;
  EXPECT_EQ((std::vector<DateParts>{ToParts(-0.25), ToParts(-657434.75), ToParts(0.5 + 0.4 * ms), ToParts(0.5 + 0.6 * ms),
                                    ToParts(-1.0 - (1.0 - 0.2 * ms)), ToParts(2958465.0 + (1.0 - 0.2 * ms))}),
            (std::vector<DateParts>{{1899, 12, 30, 6, 0, 0, 0}, {100, 1, 1, 18, 0, 0, 0}, {1899, 12, 30, 12, 0, 0, 0},
                                    {1899, 12, 30, 12, 0, 0, 1}, {1899, 12, 30, 0, 0, 0, 0}, {9999, 12, 31, 23, 59, 59, 999}}));
}

TEST(OleDate, InvalidFieldsAndDatesAreRefused) {
  for (const DateParts& parts : {DateParts{1900, 2, 29}, DateParts{2023, 4, 31}, DateParts{2023, 13, 1},
                                 DateParts{2023, 1, 0}, DateParts{99, 12, 31}, DateParts{10000, 1, 1},
                                 DateParts{2023, 1, 1, 24}, DateParts{2023, 1, 1, 0, 60}, DateParts{2023, 1, 1, 0, 0, 60},
                                 DateParts{2023, 1, 1, 0, 0, 0, 1000}, DateParts{2023, 1, 1, -1}}) {
    DATE date = 7.0;
    EXPECT_EQ((std::tuple{DateFromParts(parts, date), date}), (std::tuple{false, 7.0})) << parts.year << "-" << parts.month << "-" << parts.day;
  }
  for (DATE invalid : {2958466.0, -657435.0, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
    DateParts parts{1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ((std::tuple{PartsFromDate(invalid, parts), parts, DateToText(invalid), xelo::com::IsValidDate(invalid)}),
              (std::tuple{false, DateParts{1, 2, 3, 4, 5, 6, 7}, std::string(), false})) << invalid;
  }
}

TEST(OleDate, EveryDayOfTheRangeFollowsTheCalendar) {
  // Walks the whole valid range and checks that each day number is the
  // calendar successor of the one before, by the Gregorian leap rule, and
  // that parts and DATE convert back and forth exactly.
  auto daysIn = [](int year, int month) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int days[] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return days[month - 1];
  };
  DateParts expected{100, 1, 1};
  int failures = 0;
  for (long day = -657434; day <= 2958465 && failures < 5; ++day) {
    DateParts parts;
    DATE back = 0;
    if (!PartsFromDate(static_cast<double>(day), parts) || parts != expected || !DateFromParts(parts, back) || back != day) {
      ADD_FAILURE() << "day " << day << " gave " << parts.year << "-" << parts.month << "-" << parts.day;
      ++failures;
    }
    if (++expected.day > daysIn(expected.year, expected.month)) expected.day = 1, ++expected.month;
    if (expected.month > 12) expected.month = 1, ++expected.year;
  }
  EXPECT_EQ(expected, (DateParts{10000, 1, 1}));

  // Times of day survive the trip in both halves of the range.
  for (const DateParts& parts : {DateParts{1899, 12, 29, 23, 59, 59, 999}, DateParts{1600, 2, 29, 0, 0, 0, 1},
                                 DateParts{2024, 2, 29, 13, 14, 15, 16}, DateParts{9999, 12, 31, 23, 59, 59, 999}}) {
    EXPECT_EQ(ToParts(FromParts(parts)), parts);
  }
}

TEST(OleDate, FileTimesAreUtcArithmetic) {
  // -1.25 is 1899-12-29 06:00.
  EXPECT_EQ((std::vector<DATE>{FileTimeToDate(Ft(116444736000000000ULL)), FileTimeToDate(Ft(kOleEpoch + kTicksPerDay / 2)),
                               FileTimeToDate(Ft(kOleEpoch - kTicksPerDay * 3 / 4)), FileTimeToDate(Ft(0))}),
            (std::vector<DATE>{25569.0, 0.5, -1.25, FromParts({1601, 1, 1})}));
  EXPECT_EQ(std::make_pair(Ticks(DateToFileTime(-1.25)), Ticks(DateToFileTime(-0.25))),
            std::make_pair(kOleEpoch - kTicksPerDay * 3 / 4, kOleEpoch + kTicksPerDay / 4));
  // Whole milliseconds survive the round trip; finer ticks round to the nearest one.
  const unsigned long long ms = 10000;
  for (auto [ticks, back] : {std::pair{0ULL, 0ULL}, {116444736000000000ULL + ms * 123, 116444736000000000ULL + ms * 123},
                             {kOleEpoch - ms * 86399999, kOleEpoch - ms * 86399999}, {2650467743990000000ULL, 2650467743990000000ULL},
                             {133500000000000000ULL + ms * 999, 133500000000000000ULL + ms * 999},
                             {kOleEpoch + ms * 1234 + 4999, kOleEpoch + ms * 1234}, {kOleEpoch + ms * 1234 + 5001, kOleEpoch + ms * 1235}}) {
    EXPECT_EQ(Ticks(DateToFileTime(FileTimeToDate(Ft(ticks)))), back) << ticks;
  }
  // A date before FILETIME begins gives zero like an invalid one.
  EXPECT_EQ(Ticks(DateToFileTime(std::nan(""))) + Ticks(DateToFileTime(FromParts({1600, 12, 31}))), 0u);
}

TEST(OleDate, TextFormsRoundTrip) {
  // Text rounds to whole seconds.
  const double second = 1.0 / 86400.0;
  EXPECT_EQ((std::vector<std::string>{DateToText(0.0), DateToText(-0.25), DateToText(-657434.0), DateToText(0.5 + 0.4 * second),
                                      DateToText(0.5 + 0.6 * second), DateToText(2.0 - 0.2 * second)}),
            (std::vector<std::string>{"00:00:00", "06:00:00", "0100-01-01", "12:00:00", "12:00:01", "1900-01-01"}));
  EXPECT_EQ((std::vector<std::optional<DATE>>{DateFromText(" \t2023-03-15 12:00 "), DateFromText("2023-3-15  6:00"),
                                              DateFromText("1899-12-29 06:00:00")}),
            (std::vector<std::optional<DATE>>{45000.5, 45000.25, -1.25}));
  for (const char* bad : {"", "   ", "23-03-15", "2023/03/15", "2023-03-15 25:00", "2023-03-15 12", "2023-03-15 12:00:",
                          "12:0", "2023-03-15T", "2023-03-15 12:00 x", "2023-02-29", "12:60", "2023-03-15t12:00",
                          "2023-03-15 T12:00", "12:00:00.5", "+12:00", "2023-003-15", "123:00"}) {
    EXPECT_FALSE(DateFromText(bad).has_value()) << bad;
  }
  for (const DateParts& parts : {DateParts{2023, 3, 15, 12, 34, 56}, DateParts{100, 1, 1}, DateParts{1899, 12, 30, 23, 59, 59},
                                 DateParts{1899, 12, 29, 0, 0, 1}, DateParts{9999, 12, 31, 23, 59, 59}}) {
    const DATE date = FromParts(parts);
    EXPECT_EQ(DateFromText(DateToText(date)), date) << DateToText(date);
  }
}

}  // namespace
