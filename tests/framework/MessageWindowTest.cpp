#include "xelo/framework/MessageWindow.h"

#include "xelo/framework/Application.h"
#include "support/Expectations.h"
#include "xelo/framework/Exceptions.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using xelo::com::ManualClock;
using namespace xelo;
using xelo::testing::ExpectEachRaises;
using xelo::HWND;  // the framework's window handle, not the Windows SDK's

constexpr UINT CM_TEST = WM_USER + 1;

// Each test gets a fresh application (so a fresh queue) on a test clock,
// its user interface headless and quiet.
class MessageLoopTest : public ::testing::Test {
 protected:
  MessageLoopTest() {
    app.SetClock(clock.AsClock());
    Ui().SetEcho(false);
  }
  // Lets `elapsed` pass on the test clock and handles what is then due.
  std::size_t Tick(std::chrono::milliseconds elapsed) {
    clock.Advance(elapsed);
    return app.ProcessMessages();
  }
  THeadlessUserInterface& Ui() { return dynamic_cast<THeadlessUserInterface&>(app.UserInterface()); }

  ManualClock clock;
  TApplication app;
};

TEST_F(MessageLoopTest, PostsFromAnotherThreadArriveInPostingOrderOnTheMainThread) {
  std::vector<WPARAM> received;
  std::vector<std::thread::id> threads;
  const HWND window = AllocateHWnd([&](TMessage& m) {
    received.push_back(m.WParam);
    threads.push_back(std::this_thread::get_id());
  });
  constexpr WPARAM kCount = 500;
  std::thread poster([window] {
    for (WPARAM i = 0; i < kCount; ++i) EXPECT_EQ(PostMessage(window, CM_TEST, i, 0), TRUE);
  });
  EXPECT_TRUE(app.ProcessMessagesUntil([&] { return received.size() == kCount; }, 30s));
  poster.join();
  app.ProcessMessages();
  ASSERT_EQ(received.size(), kCount);
  for (WPARAM i = 0; i < kCount; ++i) ASSERT_EQ(received[i], i) << "out of order at " << i;
  for (const auto& id : threads) ASSERT_EQ(id, std::this_thread::get_id());
  DeallocateHWnd(window);
}

// Scheduler posts, from any thread, and window messages share one order.
TEST_F(MessageLoopTest, PostingNeverDeliversAPumpHandlesOnlyWhatWasQueuedWhenItBeganAndSendingCallsAtOnce) {
  std::string trace;
  HWND window = nullptr;
  window = AllocateHWnd([&](TMessage& m) {
    trace += static_cast<char>(m.WParam);
    if (m.WParam == 'a') PostMessage(window, CM_TEST, 'c', 0);  // behind 'e'
  });
  ASSERT_EQ(PostMessage(window, CM_TEST, 'a', 0), TRUE);
  com::Scheduler().Post([&] { trace += 'B'; });
  std::thread other([&] { com::Scheduler().Post([&] { trace += 'D'; }); });
  other.join();
  ASSERT_EQ(PostMessage(window, CM_TEST, 'e', 0), TRUE);
  EXPECT_EQ(trace, "") << "a post delivered inside the call";
  EXPECT_EQ(app.Queue().PendingCount(), 4u);
  EXPECT_EQ(app.ProcessMessages(), 4u);
  EXPECT_EQ(trace, "aBDe");
  EXPECT_EQ(app.ProcessMessages(), 1u);
  EXPECT_EQ(trace, "aBDec");
  EXPECT_EQ(app.ProcessMessages(), 0u);
  DeallocateHWnd(window);

  // SendMessage calls the procedure now and returns its result.
  std::vector<UINT> seen;
  window = AllocateHWnd([&](TMessage& m) {
    seen.push_back(m.Msg);
    if (m.Msg == CM_TEST) m.Result = static_cast<LRESULT>(m.WParam + static_cast<WPARAM>(m.LParam));
  });
  PostMessage(window, WM_USER + 2, 0, 0);
  EXPECT_EQ(SendMessage(window, CM_TEST, 40, 2), 42);
  EXPECT_EQ(seen, std::vector<UINT>{CM_TEST}) << "the sent message overtakes the posted one";
  EXPECT_EQ(SendMessage(window, WM_NULL, 0, 0), 0) << "an unanswered message's result stays 0";
  app.ProcessMessages();
  EXPECT_EQ(seen, (std::vector<UINT>{CM_TEST, WM_NULL, WM_USER + 2}));
  DeallocateHWnd(window);
  EXPECT_EQ(SendMessage(window, CM_TEST, 1, 1), 0) << "an unknown window answers 0";
}

