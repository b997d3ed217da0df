// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// velto-ctl beside an owner of the session: the watch service, and a stand-in for the desktop
// application that takes over from it. The programs run for real on a private session bus, with
// simulated cameras.
#include <gtest/gtest.h>

#include <limits>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QXmlStreamReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "capture/capture_bus.h"
#include "model/camera_bus.h"
#include "model/storage.h"
#include "platform/session/user_defaults.h"
#include "private_bus.h"
#include "sim/profile.h"
#include "sim_fixture.h"

namespace velto {
namespace {

class OwnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (session.address().isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    bus.plug(sim::c200Profile(), "c200");
  }
  void TearDown() override {
    for (auto& p : background) {
      p->terminate();
      p->waitForFinished(10000);
    }
  }

  QProcessEnvironment environment() const {
    QProcessEnvironment env = bus.programEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("VELTO_SYSFS_ROOT", config.filePath("no-sysfs"));
    env.insert("DBUS_SESSION_BUS_ADDRESS", session.address());
    return env;
  }
  int run(const QStringList& args, QString* err = nullptr, QString* out = nullptr) {
    QProcess p;
    p.setProcessEnvironment(environment());
    p.start(VELTO_CTL_PATH, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << args.join(' ').toStdString();
    if (err != nullptr) *err = QString::fromUtf8(p.readAllStandardError());
    if (out != nullptr) *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitCode();
  }
  // Runs every command at once and waits for all; true when each exited 0.
  bool runTogether(const std::vector<QStringList>& commands) {
    std::vector<std::unique_ptr<QProcess>> running;
    for (const QStringList& args : commands) {
      running.push_back(std::make_unique<QProcess>());
      running.back()->setProcessEnvironment(environment());
      running.back()->start(VELTO_CTL_PATH, args);
    }
    bool ok = true;
    for (auto& p : running) {
      ok = p->waitForFinished(60000) && p->exitCode() == 0 && ok;
      if (p->exitCode() != 0) ADD_FAILURE() << p->readAllStandardError().toStdString();
    }
    return ok;
  }
  // A program that keeps running: the watch service or the stand-in application.
  QProcess& start(const QString& program, const QStringList& args) {
    background.push_back(std::make_unique<QProcess>());
    QProcess& p = *background.back();
    p.setProcessEnvironment(environment());
    p.start(program, args);
    EXPECT_TRUE(p.waitForStarted());
    return p;
  }
  // Waits (real time, bounded) until `p` has printed `text` `times` times in all.
  bool waitForOutput(QProcess& p, const QByteArray& text, int times = 1) {
    QByteArray& seen = output[&p];
    QElapsedTimer timer;
    timer.start();
    while (seen.count(text) < times && timer.elapsed() < 20000) {
      p.waitForReadyRead(100);
      seen += p.readAllStandardOutput();
    }
    return seen.count(text) >= times;
  }
  // Waits (real time, bounded) for a condition that another process brings about.
  static bool eventually(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 20000) QThread::msleep(20);
    return condition();
  }
  // GET_CUR requests the camera has answered for one of the processing unit's controls.
  std::size_t reads(int selector) {
    QFile log(bus.path("c200.jsonl"));
    std::size_t n = 0;
    if (!log.open(QIODevice::ReadOnly)) return n;
    for (const QByteArray& line : log.readAll().split('\n')) {
      const QJsonObject e = QJsonDocument::fromJson(line).object();
      if (e.value("request").toString() == "GET_CUR" && e.value("unit").toInt() == 2 && e.value("selector").toInt() == selector) ++n;
    }
    return n;
  }
  std::int64_t camera(const std::string& name) { return bus.state("c200").at(name); }
  ControlValues saved() {
    UserDefaults defaults(config.filePath("velto-camera/velto-camera.conf"));
    return Storage(defaults).loadSettings({0x291A, 0x3369}).value_or(ControlValues{});
  }
  qsizetype savedPresets() {
    UserDefaults defaults(config.filePath("velto-camera/velto-camera.conf"));
    return Storage(defaults).loadPresets().value_or(QList<Preset>{}).size();
  }

  // The unique name of the first process waiting in the queue for the owner's name.
  QString queuedOwner() {
    QDBusConnection c = QDBusConnection::connectToBus(session.address(), "queue-reader");
    QDBusMessage m = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                    "ListQueuedOwners");
    m.setArguments({QString(kOwnerBusName)});
    const QStringList owners = c.call(m).arguments().value(0).toStringList();
    return owners.value(1);
  }

  testing::SimBus bus;
  QTemporaryDir config;
  testing::PrivateBus session;
  std::vector<std::unique_ptr<QProcess>> background;
  std::map<QProcess*, QByteArray> output;
};

