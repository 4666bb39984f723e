// The framework's queue pumped from Qt's event loop: posts from other
// threads, framework timers, OPC data changes while QApplication runs and
// inside a modal dialog, and a pump re-entered by a dialog opened from a
// posted call.
#include "xelo/qt/EventLoop.h"

#include "xelo/core/Xelo.h"
#include "xelo/framework/Application.h"

#include "servers/simulation/SimulationServer.h"

#include <QDialog>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using xelo::Application;

// Runs Qt's loop until `quit` is called or `limit` passes; true when quit.
template <class Body>
bool RunQtLoop(Body body, std::chrono::milliseconds limit = 10s) {
  QEventLoop loop;
  bool quit = false;
  QTimer::singleShot(limit, &loop, &QEventLoop::quit);
  body([&] {
    quit = true;
    loop.quit();
  });
  if (!quit) loop.exec();
  return quit;
}

TEST(QtEventLoop, PostsFromAnyThreadRunOnTheMainThreadInOrderWithoutAPumpOfOurs) {
  xelo::qt::EventLoopBridge bridge;
  constexpr int kPosts = 500;
  std::vector<int> seen;
  bool everyOnMain = true;
  std::thread worker;
  const bool done = RunQtLoop([&](auto quit) {
    worker = std::thread([&, quit] {
      for (int i = 0; i < kPosts; ++i) {
        Application().Post([&, i, quit] {
          everyOnMain = everyOnMain && Application().IsMainThread();
          seen.push_back(i);
          if (i == kPosts - 1) quit();
        });
        if (i % 50 == 0) std::this_thread::sleep_for(1ms);
      }
    });
  });
  worker.join();
  ASSERT_TRUE(done) << seen.size() << " of " << kPosts << " posts ran";
  EXPECT_TRUE(everyOnMain);
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kPosts));
  for (int i = 0; i < kPosts; ++i) ASSERT_EQ(seen[static_cast<std::size_t>(i)], i);
}

TEST(QtEventLoop, FrameworkTimersTickInQtsLoopAndStopWhenStopped) {
  xelo::qt::EventLoopBridge bridge;
  int ticks = 0;
  xelo::MessageQueue::TimerId timer = 0;
  const auto start = std::chrono::steady_clock::now();
  const bool done = RunQtLoop([&](auto quit) {
    // Started from a Qt callback, not from a framework pump: the bridge
    // must learn of the timer all the same.
    QTimer::singleShot(0, [&, quit] {
      timer = Application().StartTimer(30ms, [&, quit] {
        if (++ticks == 3) quit();
      });
    });
  });
  const auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_TRUE(done) << ticks << " ticks";
  EXPECT_GE(elapsed, 85ms) << "three ticks of 30 ms";
  Application().StopTimer(timer);
  // No tick after the stop, and no timer left armed for it.
  RunQtLoop([](auto) {}, 100ms);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(Application().Queue().UntilNextTimer().has_value());
}

TEST(QtEventLoop, APostedCallThatOpensAModalDialogKeepsTheQueueFlowing) {
  xelo::qt::EventLoopBridge bridge;
  int ranInsideDialog = 0;
  bool dialogOpen = false;
  int dialogResult = -1;
  const bool done = RunQtLoop([&](auto quit) {
    Application().Post([&, quit] {
      QDialog dialog;
      dialogOpen = true;
      // Posted while the dialog's own loop runs, from another thread too.
      std::thread([&] {
        for (int i = 0; i < 10; ++i) {
          Application().Post([&] {
            if (dialogOpen) ++ranInsideDialog;
            if (ranInsideDialog == 10) dialog.accept();
          });
        }
      }).join();
      QTimer::singleShot(5s, &dialog, &QDialog::reject);  // a safety net only
      dialogResult = dialog.exec();
      dialogOpen = false;
      quit();
    });
  });
  ASSERT_TRUE(done);
  EXPECT_EQ(ranInsideDialog, 10);
  EXPECT_EQ(dialogResult, QDialog::Accepted);
}

TEST(QtEventLoop, DataChangesArriveWhileQtRunsAndWhileAModalDialogIsOpen) {
  xelo::qt::EventLoopBridge bridge;
  auto previousUi = Application().SetUserInterface(std::make_unique<xelo::THeadlessUserInterface>(false));
  {
    xelo::TXeloServer server(nullptr);
    server.SetServer(xelo::sim::kProgIdSim);
    server.SetActive(true);
    ASSERT_TRUE(server.GetActive());
    xelo::TXeloGroup* group = server.GetOPCGroups()->Add("Qt");
    group->SetUpdateRate(20);
    xelo::TXeloItem* ramp = group->GetOPCItems()->AddItem("Channel 1.Device 1.Ramp");
    int changes = 0;
    int changesInDialog = 0;
    std::function<void()> stop;
    QDialog* modal = nullptr;
    server.SetOnDatachange([&](xelo::TPersistent*, xelo::TXeloItemList* items) {
      for (int i = 0; i < items->GetCount(); ++i) {
        if (items->GetItem(i) == ramp) ++changes;
      }
      if (changes == 3 && stop) stop();
      if (modal != nullptr && ++changesInDialog == 3) modal->accept();
    });
    ASSERT_TRUE(RunQtLoop([&](auto quit) { stop = quit; })) << changes << " data changes";
    stop = nullptr;

    QDialog dialog;
    modal = &dialog;
    QTimer::singleShot(10s, &dialog, &QDialog::reject);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted) << changesInDialog << " data changes inside the dialog";
    modal = nullptr;
    EXPECT_FALSE(ramp->ValueStr().empty());
  }
  Application().SetUserInterface(std::move(previousUi));
}

TEST(QtEventLoop, PostsAfterTheBridgeIsGoneWaitForTheFrameworksOwnPump) {
  int ran = 0;
  {
    xelo::qt::EventLoopBridge bridge;
    RunQtLoop([&](auto quit) { Application().Post(quit); });
  }
  std::thread([&] { Application().Post([&] { ++ran; }); }).join();
  RunQtLoop([](auto) {}, 50ms);  // Qt alone does not run it
  EXPECT_EQ(ran, 0);
  Application().ProcessMessages();
  EXPECT_EQ(ran, 1);
}

}  // namespace
