#include "Signals.h"

#include "xelo/framework/Application.h"

#include <pthread.h>

namespace xelo::cli {

StopSignals::StopSignals() {
  sigemptyset(&set_);
  sigaddset(&set_, SIGINT);
  sigaddset(&set_, SIGTERM);
  sigaddset(&set_, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set_, &previous_);
  // The application must exist before the thread may post to it.
  Application();
  waiter_ = std::thread([this] { Wait(); });
}

StopSignals::~StopSignals() {
  closing_ = true;
  // Wakes sigwait() with a signal aimed at that thread alone; the thread
  // sees closing_ and leaves without posting.
  if (!requested_) pthread_kill(waiter_.native_handle(), SIGTERM);
  waiter_.join();
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void StopSignals::Wait() {
  int received = 0;
  if (sigwait(&set_, &received) != 0) return;
  if (closing_) return;
  Stop(received);
}

void StopSignals::Stop(int signal) {
  signal_ = signal;
  requested_ = true;
  // Wakes the main thread's loop; the call itself has nothing to do.
  if (TApplication* application = TApplication::Current()) application->Post([] {});
}

}  // namespace xelo::cli