TEST_F(MessageLoopTest, MessagesOfADestroyedWindowAreDiscardedExactlyOnceAndNeverDeliveredAlsoWhenItDestroysItself) {
  std::vector<WPARAM> received;
  const HWND doomed = AllocateHWnd([&](TMessage& m) { received.push_back(m.WParam); });
  const HWND survivor = AllocateHWnd([&](TMessage& m) { received.push_back(m.WParam); });
  int discards = 0;
  for (WPARAM i = 1; i <= 3; ++i) {
    // A heap payload that only the discard action frees: LeakSanitizer
    // reports it if the action is lost, ASan if it runs twice.
    auto* payload = new std::string("payload");
    PostMessage(doomed, CM_TEST, i, reinterpret_cast<LPARAM>(payload), [payload, &discards] {
      delete payload;
      ++discards;
    });
    PostMessage(survivor, CM_TEST, 10 + i, 0, [&discards] { discards += 100; });
  }
  DeallocateHWnd(doomed);
  EXPECT_EQ(discards, 3) << "the discard actions run inside DeallocateHWnd";
  EXPECT_EQ(IsWindow(doomed), FALSE);
  EXPECT_EQ(app.ProcessMessages(), 3u);
  EXPECT_EQ(received, (std::vector<WPARAM>{11, 12, 13})) << "only the survivor's messages arrive";
  EXPECT_EQ(discards, 3) << "a delivered message never runs its discard action";
  DeallocateHWnd(doomed);  // twice: ignored
  DeallocateHWnd(nullptr);

  // Posting to the dead window fails and releases the payload on the
  // posting thread before returning.
  std::thread::id discardThread;
  std::thread poster([&] {
    EXPECT_EQ(PostMessage(doomed, CM_TEST, 0, 0, [&] { discardThread = std::this_thread::get_id(); }), FALSE);
    EXPECT_EQ(discardThread, std::this_thread::get_id());
  });
  poster.join();
  EXPECT_EQ(PostMessage(nullptr, CM_TEST, 0, 0), FALSE);
  DeallocateHWnd(survivor);

  // A window may destroy itself while its messages wait.
  int handled = 0;
  discards = 0;
  HWND self = nullptr;
  self = AllocateHWnd([&](TMessage&) {
    ++handled;
    DeallocateHWnd(self);  // destroys the running procedure's own window
  });
  for (int i = 0; i < 3; ++i) PostMessage(self, CM_TEST, 0, 0, [&] { ++discards; });
  EXPECT_EQ(app.ProcessMessages(), 1u);
  EXPECT_EQ((std::vector<int>{handled, discards}), (std::vector<int>{1, 2}));
  EXPECT_EQ(app.Queue().WindowCount(), 0u);
}


TEST_F(MessageLoopTest, MainThreadFunctionsRefuseOtherThreadsWhilePostingIsFree) {
  bool called = false;
  bool ran = false;
  const HWND window = AllocateHWnd([&](TMessage&) { called = true; });
  std::thread other([&] {
    ExpectEachRaises<EInvalidOperation>(
        {[&] { SendMessage(window, CM_TEST, 0, 0); }, [&] { SetTimer(window, 1, 10); }, [&] { DeallocateHWnd(window); },
         [&] { app.Queue().AllocateHWnd([](TMessage&) {}); }, [&] { app.ProcessMessages(); },
         [&] { app.ShowMessage("x"); }, [&] { app.Beep(); }, [&] { app.HandleException(std::runtime_error("x")); },
         [&] { app.HandleMessage(); }, [&] { app.SetClock({}); }});
    EXPECT_NO_THROW(app.Post([&] { ran = true; }));
  });
  other.join();
  EXPECT_FALSE(called);
  EXPECT_EQ(IsWindow(window), TRUE) << "the refused DeallocateHWnd left the window alone";
  EXPECT_EQ(app.Queue().TimerCount(), 0u);
  EXPECT_TRUE(Ui().Records().empty());
  EXPECT_EQ(Ui().BeepCount(), 0);
  EXPECT_FALSE(ran);
  app.ProcessMessages();
  EXPECT_TRUE(ran);
  DeallocateHWnd(window);
}

