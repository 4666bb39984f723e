// How the owner thread of a message queue sleeps until there is work, and
// how other threads wake it.
//
// On Windows the sleep also serves the thread's Windows messages: calls
// from COM servers in other processes into this thread's objects (data
// callbacks, shutdown requests) arrive as window messages of its
// single-threaded apartment, so they are dispatched while the queue waits,
// on this thread.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace xelo::platform {

class QueueWaiter {
 public:
  QueueWaiter();
  ~QueueWaiter();
  QueueWaiter(const QueueWaiter&) = delete;
  QueueWaiter& operator=(const QueueWaiter&) = delete;

  // Ends the current or the next Wait early. Any thread, with or without
  // the queue's lock.
  void Notify();

  // Releases `lock` and sleeps until Notify(), until `deadline` (real steady
  // time; none = no deadline) or, on Windows, until Windows messages were
  // dispatched; then takes `lock` again. May also return for no reason:
  // callers check their state again.
  void Wait(std::unique_lock<std::mutex>& lock,
            std::optional<std::chrono::steady_clock::time_point> deadline);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace xelo::platform
