#include "xelo/core/XeloFormat.h"

#include "xelo/framework/Persistent.h"

#include "xelo/com/OleDate.h"
#include "xelo/platform/Platform.h"

#include "support/TimeZone.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace xelo;

using xelo::test::SetZone;

// --- OPCADatatype ------------------------------------------------------------

// Typed in by hand from the published list of ordinals and names.
struct OrdinalName {
  int ordinal;
  const char* name;
};
constexpr OrdinalName kDatatypeNames[] = {
    {0, "vtEMPTY"},     {16, "vtI1"},       {1, "vtNULL"},      {17, "vtUI1"},    {2, "vtI2"},
    {18, "vtUI2"},      {3, "vtI4"},        {19, "vtUI4"},      {4, "vtR4"},      {20, "vtI8"},
    {5, "vtR8"},        {21, "vtUI8"},      {6, "vtCY"},        {22, "vtINT"},    {7, "vtDATE"},
    {23, "vtUINT"},     {8, "vtBSTR"},      {24, "vtVOID"},     {9, "vtDISPATCH"}, {25, "vtHRESULT"},
    {10, "vtERROR"},    {26, "vtPTR"},      {11, "vtBOOL"},     {27, "vtSAFEARRAY"}, {12, "vtVARIANT"},
    {28, "vtCARRAY"},   {13, "vtUNKNOWN"},  {29, "vtUSERDEFINED"}, {14, "vtDECIMAL"}, {30, "vtLPSTR"},
    {15, "vtundef"},    {31, "vtLPWSTR"},
};

TEST(OPCADatatype, NamesAllThirtyTwoOrdinals) {
  ASSERT_EQ(OPCADatatypeNames.size(), 32u);
  ASSERT_EQ(std::size(kDatatypeNames), 32u);
  for (const OrdinalName& entry : kDatatypeNames) {
    SCOPED_TRACE(entry.name);
    EXPECT_EQ(OPCADatatypeNames[static_cast<std::size_t>(entry.ordinal)], entry.name);
    EXPECT_EQ(OPCADatatypeName(static_cast<OPCADatatype>(entry.ordinal)), entry.name);
  }
  EXPECT_EQ(OPCADatatypeName(static_cast<OPCADatatype>(32)), "");
  EXPECT_EQ(OPCADatatypeName(static_cast<OPCADatatype>(VT_ARRAY | VT_I4)), "");
}

TEST(OPCADatatype, OrdinalIsTheVariantTypeCode) {
  struct Pair {
    OPCADatatype type;
    VARTYPE vt;
  };
  const Pair pairs[] = {
      {vtEMPTY, VT_EMPTY},       {vtNULL, VT_NULL},         {vtI2, VT_I2},           {vtI4, VT_I4},
      {vtR4, VT_R4},             {vtR8, VT_R8},             {vtCY, VT_CY},           {vtDATE, VT_DATE},
      {vtBSTR, VT_BSTR},         {vtDISPATCH, VT_DISPATCH}, {vtERROR, VT_ERROR},     {vtBOOL, VT_BOOL},
      {vtVARIANT, VT_VARIANT},   {vtUNKNOWN, VT_UNKNOWN},   {vtDECIMAL, VT_DECIMAL}, {vtI1, VT_I1},
      {vtUI1, VT_UI1},           {vtUI2, VT_UI2},           {vtUI4, VT_UI4},         {vtI8, VT_I8},
      {vtUI8, VT_UI8},           {vtINT, VT_INT},           {vtUINT, VT_UINT},       {vtVOID, VT_VOID},
      {vtHRESULT, VT_HRESULT},   {vtPTR, VT_PTR},           {vtSAFEARRAY, VT_SAFEARRAY},
      {vtCARRAY, VT_CARRAY},     {vtUSERDEFINED, VT_USERDEFINED}, {vtLPSTR, VT_LPSTR}, {vtLPWSTR, VT_LPWSTR},
  };
  EXPECT_EQ(std::size(pairs), 31u);
  for (const Pair& p : pairs) {
    SCOPED_TRACE(OPCADatatypeName(p.type));
    EXPECT_EQ(static_cast<VARTYPE>(p.type), p.vt);
  }
  EXPECT_EQ(static_cast<VARTYPE>(vtundef), 15);
  static_assert(sizeof(OPCADatatype) == sizeof(VARTYPE));
}

