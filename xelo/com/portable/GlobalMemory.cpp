#include "xelo/com/GlobalMemory.h"

#include "xelo/com/TaskMemory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>

namespace {

struct Block {
  BYTE* data;             // malloc'd, never null (at least one byte)
  std::size_t size;       // what the caller asked for
  std::size_t capacity;   // what `data` can hold
  bool moveable;
  unsigned locks;         // moveable blocks only
};

class HandleTable {
 public:
  HGLOBAL Alloc(UINT flags, SIZE_T bytes) {
    auto* data = static_cast<BYTE*>(std::malloc(std::max<SIZE_T>(bytes, 1)));
    if (data == nullptr) return nullptr;
    if ((flags & GMEM_ZEROINIT) != 0) std::memset(data, 0, bytes);
    const bool moveable = (flags & GMEM_MOVEABLE) != 0;
    std::lock_guard lock(mutex_);
    const HGLOBAL handle = moveable ? NextToken() : reinterpret_cast<HGLOBAL>(data);
    try {
      blocks_.emplace(handle, Block{data, bytes, bytes, moveable, 0});
    } catch (const std::bad_alloc&) {
      std::free(data);
      return nullptr;
    }
    xelo::com::detail::CountGlobal(+1);
    return handle;
  }

  HGLOBAL ReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags) {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(handle);
    if (it == blocks_.end()) return nullptr;
    Block& block = it->second;
    const bool zero = (flags & GMEM_ZEROINIT) != 0;
    const bool mayMove = (flags & GMEM_MOVEABLE) != 0;

    if (bytes <= block.capacity) {
      // Fits where it is: nothing moves, no handle changes.
      if (zero && bytes > block.size) std::memset(block.data + block.size, 0, bytes - block.size);
      block.size = bytes;
      return handle;
    }

    if (block.moveable) {
      // A locked block has handed out its address; moving it silently would
      // leave that pointer dangling.
      if (block.locks > 0 && !mayMove) return nullptr;
      auto* data = static_cast<BYTE*>(std::realloc(block.data, bytes));
      if (data == nullptr) return nullptr;
      if (zero) std::memset(data + block.size, 0, bytes - block.size);
      block.data = data;
      block.size = block.capacity = bytes;
      return handle;
    }

    // A fixed block's handle is its address, so moving it means a new handle.
    if (!mayMove) return nullptr;
    auto* data = static_cast<BYTE*>(std::malloc(bytes));
    if (data == nullptr) return nullptr;
    std::memcpy(data, block.data, block.size);
    if (zero) std::memset(data + block.size, 0, bytes - block.size);
    const auto newHandle = reinterpret_cast<HGLOBAL>(data);
    try {
      blocks_.emplace(newHandle, Block{data, bytes, bytes, false, 0});
    } catch (const std::bad_alloc&) {
      std::free(data);
      return nullptr;
    }
    std::free(block.data);
    blocks_.erase(it);
    return newHandle;
  }

  LPVOID Lock(HGLOBAL handle) {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(handle);
    if (it == blocks_.end()) return nullptr;
    if (it->second.moveable) ++it->second.locks;
    return it->second.data;
  }

  BOOL Unlock(HGLOBAL handle) {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(handle);
    if (it == blocks_.end() || !it->second.moveable || it->second.locks == 0) return FALSE;
    return --it->second.locks > 0 ? TRUE : FALSE;
  }

  SIZE_T Size(HGLOBAL handle) {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(handle);
    return it == blocks_.end() ? 0 : it->second.size;
  }

  bool Free(HGLOBAL handle) {
    BYTE* data = nullptr;
    {
      std::lock_guard lock(mutex_);
      auto it = blocks_.find(handle);
      if (it == blocks_.end()) return false;
      data = it->second.data;
      blocks_.erase(it);
    }
    std::free(data);
    xelo::com::detail::CountGlobal(-1);
    return true;
  }

 private:
  // Moveable handles are odd numbers, which no heap address is, so they can
  // never be mistaken for a fixed block's handle; they are never reused, so
  // a stale handle is refused for the rest of the process.
  HGLOBAL NextToken() {
    lastToken_ += 2;
    return reinterpret_cast<HGLOBAL>(lastToken_);
  }

  std::mutex mutex_;
  std::unordered_map<HGLOBAL, Block> blocks_;
  std::uintptr_t lastToken_ = 1;
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

}  // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) { return Table().Alloc(flags, bytes); }

HGLOBAL GlobalReAlloc(HGLOBAL handle, SIZE_T bytes, UINT flags) {
  if (handle == nullptr) return nullptr;
  return Table().ReAlloc(handle, bytes, flags);
}

LPVOID GlobalLock(HGLOBAL handle) {
  if (handle == nullptr) return nullptr;
  return Table().Lock(handle);
}

BOOL GlobalUnlock(HGLOBAL handle) {
  if (handle == nullptr) return FALSE;
  return Table().Unlock(handle);
}

SIZE_T GlobalSize(HGLOBAL handle) {
  if (handle == nullptr) return 0;
  return Table().Size(handle);
}

HGLOBAL GlobalFree(HGLOBAL handle) {
  if (handle == nullptr) return nullptr;
  return Table().Free(handle) ? nullptr : handle;
}
