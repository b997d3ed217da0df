#include "cli/ctl_runner.h"

#include <QCoreApplication>
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

std::string statusText(usb::Status s) { return hex32(s) + " " + std::string(usb::statusName(s)); }

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

struct Listed {
  usb::Service service;
  std::shared_ptr<UVCDevice> device;
};

std::vector<Listed> listCameras() {
  std::vector<Listed> cameras;
  for (usb::Service& service : usb::listServices()) {
    if (auto device = UVCDevice::create(service)) cameras.push_back({std::move(service), std::move(device)});
  }
  return cameras;
}

// The camera the store would connect to; with --camera, that model or none.
const Listed* chooseCamera(const std::vector<Listed>& cameras, const CtlRequest& request, UserDefaults& defaults) {
  if (request.camera) {
    for (const Listed& c : cameras) {
      if (c.device->key() == *request.camera) return &c;
    }
    return nullptr;
  }
  std::vector<CameraKey> keys;
  for (const Listed& c : cameras) keys.push_back(c.device->key());
  const auto chosen = velto::chooseCamera(keys, Storage(defaults).loadPreferredCamera().value_or(kAnkerC200));
  return chosen ? &cameras[*chosen] : nullptr;
}

std::shared_ptr<UVCDevice> chosenDevice(const CtlRequest& request, UserDefaults& defaults) {
  const auto cameras = listCameras();
  const Listed* chosen = chooseCamera(cameras, request, defaults);
  return chosen ? chosen->device : nullptr;
}

int list(const CtlRequest& request, UserDefaults& defaults, std::ostream& out) {
  const auto cameras = listCameras();
  const Listed* chosen = chooseCamera(cameras, request, defaults);
  QJsonArray array;
  for (const Listed& c : cameras) {
    const UVCDevice& d = *c.device;
    if (request.json) {
      array.append(QJsonObject{{"name", qs(d.name())},
                               {"id", qs(d.key().hexString())},
                               {"vendorID", d.key().vendorID},
                               {"productID", d.key().productID},
                               {"locationID", static_cast<qint64>(d.locationID())},
                               {"carrier", qs(usb::carrierName(c.service.carrier))},
                               {"chosen", &c == chosen}});
    } else {
      out << (&c == chosen ? "* " : "  ") << d.name() << "  " << d.key().hexString() << "  location "
          << hex32(d.locationID()) << "  " << usb::carrierName(c.service.carrier) << "\n";
    }
  }
  if (request.json) printJson(out, QJsonDocument(array));
  return kSuccess;
}

