// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/software_update.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHostAddress>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QThread>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <utility>

#include "app/update_dialog.h"
#include "platform/session/user_defaults.h"
#include "support/log_categories.h"

namespace velto {
namespace {

// A feed is a few kilobytes; anything far larger is not our feed.
constexpr qint64 kMaxFeedBytes = 4 * 1024 * 1024;

// Wall times are saved as ISO 8601 text in UTC, to the millisecond.
QByteArray wallText(Clock::WallTime t) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs).toUtf8();
}

std::optional<Clock::WallTime> wallTime(const QByteArray& text) {
  const QDateTime t = QDateTime::fromString(QString::fromUtf8(text), Qt::ISODateWithMs);
  if (!t.isValid()) return std::nullopt;
  return Clock::WallTime(std::chrono::milliseconds(t.toMSecsSinceEpoch()));
}

QString seconds(Clock::Duration d) {
  return QString::number(std::chrono::duration_cast<std::chrono::seconds>(d).count());
}

// A network failure in words a user can act on.
QString failureText(const QNetworkReply& reply) {
  switch (reply.error()) {
    case QNetworkReply::ConnectionRefusedError:
      return QObject::tr("The update server refused the connection.");
    case QNetworkReply::HostNotFoundError:
      return QObject::tr("The update server could not be found. Check that this computer is online.");
    case QNetworkReply::RemoteHostClosedError:
      return QObject::tr("The update server closed the connection.");
    case QNetworkReply::SslHandshakeFailedError:
      return QObject::tr("A secure connection to the update server could not be made.");
    default:
      break;
  }
  const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (status >= 400) {
    return QObject::tr("The update server answered “%1 %2”.")
        .arg(status)
        .arg(reply.attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
  }
  return reply.errorString();
}

}  // namespace

const QString SoftwareUpdate::lastCheckKey = QStringLiteral("updates.lastCheck");
const QString SoftwareUpdate::skippedVersionKey = QStringLiteral("updates.skippedVersion");
const QString SoftwareUpdate::skippedBuildKey = QStringLiteral("updates.skippedBuild");
const QString SoftwareUpdate::channelsKey = QStringLiteral("updates.channels");