TEST_F(OwnerTest, ASetBesideTheWatcherIsTheUsersWishAndOutlivesAReplug) {
  ASSERT_EQ(run({"set", "brightness=20"}), 0);
  QProcess& watch = start(VELTO_CTL_PATH, {"watch", "--lock"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));
  ASSERT_EQ(run({"set", "brightness=30"}), 0);
  // The watcher follows the camera's change notices (the set among them) and reads back only
  // rarely: whatever it sees within two read-back periods must leave the set alone.
  QElapsedTimer quiet;
  quiet.start();
  while (quiet.elapsed() < 3000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  EXPECT_EQ(camera("brightness"), 30);
  EXPECT_EQ(saved().at(ControlID::brightness), 30);

  bus.command("c200", "unplug");
  bus.command("c200", "set brightness 5");  // it forgot while away
  bus.command("c200", "plug");
  ASSERT_TRUE(waitForOutput(watch, "connected:", 2));
  EXPECT_TRUE(eventually([&] { return camera("brightness") == 30; }));
  QString err;
  EXPECT_EQ(run({"get", "brightness", "contrast"}, &err), 0) << err.toStdString();
}

TEST_F(OwnerTest, ReadingThroughTheOwnerAnswersAsWithoutIt) {
  // A C200 whose contrast answers no request although its descriptor offers it.
  sim::Profile profile = sim::c200Profile();
  std::erase_if(profile.controls, [](const sim::WireControl& w) {
    return !w.fields.empty() && w.fields.front().id == ControlID::contrast;
  });
  bus.command("c200", "unplug");
  bus.plug(std::move(profile), "odd");
  QProcess& watch = start(VELTO_CTL_PATH, {"watch"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));

  QString out;
  QString err;
  ASSERT_EQ(run({"controls", "--json"}, &err, &out), 0) << err.toStdString();
  std::map<QString, QJsonObject> rows;
  for (const QJsonValue& row : QJsonDocument::fromJson(out.toUtf8()).array()) rows[row["name"].toString()] = row.toObject();
  EXPECT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows["brightness"]["max"].toInt(), 64);
  EXPECT_EQ(rows["autoExposure"]["modes"].toArray(), (QJsonArray{1, 2, 8}));
  EXPECT_TRUE(rows["contrast"]["value"].isNull());

  EXPECT_EQ(run({"get", "brightness", "contrast", "saturation"}, &err, &out), 4);
  EXPECT_EQ(out, "brightness=0\nsaturation=60\n");
  EXPECT_EQ(err, "velto-ctl: reading contrast failed (refused by the camera, status 0xe000404f)\n");
  EXPECT_EQ(run({"get", "brightness", "sparkle"}, &err, &out), 3);
  EXPECT_EQ(out, "");
}

TEST_F(OwnerTest, ParallelPresetSavesKeepEveryPresetWithAndWithoutAnOwner) {
  auto saveRounds = [&](int rounds, const QString& tag) {
    for (int r = 0; r < rounds; ++r) {
      std::vector<QStringList> commands;
      for (int i = 0; i < 8; ++i) commands.push_back({"preset", "save", QStringLiteral("%1 %2.%3").arg(tag).arg(r).arg(i)});
      if (!runTogether(commands)) return false;
    }
    return true;
  };
  // Twelve rounds of eight: as many as the 100 presets there may be allow.
  ASSERT_TRUE(saveRounds(6, "alone"));
  EXPECT_EQ(savedPresets(), 48);
  QProcess& watch = start(VELTO_CTL_PATH, {"watch"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));
  ASSERT_TRUE(saveRounds(6, "owned"));
  EXPECT_EQ(savedPresets(), 96);
}

TEST_F(OwnerTest, ParallelSetsEndWithEachControlsLastValueWithAndWithoutAnOwner) {
  const QStringList controls{"brightness", "contrast", "saturation", "sharpness", "gamma", "hue", "pan", "tilt"};
  // Within every control's range, different in every round.
  auto value = [](int round, int i) -> std::int64_t {
    switch (i) {
      case 0: return round - 10;
      case 4: return 200 + round;
      case 5: return round - 5;
      case 6: return (round % 10 - 5) * 3600;
      case 7: return (5 - round % 10) * 3600;
      default: return 10 * i + round;
    }
  };
  auto setRounds = [&] {
    for (int r = 0; r < 20; ++r) {
      std::vector<QStringList> commands;
      for (int i = 0; i < 8; ++i) commands.push_back({"set", QStringLiteral("%1=%2").arg(controls[i]).arg(value(r, i))});
      if (!runTogether(commands)) return false;
    }
    return true;
  };
  auto expectLast = [&] {
    const ControlValues file = saved();
    for (int i = 0; i < 8; ++i) {
      const std::string name = controls[i].toStdString();
      EXPECT_EQ(camera(name), value(19, i)) << name;
      EXPECT_EQ(file.at(*controlFromRawValue(name)), value(19, i)) << name;
    }
  };
  ASSERT_TRUE(setRounds());
  expectLast();
  QProcess& watch = start(VELTO_CTL_PATH, {"watch", "--lock"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));
  ASSERT_TRUE(setRounds());
  expectLast();
}