TEST_F(MessageLoopTest, WindowTimersTickOnTheTestClockUntilKilled) {
  std::vector<WPARAM> ticks;
  const HWND window = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_TIMER) ticks.push_back(m.WParam);
  });
  EXPECT_EQ(SetTimer(window, 9, 250), 9u);
  EXPECT_EQ(SetTimer(window, 7, 100), 7u);
  EXPECT_EQ(SetTimer(window, 0, 100), 0u) << "id 0 is refused";

  app.ProcessMessages();
  EXPECT_TRUE(ticks.empty()) << "nothing is due before the first period";
  Tick(100ms);
  EXPECT_EQ(ticks, std::vector<WPARAM>{7});
  Tick(150ms);  // t = 250: both due, the earlier-due one first
  EXPECT_EQ(ticks, (std::vector<WPARAM>{7, 7, 9}));
  EXPECT_EQ(Tick(1000ms), 2u);  // late: one tick each, no burst
  EXPECT_EQ(app.ProcessMessages(), 0u) << "missed ticks are not replayed";

  ticks.clear();
  EXPECT_EQ(SetTimer(window, 7, 500), 7u);  // restarts with the new period
  EXPECT_EQ(KillTimer(window, 9), TRUE);
  EXPECT_EQ(KillTimer(window, 9), FALSE);
  Tick(400ms);
  EXPECT_TRUE(ticks.empty());
  Tick(100ms);
  EXPECT_EQ(ticks, std::vector<WPARAM>{7});

  DeallocateHWnd(window);
  EXPECT_EQ(app.Queue().TimerCount(), 0u) << "timers die with their window";
}

TEST_F(MessageLoopTest, TTimerCallsOnTimerWhileEnabledAndMayBeDestroyedByIt) {
  auto timer = std::make_unique<TTimer>();
  int fired = 0;
  timer->SetInterval(50);
  Tick(50ms);
  EXPECT_EQ(fired, 0) << "no handler, no timer";

  timer->SetOnTimer([&](TTimer* sender) {
    if (sender == timer.get() && ++fired == 3) timer.reset();  // destroys the timer from its own handler
  });
  Tick(50ms);
  EXPECT_EQ(fired, 1);
  timer->SetEnabled(false);
  Tick(200ms);
  EXPECT_EQ(fired, 1);
  timer->SetEnabled(true);
  for (int i = 0; i < 4; ++i) Tick(50ms);
  EXPECT_EQ(fired, 3);
  EXPECT_EQ(timer, nullptr);
  EXPECT_EQ(app.Queue().WindowCount(), 0u);
  EXPECT_EQ(app.Queue().TimerCount(), 0u);
}

TEST(MessageDispatcher, DispatchesByNumberWithADefaultForTheRest) {
  MessageDispatcher dispatcher;
  std::string trace;
  dispatcher.On(CM_TEST, [&](TMessage& m) {
    trace += "test;";
    m.Result = 1;
  });
  dispatcher.On(WM_USER + 2, [&](TMessage&) {
    trace += "two;";
    // Replaces its own handler while running; the running one stays alive.
    dispatcher.On(WM_USER + 2, [&](TMessage&) { trace += "two'"; });
  });
  TMessage m{CM_TEST, 0, 0, 0};
  EXPECT_TRUE(dispatcher.Dispatch(m));
  EXPECT_EQ(m.Result, 1);

  TMessage unhandled{WM_QUERYENDSESSION, 0, 0, 0};
  EXPECT_FALSE(dispatcher.Dispatch(unhandled) || unhandled.Result != 0) << "without a default handler it is left alone";
  dispatcher.SetDefaultHandler([&](TMessage& d) {
    trace += "default;";
    d.Result = 5;
  });
  EXPECT_FALSE(dispatcher.Dispatch(unhandled));
  EXPECT_EQ(unhandled.Result, 5);

  TMessage two{WM_USER + 2, 0, 0, 0};
  dispatcher.Dispatch(two);
  dispatcher.Dispatch(two);
  EXPECT_EQ(trace, "test;default;two;two'");

  dispatcher.On(CM_TEST, nullptr);
  EXPECT_FALSE(dispatcher.Handles(CM_TEST));
}

TEST(MessageQueueShutdown, DestroyingTheApplicationDiscardsWhatIsQueued) {
  auto payload = std::make_shared<int>(1);
  std::weak_ptr<int> watch = payload;
  int discarded = 0;
  bool ran = false;
  HWND window = nullptr;
  {
    TApplication app;
    dynamic_cast<THeadlessUserInterface&>(app.UserInterface()).SetEcho(false);
    window = AllocateHWnd([&](TMessage&) { ran = true; });
    auto* heap = new std::vector<int>(100);
    PostMessage(window, CM_TEST, 0, reinterpret_cast<LPARAM>(heap), [heap, &discarded] {
      delete heap;
      ++discarded;
    });
    app.Post([&ran, payload] { ran = true; });
    payload.reset();
    EXPECT_FALSE(watch.expired()) << "the queued call holds the payload";
  }
  EXPECT_FALSE(ran);
  EXPECT_EQ(discarded, 1);
  EXPECT_TRUE(watch.expired()) << "a dropped call's captures are released";
  EXPECT_EQ(IsWindow(window), FALSE);
  EXPECT_EQ(PostMessage(window, CM_TEST, 0, 0, [&] { ++discarded; }), FALSE);
  EXPECT_EQ(discarded, 2);
}