BundleInfo BundleInfo::read(const QString& path) {
  BundleInfo info;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return info;
  bool flag = false;
  // A key file of "Key=Value" lines; comments and group headers are ignored, the last value wins.
  for (const QByteArray& raw : file.read(64 * 1024).split('\n')) {
    const QString line = QString::fromUtf8(raw).trimmed();
    const qsizetype eq = line.indexOf(u'=');
    if (line.startsWith(u'#') || line.startsWith(u';') || line.startsWith(u'[') || eq <= 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = line.mid(eq + 1).trimmed();
    if (key == QLatin1String("VeltoUpdatesEnabled")) flag = value == QLatin1String("YES");
    else if (key == QLatin1String("VeltoFeedURL")) info.feedUrl = QUrl(value, QUrl::StrictMode);
  }
  // Over https only: a feed read in the clear could be changed on its way to offer anything. Plain
  // http is taken only from this machine itself (a feed served for tests and demos).
  const QString host = info.feedUrl.host();
  const bool loopback = host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
  const bool webFeed = info.feedUrl.isValid() && !host.isEmpty() &&
                       (info.feedUrl.scheme() == QLatin1String("https") ||
                        (info.feedUrl.scheme() == QLatin1String("http") && loopback));
  if (flag && !webFeed) {
    qCWarning(lcApp) << path << "switches updates on but names no https feed in VeltoFeedURL; updates stay off";
  }
  info.updatesEnabled = flag && webFeed;
  return info;
}

QString BundleInfo::defaultPath() {
  const QString fromEnvironment = qEnvironmentVariable("VELTO_BUNDLE_INFO");
  if (!fromEnvironment.isEmpty()) return fromEnvironment;
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/velto-camera/bundle.conf"));
}

const BundleInfo& BundleInfo::current() {
  static const BundleInfo info = [] {
    const QString path = defaultPath();
    BundleInfo read = BundleInfo::read(path);
    qCInfo(lcApp).noquote() << "software updates" << (read.updatesEnabled ? "on, feed" : "off")
                            << (read.updatesEnabled ? read.feedUrl.toString() : QStringLiteral("(%1)").arg(path));
    return read;
  }();
  return info;
}

SoftwareUpdate::SoftwareUpdate(Clock& clock, UserDefaults& defaults, Options options, QObject* parent)
    : QObject(parent), clock_(clock), defaults_(defaults), options_(std::move(options)) {
  if (options_.currentVersion.isEmpty()) options_.currentVersion = QCoreApplication::applicationVersion();
  if (options_.currentBuild.isEmpty()) options_.currentBuild = QStringLiteral(VELTO_BUILD_NUMBER);
  if (options_.language.isEmpty()) options_.language = QLocale::system().uiLanguages().value(0, QStringLiteral("en"));
  if (!options_.presenter) options_.presenter = std::make_unique<DialogPresenter>();
  if (!isEnabled()) return;
  network_ = std::make_unique<QNetworkAccessManager>();
  scheduleBackgroundCheck();
}

SoftwareUpdate::~SoftwareUpdate() {
  if (reply_ != nullptr) {
    reply_->disconnect(this);
    reply_->abort();
  }
}

void SoftwareUpdate::checkForUpdates() {
  Q_ASSERT(QThread::currentThread() == thread());
  if (!isEnabled()) return;
  if (pendingItem_) {
    // The release a background check found is shown as it is; no need to ask the server again.
    const AppcastItem item = *std::exchange(pendingItem_, std::nullopt);
    offer(item);
    return;
  }
  startCheck(true);
}

void SoftwareUpdate::startCheck(bool userInitiated) {
  const auto cancel = [this] {
    if (reply_ == nullptr) return;
    abort_ = Abort::cancelled;
    reply_->abort();
  };
  if (reply_ != nullptr) {
    // A background check already under way becomes the user's.
    if (userInitiated && !userInitiated_) {
      userInitiated_ = true;
      options_.presenter->showChecking(cancel);
    }
    return;
  }
  userInitiated_ = userInitiated;
  abort_ = Abort::none;
  QNetworkRequest request(options_.bundle.feedUrl);
  request.setHeader(QNetworkRequest::UserAgentHeader,
                    QStringLiteral("Velto Camera/%1").arg(options_.currentVersion));
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  reply_ = network_->get(request);
  connect(reply_, &QNetworkReply::readyRead, this, [this] {
    if (reply_ != nullptr && reply_->bytesAvailable() > kMaxFeedBytes) {
      abort_ = Abort::tooLarge;
      reply_->abort();
    }
  });
  connect(reply_, &QNetworkReply::finished, this, &SoftwareUpdate::onReplyFinished);
  timeoutTimer_ = clock_.singleShot(this, options_.timeout, [this] {
    if (reply_ == nullptr) return;
    abort_ = Abort::timedOut;
    reply_->abort();
  });
  if (userInitiated) options_.presenter->showChecking(cancel);
}

void SoftwareUpdate::onReplyFinished() {
  QNetworkReply* reply = std::exchange(reply_, nullptr);
  if (reply == nullptr) return;
  reply->deleteLater();
  timeoutTimer_.cancel();
  switch (std::exchange(abort_, Abort::none)) {
    case Abort::cancelled:
      qCInfo(lcApp) << "the update check was cancelled";
      userInitiated_ = false;
      emit checkFinished();
      return;
    case Abort::timedOut:
      return finishCheck(std::nullopt, tr("The update server did not answer within %1 seconds.").arg(seconds(options_.timeout)));
    case Abort::tooLarge:
      return finishCheck(std::nullopt, tr("The update server sent far more than an update feed."));
    case Abort::none:
      break;
  }
  if (reply->error() != QNetworkReply::NoError) return finishCheck(std::nullopt, failureText(*reply));
  const AppcastResult parsed = parseAppcast(reply->readAll(), options_.language);
  if (!parsed.appcast) {
    return finishCheck(std::nullopt, tr("The update feed could not be read (%1).").arg(parsed.error));
  }
  finishCheck(parsed.appcast, {});
}

void SoftwareUpdate::finishCheck(const std::optional<Appcast>& appcast, const QString& failure) {
  const bool user = std::exchange(userInitiated_, false);
  defaults_.setData(lastCheckKey, wallText(clock_.wallNow()));
  scheduleBackgroundCheck();
  if (!appcast) {
    qCWarning(lcApp).noquote() << (user ? "update check failed:" : "background update check failed:") << failure
                               << "(" + options_.bundle.feedUrl.toString() + ")";
    if (user) options_.presenter->showError(failure);
    emit checkFinished();
    return;
  }
  const std::optional<AppcastItem> newest = appcast->newestFor(installed());
  const auto skipped = [this] {
    AppcastItem item;
    item.shortVersion = QString::fromUtf8(defaults_.data(skippedVersionKey).value_or(QByteArray()));
    item.version = QString::fromUtf8(defaults_.data(skippedBuildKey).value_or(QByteArray()));
    return item;
  };
  if (user) {
    if (newest) offer(*newest);
    else options_.presenter->showUpToDate(options_.currentVersion);
  } else if (!newest) {
    qCInfo(lcApp) << "no update newer than" << options_.currentVersion << "build" << options_.currentBuild;
    pendingItem_.reset();
    setPendingVersion(std::nullopt);
  } else if (defaults_.data(skippedVersionKey) && compareReleases(*newest, skipped()) <= 0) {
    qCInfo(lcApp) << "update" << newest->displayVersion << "was skipped by the user";
  } else if (applicationActive()) {
    offer(*newest);
  } else {
    // Not in front: remind gently through the panel instead of a window out of nowhere.
    pendingItem_ = newest;
    setPendingVersion(newest->displayVersion);
  }
  emit checkFinished();
}

void SoftwareUpdate::offer(const AppcastItem& item) {
  pendingItem_.reset();
  setPendingVersion(std::nullopt);  // the user is looking at it now
  options_.presenter->showUpdate(item, options_.currentVersion, [this, item](UpdatePresenter::Choice choice) {
    setPendingVersion(std::nullopt);
    switch (choice) {
      case UpdatePresenter::Choice::download:
        options_.presenter->openUrl(item.downloadLink);
        break;
      case UpdatePresenter::Choice::skip:
        defaults_.setData(skippedVersionKey, item.shortVersion.toUtf8());
        defaults_.setData(skippedBuildKey, item.version.toUtf8());
        break;
      case UpdatePresenter::Choice::remindLater:
        break;
    }
  });
}

InstalledRelease SoftwareUpdate::installed() const {
  InstalledRelease release{options_.currentVersion, options_.currentBuild, {}};
  // Read at each check, so that a channel chosen meanwhile counts from the next one on.
  const QString channels = QString::fromUtf8(defaults_.data(channelsKey).value_or(QByteArray()));
  for (const QString& channel : channels.split(u',', Qt::SkipEmptyParts)) {
    if (!channel.trimmed().isEmpty()) release.channels << channel.trimmed();
  }
  return release;
}

void SoftwareUpdate::setPendingVersion(std::optional<QString> version) {
  if (pendingVersion_ == version) return;
  pendingVersion_ = std::move(version);
  emit pendingVersionChanged();
}

void SoftwareUpdate::scheduleBackgroundCheck() {
  Clock::Duration delay = Clock::Duration::zero();
  if (const auto saved = defaults_.data(lastCheckKey)) {
    if (const auto last = wallTime(*saved)) {
      const auto elapsed = clock_.wallNow() - *last;
      // A last check "in the future" means the date was set back: check now.
      if (elapsed >= Clock::Duration::zero() && elapsed < options_.checkInterval) delay = options_.checkInterval - elapsed;
    }
  }
  backgroundTimer_ = clock_.singleShot(this, delay, [this] { startCheck(false); });
}

bool SoftwareUpdate::applicationActive() const {
  if (options_.isApplicationActive) return options_.isApplicationActive();
  return QGuiApplication::applicationState() == Qt::ApplicationActive;
}

}  // namespace velto
