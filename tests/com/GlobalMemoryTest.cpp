#include "xelo/com/GlobalMemory.h"

#include "support/AllocationCheckedTest.h"

#include "support/NativeCom.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

class GlobalMemory : public xelo::test::AllocationCheckedTest {
 protected:
  void SetUp() override { XELO_ONLY_ON_PORTABLE_COM(); }
};

bool AllZero(const void* data, std::size_t bytes) {
  const auto* p = static_cast<const BYTE*>(data);
  for (std::size_t i = 0; i < bytes; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

TEST_F(GlobalMemory, MoveableBlocksCountTheirLocks) {
  const long before = xelo::com::LiveAllocations().globalMemory;
  HGLOBAL handle = GlobalAlloc(GHND, 64);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(xelo::com::LiveAllocations().globalMemory, before + 1);
  EXPECT_EQ(GlobalSize(handle), 64u);

  void* first = GlobalLock(handle);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, static_cast<void*>(handle));  // a moveable handle is not an address
  EXPECT_TRUE(AllZero(first, 64));
  std::memset(first, 0x7E, 64);
  void* second = GlobalLock(handle);
  EXPECT_EQ(second, first);

  EXPECT_EQ(GlobalUnlock(handle), TRUE);    // one lock left
  EXPECT_EQ(GlobalUnlock(handle), FALSE);   // that was the last one
  EXPECT_EQ(GlobalUnlock(handle), FALSE);   // not locked at all
  // Unlocked data stays where it is and keeps its contents.
  auto* again = static_cast<BYTE*>(GlobalLock(handle));
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again[63], 0x7E);
  GlobalUnlock(handle);

  EXPECT_EQ(GlobalFree(handle), nullptr);
  EXPECT_EQ(xelo::com::LiveAllocations().globalMemory, before);
}

TEST_F(GlobalMemory, FixedBlocksAreTheirOwnAddress) {
  HGLOBAL handle = GlobalAlloc(GPTR, 10);
  ASSERT_NE(handle, nullptr);
  EXPECT_TRUE(AllZero(handle, 10));
  EXPECT_EQ(GlobalLock(handle), static_cast<void*>(handle));
  EXPECT_EQ(GlobalUnlock(handle), FALSE);  // fixed blocks keep no lock count
  EXPECT_EQ(GlobalFree(handle), nullptr);

  HGLOBAL empty = GlobalAlloc(GMEM_FIXED, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalSize(empty), 0u);
  EXPECT_EQ(GlobalFree(empty), nullptr);
}

TEST_F(GlobalMemory, FreedAndForeignHandlesAreRefused) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 4);
  ASSERT_NE(handle, nullptr);
  ASSERT_NE(GlobalLock(handle), nullptr);
  EXPECT_EQ(GlobalFree(handle), nullptr);  // freed even while locked
  const long after = xelo::com::LiveAllocations().globalMemory;

  EXPECT_EQ(GlobalFree(handle), handle);  // double free
  EXPECT_EQ(GlobalLock(handle), nullptr);
  EXPECT_EQ(GlobalUnlock(handle), FALSE);
  EXPECT_EQ(GlobalSize(handle), 0u);
  EXPECT_EQ(GlobalReAlloc(handle, 8, GMEM_MOVEABLE), nullptr);

  int local = 0;
  const auto foreign = reinterpret_cast<HGLOBAL>(&local);
  EXPECT_EQ(GlobalFree(foreign), foreign);
  EXPECT_EQ(GlobalLock(foreign), nullptr);
  EXPECT_EQ(GlobalSize(foreign), 0u);
  EXPECT_EQ(local, 0);

  EXPECT_EQ(GlobalFree(nullptr), nullptr);
  EXPECT_EQ(GlobalLock(nullptr), nullptr);
  EXPECT_EQ(GlobalReAlloc(nullptr, 1, 0), nullptr);
  EXPECT_EQ(xelo::com::LiveAllocations().globalMemory, after);
}

TEST_F(GlobalMemory, ReAllocKeepsAMoveableHandleAndItsContents) {
  HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, 4);
  ASSERT_NE(handle, nullptr);
  std::memcpy(GlobalLock(handle), "abcd", 4);
  GlobalUnlock(handle);

  ASSERT_EQ(GlobalReAlloc(handle, 4096, GMEM_ZEROINIT), handle);
  EXPECT_EQ(GlobalSize(handle), 4096u);
  auto* data = static_cast<BYTE*>(GlobalLock(handle));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::memcmp(data, "abcd", 4), 0);
  EXPECT_TRUE(AllZero(data + 4, 4092));

  // While locked the block may not move unless the caller allows it.
  EXPECT_EQ(GlobalReAlloc(handle, 1 << 20, 0), nullptr);
  EXPECT_EQ(GlobalSize(handle), 4096u);
  EXPECT_EQ(GlobalLock(handle), data);
  // Shrinking never moves.
  EXPECT_EQ(GlobalReAlloc(handle, 2, 0), handle);
  EXPECT_EQ(GlobalSize(handle), 2u);
  EXPECT_EQ(GlobalLock(handle), data);
  ASSERT_EQ(GlobalReAlloc(handle, 1 << 20, GMEM_MOVEABLE), handle);
  EXPECT_EQ(std::memcmp(GlobalLock(handle), "ab", 2), 0);
  EXPECT_EQ(GlobalFree(handle), nullptr);
}

TEST_F(GlobalMemory, ReAllocMovesAFixedBlockOnlyWhenAllowed) {
  HGLOBAL handle = GlobalAlloc(GMEM_FIXED, 3);
  ASSERT_NE(handle, nullptr);
  std::memcpy(handle, "xyz", 3);
  EXPECT_EQ(GlobalReAlloc(handle, 1 << 16, GMEM_FIXED), nullptr);
  EXPECT_EQ(GlobalSize(handle), 3u);

  HGLOBAL moved = GlobalReAlloc(handle, 1 << 16, GMEM_MOVEABLE | GMEM_ZEROINIT);
  ASSERT_NE(moved, nullptr);
  ASSERT_NE(moved, handle);
  EXPECT_EQ(GlobalSize(handle), 0u);  // the old handle is gone
  EXPECT_EQ(GlobalLock(moved), static_cast<void*>(moved));
  EXPECT_EQ(std::memcmp(moved, "xyz", 3), 0);
  EXPECT_TRUE(AllZero(reinterpret_cast<BYTE*>(moved) + 3, (1 << 16) - 3));
  EXPECT_EQ(GlobalFree(handle), handle);
  EXPECT_EQ(GlobalFree(moved), nullptr);
}

}  // namespace
