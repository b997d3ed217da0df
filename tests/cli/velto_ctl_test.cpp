// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// velto-ctl as scripts use it: the real program against simulated cameras in a private runtime
// and configuration directory.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <sys/stat.h>

#include "cli/ctl_arguments.h"
#include "model/storage.h"
#include "platform/session/user_defaults.h"
#include "sim/profile.h"
#include "qt_printers.h"
#include "sim_fixture.h"

namespace velto {
namespace {

// A C200 whose contrast answers no request although its descriptor offers it.
sim::Profile c200WithoutContrast() {
  sim::Profile profile = sim::c200Profile();
  std::erase_if(profile.controls, [](const sim::WireControl& w) {
    return !w.fields.empty() && w.fields.front().id == ControlID::contrast;
  });
  return profile;
}

struct Outcome {
  int exitCode = -1;
  QString out;
  QString err;
};

class VeltoCtlTest : public ::testing::Test {
 protected:
  QProcessEnvironment environment() const {
    QProcessEnvironment env = bus.programEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("VELTO_SYSFS_ROOT", config.filePath("no-sysfs"));  // never this machine's cameras
    return env;
  }
  Outcome run(const QStringList& args, const QString& outputFile = {}) {
    QProcess process;
    process.setProcessEnvironment(environment());
    if (!outputFile.isEmpty()) process.setStandardOutputFile(outputFile);
    process.start(VELTO_CTL_PATH, args);
    EXPECT_TRUE(process.waitForFinished(30000)) << args.join(' ').toStdString();
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
  }
  std::int64_t camera(const std::string& name, const std::string& id = "c200") { return bus.state(id).at(name); }
  // The C200's wanted settings as velto-ctl saved them.
  ControlValues savedSettings() {
    UserDefaults defaults(config.filePath("velto-camera/velto-camera.conf"));
    return Storage(defaults).loadSettings({0x291A, 0x3369}).value_or(ControlValues{});
  }