// A class with a published OPCADatatype property, as groups and items will
// have one for their requested type.
class TTestTyped : public TPersistent {
  XELO_CLASS(TTestTyped, TPersistent)
 public:
  OPCADatatype GetDataType() const { return type_; }
  void SetDataType(OPCADatatype type) { type_ = type; }

 private:
  OPCADatatype type_ = vtEMPTY;
};
TClass TTestTyped::StaticClass() {
  static const TMetaClass meta = TClassBuilder<TTestTyped>("TTestTyped")
                                     .Enum("DataType", &TTestTyped::GetDataType, &TTestTyped::SetDataType,
                                           OPCADatatypeInfo(), Default(vtEMPTY))
                                     .Build();
  return &meta;
}

TEST(OPCADatatype, ServesAsPublishedEnumerationType) {
  const TTypeInfoPtr& info = OPCADatatypeInfo();
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(&info, &OPCADatatypeInfo());
  EXPECT_EQ(info->Kind, tkEnumeration);
  EXPECT_EQ(info->Name, "OPCADatatype");
  EXPECT_EQ(info->EnumValues.size(), 32u);
  EXPECT_EQ(GetEnumName(*info, 15), "vtundef");
  EXPECT_EQ(GetEnumName(*info, 31), "vtLPWSTR");
  EXPECT_EQ(GetEnumValue(*info, "vtR8"), std::optional<std::int64_t>(5));

  TTestTyped typed;
  SetEnumProp(typed, "DataType", "vtUI4");
  EXPECT_EQ(typed.GetDataType(), vtUI4);
  typed.SetDataType(vtundef);
  EXPECT_EQ(GetEnumProp(typed, "DataType"), "vtundef");
  EXPECT_THROW(SetEnumProp(typed, "DataType", "vtARRAY"), EPropertyError);
}

// --- Server states ---------------------------------------------------------------

TEST(ServerState, TableHoldsSixShortTexts) {
  const char* const expected[6] = {"none", "running", "failed", "no config", "suspended", "test"};
  ASSERT_EQ(OPCStateStr.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(OPCStateStr[i], expected[i]);
    EXPECT_LE(OPCStateStr[i].size(), 10u);
  }
}

TEST(ServerState, NamesTheStatesOneToFive) {
  EXPECT_EQ(ServerStateToStr(1), "running");
  EXPECT_EQ(ServerStateToStr(2), "failed");
  EXPECT_EQ(ServerStateToStr(3), "no config");
  EXPECT_EQ(ServerStateToStr(4), "suspended");
  EXPECT_EQ(ServerStateToStr(5), "test");
}

TEST(ServerState, IsEmptyForEveryOtherNumber) {
  for (std::int32_t state : {0, 6, -1, 100, std::numeric_limits<std::int32_t>::min(),
                             std::numeric_limits<std::int32_t>::max()}) {
    SCOPED_TRACE(state);
    EXPECT_EQ(ServerStateToStr(state), "");
  }
}

// --- VarToAStr -------------------------------------------------------------------

