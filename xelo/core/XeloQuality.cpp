#include "xelo/core/XeloQuality.h"

#include "xelo/opc/OpcTypes.h"

#include <array>
#include <cstddef>

namespace xelo {

namespace {

// The substatus words, indexed by the substatus number (bits 5..2). An
// empty entry is either the non-specific substatus (index 0) or one the
// standard does not define for that major quality.
constexpr std::array<std::string_view, 16> kBadSubstatus{
    "",                          // 0x00 non-specific
    "configuration error",       // 0x04
    "not connected",             // 0x08
    "device failure",            // 0x0C
    "sensor failure",            // 0x10
    "last known value",          // 0x14
    "communication failure",     // 0x18
    "out of service",            // 0x1C
    "waiting for initial data",  // 0x20, added by later servers
};
constexpr std::array<std::string_view, 16> kUncertainSubstatus{
    "",                            // 0x40 non-specific
    "last usable value",           // 0x44
    "",                            // 0x48
    "",                            // 0x4C
    "sensor not accurate",         // 0x50
    "engineering units exceeded",  // 0x54
    "sub-normal",                  // 0x58
};
constexpr std::array<std::string_view, 16> kGoodSubstatus{
    "",  // 0xC0 non-specific
    "",
    "",
    "",
    "",
    "",
    "local override",  // 0xD8
};

constexpr unsigned SubstatusNumber(WORD quality) { return (quality >> 2) & 0x0Fu; }

}  // namespace

std::string_view QualityMajorStr(WORD quality) noexcept {
  switch (quality & OPC_QUALITY_MASK) {
    case OPC_QUALITY_BAD:
      return "bad";
    case OPC_QUALITY_UNCERTAIN:
      return "uncertain";
    case OPC_QUALITY_GOOD:
      return "good";
    default:
      return "invalid";
  }
}

std::string QualitySubstatusStr(WORD quality) {
  const unsigned number = SubstatusNumber(quality);
  if (number == 0) return {};
  const std::array<std::string_view, 16>* words = nullptr;
  switch (quality & OPC_QUALITY_MASK) {
    case OPC_QUALITY_BAD:
      words = &kBadSubstatus;
      break;
    case OPC_QUALITY_UNCERTAIN:
      words = &kUncertainSubstatus;
      break;
    case OPC_QUALITY_GOOD:
      words = &kGoodSubstatus;
      break;
    default:
      break;
  }
  if (words != nullptr && !(*words)[number].empty()) return std::string((*words)[number]);
  // Shown by number rather than dropped: a vendor's substatus still tells
  // the engineer that the value is not simply good or bad.
  return "substatus " + std::to_string(number);
}

std::string_view QualityLimitStr(WORD quality) noexcept {
  switch (quality & OPC_LIMIT_MASK) {
    case OPC_LIMIT_LOW:
      return "low limited";
    case OPC_LIMIT_HIGH:
      return "high limited";
    case OPC_LIMIT_CONST:
      return "constant";
    default:
      return {};
  }
}

std::string QualityToStr(WORD quality) {
  std::string text(QualityMajorStr(quality));
  const std::string substatus = QualitySubstatusStr(quality);
  const std::string_view limit = QualityLimitStr(quality);
  if (substatus.empty() && limit.empty()) return text;
  text += ": ";
  text += substatus;
  if (!substatus.empty() && !limit.empty()) text += ", ";
  text += limit;
  return text;
}

}  // namespace xelo
