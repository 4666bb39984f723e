// The Windows side of xelo/platform where Windows has its own answer to
// compare with. Only <windows.h> and the platform header here: the COM
// headers of the library cannot meet the system's in one file.
#if defined(_WIN32)

#include "xelo/platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include <windows.h>

namespace {

using xelo::platform::LocalTime;
using xelo::platform::UtcOffsetSeconds;

class SystemZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
  }
  void TearDown() override { ::_putenv_s("TZ", saved_ ? saved_->c_str() : ""); }

  // What Windows itself makes of `seconds` in the system's zone (with
  // the zone's present bias, as FileTimeToLocalFileTime works).
  static void ExpectSystemsAnswer(std::time_t seconds) {
    const auto ticks = static_cast<std::uint64_t>((static_cast<std::int64_t>(seconds) + 11'644'473'600) * 10'000'000);
    const FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
    FILETIME local{};
    SYSTEMTIME parts{};
    ASSERT_TRUE(::FileTimeToLocalFileTime(&utc, &local));
    ASSERT_TRUE(::FileTimeToSystemTime(&local, &parts));
    const std::uint64_t localTicks = (static_cast<std::uint64_t>(local.dwHighDateTime) << 32) | local.dwLowDateTime;

    std::tm tm{};
    ASSERT_TRUE(LocalTime(seconds, tm));
    EXPECT_EQ(tm.tm_year + 1900, parts.wYear);
    EXPECT_EQ(tm.tm_mon + 1, parts.wMonth);
    EXPECT_EQ(tm.tm_mday, parts.wDay);
    EXPECT_EQ(tm.tm_hour, parts.wHour);
    EXPECT_EQ(tm.tm_min, parts.wMinute);
    EXPECT_EQ(tm.tm_sec, parts.wSecond);
    EXPECT_EQ(tm.tm_wday, parts.wDayOfWeek);
    EXPECT_EQ(UtcOffsetSeconds(seconds),
              (static_cast<std::int64_t>(localTicks) - static_cast<std::int64_t>(ticks)) / 10'000'000);
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(SystemZoneTest, WithoutTzTheSystemsZoneApplies) {
  ::_putenv_s("TZ", "");
  ExpectSystemsAnswer(std::time(nullptr));
}

TEST_F(SystemZoneTest, ATzWindowsCannotExpressLeavesTheSystemsZone) {
  // A zone by name, and rules by day of the year: no TIME_ZONE_INFORMATION
  // says either, so neither may be half understood.
  for (const char* tz : {":Europe/Berlin", "CET-1CEST,J60,J300", "CET-1CEST,M3.5.0", "CET-1:00:30", "x"}) {
    SCOPED_TRACE(tz);
    ::_putenv_s("TZ", tz);
    ExpectSystemsAnswer(std::time(nullptr));
  }
}

TEST_F(SystemZoneTest, ATzInPosixFormIsHonoured) {
  // 2021-07-01 12:00 UTC; the names may be quoted.
  constexpr std::time_t kSummer = 1'625'140'800;
  for (const char* tz : {"CET-1CEST,M3.5.0,M10.5.0/3", "<+01>-1<+02>,M3.5.0,M10.5.0/3", "XYZ-2"}) {
    SCOPED_TRACE(tz);
    ::_putenv_s("TZ", tz);
    std::tm tm{};
    ASSERT_TRUE(LocalTime(kSummer, tm));
    EXPECT_EQ(tm.tm_hour, 14);
    EXPECT_EQ(UtcOffsetSeconds(kSummer), 7200);
  }
  // Summer time without rules follows the US rules: 2021-03-14 was the
  // second Sunday in March, 07:00 UTC is 03:00 EDT.
  ::_putenv_s("TZ", "EST5EDT");
  EXPECT_EQ(UtcOffsetSeconds(1'615'705'200), -4 * 3600);
  EXPECT_EQ(UtcOffsetSeconds(1'615'705'199), -5 * 3600);
}

}  // namespace

#endif
