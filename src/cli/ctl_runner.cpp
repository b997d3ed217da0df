#include "cli/ctl_runner.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <unistd.h>

#include "model/camera_store.h"
#include "model/status_text.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "platform/usb/registry.h"
#include "support/system_clock.h"
#include "uvc/uvc_device.h"

namespace velto::cli {
namespace {

std::string hex32(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", v);
  return text;
}

// "the camera did not answer, status 0xe0004051"
std::string failureText(usb::Status s) { return statusReason(s).toStdString() + ", status " + hex32(s); }

// What went wrong with writing one control, in words that do not call a time-out a refusal.
std::string writeFailureText(const WriteFailure& f) {
  const std::string name(rawValue(f.id));
  switch (f.status) {
    case usb::status::pipeStalled:
    case usb::status::badArgument:
    case usb::status::unsupported:
      return "the camera refused " + name + "=" + std::to_string(f.value) + " (status " + hex32(f.status) + ")";
    case usb::status::timeout: return "the camera did not answer when " + name + " was written (" + failureText(f.status) + ")";
    case usb::status::noDevice: return "the camera went away before " + name + " was written (" + failureText(f.status) + ")";
    default: return "writing " + name + " failed (" + failureText(f.status) + ")";
  }
}

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

void printJson(std::ostream& out, const QJsonDocument& document) {
  out << document.toJson(QJsonDocument::Indented).toStdString();
}

// A failure that ends the command with an exit code and one line on standard error.
struct Failure {
  int code;
  std::string message;
};

std::string noCamera(const CtlRequest& request) {
  if (request.camera) return "velto-ctl: no camera " + request.camera->hexString() + " is attached\n";
  return "velto-ctl: no camera is attached\n";
}

// Every control name of the request, checked against the catalogue.
std::optional<Failure> parseNames(const std::vector<std::string>& names, std::vector<ControlID>& ids) {
  for (const std::string& name : names) {
    const auto id = controlFromRawValue(name);
    if (!id) return Failure{kInvalid, "unknown control '" + name + "'"};
    ids.push_back(*id);
  }
  return std::nullopt;
}

// --- Reading commands: the devices themselves, no store, nothing written --------------------------

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
  err << (firstFailure ? "velto-ctl: " + firstFailure->toStdString() + "\n" : noCamera(request));
  return nullptr;
}

int list(const CtlRequest& request, UserDefaults& defaults, std::ostream& out) {
  const std::vector<usb::Service> ordered = candidates(request, defaults);
  const std::uint64_t chosen = ordered.empty() ? 0 : ordered.front().registryID;
  QJsonArray array;
  for (const usb::Service& s : usb::listServices()) {
    const CameraKey key{s.vendorID, s.productID};
    const std::string name = UVCDevice::displayName(s);
    // Opening says whether the camera can be used at all, and if not, why.
    const OpenResult opened = UVCDevice::open(s);
    const std::optional<QString> problem =
        opened.device ? std::nullopt : std::optional(cannotOpenMessage(s, opened));
    const bool isChosen = !ordered.empty() && s.registryID == chosen;
    if (request.json) {
      QJsonObject o{{"name", qs(name)},
                    {"id", qs(key.hexString())},
                    {"vendorID", key.vendorID},
                    {"productID", key.productID},
                    {"locationID", static_cast<qint64>(s.locationID)},
                    {"carrier", qs(usb::carrierName(s.carrier))},
                    {"chosen", isChosen}};
      if (problem) o.insert("problem", *problem);
      array.append(o);
    } else {
      out << (isChosen ? "* " : "  ") << name << "  " << key.hexString() << "  location " << hex32(s.locationID)
          << "  " << usb::carrierName(s.carrier);
      if (problem) out << "  (" << problem->toStdString() << ")";
      out << "\n";
    }
  }
  if (request.json) printJson(out, QJsonDocument(array));
  return kSuccess;
}

int controls(const CtlRequest& request, UserDefaults& defaults, std::ostream& out, std::ostream& err) {
  const std::shared_ptr<UVCDevice> device = chosenDevice(request, defaults, err);
  if (!device) return kNoCamera;
  UVCDevice& d = *device;
  const ControlRanges ranges = d.readRanges();
  const ControlValues values = d.readAll();
  if (values.empty() && !d.supported().empty()) {
    err << "velto-ctl: " << d.name() << " does not answer\n";
    return kCameraFailed;
  }
  QJsonArray array;
  if (!request.json) {
    out << std::left << std::setw(22) << "NAME" << std::setw(20) << "TITLE" << std::right << std::setw(8) << "MIN"
        << std::setw(8) << "MAX" << std::setw(6) << "STEP" << std::setw(9) << "DEFAULT" << std::setw(8) << "VALUE\n";
  }
  for (ControlID id : d.supported()) {
    const auto range = ranges.find(id);
    const auto value = values.find(id);
    if (request.json) {
      QJsonObject o{{"name", qs(rawValue(id))}, {"title", qs(title(id))}};
      if (range != ranges.end()) {
        o.insert("min", static_cast<qint64>(range->second.min));
        o.insert("max", static_cast<qint64>(range->second.max));
        o.insert("step", static_cast<qint64>(range->second.step));
        o.insert("default", static_cast<qint64>(range->second.defaultValue));
      }
      o.insert("value", value != values.end() ? QJsonValue(static_cast<qint64>(value->second)) : QJsonValue());
      array.append(o);
      continue;
    }
    auto field = [](bool present, std::int64_t v) { return present ? std::to_string(v) : std::string("-"); };
    const bool r = range != ranges.end();
    out << std::left << std::setw(22) << rawValue(id) << std::setw(20) << title(id) << std::right << std::setw(8)
        << field(r, r ? range->second.min : 0) << std::setw(8) << field(r, r ? range->second.max : 0) << std::setw(6)
        << field(r, r ? range->second.step : 0) << std::setw(9) << field(r, r ? range->second.defaultValue : 0)
        << std::setw(7) << field(value != values.end(), value != values.end() ? value->second : 0) << "\n";
  }
  if (request.json) printJson(out, QJsonDocument(array));
  return kSuccess;
}

int get(const CtlRequest& request, UserDefaults& defaults, std::ostream& out, std::ostream& err) {
  std::vector<ControlID> ids;
  if (auto failure = parseNames(request.operands, ids)) {
    err << "velto-ctl: " << failure->message << "\n";
    return failure->code;
  }
  const std::shared_ptr<UVCDevice> device = chosenDevice(request, defaults, err);
  if (!device) return kNoCamera;
  UVCDevice& d = *device;
  QJsonObject object;
  std::ostringstream text;
  for (ControlID id : ids) {
    if (!d.supports(id)) {
      err << "velto-ctl: " << d.name() << " has no control " << rawValue(id) << "\n";
      return kInvalid;
    }
    if (!spec(id).readable) {
      err << "velto-ctl: " << rawValue(id) << " cannot be read back from the camera\n";
      return kInvalid;
    }
    usb::Status status = usb::status::success;
    const auto value = d.read(id, &status);
    if (!value) {
      err << "velto-ctl: reading " << rawValue(id) << " failed (" << failureText(status) << ")\n";
      return kCameraFailed;
    }
    object.insert(qs(rawValue(id)), static_cast<qint64>(*value));
    text << rawValue(id) << "=" << *value << "\n";
  }
  if (request.json) {
    printJson(out, QJsonDocument(object));
  } else {
    out << text.str();
  }
  return kSuccess;
}

// A name as one line of text: line breaks and other control characters written as escapes.
std::string printable(const QString& name) {
  std::string text;
  for (const char c : name.toStdString()) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\n') {
      text += "\\n";
    } else if (c == '\t') {
      text += "\\t";
    } else if (c == '\\') {
      text += "\\\\";
    } else if (u < 0x20 || u == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      text += hex;
    } else {
      text += c;
    }
  }
  return text;
}

