// The framework's main-thread queue pumped from Qt's event loop.
//
// An application that runs Qt's loop (QApplication::exec, a modal
// QDialog::exec, QEventLoop) keeps one EventLoopBridge alive while it does:
// everything posted to the framework's queue from any thread (an OPC
// server's callbacks, PostMessage, the COM scheduler's calls) and every
// framework timer then runs on the main thread from Qt's loop, so that
// OnDatachange fires while Qt runs, with no polling:
//
//   QApplication qt(argc, argv);
//   xelo::qt::EventLoopBridge bridge;
//   ... create the server component, connect, show windows ...
//   return qt.exec();
//
// A post wakes Qt through one posted event (several posts before the pump
// runs share it); framework timers are served by one single-shot QTimer set
// to the next one due. Pumps nest: a handler that opens a modal dialog keeps
// the queue flowing inside it.
#pragma once

#include <memory>

namespace xelo {
class TApplication;
}

namespace xelo::qt {

class EventLoopBridge {
 public:
  // Binds the application's queue to Qt's loop. Create it on the
  // application's main thread, which must be Qt's GUI thread, after the
  // QApplication (or QCoreApplication). One bridge per application at a
  // time.
  EventLoopBridge();
  explicit EventLoopBridge(TApplication& application);
  // Unbinds: posts that arrive later wait for the framework's own loop.
  // Not from a handler that the bridge's own pump runs.
  ~EventLoopBridge();
  EventLoopBridge(const EventLoopBridge&) = delete;
  EventLoopBridge& operator=(const EventLoopBridge&) = delete;

  // Pumps the framework's queue now (what Qt's loop does when woken) and
  // sets the timer for the next framework timer; returns what was handled.
  std::size_t Pump();

 private:
  class Receiver;
  struct Shared;
  TApplication& application_;
  std::shared_ptr<Shared> shared_;
  std::unique_ptr<Receiver> receiver_;
};

}  // namespace xelo::qt
