// The portable back end's task allocator: the C heap, counted and optionally
// tracked block by block.
#include "xelo/com/TaskMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

void* CoTaskMemAlloc(SIZE_T size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) return nullptr;
  xelo::com::detail::CountTask(1);
  xelo::com::detail::TrackBlock(block, size);
  return block;
}

void CoTaskMemFree(void* block) {
  if (block == nullptr) return;
  xelo::com::detail::CountTask(-1);
  xelo::com::detail::ForgetBlock(block);
  std::free(block);
}

void* CoTaskMemRealloc(void* block, SIZE_T size) {
  if (block == nullptr) return CoTaskMemAlloc(size);
  if (size == 0) {
    CoTaskMemFree(block);
    return nullptr;
  }
  if (const auto tracked = xelo::com::FindTaskBlock(block); tracked && tracked->start == block) {
    void* moved = CoTaskMemAlloc(size);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, block, std::min<std::size_t>(tracked->size, size));
    CoTaskMemFree(block);
    return moved;
  }
  void* moved = std::realloc(block, size);
  if (moved != nullptr) xelo::com::detail::TrackBlock(moved, size);
  return moved;
}

void xelo::com::detail::StartCounting() noexcept {}  // counts from the start
