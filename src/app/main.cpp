// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// velto-camera: the desktop application (application.h). A second start shows the running
// instance's window and leaves with status 0. SIGINT and SIGTERM quit like "Quit": the settings
// are saved and the status is 0 (1 when they could not be saved).
#include <QApplication>
#include <QCommandLineParser>
#include <QDBusConnection>
#include <QIcon>
#include <QLocale>
#include <QSocketNotifier>
#include <QThreadPool>
#include <QSystemTrayIcon>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "app/application.h"
#include "app/translations.h"
#include "platform/usb/sim_directory.h"
#include "support/log.h"

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velto;
  // First of all, so that a signal during start-up is kept and quits as soon as the loop runs.
  const bool signalsWatched = ::pipe2(signalPipe, O_CLOEXEC) == 0;
  if (signalsWatched) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
  }
  // A caller's pipe whose reader has gone is a failed write (EPIPE) for whoever wrote, never the
  // end of the program.
  std::signal(SIGPIPE, SIG_IGN);

  // The name a StatusNotifier host shows for the icon (its Title) and the window's class. The
  // program's files go by their own paths, never by this name.
  QCoreApplication::setApplicationName(QStringLiteral("Velto Camera"));
  QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Settings for USB webcams, kept in the camera."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption hidden(QStringLiteral("hidden"),
                                  QStringLiteral("Start in the tray without opening the window."));
  parser.addOption(hidden);
  const QCommandLineOption simulated(QStringLiteral("simulated-cameras"),
                                     QStringLiteral("List the simulated cameras of velto-simcam too."));
  parser.addOption(simulated);
  {
    // --help and --version answer before anything needs a display, so they work on a console,
    // over ssh and in a package build. Every other option (Qt's own -platform, ...) is read below.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser early;
    early.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    early.addHelpOption();
    early.addVersionOption();
    early.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    early.parse(arguments);
    if (early.isSet(QStringLiteral("help")) || early.isSet(QStringLiteral("help-all"))) {
      QCoreApplication textOnly(argc, argv);
      parser.process(textOnly);  // prints the help and exits 0
    }
    if (early.isSet(QStringLiteral("version"))) {
      QCoreApplication textOnly(argc, argv);
      parser.showVersion();
    }
  }

  QApplication qtApp(argc, argv);
  // Before any window or text is made. The log stays English.
  const app::Translations translations(QLocale::system().uiLanguages());
  QApplication::setApplicationDisplayName(QStringLiteral("Velto Camera"));
  QGuiApplication::setDesktopFileName(QStringLiteral("app.velto.Camera"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("velto-camera"),
                                               QIcon::fromTheme(QStringLiteral("camera-web"))));
  parser.process(qtApp);
  // Qt's pool serves the odd large image operation; a worker idle for 2 s ends instead of
  // staying 30 s beside an application that runs all day.
  QThreadPool::globalInstance()->setExpiryTimeout(2000);

  std::unique_ptr<QSocketNotifier> stop;
  if (signalsWatched) {
    stop = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(stop.get(), &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
  } else {
    log::warning(log::Layer::app, "cannot watch for SIGTERM: pipe2 failed");
  }

  const QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) log::info(log::Layer::app, "no session bus: running on our own");
  if (app::activateRunningInstance(bus)) return 0;

  if (parser.isSet(simulated)) usb::requestSimulatedCameras();
  app::VeltoCameraApp::Options options;
  options.hidden = parser.isSet(hidden);
  options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
  options.bus = bus;
  if (!options.trayAvailable) log::info(log::Layer::app, "no system tray: the window stays open");
  app::VeltoCameraApp velto(std::move(options));
  if (!velto.isOwner()) {
    // Another instance took the session between our question and our claim.
    if (app::activateRunningInstance(bus)) return 0;
    log::warning(log::Layer::app, "another program keeps the session's cameras");
    return 1;
  }
  velto.start();
  const int status = QApplication::exec();
  return velto.finish() ? status : (status == 0 ? 1 : status);
}
