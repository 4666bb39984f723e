#include "xelo/framework/Application.h"

#include "xelo/framework/Exceptions.h"

#include <cstdio>
#include <mutex>
#include <optional>
#include <utility>

namespace xelo {
namespace {

// The chain of applications: gCurrent, then each one's previous_. Guarded by
// gAppLock; read from any thread by Current().
std::mutex gAppLock;
TApplication* gCurrent = nullptr;

// Serialises the creation of the process-wide application.
std::mutex gCreateLock;
bool gDefaultDestroyed = false;  // guarded by gCreateLock

// Owns the application that first use creates. It is built on that first
// use, so everything built before it (the window table, the COM class
// registry of servers registered earlier) is still there when it is
// destroyed at the end of the process and discards its queue.
struct DefaultApplication {
  std::unique_ptr<TApplication> app;
  ~DefaultApplication() {
    app.reset();
    std::lock_guard lock(gCreateLock);
    gDefaultDestroyed = true;
  }
};

void ReportUnshowable(const char* what) noexcept {
  std::fprintf(stderr, "Error (the user interface failed to show it): %s\n", what);
}

}  // namespace

TApplication::TApplication()
    : exceptionHandler_([this](const std::exception& e) { HandleException(e); }),
      ui_(std::make_unique<THeadlessUserInterface>()) {
  {
    std::lock_guard lock(gAppLock);
    previous_ = gCurrent;
    gCurrent = this;
  }
  com::InstallScheduler(this);
}

TApplication::~TApplication() {
  // Discard first, while this application is still current: discard actions
  // and the destructors of dropped calls may still call Application().
  queue_.Shutdown();
  TApplication* current;
  {
    std::lock_guard lock(gAppLock);
    if (gCurrent == this) {
      gCurrent = previous_;
    } else {
      for (TApplication* later = gCurrent; later != nullptr; later = later->previous_) {
        if (later->previous_ == this) {
          later->previous_ = previous_;
          break;
        }
      }
    }
    current = gCurrent;
  }
  if (&com::Scheduler() == this) com::InstallScheduler(current);
}

TApplication& TApplication::Instance() {
  if (TApplication* app = Current()) return *app;
  std::lock_guard create(gCreateLock);
  if (TApplication* app = Current()) return *app;
  if (gDefaultDestroyed) throw EInvalidOperation("The application object is used after the end of the process");
  static DefaultApplication holder;
  holder.app = std::make_unique<TApplication>();
  return *holder.app;
}

TApplication* TApplication::Current() noexcept {
  std::lock_guard lock(gAppLock);
  return gCurrent;
}

void TApplication::CheckMainThread(const char* function) const {
  if (!IsMainThread()) {
    throw EInvalidOperation(std::string("TApplication.") + function +
                            " must be called on the application's main thread");
  }
}

// ---- Message loop ---------------------------------------------------------------

std::size_t TApplication::ProcessMessages() {
  CheckMainThread("ProcessMessages");
  return queue_.ProcessPending(exceptionHandler_);
}

void TApplication::HandleMessage() {
  CheckMainThread("HandleMessage");
  if (queue_.HandleOne(exceptionHandler_) || Terminated()) return;
  // Terminate() wakes this wait, so a Terminate between the check above and
  // the wait is not lost.
  queue_.WaitForWork(std::nullopt);
  queue_.HandleOne(exceptionHandler_);
}

void TApplication::Run() {
  CheckMainThread("Run");
  while (!Terminated()) HandleMessage();
}

bool TApplication::ProcessMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  CheckMainThread("ProcessMessagesUntil");
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (ProcessMessages() > 0) continue;
    if (!queue_.WaitForWork(deadline)) return done();
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  queue_.Wake();
}

// ---- Errors ------------------------------------------------------------------------

void TApplication::HandleException(const std::exception& E) {
  CheckMainThread("HandleException");
  if (onException_) {
    const TExceptionEvent handler = onException_;  // the handler may replace itself
    try {
      handler(this, E);
      return;
    } catch (const std::exception& raised) {
      try {
        ui_->ShowException(raised.what());
      } catch (...) {
        ReportUnshowable(raised.what());
      }
      return;
    } catch (...) {
      // Fall through: report the original exception.
    }
  }
  try {
    ui_->ShowException(E.what());
  } catch (...) {
    ReportUnshowable(E.what());
  }
}

void TApplication::SetOnException(TExceptionEvent handler) {
  CheckMainThread("SetOnException");
  onException_ = std::move(handler);
}

// ---- User interface ------------------------------------------------------------------

void TApplication::ShowMessage(const std::string& text) {
  CheckMainThread("ShowMessage");
  ui_->ShowMessage(text);
}

void TApplication::ShowException(const std::exception& E) {
  CheckMainThread("ShowException");
  ui_->ShowException(E.what());
}

void TApplication::Beep() {
  CheckMainThread("Beep");
  ui_->Beep();
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  CheckMainThread("MessageBox");
  return ui_->MessageBox(text, caption, flags);
}

std::unique_ptr<IUserInterface> TApplication::SetUserInterface(std::unique_ptr<IUserInterface> backend) {
  CheckMainThread("SetUserInterface");
  if (!backend) backend = std::make_unique<THeadlessUserInterface>();
  ui_.swap(backend);
  return backend;
}

// ---- Time ------------------------------------------------------------------------------

void TApplication::SetClock(Clock clock) {
  CheckMainThread("SetClock");
  queue_.SetClock(std::move(clock));
}

std::chrono::steady_clock::time_point TApplication::Now() const {
  CheckMainThread("Now");
  return queue_.Now();
}

// ---- IApartmentScheduler -------------------------------------------------------------------

void TApplication::Post(Call call) { queue_.PostCall(std::move(call)); }

com::IApartmentScheduler::TimerId TApplication::StartTimer(std::chrono::milliseconds period, Call tick) {
  CheckMainThread("StartTimer");
  return queue_.StartTimer(period, std::move(tick));
}

void TApplication::StopTimer(TimerId id) {
  CheckMainThread("StopTimer");
  queue_.StopTimer(id);
}

TApplication& Application() { return TApplication::Instance(); }

void ShowMessage(const std::string& text) { Application().ShowMessage(text); }

}  // namespace xelo
