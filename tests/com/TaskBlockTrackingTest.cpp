// The task allocator's block tracking: what an ownership checker relies on
// to tell a live block from a freed one without reading freed memory.
#include "com/ComTesting.h"

namespace xelo::test {
namespace {

using xelo::com::FindTaskBlock, xelo::com::IsLiveTaskBlock;

class TaskBlockTracking : public AllocationCheckedTest {
 protected:
  void SetUp() override { xelo::com::SetTaskBlockTracking(true); }
  void TearDown() override {
    xelo::com::SetTaskBlockTracking(false);
    AllocationCheckedTest::TearDown();
  }
};

TEST_F(TaskBlockTracking, BlocksAreFoundByAnyOfTheirBytesWithTheirSizeAndAFreshSerialWhileTrackingIsOn) {
  auto* first = static_cast<unsigned char*>(CoTaskMemAlloc(24));
  void* empty = CoTaskMemAlloc(0);
  const auto block = FindTaskBlock(first);
  ASSERT_TRUE(block && FindTaskBlock(first + 23) && FindTaskBlock(empty));
  EXPECT_EQ(std::make_tuple(block->start, block->size, FindTaskBlock(first + 23)->serial),
            std::make_tuple(static_cast<void*>(first), std::size_t{24}, block->serial));
  EXPECT_EQ(FindTaskBlock(empty)->size, 1u) << "a block of size 0 still has its one byte";
  EXPECT_NE(FindTaskBlock(empty)->serial, block->serial);
  int onTheStack = 0;
  EXPECT_FALSE(FindTaskBlock(&onTheStack));

  CoTaskMemFree(first);
  EXPECT_FALSE(IsLiveTaskBlock(first, block->serial));
  // Whatever the heap hands out next, even at the same address, is another
  // block.
  void* next = CoTaskMemAlloc(24);
  ASSERT_TRUE(FindTaskBlock(next));
  EXPECT_NE(FindTaskBlock(next)->serial, block->serial);
  EXPECT_FALSE(IsLiveTaskBlock(next, block->serial));
  CoTaskMemFree(next), CoTaskMemFree(empty);

  // Switching off forgets every record; blocks from before are never tracked.
  xelo::com::SetTaskBlockTracking(false);
  void* before = CoTaskMemAlloc(8);
  xelo::com::SetTaskBlockTracking(true);
  void* during = CoTaskMemAlloc(8);
  const auto serial = FindTaskBlock(during)->serial;
  EXPECT_FALSE(FindTaskBlock(before));
  xelo::com::SetTaskBlockTracking(false);
  EXPECT_FALSE(xelo::com::TaskBlockTracking() || IsLiveTaskBlock(during, serial));
  xelo::com::SetTaskBlockTracking(true);
  EXPECT_FALSE(FindTaskBlock(during)) << "records do not come back";
  CoTaskMemFree(before), CoTaskMemFree(during);
}

TEST_F(TaskBlockTracking, ATrackedBlockIsPoisonedBeforeItIsFreedAndMovesWhenReallocated) {
  // The poisoning step on its own, on a block that stays allocated: reading
  // a freed block to prove it would itself be a use after free.
  auto* block = static_cast<unsigned char*>(CoTaskMemAlloc(16));
  std::memset(block, 'x', 16);
  xelo::com::detail::ForgetBlock(block);
  EXPECT_EQ(std::vector<unsigned char>(block, block + 16), std::vector<unsigned char>(16, xelo::com::kFreedBlockByte));
  EXPECT_FALSE(FindTaskBlock(block));
  CoTaskMemFree(block);  // untracked now: freed like any block

  auto* old = static_cast<char*>(CoTaskMemAlloc(4));
  std::memcpy(old, "abcd", 4);
  const auto oldSerial = FindTaskBlock(old)->serial;
  auto* grown = static_cast<char*>(CoTaskMemRealloc(old, 8));
  ASSERT_NE(grown, nullptr);
#if !XELO_COM_NATIVE  // Windows' allocator decides itself where the block goes
  EXPECT_NE(grown, old);
#endif
  EXPECT_TRUE(std::memcmp(grown, "abcd", 4) == 0 && !IsLiveTaskBlock(old, oldSerial));
  EXPECT_EQ(FindTaskBlock(grown).value_or(xelo::com::TaskBlock{}).size, 8u);
  CoTaskMemFree(grown);
}

TEST_F(TaskBlockTracking, StringsAndSafeArraysAreTrackedFromTheirFirstByte) {
  BSTR text = SysAllocString(OLESTR("abc"));
  const auto block = FindTaskBlock(text);
  ASSERT_TRUE(block);
  // The block holds the length prefix, the text and its terminator (Windows
  // puts more before the prefix).
  const auto* first = static_cast<const char*>(block->start);
  EXPECT_TRUE(first <= reinterpret_cast<const char*>(text) - 4 && first + block->size >= reinterpret_cast<const char*>(text + 4));
  SysFreeString(text);
  EXPECT_FALSE(IsLiveTaskBlock(text, block->serial));

  SAFEARRAY* array = SafeArrayCreateVector(VT_R8, 0, 3);
  const auto descriptor = FindTaskBlock(array), data = FindTaskBlock(array->pvData);
  ASSERT_TRUE(descriptor && data);  // data in a block of its own, or the descriptor's (Windows' vectors)
  EXPECT_GE(static_cast<const char*>(data->start) + data->size,
            static_cast<const char*>(array->pvData) + 3 * sizeof(double));
  ASSERT_EQ(SafeArrayDestroy(array), S_OK);
  EXPECT_FALSE(IsLiveTaskBlock(array, descriptor->serial));
  EXPECT_FALSE(IsLiveTaskBlock(static_cast<const char*>(data->start), data->serial));
}

}  // namespace
}  // namespace xelo::test