int listPresets(const CtlRequest& request, UserDefaults& defaults, std::ostream& out) {
  const QList<Preset> presets = Storage(defaults).loadPresets().value_or(QList<Preset>{});
  QJsonArray array;
  for (const Preset& p : presets) {
    QJsonObject values;
    for (const auto& [id, v] : p.values) values.insert(qs(rawValue(id)), static_cast<qint64>(v));
    if (request.json) {
      array.append(QJsonObject{{"id", p.id.toString(QUuid::WithoutBraces).toUpper()}, {"name", p.name}, {"values", values}});
    } else {
      out << printable(p.name) << "  (" << p.values.size() << (p.values.size() == 1 ? " control" : " controls") << ")\n";
    }
  }
  if (request.json) printJson(out, QJsonDocument(array));
  return kSuccess;
}

// --- Changing commands: through the store ------------------------------------------------------------

// The index of the preset called `nameOrId` (its name first, then its id), or none.
std::optional<qsizetype> findPreset(const QList<Preset>& presets, const std::string& nameOrId) {
  const QString wanted = QString::fromStdString(nameOrId);
  for (qsizetype i = 0; i < presets.size(); ++i) {
    if (presets[i].name == wanted) return i;
  }
  const QUuid id = QUuid::fromString(wanted);
  for (qsizetype i = 0; i < presets.size(); ++i) {
    if (!id.isNull() && presets[i].id == id) return i;
  }
  return std::nullopt;
}

