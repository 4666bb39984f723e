#include "xelo/qt/EventLoop.h"

#include "xelo/framework/Application.h"
#include "xelo/framework/Exceptions.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

namespace xelo::qt {

namespace {

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

}  // namespace

// What the waker, which runs on any thread, shares with the bridge: the
// receiver to post to, gone once the bridge is.
struct EventLoopBridge::Shared {
  std::mutex lock;
  QObject* receiver = nullptr;
  // Set from the post of a wake event until its pump begins, so that a burst
  // of posts costs one event.
  std::atomic<bool> wakePending{false};
};

class EventLoopBridge::Receiver final : public QObject {
 public:
  explicit Receiver(EventLoopBridge& bridge) : bridge_(bridge) {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { bridge_.Pump(); });
  }

  QTimer& Timer() { return timer_; }

  bool event(QEvent* event) override {
    if (event->type() != kWakeEvent) return QObject::event(event);
    bridge_.Pump();
    return true;
  }

 private:
  EventLoopBridge& bridge_;
  QTimer timer_;
};

EventLoopBridge::EventLoopBridge() : EventLoopBridge(Application()) {}

EventLoopBridge::EventLoopBridge(TApplication& application)
    : application_(application), shared_(std::make_shared<Shared>()) {
  if (!application_.IsMainThread()) {
    throw EInvalidOperation("EventLoopBridge must be created on the application's main thread");
  }
  receiver_ = std::make_unique<Receiver>(*this);
  {
    std::lock_guard lock(shared_->lock);
    shared_->receiver = receiver_.get();
  }
  application_.Queue().SetWaker([shared = shared_] {
    if (shared->wakePending.exchange(true)) return;
    std::lock_guard lock(shared->lock);
    // Qt takes over the event and delivers it on the receiver's thread.
    if (shared->receiver != nullptr) QCoreApplication::postEvent(shared->receiver, new QEvent(kWakeEvent));
  });
  // What was queued before the bridge existed.
  shared_->wakePending = true;
  QCoreApplication::postEvent(receiver_.get(), new QEvent(kWakeEvent));
}

EventLoopBridge::~EventLoopBridge() {
  application_.Queue().SetWaker({});
  {
    std::lock_guard lock(shared_->lock);
    shared_->receiver = nullptr;
  }
  // Deleting the receiver drops the wake events still posted to it.
  receiver_.reset();
}

std::size_t EventLoopBridge::Pump() {
  // Cleared first: a post during the pump must wake Qt again.
  shared_->wakePending = false;
  const std::size_t handled = application_.ProcessMessages();
  if (const auto next = application_.Queue().UntilNextTimer()) {
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(*next).count();
    receiver_->Timer().start(static_cast<int>(std::min<std::chrono::milliseconds::rep>(milliseconds, 1 << 30)));
  } else {
    receiver_->Timer().stop();
  }
  return handled;
}

}  // namespace xelo::qt
