// The COM task allocator. Every array and string that crosses an interface
// as an out-parameter is allocated here and freed by the receiver with
// CoTaskMemFree. The allocator counts live blocks so that tests can prove
// that each such buffer was freed exactly once.
//
// Thread-safe; the counters are process-wide.
#pragma once

#include "xelo/com/WinTypes.h"

#include <cstddef>
#include <string_view>

// Returns nullptr when out of memory. A size of 0 still gives a distinct,
// freeable block.
void* CoTaskMemAlloc(SIZE_T size);
// Null is ignored.
void CoTaskMemFree(void* block);
// Null block allocates; size 0 frees and returns nullptr; on failure the old
// block stays valid and nullptr is returned.
void* CoTaskMemRealloc(void* block, SIZE_T size);

namespace xelo::com {

// Live blocks of each allocator of this layer.
struct AllocationCounts {
  long taskMemory = 0;     // CoTaskMemAlloc blocks (SAFEARRAY descriptors and data included)
  long bstrs = 0;          // SysAlloc* strings
  long globalMemory = 0;   // GlobalAlloc handles
  long Total() const { return taskMemory + bstrs + globalMemory; }
  friend bool operator==(const AllocationCounts&, const AllocationCounts&) = default;
};
AllocationCounts LiveAllocations();

// A NUL-terminated copy of `text` from the task allocator (nullptr when out
// of memory); the caller frees it with CoTaskMemFree.
OLECHAR* CoTaskMemStrDup(std::u16string_view text);

namespace detail {
void CountBstr(long delta);
void CountGlobal(long delta);
}  // namespace detail

}  // namespace xelo::com
