// TaskPtr<T>: holds a buffer of the COM task allocator that a server
// returned through an out-parameter, and frees it with CoTaskMemFree when
// the holder goes out of scope, also when an exception leaves the scope.
//
//   TaskPtr<HRESULT> errors;
//   hr = itemMgt->RemoveItems(count, handles, errors.Put());
//   ... errors[i] ...
//
// Only the buffer itself is freed; what its elements point to (strings,
// blobs, variants) is the caller's to release first.
#pragma once

#include "xelo/com/TaskMemory.h"

#include <cstddef>

namespace xelo::com {

template <class T>
class TaskPtr {
 public:
  TaskPtr() = default;
  ~TaskPtr() { ::CoTaskMemFree(ptr_); }
  TaskPtr(const TaskPtr&) = delete;
  TaskPtr& operator=(const TaskPtr&) = delete;

  // Frees what is held and hands out the slot for the out-parameter.
  T** Put() {
    Reset();
    return &ptr_;
  }
  void Reset() {
    ::CoTaskMemFree(ptr_);
    ptr_ = nullptr;
  }
  T* Get() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  T& operator[](std::size_t index) const { return ptr_[index]; }

 private:
  T* ptr_ = nullptr;
};

}  // namespace xelo::com
