#include "xelo/platform/QueueWaiter.h"

#include <condition_variable>

namespace xelo::platform {

struct QueueWaiter::State {
  std::condition_variable condition;
};

QueueWaiter::QueueWaiter() : state_(std::make_unique<State>()) {}
QueueWaiter::~QueueWaiter() = default;

void QueueWaiter::Notify() { state_->condition.notify_all(); }

void QueueWaiter::Wait(std::unique_lock<std::mutex>& lock,
                       std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (deadline) {
    state_->condition.wait_until(lock, *deadline);
  } else {
    state_->condition.wait(lock);
  }
}

}  // namespace xelo::platform
