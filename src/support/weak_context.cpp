// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "support/weak_context.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QThread>
#include <atomic>

namespace velto {
namespace {

// A posted call travels as an event that only the receiver's thread ever runs and deletes: the
// call and what it captured (a device, a result) are let go there, never on the posting worker.
// A queued functor slot, by contrast, is shared between both threads and freed by whichever
// drops it last.
const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Qt hands a posted event over under its own lock, inside the Qt library where ThreadSanitizer
// cannot see it. Releasing through this counter after the event is built, and acquiring it before
// the event is read, states that hand-over in code it can see.
std::atomic<unsigned long> handedOver{0};

class CallEvent : public QEvent {
 public:
  explicit CallEvent(std::function<void()> call) : QEvent(kCallEvent), call_(std::move(call)) {}
  void run() { call_(); }

 private:
  std::function<void()> call_;
};

class Receiver : public QObject {
 protected:
  bool event(QEvent* e) override {
    handedOver.load(std::memory_order_acquire);
    if (e->type() != kCallEvent) return QObject::event(e);
    static_cast<CallEvent*>(e)->run();
    return true;
  }
};

}  // namespace

// A receiver living on the context's thread that stays alive as long as anyone may still post
// through it: every WeakContext copy and every queued call holds the relay. Posting targets the
// receiver, never the context, so a worker never touches a context that may be mid-destruction.
struct WeakContext::Relay {
  explicit Relay(QObject* target) : context(target) {}
  // The last holder may be on any thread; deleteLater hands the deletion to the receiver's own
  // thread. While the application object is being destroyed, the last holder can be a queued call
  // that Qt deletes with its posted-event list locked: posting (or deleting a QObject) from here
  // would wait for that lock forever, so the receiver is left to the exiting process.
  ~Relay() {
    if (!QCoreApplication::closingDown()) receiver->deleteLater();
  }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  QObject* receiver = new Receiver;
  // Read only on the receiver's thread, which is the context's.
  QPointer<QObject> context;
};

WeakContext::WeakContext(QObject* context) {
  if (context == nullptr) {
    return;
  }
  Q_ASSERT(context->thread() == QThread::currentThread());
  relay_ = std::make_shared<Relay>(context);
}

void WeakContext::postFunction(std::function<void()> f) const {
  if (!relay_) {
    return;
  }
  auto* event = new CallEvent([relay = relay_, f = std::move(f)] {
    if (!relay->context.isNull()) {
      f();
    }
  });
  handedOver.fetch_add(1, std::memory_order_release);
  QCoreApplication::postEvent(relay_->receiver, event);
}

}  // namespace velto
