// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The desktop application: the session's owner with its one camera store, the preview for the
// whole run, the calibrator and the updater made when first needed, the main window, and the
// tray icon whose click opens the panel.
//
// With a tray (a StatusNotifierItem watcher or an XEmbed tray) the application lives there: the
// window opens at launch only when the store's `openWindowAtLaunch` is on (and not with
// `hidden`), and closing it leaves the icon. Without any tray the window always opens and closing
// it quits.
//
// On the session bus the application is its desktop file ID, kAppBusName, and implements
// org.freedesktop.Application at kAppBusPath (org.freedesktop.Application.xml beside this file):
// the desktop starts and raises it over the bus (the desktop entry is DBusActivatable), and a
// second start hands its activation token to the first and leaves (activateRunningInstance).
// Every object is exported before any name is asked for.
//
// Main thread.
#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QPointer>
#include <memory>

#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "support/system_clock.h"

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace velto {
class Calibrator;
class CameraStore;
class CaptureBusService;
class PreviewController;
class SessionOwner;
class SoftwareUpdate;
}  // namespace velto::app
namespace velto::views {
class MainWindow;
}

namespace velto::app {

class MenuBarView;

// The application's commands as its menus show them: "Open Velto Camera", "About Velto Camera",
// "Check for Updates…" (only when updates are on) and "Quit" with the desktop's Quit shortcut.
// The application connects them.
struct AppCommands {
  AppCommands(bool updates, QObject* parent);
  // The window's menu: About, Check for Updates…, Quit.
  QList<QAction*> windowMenu() const;
  // The tray's menu: Open, Check for Updates…, a separator, Quit.
  void fillTrayMenu(QMenu& menu) const;

  QAction* open;
  QAction* about;
  QAction* update = nullptr;
  QAction* quit;
};

inline constexpr char kAppBusName[] = "app.velto.Camera";
inline constexpr char kAppBusPath[] = "/app/velto/Camera";

class VeltoCameraApp : public QObject, protected QDBusContext {
  Q_OBJECT

 public:
  struct Options {
    bool hidden = false;         // no window at launch (the autostart entry), unless there is no tray
    bool trayAvailable = false;  // QSystemTrayIcon::isSystemTrayAvailable() at launch
    QDBusConnection bus = QDBusConnection(QString());  // the session bus; disconnected without one
  };

  // Exports its objects, takes kAppBusName, then claims the session (replacing `velto-ctl watch`).
  // Shows nothing yet.
  explicit VeltoCameraApp(Options options, QObject* parent = nullptr);
  ~VeltoCameraApp() override;

  // False when another instance runs (it has kAppBusName, or keeps the session): this one should
  // leave.
  bool isOwner() const;
  // Shows the tray icon and, per the rules above, the window.
  void start();
  // Saves the settings; false (logged) when they could not be written.
  bool finish();

  // While this process owns the session; null otherwise.
  CameraStore* store() const;
  PreviewController& preview() { return *preview_; }
  Calibrator& calibrator();
  SoftwareUpdate& updates();
  bool hasTray() const { return tray_ != nullptr; }
  QSystemTrayIcon* tray() const { return tray_; }
  // The window while it is open; made on each opening and let go soon after it closes.
  views::MainWindow* window() const { return window_.get(); }
  // The panel while it is open; made on each opening and let go soon after it closes.
  MenuBarView* panel() const { return panel_.get(); }

  // Shows the main window, raised and active; made when none is open.
  void showWindow();
  // Opens the panel beside the tray icon (at the pointer when the icon's place is unknown), or
  // closes it when it is open.
  void togglePanel();
  void checkForUpdates();
  void showAbout();

 public slots:
  // org.freedesktop.Application, called by the adaptor. Activate and Open show the window, using
  // the launch's activation token when `platformData` has one; the actions are "open", "panel"
  // and "quit".
  void Activate(const QVariantMap& platformData);
  void Open(const QStringList& uris, const QVariantMap& platformData);
  void ActivateAction(const QString& action, const QVariantList& parameter, const QVariantMap& platformData);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ownershipChanged(bool owner);
  // Lets the next window activation use the launch's token (Wayland) or startup id (X11).
  void takeActivationToken(const QVariantMap& platformData);
  void showDeviceInTray();
  void buildTray();
  // Made and connected on first use.
  AppCommands& commands();

  Options options_;
  bool exported_ = false;
  bool named_ = false;  // holds kAppBusName
  SystemClock clock_;
  UserDefaults defaults_;
  LoginItem login_;
  // Declared in order of need: the owner's store uses the preview and the calibrator (the capture
  // service), the views use all of them.
  std::unique_ptr<PreviewController> preview_;
  std::unique_ptr<Calibrator> calibrator_;
  std::unique_ptr<SoftwareUpdate> updates_;
  std::unique_ptr<SessionOwner> owner_;
  std::unique_ptr<CaptureBusService> capture_;
  std::unique_ptr<views::MainWindow> window_;
  std::unique_ptr<MenuBarView> panel_;
  std::unique_ptr<QMenu> trayMenu_;
  QSystemTrayIcon* tray_ = nullptr;  // child of this
  std::unique_ptr<AppCommands> commands_;
};

// Asks the application running in this session on `bus` to show its window, passing this launch's
// activation token (XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID). True when it did; false without
// one. Never starts one over the bus. Blocks for the answer.
bool activateRunningInstance(const QDBusConnection& bus);

}  // namespace velto::app
