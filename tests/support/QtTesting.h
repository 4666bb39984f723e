// Helpers for tests of Qt windows: scripting a modal dialog from a timer
// while the code under test sits in its exec(), and saving screenshots as
// test artifacts.
#pragma once

#include "xelo/qt/Scripting.h"

#include <QDialog>
#include <QDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

namespace xelo::test {

// A Qt text as UTF-8, for expectations and messages.
inline std::string Utf8(const QString& text) { return text.toStdString(); }

// Runs `script` on the next modal dialog that is not `current` once it is
// shown. A dialog that does not come within 10 s fails the test (and one
// that comes later is rejected), so a test never hangs in exec().
inline void WhenModalShows(std::function<void(QDialog&)> script, QWidget* current = nullptr) {
  qt::WhenModalShows(std::move(script), current, 10000, [] { ADD_FAILURE() << "no modal dialog came"; });
}

// Saves a picture of `widget` as <build>/artifacts/<name>.png; false when
// it could not be written.
inline bool SaveScreenshot(QWidget& widget, const std::string& name) {
  const QString folder = QStringLiteral(XELO_ARTIFACTS_DIR);
  QDir().mkpath(folder);
  return widget.grab().save(folder + "/" + QString::fromStdString(name) + ".png");
}

}  // namespace xelo::test
