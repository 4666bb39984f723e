#include "xelo/core/XeloFormat.h"

#include "xelo/com/OleDate.h"
#include "xelo/com/WideText.h"
#include "xelo/platform/Platform.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <vector>

namespace xelo {

std::string_view OPCADatatypeName(OPCADatatype type) noexcept {
  const auto ordinal = static_cast<std::size_t>(type);
  return ordinal < OPCADatatypeNames.size() ? OPCADatatypeNames[ordinal] : std::string_view();
}

const TTypeInfoPtr& OPCADatatypeInfo() {
  static const TTypeInfoPtr info =
      MakeEnumType("OPCADatatype", std::vector<std::string>(OPCADatatypeNames.begin(), OPCADatatypeNames.end()));
  return info;
}

std::string ServerStateToStr(std::int32_t state) {
  if (state < 1 || state > 5) return std::string();
  return std::string(OPCStateStr[static_cast<std::size_t>(state)]);
}

std::string VarToAStr(const Variant& value) noexcept {
  try {
    if (value.IsEmpty()) return std::string();
    if (!value.IsArray()) return VarToStr(value);
    // Always from 0, whatever the lower bound: an array that does not start
    // at 0 fails on its first element and so shows as nothing, and an array
    // with a negative lower bound shows from element 0 on. Applications
    // that display item values rely on exactly this text. More than one
    // dimension fails the same way, since one index addresses no element
    // then.
    const LONG high = VarArrayHighBound(value, 1);
    std::string result;
    // 64 bits, so that an upper bound of LONG's maximum cannot wrap.
    for (std::int64_t i = 0; i <= high; ++i) {
      result += VarToStr(value.GetElement(static_cast<LONG>(i)));
      result += ';';
    }
    return result;
  } catch (...) {
    // Values are shown, not checked: a value without a text shows blank.
    return std::string();
  }
}

Variant AStrToVar(std::string_view text, VARTYPE type) {
  if ((type & VT_ARRAY) == 0) {
    // The item's own type unknown: the server knows best what to make of
    // the text.
    if (type == VT_EMPTY) return Variant(text);
    return Variant(text).ChangeType(type);
  }
  std::vector<std::string_view> parts;
  std::string_view::size_type start = 0;
  while (start < text.size()) {
    const std::string_view::size_type semicolon = text.find(';', start);
    if (semicolon == std::string_view::npos) {
      parts.push_back(text.substr(start));
      break;
    }
    parts.push_back(text.substr(start, semicolon - start));
    start = semicolon + 1;
  }
  const auto element = static_cast<VARTYPE>(type & ~VT_ARRAY);
  Variant result = Variant::Array(element, 0, detail::ArrayHighBound(0, parts.size()));
  for (std::size_t i = 0; i < parts.size(); ++i) {
    // SetElement converts to the element type with the same rules as a
    // single value.
    result.SetElement(static_cast<LONG>(i), Variant(parts[i]));
  }
  return result;
}

namespace {

// The local time of one local hour, so that the time stamps of a data
// stream, which nearly all fall into the current hour, cost one zone lookup
// per hour instead of one per value. An hour is cached only when the zone
// gives it one offset from its first to its last second (no change to or
// from summer time inside, no leap second), and only for the zone that was
// set when it was filled: tzset() after a change of TZ gives the zone new
// names or a new offset, and the next conversion notices. Only with glibc,
// whose zone state can be compared so; elsewhere every value is converted
// on its own.
class LocalHourCache {
 public:
  // The local date and time of `seconds`, from the cache or the zone.
  bool Convert(std::time_t seconds, com::DateParts& parts) {
    const Zone zone = CurrentZone();
    if (!(seconds >= from_ && seconds < from_ + 3600 && zone == zone_)) {
      std::tm local{};
      if (!platform::LocalTime(seconds, local)) return false;
      FillParts(local, parts);
      Fill(seconds, local, zone);
      return true;
    }
    const auto inHour = static_cast<int>(seconds - from_);
    parts = hour_;
    parts.minute = inHour / 60;
    parts.second = inHour % 60;
    return true;
  }

