// An out-array from the task allocator under construction. It is zeroed
// when made (so VARIANT members start as VT_EMPTY and pointers as null) and
// frees itself and what its elements own unless Release() hands it to the
// caller: a method that fails halfway leaves nothing allocated.
//
// Handing over is also where the strict ownership mode learns of the
// array and of the strings its elements own (see OwnershipLedger.h):
// Release() and HandOver() record them under the method being called.
#pragma once

#include "servers/simulation/OwnershipLedger.h"
#include "xelo/com/TaskMemory.h"
#include "xelo/com/Variant.h"
#include "xelo/opc/OpcTypes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace xelo::sim {

namespace detail {
// The task blocks an element owns (strings, blobs), each with the field
// that holds it: `visit(".szItemID", a.szItemID)`. Plain values own none.
template <class T, class Visit>
inline void ForEachOwnedBlock(T&, Visit&&) {}
template <class Visit>
inline void ForEachOwnedBlock(LPWSTR& s, Visit&& visit) {
  visit("", s);
}
template <class Visit>
inline void ForEachOwnedBlock(OPCITEMRESULT& r, Visit&& visit) {
  visit(".pBlob", r.pBlob);
}
template <class Visit>
inline void ForEachOwnedBlock(OPCITEMATTRIBUTES& a, Visit&& visit) {
  visit(".szAccessPath", a.szAccessPath);
  visit(".szItemID", a.szItemID);
  visit(".pBlob", a.pBlob);
}
template <class Visit>
inline void ForEachOwnedBlock(OPCSERVERSTATUS& s, Visit&& visit) {
  visit(".szVendorInfo", s.szVendorInfo);
}

// The values an element holds, whose contents it owns as well.
template <class T>
inline void ClearValues(T&) noexcept {}
inline void ClearValues(VARIANT& v) noexcept { VariantClear(&v); }
inline void ClearValues(OPCITEMSTATE& s) noexcept { VariantClear(&s.vDataValue); }
inline void ClearValues(OPCITEMATTRIBUTES& a) noexcept { VariantClear(&a.vEUInfo); }

template <class T>
inline void DisposeElement(T& element) noexcept {
  ForEachOwnedBlock(element, [](const char*, auto*& block) {
    CoTaskMemFree(block);
    block = nullptr;
  });
  ClearValues(element);
}
}  // namespace detail

// Records `block`, handed over by the method being called as the [out]
// argument `argument` (e.g. "*ppName"), for the strict ownership check, and
// returns it.
template <class T>
T* HandOver(T* block, std::string_view argument) {
  auto& ledger = OwnershipLedger::Instance();
  if (ledger.Strict()) ledger.HandedOver(block, ledger.CurrentMethod(), std::string(argument));
  return block;
}

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
  // The caller owns the array from now on; `parameter` is the name of the
  // out-parameter it goes to ("ppErrors").
  [[nodiscard]] T* Release(std::string_view parameter) {
    if (OwnershipLedger::Instance().Strict()) NoteHandOver(parameter);
    return std::exchange(data_, nullptr);
  }

 private:
  void NoteHandOver(std::string_view parameter) {
    const std::string array = "*" + std::string(parameter);
    HandOver(data_, array);
    for (std::size_t i = 0; i < count_; ++i) {
      detail::ForEachOwnedBlock(data_[i], [&](const char* field, auto* block) {
        HandOver(block, "(" + array + ")[" + std::to_string(i) + "]" + field);
      });
    }
  }

  T* data_ = nullptr;
  std::size_t count_;
};

// A task-allocator copy of `text`; throws std::bad_alloc.
inline LPWSTR TaskString(com::OleStringView text) {
  LPWSTR copy = xelo::com::CoTaskMemStrDup(text);
  if (copy == nullptr) throw std::bad_alloc();
  return copy;
}

}  // namespace xelo::sim
