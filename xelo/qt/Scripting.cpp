#include "xelo/qt/Scripting.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <memory>
#include <utility>

namespace xelo::qt {

void WhenModalShows(std::function<void(QDialog&)> script, QWidget* current, int timeoutMs,
                    std::function<void()> timedOut) {
  auto* timer = new QTimer(qApp);
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, timer,
                   [timer, clock, current, timeoutMs, script = std::move(script), timedOut = std::move(timedOut)] {
                     auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                     const bool ready = modal != nullptr && modal != current && modal->isVisible();
                     if (!ready && clock->elapsed() < timeoutMs) return;
                     // Once only, whatever the script does (it may open
                     // dialogs of its own).
                     timer->stop();
                     timer->deleteLater();
                     if (ready) {
                       script(*modal);
                       return;
                     }
                     if (timedOut) timedOut();
                     if (modal != nullptr && modal != current) modal->reject();
                   });
  timer->start(10);
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  if (done()) return true;
  QEventLoop loop;
  QElapsedTimer clock;
  clock.start();
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (done() || clock.elapsed() >= timeoutMs) loop.quit();
  });
  check.start(10);
  loop.exec();
  return done();
}

}  // namespace xelo::qt
