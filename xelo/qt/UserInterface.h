// The framework's user-interface services on Qt: messages and questions in
// message boxes, modal results, the hourglass cursor, and slots that never
// let an exception into Qt's event loop.
//
// Main thread only.
#pragma once

#include "xelo/framework/Application.h"
#include "xelo/framework/UserInterface.h"

#include <exception>
#include <string>
#include <type_traits>
#include <utility>

class QDialog;

namespace xelo::qt {

// Messages, errors, beeps and questions as Qt message boxes over the active
// window. Install it with Application().SetUserInterface.
class TQtUserInterface final : public IUserInterface {
 public:
  void ShowMessage(const std::string& text) override;
  void ShowException(const std::string& text) override;
  void Beep() override;
  int MessageBox(const std::string& text, const std::string& caption, UINT flags) override;
};

// The modal results of a form: what ShowModal gives back.
inline constexpr int mrNone = 0;
inline constexpr int mrOk = 1;
inline constexpr int mrCancel = 2;

// Shows `dialog` modally (QDialog::exec); mrOk when it was accepted, else
// mrCancel.
int ShowModal(QDialog& dialog);

// The hourglass cursor over the whole application while the object lives;
// the cursor before it comes back on every path out of the scope.
class TWaitCursor {
 public:
  TWaitCursor();
  ~TWaitCursor();
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// `handler` as a Qt slot: an exception it raises goes to the application's
// exception handling (OnException, else a message to the user) instead of
// unwinding through Qt, which cannot carry it. The form stays open.
template <class F>
auto Guarded(F handler) {
  return [handler = std::move(handler)](auto&&... args) {
    try {
      if constexpr (std::is_invocable_v<F&, decltype(args)...>) {
        handler(std::forward<decltype(args)>(args)...);
      } else {
        handler();  // a signal's arguments the handler does not need
      }
    } catch (const std::exception& error) {
      Application().HandleException(error);
    }
  };
}

}  // namespace xelo::qt
