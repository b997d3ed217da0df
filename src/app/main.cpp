// velto-camera: builds the shared objects (clock, settings, store, preview, calibrator) and shows
// the main window. Closing the window quits.
#include <QApplication>
#include <QIcon>

#include "capture/calibrator.h"
#include "capture/preview_controller.h"
#include "model/camera_store.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "platform/video/gst_capture_backend.h"
#include "support/log_categories.h"
#include "support/system_clock.h"
#include "views/main_window.h"

int main(int argc, char** argv) {
  using namespace velto;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("velto-camera"));
  QApplication::setApplicationDisplayName(QStringLiteral("Velto Camera"));
  QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("velto-camera"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("camera-web")));

  SystemClock clock;
  UserDefaults defaults;
  LoginItem loginItem(QStringLiteral("velto-camera"));
  CameraStore store(clock, defaults, loginItem, CameraStore::Options{});
  PreviewController preview(clock, std::make_unique<video::GstCaptureBackend>(), [&store] { store.resetCamera(); });
  Calibrator calibrator(clock);
  qCInfo(lcApp) << "settings in" << defaults.path();

  int status = 0;
  {
    views::MainWindow window(store, preview, calibrator, defaults);
    window.show();
    status = QApplication::exec();
  }
  if (!store.saveNow()) {
    qCWarning(lcApp) << "the settings were not saved:" << store.lastErrorText();
    return status == 0 ? 1 : status;
  }
  return status;
}
