// Writes pictures of the tray's panel to a directory, a simulated C200 streaming in-process
// through the GStreamer session: the panel with the camera and two presets (panel.png), with an
// update waiting (panel-update.png), in a dark palette (panel-dark.png) and without a camera
// (panel-no-camera.png), and the tray icon's two drawings on a light and a dark bar
// (tray-icons.png). With --scaled, only panel@2x.png (run it with QT_SCALE_FACTOR=2). Used by
// scripts/screenshots; not a test.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <thread>

#include "app/menu_bar_feed.h"
#include "app/menu_bar_icon.h"
#include "app/menu_bar_view.h"
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

bool waitFor(const std::function<bool()>& condition, int ms = 8000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition() && timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

void save(const QImage& image, const QString& directory, const QString& name) {
  const QString path = QDir(directory).filePath(name);
  if (!image.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
  QTextStream(stdout) << path << "\n";
}

void shoot(QWidget& panel, const QString& directory, const QString& name) {
  waitFor([] { return false; }, 400);  // frames painted, layout settled
  save(panel.grab().toImage(), directory, name);
}

QPalette darkPalette() {
  QPalette p;
  const QColor window(42, 42, 46), base(30, 30, 33), text(232, 232, 235), disabled(128, 128, 132);
  for (auto [role, colour] : {std::pair{QPalette::Window, window}, {QPalette::WindowText, text}, {QPalette::Base, base},
                              {QPalette::AlternateBase, window}, {QPalette::Text, text},
                              {QPalette::Button, QColor(54, 54, 58)}, {QPalette::ButtonText, text},
                              {QPalette::PlaceholderText, disabled}, {QPalette::Highlight, QColor(53, 132, 228)},
                              {QPalette::HighlightedText, QColor(Qt::white)}, {QPalette::Light, QColor(70, 70, 74)},
                              {QPalette::Midlight, QColor(60, 60, 64)}, {QPalette::Mid, QColor(36, 36, 40)},
                              {QPalette::Dark, QColor(22, 22, 24)}, {QPalette::Shadow, QColor(Qt::black)}}) {
    p.setColor(role, colour);
  }
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) p.setColor(QPalette::Disabled, role, disabled);
  return p;
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

std::unique_ptr<sim::SimServer> plug(const QString& directory) {
  sim::ServerOptions options;
  options.directory = directory.toStdString();
  options.id = "c200";
  options.width = 1280;
  options.height = 720;
  auto server = std::make_unique<sim::SimServer>(sim::c200Profile(), options, [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  });
  std::string error;
  if (!server->startThread(&error)) std::fprintf(stderr, "cannot plug the C200: %s\n", error.c_str());
  return server;
}

}  // namespace
}  // namespace velto

int main(int argc, char** argv) {
  using namespace velto;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.size() < 2) {
    std::fprintf(stderr, "usage: panel_screenshots DIRECTORY [--scaled]\n");
    return 2;
  }
  const QString out = arguments[1];
  const bool scaledOnly = arguments.contains(QStringLiteral("--scaled"));
  QDir().mkpath(out);

  QTemporaryDir home;
  const QString simDirectory = home.filePath(QStringLiteral("sim"));
  auto c200 = plug(simDirectory);
  SystemClock clock;
  UserDefaults defaults(home.filePath(QStringLiteral("velto-camera.conf")));
  LoginItem login(QStringLiteral("velto-camera"), home.filePath(QStringLiteral("autostart")));
  CameraStore::Options options;
  options.registry.simDirectory = simDirectory.toStdString();
  options.registry.sysfsRoot.clear();
  options.watchHotplug = false;
  options.watchWake = false;
  CameraStore store(clock, defaults, login, options);
  video::GstCaptureOptions capture;
  capture.sysfsRoot.clear();
  capture.simDirectory = simDirectory.toStdString();
  capture.watchDevices = false;
  PreviewController preview(clock, std::make_unique<video::GstCaptureBackend>(capture), [&store] { store.resetCamera(); });
  testing::FeedServer feed(testing::appcastOffering(QStringLiteral("1.2.0")));
  auto updateOptions = testing::updateOptions(feed.url());
  SoftwareUpdate updates(clock, defaults, std::move(updateOptions));
  if (!waitFor([&] { return store.isConnected(); })) std::fprintf(stderr, "the C200 did not connect\n");
  store.savePreset(QStringLiteral("Meeting"));
  store.set(ControlID::zoom, 175);
  store.savePreset(QStringLiteral("Desk, evening"));

  app::MenuBarView panel(store, preview, updates, defaults);
  panel.show();
  if (!waitFor([&] { return preview.stats() && panel.miniPreview()->layer().framesPainted() > 3; })) {
    std::fprintf(stderr, "no frames from the C200\n");
  }
  // The feed is read in the background right away.
  waitFor([&] { return updates.pendingVersion().has_value(); });
  const bool pending = updates.pendingVersion().has_value();
  if (!scaledOnly) shoot(panel, out, QStringLiteral("panel-update.png"));
  if (pending) updates.checkForUpdates();  // shown to the user: no longer pending
  if (scaledOnly) {
    shoot(panel, out, QStringLiteral("panel@2x.png"));
    return 0;
  }
  shoot(panel, out, QStringLiteral("panel.png"));

  const QPalette light = QApplication::palette();
  QApplication::setPalette(darkPalette());
  shoot(panel, out, QStringLiteral("panel-dark.png"));
  QApplication::setPalette(light);

  c200.reset();
  store.rescan();
  waitFor([&] { return !store.device().has_value(); });
  shoot(panel, out, QStringLiteral("panel-no-camera.png"));
  save(trayIcons(), out, QStringLiteral("tray-icons.png"));
  return 0;
}
