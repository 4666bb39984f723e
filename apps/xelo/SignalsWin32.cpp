// StopSignals on Windows: the console's stop events instead of signals.
#include "Signals.h"

#include "xelo/framework/Application.h"
#include "xelo/platform/Platform.h"

#include <atomic>

namespace xelo::cli {
namespace {

// The console handler is a plain function; it reaches the one live object
// through this.
std::atomic<StopSignals*> current{nullptr};

void OnStop(int signal) {
  if (StopSignals* signals = current.load()) signals->Stop(signal);
}

}  // namespace

void StopSignals::Stop(int signal) {
  signal_ = signal;
  requested_ = true;
  // Wakes the main thread's loop; the call itself has nothing to do.
  if (TApplication* application = TApplication::Current()) application->Post([] {});
}

StopSignals::StopSignals() {
  // The application must exist before the handler may post to it.
  Application();
  current = this;
  platform::SetConsoleStopHandler(OnStop);
}

StopSignals::~StopSignals() {
  platform::SetConsoleStopHandler(nullptr);
  current = nullptr;
}

}  // namespace xelo::cli
