// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "views/snapshot_command.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "capture/preview_controller.h"
#include "platform/session/desktop_notifications.h"
#include "support/log.h"
#include "views/icons.h"

namespace velto::views {
namespace {

// The folder as people say it: "~/Pictures/Velto Camera".
QString shownFolder(const QString& folder) {
  const QString home = QDir::homePath();
  if (folder == home || folder.startsWith(home + QLatin1Char('/'))) return QLatin1Char('~') + folder.mid(home.size());
  return QDir::toNativeSeparators(folder);
}

}  // namespace

SnapshotCommand::SnapshotCommand(PreviewController& preview, QObject* parent)
    : QObject(parent), preview_(preview), action_(new QAction(icon("camera"), tr("Take Snapshot"), this)) {
  action_->setObjectName(QStringLiteral("snapshot"));
  connect(action_, &QAction::triggered, this, &SnapshotCommand::take);
  connect(&saver_, &SnapshotSaver::saved, this, &SnapshotCommand::saved);
  connect(&preview_, &PreviewController::stateChanged, this, [this] {
    // A camera that stops, or starts again, has no frame of this run until one arrives.
    fresh_ = false;
    refresh();
  });
  connect(&preview_, &PreviewController::statsChanged, this, [this] {
    fresh_ = true;
    refresh();
  });
  connect(&preview_, &PreviewController::problemChanged, this, &SnapshotCommand::refresh);
  fresh_ = preview_.stats().has_value();
  refresh();
}

void SnapshotCommand::refresh() {
  action_->setEnabled(fresh_ && preview_.state() == PreviewController::State::running && !preview_.problem());
}

void SnapshotCommand::take() {
  if (!action_->isEnabled()) return;
  saver_.save(preview_.analyzer().latest(), folder_.value_or(defaultSnapshotFolder()), QDateTime::currentDateTime());
}

void SnapshotCommand::saved(const SnapshotResult& result) {
  emit finished(result);
  DesktopNotification::Content content;
  content.appName = QStringLiteral("Velto Camera");
  content.desktopEntry = QStringLiteral("app.velto.Camera");
  QString message;
  if (result.error) {
    content.icon = QStringLiteral("dialog-error");
    content.summary = tr("Snapshot Not Saved");
    content.body = result.error->translated();
    message = content.body;
  } else {
    const QFileInfo file(result.path);
    content.icon = QStringLiteral("velto-camera");
    content.summary = tr("Snapshot Saved");
    //: %1 is the picture's file name, %2 the folder it is in.
    content.body = tr("%1 in %2").arg(file.fileName(), shownFolder(file.absolutePath()));
    content.imagePath = result.path;
    content.actions = {{QStringLiteral("default"), tr("Open")},
                       {QStringLiteral("open"), tr("Open")},
                       {QStringLiteral("folder"), tr("Show in Folder")}};
    //: %1 is the folder the picture went to.
    message = tr("Snapshot saved to %1").arg(shownFolder(file.absolutePath()));
  }
  // The notification outlives this command (the panel goes as soon as the pointer leaves it), so
  // its buttons work for as long as it is on screen.
  auto* notification = new DesktopNotification(bus_.value_or(QDBusConnection::sessionBus()), QCoreApplication::instance());
  const QString path = result.path;
  connect(notification, &DesktopNotification::actionInvoked, notification, [path](const QString& key) {
    const QString target = key == QLatin1String("folder") ? QFileInfo(path).absolutePath() : path;
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(target))) {
      log::warning(log::Layer::app, "no application opens " + target.toStdString());
    }
  });
  connect(notification, &DesktopNotification::failed, this, [this, message](const QString& reason) {
    log::info(log::Layer::app, "snapshot notification not shown: " + reason.toStdString());
    emit note(message);
  });
  notification->send(content);
}

}  // namespace velto::views
