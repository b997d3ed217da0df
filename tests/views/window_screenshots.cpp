// Writes pictures of the real main window to a directory, with simulated cameras streaming
// in-process through the GStreamer session: the first-launch look with a C200, the exposure tool
// with its hint and marker, clipping and grid, the preset naming dialog, a dark palette, a generic
// 4:3 camera and no camera. With --scaled, only the first-launch look, named main-window@2x.png
// (run it with QT_SCALE_FACTOR=2). Used by scripts/screenshots; not a test.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <chrono>
#include <cstdio>
#include <thread>

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

namespace velto {
namespace {

using namespace std::chrono_literals;

// Runs the event loop until `condition` holds or `ms` have passed; whether it holds.
bool waitFor(const std::function<bool()>& condition, int ms = 8000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition() && timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(5ms);
  }
  return condition();
}

void pump(int ms) {
  waitFor([] { return false; }, ms);
}

std::unique_ptr<sim::SimServer> plug(sim::Profile profile, const QString& directory, const char* id, int w, int h) {
  sim::ServerOptions options;
  options.directory = directory.toStdString();
  options.id = id;
  options.width = w;
  options.height = h;
  auto server = std::make_unique<sim::SimServer>(std::move(profile), options, [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
  });
  std::string error;
  if (!server->startThread(&error)) std::fprintf(stderr, "cannot plug %s: %s\n", id, error.c_str());
  return server;
}

QPalette darkPalette() {
  QPalette p;
  const QColor window(42, 42, 46), base(30, 30, 33), text(232, 232, 235), disabled(128, 128, 132);
  p.setColor(QPalette::Window, window);
  p.setColor(QPalette::WindowText, text);
  p.setColor(QPalette::Base, base);
  p.setColor(QPalette::AlternateBase, window);
  p.setColor(QPalette::Text, text);
  p.setColor(QPalette::Button, QColor(54, 54, 58));
  p.setColor(QPalette::ButtonText, text);
  p.setColor(QPalette::ToolTipBase, base);
  p.setColor(QPalette::ToolTipText, text);
  p.setColor(QPalette::PlaceholderText, disabled);
  p.setColor(QPalette::Highlight, QColor(53, 132, 228));
  p.setColor(QPalette::HighlightedText, Qt::white);
  p.setColor(QPalette::Light, QColor(70, 70, 74));
  p.setColor(QPalette::Midlight, QColor(60, 60, 64));
  p.setColor(QPalette::Mid, QColor(36, 36, 40));
  p.setColor(QPalette::Dark, QColor(22, 22, 24));
  p.setColor(QPalette::Shadow, Qt::black);
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    p.setColor(QPalette::Disabled, role, disabled);
  }
  return p;
}

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
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  const QStringList arguments = QCoreApplication::arguments();
  if (arguments.size() < 2) {
    std::fprintf(stderr, "usage: window_screenshots DIRECTORY [--scaled]\n");
    return 2;
  }
  const QString out = arguments[1];
  const bool scaledOnly = arguments.contains(QStringLiteral("--scaled"));
  QDir().mkpath(out);

  QTemporaryDir home;
  const QString simDirectory = home.filePath(QStringLiteral("sim"));
  auto c200 = plug(sim::c200Profile(), simDirectory, "c200", 1280, 720);

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
  Calibrator calibrator(clock);
  store.savePreset(QStringLiteral("Meeting"));
  store.savePreset(QStringLiteral("Desk, evening"));
  if (!waitFor([&] { return store.isConnected(); })) std::fprintf(stderr, "the C200 did not connect\n");

  views::MainWindow window(store, preview, calibrator, defaults);
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
  shooter.shoot(QStringLiteral("main-window.png"));

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
    shooter.shoot(QStringLiteral("naming-dialog.png"), sidebar->presets()->namingDialog());
    if (auto* dialog = sidebar->presets()->namingDialog()) dialog->close();
  }

  const QPalette light = QApplication::palette();
  QApplication::setPalette(darkPalette());
  shooter.shoot(QStringLiteral("dark.png"));
  QApplication::setPalette(light);

  // A generic 4:3 camera instead.
  c200.reset();
  auto generic = plug(sim::genericProfile(), simDirectory, "generic", 640, 480);
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
