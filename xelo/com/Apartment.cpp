#include "xelo/com/Apartment.h"

#include <atomic>
#include <thread>
#include <vector>

namespace xelo::com {
namespace {
std::atomic<IApartmentScheduler*> gInstalled{nullptr};
}  // namespace

IApartmentScheduler& Scheduler() {
  IApartmentScheduler* installed = gInstalled.load();
  return installed != nullptr ? *installed : DefaultScheduler::Process();
}

void InstallScheduler(IApartmentScheduler* scheduler) { gInstalled = scheduler; }

DefaultScheduler::DefaultScheduler(Clock clock)
    : clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {}

DefaultScheduler& DefaultScheduler::Process() {
  static DefaultScheduler scheduler;
  return scheduler;
}

void DefaultScheduler::Post(Call call) {
  std::lock_guard lock(mutex_);
  queue_.push_back(std::move(call));
}

IApartmentScheduler::TimerId DefaultScheduler::StartTimer(std::chrono::milliseconds period, Call tick) {
  if (period < std::chrono::milliseconds(1)) period = std::chrono::milliseconds(1);
  const TimerId id = nextTimer_++;
  if (nextTimer_ == 0) nextTimer_ = 1;
  timers_.emplace(id, Timer{period, clock_() + period, std::move(tick)});
  return id;
}

void DefaultScheduler::StopTimer(TimerId id) { timers_.erase(id); }

std::size_t DefaultScheduler::ProcessPending() {
  std::size_t ran = 0;
  std::size_t count;
  {
    std::lock_guard lock(mutex_);
    count = queue_.size();
  }
  for (; count > 0; --count) {
    Call call;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
      call = std::move(queue_.front());
      queue_.pop_front();
    }
    ++ran;
    call();
  }
  return ran + RunDueTimers();
}

std::size_t DefaultScheduler::RunDueTimers() {
  const auto now = clock_();
  std::vector<TimerId> due;
  for (const auto& [id, timer] : timers_) {
    if (timer.due <= now) due.push_back(id);
  }
  std::size_t ran = 0;
  for (const TimerId id : due) {
    auto it = timers_.find(id);  // an earlier tick may have stopped it
    if (it == timers_.end()) continue;
    // A late timer ticks once and resumes its rhythm; missed ticks are not
    // replayed in a burst.
    it->second.due += it->second.period;
    if (it->second.due <= now) it->second.due = now + it->second.period;
    Call tick = it->second.tick;  // the tick may stop (erase) its own timer
    ++ran;
    tick();
  }
  return ran;
}

bool DefaultScheduler::PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  // The wait is bounded in real time, so that a stopped test clock cannot
  // make it hang.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (ProcessPending() == 0) {
      if (std::chrono::steady_clock::now() >= deadline) return done();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

std::size_t DefaultScheduler::PendingCalls() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::size_t DefaultScheduler::ActiveTimers() const { return timers_.size(); }

}  // namespace xelo::com
