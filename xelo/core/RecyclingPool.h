// Objects of one kind kept for reuse, so that a steady stream of short-lived
// objects (the payload and the item list of every callback) stops
// allocating once their memory has grown to what the stream needs.
//
//   RecyclingPool<TPostedItems>& pool = RecyclingPool<TPostedItems>::Instance();
//   RecyclingPool<TPostedItems>::Ptr items = pool.Take();  // empty
//   ...                              // the Ptr gives it back when it goes
//
// The pool holds Keep objects in its own storage; when more are out at once
// (many groups' callbacks waiting for the same pump), the others come from
// the heap and are freed when given back. What comes back is emptied with
// ClearForReuse(T&) (found by argument-dependent lookup), which must keep
// the object's memory and not throw. Thread-safe: an object may be given
// back on another thread than the one that took it.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <new>

namespace xelo {

template <class T, std::size_t Keep = 64>
class RecyclingPool {
 public:
  struct GiveBack {
    RecyclingPool* pool = nullptr;
    void operator()(T* object) const noexcept { pool->Give(object); }
  };
  using Ptr = std::unique_ptr<T, GiveBack>;

  // The process's pool of T. It is never destroyed: objects still out when
  // the program ends (messages discarded while the application object is
  // torn down) may come back after every static object is gone. It lives
  // in static storage, so that making it allocates nothing either.
  static RecyclingPool& Instance() {
    alignas(RecyclingPool) static unsigned char storage[sizeof(RecyclingPool)];
    static RecyclingPool* const pool = new (storage) RecyclingPool();
    return *pool;
  }

  RecyclingPool() {
    for (std::size_t i = 0; i < Keep; ++i) free_[i] = &objects_[i];
  }
  RecyclingPool(const RecyclingPool&) = delete;
  RecyclingPool& operator=(const RecyclingPool&) = delete;

  // A waiting object of the pool, or a new one when all are out.
  Ptr Take() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (freeCount_ > 0) return Ptr(free_[--freeCount_], GiveBack{this});
    }
    return Ptr(new T(), GiveBack{this});
  }

  // Takes `object` back into the pool, or frees it when it came from the
  // heap.
  void Give(T* object) noexcept {
    if (object == nullptr) return;
    const std::less<const T*> before;  // a total order, also for pointers into other storage
    if (before(object, objects_.data()) || !before(object, objects_.data() + Keep)) {
      delete object;
      return;
    }
    ClearForReuse(*object);
    const std::lock_guard<std::mutex> lock(mutex_);
    free_[freeCount_++] = object;
  }

 private:
  std::mutex mutex_;
  std::array<T, Keep> objects_;
  std::array<T*, Keep> free_{};
  std::size_t freeCount_ = Keep;
};

}  // namespace xelo
