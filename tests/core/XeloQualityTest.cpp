#include "xelo/core/XeloQuality.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace xelo;

// Quality words typed in by hand from the published bit layout (QQSSSSLL),
// not computed from the constants the library uses.
struct QualityText {
  WORD quality;
  const char* text;
};
constexpr QualityText kQualityTexts[] = {
    {0x00, "bad"},
    {0x04, "bad: configuration error"},
    {0x08, "bad: not connected"},
    {0x0C, "bad: device failure"},
    {0x10, "bad: sensor failure"},
    {0x14, "bad: last known value"},
    {0x18, "bad: communication failure"},
    {0x1C, "bad: out of service"},
    {0x20, "bad: waiting for initial data"},
    {0x40, "uncertain"},
    {0x44, "uncertain: last usable value"},
    {0x50, "uncertain: sensor not accurate"},
    {0x54, "uncertain: engineering units exceeded"},
    {0x58, "uncertain: sub-normal"},
    {0xC0, "good"},
    {0xD8, "good: local override"},
    // Limits, alone and behind a substatus.
    {0xC1, "good: low limited"},
    {0xC2, "good: high limited"},
    {0xC3, "good: constant"},
    {0x51, "uncertain: sensor not accurate, low limited"},
    {0x56, "uncertain: engineering units exceeded, high limited"},
    {0x0B, "bad: not connected, constant"},
    // Substatus numbers the standard leaves free for that major quality.
    {0x24, "bad: substatus 9"},
    {0x48, "uncertain: substatus 2"},
    {0xC4, "good: substatus 1"},
    {0xFC, "good: substatus 15"},
    // The unused major quality.
    {0x80, "invalid"},
    {0x89, "invalid: substatus 2, low limited"},
};

TEST(QualityToStr, DecodesMajorSubstatusAndLimit) {
  for (const QualityText& entry : kQualityTexts) {
    SCOPED_TRACE(entry.quality);
    EXPECT_EQ(QualityToStr(entry.quality), entry.text);
  }
}

TEST(QualityToStr, IgnoresTheVendorByte) {
  for (const QualityText& entry : kQualityTexts) {
    SCOPED_TRACE(entry.quality);
    EXPECT_EQ(QualityToStr(static_cast<WORD>(0xAB00 | entry.quality)), entry.text);
    EXPECT_EQ(QualityToStr(static_cast<WORD>(0xFF00 | entry.quality)), entry.text);
  }
}

TEST(QualityToStr, PartsOneByOne) {
  EXPECT_EQ(QualityMajorStr(0x00), "bad");
  EXPECT_EQ(QualityMajorStr(0x5B), "uncertain");
  EXPECT_EQ(QualityMajorStr(0xDB), "good");
  EXPECT_EQ(QualityMajorStr(0x80), "invalid");

  EXPECT_EQ(QualitySubstatusStr(0xC0), "");
  EXPECT_EQ(QualitySubstatusStr(0xC3), "");  // limit bits are no substatus
  EXPECT_EQ(QualitySubstatusStr(0x1F), "out of service");
  EXPECT_EQ(QualitySubstatusStr(0x5B), "sub-normal");

  EXPECT_EQ(QualityLimitStr(0xC0), "");
  EXPECT_EQ(QualityLimitStr(0x01), "low limited");
  EXPECT_EQ(QualityLimitStr(0x42), "high limited");
  EXPECT_EQ(QualityLimitStr(0xFF), "constant");
}

TEST(QualityToStr, EveryLowByteHasAText) {
  // Whatever a server sends, the text starts with the major quality and
  // never ends in a separator.
  for (unsigned q = 0; q <= 0xFF; ++q) {
    const std::string text = QualityToStr(static_cast<WORD>(q));
    SCOPED_TRACE(q);
    EXPECT_EQ(text.rfind(std::string(QualityMajorStr(static_cast<WORD>(q))), 0), 0u);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), ' ');
    EXPECT_NE(text.back(), ',');
    EXPECT_NE(text.back(), ':');
  }
}

}  // namespace
