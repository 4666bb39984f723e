// Only <windows.h> and the C runtime here: our COM headers must not meet
// the system's (see Platform.h).
#include "xelo/platform/Platform.h"

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include <utility>

#include <direct.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

namespace xelo::platform {

std::string HostName() {
  char host[256] = {};
  DWORD size = sizeof host;
  if (!::GetComputerNameExA(ComputerNameDnsHostname, host, &size)) return {};
  return std::string(host, size);
}

// ---- local time ------------------------------------------------------------
//
// The C runtime's localtime_s cannot serve: it refuses dates before 1970,
// and of a TZ variable it takes only the offset, applying summer time by
// the US rules whatever the variable says. Windows' own zone functions
// cover 1601 to 30827 and apply a zone's rules for the year of the date.
// TZ, when set, still chooses the zone (the library's documented rule, as
// on POSIX): its POSIX form maps onto a TIME_ZONE_INFORMATION, whose
// yearly changes are "weekday w of month m at a local time" just like
// TZ's Mm.w.d rules. Without TZ, or with a TZ Windows cannot express, the
// system's zone applies.

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 (FILETIME's origin) to 1970-01-01 (time_t's).
constexpr std::int64_t kEpochDifference = 11'644'473'600;

std::int64_t TicksOf(const FILETIME& time) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

// Reads the POSIX form of TZ: std offset [dst [offset] [,start[/time],end[/time]]].
class ZoneText {
 public:
  explicit ZoneText(const char* text) : p_(text) {}

  bool AtEnd() const { return *p_ == '\0'; }
  bool Take(char c) {
    if (*p_ != c) return false;
    ++p_;
    return true;
  }
  // "CET", or "<+0530>" for names that are not letters.
  bool Name() {
    const char* start = p_;
    if (Take('<')) {
      while (*p_ != '\0' && *p_ != '>') ++p_;
      return p_ - start >= 4 && Take('>');
    }
    while (std::isalpha(static_cast<unsigned char>(*p_))) ++p_;
    return p_ - start >= 3;
  }
  // [+|-]hh[:mm[:ss]] in seconds.
  bool Offset(long& seconds, long maxHours) {
    const bool negative = *p_ == '-';
    if (*p_ == '+' || *p_ == '-') ++p_;
    long hours = 0;
    long minutes = 0;
    long secs = 0;
    if (!Number(hours, maxHours)) return false;
    if (Take(':') && (!Number(minutes, 59) || (Take(':') && !Number(secs, 59)))) return false;
    seconds = (hours * 60 + minutes) * 60 + secs;
    if (negative) seconds = -seconds;
    return true;
  }
  // "Mm.w.d[/time]": weekday d (0 Sunday) of week w (5: the last) of month
  // m, at `time` local time (02:00 when left out). The other two forms of
  // TZ (day of the year) have no Windows equivalent.
  bool Rule(SYSTEMTIME& date) {
    long month = 0;
    long week = 0;
    long day = 0;
    if (!Take('M') || !Number(month, 12) || month < 1 || !Take('.') || !Number(week, 5) || week < 1 || !Take('.') ||
        !Number(day, 6)) {
      return false;
    }
    long time = 2 * 3600;
    if (Take('/') && (!Offset(time, 23) || time < 0)) return false;
    date = SYSTEMTIME{};
    date.wMonth = static_cast<WORD>(month);
    date.wDayOfWeek = static_cast<WORD>(day);
    date.wDay = static_cast<WORD>(week);
    date.wHour = static_cast<WORD>(time / 3600);
    date.wMinute = static_cast<WORD>(time / 60 % 60);
    date.wSecond = static_cast<WORD>(time % 60);
    return true;
  }

 private:
  bool Number(long& value, long max) {
    if (!std::isdigit(static_cast<unsigned char>(*p_))) return false;
    value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p_)); ++p_) {
      value = value * 10 + (*p_ - '0');
      if (value > max) return false;
    }
    return true;
  }

  const char* p_;
};

// TZ's POSIX form as Windows describes a zone. False when it is not in
// that form or needs what Windows cannot say (offsets in seconds, rules by
// day of the year).
bool ParseZone(const char* text, TIME_ZONE_INFORMATION& zone) {
  ZoneText in(text);
  zone = TIME_ZONE_INFORMATION{};
  long standard = 0;
  // The offset is west of Greenwich, as Windows' bias.
  if (!in.Name() || !in.Offset(standard, 24) || standard % 60 != 0) return false;
  zone.Bias = standard / 60;
  if (in.AtEnd()) return true;
  if (!in.Name()) return false;
  long daylight = standard - 3600;
  if (!in.AtEnd() && !in.Take(',')) {
    if (!in.Offset(daylight, 24) || daylight % 60 != 0) return false;
    if (!in.AtEnd() && !in.Take(',')) return false;
  }
  zone.DaylightBias = (daylight - standard) / 60;
  if (in.AtEnd()) {
    // Summer time without rules: the US rules, which the C libraries
    // assume too.
    return ZoneText("M3.2.0").Rule(zone.DaylightDate) && ZoneText("M11.1.0").Rule(zone.StandardDate);
  }
  return in.Rule(zone.DaylightDate) && in.Take(',') && in.Rule(zone.StandardDate) && in.AtEnd();
}

