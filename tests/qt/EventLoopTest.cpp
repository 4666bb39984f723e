// The framework's queue pumped from Qt's event loop: posts from other
// threads, framework timers, OPC data changes while QApplication runs and
// inside a modal dialog, and a pump re-entered by a dialog opened from a
// posted call.
#include "xelo/qt/EventLoop.h"

#include "support/QtScene.h"

#include <numeric>
#include <thread>

namespace xelo::test {
namespace {

using namespace std::chrono_literals;
using QtEventLoop = QtScene;  // qt::WaitUntil runs Qt's loop, not the framework's


TEST_F(QtEventLoop, PostsFromAnyThreadRunOnTheMainThreadInOrderUntilTheBridgeGoes) {
  auto bridge = std::make_unique<qt::EventLoopBridge>();
  constexpr int kPosts = 500;
  std::vector<int> seen, expected(kPosts);
  bool everyOnMain = true;
  std::thread worker([&] {
    for (int i = 0; i < kPosts; ++i) {
      Application().Post([&, i] { everyOnMain = everyOnMain && Application().IsMainThread(); seen.push_back(i); });
      if (i % 50 == 0) std::this_thread::sleep_for(1ms);
    }
  });
  const bool done = qt::WaitUntil([&] { return seen.size() == kPosts; }, 10000);
  worker.join();
  ASSERT_TRUE(done) << seen.size() << " of " << kPosts << " posts ran";
  EXPECT_TRUE(everyOnMain);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(seen, expected);
  // Without the bridge a post waits for the framework's own pump.
  bridge.reset();
  std::thread([&] { Application().Post([&] { seen.push_back(-1); }); }).join();
  EXPECT_FALSE(qt::WaitUntil([&] { return seen.size() > kPosts; }, 50)) << "Qt alone does not run it";
  Application().ProcessMessages();
  EXPECT_EQ(seen.back(), -1);
}

TEST_F(QtEventLoop, FrameworkTimersTickInQtsLoopAndStopWhenStopped) {
  qt::EventLoopBridge bridge;
  int ticks = 0;
  MessageQueue::TimerId timer = 0;
  const auto start = std::chrono::steady_clock::now();
  // Started from a Qt callback, not from a framework pump: the bridge must
  // learn of the timer all the same.
  QTimer::singleShot(0, [&] { timer = Application().StartTimer(30ms, [&] { ++ticks; }); });
  ASSERT_TRUE(qt::WaitUntil([&] { return ticks >= 3; }, 10000)) << ticks << " ticks";
  EXPECT_GE(std::chrono::steady_clock::now() - start, 85ms) << "three ticks of 30 ms";
  Application().StopTimer(timer);
  const int stopped = ticks;
  // No tick after the stop, and no timer left armed for it.
  qt::WaitUntil([] { return false; }, 100);
  EXPECT_TRUE(ticks == stopped && !Application().Queue().UntilNextTimer().has_value()) << ticks - stopped << " late";
}

// The dialog is opened from a posted call: the pump is re-entered, and
// posts (from another thread too) and data changes must flow inside it.
TEST_F(QtEventLoop, DataChangesAndPostsArriveWhileQtRunsAndInAModalDialogOpenedFromAPost) {
  qt::EventLoopBridge bridge;
  MakeServer(true);
  TXeloItem* ramp = group_->GetOPCItems()->AddItem("Channel 1.Device 1.Ramp");
  int changes = 0, changesInDialog = 0, postsInDialog = 0, dialogResult = -1;
  QDialog* modal = nullptr;
  const auto closeWhenDone = [&] { if (modal != nullptr && changesInDialog >= 3 && postsInDialog == 10) modal->accept(); };
  server_->SetOnDatachange([&](TPersistent*, TXeloItemList* items) {
    for (int i = 0; i < items->GetCount(); ++i) changes += items->GetItem(i) == ramp ? 1 : 0;
    if (modal != nullptr) ++changesInDialog;
    closeWhenDone();
  });
  ASSERT_TRUE(qt::WaitUntil([&] { return changes >= 3; }, 10000)) << changes << " data changes";
  Application().Post([&] {
    QDialog dialog;
    modal = &dialog;
    std::thread([&] {
      for (int i = 0; i < 10; ++i) Application().Post([&] { ++postsInDialog; closeWhenDone(); });
    }).join();
    QTimer::singleShot(10s, &dialog, &QDialog::reject);  // a safety net only
    dialogResult = dialog.exec();
    modal = nullptr;
  });
  ASSERT_TRUE(qt::WaitUntil([&] { return dialogResult != -1; }, 15000));
  EXPECT_EQ(dialogResult, QDialog::Accepted) << changesInDialog << " changes, " << postsInDialog << " posts";
  server_->SetOnDatachange(nullptr);
}

}  // namespace
}  // namespace xelo::test
