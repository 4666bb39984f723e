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
// On Windows the console's Ctrl-C, Ctrl-Break and close events take the
// place of the signals (SignalsWin32.cpp); the system calls the handler on
// a thread of its own.
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
  // Records `signal` as the request to stop and wakes the message loop;
  // called from the waiting thread or the console handler.
  void Stop(int signal);

 private:
  void Wait();

#if !defined(_WIN32)
  sigset_t set_{};
  sigset_t previous_{};
#endif
  std::atomic<bool> requested_{false};
  std::atomic<bool> closing_{false};
  std::atomic<int> signal_{0};
#if !defined(_WIN32)
  std::thread waiter_;
#endif
};

}  // namespace xelo::cli