TEST(VarToAStr, ShowsSingleValuesAsVarToStrDoes) {
  EXPECT_EQ(VarToAStr(Variant()), "");
  EXPECT_EQ(VarToAStr(Variant::Null()), "");
  EXPECT_EQ(VarToAStr(Variant("abc")), "abc");
  EXPECT_EQ(VarToAStr(Variant(OLESTR("Gr\u00FC\u00DFe"))), "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(VarToAStr(Variant(42)), "42");
  EXPECT_EQ(VarToAStr(Variant(true)), "True");
}

TEST(VarToAStr, IsEmptyForAValueWithoutText) {
  std::string text = "unchanged";
  EXPECT_NO_THROW(text = VarToAStr(Variant::Date(1e10)));
  EXPECT_EQ(text, "");
}

TEST(VarToAStr, JoinsArrayElementsEachFollowedBySemicolon) {
  EXPECT_EQ(VarToAStr(Variant::Array(std::vector<int>{1, 2, 3})), "1;2;3;");
  EXPECT_EQ(VarToAStr(Variant::Array(std::vector<std::string>{"a", "", "b"})), "a;;b;");
  EXPECT_EQ(VarToAStr(Variant::Array(std::vector<Variant>{Variant(1), Variant("x"), Variant(), Variant(false)})),
            "1;x;;False;");
  EXPECT_EQ(VarToAStr(Variant::Array(VT_I4, 0, -1)), "");
}

TEST(VarToAStr, StartsAtIndexZeroWhateverTheLowerBound) {
  // Element 0 does not exist: nothing at all is shown.
  EXPECT_EQ(VarToAStr(Variant::Array(std::vector<int>{1, 2, 3}, 1)), "");
  // Element -1 exists but is skipped.
  EXPECT_EQ(VarToAStr(Variant::Array(std::vector<int>{9, 1, 2, 3}, -1)), "1;2;3;");
}

// --- AStrToVar -------------------------------------------------------------------

TEST(AStrToVar, ConvertsASingleValueToTheGivenType) {
  const Variant i4 = AStrToVar("-42", VT_I4);
  EXPECT_EQ(i4.VarType(), VT_I4);
  EXPECT_EQ(i4.AsVARIANT().lVal, -42);
  const Variant r8 = AStrToVar("2.5", VT_R8);
  EXPECT_EQ(r8.VarType(), VT_R8);
  EXPECT_EQ(r8.AsVARIANT().dblVal, 2.5);
  const Variant flag = AStrToVar("True", VT_BOOL);
  EXPECT_EQ(flag.VarType(), VT_BOOL);
  EXPECT_EQ(flag.AsVARIANT().boolVal, VARIANT_TRUE);
  const Variant text = AStrToVar("a;b", VT_BSTR);  // no array: the ";" is text
  EXPECT_EQ(text.VarType(), VT_BSTR);
  EXPECT_EQ(VarToStr(text), "a;b");
  const Variant date = AStrToVar("2024-06-01 12:00:00", VT_DATE);
  EXPECT_EQ(date.VarType(), VT_DATE);
  EXPECT_EQ(VarToStr(date), "2024-06-01 12:00:00");
}

TEST(AStrToVar, KeepsTheTextForAnUnknownType) {
  const Variant v = AStrToVar("12", VT_EMPTY);
  EXPECT_EQ(v.VarType(), varString);
  EXPECT_EQ(VarToStr(v), "12");
}

TEST(AStrToVar, ReadsArraysAsVarToAStrWritesThem) {
  const Variant closed = AStrToVar("1;2.5;3;", VT_ARRAY | VT_R8);
  ASSERT_EQ(closed.VarType(), VT_ARRAY | VT_R8);
  EXPECT_EQ(VarArrayLowBound(closed, 1), 0);
  EXPECT_EQ(VarArrayHighBound(closed, 1), 2);
  EXPECT_EQ(closed.GetElement(1).ToDouble(), 2.5);
  EXPECT_EQ(VarToAStr(closed), "1;2.5;3;");
  // Without the closing ";" the same three elements.
  EXPECT_EQ(AStrToVar("1;2.5;3", VT_ARRAY | VT_R8), closed);
  // Empty texts inside are elements of their own.
  const Variant texts = AStrToVar("a;;b;", VT_ARRAY | VT_BSTR);
  EXPECT_EQ(VarArrayHighBound(texts, 1), 2);
  EXPECT_EQ(VarToAStr(texts), "a;;b;");
  // Nothing at all is no element; a lone ";" is one empty one.
  EXPECT_EQ(VarArrayHighBound(AStrToVar("", VT_ARRAY | VT_I4), 1), -1);
  EXPECT_EQ(VarArrayHighBound(AStrToVar(";", VT_ARRAY | VT_BSTR), 1), 0);
}

TEST(AStrToVar, RefusesWhatTheTypeCannotHold) {
  EXPECT_THROW(AStrToVar("abc", VT_I4), EConvertError);
  EXPECT_THROW(AStrToVar("70000", VT_I2), EConvertError);
  EXPECT_THROW(AStrToVar("1;x;3", VT_ARRAY | VT_R8), EConvertError);
}

TEST(VarToAStr, IsEmptyForATwoDimensionalArray) {
  Variant matrix = Variant::Array(VT_I4, {{0, 1}, {0, 1}});
  matrix.SetElement({0, 0}, Variant(1));
  matrix.SetElement({1, 1}, Variant(4));
  EXPECT_EQ(VarToAStr(matrix), "");
}

TEST(VarToAStr, DropsAPartlyConvertedArray) {
  // The first element converts, the second has no text.
  const Variant mixed = Variant::Array(std::vector<Variant>{Variant(7), Variant::Date(1e10), Variant(8)});
  EXPECT_EQ(VarToAStr(mixed), "");
}

// --- FileTimeToDateTime ---------------------------------------------------------------

// Puts the process into Central European time (CET, UTC+1; CEST, UTC+2,
// from the last Sunday of March 01:00 UTC to the last Sunday of October
// 01:00 UTC) and restores the previous zone afterwards.
class FileTimeToDateTimeTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
    SetZone(xelo::test::kCentralEurope);
  }
  void TearDown() override { SetZone(saved_ ? saved_->c_str() : nullptr); }

  // A FILETIME from seconds since 1970-01-01 00:00 UTC plus 100-ns ticks.
  static FILETIME FromUnix(std::int64_t seconds, std::uint64_t ticks = 0) {
    const std::uint64_t value =
        static_cast<std::uint64_t>(seconds + 11'644'473'600) * 10'000'000 + ticks;
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
  }

  static constexpr double kHour = 1.0 / 24;
  static constexpr double kSecond = 1.0 / 86400;
  // Well below a millisecond (1.16e-8 days), well above a double's
  // resolution at today's dates (about 4e-12).
  static constexpr double kTolerance = 1e-10;

 private:
  std::optional<std::string> saved_;
};