TEST_F(OwnerTest, TheWatcherHandsOverToTheApplicationAndTakesBackWhenItQuits) {
  QProcess& watch = start(VELTO_CTL_PATH, {"watch", "--lock"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));
  QProcess& application = start(VELTO_TEST_OWNER_PATH, {});
  ASSERT_TRUE(waitForOutput(application, "owner"));
  ASSERT_TRUE(waitForOutput(watch, "another program owns the cameras now"));
  ASSERT_EQ(run({"set", "brightness=7"}), 0) << "through the application";
  EXPECT_EQ(camera("brightness"), 7);

  application.terminate();
  ASSERT_TRUE(application.waitForFinished(10000));
  bus.command("c200", "set brightness -3");  // between owners, another program changes it
  ASSERT_TRUE(waitForOutput(watch, "connected:", 2)) << "the watcher owns the session again";
  EXPECT_TRUE(eventually([&] { return camera("brightness") == 7; })) << "and writes the wanted settings back";
}

TEST_F(OwnerTest, ThePictureCommandsCaptureThroughTheOwner) {
  QProcess& watch = start(VELTO_CTL_PATH, {"watch"});
  ASSERT_TRUE(waitForOutput(watch, "connected: "));
  QString err;
  ASSERT_EQ(run({"calibrate", "white-balance", "0.5", "0.5"}, &err), 0) << err.toStdString();
  EXPECT_NEAR(double(camera("whiteBalance")), 4500, 150);
  EXPECT_TRUE(eventually([&] { return saved()[ControlID::whiteBalance] == camera("whiteBalance"); }));
  bus.command("c200", "busy");
  EXPECT_EQ(run({"stats"}, &err), 5);
  EXPECT_EQ(err, "velto-ctl: Anker PowerConf C200 is in use by another application\n");
  bus.command("c200", "free");
  EXPECT_EQ(run({"stats", "--frames", "3"}, &err), 0) << err.toStdString();
}

TEST_F(OwnerTest, BadCallsOnTheBusAreErrorsNeverACrash) {
  QProcess& watch = start(VELTO_CTL_PATH, {"watch"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));
  QDBusConnection caller = QDBusConnection::connectToBus(session.address(), "bad-caller");
  auto callOwner = [&](const QString& method, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(kOwnerBusName, kCameraBusPath, kCameraBusInterface, method);
    m.setArguments(args);
    return caller.call(m, QDBus::Block, 20000);
  };
  EXPECT_EQ(callOwner("Frobnicate", {}).errorName(), "org.freedesktop.DBus.Error.UnknownMethod");
  // The same bounds as on the command line.
  auto callCapture = [&](const QString& method, const QVariantList& args) {
    QDBusMessage m = QDBusMessage::createMethodCall(kOwnerBusName, kCaptureBusPath, kCaptureBusInterface, method);
    m.setArguments(args);
    return caller.call(m, QDBus::Block, 20000);
  };
  EXPECT_EQ(callCapture("Stats", {2147483647}).errorName(), busErrorName(CommandOutcome::invalid));
  EXPECT_EQ(callCapture("Calibrate", {QString("exposure"), qQNaN(), 0.5, 0.5}).errorName(), busErrorName(CommandOutcome::invalid));
  EXPECT_EQ(callOwner("Set", {QString("brightness")}).type(), QDBusMessage::ErrorMessage) << "wrong argument types";
  EXPECT_EQ(callOwner("Set", {QVariantMap{{"sparkle", 1}}}).errorName(), busErrorName(CommandOutcome::invalid));
  EXPECT_EQ(callOwner("Set", {QVariantMap{{"brightness", "high"}}}).errorName(), busErrorName(CommandOutcome::invalid));
  EXPECT_EQ(callOwner("Set", {QVariantMap{{"brightness", 1.5}}}).errorName(), busErrorName(CommandOutcome::invalid));
  // The largest unsigned 64-bit number is far above the range, not -1: it is clamped to the top.
  const QVariant huge = QVariant::fromValue(std::numeric_limits<qulonglong>::max());
  EXPECT_EQ(callOwner("Set", {QVariantMap{{"brightness", huge}}}).type(), QDBusMessage::ReplyMessage);
  EXPECT_TRUE(eventually([&] { return camera("brightness") == 64; }));
  EXPECT_EQ(callOwner("ApplyPreset", {QString("nothing")}).errorName(), busErrorName(CommandOutcome::invalid));
  EXPECT_EQ(callOwner("Get", {QStringList{"hdr"}}).errorName(), busErrorName(CommandOutcome::invalid));

  // A caller that goes away before its answer.
  {
    QDBusConnection gone = QDBusConnection::connectToBus(session.address(), "gone-caller");
    QDBusMessage m = QDBusMessage::createMethodCall(kOwnerBusName, kCameraBusPath, kCameraBusInterface, "Set");
    m.setArguments({QVariantMap{{"contrast", qlonglong(40)}}});
    gone.asyncCall(m);
    QDBusConnection::disconnectFromBus("gone-caller");
  }
  EXPECT_TRUE(eventually([&] { return camera("contrast") == 40; }));
  EXPECT_EQ(watch.state(), QProcess::Running);
  EXPECT_EQ(run({"get", "contrast"}), 0);
  QDBusConnection::disconnectFromBus("bad-caller");
}


