// The message queue of one thread: the engine behind message windows,
// posted messages, window timers and the apartment scheduler's calls and
// timers.
//
// A queue belongs to the thread that created it (its owner thread; for the
// application's queue, the main thread). Everything queued is handled on the
// owner thread, in posting order, when that thread pumps; posted messages
// and posted calls share one order. Timers are not queued: a due timer is
// handled when the owner pumps and nothing queued is waiting, and a late
// timer ticks once and then keeps its rhythm (missed ticks are not replayed
// in a burst).
//
// Threads: PostMessage, PostCall, Wake, IsWindow and the counters may be
// called from any thread and never block on handlers; so may Shutdown (and
// the destructor), normally at the owner's end. Every other function is for
// the owner thread (for the window functions: the owner of the
// window's queue) and raises EInvalidOperation elsewhere, because the
// handlers it runs or manages must only ever run on that thread.
//
// Most code does not use this class directly: it calls the free functions of
// MessageWindow.h and the application object, which owns the main thread's
// queue.
#pragma once

#include "xelo/framework/Messages.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace xelo {

namespace platform {
class QueueWaiter;
}

class MessageQueue {
 public:
  using WndProc = std::function<void(TMessage&)>;
  using Call = std::function<void()>;
  using DiscardAction = std::function<void()>;
  using TimerId = std::uint32_t;  // scheduler timers; 0 is never valid
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  // Receives what a handler threw; the pump then goes on with the next work.
  using ExceptionHandler = std::function<void(const std::exception&)>;

  MessageQueue();  // the calling thread becomes the owner thread
  // Shutdown(), see there.
  ~MessageQueue();
  MessageQueue(const MessageQueue&) = delete;
  MessageQueue& operator=(const MessageQueue&) = delete;

  std::thread::id OwnerThread() const noexcept { return owner_; }
  bool IsOwnerThread() const noexcept { return std::this_thread::get_id() == owner_; }

  // The clock of the timers: the steady clock unless replaced (tests pass a
  // ManualClock's AsClock()). An empty clock restores the steady clock.
  // Replacing the clock restarts every timer's period at the new clock's
  // now. The clock is called on the owner thread with the queue's lock held,
  // so it must only read a time, never call back into message functions.
  void SetClock(Clock clock);
  std::chrono::steady_clock::time_point Now() const;

  // ---- Message windows ----------------------------------------------------

  // Creates a hidden window of this queue whose messages go to `wndProc`
  // (which must not be empty). The queue keeps the procedure until the
  // window is destroyed; a procedure may destroy its own window while it
  // runs. Owner thread; EInvalidOperation after Shutdown().
  HWND AllocateHWnd(WndProc wndProc);
  // Destroys `window`, kills its timers and discards the messages still
  // queued for it: none is delivered, and the onDiscard action of each runs
  // here, on the calling (owner) thread, before DeallocateHWnd returns. A
  // null, unknown or already destroyed window is ignored.
  static void DeallocateHWnd(HWND window);
  static bool IsWindow(HWND window);

