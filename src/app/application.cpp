// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/application.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEvent>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>

#include "app_application_adaptor.h"
#include "app/menu_bar_icon.h"
#include "app/menu_bar_view.h"
#include "app/software_update.h"
#include "capture/calibrator.h"
#include "capture/capture_bus.h"
#include "capture/preview_controller.h"
#include "model/camera_bus.h"
#include "model/camera_store.h"
#include "model/session_owner.h"
#include "platform/video/gst_capture_backend.h"
#include "support/log.h"
#include "views/main_window.h"

namespace velto::app {

namespace {

// The application's name, the same in every language.
const QString kTitle = QStringLiteral("Velto Camera");

// A second start answers within this; an owner that does not is treated as absent.
constexpr int kActivateTimeoutMs = 5000;

}  // namespace

VeltoCameraApp::VeltoCameraApp(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), login_(QStringLiteral("velto-camera")) {
  // The reset action holds the store weakly: the owner may drop its store (the session moved on)
  // and make a new one later.
  preview_ = std::make_unique<PreviewController>(clock_, std::make_unique<video::GstCaptureBackend>(), [this] {
    if (CameraStore* store = this->store()) store->resetCamera();
  });
  preview_->rememberModesIn(defaults_);

  QDBusConnection& bus = options_.bus;
  auto makeStore = [this] {
    defaults_.reload();  // the previous owner's last word
    return std::make_unique<CameraStore>(clock_, defaults_, login_, CameraStore::Options{});
  };
  owner_ = std::make_unique<SessionOwner>(SessionOwner::Claim::replace, makeStore, bus);
  connect(owner_.get(), &SessionOwner::ownershipChanged, this, &VeltoCameraApp::ownershipChanged);
  // Every object before any name, so that whoever finds a name finds its objects.
  if (bus.isConnected()) {
    // velto-ctl stats, snapshot and calibrate capture through our preview.
    capture_ = std::make_unique<CaptureBusService>(clock_, [this] { return store(); }, *preview_, calibrator(), bus);
    connect(owner_.get(), &SessionOwner::storeClosing, capture_.get(),
            [this] { capture_->endAll(QStringLiteral("another program owns the cameras now")); });
    new ApplicationAdaptor(this);
    exported_ = bus.registerObject(QString::fromLatin1(kAppBusPath), this, QDBusConnection::ExportAdaptors);
    if (!exported_) log::warning(log::Layer::app, "could not export " + std::string(kAppBusPath) + " on the session bus");
    const auto reply = bus.interface()->registerService(QString::fromLatin1(kAppBusName),
                                                        QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    named_ = reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
    // Another instance has the name: it is the application, this one leaves (isOwner()).
    if (!named_) return;
  }
  owner_->claim();
}

VeltoCameraApp::~VeltoCameraApp() {
  // The views go before the objects they show.
  panel_.reset();
  window_.reset();
  capture_.reset();
  owner_.reset();
  if (named_) options_.bus.interface()->unregisterService(QString::fromLatin1(kAppBusName));
  if (exported_) options_.bus.unregisterObject(QString::fromLatin1(kAppBusPath));
}

bool VeltoCameraApp::isOwner() const { return owner_->store() != nullptr && (named_ || !options_.bus.isConnected()); }

CameraStore* VeltoCameraApp::store() const { return owner_ ? owner_->store() : nullptr; }

Calibrator& VeltoCameraApp::calibrator() {
  if (!calibrator_) calibrator_ = std::make_unique<Calibrator>(clock_);
  return *calibrator_;
}

SoftwareUpdate& VeltoCameraApp::updates() {
  if (!updates_) updates_ = std::make_unique<SoftwareUpdate>(clock_, defaults_, SoftwareUpdate::Options{});
  return *updates_;
}

bool VeltoCameraApp::eventFilter(QObject* watched, QEvent* event) {
  // The tray's drawing is painted in the palette's text colour: a new palette, a new picture.
  if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange) showDeviceInTray();
  return QObject::eventFilter(watched, event);
}

void VeltoCameraApp::start() {
  if (options_.trayAvailable) {
    buildTray();
    qApp->installEventFilter(this);
  }
  // Without a tray the window is the only way in, and closing it is the way out.
  QApplication::setQuitOnLastWindowClosed(!hasTray());
  // Background checks run from the start, while the user is elsewhere: made on the panel's first
  // opening instead, the updater's first check would always find the panel in front and show its
  // window over it rather than the panel's notice.
  if (BundleInfo::current().updatesEnabled) updates();
  const CameraStore* s = store();
  const bool wanted = !hasTray() || (!options_.hidden && s != nullptr && s->openWindowAtLaunch());
  if (wanted) showWindow();
}

bool VeltoCameraApp::finish() {
  if (panel_) panel_->hide();
  if (window_) window_->hide();
  CameraStore* s = store();
  if (s == nullptr || s->saveNow()) return true;
  log::warning(log::Layer::app, "the settings were not saved: " + s->lastErrorText().toStdString());
  return false;
}

void VeltoCameraApp::Activate(const QVariantMap& platformData) {
  takeActivationToken(platformData);
  showWindow();
}

void VeltoCameraApp::Open(const QStringList&, const QVariantMap& platformData) {
  // There is nothing to open but the window.
  Activate(platformData);
}

void VeltoCameraApp::ActivateAction(const QString& action, const QVariantList&, const QVariantMap& platformData) {
  takeActivationToken(platformData);
  if (action == QLatin1String("open")) {
    showWindow();
  } else if (action == QLatin1String("panel")) {
    if (!panel_ || !panel_->isVisible()) togglePanel();
  } else if (action == QLatin1String("quit")) {
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  } else if (calledFromDBus()) {
    sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("no action '%1' (open, panel, quit)").arg(action));
  }
}

