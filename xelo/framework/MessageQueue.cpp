#include "xelo/framework/MessageQueue.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/platform/QueueWaiter.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

namespace xelo {
namespace {

// One lock for the whole message system: the window table and every queue's
// entries, timers and flags. Posts must find the window and enqueue in one
// step, so that a window destroyed concurrently either sees the message (and
// discards it) or the post fails; a single lock makes that trivially true,
// and there is only ever one pumping thread plus a few posters to contend.
// User code (procedures, calls, ticks, discard actions, and the destructors
// of any of them) never runs while it is held: such objects are moved out
// and destroyed after the lock is released, because they may post in turn.
std::mutex gLock;

struct WindowRecord {
  MessageQueue* queue;
  std::shared_ptr<const MessageQueue::WndProc> proc;
};
using WindowTable = std::unordered_map<std::uintptr_t, WindowRecord>;

// Built on the first queue's construction, so it outlives every queue, also
// at the end of the process.
WindowTable& Windows() {
  static WindowTable table;
  return table;
}

std::uintptr_t gLastWindow = 0;  // handles are never reused; guarded by gLock

std::uintptr_t Key(HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

// Discard actions are clean-ups; like destructors they must not throw.
void RunDiscard(MessageQueue::DiscardAction& action) noexcept {
  if (action) action();
}

std::chrono::steady_clock::time_point SteadyNow() { return std::chrono::steady_clock::now(); }

}  // namespace

MessageQueue::MessageQueue() : owner_(std::this_thread::get_id()), clock_(SteadyNow) {
  waiter_ = std::make_unique<platform::QueueWaiter>();
  std::lock_guard lock(gLock);
  (void)Windows();
}

MessageQueue::~MessageQueue() { Shutdown(); }

void MessageQueue::CheckOwner(const char* function) const {
  if (!IsOwnerThread()) {
    throw EInvalidOperation(std::string(function) + " must be called on the thread that owns the message queue");
  }
}

std::chrono::steady_clock::time_point MessageQueue::ClockNow() const { return clock_(); }

void MessageQueue::SetClock(Clock clock) {
  CheckOwner("SetClock");
  clock_ = clock ? std::move(clock) : Clock(SteadyNow);
  std::lock_guard lock(gLock);
  const auto now = ClockNow();
  for (Timer& timer : timers_) timer.due = now + timer.period;
}

std::chrono::steady_clock::time_point MessageQueue::Now() const {
  CheckOwner("Now");
  return ClockNow();
}

// ---- Message windows --------------------------------------------------------

HWND MessageQueue::AllocateHWnd(WndProc wndProc) {
  CheckOwner("AllocateHWnd");
  if (!wndProc) throw EInvalidOperation("AllocateHWnd needs a window procedure");
  auto proc = std::make_shared<const WndProc>(std::move(wndProc));
  std::lock_guard lock(gLock);
  if (closed_) throw EInvalidOperation("AllocateHWnd on a message queue that was shut down");
  const std::uintptr_t key = ++gLastWindow;
  Windows().emplace(key, WindowRecord{this, std::move(proc)});
  return reinterpret_cast<HWND>(key);
}

void MessageQueue::DeallocateHWnd(HWND window) {
  if (window == nullptr) return;
  // Declared before the lock, so destroyed after it is released.
  std::shared_ptr<const WndProc> proc;
  EntryQueue dropped;
  {
    std::lock_guard lock(gLock);
    WindowTable& windows = Windows();
    const auto it = windows.find(Key(window));
    if (it == windows.end()) return;
    MessageQueue& queue = *it->second.queue;
    queue.CheckOwner("DeallocateHWnd");
    proc = std::move(it->second.proc);
    windows.erase(it);

    EntryQueue kept;
    for (Entry& entry : queue.entries_) (entry.window == window ? dropped : kept).push_back(std::move(entry));
    queue.entries_.swap(kept);
    std::erase_if(queue.timers_, [window](const Timer& timer) { return timer.window == window; });
  }
  for (Entry& entry : dropped) RunDiscard(entry.onDiscard);
}

bool MessageQueue::IsWindow(HWND window) {
  if (window == nullptr) return false;
  std::lock_guard lock(gLock);
  return Windows().contains(Key(window));
}

bool MessageQueue::PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, DiscardAction onDiscard) {
  bool posted = false;
  std::shared_ptr<const Waker> waker;
  if (window != nullptr) {
    std::lock_guard lock(gLock);
    WindowTable& windows = Windows();
    const auto it = windows.find(Key(window));
    if (it != windows.end() && !it->second.queue->closed_) {
      MessageQueue& queue = *it->second.queue;
      queue.entries_.push_back(
          Entry{queue.nextSeq_++, window, TMessage{msg, wParam, lParam, 0}, std::move(onDiscard), {}});
      queue.waiter_->Notify();
      waker = queue.waker_;
      posted = true;
    }
  }
  if (posted) {
    // The waker is the poster's own copy: the queue may be gone already.
    if (waker) (*waker)();
    return true;
  }
  // The poster still holds the payload: release it here, so that callers
  // need not check the result to avoid a leak.
  RunDiscard(onDiscard);
  return false;
}

LRESULT MessageQueue::SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  std::shared_ptr<const WndProc> proc;
  {
    std::lock_guard lock(gLock);
    WindowTable& windows = Windows();
    const auto it = windows.find(Key(window));
    if (window == nullptr || it == windows.end()) return 0;
    it->second.queue->CheckOwner("SendMessage");
    proc = it->second.proc;
  }
  TMessage message{msg, wParam, lParam, 0};
  (*proc)(message);
  return message.Result;
}

