#include "xelo/com/TaskMemory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace xelo::com {
namespace {
std::atomic<long> gTaskBlocks{0};
std::atomic<long> gBstrs{0};
std::atomic<long> gGlobals{0};

// Read without the lock on every allocation and free; the lock is taken
// only while tracking is on.
std::atomic<bool> gTracking{false};

struct Tracked {
  std::size_t size;
  std::uint64_t serial;
};

struct Tracker {
  std::mutex mutex;
  std::map<std::uintptr_t, Tracked> blocks;  // by start address
  std::uint64_t lastSerial = 0;

  // Records a block under a new serial. Caller holds the lock.
  void Record(void* start, std::size_t size) noexcept {
    try {
      blocks.insert_or_assign(reinterpret_cast<std::uintptr_t>(start), Tracked{std::max<std::size_t>(size, 1), ++lastSerial});
    } catch (const std::bad_alloc&) {
      // Out of memory for the record: the block just goes untracked.
    }
  }

  // The entry whose block holds `address`; blocks.end() for none. Caller
  // holds the lock.
  std::map<std::uintptr_t, Tracked>::iterator Holding(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    auto it = blocks.upper_bound(at);
    if (it == blocks.begin()) return blocks.end();
    --it;
    return at - it->first < it->second.size ? it : blocks.end();
  }
};

// Never destroyed: static objects may still free task blocks while the
// process exits.
Tracker& TheTracker() {
  static auto* tracker = new Tracker();
  return *tracker;
}

}  // namespace

AllocationCounts LiveAllocations() {
  detail::StartCounting();
  return AllocationCounts{gTaskBlocks.load(), gBstrs.load(), gGlobals.load()};
}

OLECHAR* CoTaskMemStrDup(OleStringView text) {
  auto* copy = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (copy == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(OLECHAR));
  copy[text.size()] = 0;
  return copy;
}

void SetTaskBlockTracking(bool on) {
  detail::StartCounting();
  Tracker& tracker = TheTracker();
  std::lock_guard lock(tracker.mutex);
  gTracking.store(on, std::memory_order_relaxed);
  if (!on) tracker.blocks.clear();
}

bool TaskBlockTracking() { return gTracking.load(std::memory_order_relaxed); }

std::optional<TaskBlock> FindTaskBlock(const void* address) {
  if (!TaskBlockTracking()) return std::nullopt;
  Tracker& tracker = TheTracker();
  std::lock_guard lock(tracker.mutex);
  const auto it = tracker.Holding(address);
  if (it == tracker.blocks.end()) return std::nullopt;
  return TaskBlock{reinterpret_cast<const void*>(it->first), it->second.size, it->second.serial};
}

bool IsLiveTaskBlock(const void* address, std::uint64_t serial) {
  const auto block = FindTaskBlock(address);
  return block && block->serial == serial;
}

namespace detail {
void CountTask(long delta) { gTaskBlocks += delta; }
void CountBstr(long delta) { gBstrs += delta; }
void CountGlobal(long delta) { gGlobals += delta; }

void TrackBlock(void* start, std::size_t size) noexcept {
  if (!gTracking.load(std::memory_order_relaxed)) return;
  Tracker& tracker = TheTracker();
  std::lock_guard lock(tracker.mutex);
  // Switched off meanwhile: a record now would outlive the clean slate.
  if (!gTracking.load(std::memory_order_relaxed)) return;
  tracker.Record(start, size);
}

void ForgetBlock(void* start) noexcept {
  if (!gTracking.load(std::memory_order_relaxed)) return;
  Tracker& tracker = TheTracker();
  std::lock_guard lock(tracker.mutex);
  const auto it = tracker.blocks.find(reinterpret_cast<std::uintptr_t>(start));
  if (it == tracker.blocks.end()) return;
  std::memset(start, kFreedBlockByte, it->second.size);
  tracker.blocks.erase(it);
}
void RetrackBlock(void* before, void* now, std::size_t size) noexcept {
  if (!gTracking.load(std::memory_order_relaxed)) return;
  Tracker& tracker = TheTracker();
  std::lock_guard lock(tracker.mutex);
  tracker.blocks.erase(reinterpret_cast<std::uintptr_t>(before));
  tracker.Record(now, size);
}
}  // namespace detail

}  // namespace xelo::com