TEST_F(FileTimeToDateTimeTest, ZeroMeansNoTime) {
  EXPECT_EQ(FileTimeToDateTime(FILETIME{0, 0}), 0.0);
  // Either half zero counts as no time stamp, though the other half is set.
  EXPECT_EQ(FileTimeToDateTime(FILETIME{0xD53E8000u, 0}), 0.0);
  EXPECT_EQ(FileTimeToDateTime(FILETIME{0, 0x019DB1DEu}), 0.0);
}

TEST_F(FileTimeToDateTimeTest, UnixEpochIsOneHourLaterInWinter) {
  // 1970-01-01 00:00 UTC, written out.
  EXPECT_DOUBLE_EQ(FileTimeToDateTime(FILETIME{0xD53E8000u, 0x019DB1DEu}), 25569 + kHour);
  EXPECT_DOUBLE_EQ(FileTimeToDateTime(FromUnix(0)), 25569 + kHour);
}

TEST_F(FileTimeToDateTimeTest, SummerDatesAreTwoHoursLater) {
  // 2021-07-01 12:00 UTC is 14:00 CEST, day 44378.
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(1'625'140'800)), 44378 + 14 * kHour, kTolerance);
  // 2021-01-15 12:00 UTC is 13:00 CET, day 44211.
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(1'610'712'000)), 44211 + 13 * kHour, kTolerance);
}

TEST_F(FileTimeToDateTimeTest, FollowsTheRulesOfTheDateAcrossTheChanges) {
  // Spring: 2021-03-28 00:59:59 UTC is 01:59:59 CET, one second later it
  // is 03:00:00 CEST (day 44283).
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(1'616'893'199)), 44283 + 7199 * kSecond, kTolerance);
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(1'616'893'200)), 44283 + 3 * kHour, kTolerance);
  // Autumn: 2021-10-31 00:30 and 01:30 UTC are both 02:30 local (day 44500).
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(1'635'640'200)), 44500 + 2.5 * kHour, kTolerance);
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(1'635'643'800)), 44500 + 2.5 * kHour, kTolerance);
}

TEST_F(FileTimeToDateTimeTest, HandlesDatesBefore1970) {
  // Negative time_t values: 1960-01-15 12:00 UTC is 13:00 CET, day 21930.
  // (A winter date on purpose: whether summer time applies before 1970 is
  // the C library's call for a zone given as a rule.)
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(-314'366'400)), 21930 + 13 * kHour, kTolerance);
  // The earliest FILETIME with both halves set, 2^32 + 1 ticks after
  // 1601-01-01 00:00 UTC: 00:07:09.496 UTC, 01:07:09.496 local on day
  // -109205 (before 1899-12-30 the day counts backwards, the time of day
  // still forwards).
  EXPECT_NEAR(FileTimeToDateTime(FILETIME{1, 1}), -109205 - (kHour + 429.496 * kSecond), kTolerance);
}

TEST_F(FileTimeToDateTimeTest, KeepsMillisecondsAndDropsFinerTicks) {
  // 1970-01-01 00:00:00.250 UTC, and 0.2509999 s which is still 250 ms.
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(0, 2'500'000)), 25569 + kHour + 0.25 * kSecond, kTolerance);
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(0, 2'509'999)), 25569 + kHour + 0.25 * kSecond, kTolerance);
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(0, 9'999'999)), 25569 + kHour + 0.999 * kSecond, kTolerance);
}

