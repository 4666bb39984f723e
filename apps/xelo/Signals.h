// Ctrl-C, SIGTERM and SIGHUP (the terminal closed, the session ended) as a
// request to stop, for the commands that run until stopped (watch, run).
//
// While a StopSignals object lives, SIGINT, SIGTERM and SIGHUP are blocked on the
// main thread and taken by a small thread of its own with sigwait(), so no
// handler ever runs in the middle of the library. On a signal that thread
// sets the flag and posts an empty call to the application's queue, which
// wakes the message loop; the loop sees Requested() and ends, and the
// command disconnects as usual. Create the object before any other thread
// of the program exists (the mask is inherited), and on the main thread.
#pragma once

#include <atomic>
#include <csignal>
#include <thread>

namespace xelo::cli {

class StopSignals {
 public:
  StopSignals();
  // Ends the waiting thread and restores the signal mask.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  bool Requested() const { return requested_.load(); }
  // The signal that asked to stop, 0 while none did.
  int Signal() const { return signal_.load(); }

 private:
  void Wait();

  sigset_t set_{};
  sigset_t previous_{};
  std::atomic<bool> requested_{false};
  std::atomic<bool> closing_{false};
  std::atomic<int> signal_{0};
  std::thread waiter_;
};

}  // namespace xelo::cli