// A preset's name as the application takes it: spaces and tabs around it removed; empty refused.
std::optional<QString> presetName(const std::string& text) {
  QString name = QString::fromStdString(text);
  while (!name.isEmpty() && (name.front() == ' ' || name.front() == '\t')) name.remove(0, 1);
  while (!name.isEmpty() && (name.back() == ' ' || name.back() == '\t')) name.chop(1);
  if (name.isEmpty()) return std::nullopt;
  return name;
}

int saveFailed(const QString& why, std::ostream& err) {
  err << "velto-ctl: " << why.toStdString() << "\n";
  return kSaveFailed;
}

int watch(CameraStore& store, std::ostream& out, std::ostream& err);

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

int change(const CtlRequest& request, UserDefaults& defaults, std::ostream& out, std::ostream& err) {
  const std::string& cmd = request.command;
  const std::string& sub = request.subcommand;

  // Everything that can be checked without a camera is checked first.
  ControlValues values;
  std::vector<ControlID> ids;
  if (cmd == "set") {
    for (const std::string& pair : request.operands) {
      const auto eq = pair.find('=');
      const std::string name = pair.substr(0, eq);
      const std::string text = pair.substr(eq + 1);
      const auto id = controlFromRawValue(name);
      if (!id) {
        err << "velto-ctl: unknown control '" << name << "'\n";
        return kInvalid;
      }
      const auto value = parseInteger(text);
      if (!value) {
        err << "velto-ctl: invalid value '" << text << "' for " << name << " (an integer is needed)\n";
        return kInvalid;
      }
      if (!acceptsValue(*id, *value, nullptr)) {
        err << "velto-ctl: " << *value << " is not a mode of " << name
            << (*id == ControlID::autoExposure ? " (1 manual, 2 auto, 4 shutter priority, 8 aperture priority)\n"
                                               : " (0 off, 1 on)\n");
        return kInvalid;
      }
      values[*id] = *value;
      ids.push_back(*id);
    }
  } else if (cmd == "auto") {
    const auto id = controlFromRawValue(request.operands[0]);
    if (!id || !governedControl(*id)) {
      err << "velto-ctl: '" << request.operands[0] << "' is not an auto mode (autoExposure, autoFocus, autoWhiteBalance)\n";
      return kInvalid;
    }
    ids.push_back(*id);
  } else if (cmd == "defaults") {
    if (auto failure = parseNames(request.operands, ids)) {
      err << "velto-ctl: " << failure->message << "\n";
      return failure->code;
    }
  } else if (cmd == "refocus") {
    ids.push_back(ControlID::autoFocus);
  }

  Storage storage(defaults);
  std::optional<Preset> preset;
  std::optional<QString> newName;
  if (cmd == "preset") {
    const std::string& nameArg = sub == "rename" ? request.operands[1] : request.operands[0];
    if (sub == "save" || sub == "rename") {
      newName = presetName(nameArg);
      if (!newName) {
        err << "velto-ctl: a preset needs a name\n";
        return kInvalid;
      }
    }
  }
  if (cmd == "preset" && sub != "save") {
    QList<Preset> presets = storage.loadPresets().value_or(QList<Preset>{});
    const auto index = findPreset(presets, request.operands[0]);
    if (!index) {
      err << "velto-ctl: no preset named '" << request.operands[0] << "'\n";
      return kInvalid;
    }
    preset = presets[*index];
    // Renaming and deleting need no camera. They act on the preset found, even when another
    // shares its id.
    if (sub == "rename" || sub == "delete") {
      if (sub == "rename") {
        presets[*index].name = *newName;
      } else {
        presets.removeAt(*index);
      }
      storage.savePresets(presets);
      if (const auto why = storage.sync()) {
        return saveFailed(QStringLiteral("Couldn't save your settings (%1: %2).").arg(storage.path(), *why), err);
      }
      return kSuccess;
    }
  }

  SystemClock clock;
  LoginItem login(QStringLiteral("velto-camera"));
  CameraStore::Options options;
  options.camera = request.camera;
  options.watchHotplug = cmd == "watch";
  options.watchWake = cmd == "watch";
  options.keepLocked = request.lock;
  CameraStore store(clock, defaults, login, options);
  std::vector<WriteFailure> failures;
  QObject::connect(&store, &CameraStore::writeFailed, [&](const std::vector<WriteFailure>& f) {
    failures.insert(failures.end(), f.begin(), f.end());
  });
  if (cmd == "watch") return watch(store, out, err);

  // Only the store's own connection is waited for; its periodic read-backs are not this command's.
  waitFor([&](std::function<void()> done) {
    QObject::connect(&store, &CameraStore::connectionSettled, &store, done, Qt::SingleShotConnection);
  });
  if (!store.device()) {
    if (store.lastError() && store.lastError()->startsWith(QStringLiteral("Cannot open"))) {
      QString message = *store.lastError();
      message[0] = message[0].toLower();
      err << "velto-ctl: " << message.toStdString() << "\n";
    } else {
      err << noCamera(request);
    }
    return kNoCamera;
  }
  const std::string cameraName = store.device()->name.toStdString();
  if (!store.isConnected()) {
    err << "velto-ctl: " << cameraName << " does not answer\n";
    return kCameraFailed;
  }
  for (ControlID id : ids) {
    if (!store.supports(id)) {
      err << "velto-ctl: " << cameraName << (id == ControlID::autoFocus && cmd == "refocus" ? " has no auto focus" : " has no control " + std::string(rawValue(id))) << "\n";
      return kInvalid;
    }
  }
  for (const auto& [id, value] : values) {
    if (!store.accepts(id, value)) {
      err << "velto-ctl: " << cameraName << " does not offer " << rawValue(id) << " mode " << value << "\n";
      return kInvalid;
    }
  }
  failures.clear();  // what the connection's own corrections met is not this command's business

  const std::optional<QString> errorBefore = store.lastError();
  if (cmd == "set") {
    store.set(values);
  } else if (cmd == "auto") {
    store.setAuto(ids[0], request.operands[1] == "on");
  } else if (cmd == "defaults") {
    store.resetToDefaults(ids.empty() ? std::nullopt : std::optional(ids));
  } else if (cmd == "refocus") {
    store.refocus();
  } else if (cmd == "reset") {
    store.resetCamera();
  } else if (sub == "save") {
    store.savePreset(*newName);
  } else if (sub == "apply") {
    for (const auto& [id, v] : preset->values) {
      if (store.supports(id)) ids.push_back(id);
    }
    store.applyPreset(*preset);
  } else if (sub == "update") {
    store.updatePreset(preset->id);
  }
  waitFor([&](std::function<void()> done) { store.whenChangesDone(std::move(done)); });

  int code = kSuccess;
  if (cmd == "reset" && store.lastError() && store.lastError() != errorBefore) {
    err << "velto-ctl: " << store.lastError()->toStdString() << "\n";
    code = kCameraFailed;
  }
  for (const WriteFailure& f : failures) {
    if (code == kSuccess && (std::find(ids.begin(), ids.end(), f.id) != ids.end() || cmd == "defaults")) {
      err << "velto-ctl: " << writeFailureText(f) << "\n";
      code = kCameraFailed;
    }
  }
  // What the command changed is saved whatever the camera made of it.
  if (!store.saveNow()) return saveFailed(*store.lastError(), err);
  return code;
}

