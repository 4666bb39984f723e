#include "xelo/com/ClipboardFormats.h"

#include "com/ComTesting.h"

#include <cstdlib>

namespace {

class ClipboardFormats : public xelo::test::PortableAllocationTest {};
using ClipboardFormatsDeathTest = ClipboardFormats;

// What a name query into room for `room` characters returns and leaves in
// the buffer; "#" marks what it did not write.
std::pair<int, std::string> NameOf(UINT format, int room) {
  std::string buffer(static_cast<std::size_t>(room), '#');
  const int length = GetClipboardFormatNameA(format, buffer.data(), room);
  return {length, buffer.c_str()};
}

TEST_F(ClipboardFormats, TheSameNameGivesTheSameNumberInAnyCaseAndKeepsItsFirstSpelling) {
  const UINT number = RegisterClipboardFormatA("Xelo Name Test");
  EXPECT_TRUE(number >= 0xC000u && number <= 0xFFFFu) << number;
  EXPECT_EQ((std::vector<UINT>{RegisterClipboardFormatA("Xelo Name Test"), RegisterClipboardFormatA("XELO NAME TEST"),
                               RegisterClipboardFormatA("xelo name test"), RegisterClipboardFormatW(OLESTR("xELO nAME tEST"))}),
            std::vector<UINT>(4, number));
  const UINT other = RegisterClipboardFormatA("Xelo Other Test");
  EXPECT_TRUE(other >= 0xC000u && other != number) << other;
  // Names differ by more than case: a trailing blank is part of the name.
  EXPECT_NE(RegisterClipboardFormatA("Xelo Name Test "), number);
  EXPECT_EQ((std::vector<UINT>{RegisterClipboardFormatA(nullptr), RegisterClipboardFormatA(""), RegisterClipboardFormatW(nullptr),
                               RegisterClipboardFormatW(OLESTR(""))}),
            std::vector<UINT>(4, 0u));

  // Truncated to the room left for the terminator; nothing for the predefined range.
  EXPECT_EQ((std::vector{NameOf(number, 64), NameOf(number, 5), NameOf(0xBFFF, 64)}),
            (std::vector<std::pair<int, std::string>>{{14, "Xelo Name Test"}, {4, "Xelo"}, {0, ""}}));
  EXPECT_EQ(NameOf(number, 0).first + GetClipboardFormatNameA(number, nullptr, 64), 0);

  // Truncation never splits a character: "Grüße" in UTF-8 is G r \xC3\xBC \xC3\x9F e.
  const UINT german = RegisterClipboardFormatA("Gr\xC3\xBC\xC3\x9F" "e Xelo");
  ASSERT_NE(german, 0u);
  EXPECT_EQ(RegisterClipboardFormatA("GR\xC3\x9C\xC3\x9F" "E XELO"), german);  // ü and Ü fold together
  EXPECT_EQ(NameOf(german, 4), std::make_pair(2, std::string("Gr")));
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
