#include "xelo/com/TaskMemory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace xelo::com {
namespace {
std::atomic<long> gTaskBlocks{0};
std::atomic<long> gBstrs{0};
std::atomic<long> gGlobals{0};
}  // namespace

AllocationCounts LiveAllocations() {
  return AllocationCounts{gTaskBlocks.load(), gBstrs.load(), gGlobals.load()};
}

OLECHAR* CoTaskMemStrDup(std::u16string_view text) {
  auto* copy = static_cast<OLECHAR*>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
  if (copy == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size() * sizeof(OLECHAR));
  copy[text.size()] = 0;
  return copy;
}

namespace detail {
void CountBstr(long delta) { gBstrs += delta; }
void CountGlobal(long delta) { gGlobals += delta; }
}  // namespace detail

}  // namespace xelo::com

void* CoTaskMemAlloc(SIZE_T size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block != nullptr) ++xelo::com::gTaskBlocks;
  return block;
}

void CoTaskMemFree(void* block) {
  if (block == nullptr) return;
  --xelo::com::gTaskBlocks;
  std::free(block);
}

void* CoTaskMemRealloc(void* block, SIZE_T size) {
  if (block == nullptr) return CoTaskMemAlloc(size);
  if (size == 0) {
    CoTaskMemFree(block);
    return nullptr;
  }
  return std::realloc(block, size);
}