void VeltoCameraApp::takeActivationToken(const QVariantMap& platformData) {
  // Wayland's xdg-activation: Qt's Wayland plugin activates the next window it is asked to with
  // the token in XDG_ACTIVATION_TOKEN, and uses it up. Without it a compositor may only mark the
  // window as wanting attention instead of raising it. On X11 the window is raised by the window
  // manager's own rules.
  const QString token = platformData.value(QStringLiteral("activation-token")).toString();
  const QString startupId = platformData.value(QStringLiteral("desktop-startup-id")).toString();
  if (!token.isEmpty()) {
    qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
  } else if (!startupId.isEmpty() && QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    qputenv("XDG_ACTIVATION_TOKEN", startupId.toUtf8());
  }
  log::info(log::Layer::app, std::string("activated") + (token.isEmpty() && startupId.isEmpty() ? "" : " with a token"));
}

void VeltoCameraApp::showWindow() {
  CameraStore* s = store();
  if (s == nullptr) return;
  if (!window_) {
    window_ = std::make_unique<views::MainWindow>(*s, *preview_, calibrator(), defaults_);
    window_->addMenuActions(commands().windowMenu());
    // Closing with the keyboard, as with the title bar's button: the application stays in the tray.
    auto* close = new QAction(tr("Close Window"), window_.get());
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, window_.get(), &QWidget::close);
    window_->addAction(close);
    // Closed to the tray, the window goes, as the panel does: hidden it would keep its widgets,
    // its backing store and its picture for a window that may stay closed for days. Its size and
    // place, overlays and tool are in the settings and come back with the next one. Queued: it is
    // still inside its own event handling when it hides, and an opening before the event loop runs
    // keeps it.
    connect(
        window_.get(), &views::MainWindow::closed, this,
        [this] {
          if (window_ && !window_->isVisible()) window_.reset();
        },
        Qt::QueuedConnection);
  }
  if (panel_) panel_->hide();
  if (window_->isMinimized()) window_->showNormal();
  window_->show();
  window_->raise();
  window_->activateWindow();
  // A token is good for one activation: the one it came with, now asked for. Programs started
  // from here later (a file manager opening a snapshot's folder) do not inherit a spent one.
  qunsetenv("XDG_ACTIVATION_TOKEN");
  qunsetenv("DESKTOP_STARTUP_ID");
}