// `utc` in local time: in the zone TZ names, else in the system's zone.
bool ToLocal(const SYSTEMTIME& utc, SYSTEMTIME& local) {
  // Parsed once per thread for each new TZ text.
  struct Parsed {
    std::string text;
    bool valid = false;
    TIME_ZONE_INFORMATION zone{};
  };
  thread_local Parsed parsed;
  const char* tz = std::getenv("TZ");
  if (tz != nullptr && tz[0] != '\0') {
    if (parsed.text != tz) {
      parsed.text = tz;
      parsed.valid = ParseZone(tz, parsed.zone);
    }
    if (parsed.valid) return ::SystemTimeToTzSpecificLocalTime(&parsed.zone, &utc, &local) != 0;
  }
  // The system's zone with its rules of that year, not only today's
  // (zones change their rules now and then); today's where the system
  // keeps no history.
  TIME_ZONE_INFORMATION year{};
  if (::GetTimeZoneInformationForYear(utc.wYear, nullptr, &year)) {
    return ::SystemTimeToTzSpecificLocalTime(&year, &utc, &local) != 0;
  }
  return ::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) != 0;
}

// The local time of `seconds` and its distance from UTC.
bool Convert(std::time_t seconds, SYSTEMTIME& local, long& offset) {
  constexpr std::int64_t kLastSecond = std::numeric_limits<std::int64_t>::max() / kTicksPerSecond - kEpochDifference;
  const auto since1970 = static_cast<std::int64_t>(seconds);
  if (since1970 < -kEpochDifference || since1970 > kLastSecond) return false;
  const auto ticks = static_cast<std::uint64_t>((since1970 + kEpochDifference) * kTicksPerSecond);
  const FILETIME utcTime{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME utc{};
  FILETIME localTime{};
  if (!::FileTimeToSystemTime(&utcTime, &utc) || !ToLocal(utc, local) ||
      !::SystemTimeToFileTime(&local, &localTime)) {
    return false;
  }
  offset = static_cast<long>((TicksOf(localTime) - TicksOf(utcTime)) / kTicksPerSecond);
  return true;
}

}  // namespace

bool LocalTime(std::time_t seconds, std::tm& local) {
  SYSTEMTIME time{};
  long offset = 0;
  if (!Convert(seconds, time, offset)) return false;
  local = std::tm{};
  local.tm_year = time.wYear - 1900;
  local.tm_mon = time.wMonth - 1;
  local.tm_mday = time.wDay;
  local.tm_hour = time.wHour;
  local.tm_min = time.wMinute;
  local.tm_sec = time.wSecond;
  local.tm_wday = time.wDayOfWeek;
  static constexpr int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  const int year = time.wYear;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  local.tm_yday = kDaysBefore[local.tm_mon] + local.tm_mday - 1 + (leap && local.tm_mon > 1 ? 1 : 0);
  // Negative: not known. Nothing here needs it; UtcOffsetSeconds gives
  // the whole offset, summer time included.
  local.tm_isdst = -1;
  return true;
}

long UtcOffsetSeconds(std::time_t seconds) {
  SYSTEMTIME local{};
  long offset = 0;
  return Convert(seconds, local, offset) ? offset : 0;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return {argv, argv + argc};
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) {
    // Unpaired surrogates become U+FFFD, as anywhere else in the tool.
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? static_cast<std::size_t>(size) : 1u, '\0');
    if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, text.data(), size, nullptr, nullptr);
    text.pop_back();  // the terminating NUL
    arguments.push_back(std::move(text));
  }
  ::LocalFree(wide);
  return arguments;
}

std::string UserSettingsDirectory(const std::string& name) {
  if (const char* appData = std::getenv("APPDATA"); appData != nullptr && appData[0] != '\0') {
    return std::string(appData) + "/" + name;
  }
  return {};
}

void MakeDirectory(const std::string& path) { ::_mkdir(path.c_str()); }

int SyncFile(int fd) { return ::_commit(fd) == 0 ? 0 : errno; }

int MoveFileOver(const std::string& from, const std::string& to) {
  // The C runtime's rename refuses an existing target; MoveFileEx replaces
  // it, and write-through returns only once the move is on the disk.
  if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  switch (::GetLastError()) {
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return ENOENT;
    default: return EIO;
  }
}

namespace {

void (*consoleStopHandler)(int) = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  void (*handler)(int) = consoleStopHandler;
  if (handler == nullptr) return FALSE;
  switch (event) {
    case CTRL_C_EVENT: handler(SIGINT); break;
    case CTRL_BREAK_EVENT: handler(SIGBREAK); break;
    default: handler(SIGTERM); break;
  }
  return TRUE;
}

}  // namespace

void SetConsoleStopHandler(void (*handler)(int signal)) {
  if (handler != nullptr) {
    consoleStopHandler = handler;
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  } else {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    consoleStopHandler = nullptr;
  }
}

}  // namespace xelo::platform