 private:
  struct Zone {
    const char* names[2] = {nullptr, nullptr};
    long offset = 0;
    bool operator==(const Zone&) const = default;
  };

  static Zone CurrentZone() {
    Zone zone;
#if defined(__GLIBC__)
    zone.names[0] = tzname[0];
    zone.names[1] = tzname[1];
    zone.offset = timezone;
#endif
    return zone;
  }

  static void FillParts(const std::tm& local, com::DateParts& parts) {
    parts.year = local.tm_year + 1900;
    parts.month = local.tm_mon + 1;
    parts.day = local.tm_mday;
    parts.hour = local.tm_hour;
    parts.minute = local.tm_min;
    // Zones with leap seconds report a 60th second; a date-time value has
    // none, so it stays on the last whole second of the minute.
    parts.second = std::min(local.tm_sec, 59);
  }

  void Fill(std::time_t seconds, const std::tm& local, const Zone& zone) {
    from_ = kNever;
#if defined(__GLIBC__)
    if (local.tm_sec > 59) return;
    const std::time_t first = seconds - (local.tm_min * 60 + local.tm_sec);
    const std::time_t last = first + 3599;
    std::tm atFirst{};
    std::tm atLast{};
    if (localtime_r(&first, &atFirst) == nullptr || localtime_r(&last, &atLast) == nullptr) return;
    const bool plainHour = atFirst.tm_gmtoff == local.tm_gmtoff && atLast.tm_gmtoff == local.tm_gmtoff &&
                           atFirst.tm_hour == local.tm_hour && atFirst.tm_min == 0 && atFirst.tm_sec == 0 &&
                           atLast.tm_hour == local.tm_hour && atLast.tm_min == 59 && atLast.tm_sec == 59;
    if (!plainHour) return;
    FillParts(atFirst, hour_);
    zone_ = zone;
    from_ = first;
#else
    (void)seconds;
    (void)local;
    (void)zone;
#endif
  }

  static constexpr std::time_t kNever = std::numeric_limits<std::time_t>::min();
  std::time_t from_ = kNever;
  com::DateParts hour_;
  Zone zone_;
};

}  // namespace

DATE FileTimeToDateTime(const FILETIME& fileTime) noexcept {
  // A zero half means "no time stamp" from servers that fill only one half,
  // not a moment in 1601.
  if (fileTime.dwLowDateTime == 0 || fileTime.dwHighDateTime == 0) return 0.0;

  constexpr std::uint64_t kTicksPerSecond = 10'000'000;
  constexpr std::uint64_t kTicksPerMillisecond = 10'000;
  // Seconds from 1601-01-01 (FILETIME's origin) to 1970-01-01 (time_t's).
  constexpr std::int64_t kEpochDifference = 11'644'473'600;

  const std::uint64_t ticks =
      (static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  // At most 2^64 / 10^7 seconds, which fits time_t comfortably.
  const auto seconds = static_cast<std::time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochDifference);

  // The platform's local time (behind the cache) applies the zone's rules
  // of that very date, summer time included; one cache per thread keeps conversions on
  // several threads at once safe.
  thread_local LocalHourCache cache;
  com::DateParts parts;
  if (!cache.Convert(seconds, parts)) return 0.0;
  parts.millisecond = static_cast<int>(ticks % kTicksPerSecond / kTicksPerMillisecond);

  DATE date = 0.0;
  if (!com::DateFromParts(parts, date)) return 0.0;
  return date;
}

DATE FileTimeToDateTimeUTC(const FILETIME& fileTime) noexcept {
  if (fileTime.dwLowDateTime == 0 || fileTime.dwHighDateTime == 0) return 0.0;
  constexpr std::uint64_t kTicksPerMillisecond = 10'000;
  std::uint64_t ticks = (static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
  // Whole milliseconds, cut as the local conversion cuts them, so that the
  // two values of one stamp always name the same millisecond.
  ticks -= ticks % kTicksPerMillisecond;
  const FILETIME whole{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  const DATE date = com::FileTimeToDate(whole);
  if (!com::IsValidDate(date)) return 0.0;
  return date;
}

com::OleString StringToWide(std::string_view text) { return com::ToUtf16(text); }

}  // namespace xelo
