// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Snapshots end to end: the main window over a simulated C200 streaming 1920 × 1080 through the
// GStreamer session, a private session bus, and a notification service of the test's own. The
// window's key saves the camera's full picture although the preview gets a smaller one; without a
// notification service the preview's hint line says where it went, with one the notification
// does, and its buttons open the picture and its folder. Waits in real time, bounded.
#include <gtest/gtest.h>

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTest>

#include "capture/calibrator.h"
#include "private_bus.h"
#include "screenshot_support.h"
#include "views/main_window.h"
#include "views/snapshot_command.h"

namespace velto {
namespace {

class NotificationService : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Call {
    QString summary;
    QString body;
    QStringList actions;
    QVariantMap hints;
  };
  std::vector<Call> calls;

 public slots:
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
              const QStringList& actions, const QVariantMap& hints, int) {
    calls.push_back({summary, body, actions, hints});
    return uint(calls.size()) + 40;
  }
};

class Opened : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;

 public slots:
  void open(const QUrl& url) { urls.append(url); }
};

// The configuration of a session bus that starts no services: a notification daemon installed on
// the machine must not answer in place of the test's. Empty when it cannot be written.
QString quietBusConfig(const QTemporaryDir& dir) {
  QFile config(dir.filePath("bus.conf"));
  if (!config.open(QIODevice::WriteOnly)) return {};
  config.write(R"(<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
      <policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
      <allow own="*"/></policy></busconfig>)");
  return config.fileName();
}

TEST(Snapshot, TheWindowSavesTheCamerasFullPictureAndSaysWhereItWent) {
  QTemporaryDir home;
  const QString config = quietBusConfig(home);
  ASSERT_FALSE(config.isEmpty());
  testing::PrivateBus daemon(config);
  if (daemon.address().isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
  QDBusConnection appBus = QDBusConnection::connectToBus(daemon.address(), "app");
  QDBusConnection serviceBus = QDBusConnection::connectToBus(daemon.address(), "service");
  ASSERT_TRUE(appBus.isConnected() && serviceBus.isConnected());

  using testing::ScreenshotWorld;
  const QString simDirectory = home.filePath("sim");
  auto c200 = testing::plugStreaming(sim::c200Profile(), simDirectory, "c200", 1920, 1080);
  SystemClock clock;
  UserDefaults defaults(home.filePath("velto-camera.conf"));
  LoginItem login(QStringLiteral("velto-camera"), home.filePath("autostart"));
  CameraStore store(clock, defaults, login, ScreenshotWorld::storeOptions(simDirectory));
  PreviewController preview(clock, std::make_unique<video::GstCaptureBackend>(ScreenshotWorld::captureOptions(simDirectory)),
                            [] {});
  Calibrator calibrator(clock);
  ASSERT_TRUE(testing::eventually([&] { return store.isConnected(); }));

  views::MainWindow window(store, preview, calibrator, defaults);
  const QString folder = home.filePath("Pictures/Velto Camera");
  window.snapshots().setFolder(folder);
  window.snapshots().setBus(appBus);
  QAction* snapshot = window.snapshots().action();
  EXPECT_FALSE(snapshot->isEnabled()) << "no frame yet";
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  ASSERT_TRUE(testing::eventually([&] { return snapshot->isEnabled(); })) << "frames from the C200";

  std::vector<SnapshotResult> finished;
  QObject::connect(&window.snapshots(), &views::SnapshotCommand::finished,
                   [&](const SnapshotResult& result) { finished.push_back(result); });
  auto take = [&] {
    const std::size_t before = finished.size();
    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
    if (!testing::eventually([&] { return finished.size() > before; })) {
      ADD_FAILURE() << "no snapshot";
      return QString();
    }
    EXPECT_FALSE(finished.back().error);
    return finished.back().path;
  };

  // No notification service: the hint line over the picture says it.
  const QString first = take();
  EXPECT_EQ(QImage(first).size(), QSize(1920, 1080));
  EXPECT_LT(preview.analyzer().latest().width(), 1920) << "the preview itself works with a smaller picture";
  auto* hint = window.pane().findChild<QLabel*>("hint");
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(testing::eventually([&] { return hint->isVisible() && hint->text().startsWith("Snapshot saved to "); }))
      << hint->text().toStdString();

  // With one, the notification says it and its buttons open the picture and the folder.
  NotificationService service;
  ASSERT_TRUE(serviceBus.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(serviceBus.registerService("org.freedesktop.Notifications"));
  const QString second = take();
  ASSERT_TRUE(testing::eventually([&] { return service.calls.size() == 1; }));
  const NotificationService::Call& call = service.calls.front();
  EXPECT_EQ(call.summary, "Snapshot Saved");
  EXPECT_TRUE(call.body.startsWith(QFileInfo(second).fileName())) << call.body.toStdString();
  EXPECT_TRUE(call.actions.contains("open") && call.actions.contains("folder"));
  EXPECT_EQ(call.hints.value("image-path").toString(), QUrl::fromLocalFile(second).toString());
  EXPECT_NE(first, second);
  EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 2);

  Opened opened;
  QDesktopServices::setUrlHandler("file", &opened, "open");
  for (const char* key : {"folder", "open"}) {
    QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                                     "ActionInvoked");
    signal << uint(41) << QString::fromLatin1(key);
    ASSERT_TRUE(serviceBus.send(signal));
  }
  EXPECT_TRUE(testing::eventually([&] { return opened.urls.size() == 2; }));
  QDesktopServices::unsetUrlHandler("file");
  EXPECT_EQ(opened.urls, (QList<QUrl>{QUrl::fromLocalFile(folder), QUrl::fromLocalFile(second)}));

  window.close();
  QDBusConnection::disconnectFromBus("app");
  QDBusConnection::disconnectFromBus("service");
}

}  // namespace
}  // namespace velto

#include "snapshot_test.moc"
