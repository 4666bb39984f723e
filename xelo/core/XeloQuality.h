// OPC quality words as text: the major quality, the substatus and the limit
// bits of a quality word decoded into the words an engineer reads, so that
// every tool of the library (the command-line client, the inspector) shows
// a quality the same way.
//
// A quality word's low byte is QQSSSSLL: Q the major quality (bad,
// uncertain, good), S the substatus within it, L the limit. The high byte
// belongs to the server's vendor and is ignored here.
//
// Contract: pure functions without state; callable from any thread; none
// raises (except std::bad_alloc).
#pragma once

#include "xelo/com/WinTypes.h"

#include <string>
#include <string_view>

namespace xelo {

// "bad", "uncertain" or "good"; "invalid" for the major quality that the
// standard leaves unused (bits 10).
std::string_view QualityMajorStr(WORD quality) noexcept;

// The substatus as words ("not connected", "sensor not accurate", "local
// override", ...); empty for the non-specific substatus of each major
// quality. A substatus the standard does not define for that major quality
// gives "substatus n" with n its number (0..15).
std::string QualitySubstatusStr(WORD quality);

// "low limited", "high limited", "constant", or empty when the value is
// not limited.
std::string_view QualityLimitStr(WORD quality) noexcept;

// The whole word: the major quality, then after ": " the substatus and the
// limit, joined by ", " when both are there. For example "good",
// "bad: not connected", "uncertain: sensor not accurate, low limited",
// "good: high limited".
std::string QualityToStr(WORD quality);

}  // namespace xelo
