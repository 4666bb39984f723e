// The apartment scheduler: how in-process servers reach the client's main
// thread. A server never calls a client sink from inside the client's own
// call (unless it means to); it posts the call, and the call runs when the
// main thread pumps. Periodic work (update cycles) runs on timers of the
// same scheduler.
//
// The component framework installs its own scheduler backed by the
// application's message queue. Without it, the default scheduler below is
// used: a queue that whoever owns the main thread drains with
// ProcessPending(), and timers driven by a clock that tests can replace.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace xelo::com {

class IApartmentScheduler {
 public:
  using Call = std::function<void()>;
  using TimerId = std::uint32_t;  // 0 is never a valid timer

  virtual ~IApartmentScheduler() = default;
  // Queues `call` to run on the main thread. Callable from any thread; never
  // blocks and never runs `call` before returning.
  virtual void Post(Call call) = 0;
  // Runs `tick` on the main thread every `period` (at least 1 ms) until
  // stopped. Main thread only.
  virtual TimerId StartTimer(std::chrono::milliseconds period, Call tick) = 0;
  // Stopping an unknown or already stopped timer does nothing. A timer may
  // stop itself from its own tick.
  virtual void StopTimer(TimerId id) = 0;
};

// The scheduler in use: the installed one, or the process's default one.
IApartmentScheduler& Scheduler();
// Installs `scheduler` (not owned) for the whole process; null restores the
// default. Install before any server object is created.
void InstallScheduler(IApartmentScheduler* scheduler);

class DefaultScheduler final : public IApartmentScheduler {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `clock` defaults to the steady clock.
  explicit DefaultScheduler(Clock clock = {});

  void Post(Call call) override;
  TimerId StartTimer(std::chrono::milliseconds period, Call tick) override;
  void StopTimer(TimerId id) override;

  // Runs the calls queued so far (not those they queue in turn) and the
  // timers that are due; returns how many calls and ticks ran. An exception
  // from a call propagates to the caller; the remaining calls stay queued.
  std::size_t ProcessPending();
  // Pumps until `done()` holds or `timeout` passed in real time; sleeps
  // briefly between empty rounds. Returns done().
  bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  std::size_t PendingCalls() const;
  std::size_t ActiveTimers() const;

  static DefaultScheduler& Process();  // the default instance

 private:
  struct Timer {
    std::chrono::milliseconds period;
    std::chrono::steady_clock::time_point due;
    Call tick;
  };
  std::size_t RunDueTimers();

  Clock clock_;
  mutable std::mutex mutex_;  // guards queue_ (posts come from any thread)
  std::deque<Call> queue_;
  std::map<TimerId, Timer> timers_;
  TimerId nextTimer_ = 1;
};

// A manually advanced clock for tests of timer-driven behaviour.
class ManualClock {
 public:
  std::chrono::steady_clock::time_point Now() const { return now_; }
  void Advance(std::chrono::milliseconds by) { now_ += by; }
  DefaultScheduler::Clock AsClock() {
    return [this] { return now_; };
  }

 private:
  std::chrono::steady_clock::time_point now_{};
};

}  // namespace xelo::com
