#include "xelo/com/GlobalMemory.h"

#include "com/ComTesting.h"

namespace {

class GlobalMemory : public xelo::test::PortableAllocationTest {};

bool AllZero(const void* data, std::size_t bytes) { return std::string(static_cast<const char*>(data), bytes) == std::string(bytes, '\0'); }

TEST_F(GlobalMemory, MoveableBlocksCountTheirLocksFixedOnesAreTheirOwnAddressAndReAllocMovesOnlyWhenAllowed) {
  HGLOBAL handle = GlobalAlloc(GHND, 64);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(std::make_pair(xelo::com::LiveAllocations().globalMemory, GlobalSize(handle)), std::make_pair(before_.globalMemory + 1, SIZE_T{64}));
  void* first = GlobalLock(handle);
  ASSERT_TRUE(first != nullptr && first != static_cast<void*>(handle));  // a moveable handle is not an address
  EXPECT_TRUE(AllZero(first, 64));
  std::memset(first, 0x7E, 64);
  EXPECT_EQ(GlobalLock(handle), first);
  // One lock left, that was the last one, not locked at all.
  EXPECT_EQ((std::vector<BOOL>{GlobalUnlock(handle), GlobalUnlock(handle), GlobalUnlock(handle)}), (std::vector<BOOL>{TRUE, FALSE, FALSE}));
  // Unlocked data stays where it is and keeps its contents.
  EXPECT_EQ(static_cast<BYTE*>(GlobalLock(handle))[63], 0x7E);
  EXPECT_EQ(GlobalFree(handle), nullptr);  // freed even while locked
  EXPECT_EQ(xelo::com::LiveAllocations().globalMemory, before_.globalMemory);

  HGLOBAL fixed = GlobalAlloc(GPTR, 10);
  ASSERT_TRUE(fixed != nullptr && AllZero(fixed, 10));
  EXPECT_EQ(GlobalLock(fixed), static_cast<void*>(fixed));
  EXPECT_EQ(GlobalUnlock(fixed), FALSE);  // fixed blocks keep no lock count
  HGLOBAL empty = GlobalAlloc(GMEM_FIXED, 0);
  EXPECT_TRUE(empty != nullptr && GlobalSize(empty) == 0);
  EXPECT_EQ(std::make_pair(GlobalFree(fixed), GlobalFree(empty)), std::make_pair(HGLOBAL{}, HGLOBAL{}));

  // Freed, foreign and null handles are refused without touching anything.
  int local = 0;
  for (HGLOBAL bad : {handle, reinterpret_cast<HGLOBAL>(&local)}) {
    EXPECT_EQ(std::make_tuple(GlobalFree(bad), GlobalLock(bad), GlobalUnlock(bad), GlobalSize(bad), GlobalReAlloc(bad, 8, GMEM_MOVEABLE)),
              std::make_tuple(bad, static_cast<void*>(nullptr), FALSE, SIZE_T{0}, HGLOBAL{}));
  }
  EXPECT_EQ(local, 0);
  EXPECT_TRUE(GlobalFree(nullptr) == nullptr && GlobalLock(nullptr) == nullptr && GlobalReAlloc(nullptr, 1, 0) == nullptr);

  // ReAlloc keeps a moveable handle and moves a fixed block only when allowed.
  handle = GlobalAlloc(GMEM_MOVEABLE, 4);
  std::memcpy(GlobalLock(handle), "abcd", 4);
  GlobalUnlock(handle);
  ASSERT_EQ(GlobalReAlloc(handle, 4096, GMEM_ZEROINIT), handle);
  EXPECT_EQ(GlobalSize(handle), 4096u);
  auto* data = static_cast<BYTE*>(GlobalLock(handle));
  ASSERT_TRUE(data != nullptr && std::memcmp(data, "abcd", 4) == 0);
  EXPECT_TRUE(AllZero(data + 4, 4092));
  // While locked the block may not move unless the caller allows it.
  EXPECT_EQ((std::tuple{GlobalReAlloc(handle, 1 << 20, 0), GlobalSize(handle)}), (std::tuple{HGLOBAL{}, SIZE_T{4096}}));
  // Shrinking never moves.
  EXPECT_EQ((std::tuple{GlobalReAlloc(handle, 2, 0), GlobalSize(handle), GlobalLock(handle)}), (std::tuple{handle, SIZE_T{2}, static_cast<void*>(data)}));
  ASSERT_EQ(GlobalReAlloc(handle, 1 << 20, GMEM_MOVEABLE), handle);
  EXPECT_EQ(std::memcmp(GlobalLock(handle), "ab", 2), 0);
  EXPECT_EQ(GlobalFree(handle), nullptr);

  fixed = GlobalAlloc(GMEM_FIXED, 3);
  std::memcpy(fixed, "xyz", 3);
  EXPECT_EQ((std::tuple{GlobalReAlloc(fixed, 1 << 16, GMEM_FIXED), GlobalSize(fixed)}), (std::tuple{HGLOBAL{}, SIZE_T{3}}));
  HGLOBAL moved = GlobalReAlloc(fixed, 1 << 16, GMEM_MOVEABLE | GMEM_ZEROINIT);
  ASSERT_TRUE(moved != nullptr && moved != fixed);
  EXPECT_EQ(GlobalSize(fixed), 0u);  // the old handle is gone
  EXPECT_EQ(GlobalLock(moved), static_cast<void*>(moved));
  EXPECT_EQ(std::memcmp(moved, "xyz", 3), 0);
  EXPECT_TRUE(AllZero(reinterpret_cast<BYTE*>(moved) + 3, (1 << 16) - 3));
  EXPECT_EQ(GlobalFree(moved), nullptr);
}

}  // namespace
