// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// "Take Snapshot" for the window and the panel: saves the camera's picture at its full resolution
// into the user's pictures (snapshot_saver.h), then says so in a desktop notification whose buttons
// open the picture or its folder. Where the session has no notification service the view shows
// note() in its own picture instead. The command is enabled only while frames of the running
// camera arrive: before the first one there is nothing to save.
//
// Main thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

#include "capture/snapshot_saver.h"

class QAction;

namespace velto {
class PreviewController;
}

namespace velto::views {

class SnapshotCommand : public QObject {
  Q_OBJECT

 public:
  // `preview` must outlive the command.
  explicit SnapshotCommand(PreviewController& preview, QObject* parent = nullptr);

  // Trigger it to take a snapshot; it carries the command's text, symbol and enabled state.
  QAction* action() const { return action_; }
  // Where pictures go (defaultSnapshotFolder() unless set) and the bus that carries the
  // notification (the session bus unless set): for tests, and for a desktop that wants others.
  void setFolder(const QString& folder) { folder_ = folder; }
  void setBus(const QDBusConnection& bus) { bus_ = bus; }

 signals:
  // What the notification would have said, for the view to show over its picture.
  void note(const QString& text);
  // A snapshot was saved, or failed (its error then says why).
  void finished(const velto::SnapshotResult& result);

 private:
  void take();
  void refresh();
  void saved(const SnapshotResult& result);

  PreviewController& preview_;
  QAction* action_;
  SnapshotSaver saver_;
  std::optional<QString> folder_;
  std::optional<QDBusConnection> bus_;
  bool fresh_ = false;  // a frame has arrived since the camera last started streaming
};

}  // namespace velto::views
