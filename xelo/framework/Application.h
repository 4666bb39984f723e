// The application object: owner of the main thread's message queue, the
// message loop, the last-resort exception handler and the user-interface
// backend.
//
// There is one current application per process, reachable as Application()
// (or TApplication::Instance()). The first use creates a process-wide one on
// the calling thread, which becomes the main thread; it lives until the end
// of the process. Constructing a TApplication explicitly (tests do, for a
// fresh queue and clock) makes that one current until it is destroyed,
// after which the previous one is current again. An application installs
// itself as the COM apartment scheduler when it is created and uninstalls
// itself when destroyed, so in-process servers post their callbacks and run
// their update timers through its queue. Create it (any framework call
// does) before creating server objects, or their scheduling goes to the COM
// layer's default scheduler, which this loop does not pump.
//
// Threads: the main thread is the thread that created the application.
// Post, Terminate, Terminated, Current and MainThreadId may be called from
// any thread (so may PostMessage, see MessageWindow.h). Every other member is
// for the main thread only and raises EInvalidOperation on any other thread
// instead of running handlers or touching the user interface there.
//
// Exceptions: an exception escaping a window procedure, a posted call or a
// timer tick while the loop runs is caught by the loop and handed to
// HandleException; the loop then goes on with the next message.
#pragma once

#include "xelo/com/Apartment.h"
#include "xelo/com/ClassRegistry.h"
#include "xelo/framework/MessageQueue.h"
#include "xelo/framework/UserInterface.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace xelo {

class TApplication final : public com::IApartmentScheduler {
 public:
  using Clock = MessageQueue::Clock;
  using TExceptionEvent = std::function<void(TApplication* Sender, const std::exception& E)>;

  // Becomes the current application (see above) and the COM apartment
  // scheduler; the calling thread becomes its main thread.
  TApplication();
  // Discards everything still queued (running the onDiscard actions of
  // waiting messages on this thread), destroys the remaining windows and
  // timers, then restores the previous application and scheduler. Destroy
  // explicitly created applications in reverse order of creation, after the
  // threads that post to them have stopped.
  ~TApplication() override;
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // The current application, created on first use.
  static TApplication& Instance();
  // The current application, or null when none exists yet. Any thread.
  static TApplication* Current() noexcept;

  std::thread::id MainThreadId() const noexcept { return queue_.OwnerThread(); }
  bool IsMainThread() const noexcept { return queue_.IsOwnerThread(); }
  MessageQueue& Queue() noexcept { return queue_; }

  // ---- Message loop (main thread) -------------------------------------------

  // Handles everything queued when called, then the timers that are due;
  // returns the number of messages, calls and ticks handled. Never waits.
  std::size_t ProcessMessages();
  // Handles one message, call or due tick; when none is ready, first waits
  // (without spinning) until a post arrives from any thread, the next timer
  // is due, or Terminate() is called (then it returns without handling).
  void HandleMessage();
  // HandleMessage until Terminated().
  void Run();
  // Pumps until `done()` holds, waiting between empty rounds; gives up
  // after `timeout` of real time, so that a test clock that nobody advances
  // cannot make it hang. Returns done().
  bool ProcessMessagesUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Asks Run to return; wakes a waiting HandleMessage. Any thread.
  void Terminate();
  bool Terminated() const noexcept { return terminated_.load(); }

  // ---- Errors (main thread) ---------------------------------------------------

  // Gives `E` to OnException if assigned, else shows it through the user
  // interface backend. Never throws on the main thread: an exception raised
  // by OnException itself is shown instead.
  void HandleException(const std::exception& E);
  const TExceptionEvent& GetOnException() const { return onException_; }
  void SetOnException(TExceptionEvent handler);

  // ---- User interface (main thread) ----------------------------------------------

  void ShowMessage(const std::string& text);
  void ShowException(const std::exception& E);
  void Beep();
  // Asks the user; returns the ID* answer (see UserInterface.h).
  int MessageBox(const std::string& text, const std::string& caption, UINT flags = MB_OK);
  IUserInterface& UserInterface() noexcept { return *ui_; }
  // Replaces the backend and returns the previous one (so it can be put
  // back); null installs a new headless backend.
  std::unique_ptr<IUserInterface> SetUserInterface(std::unique_ptr<IUserInterface> backend);

  // ---- Time (main thread) ----------------------------------------------------------

  // Replaces the clock of all timers (window timers, scheduler timers);
  // empty restores the steady clock. See MessageQueue::SetClock.
  void SetClock(Clock clock);
  std::chrono::steady_clock::time_point Now() const;

  // ---- IApartmentScheduler -----------------------------------------------------------

  // Queued in one order with window messages. Any thread.
  void Post(Call call) override;
  // Main thread. The ticks run on the application's clock.
  TimerId StartTimer(std::chrono::milliseconds period, Call tick) override;
  void StopTimer(TimerId id) override;

 private:
  void CheckMainThread(const char* function) const;

  // First in, last out: the main thread is a COM apartment for as long as
  // anything of the application may use COM.
  com::ComApartment apartment_;

  MessageQueue queue_;
  MessageQueue::ExceptionHandler exceptionHandler_;
  std::unique_ptr<IUserInterface> ui_;
  TExceptionEvent onException_;
  std::atomic<bool> terminated_{false};
  TApplication* previous_ = nullptr;  // the application current before this one; guarded
};

// The current application (TApplication::Instance()).
TApplication& Application();
// Application().ShowMessage(text).
void ShowMessage(const std::string& text);

}  // namespace xelo
