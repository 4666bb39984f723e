#include "xelo/platform/QueueWaiter.h"

#include <stdexcept>

#include <windows.h>

namespace xelo::platform {

// An auto-reset event: a Notify while nobody waits ends the next Wait at
// once, which the callers' checks of their state absorb.
struct QueueWaiter::State {
  HANDLE event = nullptr;
};

QueueWaiter::QueueWaiter() : state_(std::make_unique<State>()) {
  state_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (state_->event == nullptr) throw std::runtime_error("cannot create the message queue's wake event");
}

QueueWaiter::~QueueWaiter() { CloseHandle(state_->event); }

void QueueWaiter::Notify() { SetEvent(state_->event); }

namespace {

DWORD MillisecondsUntil(std::optional<std::chrono::steady_clock::time_point> deadline) {
  if (!deadline) return INFINITE;
  const auto left = *deadline - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  // Rounded up, so that a wait never ends just before its deadline and
  // spins; capped below INFINITE.
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms >= static_cast<long long>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(ms);
}

// Dispatches the Windows messages waiting for this thread: among them the
// calls COM marshals into this apartment.
void DispatchWindowsMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) continue;  // the library's loop ends by its own means
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

void QueueWaiter::Wait(std::unique_lock<std::mutex>& lock,
                       std::optional<std::chrono::steady_clock::time_point> deadline) {
  lock.unlock();
  const DWORD woken =
      MsgWaitForMultipleObjectsEx(1, &state_->event, MillisecondsUntil(deadline), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  // Handlers run without the queue's lock: what they post takes it.
  if (woken == WAIT_OBJECT_0 + 1) DispatchWindowsMessages();
  lock.lock();
}

}  // namespace xelo::platform
