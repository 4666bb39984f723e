// Hidden message windows, posted messages and window timers.
//
// Components that must get back onto the main thread (the server
// component's callback sinks) own a hidden window and post messages to it:
//
//   window_ = AllocateHWnd([this](TMessage& m) { WndProc(m); });
//   ...from a callback, on any thread:
//   PostMessage(window_, CM_SOMETHING, id, reinterpret_cast<LPARAM>(list),
//               [list] { delete list; });
//   ...in the destructor:
//   DeallocateHWnd(window_);
//
// Messages are handled later on the main thread when it pumps (see
// Application.h), in posting order. Windows belong to the application's
// message queue (MessageQueue.h gives the full contract of each function).
#pragma once

#include "xelo/framework/Messages.h"

#include <functional>
#include <memory>
#include <unordered_map>

namespace xelo {

// Creates a hidden window whose messages go to `wndProc`; creates the
// application on first use. Main thread. The window lives until
// DeallocateHWnd (or the end of the application).
HWND AllocateHWnd(std::function<void(TMessage&)> wndProc);
// Destroys the window (main thread). Messages still queued for it are never
// delivered; their onDiscard actions run here, before it returns. Null and
// unknown windows are ignored.
void DeallocateHWnd(HWND window);
BOOL IsWindow(HWND window);

// Queues a message for the window; any thread, never blocks, never delivers
// before returning; delivery in posting order on the main thread. FALSE for
// a null, unknown or destroyed window.
BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// As above, for a message that carries an owned payload: exactly one of
// {the window procedure, `onDiscard`} runs. The procedure runs when the
// message is delivered and owns the payload from then on (also when it
// throws). `onDiscard` runs instead when the message is never delivered:
// on the posting thread before a FALSE return, on the main thread inside
// DeallocateHWnd, or on the thread that destroys the application at its end.
// It must not throw.
BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, std::function<void()> onDiscard);
// Calls the window procedure now and returns the message's Result (0 for an
// unknown window). Main thread; exceptions reach the caller.
LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

// Delivers WM_TIMER with WParam = `id` to the window every `milliseconds`
// on the application's clock, while the main thread pumps. Main thread.
// Returns `id`, or 0 for an unknown window or id 0. Setting an existing id
// restarts it. Timers die with their window.
UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds);
BOOL KillTimer(HWND window, UINT_PTR id);

// Dispatches messages by number to handlers, for window procedures:
//
//   dispatcher_.On(CM_OPCDATACHANGE, [this](TMessage& m) { CMOPCDatachange(m); });
//   void WndProc(TMessage& m) { dispatcher_.Dispatch(m); }
//
// A handler may replace or remove handlers (also its own) while it runs.
class MessageDispatcher {
 public:
  using Handler = std::function<void(TMessage&)>;

  // Sets the handler of `msg`, replacing any earlier one; an empty handler
  // removes it.
  void On(UINT msg, Handler handler);
  void Remove(UINT msg);
  bool Handles(UINT msg) const;
  // Called for messages without a handler of their own; none by default,
  // which leaves such messages alone with their Result unchanged.
  void SetDefaultHandler(Handler handler);

  // Calls the handler of `message.Msg` (else the default handler); returns
  // whether `message.Msg` had a handler of its own. Handlers' exceptions
  // reach the caller.
  bool Dispatch(TMessage& message) const;

 private:
  std::unordered_map<UINT, std::shared_ptr<const Handler>> handlers_;
  std::shared_ptr<const Handler> default_;
};

// A non-visual timer: calls OnTimer every Interval milliseconds on the main
// thread while Enabled, Interval > 0 and OnTimer is assigned. Main thread
// only, like its window. The handler may change or destroy the timer.
class TTimer {
 public:
  using TTimerEvent = std::function<void(TTimer* Sender)>;

  TTimer();  // Enabled, Interval 1000, no handler
  ~TTimer();
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool GetEnabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  UINT GetInterval() const { return interval_; }
  void SetInterval(UINT milliseconds);  // restarts the period
  const TTimerEvent& GetOnTimer() const { return onTimer_; }
  void SetOnTimer(TTimerEvent handler);
  HWND Handle() const { return window_; }

 private:
  void UpdateTimer();
  void WndProc(TMessage& message);

  HWND window_ = nullptr;
  bool enabled_ = true;
  UINT interval_ = 1000;
  TTimerEvent onTimer_;
};

}  // namespace xelo