TEST_F(FileTimeToDateTimeTest, GivesZeroBeyondTheLastDate) {
  // 2^64 - 1 ticks lies in the year 60056.
  EXPECT_EQ(FileTimeToDateTime(FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu}), 0.0);
  // 10000-01-01 00:00 UTC is already past 9999 in local time.
  EXPECT_EQ(FileTimeToDateTime(FromUnix(253'402'300'800)), 0.0);
  // 9999-12-31 22:00 UTC is 23:00 local, still valid (day 2958465).
  EXPECT_NEAR(FileTimeToDateTime(FromUnix(253'402'293'600)), 2958465 + 23 * kHour, 1e-9);
}

// The UTC value of a stamp reads no zone at all: the fixture's CET must not
// show, the hour repeated in autumn keeps its two instants apart, and the
// same millisecond is cut as in the local value.
TEST_F(FileTimeToDateTimeTest, TheUTCValueIgnoresTheZone) {
  EXPECT_EQ(FileTimeToDateTimeUTC(FILETIME{0, 0}), 0.0);
  EXPECT_EQ(FileTimeToDateTimeUTC(FILETIME{0xD53E8000u, 0}), 0.0);
  EXPECT_EQ(FileTimeToDateTimeUTC(FILETIME{0, 0x019DB1DEu}), 0.0);
  EXPECT_DOUBLE_EQ(FileTimeToDateTimeUTC(FromUnix(0)), 25569.0);
  // 2021-10-31 00:30 and 01:30 UTC: both 02:30 local, an hour apart in UTC.
  const FILETIME first = FromUnix(1'635'640'200);
  const FILETIME second = FromUnix(1'635'643'800);
  EXPECT_EQ(FileTimeToDateTime(first), FileTimeToDateTime(second));
  EXPECT_NEAR(FileTimeToDateTimeUTC(first), 44500 + 0.5 * kHour, kTolerance);
  EXPECT_NEAR(FileTimeToDateTimeUTC(second), 44500 + 1.5 * kHour, kTolerance);
  // Summer: 2021-07-01 12:00 UTC is 12:00 here, 14:00 in the local value.
  EXPECT_NEAR(FileTimeToDateTimeUTC(FromUnix(1'625'140'800)), 44378 + 12 * kHour, kTolerance);
  EXPECT_NEAR(FileTimeToDateTimeUTC(FromUnix(0, 2'509'999)), 25569 + 0.25 * kSecond, kTolerance);
  com::DateParts parts;
  ASSERT_TRUE(com::PartsFromDate(FileTimeToDateTimeUTC(FromUnix(1'625'140'800, 1'239'999)), parts));
  EXPECT_EQ(parts, (com::DateParts{2021, 7, 1, 12, 0, 0, 123}));
  // 9999-12-31 23:30 UTC is already the year 10000 in local time, not in UTC.
  EXPECT_EQ(FileTimeToDateTime(FromUnix(253'402'299'000)), 0.0);
  EXPECT_NEAR(FileTimeToDateTimeUTC(FromUnix(253'402'299'000)), 2958465 + 23.5 * kHour, 1e-9);
  EXPECT_EQ(FileTimeToDateTimeUTC(FromUnix(253'402'300'800)), 0.0);
  EXPECT_EQ(FileTimeToDateTimeUTC(FILETIME{0xFFFFFFFFu, 0xFFFFFFFFu}), 0.0);
}

TEST_F(FileTimeToDateTimeTest, UsesTheZoneInForceAtTheCall) {
  SetZone("UTC0");
  EXPECT_DOUBLE_EQ(FileTimeToDateTime(FromUnix(0)), 25569.0);
  SetZone("EST5");
  EXPECT_DOUBLE_EQ(FileTimeToDateTime(FromUnix(0)), 25568 + 19 * kHour);
}

// Consecutive conversions are served from a cache of the current local
// hour; it must give exactly what the zone gives for every second, also in
// the hours where summer time begins or ends, in zones whose offset is not
// a whole number of hours, and right after the zone changed.
TEST_F(FileTimeToDateTimeTest, CachedHoursAgreeWithTheZoneAcrossChanges) {
  // Independent of the cache: the zone's own answer for that second.
  const auto expected = [](std::int64_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm local{};
    xelo::platform::LocalTime(t, local);
    com::DateParts parts;
    parts.year = local.tm_year + 1900;
    parts.month = local.tm_mon + 1;
    parts.day = local.tm_mday;
    parts.hour = local.tm_hour;
    parts.minute = local.tm_min;
    parts.second = local.tm_sec;
    parts.millisecond = 250;
    DATE date = 0;
    com::DateFromParts(parts, date);
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
      for (std::int64_t t = day; t < day + 14 * 3600; t += 7) {
        ASSERT_EQ(FileTimeToDateTime(FromUnix(t, 2'500'000)), expected(t)) << zone << " at " << t;
      }
    }
  }
}

// --- StringToWide -----------------------------------------------------------------------

TEST(StringToWide, ConvertsUtf8ToUtf16) {
  EXPECT_EQ(StringToWide(""), OLESTR(""));
  EXPECT_EQ(StringToWide("Channel 1.Device 1.Ramp"), OLESTR("Channel 1.Device 1.Ramp"));
  EXPECT_EQ(StringToWide("Gr\xC3\xBC\xC3\x9F" "e"), OLESTR("Gr\u00FC\u00DFe"));
  EXPECT_EQ(StringToWide("\xE2\x82\xAC"), OLESTR("\u20AC"));
  // Outside the basic plane: a surrogate pair.
  EXPECT_EQ(StringToWide("\xF0\x9D\x84\x9E"), xelo::com::OleString({OLECHAR(0xD834), OLECHAR(0xDD1E)}));
}

TEST(StringToWide, KeepsEmbeddedNulAndLongTexts) {
  EXPECT_EQ(StringToWide(std::string_view("a\0b", 3)), xelo::com::OleString(OLESTR("a\0b"), 3));
  // Longer than any fixed conversion buffer would be.
  const std::string longText = std::string(5000, 'x') + "\xC3\xBC";
  const xelo::com::OleString wide = StringToWide(longText);
  ASSERT_EQ(wide.size(), 5001u);
  EXPECT_EQ(wide.substr(0, 5000), xelo::com::OleString(5000, OLESTR('x')));
  EXPECT_EQ(wide[5000], OLESTR('\u00FC'));
}

TEST(StringToWide, ReplacesInvalidUtf8) {
  EXPECT_EQ(StringToWide("\xFF"), OLESTR("\uFFFD"));
  EXPECT_EQ(StringToWide("a\x80" "b"), OLESTR("a\uFFFD") "b");
  // A sequence broken off by a plain character keeps the character.
  EXPECT_EQ(StringToWide("x\xE2\x82y"), OLESTR("x\uFFFDy"));
  // Truncated at the very end.
  EXPECT_EQ(StringToWide("a\xC3"), OLESTR("a\uFFFD"));
  EXPECT_EQ(StringToWide("a\xF0\x9D\x84"), OLESTR("a\uFFFD"));
}

TEST(StringToWide, ReplacesOverlongAndSurrogateSequences) {
  // How many replacement characters such a sequence becomes is the
  // decoder's business; what matters is that none of it comes through as a
  // character and the text around it survives.
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80"}) {
    SCOPED_TRACE(bad);
    const xelo::com::OleString wide = StringToWide(std::string("x") + bad + "y");
    ASSERT_GE(wide.size(), 3u);
    EXPECT_EQ(wide.front(), OLESTR('x'));
    EXPECT_EQ(wide.back(), OLESTR('y'));
    for (std::size_t i = 1; i + 1 < wide.size(); ++i) EXPECT_EQ(wide[i], OLESTR('\uFFFD'));
  }
}

TEST(StringToWide, NeverReadsPastTheEndOfTheText) {
  // The byte after the view would complete the sequence; it must not be
  // taken.
  const std::string buffer = "a\xC3\xBC";
  EXPECT_EQ(StringToWide(std::string_view(buffer).substr(0, 2)), OLESTR("a\uFFFD"));
}

}  // namespace
