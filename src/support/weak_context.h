// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Bringing results back from a worker queue to the thread that owns the state, usually the main
// thread. The call is queued on a context object's thread and dropped, never run, when the
// context is destroyed before it gets there; that is how asynchronous work holds its owner
// weakly.
#pragma once

#include <QMetaObject>
#include <QObject>

#include <functional>
#include <memory>
#include <utility>

namespace velto {

// Queues `f` to run on `context`'s thread, after the events already queued there; dropped when
// `context` is destroyed first. Never blocks, never runs `f` inline. Because it dereferences
// `context`, the caller must know the context is alive during this call: call it on the
// context's own thread, or keep the context alive by other means. A worker thread that cannot
// know that uses a WeakContext.
template <typename F>
void postTo(QObject* context, F&& f) {
  if (context != nullptr) {
    QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::QueuedConnection);
  }
}

// A weak reference to a context object that may be copied to, used on and destroyed on any
// thread, however long the work there takes and whatever happens to the context meanwhile.
// Typical use: the store captures WeakContext(this) in a task it posts to "camera.io", and the
// task posts its result back through it.
class WeakContext {
 public:
  // Posts nothing.
  WeakContext() = default;
  // On `context`'s thread, while it is alive.
  explicit WeakContext(QObject* context);

  // Any thread. Queues `f` onto the context's thread; it runs there only if the context still
  // exists by then, and is otherwise destroyed unrun (on that thread). Never blocks.
  template <typename F>
  void post(F&& f) const {
    postFunction(std::function<void()>(std::forward<F>(f)));
  }

 private:
  struct Relay;
  void postFunction(std::function<void()> f) const;

  std::shared_ptr<Relay> relay_;
};

}  // namespace velto
