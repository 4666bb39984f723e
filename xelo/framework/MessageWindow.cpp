#include "xelo/framework/MessageWindow.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/MessageQueue.h"

#include <utility>

namespace xelo {

HWND AllocateHWnd(std::function<void(TMessage&)> wndProc) {
  return Application().Queue().AllocateHWnd(std::move(wndProc));
}

void DeallocateHWnd(HWND window) { MessageQueue::DeallocateHWnd(window); }

BOOL IsWindow(HWND window) { return MessageQueue::IsWindow(window) ? TRUE : FALSE; }

// Posting never creates the application: a window exists only once the
// application does, so without one every post fails anyway, and a poster
// thread must never become the main thread by accident.
BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return MessageQueue::PostMessage(window, msg, wParam, lParam) ? TRUE : FALSE;
}

BOOL PostMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, std::function<void()> onDiscard) {
  return MessageQueue::PostMessage(window, msg, wParam, lParam, std::move(onDiscard)) ? TRUE : FALSE;
}

LRESULT SendMessage(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  return MessageQueue::SendMessage(window, msg, wParam, lParam);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds) {
  return MessageQueue::SetTimer(window, id, milliseconds);
}

BOOL KillTimer(HWND window, UINT_PTR id) { return MessageQueue::KillTimer(window, id) ? TRUE : FALSE; }

// ---- MessageDispatcher -----------------------------------------------------------

void MessageDispatcher::On(UINT msg, Handler handler) {
  if (!handler) {
    Remove(msg);
    return;
  }
  handlers_[msg] = std::make_shared<const Handler>(std::move(handler));
}

void MessageDispatcher::Remove(UINT msg) { handlers_.erase(msg); }

bool MessageDispatcher::Handles(UINT msg) const { return handlers_.contains(msg); }

void MessageDispatcher::SetDefaultHandler(Handler handler) {
  default_ = handler ? std::make_shared<const Handler>(std::move(handler)) : nullptr;
}

bool MessageDispatcher::Dispatch(TMessage& message) const {
  // Hold the handler by reference count: it may replace or remove itself,
  // which must not destroy it while it runs.
  const auto it = handlers_.find(message.Msg);
  const bool own = it != handlers_.end();
  const std::shared_ptr<const Handler> handler = own ? it->second : default_;
  if (handler) (*handler)(message);
  return own;
}

// ---- TTimer ------------------------------------------------------------------------

namespace {
constexpr UINT_PTR kTimerId = 1;  // a TTimer's window has this one timer
}

TTimer::TTimer() : window_(AllocateHWnd([this](TMessage& message) { WndProc(message); })) {}

TTimer::~TTimer() { DeallocateHWnd(window_); }

void TTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  UpdateTimer();
}

void TTimer::SetInterval(UINT milliseconds) {
  interval_ = milliseconds;
  UpdateTimer();
}

void TTimer::SetOnTimer(TTimerEvent handler) {
  onTimer_ = std::move(handler);
  UpdateTimer();
}

void TTimer::UpdateTimer() {
  KillTimer(window_, kTimerId);
  if (enabled_ && interval_ != 0 && onTimer_) SetTimer(window_, kTimerId, interval_);
}

void TTimer::WndProc(TMessage& message) {
  if (message.Msg != WM_TIMER || message.WParam != kTimerId) return;
  // A copy, so that the handler may replace itself or destroy this timer;
  // nothing here touches the timer after the call.
  const TTimerEvent handler = onTimer_;
  if (handler) handler(this);
}

}  // namespace xelo
