#include "xelo/framework/Application.h"

#include "xelo/framework/Exceptions.h"
#include "xelo/framework/MessageWindow.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using xelo::com::ManualClock;
using namespace xelo;
using xelo::HWND;  // the framework's window handle, not the Windows SDK's

constexpr UINT CM_TEST = WM_USER + 1;

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() {
    app.SetClock(clock.AsClock());
    Ui().SetEcho(false);
  }
  THeadlessUserInterface& Ui() { return dynamic_cast<THeadlessUserInterface&>(app.UserInterface()); }

  ManualClock clock;
  TApplication app;
};

TEST_F(ApplicationTest, IsTheCurrentApplicationAndSchedulerWhileItLives) {
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

TEST_F(ApplicationTest, AnEscapedExceptionGoesToOnExceptionAndTheLoopGoesOn) {
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
  ASSERT_EQ(caught.size(), 3u);
  EXPECT_EQ(caught[0], "list index out of bounds (1)");
  EXPECT_EQ(caught[1], "An exception of an unknown type was raised");
  EXPECT_EQ(caught[2], "from a posted call");
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

TEST_F(ApplicationTest, SchedulerPostsAndWindowMessagesShareOnePostingOrder) {
  std::string trace;
  const HWND window = AllocateHWnd([&](TMessage& m) { trace += static_cast<char>(m.WParam); });
  com::IApartmentScheduler& scheduler = com::Scheduler();
  PostMessage(window, CM_TEST, 'a', 0);
  scheduler.Post([&] { trace += 'B'; });
  PostMessage(window, CM_TEST, 'c', 0);
  std::thread other([&] { scheduler.Post([&] { trace += 'D'; }); });
  other.join();
  PostMessage(window, CM_TEST, 'e', 0);
  EXPECT_EQ(trace, "") << "Post never runs the call before returning";
  EXPECT_EQ(app.ProcessMessages(), 5u);
  EXPECT_EQ(trace, "aBcDe");
  DeallocateHWnd(window);
}

TEST_F(ApplicationTest, SchedulerTimersTickOnTheApplicationClockAndMayStopThemselves) {
  com::IApartmentScheduler& scheduler = com::Scheduler();
  int fast = 0;
  int slow = 0;
  const auto fastId = scheduler.StartTimer(100ms, [&] { ++fast; });
  com::IApartmentScheduler::TimerId slowId = 0;
  slowId = scheduler.StartTimer(300ms, [&] {
    if (++slow == 2) scheduler.StopTimer(slowId);
  });
  EXPECT_NE(fastId, slowId);
  for (int step = 0; step < 10; ++step) {
    clock.Advance(100ms);
    app.ProcessMessages();
  }
  EXPECT_EQ(fast, 10);
  EXPECT_EQ(slow, 2) << "stopped itself at its second tick (t = 600)";
  scheduler.StopTimer(fastId);
  scheduler.StopTimer(fastId);  // stopping twice is harmless
  clock.Advance(1000ms);
  EXPECT_EQ(app.ProcessMessages(), 0u);
  EXPECT_EQ(app.Queue().TimerCount(), 0u);
  std::thread other([&] { EXPECT_THROW(scheduler.StartTimer(10ms, [] {}), EInvalidOperation); });
  other.join();
}

TEST_F(ApplicationTest, HandleMessageWaitsForAPostFromAnotherThreadAndHandlesOne) {
  std::vector<WPARAM> received;
  const HWND window = AllocateHWnd([&](TMessage& m) { received.push_back(m.WParam); });
  // Whenever the poster gets to run, HandleMessage is either waiting or
  // finds the message already queued; both must end with exactly one handled.
  std::thread poster([window] {
    PostMessage(window, CM_TEST, 1, 0);
    PostMessage(window, CM_TEST, 2, 0);
  });
  app.HandleMessage();
  poster.join();
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(received[0], 1u);
  app.HandleMessage();
  EXPECT_EQ(received, (std::vector<WPARAM>{1, 2}));

  // A due timer needs no wait either.
  SetTimer(window, 5, 10);
  clock.Advance(10ms);
  app.HandleMessage();
  EXPECT_EQ(received.size(), 3u);
  DeallocateHWnd(window);
}

TEST_F(ApplicationTest, RunReturnsAfterTerminateFromAHandlerOrAnotherThread) {
  int handled = 0;
  const HWND window = AllocateHWnd([&](TMessage& m) {
    ++handled;
    if (m.WParam == 1) app.Terminate();
  });
  PostMessage(window, CM_TEST, 0, 0);
  PostMessage(window, CM_TEST, 1, 0);
  PostMessage(window, CM_TEST, 2, 0);
  app.Run();
  EXPECT_EQ(handled, 2) << "Run stops right after the terminating message";
  EXPECT_EQ(app.Queue().PendingCount(), 1u);
  DeallocateHWnd(window);

  TApplication second;  // a fresh, unterminated loop
  std::thread stopper([&] { second.Terminate(); });
  second.Run();  // returns whether the stop came before or during the wait
  stopper.join();
  EXPECT_TRUE(second.Terminated());
}

TEST_F(ApplicationTest, ProcessMessagesUntilIsBoundedInRealTimeWhenTheClockStands) {
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

TEST_F(ApplicationTest, MainThreadFunctionsRefuseOtherThreadsWhilePostingIsFree) {
  bool ran = false;
  std::thread other([&] {
    EXPECT_THROW(app.ShowMessage("x"), EInvalidOperation);
    EXPECT_THROW(app.Beep(), EInvalidOperation);
    EXPECT_THROW(app.HandleException(std::runtime_error("x")), EInvalidOperation);
    EXPECT_THROW(app.HandleMessage(), EInvalidOperation);
    EXPECT_THROW(app.SetClock({}), EInvalidOperation);
    EXPECT_NO_THROW(app.Post([&] { ran = true; }));
  });
  other.join();
  EXPECT_TRUE(Ui().Records().empty());
  EXPECT_EQ(Ui().BeepCount(), 0);
  EXPECT_FALSE(ran);
  app.ProcessMessages();
  EXPECT_TRUE(ran);
}

TEST_F(ApplicationTest, TheHeadlessBackendRecordsMessagesBeepsAndQuestions) {
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
  EXPECT_EQ(records[0].kind, THeadlessUserInterface::Kind::Message);
  EXPECT_EQ(records[1].kind, THeadlessUserInterface::Kind::Question);
  EXPECT_EQ(records[1].caption, "Xelo");

  // Replacing the backend routes later calls to the new one; the old one
  // comes back with its record.
  auto previous = app.SetUserInterface(std::make_unique<THeadlessUserInterface>(false));
  app.ShowMessage("elsewhere");
  EXPECT_EQ(Ui().ShownTexts(), std::vector<std::string>{"elsewhere"});
  app.SetUserInterface(std::move(previous));
  EXPECT_EQ(Ui().ShownTexts().size(), 5u);
}

}  // namespace

namespace {

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
