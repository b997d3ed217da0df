// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Writes pictures of the tray's panel to a directory, a simulated C200 streaming in-process
// through the GStreamer session: the panel with the camera and two presets (panel.png), with an
// update waiting (panel-update.png), with a snapshot's note where no notification service runs
// (panel-snapshot-note.png), in a dark palette (panel-dark.png) and without a camera
// (panel-no-camera.png), and the tray icon's two drawings on a light and a dark bar
// (tray-icons.png). With --scaled, only panel@2x.png (run it with QT_SCALE_FACTOR=2); with
// --german, only the panel in German with the update button and with the update notice
// (panel-de.png, panel-update-de.png). Used by scripts/screenshots; not a test.
#include <QAction>
#include <QApplication>
#include <QDBusConnection>
#include <QLabel>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QPainter>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <optional>

#include "app/menu_bar_feed.h"
#include "views/snapshot_command.h"
#include "app/menu_bar_icon.h"
#include "app/menu_bar_view.h"
#include "app/translations.h"
#include "screenshot_support.h"
#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "platform/video/gst_capture_backend.h"
#include "sim/profile.h"
#include "sim/sim_server.h"
#include "support/system_clock.h"
#include "views/preview_layer_view.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

void save(const QImage& image, const QString& directory, const QString& name) {
  const QString path = QDir(directory).filePath(name);
  if (!image.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  QTextStream(stdout) << path << "\n";
}

void shoot(QWidget& panel, const QString& directory, const QString& name) {
  testing::waitFor([] { return false; }, 400);  // frames painted, layout settled
  save(panel.grab().toImage(), directory, name);
}

// Both drawings at 18, 22 and 36 px on a light bar and a dark one.
QImage trayIcons() {
  QImage sheet(2 * (18 + 22 + 36 + 40) + 16, 2 * 52, QImage::Format_ARGB32);
  QPainter painter(&sheet);
  const std::pair<QColor, QColor> bars[] = {{QColor(246, 245, 244), QColor(36, 31, 49)},
                                            {QColor(36, 36, 38), QColor(238, 238, 236)}};
  int y = 0;
  for (const auto& [bar, ink] : bars) {
    painter.fillRect(0, y, sheet.width(), 52, bar);
    int x = 8;
    for (auto drawing : {app::MenuBarIcon::Drawing::active, app::MenuBarIcon::Drawing::idle}) {
      for (int px : {18, 22, 36}) {
        painter.drawImage(QPoint(x, y + (52 - px) / 2), app::MenuBarIcon::image(drawing, QSize(px, px), 1, ink));
        x += px + 12;
      }
      x += 16;
    }
    y += 52;
  }
  return sheet;
}

}  // namespace
}  // namespace velto

int main(int argc, char** argv) {
  using namespace velto;
  testing::prepareScreenshotPlatform();
  QApplication app(argc, argv);
  const auto run = testing::screenshotRun("panel_screenshots");
  if (!run) return 2;
  const QString& out = run->out;
  const bool scaledOnly = run->scaledOnly;
  const bool german = QCoreApplication::arguments().contains(QStringLiteral("--german"));
  std::optional<app::Translations> translations;
  if (german) translations.emplace(QStringList{QStringLiteral("de-DE")});

  testing::ScreenshotWorld world;
  auto& c200 = world.c200;
  SystemClock& clock = world.clock;
  UserDefaults& defaults = world.defaults;
  CameraStore& store = world.store;
  PreviewController& preview = world.preview;
  testing::FeedServer feed(testing::appcastOffering(QStringLiteral("1.2.0")));
  auto updateOptions = testing::updateOptions(feed.url());
  SoftwareUpdate updates(clock, defaults, std::move(updateOptions));
  if (!testing::waitFor([&] { return store.isConnected(); })) std::fprintf(stderr, "the C200 did not connect\n");
  store.savePreset(QStringLiteral("Meeting"));
  store.set(ControlID::zoom, 175);
  store.savePreset(QStringLiteral("Desk, evening"));

  app::MenuBarView panel(store, preview, updates, defaults);
  panel.show();
  if (!testing::waitFor([&] { return preview.stats() && panel.miniPreview()->layer().framesPainted() > 3; })) {
    std::fprintf(stderr, "no frames from the C200\n");
  }
  // The feed is read in the background right away.
  testing::waitFor([&] { return updates.pendingVersion().has_value(); });
  const bool pending = updates.pendingVersion().has_value();
  if (!scaledOnly) shoot(panel, out, german ? QStringLiteral("panel-update-de.png") : QStringLiteral("panel-update.png"));
  if (pending) updates.checkForUpdates();  // shown to the user: no longer pending
  if (german) {
    shoot(panel, out, QStringLiteral("panel-de.png"));
    return 0;
  }
  if (scaledOnly) {
    shoot(panel, out, QStringLiteral("panel@2x.png"));
    return 0;
  }
  shoot(panel, out, QStringLiteral("panel.png"));
  {
    QTemporaryDir pictures;
    panel.snapshots().setBus(QDBusConnection(QStringLiteral("no bus")));
    panel.snapshots().setFolder(pictures.filePath(QStringLiteral("Velto Camera")));
    panel.snapshots().action()->trigger();
    auto* note = panel.findChild<QLabel*>(QStringLiteral("note"));
    if (!testing::waitFor([&] { return note && note->isVisible(); })) std::fprintf(stderr, "no note of the snapshot\n");
    shoot(panel, out, QStringLiteral("panel-snapshot-note.png"));
    if (note) note->hide();
  }

  const QPalette light = QApplication::palette();
  QApplication::setPalette(testing::darkPalette());
  shoot(panel, out, QStringLiteral("panel-dark.png"));
  QApplication::setPalette(light);

  {
    // Another program opened the camera: the mini preview greys its last picture and says who.
    const QString program = QDir(world.simDirectory).filePath(QStringLiteral("zoom"));
    QFile::link(QStringLiteral("/bin/sleep"), program);
    QProcess zoom;
    zoom.setStandardInputFile(QString::fromStdString(c200->nodePath()));
    zoom.start(program, {QStringLiteral("30")});
    if (!zoom.waitForStarted() || !testing::waitFor([&] { return preview.pausedFor().has_value(); })) {
      std::fprintf(stderr, "the preview did not pause for another program\n");
    }
    shoot(panel, out, QStringLiteral("panel-paused.png"));
    zoom.kill();
    zoom.waitForFinished();
  }

  c200.reset();
  store.rescan();
  testing::waitFor([&] { return !store.device().has_value(); });
  shoot(panel, out, QStringLiteral("panel-no-camera.png"));
  save(trayIcons(), out, QStringLiteral("tray-icons.png"));
  return 0;
}
