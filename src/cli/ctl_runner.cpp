// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/ctl_runner.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFileInfo>
#include <QEventLoop>
#include <QLockFile>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ostream>

#include <fcntl.h>
#include <unistd.h>

#include "capture/calibrator.h"
#include "capture/capture_bus.h"
#include "capture/capture_commands.h"
#include "capture/preview_controller.h"
#include "cli/ctl_output.h"
#include "cli/ctl_owner_client.h"
#include "model/camera_store.h"
#include "model/session_owner.h"
#include "model/status_text.h"
#include "model/store_commands.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "platform/usb/registry.h"
#include "platform/usb/sim_directory.h"
#include "platform/video/gst_capture_backend.h"
#include "support/system_clock.h"
#include "uvc/uvc_device.h"

namespace velto::cli {
namespace {

// The machine's cameras through GStreamer. A one-shot command does not wait for cameras to come.
std::unique_ptr<video::CaptureBackend> captureBackend(bool watchDevices) {
  video::GstCaptureOptions options = video::defaultGstCaptureOptions();
  options.watchDevices = watchDevices;
  return std::make_unique<video::GstCaptureBackend>(std::move(options));
}

int fail(int code, const std::string& message, std::ostream& err) {
  err << "velto-ctl: " << message << "\n";
  return code;
}

std::string noCamera(const CtlRequest& request) {
  if (request.camera) return "no camera " + request.camera->hexString() + " is attached";
  return "no camera is attached";
}

// --- Reading commands without an owner: the devices themselves, no store, nothing written -----------

// The registry's cameras in the order the store would try them: the chosen one first. With
// --camera, only that model.
std::vector<usb::Service> candidates(const CtlRequest& request, UserDefaults& defaults) {
  std::vector<usb::Service> services = usb::listServices();
  std::vector<CameraKey> keys;
  for (const usb::Service& s : services) keys.push_back({s.vendorID, s.productID});
  const CameraKey preferred = request.camera.value_or(Storage(defaults).loadPreferredCamera().value_or(kAnkerC200));
  std::vector<usb::Service> ordered;
  for (std::size_t i : cameraCandidates(keys, preferred, request.camera.has_value())) ordered.push_back(services[i]);
  return ordered;
}

// Opens the camera the store would connect to, or says on `err` why there is none.
std::shared_ptr<UVCDevice> chosenDevice(const CtlRequest& request, UserDefaults& defaults, std::ostream& err) {
  std::optional<QString> firstFailure;
  for (const usb::Service& service : candidates(request, defaults)) {
    OpenResult opened = UVCDevice::open(service);
    if (opened.device) return opened.device;
    if (!firstFailure) firstFailure = cannotOpenMessage(service, opened);
  }
  fail(kNoCamera, firstFailure ? firstFailure->toStdString() : noCamera(request), err);
  return nullptr;
}

int list(const CtlRequest& request, UserDefaults& defaults, std::ostream& out) {
  const std::vector<usb::Service> ordered = candidates(request, defaults);
  std::vector<ListedCamera> cameras;
  for (const usb::Service& s : usb::listServices()) {
    // Opening says whether the camera can be used at all, and if not, why.
    const OpenResult opened = UVCDevice::open(s);
    ListedCamera c{UVCDevice::displayName(s), {s.vendorID, s.productID}, s.locationID,
                   std::string(usb::carrierName(s.carrier)), !ordered.empty() && s.registryID == ordered.front().registryID,
                   std::nullopt};
    if (!opened.device) c.problem = cannotOpenMessage(s, opened).toStdString();
    cameras.push_back(std::move(c));
  }
  printCameras(cameras, request.json, out);
  return kSuccess;
}

int controls(const CtlRequest& request, UserDefaults& defaults, std::ostream& out, std::ostream& err) {
  const std::shared_ptr<UVCDevice> device = chosenDevice(request, defaults, err);
  if (!device) return kNoCamera;
  const ControlRanges ranges = device->readRanges();
  const ControlValues values = device->readAll();
  if (values.empty() && !device->supported().empty()) return fail(kCameraFailed, device->name() + " does not answer", err);
  std::vector<ControlRow> rows;
  for (ControlID id : device->supported()) {
    ControlRow row{id, std::nullopt, std::nullopt, {}};
    const auto r = ranges.find(id);
    if (r != ranges.end()) row.range = r->second;
    row.modes = offeredModes(id, r != ranges.end() ? &r->second : nullptr);
    if (auto v = values.find(id); v != values.end()) row.value = v->second;
    rows.push_back(row);
  }
  printControls(rows, request.json, out);
  return kSuccess;
}

int get(const CtlRequest& request, UserDefaults& defaults, std::ostream& out, std::ostream& err) {
  std::vector<ControlID> ids;
  for (const std::string& name : request.operands) {
    const auto id = controlFromRawValue(name);
    if (!id) return fail(kInvalid, "unknown control '" + name + "'", err);
    ids.push_back(*id);
  }
  const std::shared_ptr<UVCDevice> device = chosenDevice(request, defaults, err);
  if (!device) return kNoCamera;
  for (ControlID id : ids) {
    if (auto why = unreadableControl(QString::fromStdString(device->name()), device->supports(id), id)) {
      return fail(kInvalid, why->toStdString(), err);
    }
  }
  ControlValues values;
  std::map<ControlID, std::string> failures;
  std::optional<usb::Status> hung;
  for (ControlID id : ids) {
    usb::Status status = hung.value_or(usb::status::success);
    // A camera that let a request time out would only let the others time out too.
    const auto value = hung ? std::nullopt : device->read(id, &status);
    if (value) {
      values[id] = *value;
      continue;
    }
    failures[id] = readFailure(id, status).toStdString();
    if (status == usb::status::timeout) hung = status;
  }
  return printReading(ids, values, failures, request.json, out, err) ? kSuccess : kCameraFailed;
}

// --- Changing commands without an owner: a store of our own, one command at a time ---------------

// Runs the event loop until `done` has been called.
void waitFor(const std::function<void(std::function<void()>)>& start) {
  QEventLoop loop;
  bool finished = false;
  start([&] {
    finished = true;
    loop.quit();
  });
  if (!finished) loop.exec();
}

// Why no file can be made in `folder` (QLockFile says only that it could not), in the system's
// words: "Permission denied", "Read-only file system", "Not a directory".
std::string whyUnwritable(const QString& folder) {
  if (!QFileInfo(folder).isDir()) {
    // The nearest part of the path that exists says why the folder could not be made.
    QFileInfo part(folder);
    while (!part.exists() && part.absolutePath() != part.absoluteFilePath()) part = QFileInfo(part.absolutePath());
    if (!part.isDir()) return std::strerror(ENOTDIR);
    if (::access(QFile::encodeName(part.absoluteFilePath()).constData(), W_OK) != 0) return std::strerror(errno);
    return "it cannot be made";
  }
  // A file of our own, not the lock: another velto-ctl must never find a lock that is not one.
  const QByteArray probe = QFile::encodeName(folder + QStringLiteral("/.velto-ctl.%1").arg(::getpid()));
  const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(probe.constData());
  return "the lock file cannot be made there";
}

// Without an owner, every velto-ctl that changes something loads, changes and saves the settings
// in turn: a lock file beside them (not QSettings' own "<file>.lock", which it takes for each
// write). A holder that died leaves a lock that is taken over at once (its process is gone); one
// that has held it longer than any command takes (a slow camera's, included) is presumed stuck.
// `body` runs with the lock held and the settings read only then, and they are gone before the
// lock is: nothing of an earlier reading, and no write after the next command has started.
int withSettingsLock(const QString& settingsPath, std::ostream& err, const std::function<int(UserDefaults&)>& body) {
  const QString folder = QFileInfo(settingsPath).absolutePath();
  QDir().mkpath(folder);
  const QString lockPath = folder + QStringLiteral("/velto-ctl.lock");
  QLockFile lock(lockPath);
  lock.setStaleLockTime(std::chrono::minutes(5));
  // QLockFile's own waiting sleeps in doubling steps from 100 ms: a queue of commands would crawl.
  // The next one in line looks often instead.
  for (int pause = 2; !lock.tryLock(0); pause = std::min(pause * 2, 50)) {
    if (lock.error() != QLockFile::LockFailedError) {
      // The lock lives beside the settings: what keeps it out keeps them out too.
      return fail(kSaveFailed,
                  "cannot write the settings folder " + folder.toStdString() + ": " + whyUnwritable(folder), err);
    }
    QThread::msleep(static_cast<unsigned long>(pause));
  }
  UserDefaults defaults(settingsPath);
  return body(defaults);
}

// A store of this command's own, settled on its camera (or on none), having read `controls` (all
// when none).
std::unique_ptr<CameraStore> ownStore(Clock& clock, UserDefaults& defaults, LoginItem& login, const CtlRequest& request,
                                      std::optional<std::vector<ControlID>> controls = std::nullopt) {
  CameraStore::Options options;
  options.camera = request.camera;
  options.controls = std::move(controls);
  options.watchHotplug = false;
  options.watchWake = false;
  options.followSettingsFile = false;  // the lock keeps everyone else out meanwhile
  options.followNotices = false;       // it reads what it needs, once
  auto store = std::make_unique<CameraStore>(clock, defaults, login, options);
  // Only the store's own connection is waited for; its periodic read-backs are not ours.
  waitFor([&](std::function<void()> done) {
    QObject::connect(store.get(), &CameraStore::connectionSettled, store.get(), done, Qt::SingleShotConnection);
  });
  return store;
}

// The controls a change has its store read when it connects. Those the command needs spare a slow
// camera dozens of requests; but a camera model's first connection reads them all, as an owner's
// store does, so that its wanted settings hold every control from then on. Otherwise each control
// left out would be taken later from whatever the camera then holds, another application's
// change included, and a preset saved then would differ from one saved through an owner.
std::optional<std::vector<ControlID>> controlsToConnect(const ChangeCommand& command, const CtlRequest& request,
                                                        UserDefaults& defaults) {
  std::optional<std::vector<ControlID>> controls = controlsToRead(command);
  if (!controls) return controls;
  const std::vector<usb::Service> services = candidates(request, defaults);
  if (services.empty()) return controls;
  if (!Storage(defaults).loadSettings({services.front().vendorID, services.front().productID})) return std::nullopt;
  return controls;
}

int change(const CtlRequest& request, const QString& settingsPath, std::ostream& err) {
  const ChangeParse parsed = parseChange(request);
  if (!parsed.command) return fail(kInvalid, parsed.error, err);
  const ChangeCommand& command = *parsed.command;
  return withSettingsLock(settingsPath, err, [&](UserDefaults& defaults) {
    CommandOutcome outcome;
    if (command.kind == ChangeCommand::Kind::presetRename || command.kind == ChangeCommand::Kind::presetDelete) {
      // These need no camera: the presets alone, changed in the file.
      Storage storage(defaults);
      const bool rename = command.kind == ChangeCommand::Kind::presetRename;
      const auto name = presetName(command.newName);
      if (rename && !name) return fail(kInvalid, "a preset needs a name", err);
      QList<Preset> presets = storage.loadPresets().value_or(QList<Preset>{});
      const auto index = findPreset(presets, command.preset);
      if (!index) return fail(kInvalid, "no preset named '" + command.preset.toStdString() + "'", err);
      if (rename) {
        presets[*index].name = *name;
      } else {
        presets.removeAt(*index);
      }
      storage.savePresets(presets);
      if (const auto why = storage.sync()) {
        outcome = {CommandOutcome::saveFailed, QStringLiteral("Couldn't save your settings (%1: %2).").arg(storage.path(), *why)};
      }
    } else {
      SystemClock clock;
      LoginItem login(QStringLiteral("velto-camera"));
      const auto store = ownStore(clock, defaults, login, request, controlsToConnect(command, request, defaults));
      waitFor([&](std::function<void()> done) {
        runChange(*store, command, [&outcome, done](CommandOutcome o) {
          outcome = std::move(o);
          done();
        });
      });
    }
    if (outcome.code != CommandOutcome::ok) return fail(outcome.code, outcome.message.toStdString(), err);
    return int(kSuccess);
  });
}

// Whether other applications' changes are undone: read from the settings, or changed in them.
int lock(const CtlRequest& request, const QString& settingsPath, std::ostream& out, std::ostream& err) {
  const QString key = QStringLiteral("keepLocked");
  if (request.operands.empty()) {
    UserDefaults defaults(settingsPath);
    printLock(Storage(defaults).loadBoolean(key).value_or(true), out);
    return kSuccess;
  }
  return withSettingsLock(settingsPath, err, [&](UserDefaults& defaults) {
    Storage storage(defaults);
    storage.saveBoolean(key, request.operands.front() == "on");
    if (const auto why = storage.sync()) {
      return fail(kSaveFailed, QStringLiteral("Couldn't save your settings (%1: %2).").arg(storage.path(), *why).toStdString(), err);
    }
    return int(kSuccess);
  });
}

// --- The picture without an owner: a preview of our own ---------------------------------------------

int capture(const CtlRequest& request, const QString& settingsPath, std::ostream& out, std::ostream& err) {
  CaptureParse parsed = parseCapture(request);
  if (!parsed.command) return fail(kInvalid, parsed.error, err);
  CaptureCommand& command = *parsed.command;
  std::optional<SnapshotFile> snapshot;
  if (command.kind == CaptureCommand::Kind::snapshot) {
    command.file = QFileInfo(command.file).absoluteFilePath();
    snapshot.emplace(command.file);
    if (auto why = snapshot->open()) return fail(CommandOutcome::unavailable, *why, err);
    command.fd = snapshot->handle();
  }

  SystemClock clock;
  auto run = [&](const CaptureTarget& target, CameraStore* store, UserDefaults& defaults) {
    PreviewController preview(clock, captureBackend(false), {});
    // The mode chosen in the window for this model, unless the command names one.
    preview.rememberModesIn(defaults);
    Calibrator calibrator(clock);
    CaptureOutcome outcome;
    waitFor([&](std::function<void()> done) {
      runCapture(clock, preview, target, store, &calibrator, command, [&outcome, done](CaptureOutcome o) {
        outcome = std::move(o);
        done();
      });
    });
    if (outcome.outcome.code != CommandOutcome::ok) return fail(outcome.outcome.code, outcome.outcome.message.toStdString(), err);
    if (snapshot) {
      if (auto why = snapshot->commit()) return fail(CommandOutcome::unavailable, *why, err);
      outcome.result.insert(QStringLiteral("file"), snapshot->path());
    }
    printCapture(command.kind, outcome.result, request.json, out);
    return int(kSuccess);
  };

  if (command.kind != CaptureCommand::Kind::calibrate) {
    // Looking changes nothing: the camera the store would choose, without a store.
    UserDefaults defaults(settingsPath);
    const auto services = candidates(request, defaults);
    if (services.empty()) return fail(kNoCamera, noCamera(request), err);
    const usb::Service& s = services.front();
    return run({QString::fromStdString(UVCDevice::displayName(s)), s.locationID, {s.vendorID, s.productID}}, nullptr,
               defaults);
  }
  // Calibrating writes the camera's controls, as a change does.
  return withSettingsLock(settingsPath, err, [&](UserDefaults& defaults) {
    LoginItem login(QStringLiteral("velto-camera"));
    const auto store = ownStore(clock, defaults, login, request);
    const auto target = captureTargetOf(*store);
    if (!target) return fail(kNoCamera, noCamera(request), err);
    if (!store->isConnected()) return fail(kCameraFailed, target->name.toStdString() + " does not answer", err);
    const int code = run(*target, store.get(), defaults);
    if (!store->saveNow()) return fail(kSaveFailed, store->lastErrorText().toStdString(), err);
    return code;
  });
}

// --- watch: the session's owner until stopped, or waiting to become it ----------------------------

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

int watch(const CtlRequest& request, UserDefaults& defaults, std::ostream& out, std::ostream& err) {
  if (::pipe(signalPipe) != 0) return fail(kCameraFailed, "cannot watch for signals", err);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });

  SystemClock clock;
  LoginItem login(QStringLiteral("velto-camera"));
  const QDBusConnection bus = QDBusConnection::sessionBus();
  SessionOwner* owning = nullptr;
  // One preview for the whole run, whichever store is current: velto-ctl stats, snapshot and
  // calibrate run beside us capture through it.
  PreviewController preview(clock, captureBackend(true), [&owning] {
    if (CameraStore* s = owning != nullptr ? owning->store() : nullptr) s->resetCamera();
  });
  preview.rememberModesIn(defaults);
  Calibrator calibrator(clock);
  auto makeStore = [&]() {
    defaults.reload();  // the previous owner's last word, read afresh
    CameraStore::Options options;
    options.camera = request.camera;
    options.keepLocked = request.lock;
    auto store = std::make_unique<CameraStore>(clock, defaults, login, options);
    CameraStore* s = store.get();
    QObject::connect(s, &CameraStore::connectionSettled, s, [s, &out] {
      const auto& d = s->device();
      if (d && s->isConnected()) {
        out << "connected: " << d->name.toStdString() << " (" << d->key.hexString() << ")" << std::endl;
      } else if (d) {
        out << d->name.toStdString() << " does not answer" << std::endl;
      } else {
        out << "no camera" << std::endl;
      }
    });
    out << "watching; keep settings locked: " << (store->keepLocked() ? "on" : "off") << std::endl;
    return store;
  };
  SessionOwner owner(SessionOwner::Claim::queue, makeStore, bus);
  owning = &owner;
  // Exported before the name is asked for, as the store's service is.
  std::unique_ptr<CaptureBusService> capture;
  if (bus.isConnected()) {
    capture = std::make_unique<CaptureBusService>(clock, [&owner] { return owner.store(); }, preview, calibrator, bus);
    QObject::connect(&owner, &SessionOwner::storeClosing, capture.get(), [&capture] {
      capture->endAll(QStringLiteral("another program owns the cameras now"));
    });
  }
  QObject::connect(&owner, &SessionOwner::ownershipChanged, [&out](bool owns) {
    if (!owns) out << "another program owns the cameras now; waiting" << std::endl;
  });
  owner.claim();
  if (!owner.store()) out << "another program owns the cameras; waiting" << std::endl;
  QCoreApplication::exec();
  capture.reset();
  if (owner.store() && !owner.store()->saveNow()) return fail(kSaveFailed, owner.store()->lastErrorText().toStdString(), err);
  return kSuccess;
}

}  // namespace

