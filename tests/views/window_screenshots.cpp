// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Writes pictures of the real main window to a directory, with simulated cameras streaming
// in-process through the GStreamer session: the first-launch look with a C200, the exposure tool
// with its hint and marker, clipping and grid, the preset naming dialog (empty, and with a name in
// use), a snapshot's note and a failed snapshot's in the hint line, the Microphone section, a
// reset under way, a failed reset in the light and the dark palette, a generic 4:3 camera and no
// camera, and the window opened on a small 1024 × 600 screen beside the main one. With --scaled, only the first-launch look, named main-window@2x.png (run it with
// QT_SCALE_FACTOR=2). With --german, the window in German: the first-launch look, the end of the
// sidebar, the naming dialog and a failed reset, named *-de.png. Used by scripts/screenshots; not
// a test.
#include <QAbstractButton>
#include <QAction>
#include <QDBusConnection>
#include <QLabel>
#include <QApplication>
#include <QProcess>
#include <QDir>
#include <QFile>
#include <QPainter>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <cstdio>

#include "app/translations.h"
#include "capture/calibrator.h"
#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "platform/video/gst_capture_backend.h"
#include "sim/profile.h"
#include "sim/sim_server.h"
#include "support/system_clock.h"
#include "views/controls_sidebar.h"
#include "views/main_window.h"
#include "views/preset_name_dialog.h"
#include "views/presets_section.h"
#include "views/snapshot_command.h"
#include "screenshot_support.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using testing::pump;
using testing::waitFor;

class Shooter {
 public:
  Shooter(views::MainWindow& window, QString directory) : window_(window), directory_(std::move(directory)) {}

  void shoot(const QString& name, QWidget* dialog = nullptr, int settleMs = 400) {
    pump(settleMs);  // a few frames painted, spinners turned
    QImage image = window_.grab().toImage();
    if (dialog) {
      // A window-modal dialog is a window of its own: lay it over the window, centred.
      QPainter painter(&image);
      painter.fillRect(QRect(QPoint(0, 0), image.size() / image.devicePixelRatio()), QColor(0, 0, 0, 60));
      const QImage sheet = dialog->grab().toImage();
      const QSize size = sheet.size() / sheet.devicePixelRatio();
      painter.drawImage(QPoint((window_.width() - size.width()) / 2, window_.height() / 4), sheet);
    }
    const QString path = QDir(directory_).filePath(name);
    if (!image.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    QTextStream(stdout) << path << "\n";
  }

 private:
  views::MainWindow& window_;
  QString directory_;
};

}  // namespace
}  // namespace velto