void VeltoCameraApp::togglePanel() {
  CameraStore* s = store();
  if (s == nullptr) return;
  if (panel_ && panel_->isVisible()) {
    panel_->hide();
    return;
  }
  if (!panel_) {
    panel_ = std::make_unique<MenuBarView>(*s, *preview_, updates(), defaults_);
    // A click on the icon while the panel is open only closes it; replayed, it would open it again.
    panel_->setAttribute(Qt::WA_NoMouseReplay);
    connect(panel_.get(), &MenuBarView::openWindowRequested, this, &VeltoCameraApp::showWindow);
    connect(panel_.get(), &MenuBarView::checkForUpdatesRequested, this, &VeltoCameraApp::checkForUpdates);
    connect(panel_.get(), &MenuBarView::quitRequested, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    // Closed, the panel goes: kept hidden it would hold its last picture (a full frame), its
    // backing store and its widgets for the rest of the run, for a panel opened now and then.
    // Queued: it is still inside its own event handling when it hides.
    connect(
        panel_.get(), &MenuBarView::dismissed, this,
        [this] {
          if (panel_ && !panel_->isVisible()) panel_.reset();
        },
        Qt::QueuedConnection);
  }
  // StatusNotifier hosts do not tell where the icon is: geometry() is empty there.
  const QRect icon = tray_ ? tray_->geometry() : QRect();
  panel_->popUp(icon.isEmpty() ? std::nullopt : std::optional(icon));
}

void VeltoCameraApp::checkForUpdates() {
  SoftwareUpdate& updater = updates();
  if (updater.isEnabled()) updater.checkForUpdates();
}

void VeltoCameraApp::showAbout() {
  QMessageBox::about(window_ && window_->isVisible() ? window_.get() : nullptr, tr("About Velto Camera"),
                     QStringLiteral("<b>%1 %2</b><p>%3</p>")
                         .arg(kTitle, QStringLiteral(PROJECT_VERSION),
                              tr("Settings for USB webcams and the Anker PowerConf C200, kept in the camera itself.")
                                  .toHtmlEscaped()));
}

void VeltoCameraApp::ownershipChanged(bool owner) {
  if (!owner) {
    // The views show a store that is going away; they come back with the next one.
    panel_.reset();
    window_.reset();
    showDeviceInTray();
    return;
  }
  connect(store(), &CameraStore::deviceChanged, this, &VeltoCameraApp::showDeviceInTray);
  showDeviceInTray();
}

void VeltoCameraApp::showDeviceInTray() {
  if (!tray_) return;
  const CameraStore* s = store();
  const bool active = s != nullptr && s->device().has_value();
  tray_->setIcon(MenuBarIcon::trayIcon(active, QApplication::palette()));
  // Tells tests and assistive tools which drawing shows.
  tray_->setProperty("active", active);
}

AppCommands::AppCommands(bool updates, QObject* parent)
    : open(new QAction(VeltoCameraApp::tr("Open Velto Camera"), parent)),
      about(new QAction(VeltoCameraApp::tr("About Velto Camera"), parent)),
      quit(new QAction(VeltoCameraApp::tr("Quit"), parent)) {
  about->setMenuRole(QAction::AboutRole);
  if (updates) update = new QAction(VeltoCameraApp::tr("Check for Updates…"), parent);
  quit->setShortcut(QKeySequence::Quit);
  quit->setMenuRole(QAction::QuitRole);
}

QList<QAction*> AppCommands::windowMenu() const {
  QList<QAction*> actions{about};
  if (update) actions.append(update);
  actions.append(quit);
  return actions;
}

void AppCommands::fillTrayMenu(QMenu& menu) const {
  menu.addAction(open);
  if (update) menu.addAction(update);
  menu.addSeparator();
  menu.addAction(quit);
}

AppCommands& VeltoCameraApp::commands() {
  if (!commands_) {
    // The updater is made only when it is used; whether it runs is known without it.
    commands_ = std::make_unique<AppCommands>(BundleInfo::current().updatesEnabled, this);
    connect(commands_->open, &QAction::triggered, this, &VeltoCameraApp::showWindow);
    connect(commands_->about, &QAction::triggered, this, &VeltoCameraApp::showAbout);
    if (commands_->update) connect(commands_->update, &QAction::triggered, this, &VeltoCameraApp::checkForUpdates);
    connect(commands_->quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  }
  return *commands_;
}

void VeltoCameraApp::buildTray() {
  tray_ = new QSystemTrayIcon(this);
  tray_->setToolTip(kTitle);
  trayMenu_ = std::make_unique<QMenu>();
  commands().fillTrayMenu(*trayMenu_);
  tray_->setContextMenu(trayMenu_.get());
  connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger) togglePanel();
  });
  showDeviceInTray();
  tray_->show();
}

bool activateRunningInstance(const QDBusConnection& bus) {
  if (!bus.isConnected() || bus.interface() == nullptr) return false;
  if (!bus.interface()->isServiceRegistered(QString::fromLatin1(kAppBusName)).value()) return false;
  QDBusMessage call =
      QDBusMessage::createMethodCall(QString::fromLatin1(kAppBusName), QString::fromLatin1(kAppBusPath),
                                     QStringLiteral("org.freedesktop.Application"), QStringLiteral("Activate"));
  // The name was there a moment ago; if it has gone, this start becomes the application instead
  // of the bus starting another one.
  call.setAutoStartService(false);
  QVariantMap platformData;
  for (const auto& [variable, key] : {std::pair{"XDG_ACTIVATION_TOKEN", "activation-token"},
                                      std::pair{"DESKTOP_STARTUP_ID", "desktop-startup-id"}}) {
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty()) platformData.insert(QString::fromLatin1(key), value);
  }
  call.setArguments({platformData});
  const QDBusMessage reply = bus.call(call, QDBus::Block, kActivateTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace velto::app
