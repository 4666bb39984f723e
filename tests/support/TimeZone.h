// Puts the test process into a time zone given in TZ syntax, and back.
#pragma once

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace xelo::test {

// Puts the process into the zone `tz` (TZ syntax), or back to the system's
// zone for null.
inline void SetZone(const char* tz) {
#if defined(_WIN32)
  _putenv_s("TZ", tz != nullptr ? tz : "");
  _tzset();
#else
  if (tz != nullptr) {
    setenv("TZ", tz, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
#endif
}

// The zone `tz` for the lifetime of the object; the one before afterwards.
class ScopedZone {
 public:
  explicit ScopedZone(const char* tz) {
    if (const char* previous = std::getenv("TZ")) saved_ = previous;
    SetZone(tz);
  }
  ~ScopedZone() { SetZone(saved_ ? saved_->c_str() : nullptr); }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

// Central European time: CET (UTC+1) and CEST (UTC+2, from the last Sunday
// of March 01:00 UTC to the last Sunday of October 01:00 UTC).
inline constexpr char kCentralEurope[] = "CET-1CEST,M3.5.0,M10.5.0/3";

}  // namespace xelo::test
