// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Snapshots the window and the panel take: the camera's picture at its full resolution, saved as
// a PNG file named after the moment it was taken ("Velto Camera 2026-12-08 at 14.03.22.png") in a
// folder of the user's pictures. A file already there is never replaced: the new one is named
// "... (2).png", "... (3).png". The picture is written to a hidden temporary file beside it first
// and renamed only once complete, so a failed snapshot leaves nothing behind.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <optional>

#include "platform/video/frame.h"
#include "support/user_text.h"
#include "support/weak_context.h"

namespace velto {

// The folder snapshots go to: "Velto Camera" in the user's pictures folder (XDG_PICTURES_DIR).
QString defaultSnapshotFolder();
// The file name for a snapshot taken at `when`, in its own time zone. Pure.
QString snapshotFileName(const QDateTime& when);
// `frame`'s pixels as an image that shares them and keeps the frame alive; a null image when the
// frame cannot be read. Any thread.
QImage frameImage(const Frame& frame);

struct SnapshotResult {
  QString path;  // the file written; empty when nothing was
  QSize size;
  std::optional<UserText> error;  // why nothing was written
};

// Writes `image` as a PNG into `folder` (made when missing) under the name for `when`. Blocks for
// the encoding (a good part of a second at 2560 × 1440); any thread.
SnapshotResult saveSnapshot(const QImage& image, const QString& folder, const QDateTime& when);

// Saves frames off the main thread: the full-resolution picture is made and encoded on a thread of
// Qt's global pool, and saved() comes back here. A save already under way completes even when
// this object goes first; only its answer is dropped then. Main thread.
class SnapshotSaver : public QObject {
  Q_OBJECT

 public:
  explicit SnapshotSaver(QObject* parent = nullptr);

  // Saves the camera's picture of `frame` into `folder`, named for `when`; returns at once.
  void save(const Frame& frame, const QString& folder, const QDateTime& when);
  // Whether a save is under way.
  bool busy() const { return pending_ > 0; }

 signals:
  void saved(const velto::SnapshotResult& result);

 private:
  int pending_ = 0;
  WeakContext toSelf_{this};
};

}  // namespace velto