UINT_PTR MessageQueue::SetTimer(HWND window, UINT_PTR id, UINT milliseconds) {
  if (window == nullptr || id == 0) return 0;
  MessageQueue* owner = nullptr;
  {
    std::lock_guard lock(gLock);
    WindowTable& windows = Windows();
    const auto it = windows.find(Key(window));
    if (it == windows.end()) return 0;
    MessageQueue& queue = *it->second.queue;
    queue.CheckOwner("SetTimer");
    const std::chrono::milliseconds period(std::max<UINT>(milliseconds, 1));
    const auto due = queue.ClockNow() + period;
    const auto existing = std::find_if(queue.timers_.begin(), queue.timers_.end(), [&](const Timer& timer) {
      return timer.window == window && timer.windowTimerId == id;
    });
    if (existing != queue.timers_.end()) {
      existing->period = period;
      existing->due = due;
    } else {
      queue.timers_.push_back(Timer{queue.nextTimerOrder_++, window, id, 0, period, due, nullptr});
    }
    owner = &queue;
  }
  // The caller is the owner thread, which keeps its queue alive.
  owner->WakeForTimers();
  return id;
}

bool MessageQueue::KillTimer(HWND window, UINT_PTR id) {
  if (window == nullptr) return false;
  std::lock_guard lock(gLock);
  WindowTable& windows = Windows();
  const auto it = windows.find(Key(window));
  if (it == windows.end()) return false;
  MessageQueue& queue = *it->second.queue;
  queue.CheckOwner("KillTimer");
  return std::erase_if(queue.timers_, [&](const Timer& timer) {
           return timer.window == window && timer.windowTimerId == id;
         }) > 0;
}

void MessageQueue::EntryQueue::pop_front() noexcept {
  items_[head_] = Entry{};
  ++head_;
  if (head_ == items_.size()) {
    items_.clear();  // keeps the memory for the next posts
    head_ = 0;
  } else if (head_ >= 64 && head_ * 2 >= items_.size()) {
    // A queue that never runs empty moves its live part to the front now
    // and then, so that the consumed part cannot grow without bound.
    items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
  }
}

// ---- Calls --------------------------------------------------------------------

void MessageQueue::PostCall(Call call) {
  std::shared_ptr<const Waker> waker;
  {
    std::lock_guard lock(gLock);
    if (closed_) return;  // dropped after shutdown; `call` dies without the lock
    entries_.push_back(Entry{nextSeq_++, nullptr, TMessage{}, {}, std::move(call)});
    waker = waker_;
  }
  // Woken after the lock is released, so that the owner does not wake only
  // to wait for the lock again. Safe here, unlike in the static
  // PostMessage: the caller of a member function keeps the queue alive.
  waiter_->Notify();
  if (waker) (*waker)();
}

