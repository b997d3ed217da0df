// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/session/desktop_notifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QUrl>
#include <QVariantMap>

namespace velto {
namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

// The body may carry markup on most services; a file name with "&" or "<" must not.
QString plain(const QString& text) { return text.toHtmlEscaped(); }

}  // namespace

DesktopNotification::DesktopNotification(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {}

void DesktopNotification::send(const Content& content) {
  if (sent_) return;
  sent_ = true;
  if (!bus_.isConnected()) {
    // Queued, like an answer from the bus, so the caller has connected before it comes.
    QMetaObject::invokeMethod(
        this, [this] { emit failed(QStringLiteral("there is no session bus")); finish(); }, Qt::QueuedConnection);
    return;
  }
  // Listening before asking: an action may come right after the answer.
  const QString service = QString::fromLatin1(kService);
  bus_.connect(service, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(onActionInvoked(uint, QString)));
  bus_.connect(service, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(onClosed(uint, uint)));

  QStringList actions;
  for (const Action& action : content.actions) actions << action.key << action.label;
  QVariantMap hints;
  if (!content.desktopEntry.isEmpty()) hints.insert(QStringLiteral("desktop-entry"), content.desktopEntry);
  if (!content.imagePath.isEmpty()) {
    hints.insert(QStringLiteral("image-path"), QUrl::fromLocalFile(content.imagePath).toString());
  }
  QDBusMessage call = QDBusMessage::createMethodCall(service, kPath, kInterface, QStringLiteral("Notify"));
  call << content.appName << uint(0) << content.icon << content.summary << plain(content.body) << actions << hints
       << int(-1);  // the service's own time-out
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
      const QDBusError error = reply.error();
      const bool missing = error.type() == QDBusError::ServiceUnknown;
      emit failed(missing ? QStringLiteral("no notification service is running") : error.message());
      return finish();
    }
    id_ = reply.value();
    emit shown();
  });
}

void DesktopNotification::onActionInvoked(uint id, const QString& key) {
  if (id_ && id == *id_ && !finished_) emit actionInvoked(key);
}

void DesktopNotification::onClosed(uint id, uint /*reason*/) {
  if (!id_ || id != *id_ || finished_) return;
  emit closed();
  finish();
}

void DesktopNotification::finish() {
  if (finished_) return;
  finished_ = true;
  deleteLater();
}

}  // namespace velto
