#include "com/ComTesting.h"

namespace {

using xelo::com::BstrToUtf8, xelo::com::LiveAllocations;
using BStr = xelo::test::AllocationCheckedTest;
using TaskMemory = xelo::test::AllocationCheckedTest;

TEST_F(BStr, LengthsCountCharactersAndBytesAndNullIsTheEmptyString) {
  const OLECHAR withZero[] = {OLESTR('a'), 0, OLESTR('b'), OLESTR('c')};
  BSTR text = SysAllocStringLen(withZero, 4);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::make_pair(SysStringLen(text), SysStringByteLen(text)), std::make_pair(4u, 8u));
  EXPECT_EQ(text[4], 0) << "terminator after the last character";
  EXPECT_EQ(xelo::com::BstrView(text), xelo::com::OleStringView(withZero, 4));
  std::uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const char*>(text) - 4, 4);
  EXPECT_EQ(prefix, 8u) << "byte length stored directly before the characters";
  EXPECT_EQ(LiveAllocations().Total(), before_.Total() + 1);  // a task block on Windows

  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr) + SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  BSTR empty = SysAllocString(OLESTR("")), odd = SysAllocStringByteLen("abc", 3), zeroed = SysAllocStringLen(nullptr, 3);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(SysStringLen(empty) + empty[0], 0u);
  EXPECT_EQ(std::make_pair(SysStringLen(odd), SysStringByteLen(odd)), std::make_pair(1u, 3u));  // odd byte lengths are kept
  EXPECT_EQ(std::make_pair(SysStringLen(zeroed), zeroed[0] | zeroed[1] | zeroed[2] | zeroed[3]), std::make_pair(3u, 0));
  EXPECT_EQ((std::tuple{SysReAllocString(&zeroed, OLESTR("longer text")), BstrToUtf8(zeroed), SysReAllocStringLen(&zeroed, OLESTR("xyz"), 2),
                        BstrToUtf8(zeroed)}),
            (std::tuple{TRUE, std::string("longer text"), TRUE, std::string("xy")}));
  for (BSTR b : {text, empty, odd, zeroed}) SysFreeString(b);
}

TEST_F(BStr, ReallocatingFromTheOldStringItselfKeepsItsCharacters) {
  XELO_ONLY_ON_PORTABLE_COM();
  // Length 0: SysReAllocString, up to the terminator.
  for (auto [offset, length, expected] : {std::tuple{0u, 1u, "a"}, {1u, 2u, "bc"}, {0u, 3u, "abc"}, {0u, 0u, "abc"}, {2u, 0u, "c"}}) {
    BSTR text = SysAllocString(OLESTR("abc"));
    const INT done = length == 0 ? SysReAllocString(&text, text + offset) : SysReAllocStringLen(&text, text + offset, length);
    EXPECT_EQ(std::make_pair(done, BstrToUtf8(text)), std::make_pair(TRUE, std::string(expected))) << offset << "," << length;
    SysFreeString(text);
  }
}

TEST(WideText, RoundTripsAllPlanesAndReplacesInvalidInput) {
  const std::string text = "A\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";  // A ä € 😀
  const xelo::com::OleString wide = xelo::com::ToUtf16(text);
  EXPECT_EQ(wide, OLESTR("A\u00E4\u20AC\U0001F600"));
  EXPECT_EQ(xelo::com::ToUtf8(wide), text);
  // Truncated, overlong, surrogate and out-of-range sequences, stray bytes.
  for (auto [bad, replaced] : {std::pair{"\xE2\x82", OLESTR("\uFFFD")}, {"\xC0\xAF", OLESTR("\uFFFD\uFFFD")},
                               {"\xED\xA0\x80", OLESTR("\uFFFD")}, {"\xF4\x90\x80\x80", OLESTR("\uFFFD")}, {"a\x80z", OLESTR("a\uFFFDz")}}) {
    EXPECT_EQ(xelo::com::ToUtf16(bad), replaced) << bad;
  }
  EXPECT_EQ(xelo::com::ToUtf16(std::string_view("\0x", 2)), xelo::com::OleString(OLESTR("\0x"), 2));
  // Unpaired surrogates on the wide side.
  EXPECT_EQ(xelo::com::ToUtf8(xelo::com::OleString(OLESTR("a\xD800"))) + xelo::com::ToUtf8(xelo::com::OleString(OLESTR("\xDC00z"))),
            "a\xEF\xBF\xBD\xEF\xBF\xBDz");
  EXPECT_EQ(xelo::com::ToUtf8(static_cast<const OLECHAR*>(nullptr)), "");
}

TEST_F(TaskMemory, CountsLiveBlocksThroughReallocAndFree) {
  void* block = CoTaskMemAlloc(0);
  ASSERT_NE(block, nullptr);
  block = CoTaskMemRealloc(block, 1024);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(LiveAllocations().taskMemory, before_.taskMemory + 1);
  EXPECT_EQ((std::tuple{CoTaskMemRealloc(block, 0), LiveAllocations()}), (std::tuple{static_cast<void*>(nullptr), before_}));
  void* fresh = CoTaskMemRealloc(nullptr, 8);
  EXPECT_EQ(LiveAllocations().taskMemory, before_.taskMemory + 1);
  CoTaskMemFree(fresh);
  CoTaskMemFree(nullptr);
}

}  // namespace