// Every method and signal of `interface` in an introspection document, with its arguments'
// names, types and directions and its annotations, one line each.
QStringList membersOf(const QByteArray& xml, const QString& interface) {
  QStringList members;
  QXmlStreamReader reader(xml);
  bool inside = false;
  QString member;
  while (!reader.atEnd()) {
    reader.readNext();
    const auto a = reader.attributes();
    if (reader.isStartElement() && reader.name() == u"interface") inside = a.value("name") == interface;
    if (!inside) continue;
    if (reader.isStartElement() && (reader.name() == u"method" || reader.name() == u"signal")) {
      member = reader.name().toString() + " " + a.value("name").toString() + ":";
    } else if (reader.isStartElement() && reader.name() == u"arg") {
      member += " " + a.value("direction").toString() + " " + a.value("type").toString() + " " + a.value("name").toString();
    } else if (reader.isStartElement() && reader.name() == u"annotation" && !member.isEmpty()) {
      member += " [" + a.value("name").toString() + "=" + a.value("value").toString() + "]";
    } else if (reader.isEndElement() && (reader.name() == u"method" || reader.name() == u"signal")) {
      members.append(member);
      member.clear();
    } else if (reader.isEndElement() && reader.name() == u"interface") {
      inside = false;
    }
  }
  members.sort();
  return members;
}

TEST_F(OwnerTest, TheBusSurfaceIsTheXmlContractAndAnswersBeforeTheName) {
  auto introspect = [&](const QString& dest, const char* path, const QString& interface) {
    QProcess gdbus;
    gdbus.setProcessEnvironment(environment());
    gdbus.start("gdbus", {"introspect", "--session", "--xml", "--dest", dest, "--object-path", path});
    EXPECT_TRUE(gdbus.waitForFinished(20000));
    return membersOf(gdbus.readAllStandardOutput(), interface).join('\n').toStdString();
  };
  auto contract = [](const char* file, const QString& interface) {
    QFile xml(QStringLiteral(VELTO_SOURCE_DIR "/src/") + file);
    EXPECT_TRUE(xml.open(QIODevice::ReadOnly)) << file;
    return membersOf(xml.readAll(), interface);
  };
  const QStringList camera = contract("model/app.velto.Camera1.xml", kCameraBusInterface);
  const QStringList capture = contract("capture/app.velto.Capture1.xml", kCaptureBusInterface);
  ASSERT_EQ(camera.size(), 17);
  ASSERT_EQ(capture.size(), 5);
  auto matchesTheContract = [&](const QString& dest) {
    EXPECT_EQ(introspect(dest, kCameraBusPath, kCameraBusInterface), camera.join('\n').toStdString());
    EXPECT_EQ(introspect(dest, kCaptureBusPath, kCaptureBusInterface), capture.join('\n').toStdString());
  };
  QProcess& watch = start(VELTO_CTL_PATH, {"watch"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));
  matchesTheContract(kOwnerBusName);
  // The application takes over; the watcher waits in the queue, its objects still there.
  QProcess& application = start(VELTO_TEST_OWNER_PATH, {});
  ASSERT_TRUE(waitForOutput(application, "owner"));
  ASSERT_TRUE(waitForOutput(watch, "another program owns the cameras now"));
  matchesTheContract(queuedOwner());

  // The queued watcher, asked directly before it owns the session: NoCamera, never UnknownObject.
  QDBusConnection caller = QDBusConnection::connectToBus(session.address(), "early-caller");
  QDBusMessage early = QDBusMessage::createMethodCall(queuedOwner(), kCameraBusPath, kCameraBusInterface, "Controls");
  EXPECT_EQ(caller.call(early, QDBus::Block, 20000).errorName(), busErrorName(CommandOutcome::noCamera));
  QDBusMessage picture = QDBusMessage::createMethodCall(queuedOwner(), kCaptureBusPath, kCaptureBusInterface, "Stats");
  picture.setArguments({1});
  EXPECT_EQ(caller.call(picture, QDBus::Block, 20000).errorName(), busErrorName(CommandOutcome::noCamera));
  QDBusConnection::disconnectFromBus("early-caller");
}

