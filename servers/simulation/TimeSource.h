// Wall-clock time in the forms OPC hands out: UTC FILETIMEs for time
// stamps and status times, and the local time bias. Only time stamps use
// it; nothing in the server's behaviour depends on the wall clock (update
// cycles run on the apartment scheduler's timers).
#pragma once

#include "xelo/com/WinTypes.h"

namespace xelo::sim {

class TimeSource {
 public:
  // The current UTC time as a FILETIME.
  static FILETIME Now();
  // Minutes to add to local time to get UTC (Windows' bias convention):
  // -60 for UTC+1.
  static LONG LocalBiasMinutes();
  static ULONGLONG ToTicks(const FILETIME& time);
  static FILETIME FromTicks(ULONGLONG ticks);
};

}  // namespace xelo::sim