MessageQueue::TimerId MessageQueue::StartTimer(std::chrono::milliseconds period, Call tick) {
  CheckOwner("StartTimer");
  period = std::max(period, std::chrono::milliseconds(1));
  auto shared = std::make_shared<const Call>(std::move(tick));
  TimerId id = 0;
  {
    std::lock_guard lock(gLock);
    const auto inUse = [this](TimerId candidate) {
      return std::any_of(timers_.begin(), timers_.end(),
                         [candidate](const Timer& timer) { return timer.schedulerId == candidate; });
    };
    id = nextSchedulerTimer_;
    while (id == 0 || inUse(id)) ++id;  // only matters after 2^32 timers
    nextSchedulerTimer_ = id + 1;
    timers_.push_back(Timer{nextTimerOrder_++, nullptr, 0, id, period, ClockNow() + period, std::move(shared)});
  }
  WakeForTimers();
  return id;
}

void MessageQueue::StopTimer(TimerId id) {
  CheckOwner("StopTimer");
  std::shared_ptr<const Call> tick;  // a running tick holds its own reference
  std::lock_guard lock(gLock);
  const auto it = std::find_if(timers_.begin(), timers_.end(),
                               [id](const Timer& timer) { return timer.window == nullptr && timer.schedulerId == id; });
  if (id == 0 || it == timers_.end()) return;
  tick = std::move(it->tick);
  timers_.erase(it);
  // `tick` is declared before the lock, so it is released after the lock.
}

// ---- Pumping --------------------------------------------------------------------

std::optional<MessageQueue::Work> MessageQueue::TakeEntry(std::optional<std::uint64_t> limit) {
  // The entry outlives the lock: if it is delivered, its discard action is
  // dropped unrun, and that may release captured state that posts.
  Entry entry;
  Work work;
  {
    std::lock_guard lock(gLock);
    if (entries_.empty() || (limit && entries_.front().seq >= *limit)) return std::nullopt;
    entry = std::move(entries_.front());
    entries_.pop_front();
    if (entry.window == nullptr) {
      work.call = std::move(entry.call);
      return work;
    }
    const auto it = Windows().find(Key(entry.window));
    if (it != Windows().end() && it->second.queue == this) {
      work.proc = it->second.proc;
      work.message = entry.message;
      return work;
    }
  }
  // DeallocateHWnd removes a window's messages with it, so this is only a
  // safety net: a message whose window is gone is discarded, never delivered.
  RunDiscard(entry.onDiscard);
  return work;  // empty: runs nothing
}

std::optional<MessageQueue::Work> MessageQueue::TakeTimer(std::chrono::steady_clock::time_point now,
                                                          std::optional<std::uint64_t> only) {
  std::lock_guard lock(gLock);
  Timer* chosen = nullptr;
  for (Timer& timer : timers_) {
    if (timer.due > now || (only && timer.order != *only)) continue;
    if (chosen == nullptr || timer.due < chosen->due || (timer.due == chosen->due && timer.order < chosen->order)) {
      chosen = &timer;
    }
  }
  if (chosen == nullptr) return std::nullopt;
  chosen->due += chosen->period;
  if (chosen->due <= now) chosen->due = now + chosen->period;

  Work work;
  if (chosen->window == nullptr) {
    work.tick = chosen->tick;  // the tick may stop (and so release) its own timer
    return work;
  }
  const auto it = Windows().find(Key(chosen->window));
  if (it == Windows().end()) return work;  // cannot happen: timers die with their window
  work.proc = it->second.proc;
  work.message = TMessage{WM_TIMER, chosen->windowTimerId, 0, 0};
  return work;
}

void MessageQueue::Run(Work& work, const ExceptionHandler& onError) {
  try {
    if (work.proc) {
      (*work.proc)(work.message);
    } else if (work.tick) {
      (*work.tick)();
    } else if (work.call) {
      work.call();
    }
  } catch (const std::exception& e) {
    if (!onError) throw;
    onError(e);
  } catch (...) {
    if (!onError) throw;
    const Exception unknown("An exception of an unknown type was raised");
    onError(unknown);
  }
}

std::size_t MessageQueue::ProcessPending(const ExceptionHandler& onError) {
  CheckOwner("ProcessMessages");
  std::uint64_t limit;
  {
    std::lock_guard lock(gLock);
    limit = nextSeq_;
  }
  std::size_t handled = 0;
  while (auto work = TakeEntry(limit)) {
    Run(*work, onError);
    ++handled;
  }

  const auto now = ClockNow();
  std::vector<std::pair<std::chrono::steady_clock::time_point, std::uint64_t>> due;
  {
    std::lock_guard lock(gLock);
    for (const Timer& timer : timers_) {
      if (timer.due <= now) due.emplace_back(timer.due, timer.order);
    }
  }
  std::sort(due.begin(), due.end());
  for (const auto& [when, order] : due) {
    // An earlier tick may have killed or restarted this timer.
    if (auto work = TakeTimer(now, order)) {
      Run(*work, onError);
      ++handled;
    }
  }
  return handled;
}

