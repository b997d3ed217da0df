// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "app/software_update.h"

#include <QPushButton>
#include <QDesktopServices>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "app/update_dialog.h"
#include "link_catcher.h"
#include "platform/session/user_defaults.h"
#include "support/manual_clock.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using Choice = UpdatePresenter::Choice;

// A local HTTP server with one canned answer, or none at all when `silent`.
class FeedServer {
 public:
  FeedServer() {
    server_.listen(QHostAddress::LocalHost);
    QObject::connect(&server_, &QTcpServer::newConnection, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          request_ += socket->readAll();
          if (!request_.contains("\r\n\r\n") || silent) return;
          request_.clear();
          socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/rss+xml\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
          socket->disconnectFromHost();
        });
      }
    });
  }
  QUrl url() const { return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server_.serverPort())); }
  static QUrl refusingUrl() {
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    return QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(closed.serverPort()));
  }

  QByteArray status = "200 OK";
  QByteArray body;
  bool silent = false;

 private:
  QTcpServer server_;
  QByteArray request_;
};

QByteArray feed(const QString& version, const QString& display) {
  return QStringLiteral(R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>
<item><sparkle:version>%1</sparkle:version><sparkle:shortVersionString>%2</sparkle:shortVersionString>
<link>https://example.org/get/%1</link></item></channel></rss>)")
      .arg(version, display)
      .toUtf8();
}

// Records what the user would see, and answers for them.
struct Presenter : UpdatePresenter {
  void showChecking(std::function<void()> c) override { shown << "checking", cancel = std::move(c); }
  void showUpdate(const AppcastItem& item, const QString& current, std::function<void(Choice)> d) override {
    shown << "update " + item.displayVersion + " over " + current, decided = std::move(d);
  }
  void showUpToDate(const QString& current) override { shown << "up to date " + current; }
  void showError(const QString& reason) override { shown << "error: " + reason; }
  void openUrl(const QUrl& url) override { opened << url; }

  QStringList shown;
  QList<QUrl> opened;
  std::function<void()> cancel;
  std::function<void(Choice)> decided;
};

class SoftwareUpdateTest : public ::testing::Test {
 protected:
  std::unique_ptr<SoftwareUpdate> make(QUrl feedUrl, bool enabled = true) {
    SoftwareUpdate::Options options;
    options.bundle = BundleInfo{enabled, std::move(feedUrl)};
    options.currentVersion = QStringLiteral("1.2");
    options.isApplicationActive = [this] { return active; };
    auto p = std::make_unique<Presenter>();
    presenter = p.get();
    options.presenter = std::move(p);
    auto updater = std::make_unique<SoftwareUpdate>(clock, defaults, std::move(options));
    pendingChanges = std::make_unique<QSignalSpy>(updater.get(), &SoftwareUpdate::pendingVersionChanged);
    return updater;
  }
  // Runs `step` (a clock advance, a user check) and waits for the check it starts to end.
  template <typename Step>
  void finishCheck(SoftwareUpdate& updater, Step step) {
    QSignalSpy finished(&updater, &SoftwareUpdate::checkFinished);
    step();
    EXPECT_TRUE(updater.isChecking() || !finished.isEmpty());
    if (finished.isEmpty()) {
      EXPECT_TRUE(finished.wait(10000));
    }
  }

  QTemporaryDir dir;
  ManualClock clock;
  UserDefaults defaults{dir.filePath(QStringLiteral("velto-camera.conf"))};
  FeedServer server;
  Presenter* presenter = nullptr;
  bool active = false;
  std::unique_ptr<QSignalSpy> pendingChanges;
};

TEST_F(SoftwareUpdateTest, BundleInformationSwitchesUpdatesOnOnlyWithAnExactYes) {
  const auto info = [this](const QByteArray& text) {
    QFile file(dir.filePath(QStringLiteral("bundle.conf")));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
    file.close();
    return BundleInfo::read(file.fileName());
  };
  const QByteArray feedLine = "VeltoFeedURL = https://example.org/appcast.xml\n";
  const BundleInfo on = info("# release build\n[Bundle]\nVeltoUpdatesEnabled=YES\n" + feedLine);
  EXPECT_TRUE(on.updatesEnabled);
  EXPECT_EQ(on.feedUrl, QUrl("https://example.org/appcast.xml"));
  for (const QByteArray& off : {QByteArray("VeltoUpdatesEnabled=yes\n"), QByteArray("VeltoUpdatesEnabled=1\n"),
                                QByteArray("VeltoUpdatesEnabled=true\n"), QByteArray("VeltoUpdatesEnabled=YES!\n"),
                                QByteArray("#VeltoUpdatesEnabled=YES\n"), QByteArray()}) {
    EXPECT_FALSE(info(off + feedLine).updatesEnabled) << off.toStdString();
  }
  EXPECT_FALSE(info("VeltoUpdatesEnabled=YES\n").updatesEnabled);  // nowhere to look
  // A feed read in the clear could be changed on its way: https only, but from this machine itself.
  for (const char* feed : {"file:///tmp/feed.xml", "http://example.org/appcast.xml", "http://10.0.0.1/appcast.xml"}) {
    EXPECT_FALSE(info(QByteArray("VeltoUpdatesEnabled=YES\nVeltoFeedURL=") + feed + "\n").updatesEnabled) << feed;
  }
  for (const char* feed : {"http://127.0.0.1:8080/appcast.xml", "http://localhost/appcast.xml", "http://[::1]/a.xml"}) {
    EXPECT_TRUE(info(QByteArray("VeltoUpdatesEnabled=YES\nVeltoFeedURL=") + feed + "\n").updatesEnabled) << feed;
  }
  EXPECT_FALSE(BundleInfo::read(dir.filePath(QStringLiteral("missing.conf"))).updatesEnabled);

  qputenv("VELTO_BUNDLE_INFO", "/opt/test/bundle.conf");
  EXPECT_EQ(BundleInfo::defaultPath(), "/opt/test/bundle.conf");
  qunsetenv("VELTO_BUNDLE_INFO");
  EXPECT_TRUE(BundleInfo::defaultPath().endsWith("/share/velto-camera/bundle.conf"));
}

TEST_F(SoftwareUpdateTest, DisabledUpdaterNeverTouchesTheNetwork) {
  auto updater = make(server.url(), false);
  clock.advance(48h);
  updater->checkForUpdates();
  EXPECT_FALSE(updater->isEnabled());
  EXPECT_FALSE(updater->isChecking());
  EXPECT_TRUE(presenter->shown.isEmpty());
}

TEST_F(SoftwareUpdateTest, NewerReleaseFoundInTheBackgroundWaitsAsPendingUntilTheUserLooks) {
  server.body = feed("1.3.0", "1.3");
  auto updater = make(server.url());
  finishCheck(*updater, [&] { clock.advance(0s); });
  EXPECT_EQ(updater->pendingVersion(), "1.3");
  EXPECT_EQ(pendingChanges->count(), 1);
  EXPECT_TRUE(presenter->shown.isEmpty());

  server.body = "gone";  // showing the pending release asks the server nothing
  updater->checkForUpdates();
  EXPECT_FALSE(updater->isChecking());
  EXPECT_EQ(presenter->shown, QStringList{"update 1.3 over 1.2"});
  EXPECT_EQ(updater->pendingVersion(), std::nullopt);
  presenter->decided(Choice::download);
  EXPECT_EQ(presenter->opened, QList<QUrl>{QUrl("https://example.org/get/1.3.0")});
}

TEST_F(SoftwareUpdateTest, BackgroundChecksShowANewerReleaseAtOnceWhenActiveAndNothingOtherwise) {
  active = true;
  server.body = feed("1.3", "1.3");
  auto updater = make(server.url());
  finishCheck(*updater, [&] { clock.advance(0s); });
  EXPECT_EQ(presenter->shown, QStringList{"update 1.3 over 1.2"});
  presenter->decided(Choice::remindLater);  // the window closed
  for (const char* version : {"1.2", "1.2-rc1", "1.1"}) {
    server.body = feed(version, version);
    finishCheck(*updater, [&] { clock.advance(24h); });
  }
  EXPECT_EQ(presenter->shown.size(), 1);
  EXPECT_EQ(pendingChanges->count(), 0);
}

TEST_F(SoftwareUpdateTest, UserChecksAlwaysAnswerAndNeverSetPending) {
  auto updater = make(server.url());
  clock.advance(0s);  // the start-up check is running
  server.body = feed("1.10", "1.10");
  finishCheck(*updater, [&] { updater->checkForUpdates(); });  // takes it over
  server.body = feed("1.2.0", "1.2");
  finishCheck(*updater, [&] { updater->checkForUpdates(); });
  EXPECT_EQ(presenter->shown, (QStringList{"checking", "update 1.10 over 1.2", "checking", "up to date 1.2"}));
  EXPECT_EQ(pendingChanges->count(), 0);
}

TEST_F(SoftwareUpdateTest, FailuresAreExplainedToTheUserAndSilentInTheBackground) {
  struct Case {
    const char* name;
    QByteArray status;
    QByteArray body;
    bool refuse;
    const char* reason;
  };
  for (const Case& c : {Case{"malformed", "200 OK", "<rss><channel><item>", false, "could not be read"},
                        Case{"missing", "404 Not Found", "", false, "404"},
                        Case{"server down", "", "", true, "refused the connection"}}) {
    server.status = c.status;
    server.body = c.body;
    defaults.remove(SoftwareUpdate::lastCheckKey);  // a start-up check for each updater
    auto updater = make(c.refuse ? FeedServer::refusingUrl() : server.url());
    finishCheck(*updater, [&] { clock.advance(0s); });
    EXPECT_TRUE(presenter->shown.isEmpty()) << c.name;
    finishCheck(*updater, [&] { updater->checkForUpdates(); });
    ASSERT_EQ(presenter->shown.size(), 2) << c.name;
    EXPECT_TRUE(presenter->shown[1].startsWith("error: ")) << c.name;
    EXPECT_TRUE(presenter->shown[1].contains(c.reason)) << presenter->shown[1].toStdString();
    EXPECT_EQ(updater->pendingVersion(), std::nullopt);
  }
}

TEST_F(SoftwareUpdateTest, AFeedThatNeverAnswersTimesOutOnTheClock) {
  server.silent = true;
  auto updater = make(server.url());
  clock.advance(0s);
  ASSERT_TRUE(updater->isChecking());
  finishCheck(*updater, [&] { clock.advance(30s); });
  EXPECT_TRUE(presenter->shown.isEmpty());  // a background check

  updater->checkForUpdates();
  clock.advance(29s);
  EXPECT_TRUE(updater->isChecking());
  finishCheck(*updater, [&] { clock.advance(1s); });
  EXPECT_EQ(presenter->shown, (QStringList{"checking", "error: The update server did not answer within 30 seconds."}));
}

TEST_F(SoftwareUpdateTest, ASkippedVersionIsNotOfferedByBackgroundChecksButANewerOneIs) {
  server.body = feed("1.3", "1.3");
  auto updater = make(server.url());
  finishCheck(*updater, [&] { updater->checkForUpdates(); });
  presenter->decided(Choice::skip);
  EXPECT_EQ(defaults.data(SoftwareUpdate::skippedVersionKey), "1.3");
  finishCheck(*updater, [&] { clock.advance(24h); });
  EXPECT_EQ(updater->pendingVersion(), std::nullopt);
  server.body = feed("1.4", "1.4");
  finishCheck(*updater, [&] { clock.advance(24h); });
  EXPECT_EQ(updater->pendingVersion(), "1.4");
}

TEST_F(SoftwareUpdateTest, AChannelIsChosenInTheUserDefaults) {
  server.body = R"(<rss xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle"><channel>
<item><sparkle:version>1.5</sparkle:version><sparkle:shortVersionString>1.5 beta</sparkle:shortVersionString>
<sparkle:channel>beta</sparkle:channel><link>https://example.org/get/1.5</link></item></channel></rss>)";
  auto updater = make(server.url());
  finishCheck(*updater, [&] { clock.advance(0s); });
  EXPECT_EQ(updater->pendingVersion(), std::nullopt);
  defaults.setData(SoftwareUpdate::channelsKey, "nightly, beta");
  finishCheck(*updater, [&] { clock.advance(24h); });
  EXPECT_EQ(updater->pendingVersion(), "1.5 beta");
}

TEST_F(SoftwareUpdateTest, BackgroundChecksFollowTheSavedLastCheckTime) {
  const auto msecs = [](Clock::WallTime t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  };
  defaults.setData(SoftwareUpdate::lastCheckKey,
                   QDateTime::fromMSecsSinceEpoch(msecs(clock.wallNow() - 1h), Qt::UTC).toString(Qt::ISODate).toUtf8());
  server.body = feed("1.2", "1.2");
  auto updater = make(server.url());
  clock.advance(23h - 1s);
  EXPECT_FALSE(updater->isChecking());
  finishCheck(*updater, [&] { clock.advance(1s); });
  const auto saved = QDateTime::fromString(QString::fromUtf8(*defaults.data(SoftwareUpdate::lastCheckKey)), Qt::ISODate);
  EXPECT_EQ(saved.toMSecsSinceEpoch(), msecs(clock.wallNow()));
  clock.advance(24h - 1s);
  EXPECT_FALSE(updater->isChecking());
  finishCheck(*updater, [&] { clock.advance(1s); });
}

TEST(UpdateDialogTest, OffersAReleaseAndReportsTheAnswerOnce) {
  UpdateDialog dialog;
  QSignalSpy chosen(&dialog, &UpdateDialog::chosen);
  QSignalSpy cancelled(&dialog, &UpdateDialog::cancelled);
  const auto button = [&](const QString& text) {
    for (auto* b : dialog.findChildren<QPushButton*>()) {
      if (b->text() == text && b->isVisible()) return b;
    }
    return static_cast<QPushButton*>(nullptr);
  };
  AppcastItem item{"Version 1.3", "1.3.0", "1.3", "<p>Steadier <b>preview</b>.</p>", {},
                   QUrl("https://example.org/d"), {}, "1.3", {}};
  dialog.showUpdate(item, "1.2");
  dialog.show();
  ASSERT_NE(button("Download…"), nullptr);
  EXPECT_TRUE(button("Download…")->isDefault());
  QTest::mouseClick(button("Skip This Version"), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  dialog.showUpdate(item, "1.2");
  dialog.show();
  dialog.reject();  // closing the window
  dialog.showChecking();
  dialog.show();
  EXPECT_EQ(button("Remind Me Later"), nullptr);
  dialog.reject();
  dialog.showUpToDate("1.2");
  dialog.show();
  dialog.accept();
  ASSERT_EQ(chosen.count(), 2);
  EXPECT_EQ(chosen[0][0].value<Choice>(), Choice::skip);
  EXPECT_EQ(chosen[1][0].value<Choice>(), Choice::remindLater);
  EXPECT_EQ(cancelled.count(), 1);
}

// A link in the notes goes to the browser only when it is a web page.
TEST(UpdateDialogTest, ReleaseNoteLinksOpenOnlyWebPages) {
  LinkCatcher catcher;
  for (const char* scheme : {"https", "http", "file", "smb", "ssh"}) {
    QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &catcher, "open");
  }
  UpdateDialog dialog;
  dialog.showUpdate({"Version 1.3", "1.3.0", "1.3", "<p>notes</p>", {}, QUrl("https://example.org/d"), {}, "1.3", {}},
                    "1.2");
  auto* notes = dialog.findChild<QTextBrowser*>();
  ASSERT_NE(notes, nullptr);
  for (const char* link : {"https://example.org/notes", "file:///etc/passwd", "smb://host/share", "ssh://host"}) {
    emit notes->anchorClicked(QUrl(QString::fromLatin1(link)));
  }
  for (const char* scheme : {"https", "http", "file", "smb", "ssh"}) QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
  EXPECT_EQ(catcher.opened, QList<QUrl>{QUrl("https://example.org/notes")});
}

}  // namespace
}  // namespace velto
