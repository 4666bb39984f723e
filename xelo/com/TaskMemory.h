// The COM task allocator. Every array and string that crosses an interface
// as an out-parameter is allocated here and freed by the receiver with
// CoTaskMemFree. The allocator counts live blocks so that tests can prove
// that each such buffer was freed exactly once, and on request tracks each
// block (see "Block tracking" below) so that an ownership checker can tell
// whether a buffer it handed out is still live.
//
// Thread-safe; the counters and the tracking are process-wide.
#pragma once

#include "xelo/com/ComBackEnd.h"

#if XELO_COM_NATIVE
#include "xelo/com/WinTypes.h"  // Windows SDK
#else
#include "xelo/com/portable/TaskMemory.h"
#endif

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace xelo::com {

// Live blocks of each allocator of this layer.
//
// On Windows' own COM the task allocator is the system's: its blocks are
// counted through a malloc spy, installed by the first call of
// LiveAllocations or SetTaskBlockTracking (so that a program that never asks
// pays nothing), which also turns the BSTR cache off. Only blocks allocated
// after that are counted. BSTRs are task-allocator blocks there and are
// counted in `taskMemory`; global memory handles are not counted.
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
OLECHAR* CoTaskMemStrDup(OleStringView text);

// ---- Block tracking ----
//
// For ownership checks (the simulation server's strict mode). While tracking
// is on, every block the task allocator hands out is recorded with its size
// and a serial number that no other block of the process ever gets again:
// an address comes back from the heap soon after it was freed, a serial
// never does, so "is the block I handed out still live?" is answered from
// the records alone, without touching memory that may have been freed.
// BSTRs are tracked as task blocks too (COM takes them from the task
// allocator as well); a BSTR's block starts at its length prefix.
//
// Freeing a tracked block (CoTaskMemFree, SysFreeString) first fills it with
// kFreedBlockByte, so that a caller who reads a buffer after freeing it
// reads garbage even without a sanitizer. CoTaskMemRealloc always moves a
// tracked block, poisoning the old one, so that a stale pointer never sees
// valid data by luck.
//
// Off by default; while off, an allocation or a free costs one relaxed
// atomic load more. Turning tracking off forgets every record; blocks
// allocated while it was off are never tracked.
inline constexpr unsigned char kFreedBlockByte = 0xDD;

struct TaskBlock {
  const void* start = nullptr;
  std::size_t size = 0;  // at least 1: a block of size 0 still has one byte
  std::uint64_t serial = 0;
};

void SetTaskBlockTracking(bool on);
bool TaskBlockTracking();
// The live tracked block that holds `address` (its first byte or any other);
// empty for an address of no live tracked block.
std::optional<TaskBlock> FindTaskBlock(const void* address);
// Whether `address` still lies in the live tracked block numbered `serial`:
// false once that block was freed, also when its memory is in use again.
bool IsLiveTaskBlock(const void* address, std::uint64_t serial);

namespace detail {
void CountTask(long delta);
void CountBstr(long delta);
void CountGlobal(long delta);
// For the other allocator of this layer that takes memory from the heap
// itself (BSTRs): a block of `size` bytes at `start` was just allocated, or
// is about to be freed (which poisons and forgets it when tracked). Both
// cost one relaxed atomic load while tracking is off; never throw.
void TrackBlock(void* start, std::size_t size) noexcept;
void ForgetBlock(void* start) noexcept;
// A tracked block that was reallocated to `now` (perhaps in place): its
// record follows it without poisoning, under a new serial.
void RetrackBlock(void* before, void* now, std::size_t size) noexcept;
// Makes the back end count its task-allocator blocks from now on (the
// portable allocator always does).
void StartCounting() noexcept;
}  // namespace detail

}  // namespace xelo::com
