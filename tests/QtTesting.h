// Helpers for tests of Qt windows: scripting a modal dialog from a timer
// while the code under test sits in its exec(), and saving screenshots as
// test artifacts.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace xelo::test {

// Runs `script` on the next modal dialog that is not `current` once it is
// shown (checked every 10 ms from Qt's loop). A dialog that does not come
// within 10 s fails the test; one the script leaves open after that is
// rejected, so a test never hangs in exec().
inline void WhenModalShows(std::function<void(QDialog&)> script, QWidget* current = nullptr) {
  auto* timer = new QTimer(qApp);
  auto* clock = new QElapsedTimer();
  clock->start();
  QObject::connect(timer, &QTimer::timeout, timer, [timer, clock, current, script = std::move(script)] {
    auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (modal == nullptr || modal == current || !modal->isVisible()) {
      if (clock->elapsed() < 10000) return;
      ADD_FAILURE() << "no modal dialog came";
      if (modal != nullptr && modal != current) modal->reject();
    } else {
      script(*modal);
    }
    timer->stop();
    timer->deleteLater();
    delete clock;
  });
  timer->start(10);
}

// Saves a picture of `widget` as <build>/artifacts/<name>.png; false when
// it could not be written.
inline bool SaveScreenshot(QWidget& widget, const std::string& name) {
  const QString folder = QStringLiteral(XELO_ARTIFACTS_DIR);
  QDir().mkpath(folder);
  return widget.grab().save(folder + "/" + QString::fromStdString(name) + ".png");
}

}  // namespace xelo::test
