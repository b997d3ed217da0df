// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The optional software updater: reads an appcast over HTTP, tells the user about newer releases
// and opens their download page in the browser. It never replaces the installed program.
//
// Whether it runs at all is decided by the bundle information, an installed key file
// (<prefix>/share/velto-camera/bundle.conf): updates are on only when `VeltoUpdatesEnabled` is
// exactly "YES"; `VeltoFeedURL` names the feed. Packages built for distributions leave it off.
//
// A release is offered when it is newer than this build (appcast.h: display version against
// PROJECT_VERSION, build number against VELTO_BUILD_NUMBER) and belongs to no channel, or to one
// listed in the user defaults under `updates.channels` (comma-separated, e.g. "beta"; there is no
// control for it in the window). Its notes are taken in the user's language where the feed has
// them.
//
// Checks: in the background at start (when the last check, kept in the user defaults, is a day
// old or more) and every 24 hours on the injected clock; by the user through checkForUpdates().
// A newer release found in the background while the application is not active becomes
// `pendingVersion` (the panel shows it); while it is active its window is shown at once. A user
// check always ends in a window (the update, "You're up to date" or the reason it failed) and
// never sets `pendingVersion`. A failed background check is one log line and nothing else.
//
// Main thread only.
#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "app/appcast.h"
#include "support/clock.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace velto {

class UserDefaults;

// What the bundle information says.
struct BundleInfo {
  bool updatesEnabled = false;
  QUrl feedUrl;

  // Reads the key file at `path`; a missing or unreadable file means updates are off.
  static BundleInfo read(const QString& path);
  // $VELTO_BUNDLE_INFO when set, else ../share/velto-camera/bundle.conf beside the executable.
  static QString defaultPath();
  // The bundle information of this run, read once on first use.
  static const BundleInfo& current();
};

// The part of the updater the user sees. The application uses dialogs (update_dialog.h); tests
// replace it and answer for the user.
class UpdatePresenter {
 public:
  enum class Choice { download, skip, remindLater };

  virtual ~UpdatePresenter() = default;
  // A user check is running; `cancel` stops it without any further window.
  virtual void showChecking(std::function<void()> cancel) = 0;
  // Offers `item` in place of `currentVersion`. `decided` runs once, when the user chooses;
  // closing the window counts as "Remind Me Later".
  virtual void showUpdate(const AppcastItem& item, const QString& currentVersion,
                          std::function<void(Choice)> decided) = 0;
  virtual void showUpToDate(const QString& currentVersion) = 0;
  // A user check failed; `reason` is a sentence.
  virtual void showError(const QString& reason) = 0;
  // Opens a download or release-notes page in the user's browser.
  virtual void openUrl(const QUrl& url) = 0;
};

class SoftwareUpdate : public QObject {
  Q_OBJECT

 public:
  struct Options {
    BundleInfo bundle = BundleInfo::current();
    // The running build's version; empty means QCoreApplication::applicationVersion().
    QString currentVersion;
    // The running build's number; empty means the one it was built with (VELTO_BUILD_NUMBER).
    QString currentBuild;
    // The user's language for the release notes ("de_DE"); empty means the system's first.
    QString language;
    // Whether the application is in front; empty means "a window of ours is active".
    std::function<bool()> isApplicationActive;
    // Empty means the dialogs of update_dialog.h.
    std::unique_ptr<UpdatePresenter> presenter;
    Clock::Duration checkInterval = std::chrono::hours(24);
    // A feed that has not answered by then counts as failed.
    Clock::Duration timeout = std::chrono::seconds(30);
  };

  // When updates are enabled, schedules the first background check (from the event loop, or
  // when a day has passed since the last one). `clock` and `defaults` must outlive the updater.
  SoftwareUpdate(Clock& clock, UserDefaults& defaults, Options options, QObject* parent = nullptr);
  ~SoftwareUpdate() override;

  bool isEnabled() const { return options_.bundle.updatesEnabled; }
  // Display version of a release found by a background check and not yet shown; none otherwise.
  const std::optional<QString>& pendingVersion() const { return pendingVersion_; }
  bool isChecking() const { return reply_ != nullptr; }

  // A user check: shows the pending release at once when there is one, else fetches the feed
  // (a "checking" window meanwhile) and shows the outcome. Clears `pendingVersion`. Does nothing
  // when updates are disabled. Never blocks.
  void checkForUpdates();

  // The user-defaults keys: when the last check finished (ISO 8601, UTC); the display version
  // and the build number of the release the user chose to skip; the channels they chose.
  static const QString lastCheckKey;
  static const QString skippedVersionKey;
  static const QString skippedBuildKey;
  static const QString channelsKey;

 signals:
  void pendingVersionChanged();
  // A check has finished, whatever its outcome (for tests and diagnostics).
  void checkFinished();

 private:
  void startCheck(bool userInitiated);
  void onReplyFinished();
  void finishCheck(const std::optional<Appcast>& appcast, const QString& failure);
  void offer(const AppcastItem& item);
  InstalledRelease installed() const;
  void setPendingVersion(std::optional<QString> version);
  void scheduleBackgroundCheck();
  bool applicationActive() const;

  Clock& clock_;
  UserDefaults& defaults_;
  Options options_;
  std::unique_ptr<QNetworkAccessManager> network_;
  QNetworkReply* reply_ = nullptr;  // the running check, owned by network_
  bool userInitiated_ = false;
  // Why the running check was aborted, if it was.
  enum class Abort { none, timedOut, cancelled, tooLarge } abort_ = Abort::none;
  std::optional<AppcastItem> pendingItem_;
  std::optional<QString> pendingVersion_;
  TimerHandle backgroundTimer_;
  TimerHandle timeoutTimer_;
};

}  // namespace velto
