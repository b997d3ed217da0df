// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One desktop notification, shown by the notification service of the session
// (org.freedesktop.Notifications: GNOME Shell, Plasma, dunst, mako, ...), with its buttons.
// send() returns at once; shown() or failed() follows. Without an owner of the service on the bus,
// failed() says so and the caller shows its message some other way.
//
// The object lives as long as its notification: it deletes itself once sending failed or the
// service closed the notification (expired, dismissed, or an action taken), so a button pressed
// minutes later still reaches it after the window that asked for it has gone. Give it a parent
// that lives as long as the application. Main thread.
#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

namespace velto {

class DesktopNotification : public QObject {
  Q_OBJECT

 public:
  static constexpr char kService[] = "org.freedesktop.Notifications";

  struct Action {
    QString key;    // "default" is a click on the notification itself, no button of its own
    QString label;
  };
  struct Content {
    QString appName;
    QString desktopEntry;  // the desktop file ID without ".desktop", so the service finds our icon
    QString icon;          // a freedesktop icon name
    QString summary;
    QString body;          // plain text; markup characters are escaped before sending
    QString imagePath;     // a picture the service may show beside the text
    QList<Action> actions;
  };

  explicit DesktopNotification(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

  // Sends `content`; once per object.
  void send(const Content& content);
  // The service's number for the notification, once shown.
  std::optional<uint> id() const { return id_; }

 signals:
  void shown();
  // Why the notification could not be shown, in English for the log.
  void failed(const QString& reason);
  // The user chose the action `key`.
  void actionInvoked(const QString& key);
  void closed();

 private slots:
  void onActionInvoked(uint id, const QString& key);
  void onClosed(uint id, uint reason);

 private:
  void finish();

  QDBusConnection bus_;
  std::optional<uint> id_;
  bool sent_ = false;
  bool finished_ = false;
};

}  // namespace velto
