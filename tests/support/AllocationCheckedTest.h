// A test fixture that fails a test which leaves a COM allocation behind:
// task-allocator blocks, BSTRs and global memory handles are counted when
// the test starts and compared when it ends.
#pragma once

#include "xelo/com/TaskMemory.h"
#include "xelo/com/Unknown.h"

#include <gtest/gtest.h>

namespace xelo::test {

class AllocationCheckedTest : public ::testing::Test {
 protected:
  void TearDown() override {
    const auto now = xelo::com::LiveAllocations();
    EXPECT_EQ(now.taskMemory, before_.taskMemory) << "task-allocator blocks leaked or freed twice";
    EXPECT_EQ(now.bstrs, before_.bstrs) << "BSTRs leaked or freed twice";
    EXPECT_EQ(now.globalMemory, before_.globalMemory) << "global memory handles leaked or freed twice";
  }

  // The counts when the test started, for checks along the way.
  const xelo::com::AllocationCounts before_ = xelo::com::LiveAllocations();
};

// The current reference count of a COM object, observed through its own
// AddRef/Release.
inline ULONG RefsOf(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

}  // namespace xelo::test
