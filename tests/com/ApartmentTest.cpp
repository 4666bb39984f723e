#include "xelo/com/Apartment.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace {

using namespace std::chrono_literals;
using xelo::com::DefaultScheduler, xelo::com::ManualClock;

TEST(DefaultScheduler, RunsPostedCallsInOrderNeverInsidePostAndKeepsTheRestAfterAnException) {
  DefaultScheduler scheduler;
  std::string trace;
  scheduler.Post([&] {
    trace += 'a';
    scheduler.Post([&] { trace += 'c'; });  // queued by a call: runs in the next round
  });
  scheduler.Post([&] { trace += 'b'; });
  // How many calls a round ran, and the trace after it; posting never runs the call.
  auto round = [&] { return std::to_string(scheduler.ProcessPending()) + ":" + trace; };
  EXPECT_EQ((std::vector<std::string>{trace, round(), round(), round()}), (std::vector<std::string>{"", "2:ab", "1:abc", "0:abc"}));

  scheduler.Post([] { throw std::runtime_error("boom"); });
  scheduler.Post([&] { trace += 'd'; });
  EXPECT_THROW(scheduler.ProcessPending(), std::runtime_error);
  EXPECT_EQ(scheduler.PendingCalls(), 1u);
  scheduler.ProcessPending();
  EXPECT_EQ(trace, "abcd");

  int sum = 0;  // posts from other threads
  std::thread([&] { for (int i = 1; i <= 100; ++i) scheduler.Post([&sum, i] { sum += i; }); }).join();
  scheduler.ProcessPending();
  EXPECT_EQ(sum, 5050);
}

TEST(DefaultScheduler, TimersTickOnTheClockAndMayStopThemselvesAndPumpUntilGivesUpAfterTheTimeout) {
  ManualClock clock;
  DefaultScheduler scheduler(clock.AsClock());
  int fast = 0, slow = 0;
  const auto fastId = scheduler.StartTimer(100ms, [&] { ++fast; });
  xelo::com::IApartmentScheduler::TimerId slowId = 0;
  slowId = scheduler.StartTimer(250ms, [&] {
    if (++slow == 2) scheduler.StopTimer(slowId);
  });
  EXPECT_NE(fastId, slowId);
  // Fast and slow tick counts after the clock moved on by a step.
  auto after = [&](std::chrono::milliseconds step) {
    clock.Advance(step);
    scheduler.ProcessPending();
    return std::make_pair(fast, slow);
  };
  EXPECT_EQ(after(0ms), std::make_pair(0, 0)) << "nothing is due before the first period";
  EXPECT_EQ(after(100ms), std::make_pair(1, 0));
  EXPECT_EQ(after(150ms), std::make_pair(2, 1));  // t = 250
  EXPECT_EQ(after(1000ms), std::make_pair(3, 2)) << "late: one tick each, no burst of missed ticks";
  EXPECT_EQ(scheduler.ActiveTimers(), 1u);
  EXPECT_EQ(after(1000ms).second, 2) << "a timer that stopped itself stays stopped";
  scheduler.StopTimer(fastId);
  scheduler.StopTimer(fastId);  // stopping twice is harmless
  EXPECT_EQ(scheduler.ActiveTimers(), 0u);

  // The clock does not move by itself: that must not make the pump hang.
  bool done = false;
  scheduler.Post([&] { scheduler.Post([&] { done = true; }); });
  EXPECT_TRUE(scheduler.PumpUntil([&] { return done; }, 10s));
  EXPECT_FALSE(scheduler.PumpUntil([] { return false; }, 5ms));
  // An installed scheduler replaces the default until removed.
  xelo::com::InstallScheduler(&scheduler);
  EXPECT_EQ(&xelo::com::Scheduler(), &scheduler);
  xelo::com::InstallScheduler(nullptr);
  EXPECT_EQ(&xelo::com::Scheduler(), &DefaultScheduler::Process());
}

}  // namespace
