// The pure functions of the core: the variant type enumeration, server
// state, quality and error texts, value texts, time stamps and wide texts.
#include "xelo/core/XeloErrors.h"
#include "xelo/core/XeloFormat.h"
#include "xelo/core/XeloQuality.h"
#include "xelo/core/XeloStrings.h"

#include "support/ServerFixture.h"
#include "support/TimeZone.h"
#include "xelo/com/HResult.h"
#include "xelo/framework/Persistent.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/platform/Platform.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace xelo::test {
namespace {

constexpr std::int32_t Code(std::uint32_t bits) { return static_cast<std::int32_t>(bits); }

// A few ordinals typed in from the published list: a transcription error
// in the table shows here. Server states are named for 1 to 5 only.
TEST(Names, OfTheDatatypeOrdinalsAndTheServerStates) {
  const std::pair<int, const char*> known[] = {{0, "vtEMPTY"}, {14, "vtDECIMAL"}, {15, "vtundef"}, {31, "vtLPWSTR"}};
  for (const auto& [ordinal, name] : known) EXPECT_EQ(OPCADatatypeName(static_cast<OPCADatatype>(ordinal)), name);
  EXPECT_EQ(std::string(OPCADatatypeName(static_cast<OPCADatatype>(32))) +
                std::string(OPCADatatypeName(static_cast<OPCADatatype>(VT_ARRAY | VT_I4))), "");
  const TTypeInfoPtr& info = OPCADatatypeInfo();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(std::tuple(info->Name, GetEnumValue(*info, "vtR8")), std::tuple("OPCADatatype", std::optional<std::int64_t>(5)));
  EXPECT_EQ(ServerStateToStr(1) + "/" + ServerStateToStr(5), "running/test");  // the ends of the list
  for (std::int32_t state : {0, 6, -1, INT32_MIN, INT32_MAX}) EXPECT_EQ(ServerStateToStr(state), "") << state;
}

// Quality words typed in by hand from the published bit layout (QQSSSSLL),
// not computed from the constants the library uses; the vendor byte never
// shows.
TEST(Quality, TextsOfMajorSubstatusAndLimit) {
  const std::pair<WORD, const char*> texts[] = {
      {0x00, "bad"}, {0x08, "bad: not connected"}, {0x18, "bad: communication failure"}, {0x40, "uncertain"},
      {0x44, "uncertain: last usable value"}, {0x58, "uncertain: sub-normal"}, {0xC0, "good"},
      {0xD8, "good: local override"}, {0xC1, "good: low limited"}, {0xC3, "good: constant"},
      {0x56, "uncertain: engineering units exceeded, high limited"}, {0x0B, "bad: not connected, constant"},
      {0x24, "bad: substatus 9"}, {0xFC, "good: substatus 15"},  // numbers left free for that major quality
      {0x80, "invalid"}, {0x89, "invalid: substatus 2, low limited"},  // the unused major quality
  };
  for (const auto& [quality, text] : texts) {
    SCOPED_TRACE(quality);
    for (const WORD vendor : {0x0000, 0xAB00, 0xFF00}) EXPECT_EQ(QualityToStr(static_cast<WORD>(vendor | quality)), text);
  }
  EXPECT_EQ(std::string(QualityMajorStr(0xDB)) + "/" + std::string(QualitySubstatusStr(0xC3)) + "/" +
                std::string(QualitySubstatusStr(0x1F)) + "/" + std::string(QualityLimitStr(0x42)),
            "good//out of service/high limited");  // limit bits are no substatus
  // Whatever a server sends, the text starts with the major quality and
  // never ends in a separator.
  for (unsigned q = 0; q <= 0xFF; ++q) {
    const std::string text = QualityToStr(static_cast<WORD>(q));
    EXPECT_TRUE(!text.empty() && text.starts_with(QualityMajorStr(static_cast<WORD>(q))) &&
                std::string(" ,:").find(text.back()) == std::string::npos) << q;
  }
}

// A few codes typed in from the published code list: a typo in the
// library's table shows here.
TEST(OPCErrors, TextsOfTheTableAndWhatOPCCheckRaises) {
  const std::pair<std::uint32_t, const char*> known[] = {
      {0xC0040001, "The value of the handle is invalid."},
      {0xC0040004, "The server cannot convert the data between the\r\nrequested data type and the canonical data"},
      {0x0004000E, "A value passed to WRITE was accepted but the output was clamped."},
      {0xC0040205, "A refresh is currently in progress"},
  };
  for (const auto& [code, text] : known) {
    SCOPED_TRACE(::testing::Message() << "code 0x" << std::hex << code);
    EXPECT_EQ(GetOPCErrorMessage(Code(code)), text);
    if (Code(code) < 0) {
      EXPECT_EQ(MessageOf<EOPCException>([&] { OPCCheck(Code(code)); }), text);
    } else {
      EXPECT_NO_THROW(OPCCheck(Code(code)));  // a text, but still a success
    }
  }
  // Codes without an entry: unassigned DA codes, the success twins of table
  // codes, DA 3.0 and plain COM codes. Failures among them raise the COM
  // error with the system's text, never an EOPCException with an empty one.
  for (std::uint32_t code : {0x00000001u, 0xC0040002u, 0xC004000Du, 0xC0040012u, 0x0004000Cu, 0x80004005u}) {
    SCOPED_TRACE(::testing::Message() << "code 0x" << std::hex << code);
    EXPECT_EQ(GetOPCErrorMessage(Code(code)), "");
    // An EOPCException would escape and fail the test.
    EXPECT_EQ(OleErrorOf([&] { OPCCheck(Code(code)); }), std::min(Code(code), 0));
    EXPECT_EQ(MessageOf<EOleSysError>([&] { OPCCheck(Code(code)); }),
              Code(code) < 0 ? com::SystemMessageText(Code(code)) : "");
  }
  EXPECT_EQ(Format(_STR_UNKNOWN, Code(0xC0040002)), "unknown error : -1073479678");
}

TEST(ValueTexts, VarToAStrAndAStrToVar) {
  const std::pair<Variant, std::string> shown[] = {
      {Variant::Null(), ""},
      {Variant(OLESTR("Gr\u00FC\u00DFe")), "Gr\xC3\xBC\xC3\x9F" "e"},
      {Variant::Date(1e10), ""},  // no text: no exception either
      {Variant::Array(std::vector<Variant>{Variant(1), Variant("x"), Variant(), Variant(false)}), "1;x;;False;"},
      {Variant::Array(VT_I4, 0, -1), ""},
      {Variant::Array(std::vector<int>{1, 2, 3}, 1), ""},  // element 0 does not exist: nothing is shown
      {Variant::Array(std::vector<int>{9, 1, 2, 3}, -1), "1;2;3;"},  // element -1 is skipped
      {Variant::Array(VT_I4, {{0, 1}, {0, 1}}), ""},  // two dimensions
      {Variant::Array(std::vector<Variant>{Variant(7), Variant::Date(1e10), Variant(8)}), ""},  // partly converted
  };
  for (const auto& [value, text] : shown) EXPECT_EQ(VarToAStr(value), text) << text;

  const std::tuple<const char*, VARTYPE, VARTYPE, std::string> read[] = {
      {"-42", VT_I4, VT_I4, "-42"}, {"True", VT_BOOL, VT_BOOL, "True"},
      {"a;b", VT_BSTR, VT_BSTR, "a;b"},  // no array: the ";" is text
      {"2024-06-01 12:00:00", VT_DATE, VT_DATE, "2024-06-01 12:00:00"},
      {"12", VT_EMPTY, varString, "12"}};  // an unknown type keeps the text
  for (const auto& [text, type, stored, back] : read) {
    EXPECT_EQ(std::tuple(AStrToVar(text, type).VarType(), VarToStr(AStrToVar(text, type))), std::tuple(stored, back)) << text;
  }
  // Arrays read as VarToAStr writes them; a closing ";" is optional, empty
  // texts inside are elements, nothing at all is none.
  const Variant closed = AStrToVar("1;2.5;3;", VT_ARRAY | VT_R8);
  ASSERT_EQ(closed.VarType(), VT_ARRAY | VT_R8);
  EXPECT_EQ(std::tuple(VarArrayLowBound(closed, 1), VarArrayHighBound(closed, 1), VarToAStr(closed)),
            std::tuple(0, 2, "1;2.5;3;"));
  EXPECT_EQ(AStrToVar("1;2.5;3", VT_ARRAY | VT_R8), closed);
  EXPECT_EQ(VarToAStr(AStrToVar("a;;b;", VT_ARRAY | VT_BSTR)), "a;;b;");  // empty texts are elements
  EXPECT_EQ(std::tuple(VarArrayHighBound(AStrToVar("", VT_ARRAY | VT_I4), 1),
                       VarArrayHighBound(AStrToVar(";", VT_ARRAY | VT_BSTR), 1)),
            std::tuple(-1, 0));
  EXPECT_THROW(AStrToVar("70000", VT_I2), EConvertError);
  EXPECT_THROW(AStrToVar("1;x;3", VT_ARRAY | VT_R8), EConvertError);
}

// A FILETIME from seconds since 1970-01-01 00:00 UTC plus 100-ns ticks.
FILETIME FromUnix(std::int64_t seconds, std::uint64_t ticks = 0) {
  const std::uint64_t value = static_cast<std::uint64_t>(seconds + 11'644'473'600) * 10'000'000 + ticks;
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}
constexpr double kHour = 1.0 / 24;
constexpr double kSecond = 1.0 / 86400;
// Well below a millisecond (1.16e-8 days), well above a double's
// resolution at today's dates (about 4e-12).
constexpr double kTolerance = 1e-10;

// In Central European time.
TEST(FileTimeToDateTimeTest, LocalAndUTCValuesOfStampsAlsoFromTheCache) {
  const ScopedZone zone(kCentralEurope);
  // What, the stamp, its local time (0: no time) and its UTC.
  const std::tuple<const char*, FILETIME, double, double> cases[] = {
      {"zero", {0, 0}, 0, 0},
      {"one half zero", {0xD53E8000u, 0}, 0, 0},
      {"epoch written out", {0xD53E8000u, 0x019DB1DEu}, 25569 + kHour, 25569},
      {"summer", FromUnix(1'625'140'800), 44378 + 14 * kHour, 44378 + 12 * kHour},
      {"before spring change", FromUnix(1'616'893'199), 44283 + 7199 * kSecond, 44283 + 3599 * kSecond},
      {"after spring change", FromUnix(1'616'893'200), 44283 + 3 * kHour, 44283 + kHour},
      {"autumn, first 02:30", FromUnix(1'635'640'200), 44500 + 2.5 * kHour, 44500 + 0.5 * kHour},
      {"autumn, second 02:30", FromUnix(1'635'643'800), 44500 + 2.5 * kHour, 44500 + 1.5 * kHour},
      {"before 1970", FromUnix(-314'366'400), 21930 + 13 * kHour, 21930 + 12 * kHour},
      // 2^32 + 1 ticks after 1601-01-01: before 1899-12-30 the day counts
      // backwards, the time of day still forwards.
      {"earliest", {1, 1}, -109205 - (kHour + 429.496 * kSecond), -109205 - 429.496 * kSecond},
      {"finer ticks dropped", FromUnix(0, 2'509'999), 25569 + kHour + 0.25 * kSecond, 25569 + 0.25 * kSecond},
      {"10000 in both", FromUnix(253'402'300'800), 0, 0},
      {"10000 in local time only", FromUnix(253'402'299'000), 0, 2958465 + 23.5 * kHour},
      {"last local hour", FromUnix(253'402'293'600), 2958465 + 23 * kHour, 2958465 + 22 * kHour},
  };
  for (const auto& [what, stamp, local, utc] : cases) {
    EXPECT_NEAR(FileTimeToDateTime(stamp), local, local > 2e6 ? 1e-9 : kTolerance) << what;
    EXPECT_NEAR(FileTimeToDateTimeUTC(stamp), utc, utc > 2e6 ? 1e-9 : kTolerance) << what;
    EXPECT_TRUE(local != 0 || FileTimeToDateTime(stamp) == 0.0) << what;
  }
  com::DateParts parts;
  ASSERT_TRUE(com::PartsFromDate(FileTimeToDateTimeUTC(FromUnix(1'625'140'800, 1'239'999)), parts));
  EXPECT_EQ(parts, (com::DateParts{2021, 7, 1, 12, 0, 0, 123}));

  // Consecutive conversions are served from a cache of the current local
  // hour; it must give exactly what the zone in force gives for every
  // second, also in the hours where summer time begins or ends, in zones
  // whose offset is not a whole number of hours, and right after the zone
  // changed. Independent of the cache: the zone's own answer.
  const auto expected = [](std::int64_t seconds) {
    std::tm t{};
    xelo::platform::LocalTime(static_cast<std::time_t>(seconds), t);
    DATE date = 0;
    com::DateFromParts({t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, 250}, date);
    return date;
  };
  // 2026-03-29 00:00 UTC (summer time begins in Europe at 01:00 UTC),
  // 2026-03-08 (in North America, 2:00 local time) and 2026-10-03 12:00 UTC
  // (Lord Howe Island moves on by half an hour at 2:00 local time).
  const std::int64_t days[] = {1'774'742'400, 1'772'928'000, 1'791'028'800};
  for (const char* zone :
       {"CET-1CEST,M3.5.0,M10.5.0/3", "NST3:30NDT,M3.2.0,M11.1.0", "LHST-10:30LHDT-11,M10.1.0,M4.1.0", "IST-5:30"}) {
    SetZone(zone);
    for (const std::int64_t day : days) {
      // Every 7 seconds over 14 hours: many values per cached hour, every
      // hour boundary, both sides of each change.
      for (std::int64_t t = day; t < day + 14 * 3600; t += 7)
        ASSERT_EQ(FileTimeToDateTime(FromUnix(t, 2'500'000)), expected(t)) << zone << " at " << t;
    }
  }
}

// A wrapper of the common decoder (tested with the com layer): what matters
// here is that it reads the whole view and nothing past it, at any length.
TEST(StringToWide, ConvertsTheWholeViewAndNothingElse) {
  const std::pair<std::string_view, com::OleString> cases[] = {
      {"Gr\xC3\xBC\xC3\x9F" "e", OLESTR("Gr\u00FC\u00DFe")},
      {std::string_view("a\0b", 3), com::OleString(OLESTR("a\0b"), 3)},
      {std::string_view("a\xC3\xBC").substr(0, 2), OLESTR("a\uFFFD")},  // the byte after the view is not taken
  };
  for (const auto& [utf8, wide] : cases) EXPECT_EQ(StringToWide(utf8), wide) << utf8;
  // Longer than any fixed conversion buffer would be.
  EXPECT_EQ(StringToWide(std::string(5000, 'x') + "\xC3\xBC"), com::OleString(5000, OLESTR('x')) + OLESTR('\u00FC'));
}

}  // namespace
}  // namespace xelo::test
