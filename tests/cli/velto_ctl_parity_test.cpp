// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// velto-ctl answers alike whoever carries its commands out: the program itself, `velto-ctl watch`
// as the session's owner, or the desktop application as the owner. One table of commands runs in
// each of the three ways from the same start (fresh settings, a freshly plugged simulated C200);
// every row's exit code, standard output and standard error must match those without an owner.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "model/camera_bus.h"
#include "model/storage.h"
#include "platform/session/user_defaults.h"
#include "private_bus.h"
#include "qt_printers.h"
#include "sim/profile.h"
#include "sim_fixture.h"

namespace velto {
namespace {

struct Answer {
  int exitCode = -1;
  QString out;
  QString err;
  QString rawOut;  // before the row's normaliser
};

// What may differ between two runs of the same command, made alike: `dir` is the run's own
// folder (its working directory, where its settings live).
using Normaliser = QString (*)(const QString& text, const QString& dir);

// A snapshot's absolute path: the folder is each run's own.
QString withoutFolder(const QString& text, const QString& dir) {
  QString same = text;
  return same.replace(dir + "/", "<dir>/");
}

// A preset's id is made at random when it is saved.
QString withoutPresetIds(const QString& text, const QString&) {
  static const QRegularExpression id(R"("id": "[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")");
  QString same = text;
  return same.replace(id, R"("id": "<id>")");
}

// The statistics of three or more live frames (stats --frames 3): the frames' noise differs from
// one frame to the next, which frames a command gets differs, and frames that arrive while it
// winds down are counted too. The shares and a count of three or more go; the shape stays (every
// key, the length of every list, the frame size, the histogram's width).
QString withoutFrameNoise(const QString& text, const QString&) {
  static const QRegularExpression listed(R"(^(\s+)[0-9.e-]+(,?)$)", QRegularExpression::MultilineOption);
  static const QRegularExpression shares(R"((clipped highlights: |crushed shadows: |"clippedHighlights": |"crushedShadows": )[0-9.e-]+)");
  static const QRegularExpression count(R"((frames received: |"frames": )([3-9]|[1-9]\d+)\b)");
  static const QRegularExpression bars(R"(^luma: \|(.*)\|$)", QRegularExpression::MultilineOption);
  QString same = text;
  same.replace(listed, "\\1<share>\\2");
  same.replace(shares, "\\1<share>");
  same.replace(count, "\\1<3 or more>");
  const QRegularExpressionMatch histogram = bars.match(same);
  if (histogram.hasMatch()) same.replace(histogram.capturedStart(1), histogram.capturedLength(1), QString(histogram.capturedLength(1), '#'));
  return same;
}

// Click-to-set white balance measures a spot of one frame, noise included: the temperature it
// finds moves by a few steps from one frame to the next (expectEndState checks it).
QString withoutTemperature(const QString& text, const QString&) {
  static const QRegularExpression kelvin(R"(^White balance set to \d+ K$)", QRegularExpression::MultilineOption);
  QString same = text;
  return same.replace(kelvin, "White balance set to <T> K");
}

// Click-to-set exposure likewise: the spot's brightness varies with the noise (and the JPEG
// encoding) of the frame it measures, and with it the exposure found, by a step or two.
QString withoutExposure(const QString& text, const QString&) {
  static const QRegularExpression exposure(R"(^Exposure set to 1/\d+ s$)", QRegularExpression::MultilineOption);
  QString same = text;
  return same.replace(exposure, "Exposure set to 1/<n> s");
}

struct Row {
  Row(QStringList args, std::string cameraBefore = {}, std::map<std::string, std::int64_t> cameraAfter = {},
      Normaliser normalise = nullptr)
      : args(std::move(args)), cameraBefore(std::move(cameraBefore)), cameraAfter(std::move(cameraAfter)),
        normalise(normalise) {}

  QStringList args;
  // Said to the simulated camera before the command runs ("refuse contrast", "unplug").
  std::string cameraBefore;
  // What the camera must hold afterwards, whoever carried the command out.
  std::map<std::string, std::int64_t> cameraAfter;
  Normaliser normalise;
};

// In order: each row starts from what the rows before it left. The camera starts with its auto
// modes off (see Mode), and rows that print values or the picture come while they are: the auto
// loops move with time, which passes differently in each mode.
const std::vector<Row> kTable = {
    // Reading.
    {{"list"}},
    {{"list", "--json"}},
    {{"controls"}},
    {{"controls", "--json"}},
    {{"get", "brightness", "contrast", "pan"}},
    {{"get", "brightness", "pan", "--json"}},
    {{"preset", "list"}},
    {{"preset", "list", "--json"}},
    {{"lock"}},
    // Changing. Not locked while another application changes the camera: an owner would put a
    // locked setting back, and without one nothing watches.
    {{"lock", "off"}},
    {{"lock"}},
    {{"set", "brightness=20", "contrast=40"}, {}, {{"brightness", 20}, {"contrast", 40}}},
    {{"set", "brightness=500"}, {}, {{"brightness", 64}}},
    {{"set", "pan=7200"}, "set tilt 3600", {{"pan", 7200}, {"tilt", 3600}}},
    {{"auto", "autoExposure", "on"}, {}, {{"autoExposure", 2}}},
    {{"get", "autoExposure"}},
    {{"auto", "autoExposure", "off"}, {}, {{"autoExposure", 1}}},
    {{"set", "exposure=400"}, {}, {{"exposure", 400}}},
    {{"auto", "autoWhiteBalance", "on"}, {}, {{"autoWhiteBalance", 1}}},
    {{"auto", "autoWhiteBalance", "off"}, {}, {{"autoWhiteBalance", 0}}},
    {{"set", "whiteBalance=3000", "fieldOfView=65"}, {}, {{"whiteBalance", 3000}, {"zoom", 295}}},
    {{"get", "brightness", "contrast", "exposure", "whiteBalance", "zoom"}},
    {{"preset", "save", "Desk"}},
    {{"set", "brightness=-5", "whiteBalance=6000"}, {}, {{"brightness", -5}}},
    {{"preset", "apply", "Desk"}, {}, {{"brightness", 64}, {"whiteBalance", 3000}}},
    {{"set", "saturation=10"}},
    {{"preset", "update", "Desk"}},
    {{"preset", "save", "--", "-10 dB"}},
    {{"preset", "rename", "Desk", "Office"}},
    {{"preset", "list"}},
    {{"preset", "list", "--json"}, {}, {}, withoutPresetIds},
    {{"preset", "delete", "--", "-10 dB"}},
    // The picture, of a scene with colour in it and its highlights kept.
    {{"defaults", "brightness", "saturation"}, {}, {{"brightness", 0}, {"saturation", 60}}},
    {{"stats", "--frames", "3"}, {}, {}, withoutFrameNoise},
    {{"stats", "--frames", "3", "--json"}, {}, {}, withoutFrameNoise},
    {{"snapshot", "shot.png"}, {}, {}, withoutFolder},
    {{"formats"}},
    {{"formats", "--json"}},
    {{"snapshot", "mode.png", "--size", "640x360", "--format", "yuy2"}, {}, {}, withoutFolder},
    {{"calibrate", "white-balance", "0.5", "0.5"}, {}, {}, withoutTemperature},
    {{"calibrate", "exposure", "0.5", "0.5", "--target", "0.6"}, {}, {}, withoutExposure},
    // Back to the camera's defaults, auto modes included.
    {{"refocus"}, {}, {{"autoFocus", 1}}},
    {{"defaults"}, {}, {{"contrast", 50}, {"pan", 0}, {"autoExposure", 2}}},
    {{"get", "brightness", "contrast", "pan", "tilt", "autoExposure", "--json"}},
    {{"lock", "on"}},
    {{"lock"}},
    // Each kind of failure.
    {{"get", "brightness", "sparkle"}},
    {{"set", "sparkle=1"}},
    {{"defaults", "sparkle"}},
    {{"set", "brightness=bright"}},
    {{"set", "brightness=1.5"}},
    {{"set", "autoExposure=4"}},
    {{"set", "autoExposure=-1"}},
    {{"set", "gain=5"}},
    {{"get", "hdr"}},
    {{"auto", "brightness", "on"}},
    {{"lock", "maybe"}},
    {{"preset", "apply", "Nothing"}},
    {{"preset", "update", "Nothing"}},
    {{"preset", "rename", "Nothing", "Else"}},
    {{"preset", "delete", "Nothing"}},
    {{"preset", "save", " \t "}},
    {{"preset", "rename", "Office", " "}},
    {{"--camera", "0c45:6366", "get", "brightness"}},
    {{"--camera", "0c45:6366", "set", "brightness=1"}},
    {{"calibrate", "exposure", "1.5", "0.5"}},
    {{"calibrate", "sparkle", "0.5", "0.5"}},
    {{"snapshot", "no/such/folder/shot.png"}, {}, {}, withoutFolder},
    {{"snapshot", "shot.png", "--size", "1024x768"}, {}, {}, withoutFolder},
    {{"set", "contrast=10"}, "refuse contrast"},
    {{"get", "contrast", "brightness"}},
    {{"get", "brightness"}, "accept contrast"},
    // Without a camera.
    {{"get", "brightness"}, "unplug"},
    {{"set", "brightness=1"}},
    {{"preset", "apply", "Office"}},
    {{"stats"}},
    {{"list"}},
    {{"preset", "list"}},
    // Back, and reset on USB: the camera forgets, and comes back with the wanted settings.
    {{"get", "contrast"}, "plug"},
    {{"set", "contrast=70"}},
    {{"reset"}},
    {{"get", "contrast"}},
};

// One way of running the table: its own simulated camera, settings, session bus and owner.
class Mode {
 public:
  Mode() {
    // Small frames: the picture commands take less time.
    bus_.plug(sim::c200Profile(), "c200", 20, [](sim::ServerOptions& o) {
      o.width = 640;
      o.height = 360;
    });
    // Values that stay where they are put: the auto modes off, at their defaults' values.
    for (const char* line : {"set autoExposure 1", "set exposure 156", "set autoWhiteBalance 0", "set whiteBalance 4600",
                             "set autoFocus 0", "set focus 340"}) {
      bus_.command("c200", line);
    }
    connection_ = QStringLiteral("parity-%1").arg(++count_);
  }
  ~Mode() {
    if (owner_) {
      owner_->terminate();
      owner_->waitForFinished(10000);
    }
    QDBusConnection::disconnectFromBus(connection_);
  }

  bool hasBus() const { return !session_.address().isEmpty(); }
  QString folder() const { return dir_.path(); }
  testing::SimBus& bus() { return bus_; }

  QProcessEnvironment environment() const {
    QProcessEnvironment env = bus_.programEnvironment();
    env.insert("XDG_CONFIG_HOME", dir_.filePath("config"));
    env.insert("VELTO_SYSFS_ROOT", dir_.filePath("no-sysfs"));  // never this machine's cameras
    env.insert("DBUS_SESSION_BUS_ADDRESS", session_.address());
    return env;
  }

  // Starts the owner and waits (real time, bounded) until it answers for the camera.
  ::testing::AssertionResult startOwner(const QString& program, const QStringList& args,
                                        const std::map<QString, QString>& extra = {}) {
    owner_ = std::make_unique<QProcess>();
    QProcessEnvironment env = environment();
    for (const auto& [name, value] : extra) env.insert(name, value);
    owner_->setProcessEnvironment(env);
    owner_->setStandardOutputFile(QProcess::nullDevice());
    owner_->setProcessChannelMode(QProcess::ForwardedErrorChannel);  // its complaints, if any, in the test's log
    owner_->start(program, args);
    if (!owner_->waitForStarted()) return ::testing::AssertionFailure() << program.toStdString() << " did not start";
    if (!waitForOwner(true)) return ::testing::AssertionFailure() << program.toStdString() << " did not take over the camera";
    return ::testing::AssertionSuccess();
  }

  // Waits (real time, bounded) until whoever carries out the next command finds the camera as
  // it is meant to be (`plugged`, back from a re-enumeration too, or unplugged): the owner
  // answering for it or listing none. Time passes differently in each mode; this keeps it out of
  // the comparison.
  void settle(bool plugged) {
    if (plugged && !bus_.waitUntilPlugged("c200")) ADD_FAILURE() << "the camera did not come back";
    if (owner_ && !waitForOwner(plugged)) ADD_FAILURE() << "the owner did not see the camera come or go";
  }

  // Stops the owner, which saves the settings as it goes.
  void stopOwner() {
    if (!owner_) return;
    owner_->terminate();
    EXPECT_TRUE(owner_->waitForFinished(10000));
    EXPECT_EQ(owner_->exitCode(), 0);
    owner_.reset();
  }

  // Waits (real time, bounded) until the owner holds the name and reads the camera (`plugged`),
  // or lists no camera.
  bool waitForOwner(bool plugged) {
    QDBusConnection bus = QDBusConnection::connectToBus(session_.address(), connection_);
    QDBusMessage get = QDBusMessage::createMethodCall(kOwnerBusName, kCameraBusPath, kCameraBusInterface, "Get");
    get.setArguments({QStringList{"brightness"}});
    const QDBusMessage cameras = QDBusMessage::createMethodCall(kOwnerBusName, kCameraBusPath, kCameraBusInterface, "Cameras");
    auto ready = [&] {
      if (!bus.interface()->isServiceRegistered(kOwnerBusName).value()) return false;
      if (plugged) return bus.call(get, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
      const QDBusMessage reply = bus.call(cameras, QDBus::Block, 5000);
      return reply.type() == QDBusMessage::ReplyMessage &&
             qdbus_cast<QVariantList>(reply.arguments().value(0).value<QDBusArgument>()).isEmpty();
    };
    QElapsedTimer timer;
    timer.start();
    while (!ready()) {
      if (timer.elapsed() > 20000 || owner_->state() != QProcess::Running) return false;
      QThread::msleep(20);
    }
    return true;
  }

  Answer run(const QStringList& args) {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.setWorkingDirectory(dir_.path());
    process.start(VELTO_CTL_PATH, args);
    EXPECT_TRUE(process.waitForFinished(30000)) << args.join(' ').toStdString();
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()), {}};
  }

  // The C200's wanted settings in the settings file, by control name.
  std::map<std::string, std::int64_t> savedSettings() {
    UserDefaults defaults(dir_.filePath("config/velto-camera/velto-camera.conf"));
    std::map<std::string, std::int64_t> named;
    for (const auto& [id, value] : Storage(defaults).loadSettings({0x291A, 0x3369}).value_or(ControlValues{})) {
      named[std::string(rawValue(id))] = value;
    }
    return named;
  }
  QStringList savedPresets() {
    UserDefaults defaults(dir_.filePath("config/velto-camera/velto-camera.conf"));
    QStringList names;
    for (const Preset& p : Storage(defaults).loadPresets().value_or(QList<Preset>{})) names.append(p.name);
    return names;
  }

 private:
  static inline int count_ = 0;
  testing::SimBus bus_;
  QTemporaryDir dir_;
  testing::PrivateBus session_;
  QString connection_;
  std::unique_ptr<QProcess> owner_;
};

std::string label(const QStringList& args) { return "velto-ctl " + args.join(' ').toStdString(); }

// Runs the table in `mode` and checks what the camera holds after each row; the answers, made
// alike where they may differ.
std::vector<Answer> runTable(Mode& mode, const char* name) {
  std::vector<Answer> answers;
  bool plugged = true;
  for (const Row& row : kTable) {
    if (!row.cameraBefore.empty()) {
      mode.bus().command("c200", row.cameraBefore);
      if (row.cameraBefore == "unplug" || row.cameraBefore == "plug") plugged = row.cameraBefore == "plug";
    }
    mode.settle(plugged);
    Answer a = mode.run(row.args);
    a.rawOut = a.out;
    if (row.normalise != nullptr) {
      a.out = row.normalise(a.out, mode.folder());
      a.err = row.normalise(a.err, mode.folder());
    }
    if (!row.cameraAfter.empty()) {
      const auto state = mode.bus().state("c200");
      for (const auto& [control, value] : row.cameraAfter) {
        EXPECT_EQ(state.at(control), value) << name << ": " << control << " after " << label(row.args);
      }
    }
    answers.push_back(std::move(a));
  }
  return answers;
}

// What every mode must have left behind.
void expectEndState(Mode& mode, const std::vector<Answer>& answers, const char* name) {
  // The snapshot is a picture of the size it reported.
  std::size_t shot = 0;
  while (kTable[shot].args != QStringList{"snapshot", "shot.png"}) ++shot;
  const QRegularExpressionMatch size =
      QRegularExpression(R"(^wrote <dir>/shot\.png \((\d+)×(\d+)\)\n$)").match(answers[shot].out);
  ASSERT_TRUE(size.hasMatch()) << name << ": " << answers[shot].out.toStdString();
  const QImage image(mode.folder() + "/shot.png");
  EXPECT_EQ(image.size(), QSize(size.captured(1).toInt(), size.captured(2).toInt())) << name;

  // Grey under the simulator's light of 4500 K.
  std::size_t wb = 0;
  while (kTable[wb].args.value(1) != "white-balance") ++wb;
  const QRegularExpressionMatch kelvin = QRegularExpression(R"(^White balance set to (\d+) K\n$)").match(answers[wb].rawOut);
  ASSERT_TRUE(kelvin.hasMatch()) << name << ": " << answers[wb].rawOut.toStdString();
  EXPECT_NEAR(kelvin.captured(1).toInt(), 4500, 150) << name;

  EXPECT_EQ(mode.savedPresets(), QStringList{"Office"}) << name;
}

TEST(VeltoCtlParity, EveryCommandAnswersAlikeWithAndWithoutAnOwner) {
  struct Way {
    const char* name;
    std::function<::testing::AssertionResult(Mode&)> start;
  };
  const std::vector<Way> ways = {
      {"without an owner", [](Mode&) { return ::testing::AssertionSuccess(); }},
      {"through velto-ctl watch", [](Mode& m) { return m.startOwner(VELTO_CTL_PATH, {"watch"}); }},
      {"through velto-camera",
       [](Mode& m) {
         return m.startOwner(VELTO_CAMERA_PATH, {"--hidden", "--simulated-cameras"}, {{"QT_QPA_PLATFORM", "offscreen"}});
       }},
  };
  std::vector<Answer> alone;
  std::map<std::string, std::int64_t> aloneSaved;
  for (const Way& way : ways) {
    QElapsedTimer timer;
    timer.start();
    Mode mode;
    if (!mode.hasBus()) GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_TRUE(way.start(mode));
    const std::vector<Answer> answers = runTable(mode, way.name);
    mode.stopOwner();
    expectEndState(mode, answers, way.name);
    if (alone.empty()) {
      alone = answers;
      aloneSaved = mode.savedSettings();
    } else {
      EXPECT_EQ(mode.savedSettings(), aloneSaved) << "the wanted settings saved " << way.name;
      for (std::size_t i = 0; i < kTable.size(); ++i) {
        const std::string what = label(kTable[i].args) + " " + way.name;
        EXPECT_EQ(answers[i].exitCode, alone[i].exitCode) << what << "\n" << answers[i].err.toStdString();
        EXPECT_EQ(answers[i].out, alone[i].out) << what;
        EXPECT_EQ(answers[i].err, alone[i].err) << what;
      }
    }
    RecordProperty(std::string("ms ") + way.name, static_cast<int>(timer.elapsed()));
  }
}

}  // namespace
}  // namespace velto