  // Queues a message for `window`. Any thread; never blocks on handlers and
  // never delivers before returning. Returns false for a null, unknown or
  // destroyed window.
  //
  // Exactly one of {the window procedure, `onDiscard`} runs for every call:
  // - the procedure, on the owner thread, when the message is delivered
  //   (from then on the procedure owns the payload, also when it throws);
  // - `onDiscard`, when the message is never delivered:
  //   * on the posting thread, before PostMessage returns false, when the
  //     window is unknown or destroyed;
  //   * on the owner thread, inside DeallocateHWnd, when the window is
  //     destroyed while the message waits;
  //   * on the thread that shuts the queue down (normally the owner, at the
  //     end of the application), for messages still waiting then.
  // `onDiscard` is a clean-up like a destructor and must not throw (the
  // process terminates if it does). Its own destruction may happen on either
  // thread.
  static bool PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, DiscardAction onDiscard = {});
  // Calls the window procedure directly and returns the message's Result;
  // 0 for an unknown window. Exceptions of the procedure reach the caller.
  static LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

  // Delivers WM_TIMER (WParam = `id`) to `window` every `milliseconds`
  // (at least 1). Setting an existing id of the window restarts it with the
  // new period. Returns `id`, or 0 for an unknown window or id 0.
  static UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds);
  // Returns false when the window has no timer `id`.
  static bool KillTimer(HWND window, UINT_PTR id);

  // ---- Calls (the apartment scheduler) -------------------------------------

  // Queues `call` behind everything already queued. Any thread; never runs
  // the call before returning. After Shutdown() the call is dropped.
  void PostCall(Call call);
  // Runs `tick` every `period` (at least 1 ms) until stopped; owner thread.
  TimerId StartTimer(std::chrono::milliseconds period, Call tick);
  // Unknown or stopped timers are ignored; a tick may stop its own timer.
  void StopTimer(TimerId id);

  // ---- Pumping (owner thread) -----------------------------------------------

  // Handles what was queued when the call began (not what the handlers
  // queue in turn, so that a handler that reposts itself cannot hold the
  // pump forever), then the timers due at that time. Returns how many
  // messages, calls and ticks were handled. An exception escaping a handler
  // goes to `onError` and the pump goes on; without `onError` it propagates
  // and the rest stays queued.
  std::size_t ProcessPending(const ExceptionHandler& onError);
  // Handles the oldest queued message or call, or else the most overdue
  // timer; returns false when nothing was ready. Exceptions as above.
  bool HandleOne(const ExceptionHandler& onError);
  // Blocks until something is queued, a timer is due on the clock, Wake()
  // was called, or `realDeadline` (real steady time) passed. Timer waits
  // sleep for the clock's remaining time in real time and check again, so a
  // stopped test clock never makes a timer due by itself. Returns false only
  // when the deadline passed.
  bool WaitForWork(std::optional<std::chrono::steady_clock::time_point> realDeadline);
  // Ends one WaitForWork early (or the next one, if none is waiting). Any
  // thread.
  void Wake();

  // ---- Pumped by another event loop ----------------------------------------

  // Called whenever work arrives (a post or a call from any thread, Wake(),
  // a timer started or restarted), so that another event loop than
  // WaitForWork (Qt's) knows when to pump the owner thread. It runs on the
  // posting thread, without the queue's lock: it must only arrange for a
  // pump on the owner thread, never pump itself. Empty removes it. Any
  // thread.
  using Waker = std::function<void()>;
  void SetWaker(Waker waker);
  // Time until the earliest timer is due on the queue's clock (zero when one
  // is due already); none without timers. Owner thread.
  std::optional<std::chrono::steady_clock::duration> UntilNextTimer() const;

  // Destroys this queue's windows and timers and discards everything queued:
  // the onDiscard actions of waiting messages run on the calling thread,
  // posted calls are destroyed without running. Later posts to the queue's
  // windows fail; later PostCalls are dropped. Idempotent.
  void Shutdown();

  // Counters, for diagnostics and tests. Any thread.
  std::size_t PendingCount() const;  // queued messages and calls
  std::size_t WindowCount() const;   // live windows of this queue
  std::size_t TimerCount() const;    // window timers and scheduler timers

 private:
  using ProcPtr = std::shared_ptr<const WndProc>;
  // A queued message (window set) or call (window null).
  struct Entry {
    std::uint64_t seq = 0;
    HWND window = nullptr;
    TMessage message;
    DiscardAction onDiscard;
    Call call;
  };
  // A window timer (window set) or a scheduler timer (schedulerId set).
  struct Timer {
    std::uint64_t order = 0;  // creation order, breaks ties between equally due timers
    HWND window = nullptr;
    UINT_PTR windowTimerId = 0;
    TimerId schedulerId = 0;
    std::chrono::milliseconds period{};
    std::chrono::steady_clock::time_point due{};
    std::shared_ptr<const Call> tick;
  };
  // One unit of work taken out of the queue, run without the lock.
  struct Work {
    ProcPtr proc;  // a message for a window procedure
    TMessage message;
    Call call;  // a posted call
    std::shared_ptr<const Call> tick;  // a scheduler timer's tick
  };

  // The queued entries in posting order: a vector consumed from the front,
  // so that a steady flow of posts reuses one block of memory instead of
  // allocating and freeing as it goes.
  class EntryQueue {
   public:
    bool empty() const noexcept { return head_ == items_.size(); }
    std::size_t size() const noexcept { return items_.size() - head_; }
    Entry& front() noexcept { return items_[head_]; }
    void push_back(Entry entry) { items_.push_back(std::move(entry)); }
    // Drops the front entry (normally moved from already).
    void pop_front() noexcept;
    std::vector<Entry>::iterator begin() noexcept { return items_.begin() + static_cast<std::ptrdiff_t>(head_); }
    std::vector<Entry>::iterator end() noexcept { return items_.end(); }
    void swap(EntryQueue& other) noexcept {
      items_.swap(other.items_);
      std::swap(head_, other.head_);
    }

   private:
    std::vector<Entry> items_;
    std::size_t head_ = 0;
  };

  std::optional<Work> TakeEntry(std::optional<std::uint64_t> limit);
  std::optional<Work> TakeTimer(std::chrono::steady_clock::time_point now, std::optional<std::uint64_t> only);
  static void Run(Work& work, const ExceptionHandler& onError);
  void CheckOwner(const char* function) const;
  // Calls the waker, if any, for a timer that was started or restarted.
  void WakeForTimers() const;
  std::chrono::steady_clock::time_point ClockNow() const;

  const std::thread::id owner_;
  Clock clock_;  // owner thread only
  std::unique_ptr<platform::QueueWaiter> waiter_;
  // The rest is guarded by the message system's lock (see the source).
  EntryQueue entries_;
  std::vector<Timer> timers_;
  std::uint64_t nextSeq_ = 0;
  std::uint64_t nextTimerOrder_ = 0;
  TimerId nextSchedulerTimer_ = 1;
  bool wakeRequested_ = false;
  bool closed_ = false;
  std::shared_ptr<const Waker> waker_;
};

}  // namespace xelo
