// Helpers for tests of Qt windows: scripting a modal dialog from a timer
// while the code under test sits in its exec(), and saving screenshots as
// test artifacts.
#pragma once

#include "xelo/qt/Scripting.h"

#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace xelo::test {

// A Qt text as UTF-8, for expectations and messages.
inline std::string Utf8(const QString& text) { return text.toStdString(); }

// Runs `script` on the next modal dialog that is not `current` once it is
// shown. A dialog that does not come within 10 s fails the test (and one
// that comes later is rejected), so a test never hangs in exec().
inline void WhenModalShows(std::function<void(QDialog&)> script, QWidget* current = nullptr) {
  qt::WhenModalShows(std::move(script), current, 10000, [] { ADD_FAILURE() << "no modal dialog came"; });
}

// A click with `button` on a row of an item view, as a user makes it;
// `twice` a double click (a view only reports one that follows a press).
inline void ClickAt(QAbstractItemView* view, const QRect& row, Qt::MouseButton button = Qt::LeftButton,
                    Qt::KeyboardModifiers modifiers = {}, bool twice = false) {
  const QPoint at = row.center();
  QTest::mouseClick(view->viewport(), button, modifiers, at);
  if (!twice) return;
  QTest::mouseDClick(view->viewport(), button, modifiers, at);
  QTest::mouseRelease(view->viewport(), button, modifiers, at);
}
inline void Click(QTreeWidget* view, QTreeWidgetItem* row, Qt::MouseButton button = Qt::LeftButton, bool twice = false) {
  ASSERT_NE(row, nullptr);
  view->scrollToItem(row);
  ClickAt(view, view->visualItemRect(row), button, {}, twice);
}
// The entry of a tree (at any depth) or list with exactly this text.
inline QTreeWidgetItem* Find(const QTreeWidget* view, const char* text) {
  const QList<QTreeWidgetItem*> found = view->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
  EXPECT_EQ(found.size(), 1) << text;
  return found.value(0);
}
inline QListWidgetItem* Find(const QListWidget* view, const std::string& text) {
  const auto found = view->findItems(QString::fromStdString(text), Qt::MatchExactly);
  EXPECT_EQ(found.size(), 1) << text;
  return found.value(0);
}
// A column of a tree's top-level rows.
inline std::vector<std::string> Column(const QTreeWidget* view, int column) {
  std::vector<std::string> texts;
  for (int r = 0; r < view->topLevelItemCount(); ++r) texts.push_back(Utf8(view->topLevelItem(r)->text(column)));
  return texts;
}
// Replaces an edit's text as a user types it.
inline void Type(QLineEdit* edit, const char* text) {
  edit->selectAll();
  QTest::keyClicks(edit, QString::fromUtf8(text));
}

// Runs `script` on the next modal dialog, which must be a `Dialog`;
// whatever the script leaves open is cancelled, so a failed step cannot
// hang the test.
template <class Dialog>
void Drive(std::function<void(Dialog&)> script, QWidget* current = nullptr) {
  WhenModalShows(
      [script = std::move(script)](QDialog& modal) {
        auto* dialog = qobject_cast<Dialog*>(&modal);
        if (dialog == nullptr) {
          ADD_FAILURE() << "another dialog came";
        } else {
          script(*dialog);
        }
        if (modal.isVisible()) modal.reject();
      },
      current);
}

#ifdef XELO_ARTIFACTS_DIR
// Saves a picture of `widget` as <build>/artifacts/<name>.png; false when
// it could not be written.
inline bool SaveScreenshot(QWidget& widget, const std::string& name) {
  const QString folder = QStringLiteral(XELO_ARTIFACTS_DIR);
  QDir().mkpath(folder);
  return widget.grab().save(folder + "/" + QString::fromStdString(name) + ".png");
}
#endif

}  // namespace xelo::test
