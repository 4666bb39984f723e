#include "xelo/framework/MessageWindow.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using xelo::com::ManualClock;
using namespace xelo;
using xelo::HWND;  // the framework's window handle, not the Windows SDK's

constexpr UINT CM_TEST = WM_USER + 1;

// Each test gets a fresh application (so a fresh queue) on a test clock.
class MessageWindowTest : public ::testing::Test {
 protected:
  MessageWindowTest() {
    app.SetClock(clock.AsClock());
    dynamic_cast<THeadlessUserInterface&>(app.UserInterface()).SetEcho(false);
  }

  // A window that records the numbers and WParams it receives.
  HWND RecordingWindow(std::vector<WPARAM>& received) {
    return AllocateHWnd([&received](TMessage& m) {
      if (m.Msg == CM_TEST) received.push_back(m.WParam);
    });
  }

  ManualClock clock;
  TApplication app;
};

TEST_F(MessageWindowTest, PostsFromAnotherThreadArriveInPostingOrderOnTheMainThread) {
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

TEST_F(MessageWindowTest, PostingNeverDeliversAndAPumpHandlesOnlyWhatWasQueuedWhenItBegan) {
  std::string trace;
  HWND window = nullptr;
  window = AllocateHWnd([&](TMessage& m) {
    trace += static_cast<char>(m.WParam);
    if (m.WParam == 'a') PostMessage(window, CM_TEST, 'c', 0);  // behind 'b'
  });
  ASSERT_EQ(PostMessage(window, CM_TEST, 'a', 0), TRUE);
  ASSERT_EQ(PostMessage(window, CM_TEST, 'b', 0), TRUE);
  EXPECT_EQ(trace, "") << "PostMessage delivered inside the call";
  EXPECT_EQ(app.Queue().PendingCount(), 2u);
  EXPECT_EQ(app.ProcessMessages(), 2u);
  EXPECT_EQ(trace, "ab");
  EXPECT_EQ(app.ProcessMessages(), 1u);
  EXPECT_EQ(trace, "abc");
  EXPECT_EQ(app.ProcessMessages(), 0u);
  DeallocateHWnd(window);
}

TEST_F(MessageWindowTest, MessagesOfADestroyedWindowAreDiscardedExactlyOnceAndNeverDelivered) {
  std::vector<WPARAM> received;
  const HWND doomed = RecordingWindow(received);
  const HWND survivor = RecordingWindow(received);
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
}

TEST_F(MessageWindowTest, AWindowMayDestroyItselfWhileItsMessagesWait) {
  int handled = 0;
  int discarded = 0;
  HWND window = nullptr;
  window = AllocateHWnd([&](TMessage&) {
    ++handled;
    DeallocateHWnd(window);  // destroys the running procedure's own window
  });
  for (int i = 0; i < 3; ++i) PostMessage(window, CM_TEST, 0, 0, [&] { ++discarded; });
  EXPECT_EQ(app.ProcessMessages(), 1u);
  EXPECT_EQ(handled, 1);
  EXPECT_EQ(discarded, 2);
  EXPECT_EQ(app.Queue().WindowCount(), 0u);
}

TEST_F(MessageWindowTest, SendMessageCallsTheProcedureNowAndReturnsItsResult) {
  std::vector<UINT> seen;
  const HWND window = AllocateHWnd([&](TMessage& m) {
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

TEST_F(MessageWindowTest, WindowFunctionsRefuseOtherThreads) {
  bool called = false;
  const HWND window = AllocateHWnd([&](TMessage&) { called = true; });
  std::thread other([&] {
    EXPECT_THROW(SendMessage(window, CM_TEST, 0, 0), EInvalidOperation);
    EXPECT_THROW(SetTimer(window, 1, 10), EInvalidOperation);
    EXPECT_THROW(DeallocateHWnd(window), EInvalidOperation);
    EXPECT_THROW(app.Queue().AllocateHWnd([](TMessage&) {}), EInvalidOperation);
    EXPECT_THROW(app.ProcessMessages(), EInvalidOperation);
    EXPECT_EQ(IsWindow(window), TRUE);
  });
  other.join();
  EXPECT_FALSE(called);
  EXPECT_EQ(IsWindow(window), TRUE) << "the refused DeallocateHWnd left the window alone";
  EXPECT_EQ(app.Queue().TimerCount(), 0u);
  DeallocateHWnd(window);
}

TEST_F(MessageWindowTest, WindowTimersTickOnTheTestClockUntilKilled) {
  std::vector<WPARAM> ticks;
  const HWND window = AllocateHWnd([&](TMessage& m) {
    if (m.Msg == WM_TIMER) ticks.push_back(m.WParam);
  });
  EXPECT_EQ(SetTimer(window, 9, 250), 9u);
  EXPECT_EQ(SetTimer(window, 7, 100), 7u);
  EXPECT_EQ(SetTimer(window, 0, 100), 0u) << "id 0 is refused";

  app.ProcessMessages();
  EXPECT_TRUE(ticks.empty()) << "nothing is due before the first period";
  clock.Advance(100ms);
  app.ProcessMessages();
  EXPECT_EQ(ticks, std::vector<WPARAM>{7});
  clock.Advance(150ms);  // t = 250: both due, the earlier-due one first
  app.ProcessMessages();
  EXPECT_EQ(ticks, (std::vector<WPARAM>{7, 7, 9}));
  clock.Advance(1000ms);  // late: one tick each, no burst
  EXPECT_EQ(app.ProcessMessages(), 2u);
  EXPECT_EQ(app.ProcessMessages(), 0u) << "missed ticks are not replayed";

  ticks.clear();
  EXPECT_EQ(SetTimer(window, 7, 500), 7u);  // restarts with the new period
  EXPECT_EQ(KillTimer(window, 9), TRUE);
  EXPECT_EQ(KillTimer(window, 9), FALSE);
  clock.Advance(400ms);
  app.ProcessMessages();
  EXPECT_TRUE(ticks.empty());
  clock.Advance(100ms);
  app.ProcessMessages();
  EXPECT_EQ(ticks, std::vector<WPARAM>{7});

  DeallocateHWnd(window);
  EXPECT_EQ(app.Queue().TimerCount(), 0u) << "timers die with their window";
}

TEST_F(MessageWindowTest, TTimerCallsOnTimerWhileEnabledAndMayBeDestroyedByIt) {
  auto timer = std::make_unique<TTimer>();
  int fired = 0;
  timer->SetInterval(50);
  clock.Advance(50ms);
  app.ProcessMessages();
  EXPECT_EQ(fired, 0) << "no handler, no timer";

  timer->SetOnTimer([&](TTimer* sender) {
    EXPECT_EQ(sender, timer.get());
    if (++fired == 3) timer.reset();  // destroys the timer from its own handler
  });
  clock.Advance(50ms);
  app.ProcessMessages();
  EXPECT_EQ(fired, 1);
  timer->SetEnabled(false);
  clock.Advance(200ms);
  app.ProcessMessages();
  EXPECT_EQ(fired, 1);
  timer->SetEnabled(true);
  for (int i = 0; i < 4; ++i) {
    clock.Advance(50ms);
    app.ProcessMessages();
  }
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
  EXPECT_FALSE(dispatcher.Dispatch(unhandled));
  EXPECT_EQ(unhandled.Result, 0) << "without a default handler the message is left alone";
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

}  // namespace
