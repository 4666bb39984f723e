// An out-array from the task allocator under construction. It is zeroed
// when made (so VARIANT members start as VT_EMPTY and pointers as null) and
// frees itself and what its elements own unless Release() hands it to the
// caller: a method that fails halfway leaves nothing allocated.
#pragma once

#include "xelo/com/TaskMemory.h"
#include "xelo/com/Variant.h"
#include "xelo/opc/OpcTypes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

namespace xelo::sim {

namespace detail {
// What an element owns, per element type; plain values own nothing.
template <class T>
inline void DisposeElement(T&) noexcept {}
inline void DisposeElement(VARIANT& v) noexcept { VariantClear(&v); }
inline void DisposeElement(LPWSTR& s) noexcept {
  CoTaskMemFree(s);
  s = nullptr;
}
inline void DisposeElement(OPCITEMSTATE& s) noexcept { VariantClear(&s.vDataValue); }
inline void DisposeElement(OPCITEMRESULT& r) noexcept {
  CoTaskMemFree(r.pBlob);
  r.pBlob = nullptr;
}
inline void DisposeElement(OPCITEMATTRIBUTES& a) noexcept {
  CoTaskMemFree(a.szAccessPath);
  CoTaskMemFree(a.szItemID);
  CoTaskMemFree(a.pBlob);
  VariantClear(&a.vEUInfo);
}
}  // namespace detail

template <class T>
class TaskArray {
 public:
  // Throws std::bad_alloc when the allocator is out of memory. A count of 0
  // still gives a (freeable) block, as callers expect non-null arrays.
  explicit TaskArray(std::size_t count) : count_(count) {
    const std::size_t bytes = sizeof(T) * std::max<std::size_t>(count, 1);
    data_ = static_cast<T*>(CoTaskMemAlloc(bytes));
    if (data_ == nullptr) throw std::bad_alloc();
    std::memset(static_cast<void*>(data_), 0, bytes);
  }
  ~TaskArray() {
    if (data_ == nullptr) return;
    for (std::size_t i = 0; i < count_; ++i) detail::DisposeElement(data_[i]);
    CoTaskMemFree(data_);
  }
  TaskArray(const TaskArray&) = delete;
  TaskArray& operator=(const TaskArray&) = delete;

  T& operator[](std::size_t i) { return data_[i]; }
  T* Get() { return data_; }
  std::size_t Size() const { return count_; }
  // The caller owns the array from now on.
  [[nodiscard]] T* Release() { return std::exchange(data_, nullptr); }

 private:
  T* data_ = nullptr;
  std::size_t count_;
};

// A task-allocator copy of `text`; throws std::bad_alloc.
inline LPWSTR TaskString(std::u16string_view text) {
  LPWSTR copy = xelo::com::CoTaskMemStrDup(text);
  if (copy == nullptr) throw std::bad_alloc();
  return copy;
}

}  // namespace xelo::sim