  testing::SimBus bus;
  QTemporaryDir config;
};

TEST_F(VeltoCtlTest, ReadingCommandsWriteNothing) {
  bus.plug(sim::genericProfile(), "a-generic");
  bus.plug(sim::c200Profile(), "c200");
  Outcome list = run({"list", "--json"});
  ASSERT_EQ(list.exitCode, 0) << list.err.toStdString();
  const QJsonArray cameras = QJsonDocument::fromJson(list.out.toUtf8()).array();
  ASSERT_EQ(cameras.size(), 2);
  EXPECT_EQ(cameras[0]["id"].toString(), "0c45:6366");
  EXPECT_FALSE(cameras[0]["chosen"].toBool());
  EXPECT_EQ(cameras[1]["name"].toString(), "Anker PowerConf C200");
  EXPECT_TRUE(cameras[1]["chosen"].toBool());
  EXPECT_EQ(cameras[1]["carrier"].toString(), "sim");

  Outcome controls = run({"controls", "--json"});
  ASSERT_EQ(controls.exitCode, 0);
  std::map<QString, QJsonObject> rows;
  for (const QJsonValue& row : QJsonDocument::fromJson(controls.out.toUtf8()).array()) {
    rows[row["name"].toString()] = row.toObject();
  }
  EXPECT_EQ(rows.size(), 20u) << "a C200 has neither gain nor backlight compensation";
  EXPECT_EQ(rows["brightness"]["min"].toInt(), -64);
  EXPECT_TRUE(rows["hdr"]["value"].isNull()) << "hdr cannot be read";
  // The C200's GET_RES offers manual, auto and aperture priority; its default is auto.
  EXPECT_EQ(rows["autoExposure"]["modes"].toArray(), (QJsonArray{1, 2, 8}));
  EXPECT_EQ(rows["autoExposure"]["min"].toInt(), 1);
  EXPECT_EQ(rows["autoExposure"]["max"].toInt(), 8);
  EXPECT_EQ(rows["autoExposure"]["default"].toInt(), 2);
  EXPECT_FALSE(rows["autoFocus"].contains("modes"));
  EXPECT_TRUE(run({"controls"}).out.contains(QRegularExpression(
      R"(\nautoExposure +Auto Exposure +1 +8 +- +2 +2  modes: 1 manual, 2 auto, 8 aperture priority\n)")));

  Outcome get = run({"get", "brightness", "pan", "--json"});
  ASSERT_EQ(get.exitCode, 0);
  EXPECT_EQ(QJsonDocument::fromJson(get.out.toUtf8()).object(), (QJsonObject{{"brightness", 0}, {"pan", 0}}));
  EXPECT_EQ(run({"--camera", "0c45:6366", "get", "contrast"}).out, "contrast=32\n");

  for (const char* id : {"a-generic", "c200"}) {
    for (int selector = 1; selector < 0x20; ++selector) {
      for (int unit : {1, 2, 3, 6}) EXPECT_TRUE(bus.setRequests(id, unit, selector).empty()) << id;
    }
  }
  EXPECT_FALSE(QFile::exists(config.filePath("velto-camera/velto-camera.conf"))) << "no saved state changed";
}

TEST_F(VeltoCtlTest, ExitCodesNameWhatWentWrong) {
  EXPECT_EQ(run({}).exitCode, 1);
  EXPECT_EQ(run({"frobnicate"}).exitCode, 1);
  EXPECT_EQ(run({"set", "brightness"}).exitCode, 1);
  EXPECT_EQ(run({"set", "brightness=1", "--json"}).exitCode, 1);
  EXPECT_EQ(run({"auto", "autoFocus", "maybe"}).exitCode, 1);
  EXPECT_EQ(run({"--camera", "xyz", "list"}).exitCode, 1);

  const Outcome none = run({"get", "brightness"});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_EQ(none.err, "velto-ctl: no camera is attached\n");
  EXPECT_EQ(run({"set", "brightness=1"}).exitCode, 2);
  EXPECT_EQ(run({"reset"}).exitCode, 2);
  EXPECT_EQ(run({"list"}).exitCode, 0);

  bus.plug(sim::genericProfile(), "generic");
  EXPECT_EQ(run({"--camera", "291a:3369", "get", "brightness"}).exitCode, 2);
  const Outcome unknown = run({"set", "Brightness=1"});
  EXPECT_EQ(unknown.exitCode, 3);
  EXPECT_EQ(unknown.err, "velto-ctl: unknown control 'Brightness'\n");
  EXPECT_EQ(run({"set", "brightness=1.5"}).exitCode, 3);
  EXPECT_EQ(run({"get", "pan"}).exitCode, 3) << "the generic camera has no pan";
  EXPECT_EQ(run({"auto", "brightness", "on"}).exitCode, 3);
  EXPECT_EQ(run({"preset", "apply", "Nothing"}).exitCode, 3);
  EXPECT_EQ(run({"preset", "save", QString(65, u'n')}).err, "velto-ctl: a preset's name has at most 64 characters, not 65\n");

  // Output nobody reads (`velto-ctl list | true`): a failed write, not a death by SIGPIPE.
  int ends[2];
  ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
  ::close(ends[0]);
  QProcess closedReader;
  closedReader.setProcessEnvironment(environment());
  closedReader.setChildProcessModifier([&ends] { ::dup2(ends[1], STDOUT_FILENO); });
  closedReader.start(VELTO_CTL_PATH, {"list"});
  ASSERT_TRUE(closedReader.waitForFinished(30000));
  ::close(ends[1]);
  EXPECT_EQ(closedReader.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(closedReader.exitCode(), 5);
}

TEST_F(VeltoCtlTest, GetPrintsWhatItCouldReadAndNamesWhatItCouldNot) {
  bus.plug(c200WithoutContrast(), "c200");
  const Outcome got = run({"get", "brightness", "contrast", "saturation"});
  EXPECT_EQ(got.exitCode, 4);
  EXPECT_EQ(got.out, "brightness=0\nsaturation=60\n");
  EXPECT_EQ(got.err, "velto-ctl: reading contrast failed (refused by the camera, status 0xe000404f)\n");
  EXPECT_EQ(QJsonDocument::fromJson(run({"get", "contrast", "brightness", "--json"}).out.toUtf8()).object(),
            (QJsonObject{{"brightness", 0}}));
  const Outcome unknown = run({"get", "brightness", "sparkle"});
  EXPECT_EQ(unknown.exitCode, 3) << "a name that names nothing is refused before anything is read";
  EXPECT_EQ(unknown.out, "");
}

TEST_F(VeltoCtlTest, SetReadsOnlyWhatItNeedsAndKeepsTheOtherWantedValues) {
  bus.plug(sim::c200Profile(), "c200");
  {
    UserDefaults defaults(config.filePath("velto-camera/velto-camera.conf"));
    defaults.setData("settings.291a:3369", R"({"contrast":40,"zoom":150,"sparkle":3})");
    defaults.sync();
  }
  ASSERT_EQ(run({"set", "brightness=500"}).exitCode, 0);
  EXPECT_EQ(camera("brightness"), 64) << "clamped to the range it read";
  std::vector<std::string> requests;
  QFile log(bus.path("c200.jsonl"));
  ASSERT_TRUE(log.open(QIODevice::ReadOnly));
  for (const QByteArray& line : log.readAll().split('\n')) {
    const QJsonObject e = QJsonDocument::fromJson(line).object();
    if (!e.contains("request")) continue;
    requests.push_back(QStringLiteral("%1 %2/%3").arg(e["request"].toString()).arg(e["unit"].toInt()).arg(e["selector"].toInt()).toStdString());
  }
  // Brightness's range and value, and the write: not the 83 requests of every range and value.
  EXPECT_EQ(requests, (std::vector<std::string>{"GET_DEF 2/2", "GET_MIN 2/2", "GET_MAX 2/2", "GET_RES 2/2",
                                                "GET_CUR 2/2", "SET_CUR 2/2"}));
  UserDefaults defaults(config.filePath("velto-camera/velto-camera.conf"));
  EXPECT_EQ(QJsonDocument::fromJson(*defaults.data("settings.291a:3369")).object(),
            (QJsonObject{{"brightness", 64}, {"contrast", 40}, {"zoom", 150}, {"sparkle", 3}}))
      << "the wanted values of the controls it did not read are kept";
}

TEST_F(VeltoCtlTest, SetChangesOneControlOfASharedPairAndKeepsTheOther) {
  bus.plug(sim::c200Profile(), "c200");
  bus.command("c200", "set tilt 3600");
  const Outcome set = run({"set", "pan=7200", "brightness=500"});
  ASSERT_EQ(set.exitCode, 0) << set.err.toStdString();
  EXPECT_EQ(camera("pan"), 7200);
  EXPECT_EQ(camera("tilt"), 3600);
  EXPECT_EQ(camera("brightness"), 64) << "clamped like a slider";
  EXPECT_EQ(bus.setRequests("c200", 1, 0x0D), std::vector<std::string>{"201c0000100e0000"});
  EXPECT_EQ(savedSettings()[ControlID::pan], 7200);
}

TEST_F(VeltoCtlTest, AFieldOfViewChangeWaitsForTheZoomItMoves) {
  bus.plug(sim::c200Profile(), "c200");
  ASSERT_EQ(run({"set", "fieldOfView=65"}).exitCode, 0);
  EXPECT_EQ(savedSettings()[ControlID::zoom], 295);
}

TEST_F(VeltoCtlTest, RefusalsAndSilenceFailWithTheStatus) {
  bus.plug(sim::c200Profile(), "c200");
  bus.command("c200", "refuse contrast");
  const Outcome refused = run({"set", "contrast=10"});
  EXPECT_EQ(refused.exitCode, 4);
  EXPECT_EQ(refused.err, "velto-ctl: the camera refused contrast=10 (status 0xe000404f)\n");

  bus.command("c200", "hang");
  QElapsedTimer timer;
  timer.start();
  const Outcome hung = run({"get", "brightness"});
  EXPECT_EQ(hung.exitCode, 4);
  EXPECT_TRUE(hung.err.contains("0xe0004051")) << hung.err.toStdString();
  EXPECT_LT(timer.elapsed(), 2500) << "a hung camera must not hang the command";
}

TEST_F(VeltoCtlTest, PresetsAndAutoModes) {
  bus.plug(sim::c200Profile(), "c200");
  ASSERT_EQ(run({"set", "brightness=20", "autoWhiteBalance=0", "whiteBalance=3000"}).exitCode, 0);
  ASSERT_EQ(run({"preset", "save", "Desk"}).exitCode, 0);
  ASSERT_EQ(run({"set", "brightness=-5", "whiteBalance=6000"}).exitCode, 0);
  ASSERT_EQ(run({"preset", "apply", "Desk"}).exitCode, 0);
  EXPECT_EQ(camera("brightness"), 20);
  EXPECT_EQ(camera("whiteBalance"), 3000);

  ASSERT_EQ(run({"preset", "rename", "Desk", "Office"}).exitCode, 0);
  const QJsonArray presets = QJsonDocument::fromJson(run({"preset", "list", "--json"}).out.toUtf8()).array();
  ASSERT_EQ(presets.size(), 1);
  EXPECT_EQ(presets[0]["name"].toString(), "Office");
  EXPECT_EQ(presets[0]["values"]["brightness"].toInt(), 20);
  ASSERT_EQ(run({"preset", "delete", "Office"}).exitCode, 0);
  EXPECT_EQ(run({"preset", "list"}).out, "");

  ASSERT_EQ(run({"auto", "autoExposure", "off"}).exitCode, 0);
  EXPECT_EQ(camera("autoExposure"), 1);
  ASSERT_EQ(run({"set", "exposure=400"}).exitCode, 0);
  EXPECT_EQ(camera("exposure"), 400) << "manual exposure holds";
  ASSERT_EQ(run({"defaults", "brightness"}).exitCode, 0);
  EXPECT_EQ(camera("brightness"), 0);
}

TEST_F(VeltoCtlTest, WatchWithLockRestoresWhatAnotherApplicationChanged) {
  bus.plug(sim::c200Profile(), "c200");
  ASSERT_EQ(run({"set", "brightness=12"}).exitCode, 0);
  QProcess watch;
  watch.setProcessEnvironment(environment());
  watch.start(VELTO_CTL_PATH, {"watch", "--lock"});
  ASSERT_TRUE(watch.waitForStarted());
  QByteArray output;
  QElapsedTimer timer;
  timer.start();
  while (!output.contains("connected:") && timer.elapsed() < 10000) {
    watch.waitForReadyRead(200);
    output += watch.readAllStandardOutput();
  }
  ASSERT_TRUE(output.contains("connected: Anker PowerConf C200 (291a:3369)")) << output.toStdString();

  bus.command("c200", "set brightness -30");  // a video-call application resets it
  timer.restart();
  while (camera("brightness") != 12 && timer.elapsed() < 10000) watch.waitForFinished(100);
  EXPECT_EQ(camera("brightness"), 12);

  watch.terminate();
  ASSERT_TRUE(watch.waitForFinished(10000));
  EXPECT_EQ(watch.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(watch.exitCode(), 0);
  output += watch.readAllStandardOutput();
  EXPECT_FALSE(output.contains("another program")) << "a watcher that quits gives nothing up to anyone";
}

TEST_F(VeltoCtlTest, AHungCameraFailsEveryCommandAndTouchesNothingStored) {
  bus.plug(sim::c200Profile(), "c200");
  ASSERT_EQ(run({"set", "brightness=30"}).exitCode, 0);
  ASSERT_EQ(run({"preset", "save", "KEEP"}).exitCode, 0);
  const QJsonArray before = QJsonDocument::fromJson(run({"preset", "list", "--json"}).out.toUtf8()).array();
  bus.command("c200", "hang");
  for (const QStringList& args : {QStringList{"preset", "update", "KEEP"}, QStringList{"preset", "save", "Empty"},
                                  QStringList{"defaults", "brightness"}, QStringList{"refocus"},
                                  QStringList{"set", "contrast=5"}}) {
    const Outcome hung = run(args);
    EXPECT_EQ(hung.exitCode, 4) << args.join(' ').toStdString();
    EXPECT_EQ(hung.err, "velto-ctl: Anker PowerConf C200 does not answer\n");
  }
  EXPECT_EQ(QJsonDocument::fromJson(run({"preset", "list", "--json"}).out.toUtf8()).array(), before);
  EXPECT_EQ(savedSettings()[ControlID::brightness], 30);
}

TEST_F(VeltoCtlTest, ImpossibleModesAreRejectedUpFrontAndPresetsClampedLikeSet) {
  bus.plug(sim::c200Profile(), "c200");
  EXPECT_EQ(run({"set", "autoExposure=-1"}).exitCode, 3);
  EXPECT_TRUE(savedSettings().empty()) << "refused before any camera was asked";

  // A preset holding a value beyond the camera's range is clamped like set.
  UserDefaults defaults(config.filePath("velto-camera/velto-camera.conf"));
  defaults.setData("presets", R"([{"id":"7D444840-9DC0-11D1-B245-5FFDCE74FAD2","name":"Loud","values":{"brightness":900}}])");
  defaults.sync();
  EXPECT_EQ(run({"preset", "apply", "Loud"}).exitCode, 0);
  EXPECT_EQ(camera("brightness"), 64);
}

TEST_F(VeltoCtlTest, ASlowCameraStillTakesTheChange) {
  bus.plug(sim::c200Profile(), "c200");
  bus.command("c200", "latency 30");
  QElapsedTimer timer;
  timer.start();
  const Outcome set = run({"set", "brightness=11"});
  EXPECT_EQ(set.exitCode, 0) << set.err.toStdString();
  EXPECT_EQ(camera("brightness"), 11);
  RecordProperty("set_ms_at_30ms_per_answer", static_cast<int>(timer.elapsed()));
}

TEST_F(VeltoCtlTest, SavesAndOutputThatFailAreNotSuccess) {
  bus.plug(sim::c200Profile(), "c200");
  // Something that is not a file where the settings go.
  ASSERT_TRUE(QDir(config.path()).mkpath("velto-camera/velto-camera.conf"));
  const Outcome unsaved = run({"set", "brightness=5"});
  EXPECT_EQ(unsaved.exitCode, 6);
  EXPECT_EQ(unsaved.err, "velto-ctl: Couldn't save your settings (" + config.filePath("velto-camera/velto-camera.conf") +
                             ": Is a directory).\n");
  EXPECT_EQ(run({"preset", "save", "X"}).exitCode, 6);

  // The lock goes beside the settings: a folder that cannot be written says so, and why.
  QDir(config.filePath("velto-camera")).removeRecursively();
  QFile notAFolder(config.filePath("velto-camera"));
  ASSERT_TRUE(notAFolder.open(QIODevice::WriteOnly));
  notAFolder.close();
  const Outcome noFolder = run({"set", "brightness=5"});
  EXPECT_EQ(noFolder.exitCode, 6);
  EXPECT_EQ(noFolder.err, "velto-ctl: cannot write the settings folder " + config.filePath("velto-camera") +
                              ": Not a directory\n");

  QFile::remove(config.filePath("velto-camera"));
  const Outcome full = run({"get", "brightness"}, "/dev/full");
  EXPECT_EQ(full.exitCode, 5);
  EXPECT_TRUE(full.err.startsWith("velto-ctl: cannot write the output")) << full.err.toStdString();
}

TEST_F(VeltoCtlTest, PresetNamesAreTakenAsTheyAre) {
  bus.plug(sim::c200Profile(), "c200");
  EXPECT_EQ(run({"preset", "save", " \t "}).exitCode, 3) << "a blank name";
  ASSERT_EQ(run({"preset", "save", "--", "-10 dB"}).exitCode, 0);
  ASSERT_EQ(run({"preset", "save", "two\nlines"}).exitCode, 0);
  EXPECT_EQ(run({"preset", "list"}).out, "-10 dB  (19 controls)\ntwo\\nlines  (19 controls)\n");
  // Two presets sharing an id (a copied file): delete removes the one named.
  UserDefaults defaults(config.filePath("velto-camera/velto-camera.conf"));
  const char* twins = R"([{"id":"7D444840-9DC0-11D1-B245-5FFDCE74FAD2","name":"A","values":{}},)"
                      R"({"id":"7D444840-9DC0-11D1-B245-5FFDCE74FAD2","name":"B","values":{}}])";
  defaults.setData("presets", twins);
  defaults.sync();
  ASSERT_EQ(run({"preset", "delete", "B"}).exitCode, 0);
  EXPECT_EQ(run({"preset", "list"}).out, "A  (0 controls)\n");
}

TEST_F(VeltoCtlTest, StatsSnapshotAndClickToSetFromTheLivePicture) {
  bus.plug(sim::c200Profile(), "c200");
  const Outcome stats = run({"stats", "--frames", "12", "--json"});
  ASSERT_EQ(stats.exitCode, 0) << stats.err.toStdString();
  const QJsonObject s = QJsonDocument::fromJson(stats.out.toUtf8()).object();
  EXPECT_EQ(s["width"].toInt(), 1280);
  EXPECT_EQ(s["height"].toInt(), 720);
  EXPECT_GE(s["frames"].toInt(), 12);
  EXPECT_EQ(s["luma"].toArray().size(), 64);
  EXPECT_GT(s["clippedHighlights"].toDouble(), 0) << "the window is well above white";
  EXPECT_TRUE(run({"stats", "--frames", "1"}).out.startsWith("frame: 1280×720\nframes received: "));

  const QString png = config.filePath("shot.png");
  const Outcome snapshot = run({"snapshot", png});
  ASSERT_EQ(snapshot.exitCode, 0) << snapshot.err.toStdString();
  const QImage image(png);
  ASSERT_EQ(image.size(), QSize(1280, 720));
  const QColor centre = image.pixelColor(640, 360);  // mid grey at the default white balance
  EXPECT_NEAR(centre.red(), centre.blue(), 12);
  EXPECT_EQ(run({"snapshot", config.filePath("no/such/folder/shot.png")}).exitCode, 5);

  const Outcome wb = run({"calibrate", "white-balance", "0.5", "0.5"});
  ASSERT_EQ(wb.exitCode, 0) << wb.err.toStdString();
  EXPECT_EQ(wb.out, QStringLiteral("White balance set to %1 K\n").arg(camera("whiteBalance")));
  EXPECT_NEAR(double(camera("whiteBalance")), 4500, 150) << "the simulator's default illuminant";
  EXPECT_EQ(savedSettings()[ControlID::whiteBalance], camera("whiteBalance"));
  EXPECT_EQ(run({"calibrate", "exposure", "0.5", "0.5", "--target", "0.6"}).exitCode, 0);
  EXPECT_EQ(run({"calibrate", "exposure", "1.5", "0.5"}).exitCode, 3);
}

TEST_F(VeltoCtlTest, FormatsListTheCamerasModesAndASnapshotTakesOneAtItsFullSize) {
  bus.plug(sim::c200Profile(), "c200");
  const Outcome formats = run({"formats", "--json"});
  ASSERT_EQ(formats.exitCode, 0) << formats.err.toStdString();
  const QJsonArray modes = QJsonDocument::fromJson(formats.out.toUtf8()).array();
  ASSERT_EQ(modes.size(), 22) << formats.out.toStdString();
  EXPECT_EQ(modes.first().toObject(),
            (QJsonObject{{"format", "MJPEG"}, {"fourcc", "MJPG"}, {"width", 2560}, {"height", 1440}, {"fps", 30}}));
  EXPECT_EQ(modes[2].toObject()["format"].toString(), "H.264");
  EXPECT_EQ(modes.last().toObject(),
            (QJsonObject{{"format", "YUY2"}, {"fourcc", "YUY2"}, {"width", 320}, {"height", 240}, {"fps", 15}}));

  const QString png = config.filePath("mode.png");
  const Outcome shot = run({"snapshot", png, "--size", "960x540", "--fps", "15"});
  ASSERT_EQ(shot.exitCode, 0) << shot.err.toStdString();
  EXPECT_EQ(QImage(png).size(), QSize(960, 540));

  // The mode the window chose for the model is the one a plain snapshot takes.
  {
    UserDefaults defaults(config.filePath("velto-camera/velto-camera.conf"));
    defaults.setData("captureMode/291a_3369", "YUY2 320x240@30");
    ASSERT_FALSE(defaults.sync());
  }
  ASSERT_EQ(run({"snapshot", png}).exitCode, 0);
  EXPECT_EQ(QImage(png).size(), QSize(320, 240));

  const Outcome odd = run({"snapshot", png, "--size", "1024x768"});
  EXPECT_EQ(odd.exitCode, 3);
  EXPECT_TRUE(odd.err.contains("does not offer 1024x768; it offers MJPEG 2560x1440 30 fps")) << odd.err.toStdString();
  const Outcome h264 = run({"snapshot", png, "--format", "h.264"});
  EXPECT_NE(h264.exitCode, 0);
  EXPECT_TRUE(h264.err.contains("cannot encode it")) << h264.err.toStdString();
  EXPECT_EQ(run({"snapshot", png, "--size", "big"}).exitCode, 1);
}

TEST_F(VeltoCtlTest, WithoutAPictureCaptureEndsWithinFiveSecondsWithExitFive) {
  bus.plug(sim::c200Profile(), "c200");
  bus.command("c200", "freeze");
  for (const QStringList& args : {QStringList{"stats"}, QStringList{"calibrate", "exposure", "0.5", "0.5"}}) {
    QElapsedTimer timer;
    timer.start();
    const Outcome frozen = run(args);
    EXPECT_EQ(frozen.exitCode, 5) << frozen.err.toStdString();
    EXPECT_LT(timer.elapsed(), 6000) << "ends on its own, well before any time-out of ours";
    EXPECT_TRUE(frozen.err.contains("sent no picture")) << frozen.err.toStdString();
  }
  bus.command("c200", "thaw");
  bus.command("c200", "busy");
  const Outcome busy = run({"stats"});
  EXPECT_EQ(busy.exitCode, 5);
  EXPECT_EQ(busy.err, "velto-ctl: Anker PowerConf C200 is in use by another application\n");
  bus.command("c200", "unplug");
  EXPECT_EQ(run({"stats"}).exitCode, 2);
}

TEST_F(VeltoCtlTest, SimulatedCamerasAreListedOnlyOnRequestAndFromATrustedDirectory) {
  bus.plug(sim::c200Profile(), "c200");
  const auto list = [this](const QStringList& args) {
    QProcess process;
    QProcessEnvironment env = environment();
    env.remove("VELTO_SIMCAM");
    process.setProcessEnvironment(env);
    process.start(VELTO_CTL_PATH, args + QStringList{"list"});
    EXPECT_TRUE(process.waitForFinished(30000));
    return Outcome{process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
                   QString::fromUtf8(process.readAllStandardError())};
  };
  EXPECT_EQ(list({}).out, "");
  EXPECT_TRUE(list({"--simulated-cameras"}).out.contains("Anker PowerConf C200"));
  ASSERT_EQ(::chmod(bus.directory().c_str(), 0770), 0);
  const Outcome refused = list({"--simulated-cameras"});
  EXPECT_EQ(refused.exitCode, 0);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, QString::fromStdString("velto-ctl: simulated cameras are not listed: " + bus.directory() +
                                                " has mode 0770, not 0700: other users can reach it\n"));
}

TEST(VeltoCtlArguments, ParseOptionsAnywhere) {
  const auto parsed = cli::parseArguments({"get", "--camera", "0x291A:3369", "brightness", "--json"});
  ASSERT_TRUE(parsed.request) << parsed.error;
  EXPECT_EQ(parsed.request->camera, (CameraKey{0x291A, 0x3369}));
  EXPECT_TRUE(parsed.request->json);
  EXPECT_EQ(parsed.request->operands, std::vector<std::string>{"brightness"});
  EXPECT_FALSE(cli::parseArguments({"watch", "--lock", "extra"}).request);
  EXPECT_FALSE(cli::parseArguments({"get", "--lock", "brightness"}).request);
  EXPECT_EQ(cli::parseInteger("-12"), -12);
  EXPECT_EQ(cli::parseInteger("99999999999999999999"), std::nullopt);
  EXPECT_EQ(cli::parseInteger(" 1"), std::nullopt);
  EXPECT_EQ(cli::parseCameraKey("12345:1"), std::nullopt);
  const auto shot = cli::parseArguments({"snapshot", "a.png", "--size", "640x480", "--format", "yuyv", "--fps", "15"});
  ASSERT_TRUE(shot.request) << shot.error;
  EXPECT_EQ(shot.request->mode, (video::ModeWish{video::fourccOf("YUY2"), 640, 480, 15}));
  EXPECT_FALSE(cli::parseArguments({"stats", "--size", "640x480"}).request) << "only a snapshot takes a mode";
  EXPECT_FALSE(cli::parseArguments({"snapshot", "a.png", "--format", "gif"}).request);
}

}  // namespace
}  // namespace velto