int main(int argc, char** argv) {
  using namespace velto;
  testing::prepareScreenshotPlatform();
  // Offscreen, a large monitor (large enough at QT_SCALE_FACTOR=2 too; the platform's own 800 × 600
  // screen is smaller than the window) and a small laptop screen to its right, without frames.
  QTemporaryDir screens;
  if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
    QFile config(screens.filePath(QStringLiteral("screens.json")));
    if (config.open(QIODevice::WriteOnly)) {
      config.write(R"({"windowFrameMargins": false, "screens": [
        {"name": "Desktop", "x": 0, "y": 0, "width": 3840, "height": 2160},
        {"name": "Laptop", "x": 3840, "y": 0, "width": 1024, "height": 600}]})");
      config.close();
      qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    }
  }
  QApplication app(argc, argv);
  const auto run = testing::screenshotRun("window_screenshots");
  if (!run) return 2;
  const QString& out = run->out;
  const bool scaledOnly = run->scaledOnly;
  const bool german = QCoreApplication::arguments().contains(QStringLiteral("--german"));
  std::optional<app::Translations> translations;
  if (german) translations.emplace(QStringList{QStringLiteral("de-DE")});

  testing::ScreenshotWorld world;
  const QString& simDirectory = world.simDirectory;
  auto& c200 = world.c200;
  SystemClock& clock = world.clock;
  UserDefaults& defaults = world.defaults;
  CameraStore& store = world.store;
  PreviewController& preview = world.preview;
  Calibrator calibrator(clock);
  store.savePreset(QStringLiteral("Meeting"));
  store.savePreset(QStringLiteral("Desk, evening"));
  if (!waitFor([&] { return store.isConnected(); })) std::fprintf(stderr, "the C200 did not connect\n");

  views::MainWindow window(store, preview, calibrator, defaults);
  QAction about(QStringLiteral("About Velto Camera")), quit(QStringLiteral("Quit"));
  quit.setShortcut(QKeySequence::Quit);
  window.addMenuActions({&about, &quit});
  window.show();
  Shooter shooter(window, out);
  auto framesFlow = [&] {
    const auto before = preview.analyzer().frameCount();
    return waitFor([&] { return preview.stats() && preview.analyzer().frameCount() > before + 3; });
  };
  if (!framesFlow()) std::fprintf(stderr, "no frames from the C200\n");
  if (scaledOnly) {
    shooter.shoot(QStringLiteral("main-window@2x.png"));
    return 0;
  }
  if (german) {
    // The longest words of the form where they are narrowest: the sidebar's end, a dialog, a message.
    shooter.shoot(QStringLiteral("main-window-de.png"));
    if (auto* form = window.findChild<QScrollArea*>()) {
      form->verticalScrollBar()->setValue(form->verticalScrollBar()->maximum());
      shooter.shoot(QStringLiteral("sidebar-end-de.png"));
      form->verticalScrollBar()->setValue(0);
    }
    if (auto* sidebar = window.findChild<views::ControlsSidebar*>(); sidebar && sidebar->presets()) {
      sidebar->presets()->startNaming({});
      pump(200);
      if (auto* dialog = sidebar->presets()->namingDialog()) dialog->field()->setText(QStringLiteral("Meeting"));
      shooter.shoot(QStringLiteral("naming-dialog-de.png"), sidebar->presets()->namingDialog());
      if (auto* dialog = sidebar->presets()->namingDialog()) dialog->close();
    }
    c200->command("hold");
    store.resetCamera();
    waitFor([&] { return store.lastError().has_value(); });
    shooter.shoot(QStringLiteral("reset-failed-de.png"));
    c200->command("release");
    return 0;
  }
  shooter.shoot(QStringLiteral("main-window.png"));

  // The laptop: a window last left larger than its screen, and partly beside it, opens within
  // it, toolbar and menu button whole, with the exposure tool's Target picker showing.
  const QList<QScreen*> all = QGuiApplication::screens();
  const auto laptop = std::find_if(all.begin(), all.end(), [](QScreen* s) { return s->name() == "Laptop"; });
  if (laptop != all.end()) {
    window.hide();
    const QRect area = (*laptop)->geometry();
    const QString saved = QStringLiteral(R"({"x": %1, "y": 120, "width": 1100, "height": 680})").arg(area.x() + 300);
    defaults.setData(QStringLiteral("window.geometry"), saved.toUtf8());
    views::MainWindow small(store, preview, calibrator, defaults);
    small.addMenuActions({&about, &quit});
    calibrator.setTool(Calibrator::Tool::exposure);
    small.show();
    framesFlow();
    pump(400);
    // The whole screen, the window where it landed on it.
    QImage screen(area.size(), QImage::Format_RGB32);
    screen.fill(QColor(96, 96, 100));
    QPainter painter(&screen);
    painter.drawImage(small.geometry().topLeft() - area.topLeft(), small.grab().toImage());
    painter.end();
    const QString path = QDir(out).filePath(QStringLiteral("small-screen.png"));
    if (!screen.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    QTextStream(stdout) << path << "\n";
    small.close();
    calibrator.setTool(Calibrator::Tool::none);
    defaults.remove(QStringLiteral("window.geometry"));
    window.show();
    framesFlow();
  } else {
    std::fprintf(stderr, "no laptop screen: no picture of the window on it\n");
  }

  // A snapshot where the desktop shows no notifications: the hint line says where it went, or
  // why it could not be saved (a file where the folder should be).
  {
    QTemporaryDir pictures;
    auto& snapshots = window.snapshots();
    snapshots.setBus(QDBusConnection(QStringLiteral("no bus")));
    auto* hint = window.pane().findChild<QLabel*>(QStringLiteral("hint"));
    auto noted = [&](const QString& start) {
      return waitFor([&] { return hint && hint->isVisible() && hint->text().startsWith(start); });
    };
    snapshots.setFolder(pictures.filePath(QStringLiteral("Velto Camera")));
    snapshots.action()->trigger();
    if (!noted(QStringLiteral("Snapshot saved"))) std::fprintf(stderr, "no note of the snapshot\n");
    shooter.shoot(QStringLiteral("snapshot-note.png"));
    QFile blocker(pictures.filePath(QStringLiteral("Blocked")));
    if (blocker.open(QIODevice::WriteOnly)) blocker.close();
    snapshots.setFolder(pictures.filePath(QStringLiteral("Blocked/Velto Camera")));
    snapshots.action()->trigger();
    if (!noted(QStringLiteral("Could not"))) std::fprintf(stderr, "no note of the failed snapshot\n");
    shooter.shoot(QStringLiteral("snapshot-failed.png"));
  }

  // The exposure tool, a spot clicked and the search under way.
  calibrator.setTool(Calibrator::Tool::exposure);
  pump(200);  // the toolbar lays out with the Target picker
  calibrator.run({0.62, 0.42}, store, preview.analyzer());
  // At once, before the first probe darkens the picture.
  shooter.shoot(QStringLiteral("exposure-tool.png"), nullptr, 0);
  waitFor([&] { return !calibrator.busy(); }, 20000);
  shooter.shoot(QStringLiteral("exposure-result.png"));
  calibrator.cancel();
  calibrator.setTool(Calibrator::Tool::none);

  // Too much light on purpose: blown highlights in red, the grid over them.
  window.findChild<QAction*>(QStringLiteral("overlay.clipping"))->trigger();
  window.findChild<QAction*>(QStringLiteral("overlay.grid"))->trigger();
  store.setAuto(ControlID::autoExposure, false);
  store.set(ControlID::exposure, 2000);
  framesFlow();
  pump(600);
  shooter.shoot(QStringLiteral("clipping-grid.png"));
  window.findChild<QAction*>(QStringLiteral("overlay.clipping"))->trigger();
  window.findChild<QAction*>(QStringLiteral("overlay.grid"))->trigger();
  store.setAuto(ControlID::autoExposure, true);

  if (auto* sidebar = window.findChild<views::ControlsSidebar*>(); sidebar && sidebar->presets()) {
    sidebar->presets()->startNaming({});
    pump(200);
    // A name another preset has: the dialog says so.
    if (auto* dialog = sidebar->presets()->namingDialog()) dialog->field()->setText(QStringLiteral("Meeting"));
    shooter.shoot(QStringLiteral("naming-dialog-taken.png"), sidebar->presets()->namingDialog());
    if (auto* dialog = sidebar->presets()->namingDialog()) dialog->close();
    sidebar->presets()->startNaming({});
    pump(200);
    shooter.shoot(QStringLiteral("naming-dialog.png"), sidebar->presets()->namingDialog());
    if (auto* dialog = sidebar->presets()->namingDialog()) dialog->close();
  }

  auto* sidebar = window.findChild<views::ControlsSidebar*>();
  auto* form = window.findChild<QScrollArea*>();
  if (sidebar && form) {
    form->ensureWidgetVisible(sidebar->section(QStringLiteral("Microphone")), 0, 120);
    shooter.shoot(QStringLiteral("microphone.png"));
    form->verticalScrollBar()->setValue(0);
  }

  // Another program opened the camera: the last picture greyed under who has it.
  {
    const QString program = QDir(simDirectory).filePath(QStringLiteral("zoom"));
    QFile::link(QStringLiteral("/bin/sleep"), program);
    QProcess zoom;
    zoom.setStandardInputFile(QString::fromStdString(c200->nodePath()));
    zoom.start(program, {QStringLiteral("30")});
    if (zoom.waitForStarted() && waitFor([&] { return preview.pausedFor().has_value(); })) {
      shooter.shoot(QStringLiteral("paused.png"));
    } else {
      std::fprintf(stderr, "the preview did not pause for another program\n");
    }
    zoom.kill();
    zoom.waitForFinished();
    waitFor([&] { return !preview.pausedFor().has_value(); });
    framesFlow();
  }

  // A reset under way: the camera off the bus for a second, the button busy, the badge shown.
  auto resetAndReconnect = [&](const std::function<void()>& whileAway) {
    const auto enumeration = c200->registryID();
    store.resetCamera();
    whileAway();
    waitFor([&] { return c200->registryID() != enumeration && c200->registryID() != 0; }, 5000);
    store.rescan();  // as the hot-plug notice would
    waitFor([&] { return !store.isResetting(); });
    framesFlow();
    waitFor([&] { return !preview.recovering(); }, 5000);  // the watchdog's next look sees the frames
  };
  resetAndReconnect([&] { shooter.shoot(QStringLiteral("resetting.png"), nullptr, 300); });

  // A reset that fails (another program holds the camera): its message in red, light and dark.
  c200->command("hold");
  store.resetCamera();
  waitFor([&] { return store.lastError().has_value(); });
  shooter.shoot(QStringLiteral("reset-failed.png"));
  const QPalette light = QApplication::palette();
  QApplication::setPalette(testing::darkPalette());
  shooter.shoot(QStringLiteral("dark.png"));
  QApplication::setPalette(light);
  c200->command("release");
  resetAndReconnect([] {});  // a reset that works clears the message

  // A generic 4:3 camera instead.
  c200.reset();
  auto generic = testing::plugStreaming(sim::genericProfile(), simDirectory, "generic", 640, 480);
  store.rescan();
  waitFor([&] { return store.isConnected() && store.device() && store.device()->key != CameraKey{0x291a, 0x3369}; });
  waitFor([&] { return preview.stats() && preview.stats()->size == QSizeF(640, 480); });
  shooter.shoot(QStringLiteral("generic-camera.png"));

  generic.reset();
  store.rescan();
  waitFor([&] { return !store.device() && preview.state() == PreviewController::State::noCamera; });
  shooter.shoot(QStringLiteral("no-camera.png"));
  return 0;
}