int controls(const CtlRequest& request, UserDefaults& defaults, std::ostream& out, std::ostream& err) {
  const std::shared_ptr<UVCDevice> device = chosenDevice(request, defaults);
  if (!device) {
    err << noCamera(request);
    return kNoCamera;
  }
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
  const std::shared_ptr<UVCDevice> device = chosenDevice(request, defaults);
  if (!device) {
    err << noCamera(request);
    return kNoCamera;
  }
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
      err << "velto-ctl: reading " << rawValue(id) << " failed (status " << statusText(status) << ")\n";
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

int listPresets(const CtlRequest& request, UserDefaults& defaults, std::ostream& out) {
  const QList<Preset> presets = Storage(defaults).loadPresets().value_or(QList<Preset>{});
  QJsonArray array;
  for (const Preset& p : presets) {
    QJsonObject values;
    for (const auto& [id, v] : p.values) values.insert(qs(rawValue(id)), static_cast<qint64>(v));
    if (request.json) {
      array.append(QJsonObject{{"id", p.id.toString(QUuid::WithoutBraces).toUpper()}, {"name", p.name}, {"values", values}});
    } else {
      out << p.name.toStdString() << "  (" << p.values.size() << (p.values.size() == 1 ? " control" : " controls") << ")\n";
    }
  }
  if (request.json) printJson(out, QJsonDocument(array));
  return kSuccess;
}

// --- Changing commands: through the store ------------------------------------------------------------

// Runs the event loop until the store has finished everything it started.
void settle(CameraStore& store) {
  do {
    store.io().waitUntilIdle();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
  } while (store.isBusy());
}

std::optional<Preset> findPreset(const QList<Preset>& presets, const std::string& nameOrId) {
  const QString wanted = QString::fromStdString(nameOrId);
  for (const Preset& p : presets) {
    if (p.name == wanted) return p;
  }
  const QUuid id = QUuid::fromString(wanted);
  for (const Preset& p : presets) {
    if (!id.isNull() && p.id == id) return p;
  }
  return std::nullopt;
}

int watch(CameraStore& store, std::ostream& out);

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
  }

  Storage storage(defaults);
  std::optional<Preset> preset;
  if (cmd == "preset" && sub != "save") {
    preset = findPreset(storage.loadPresets().value_or(QList<Preset>{}), request.operands[0]);
    if (!preset) {
      err << "velto-ctl: no preset named '" << request.operands[0] << "'\n";
      return kInvalid;
    }
    // Renaming and deleting need no camera.
    if (sub == "rename" || sub == "delete") {
      QList<Preset> presets = storage.loadPresets().value_or(QList<Preset>{});
      if (sub == "rename") {
        for (Preset& p : presets) {
          if (p.id == preset->id) p.name = QString::fromStdString(request.operands[1]);
        }
      } else {
        presets.removeIf([&](const Preset& p) { return p.id == preset->id; });
      }
      storage.savePresets(presets);
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
  if (cmd == "watch") return watch(store, out);

  settle(store);
  if (!store.device() || (request.camera && store.device()->key() != *request.camera)) {
    err << noCamera(request);
    return kNoCamera;
  }
  const std::string cameraName = store.device()->name();
  for (ControlID id : ids) {
    if (!store.supports(id)) {
      err << "velto-ctl: " << cameraName << " has no control " << rawValue(id) << "\n";
      return kInvalid;
    }
  }
  failures.clear();  // what the connection's own corrections met is not this command's business

  if (cmd == "set") {
    store.set(values);
  } else if (cmd == "auto") {
    store.setAuto(ids[0], request.operands[1] == "on");
  } else if (cmd == "defaults") {
    store.resetToDefaults(ids.empty() ? std::nullopt : std::optional(ids));
  } else if (cmd == "refocus") {
    if (!store.supports(ControlID::autoFocus)) {
      err << "velto-ctl: " << cameraName << " has no auto focus\n";
      return kInvalid;
    }
    store.refocus();
  } else if (cmd == "reset") {
    store.resetCamera();
  } else if (sub == "save") {
    store.savePreset(QString::fromStdString(request.operands[0]));
  } else if (sub == "apply") {
    for (const auto& [id, v] : preset->values) {
      if (store.supports(id)) ids.push_back(id);
    }
    store.applyPreset(*preset);
  } else if (sub == "update") {
    store.updatePreset(preset->id);
  }
  settle(store);

  if (cmd == "reset" && store.lastError()) {
    err << "velto-ctl: " << store.lastError()->toStdString() << "\n";
    return kCameraFailed;
  }
  for (const WriteFailure& f : failures) {
    if (std::find(ids.begin(), ids.end(), f.id) != ids.end() || cmd == "defaults") {
      err << "velto-ctl: the camera refused " << rawValue(f.id) << " (status " << statusText(f.status) << ")\n";
      return kCameraFailed;
    }
  }
  return kSuccess;
}

// --- watch -----------------------------------------------------------------------------------------

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

int watch(CameraStore& store, std::ostream& out) {
  if (::pipe(signalPipe) != 0) return kCameraFailed;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  QSocketNotifier stop(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&stop, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });

  auto report = [&] {
    if (const auto& d = store.device()) {
      out << "connected: " << d->name() << " (" << d->key().hexString() << ")" << std::endl;
    } else {
      out << "no camera" << std::endl;
    }
  };
  QObject::connect(&store, &CameraStore::connectionSettled, report);
  out << "watching; keep settings locked: " << (store.keepLocked() ? "on" : "off") << std::endl;
  QCoreApplication::exec();
  settle(store);
  return kSuccess;
}

}  // namespace

int runCtl(const CtlRequest& request, std::ostream& out, std::ostream& err) {
  if (request.help) {
    out << kUsageText;
    return kSuccess;
  }
  UserDefaults defaults;
  const std::string& cmd = request.command;
  if (cmd == "list") return list(request, defaults, out);
  if (cmd == "controls") return controls(request, defaults, out, err);
  if (cmd == "get") return get(request, defaults, out, err);
  if (cmd == "preset" && request.subcommand == "list") return listPresets(request, defaults, out);
  return change(request, defaults, out, err);
}

}  // namespace velto::cli