std::optional<std::string> SnapshotFile::open() {
  // Refused by the directory's owner as the user would be: the check is the open itself.
  if (file_.open(QIODevice::WriteOnly)) return std::nullopt;
  return "can't write " + file_.fileName().toStdString() + " (" + file_.errorString().toStdString() + ")";
}

std::optional<std::string> SnapshotFile::commit() {
  if (file_.commit()) return std::nullopt;
  return "can't write " + file_.fileName().toStdString() + " (" + file_.errorString().toStdString() + ")";
}

int runCtl(const CtlRequest& request, std::ostream& out, std::ostream& err) {
  if (request.help) {
    out << kUsageText;
    return kSuccess;
  }
  // The logs are for finding out why; a plain run says it in its own words on standard error.
  // QT_LOGGING_RULES still overrides both.
  QLoggingCategory::setFilterRules(request.verbose ? QStringLiteral("velto.*=true") : QStringLiteral("velto.*=false"));
  const std::string& cmd = request.command;
  // With an owner in the session, it alone touches the cameras and the settings.
  if (cmd != "watch") {
    if (auto bus = sessionOwnerBus()) {
      const int code = runThroughOwner(request, *bus, out, err);
      // Off the bus before the program winds down: a message still coming in would otherwise be
      // read by Qt's D-Bus thread while the types it needs are being torn down, and Qt says so on
      // standard error ("Trying to construct an instance of an invalid type").
      QDBusConnection::disconnectFromBus(bus->name());
      return code;
    }
  }
  if (request.simulatedCameras) usb::requestSimulatedCameras();
  // Said once here, rather than a camera missing from every listing without a word.
  if (const usb::SimDirectoryChoice sim = usb::simulatedCameraDirectory(); !sim.refusal.empty()) {
    err << "velto-ctl: simulated cameras are not listed: " << sim.refusal << "\n";
  }
  if (cmd == "stats" || cmd == "snapshot" || cmd == "calibrate" || cmd == "formats") {
    return capture(request, UserDefaults::defaultPath(), out, err);
  }
  if (cmd == "lock") return lock(request, UserDefaults::defaultPath(), out, err);
  const bool reading = cmd == "list" || cmd == "controls" || cmd == "get" || (cmd == "preset" && request.subcommand == "list");
  if (!reading && cmd != "watch") return change(request, UserDefaults::defaultPath(), err);
  UserDefaults defaults;
  if (cmd == "list") return list(request, defaults, out);
  if (cmd == "controls") return controls(request, defaults, out, err);
  if (cmd == "get") return get(request, defaults, out, err);
  if (cmd == "preset") {
    printPresets(Storage(defaults).loadPresets().value_or(QList<Preset>{}), request.json, out);
    return kSuccess;
  }
  return watch(request, defaults, out, err);
}

}  // namespace velto::cli
