#include "servers/simulation/TimeSource.h"

#include "xelo/platform/Platform.h"

#include <chrono>
#include <ctime>

namespace xelo::sim {
namespace {
// 100-ns ticks between 1601-01-01 and 1970-01-01.
constexpr ULONGLONG kUnixEpochTicks = 116444736000000000ULL;
}  // namespace

FILETIME TimeSource::Now() {
  using namespace std::chrono;
  const auto since = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
  return FromTicks(kUnixEpochTicks + static_cast<ULONGLONG>(since / 100));
}

LONG TimeSource::LocalBiasMinutes() {
  return static_cast<LONG>(-platform::UtcOffsetSeconds(std::time(nullptr)) / 60);
}

ULONGLONG TimeSource::ToTicks(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME TimeSource::FromTicks(ULONGLONG ticks) {
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace xelo::sim
