// The test programs' entry point. The main thread is a COM apartment for the
// whole run, as in an application of the library; on Windows' own COM that is
// also where the in-process servers' classes are offered to COM.
#include "xelo/com/ClassRegistry.h"
#include "xelo/com/TaskMemory.h"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  // The task allocator is counted from the start: a block allocated before
  // counting began would not be counted when it is freed, and a block held
  // across that moment would look like a leak once it is replaced.
  xelo::com::LiveAllocations();
  const xelo::com::ComApartment apartment;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
