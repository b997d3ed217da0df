#include "support/weak_context.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

namespace velto {

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

  QObject* receiver = new QObject;
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
  QMetaObject::invokeMethod(
      relay_->receiver,
      [relay = relay_, f = std::move(f)] {
        if (!relay->context.isNull()) {
          f();
        }
      },
      Qt::QueuedConnection);
}

}  // namespace velto