bool MessageQueue::HandleOne(const ExceptionHandler& onError) {
  CheckOwner("HandleMessage");
  auto work = TakeEntry(std::nullopt);
  if (!work) work = TakeTimer(ClockNow(), std::nullopt);
  if (!work) return false;
  Run(*work, onError);
  return true;
}

bool MessageQueue::WaitForWork(std::optional<std::chrono::steady_clock::time_point> realDeadline) {
  CheckOwner("WaitForWork");
  std::unique_lock lock(gLock);
  for (;;) {
    if (!entries_.empty()) return true;
    if (wakeRequested_) {
      wakeRequested_ = false;
      return true;
    }
    const auto now = ClockNow();
    std::optional<std::chrono::steady_clock::duration> untilTimer;
    for (const Timer& timer : timers_) {
      if (timer.due <= now) return true;
      const auto left = timer.due - now;
      if (!untilTimer || left < *untilTimer) untilTimer = left;
    }
    const auto realNow = std::chrono::steady_clock::now();
    if (realDeadline && realNow >= *realDeadline) return false;
    std::optional<std::chrono::steady_clock::time_point> wakeAt = realDeadline;
    if (untilTimer) wakeAt = std::min(wakeAt.value_or(std::chrono::steady_clock::time_point::max()), realNow + *untilTimer);
    waiter_->Wait(lock, wakeAt);
  }
}

void MessageQueue::Wake() {
  std::shared_ptr<const Waker> waker;
  {
    std::lock_guard lock(gLock);
    wakeRequested_ = true;
    waiter_->Notify();
    waker = waker_;
  }
  if (waker) (*waker)();
}

void MessageQueue::SetWaker(Waker waker) {
  auto shared = waker ? std::make_shared<const Waker>(std::move(waker)) : nullptr;
  std::lock_guard lock(gLock);
  waker_.swap(shared);
  // The old waker goes after the lock is released (`shared` is declared
  // before the lock).
}

void MessageQueue::WakeForTimers() const {
  std::shared_ptr<const Waker> waker;
  {
    std::lock_guard lock(gLock);
    waker = waker_;
  }
  if (waker) (*waker)();
}

std::optional<std::chrono::steady_clock::duration> MessageQueue::UntilNextTimer() const {
  CheckOwner("UntilNextTimer");
  std::lock_guard lock(gLock);
  const auto now = ClockNow();
  std::optional<std::chrono::steady_clock::duration> result;
  for (const Timer& timer : timers_) {
    const auto left = std::max<std::chrono::steady_clock::duration>(timer.due - now, {});
    if (!result || left < *result) result = left;
  }
  return result;
}

void MessageQueue::Shutdown() {
  // Everything taken out is destroyed after the lock is released.
  std::vector<std::shared_ptr<const WndProc>> procs;
  EntryQueue entries;
  std::vector<Timer> timers;
  {
    std::lock_guard lock(gLock);
    closed_ = true;
    WindowTable& windows = Windows();
    for (auto it = windows.begin(); it != windows.end();) {
      if (it->second.queue == this) {
        procs.push_back(std::move(it->second.proc));
        it = windows.erase(it);
      } else {
        ++it;
      }
    }
    entries.swap(entries_);
    timers.swap(timers_);
  }
  for (Entry& entry : entries) {
    if (entry.window != nullptr) RunDiscard(entry.onDiscard);
  }
}

std::size_t MessageQueue::PendingCount() const {
  std::lock_guard lock(gLock);
  return entries_.size();
}

std::size_t MessageQueue::WindowCount() const {
  std::lock_guard lock(gLock);
  const WindowTable& windows = Windows();
  return static_cast<std::size_t>(std::count_if(windows.begin(), windows.end(),
                                                [this](const auto& window) { return window.second.queue == this; }));
}

std::size_t MessageQueue::TimerCount() const {
  std::lock_guard lock(gLock);
  return timers_.size();
}

}  // namespace xelo