// --- watch -----------------------------------------------------------------------------------------

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

int watch(CameraStore& store, std::ostream& out, std::ostream& err) {
  if (::pipe(signalPipe) != 0) return kCameraFailed;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });

  auto report = [&] {
    const auto& d = store.device();
    if (d && store.isConnected()) {
      out << "connected: " << d->name.toStdString() << " (" << d->key.hexString() << ")" << std::endl;
    } else if (d) {
      out << d->name.toStdString() << " does not answer" << std::endl;
    } else {
      out << "no camera" << std::endl;
    }
  };
  QObject::connect(&store, &CameraStore::connectionSettled, report);
  out << "watching; keep settings locked: " << (store.keepLocked() ? "on" : "off") << std::endl;
  QCoreApplication::exec();
  if (!store.saveNow()) return saveFailed(*store.lastError(), err);
  return kSuccess;
}

}  // namespace

int runCtl(const CtlRequest& request, std::ostream& out, std::ostream& err) {
  if (request.help) {
    out << kUsageText;
    return kSuccess;
  }
  // The logs are for finding out why; a plain run says it in its own words on standard error.
  // QT_LOGGING_RULES still overrides both.
  QLoggingCategory::setFilterRules(request.verbose ? QStringLiteral("velto.*=true") : QStringLiteral("velto.*=false"));
  UserDefaults defaults;
  const std::string& cmd = request.command;
  if (cmd == "list") return list(request, defaults, out);
  if (cmd == "controls") return controls(request, defaults, out, err);
  if (cmd == "get") return get(request, defaults, out, err);
  if (cmd == "preset" && request.subcommand == "list") return listPresets(request, defaults, out);
  return change(request, defaults, out, err);
}

}  // namespace velto::cli