// ---- the application: its loop, its scheduler, its user interface ----------------

TEST_F(MessageLoopTest, IsTheCurrentApplicationAndSchedulerWhileItLives) {
  EXPECT_EQ(&Application(), &app);
  EXPECT_EQ(&com::Scheduler(), &app);
  EXPECT_TRUE(app.IsMainThread());
  {
    TApplication inner;
    EXPECT_EQ(&Application(), &inner);
    EXPECT_EQ(&com::Scheduler(), &inner);
  }
  EXPECT_EQ(&Application(), &app) << "the previous application is current again";
  EXPECT_EQ(&com::Scheduler(), &app);
  std::thread other([&] { EXPECT_FALSE(app.IsMainThread()); });
  other.join();
}

TEST_F(MessageLoopTest, AnEscapedExceptionGoesToOnExceptionAndTheLoopGoesOn) {
  std::vector<std::string> caught;
  app.SetOnException([&](TApplication* sender, const std::exception& e) {
    EXPECT_EQ(sender, &app);
    caught.push_back(e.what());
  });
  std::string trace;
  const HWND window = AllocateHWnd([&](TMessage& m) {
    trace += std::to_string(m.WParam);
    if (m.WParam == 1) throw EListError("list index out of bounds (1)");
    if (m.WParam == 3) throw 42;  // not even a std::exception
  });
  for (WPARAM i = 1; i <= 4; ++i) PostMessage(window, CM_TEST, i, 0);
  app.Post([] { throw std::runtime_error("from a posted call"); });
  EXPECT_EQ(app.ProcessMessages(), 5u);
  EXPECT_EQ(trace, "1234");
  EXPECT_EQ(caught, (std::vector<std::string>{"list index out of bounds (1)", "An exception of an unknown type was raised",
                                              "from a posted call"}));
  EXPECT_TRUE(Ui().Records().empty()) << "an assigned OnException replaces the report";

  // Without a handler the backend shows the message.
  app.SetOnException(nullptr);
  PostMessage(window, CM_TEST, 1, 0);
  app.ProcessMessages();
  ASSERT_EQ(Ui().Records().size(), 1u);
  EXPECT_EQ(Ui().Records()[0].kind, THeadlessUserInterface::Kind::Exception);
  EXPECT_EQ(Ui().Records()[0].text, "list index out of bounds (1)");

  // A handler that raises in turn: its own exception is shown.
  app.SetOnException([](TApplication*, const std::exception&) { throw EInvalidOperation("handler failed"); });
  app.HandleException(std::runtime_error("original"));
  EXPECT_EQ(Ui().ShownTexts().back(), "handler failed");
  DeallocateHWnd(window);
}

TEST_F(MessageLoopTest, SchedulerTimersTickOnTheApplicationClockAndMayStopThemselves) {
  com::IApartmentScheduler& scheduler = com::Scheduler();
  int fast = 0;
  int slow = 0;
  const auto fastId = scheduler.StartTimer(100ms, [&] { ++fast; });
  com::IApartmentScheduler::TimerId slowId = 0;
  slowId = scheduler.StartTimer(300ms, [&] {
    if (++slow == 2) scheduler.StopTimer(slowId);
  });
  EXPECT_NE(fastId, slowId);
  for (int step = 0; step < 10; ++step) Tick(100ms);
  EXPECT_EQ(fast, 10);
  EXPECT_EQ(slow, 2) << "stopped itself at its second tick (t = 600)";
  scheduler.StopTimer(fastId);
  scheduler.StopTimer(fastId);  // stopping twice is harmless
  EXPECT_EQ(Tick(1000ms), 0u);
  EXPECT_EQ(app.Queue().TimerCount(), 0u);
  std::thread other([&] { EXPECT_THROW(scheduler.StartTimer(10ms, [] {}), EInvalidOperation); });
  other.join();
}

