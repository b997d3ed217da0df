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
// Single instance: the owner exports Activate at kAppBusPath (interface kAppBusInterface) under
// the session owner's bus name; a second start calls it and leaves (activateRunningInstance).
//
// Main thread.
#pragma once

#include <QDBusConnection>
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

inline constexpr char kAppBusPath[] = "/app/velto/Application";
inline constexpr char kAppBusInterface[] = "app.velto.Application1";

class VeltoCameraApp : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "app.velto.Application1")

 public:
  struct Options {
    bool hidden = false;         // no window at launch (the autostart entry), unless there is no tray
    bool trayAvailable = false;  // QSystemTrayIcon::isSystemTrayAvailable() at launch
    QDBusConnection bus = QDBusConnection(QString());  // the session bus; disconnected without one
  };

  // Exports Activate, then claims the session (replacing `velto-ctl watch`). Shows nothing yet.
  explicit VeltoCameraApp(Options options, QObject* parent = nullptr);
  ~VeltoCameraApp() override;

  // False when another program keeps the session (another instance): this one should leave.
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
  views::MainWindow* window() const { return window_.get(); }
  MenuBarView* panel() const { return panel_.get(); }

  // Shows the main window, raised and active; made on first use.
  void showWindow();
  // Opens the panel beside the tray icon (at the pointer when the icon's place is unknown), or
  // closes it when it is open.
  void togglePanel();
  void checkForUpdates();
  void showAbout();

 public slots:
  // From a second start of the application: the window to the front.
  Q_SCRIPTABLE void Activate();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ownershipChanged(bool owner);
  void showDeviceInTray();
  void buildTray();
  // Made and connected on first use.
  AppCommands& commands();

  Options options_;
  bool exported_ = false;
  SystemClock clock_;
  UserDefaults defaults_;
  LoginItem login_;
  // Declared in order of need: the owner's store uses the preview and the calibrator (the capture
  // service), the views use all of them.
  std::unique_ptr<PreviewController> preview_;
  std::unique_ptr<Calibrator> calibrator_;
  std::unique_ptr<SoftwareUpdate> updates_;
  std::unique_ptr<SessionOwner> owner_;
  std::unique_ptr<views::MainWindow> window_;
  std::unique_ptr<MenuBarView> panel_;
  std::unique_ptr<QMenu> trayMenu_;
  QSystemTrayIcon* tray_ = nullptr;  // child of this
  std::unique_ptr<AppCommands> commands_;
};

// Asks the application running in this session on `bus` to show its window. True when it did;
// false without one (no owner, or `velto-ctl watch` owning the session). Blocks for the answer.
bool activateRunningInstance(const QDBusConnection& bus);

}  // namespace velto::app
