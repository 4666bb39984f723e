#include "xelo/framework/SysUtils.h"

#include "xelo/com/HResult.h"
#include "xelo/framework/Exceptions.h"
#include "support/Expectations.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

using namespace xelo;

const auto ConvertErrorOf = [](auto call) { return xelo::testing::MessageOf<EConvertError>(call); };

// Each row: what the call gave, what it should give.
using Results = std::vector<std::pair<std::string, std::string>>;

void ExpectRows(const Results& rows) {
  for (const auto& [got, expected] : rows) EXPECT_EQ(got, expected);
}

// Result codes print signed with %d and as their bits with %u and %x; the
// width of the argument's own type decides the bits shown.
TEST(SysUtilsFormat, FillsDirectivesByPositionOrIndexWithWidthAlignmentAndPrecision) {
  ExpectRows({
      {Format("%1:s %0:s %s", "a", "b"), "b a b"},  // continues after the index
      {Format("%s.%s", std::string("Form1"), std::string_view("Edit1")), "Form1.Edit1"},
      {Format("%d items, %u bytes", 3, 10u), "3 items, 10 bytes"},  {Format("100%% done"), "100% done"},
      {Format("%x/%X", 0xBEEF, 0xBEEF), "beef/BEEF"},  {Format("%d", std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {Format("%u", std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {Format("unknown error : %d", E_FAIL), "unknown error : -2147467259"},  {Format("%x", E_FAIL), "80004005"},
      {Format("%u", E_FAIL), "2147500037"},  {Format("%x", -1), "ffffffff"},  {Format("%x", static_cast<std::int8_t>(-1)), "ff"},
      {Format("%u", static_cast<std::int64_t>(-1)), "18446744073709551615"},
      // Widths and precisions count characters, not the bytes of UTF-8; %f has
      // two decimals unless told otherwise; a float widens exactly (-12.25 rounds to even).
      {Format("[%5s][%-5s]", "ab", "cd"), "[   ab][cd   ]"},  {Format("[%4d][%-4d]", -7, 7), "[  -7][7   ]"},
      {Format("[%2s]", "longer"), "[longer]"},  {Format("%.4d|%.3d|%.4x|%8.4X", 42, -5, 255, 255), "0042|-005|00ff|    00FF"},
      {Format("%.3s", "abcdef"), "abc"},  {Format("[%*d][%-*d][%.*s]", 4, 7, 3, 8, 2, "xyz"), "[   7][8  ][xy]"},
      {Format("[%3s]", "\xC3\xA4"), "[  \xC3\xA4]"},  {Format("%.2s", "\xC3\xA4\xC3\xB6\xC3\xBC"), "\xC3\xA4\xC3\xB6"},
      {Format("%.2f", 3.14159), "3.14"},  {Format("%f", 1.5), "1.50"},  {Format("%.3f", 2.0 / 3.0), "0.667"},
      {Format("%.0f", 1234.9), "1235"},  {Format("[%8.1f]", -12.25f), "[   -12.2]"},
      {Format("%.2f", std::numeric_limits<double>::infinity()), "INF"},
  });
}

TEST(SysUtilsFormat, RaisesConvertErrorsNamingTheDirective) {
  const auto invalid = [](const char* directive) {
    return std::string("Format '") + directive + "' invalid or incompatible with argument";
  };
  ExpectRows({
      {ConvertErrorOf([] { Format("%d", "abc"); }), invalid("%d")},  {ConvertErrorOf([] { Format("value %5s", 5); }), invalid("%5s")},
      {ConvertErrorOf([] { Format("%x", 1.5); }), invalid("%x")},  {ConvertErrorOf([] { Format("%q", 1); }), invalid("%q")},
      {ConvertErrorOf([] { Format("50%", 1); }), invalid("%")},  {ConvertErrorOf([] { Format("%-12", 1); }), invalid("%-12")},
      {ConvertErrorOf([] { Format("%*d", "w", 1); }), invalid("%*")},
      {ConvertErrorOf([] { Format("%d and %d", 1); }), "No argument for format '%d'"},
      {ConvertErrorOf([] { Format("%3:s", "a"); }), "No argument for format '%3:s'"},
  });
}

TEST(SysUtilsText, TrimsComparesConvertsCaseQuotesAndChecksIdentifiers) {
  // A no-break space in UTF-8 (C2 A0) is text, not a control character.
  ExpectRows({{Trim("\t\r\n  a b \x01\x1F"), "a b"},  {TrimLeft("  a  "), "a  "},  {TrimRight("  a \n"), "  a"},
              {Trim(" \t\r\n"), ""},  {Trim("\xC2\xA0x\xC2\xA0"), "\xC2\xA0x\xC2\xA0"},  {Trim(std::string_view("\0a\0", 3)), "a"},
              {UpperCase("Mixed 1\xC3\xA4"), "MIXED 1\xC3\xA4"},  {LowerCase("MiXeD"), "mixed"},  {QuotedStr("It's"), "'It''s'"},
              {QuotedStr(""), "''"},  {QuotedStr("say \"hi\"", '"'), "\"say \"\"hi\"\"\""}});
  EXPECT_TRUE(SameText("OPC Group", "opc group"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_FALSE(SameText("\xC3\xA4", "\xC3\x84"));  // only ASCII letters fold
  EXPECT_LT(CompareText("apple", "BANANA"), 0);
  EXPECT_GT(CompareStr("apple", "BANANA"), 0);  // 'a' comes after 'B' in bytes
  EXPECT_LT(CompareText("ab", "abc"), 0);
  EXPECT_GT(CompareText("_", "a"), 0);  // letters fold to upper case, before '_'
  for (const char* good : {"Abc_1", "_x", "x", "TXeloServer"}) EXPECT_TRUE(IsValidIdent(good)) << good;
  for (const char* bad : {"", "1a", "a-b", "a b", "\xC3\xA4", "a.b"}) EXPECT_FALSE(IsValidIdent(bad)) << bad;
  EXPECT_TRUE(IsValidIdent("Unit.Name", true));
  for (const char* bad : {"a..b", ".a", "a.", "a.1b"}) EXPECT_FALSE(IsValidIdent(bad, true)) << bad;
}

TEST(SysUtilsIntegers, WritesAndParsesSignsBlanksAndHexadecimal) {
  ExpectRows({{IntToStr(-42), "-42"},  {IntToStr(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
              {IntToStr(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},  {IntToHex(255, 4), "00FF"},
              {IntToHex(0x12345, 2), "12345"},  {IntToHex(-1, 2), "FFFFFFFF"},
              {IntToHex(static_cast<std::int16_t>(-2), 0), "FFFE"},  {IntToHex(E_FAIL, 8), "80004005"}});
  // A hexadecimal text is a bit pattern.
  EXPECT_EQ((std::vector<int>{StrToInt(" 42 "), StrToInt("+5"), StrToInt("$1F"), StrToInt("0x1f"), StrToInt("-$10"),
                              StrToInt("$FFFFFFFF"), StrToInt("$80004005"), StrToInt("2147483647"), StrToInt("-2147483648")}),
            (std::vector<int>{42, 5, 31, 31, -16, -1, static_cast<int>(E_FAIL), 2147483647, std::numeric_limits<int>::min()}));
  EXPECT_EQ((std::vector<std::int64_t>{StrToInt64("9223372036854775807"), StrToInt64("-9223372036854775808"),
                                       StrToInt64("$FFFFFFFFFFFFFFFF"), StrToInt64("4294967296")}),
            (std::vector<std::int64_t>{std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(), -1,
                                       4294967296LL}));
}

TEST(SysUtilsIntegers, RefusesInvalidAndOutOfRangeTexts) {
  EXPECT_EQ(ConvertErrorOf([] { StrToInt("abc"); }), "'abc' is not a valid integer value");
  EXPECT_EQ(ConvertErrorOf([] { StrToInt64(" 12a"); }), "' 12a' is not a valid integer value");
  for (const char* bad : {"", " ", "-", "+-1", "1 2", "0x", "$", "$G", "2147483648", "-2147483649", "$100000000", "1.0"}) {
    int value = 0;
    EXPECT_FALSE(TryStrToInt(bad, value)) << bad;
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  }
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_THROW(StrToInt64("$10000000000000000"), EConvertError);
  EXPECT_EQ((std::vector<std::int64_t>{StrToIntDef("x", 7), StrToIntDef("8", 7), StrToInt64Def("", -1)}),
            (std::vector<std::int64_t>{7, 8, -1}));
  int value = 0;
  EXPECT_TRUE(TryStrToInt("$7fffffff", value));
  EXPECT_EQ(value, 2147483647);
}

TEST(SysUtilsFloats, WritesTheShortestTextThatReadsBackExactlyAndParsesDecimalNumbersOnly) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0.1, "0.1"},         {1.0, "1"},         {-2.5, "-2.5"},     {123456.789, "123456.789"},
      {1e14, "100000000000000"},                {1e15, "1E15"},     {0.00001, "0.00001"},
      {1.5e-7, "1.5E-7"},   {-0.0, "0"},        {1e300, "1E300"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatToStr(c.value), c.text) << c.text;
  ExpectRows({{FloatToStr(std::numeric_limits<double>::quiet_NaN()), "NAN"},
              {FloatToStr(-std::numeric_limits<double>::infinity()), "-INF"},  {FloatToStr(0.1f), "0.1"},
              {FloatToStr(16777216.0f), "16777216"}});
  EXPECT_EQ((std::vector<double>{StrToFloat("1.5"), StrToFloat(" -2.5e3 "), StrToFloat(".5"), StrToFloat("7."),
                                 StrToFloat("-INF"), StrToFloatDef("x", 2.5)}),
            (std::vector<double>{1.5, -2500.0, 0.5, 7.0, -std::numeric_limits<double>::infinity(), 2.5}));
  EXPECT_TRUE(std::isnan(StrToFloat("nan")));
  EXPECT_EQ(ConvertErrorOf([] { StrToFloat("1,5"); }), "'1,5' is not a valid floating point value");
  for (const char* bad : {"", "abc", "1e", "1e400", "infinity", "0x10", "--1", "+-1", ".", "1.2.3", "nan(1)"}) {
    double value = 0;
    EXPECT_FALSE(TryStrToFloat(bad, value)) << bad;
  }

  // Every finite double reads back exactly.
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  int checked = 0;
  for (int i = 0; i < 20000; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    double value = 0;
    std::memcpy(&value, &state, sizeof value);
    if (!std::isfinite(value) || value == 0) continue;
    ++checked;
    const std::string text = FloatToStr(value);
    const double back = StrToFloat(text);
    ASSERT_EQ(std::memcmp(&back, &value, sizeof value), 0) << text;
    const double magnitude = std::fabs(value);
    if (magnitude >= 1e-5 && magnitude < 1e15) {
      ASSERT_EQ(text.find('E'), std::string::npos) << text;
    }
  }
  EXPECT_GT(checked, 19000);
  for (double edge : {std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                      std::numeric_limits<double>::min(), 1.0 / 3.0, 9007199254740993.0}) {
    EXPECT_EQ(StrToFloat(FloatToStr(edge)), edge);
  }
}

}  // namespace
