#include "xelo/com/ClipboardFormats.h"

#include "support/AllocationCheckedTest.h"

#include "support/NativeCom.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>

namespace {

class ClipboardFormats : public xelo::test::AllocationCheckedTest {
 protected:
  void SetUp() override { XELO_ONLY_ON_PORTABLE_COM(); }
};
using ClipboardFormatsDeathTest = ClipboardFormats;

TEST_F(ClipboardFormats, TheSameNameGivesTheSameNumberInAnyCaseAndKeepsItsFirstSpelling) {
  const UINT number = RegisterClipboardFormatA("Xelo Name Test");
  EXPECT_GE(number, 0xC000u);
  EXPECT_LE(number, 0xFFFFu);
  for (const char* same : {"Xelo Name Test", "XELO NAME TEST", "xelo name test"}) {
    EXPECT_EQ(RegisterClipboardFormatA(same), number) << same;
  }
  EXPECT_EQ(RegisterClipboardFormatW(OLESTR("xELO nAME tEST")), number);
  const UINT other = RegisterClipboardFormatA("Xelo Other Test");
  EXPECT_GE(other, 0xC000u);
  EXPECT_NE(other, number);
  // Names differ by more than case: a trailing blank is part of the name.
  EXPECT_NE(RegisterClipboardFormatA("Xelo Name Test "), number);
  for (UINT none : {RegisterClipboardFormatA(nullptr), RegisterClipboardFormatA(""), RegisterClipboardFormatW(nullptr),
                    RegisterClipboardFormatW(OLESTR(""))}) {
    EXPECT_EQ(none, 0u);
  }

  std::array<char, 64> buffer{};
  EXPECT_EQ(GetClipboardFormatNameA(number, buffer.data(), static_cast<INT>(buffer.size())), 14);
  EXPECT_EQ(std::string(buffer.data()), "Xelo Name Test");
  // Truncated to the room left for the terminator.
  std::array<char, 5> small{'#', '#', '#', '#', '#'};
  EXPECT_EQ(GetClipboardFormatNameA(number, small.data(), 5), 4);
  EXPECT_EQ(std::string(small.data()), "Xelo");
  buffer[0] = '#';
  EXPECT_EQ(GetClipboardFormatNameA(0xBFFF, buffer.data(), 64), 0);  // predefined range
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(GetClipboardFormatNameA(number, buffer.data(), 0), 0);
  EXPECT_EQ(GetClipboardFormatNameA(number, nullptr, 64), 0);

  // Truncation never splits a character: "Grüße" in UTF-8 is G r \xC3\xBC \xC3\x9F e.
  const UINT german = RegisterClipboardFormatA("Gr\xC3\xBC\xC3\x9F" "e Xelo");
  ASSERT_NE(german, 0u);
  EXPECT_EQ(RegisterClipboardFormatA("GR\xC3\x9C\xC3\x9F" "E XELO"), german);  // ü and Ü fold together
  std::array<char, 4> four{};
  EXPECT_EQ(GetClipboardFormatNameA(german, four.data(), 4), 2);
  EXPECT_EQ(std::string(four.data()), "Gr");
}

// Using up the whole range would spoil the table for every later test, so
// it happens in a child process.
TEST_F(ClipboardFormatsDeathTest, AnExhaustedRangeGivesZero) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        UINT last = 0;
        for (int i = 0; i <= 0x4000; ++i) {
          const UINT number = RegisterClipboardFormatA(("Exhaust " + std::to_string(i)).c_str());
          if (number == 0) {
            // Known names keep their numbers; only new ones are refused.
            const bool ok = last == 0xFFFF && RegisterClipboardFormatA("Exhaust 0") != 0 &&
                            RegisterClipboardFormatA("Another new name") == 0;
            std::exit(ok ? 0 : 2);
          }
          last = number;
        }
        std::exit(1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