TEST_F(MessageLoopTest, HandleMessageWaitsForAPostAndHandlesOneRunReturnsAfterTerminate) {
  std::vector<WPARAM> received;
  const HWND window = AllocateHWnd([&](TMessage& m) {
    received.push_back(m.WParam);
    if (m.WParam == 7) app.Terminate();
  });
  // Whenever the poster gets to run, HandleMessage is either waiting or
  // finds the message already queued; both must end with exactly one handled.
  std::thread poster([window] {
    PostMessage(window, CM_TEST, 1, 0);
    PostMessage(window, CM_TEST, 2, 0);
  });
  app.HandleMessage();
  poster.join();
  EXPECT_EQ(received, (std::vector<WPARAM>{1}));
  app.HandleMessage();
  EXPECT_EQ(received, (std::vector<WPARAM>{1, 2}));

  // A due timer needs no wait either.
  SetTimer(window, 5, 10);
  clock.Advance(10ms);
  app.HandleMessage();
  EXPECT_EQ(received, (std::vector<WPARAM>{1, 2, 5}));

  for (WPARAM i : {6, 7, 8}) PostMessage(window, CM_TEST, i, 0);
  app.Run();
  EXPECT_EQ(received, (std::vector<WPARAM>{1, 2, 5, 6, 7})) << "Run stops right after the terminating message";
  EXPECT_EQ(app.Queue().PendingCount(), 1u);
  DeallocateHWnd(window);

  TApplication second;  // a fresh, unterminated loop
  std::thread stopper([&] { second.Terminate(); });
  second.Run();  // returns whether the stop came before or during the wait
  stopper.join();
  EXPECT_TRUE(second.Terminated());
}

TEST_F(MessageLoopTest, ProcessMessagesUntilIsBoundedInRealTimeWhenTheClockStands) {
  int ticks = 0;
  const auto id = app.StartTimer(50ms, [&] { ++ticks; });
  EXPECT_FALSE(app.ProcessMessagesUntil([&] { return ticks > 0; }, 20ms));
  EXPECT_EQ(ticks, 0) << "real time passing never moves the test clock";
  EXPECT_TRUE(app.ProcessMessagesUntil(
      [&] {
        clock.Advance(50ms);
        return ticks == 2;
      },
      30s));
  app.StopTimer(id);
}

TEST_F(MessageLoopTest, TheHeadlessBackendRecordsMessagesBeepsAndQuestions) {
  ShowMessage("cannot write Items:");
  app.Beep();
  app.Beep();
  EXPECT_EQ(app.MessageBox("Remove the group?", "Xelo", MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(app.MessageBox("Really?", "Xelo", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  Ui().QueueAnswer(IDNO);
  EXPECT_EQ(app.MessageBox("Save?", "", MB_YESNO), IDNO);
  EXPECT_EQ(app.MessageBox("Save?", "", MB_OKCANCEL), IDOK) << "answers are used once";

  EXPECT_EQ(Ui().BeepCount(), 2);
  const auto records = Ui().Records();
  ASSERT_EQ(records.size(), 5u);
  EXPECT_EQ((std::vector<THeadlessUserInterface::Kind>{records[0].kind, records[1].kind}),
            (std::vector<THeadlessUserInterface::Kind>{THeadlessUserInterface::Kind::Message, THeadlessUserInterface::Kind::Question}));
  EXPECT_EQ(records[1].caption, "Xelo");

  // Replacing the backend routes later calls to the new one; the old one
  // comes back with its record.
  auto previous = app.SetUserInterface(std::make_unique<THeadlessUserInterface>(false));
  app.ShowMessage("elsewhere");
  EXPECT_EQ(Ui().ShownTexts(), std::vector<std::string>{"elsewhere"});
  app.SetUserInterface(std::move(previous));
  EXPECT_EQ(Ui().ShownTexts().size(), 5u);
}

TEST(DefaultApplication, FirstUseCreatesItOnTheCallingThreadAsTheScheduler) {
  std::vector<WPARAM> received;
  const HWND window = AllocateHWnd([&](TMessage& m) { received.push_back(m.WParam); });
  TApplication* app = TApplication::Current();
  ASSERT_NE(app, nullptr);
  EXPECT_TRUE(app->IsMainThread());
  EXPECT_EQ(&com::Scheduler(), app);
  dynamic_cast<THeadlessUserInterface&>(app->UserInterface()).SetEcho(false);

  std::thread poster([window] {
    PostMessage(window, CM_TEST, 1, 0);
    com::Scheduler().Post([window] { PostMessage(window, CM_TEST, 2, 0); });
  });
  poster.join();
  EXPECT_TRUE(app->ProcessMessagesUntil([&] { return received.size() == 2; }, 30s));
  EXPECT_EQ(received, (std::vector<WPARAM>{1, 2}));
  DeallocateHWnd(window);
}

}  // namespace