TEST_F(OwnerTest, PictureRequestsShareTheStreamWaitTheirTurnAndEndWithTheirCaller) {
  QProcess& watch = start(VELTO_CTL_PATH, {"watch"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));
  auto stats = [&](const QString& connection, int frames) {
    QDBusConnection c = QDBusConnection::connectToBus(session.address(), connection);
    QDBusMessage m = QDBusMessage::createMethodCall(kOwnerBusName, kCaptureBusPath, kCaptureBusInterface, "Stats");
    m.setArguments({frames});
    return c.asyncCall(m, 600000);
  };
  // As many long requests as may run at once, each from a caller of its own.
  std::vector<QDBusPendingCall> long_;
  for (int i = 0; i < 4; ++i) long_.push_back(stats(QStringLiteral("long-%1").arg(i), 10000));
  // One more waits its turn for a few seconds, then hears that the camera is busy.
  QDBusPendingCall waiting = stats("waiting", 1);
  waiting.waitForFinished();
  EXPECT_EQ(waiting.error().name(), kBusyError);
  QString err;
  EXPECT_EQ(run({"stats", "--frames", "1"}, &err), 5);
  EXPECT_EQ(err, "velto-ctl: the camera is busy with another request; try again in a moment\n");
  // The long requests' callers leave: their jobs end, and the camera is free at once.
  for (int i = 0; i < 4; ++i) QDBusConnection::disconnectFromBus(QStringLiteral("long-%1").arg(i));
  QTemporaryDir pictures;
  const QString file = pictures.filePath("shot.png");
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(run({"snapshot", file}, &err), 0) << err.toStdString();
  EXPECT_LT(timer.elapsed(), 4000);
  EXPECT_EQ(QImage(file).size(), QSize(1280, 720));
  QDBusConnection::disconnectFromBus("waiting");
}

TEST_F(OwnerTest, AStrangersPipeThatTakesNothingHoldsUpNobodyAndItsReaderLeavingEndsOnlyItsCall) {
  QProcess& watch = start(VELTO_CTL_PATH, {"watch"});
  ASSERT_TRUE(waitForOutput(watch, "connected:"));
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
  while (::write(ends[1], "full", 4) > 0) {}
  struct stat pipe {};
  ::fstat(ends[1], &pipe);
  // The owner's descriptors of the pipe: the call's two, then the writer's own too.
  auto held = [&] {
    int n = 0;
    for (const QFileInfo& fd : QDir(QStringLiteral("/proc/%1/fd").arg(watch.processId())).entryInfoList(QDir::System)) {
      n += fd.symLinkTarget().endsWith(QStringLiteral("pipe:[%1]").arg(pipe.st_ino));
    }
    return n;
  };
  QDBusConnection stranger = QDBusConnection::connectToBus(session.address(), "stranger");
  QDBusMessage m = QDBusMessage::createMethodCall(kOwnerBusName, kCaptureBusPath, kCaptureBusInterface, "Snapshot");
  m.setArguments({QVariant::fromValue(QDBusUnixFileDescriptor(ends[1]))});
  QDBusPendingCall shot = stranger.asyncCall(m, 60000);
  ::close(ends[1]);
  ASSERT_TRUE(eventually([&] { return held() >= 3; }));
  QString err;
  EXPECT_EQ(run({"stats", "--frames", "1"}, &err), 0) << err.toStdString();
  EXPECT_FALSE(shot.isFinished());
  ::close(ends[0]);
  shot.waitForFinished();
  EXPECT_EQ(shot.error().name(), busErrorName(CommandOutcome::unavailable));
  EXPECT_EQ(run({"formats"}, &err), 0) << err.toStdString();
  EXPECT_EQ(watch.state(), QProcess::Running);
  QDBusConnection::disconnectFromBus("stranger");
}

}  // namespace
}  // namespace velto
