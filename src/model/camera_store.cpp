// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "model/camera_store.h"

#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QThread>
#include <algorithm>

#include "model/status_text.h"
#include "model/write_coalescer.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "platform/session/wake_observer.h"
#include "platform/usb/stream_watch.h"
#include "support/log.h"
#include "support/weak_context.h"
#include "uvc/usb_monitor.h"
#include "uvc/uvc_device.h"

namespace velto {
namespace {

using namespace std::chrono_literals;

constexpr auto kRescanAfterUsbChange = 800ms;
constexpr auto kRescanAfterWake = 2s;
// The firmware moves zoom a moment after a field-of-view change; read it once it has.
constexpr auto kFirmwareZoomDelay = 300ms;
// Auto focus off, then on again after this, makes the camera search anew.
constexpr auto kRefocusDelay = 300ms;
// Saved settings reach the file this long after the first unsaved change: a slider drag costs
// one file write, not one per step.
constexpr auto kSaveDelay = 500ms;

const QString kKeepLocked = QStringLiteral("keepLocked");
const QString kOpenWindowAtLaunch = QStringLiteral("openWindowAtLaunch");

ConnectedCamera describe(const UVCDevice& d) {
  return ConnectedCamera{QString::fromStdString(d.name()), d.key(), d.locationID(), d.registryID(), d.carrier(),
                         d.supported()};
}

// A refusal is the camera saying no to the value; a time-out or an unplug says nothing about it.
bool isRefusal(usb::Status status) {
  return status == usb::status::pipeStalled || status == usb::status::badArgument ||
         status == usb::status::unsupported;
}

}  // namespace

bool ConnectedCamera::supports(ControlID id) const {
  return std::find(supported.begin(), supported.end(), id) != supported.end();
}

std::vector<std::size_t> cameraCandidates(const std::vector<CameraKey>& attached, CameraKey preferred,
                                          bool onlyPreferred) {
  std::vector<std::size_t> order;
  auto take = [&](auto&& wanted) {
    for (std::size_t i = 0; i < attached.size(); ++i) {
      if (wanted(attached[i]) && std::find(order.begin(), order.end(), i) == order.end()) order.push_back(i);
    }
  };
  take([&](CameraKey k) { return k == preferred; });
  if (onlyPreferred) return order;
  take([](CameraKey k) { return k == kAnkerC200; });
  take([](CameraKey) { return true; });
  return order;
}

CameraStore::CameraStore(Clock& clock, UserDefaults& defaults, LoginItem& loginItem, Options options, QObject* parent)
    : QObject(parent), clock_(clock), storage_(defaults), loginItem_(loginItem), options_(std::move(options)) {
  presets_ = storage_.loadPresets().value_or(QList<Preset>{});
  preferredCamera_ = storage_.loadPreferredCamera().value_or(kAnkerC200);
  keepLocked_ = options_.keepLocked.value_or(storage_.loadBoolean(kKeepLocked).value_or(true));
  openWindowAtLaunch_ = storage_.loadBoolean(kOpenWindowAtLaunch).value_or(true);
  showReadProblem();
  launchAtLogin_ = loginItem_.status() == LoginItem::Status::enabled;

  writer_ = WriteCoalescer::create(lifetime_);
  writer_->setFailureHandler([self = WeakContext(this), store = this](const std::shared_ptr<UVCDevice>& device,
                                                                      std::vector<WriteFailure> failures) {
    self.post([store, device, failures] { store->onWriteFailures(device, failures); });
  });
  if (options_.watchHotplug) {
    monitor_ = std::make_unique<USBMonitor>([this] { scheduleRescan(kRescanAfterUsbChange); }, options_.registry);
  }
  if (options_.watchWake) wake_ = std::make_unique<WakeObserver>([this] { scheduleRescan(kRescanAfterWake); });
  if (options_.followSettingsFile) watchSettingsFile();
  rescan();
  pollTask_ = std::make_unique<PeriodicTask>(clock_, this, kPollPeriod, [this] {
    if (connected_) poll();
  });
  pollTask_->start();
}

CameraStore::~CameraStore() {
  // Queued work may be waiting on the clock; let it end now. The queue drains before the rest
  // of the store goes (it is the last member): pending writes go out, queued reads are skipped,
  // and results posted back are dropped.
  lifetime_.cancel();
  pollTask_.reset();
  rescanTask_.cancel();
  if (saveTask_.isPending()) saveNow();
}

bool CameraStore::isBusy() const { return inFlight_ > 0 || io_.backlog() > 0; }

// --- Discovery and connection ---------------------------------------------------------------

void CameraStore::scheduleRescan(Clock::Duration delay) {
  // Assigning the new timer cancels the pending one: a burst of events gives one rescan.
  rescanTask_ = clock_.singleShot(this, delay, [this] { rescan(); });
}

void CameraStore::rescan() {
  Q_ASSERT(QThread::currentThread() == thread());
  const int scan = ++scan_;
  // Listing reads the registry only; no device is opened for it.
  onIo([registry = options_.registry] { return usb::listServices(registry); },
       [this, scan](std::vector<usb::Service> services) {
         if (scan == scan_) adopt(std::move(services));
       });
}

void CameraStore::adopt(std::vector<usb::Service> services) {
  QList<CameraSummary> summaries;
  std::vector<CameraKey> keys;
  for (const usb::Service& s : services) {
    summaries.append(
        CameraSummary{QString::fromStdString(UVCDevice::displayName(s)), {s.vendorID, s.productID}, s.locationID, s.carrier});
    keys.push_back({s.vendorID, s.productID});
  }
  setCameras(std::move(summaries));

  std::vector<usb::Service> candidates;
  for (std::size_t i : cameraCandidates(keys, options_.camera.value_or(preferredCamera_), options_.camera.has_value())) {
    candidates.push_back(std::move(services[i]));
  }
  if (candidates.empty()) {
    disconnect();
    clearLastError(ErrorKind::open);
    emit connectionSettled();
    return;
  }
  if (open_ && open_->registryID() == candidates.front().registryID) {
    // Same camera as before (wake, an unrelated USB change): nothing is opened again. A connected
    // camera gets what drifted restored; one that did not answer is asked again.
    clearLastError(ErrorKind::open);  // the camera that could not be opened is no longer chosen
    if (connected_) {
      reconcile(true);
    } else {
      connectTo(open_);
    }
    return;
  }
  openAndConnect(std::move(candidates));
}

struct CameraStore::Opened {
  std::shared_ptr<UVCDevice> device;
  std::optional<UserText> firstFailure;  // why the chosen camera could not be opened
};

void CameraStore::openAndConnect(std::vector<usb::Service> candidates) {
  const int scan = scan_;
  onIo(
      [candidates = std::move(candidates), current = open_] {
        Opened opened;
        for (const usb::Service& service : candidates) {
          // The camera already open (a fallback while the chosen one refuses) is not opened again.
          if (current && current->registryID() == service.registryID) {
            opened.device = current;
            break;
          }
          OpenResult result = UVCDevice::open(service);
          if (result.device) {
            opened.device = std::move(result.device);
            break;
          }
          if (!opened.firstFailure) opened.firstFailure = cannotOpenText(service, result);
        }
        return opened;
      },
      [this, scan](Opened opened) {
        if (scan != scan_) return;  // a newer rescan decides
        if (opened.firstFailure) {
          const UserText message = opened.firstFailure->capitalized();
          if (lastError_ != message.english()) {
            log::warning(log::Layer::model, message.english().toStdString());  // once, not per rescan
          }
          setLastError(message, ErrorKind::open);
        } else {
          clearLastError(ErrorKind::open);
        }
        if (!opened.device) {
          disconnect();
          emit connectionSettled();
          return;
        }
        if (opened.device == open_ && connected_) {
          reconcile(true);
          return;
        }
        connectTo(std::move(opened.device));
      });
}

void CameraStore::disconnect() {
  stopFollowing();
  recheck_.clear();
  recheckTask_.cancel();
  open_.reset();
  connected_ = false;
  whenConnected_.clear();
  setRanges({});
  setValues({});
  setDevice(std::nullopt);
}

void CameraStore::connectTo(std::shared_ptr<UVCDevice> device) {
  connected_ = false;
  if (device != open_) {
    // Until the new camera's reading lands, nothing of the previous one may be shown, changed or
    // saved under the new camera's key.
    stopFollowing();
    open_ = device;
    refused_.clear();
    recheck_.clear();
    recheckTask_.cancel();
    setRanges({});
    setValues({});
    setDevice(describe(*device));
    if (options_.followNotices) followNotices(device);
  }
  struct Reading {
    ControlRanges ranges;
    ControlValues values;
    bool answered = true;
  };
  onIo(
      [device, only = options_.controls] {
        Reading reading;
        usb::Status cut = usb::status::success;
        const std::span<const ControlID> controls = only ? std::span<const ControlID>(*only) : device->supported();
        reading.ranges = device->readRanges(controls, &cut);
        if (cut == usb::status::success) reading.values = device->readAll(controls, &cut);
        const bool readable = std::any_of(controls.begin(), controls.end(),
                                          [&](ControlID id) { return spec(id).readable && device->supports(id); });
        reading.answered = cut == usb::status::success && (!reading.values.empty() || !readable);
        return reading;
      },
      [this, device](Reading reading) {
        if (open_ != device) return;
        if (!reading.answered) {
          // Nothing read from a camera that did not answer may replace what the user wants.
          whenConnected_.clear();
          const UserText message(QT_TRANSLATE_NOOP("Messages", "%1 does not answer."),
                                 {UserText::verbatim(QString::fromStdString(device->name()))});
          if (lastErrorKind_ != ErrorKind::unresponsive) log::warning(log::Layer::model, message.english().toStdString());
          setLastError(message, ErrorKind::unresponsive);
          scheduleRescan(kRescanAfterSilence);
          emit connectionSettled();
          return;
        }
        clearLastError(ErrorKind::unresponsive);
        connected_ = true;
        setRanges(std::move(reading.ranges));
        ControlValues shown = reading.values;

        ControlValues wanted = storage_.loadSettings(device->key()).value_or(ControlValues{});
        for (const auto& [id, v] : reading.values) wanted.try_emplace(id, v);  // stored values win
        desired_ = std::move(wanted);
        // hdr cannot be read back: what the user wants is what the interface shows.
        if (device->supports(ControlID::hdr) && desired_.contains(ControlID::hdr)) {
          shown[ControlID::hdr] = desired_.at(ControlID::hdr);
        }
        setValues(std::move(shown));
        resetAnswered();
        saveDesired();
        // Touches are otherwise pruned only by a poll that read something; one that expired while
        // the camera was away must not keep the returning camera from its wanted value.
        pruneTouched();
        correct(reading.values, device, true);
        auto waiting = std::move(whenConnected_);
        whenConnected_.clear();
        for (auto& operation : waiting) operation();
        emit connectionSettled();
      });
}

bool CameraStore::deferWhileConnecting(std::function<void()> operation) {
  if (!open_ || connected_) return false;
  whenConnected_.push_back(std::move(operation));
  return true;
}

void CameraStore::setPreferredCamera(CameraKey key) {
  const bool changed = key != preferredCamera_;
  preferredCamera_ = key;
  storage_.savePreferredCamera(key);
  settingsChanged();
  if (changed) emit preferredCameraChanged();
  rescan();
}

// --- Reading and changing controls ------------------------------------------------------------

bool CameraStore::supports(ControlID id) const { return connected_ && device_ && device_->supports(id); }

std::int64_t CameraStore::value(ControlID id) const {
  if (auto it = values_.find(id); it != values_.end()) return it->second;
  if (auto it = ranges_.find(id); it != ranges_.end()) return it->second.defaultValue;
  return 0;
}

bool CameraStore::accepts(ControlID id, std::int64_t value) const {
  const auto range = ranges_.find(id);
  return acceptsValue(id, value, range != ranges_.end() ? &range->second : nullptr);
}

void CameraStore::set(ControlID id, std::int64_t value) { set(ControlValues{{id, value}}); }

void CameraStore::set(const ControlValues& values) {
  if (deferWhileConnecting([this, values] { set(values); })) return;
  ControlValues changes;
  for (auto [id, value] : values) {
    if (!accepts(id, value)) continue;  // a mode the camera does not offer would only be refused
    // Auto-mode values are mode bits, not points in a range.
    if (!governedControl(id)) {
      if (auto it = ranges_.find(id); it != ranges_.end()) value = it->second.clamp(value);
    }
    if (supports(id)) changes[id] = value;
  }
  apply(changes);
}

void CameraStore::setAuto(ControlID autoControl, bool on) {
  if (deferWhileConnecting([this, autoControl, on] { setAuto(autoControl, on); })) return;
  ControlValues changes{{autoControl, autoModeValue(autoControl, on)}};
  if (!on) {
    // Switching to manual: the camera takes up the value the user sees.
    if (auto governed = governedControl(autoControl)) {
      if (auto it = values_.find(*governed); it != values_.end()) changes[*governed] = it->second;
    }
  }
  apply(changes);
}

void CameraStore::apply(const ControlValues& changes) {
  Q_ASSERT(QThread::currentThread() == thread());
  if (!connected_ || changes.empty()) return;
  const Clock::WallTime now = clock_.wallNow();
  ControlValues shown = values_;
  for (const auto& [id, v] : changes) {
    shown[id] = v;
    desired_[id] = v;
    touched_[id] = now;
    refused_.erase(id);  // the user's new wish is tried
    changedHere_.insert(id);
  }
  setValues(std::move(shown));
  saveDesired();
  writer_->enqueue(changes, open_, io_);
  if (changes.contains(ControlID::fieldOfView) && !changes.contains(ControlID::zoom)) adoptFirmwareZoom(open_);
}

void CameraStore::adoptFirmwareZoom(std::shared_ptr<UVCDevice> device) {
  touched_[ControlID::zoom] = clock_.wallNow();
  onIo(
      [device, &clock = clock_, lifetime = lifetime_]() -> std::optional<std::int64_t> {
        if (!clock.sleepFor(kFirmwareZoomDelay, lifetime)) return std::nullopt;
        return device->read(ControlID::zoom);
      },
      [this, device](std::optional<std::int64_t> zoom) {
        if (open_ != device || !connected_ || !zoom) return;
        ControlValues shown = values_;
        shown[ControlID::zoom] = *zoom;
        setValues(std::move(shown));
        desired_[ControlID::zoom] = *zoom;
        touched_[ControlID::zoom] = clock_.wallNow();
        changedHere_.insert(ControlID::zoom);
        saveDesired();
      },
      SerialQueue::Priority::urgent);
}

void CameraStore::resetToDefaults(std::optional<std::vector<ControlID>> controls) {
  if (deferWhileConnecting([this, controls] { resetToDefaults(controls); })) return;
  std::vector<ControlID> list = controls ? *controls : device_ ? device_->supported : std::vector<ControlID>{};
  ControlValues changes;
  for (ControlID id : list) {
    if (auto it = ranges_.find(id); it != ranges_.end() && supports(id)) changes[id] = it->second.defaultValue;
  }
  apply(changes);
}

void CameraStore::refocus() {
  if (deferWhileConnecting([this] { refocus(); })) return;
  if (!supports(ControlID::autoFocus)) return;
  const Clock::WallTime now = clock_.wallNow();
  touched_[ControlID::autoFocus] = now;
  touched_[ControlID::focus] = now;
  onIo(
      [device = open_, &clock = clock_, lifetime = lifetime_] {
        std::vector<WriteFailure> failures;
        auto write = [&](std::int64_t v) {
          std::vector<usb::Status> statuses;
          const auto failed = device->write({{ControlID::autoFocus, v}}, &statuses);
          if (!failed.empty()) failures.push_back({ControlID::autoFocus, v, statuses.front()});
          return failed.empty();
        };
        if (write(0) && clock.sleepFor(kRefocusDelay, lifetime)) write(1);
        return std::make_pair(device, failures);
      },
      [this](std::pair<std::shared_ptr<UVCDevice>, std::vector<WriteFailure>> result) {
        if (!result.second.empty()) onWriteFailures(result.first, result.second);
      },
      SerialQueue::Priority::urgent);
  ControlValues shown = values_;
  shown[ControlID::autoFocus] = 1;
  setValues(std::move(shown));
  desired_[ControlID::autoFocus] = 1;
  changedHere_.insert(ControlID::autoFocus);
  saveDesired();
}

void CameraStore::onWriteFailures(const std::shared_ptr<UVCDevice>& device, const std::vector<WriteFailure>& failures) {
  if (device == open_ && connected_) {
    bool forget = false;
    for (const WriteFailure& f : failures) {
      auto want = desired_.find(f.id);
      if (isRefusal(f.status) && want != desired_.end() && want->second == f.value) {
        refused_[f.id] = f.value;
        forget = true;
      }
    }
    if (forget) saveDesired();
  }
  emit writeFailed(failures);
}

void CameraStore::read(std::vector<ControlID> controls, std::function<void(ControlValues, usb::Status)> done) {
  if (!connected_) {
    done({}, usb::status::noDevice);
    return;
  }
  if (controls.empty()) {
    for (ControlID id : device_->supported) {
      if (spec(id).readable) controls.push_back(id);
    }
  }
  struct Reading {
    ControlValues values;
    usb::Status status = usb::status::success;
  };
  onIo(
      [device = open_, controls = std::move(controls)] {
        Reading reading;
        for (ControlID id : controls) {
          usb::Status status = usb::status::success;
          if (auto v = device->read(id, &status)) {
            reading.values[id] = *v;
          } else if (reading.status == usb::status::success) {
            reading.status = status;
            if (status == usb::status::timeout) break;  // hung: one time-out is enough
          }
        }
        return reading;
      },
      [done = std::move(done)](Reading reading) { done(std::move(reading.values), reading.status); },
      SerialQueue::Priority::urgent);
}

void CameraStore::whenChangesDone(std::function<void()> done) {
  // Changes go out as urgent work in the order they were asked for: once a marker queued behind
  // them has run, they have all been sent, and their results were posted back before its own.
  onIo([] { return true; }, [done = std::move(done)](bool) { done(); }, SerialQueue::Priority::urgent);
}

void CameraStore::saveDesired() {
  if (!connected_ || !device_) return;
  ControlValues kept = desired_;
  for (const auto& [id, v] : refused_) {
    if (auto it = kept.find(id); it != kept.end() && it->second == v) kept.erase(it);
  }
  // A camera found again with the values the file holds (a reset, a replug) writes nothing. What
  // this process changed since its last save still goes out, so that it stops counting as newer
  // than the file, and so does a save that failed.
  const bool changed = storage_.saveSettings(device_->key, kept);
  if (changed || !changedHere_.empty() || lastErrorKind_ == ErrorKind::save) settingsChanged();
}

void CameraStore::settingsChanged() {
  if (!saveTask_.isPending()) saveTask_ = clock_.singleShot(this, kSaveDelay, [this] { saveNow(); });
}

bool CameraStore::saveNow() {
  saveTask_.cancel();
  if (const auto why = storage_.sync()) {
    const UserText message(QT_TRANSLATE_NOOP("Messages", "Couldn't save your settings (%1: %2)."),
                           {UserText::verbatim(storage_.path()), UserText::verbatim(*why)});
    if (lastError_ != message.english()) log::warning(log::Layer::model, message.english().toStdString());
    setLastError(message, ErrorKind::save);
    return false;
  }
  clearLastError(ErrorKind::save);
  // What this process changed is in the file now; a later change there is someone else's.
  changedHere_.clear();
  presetsChangedHere_ = false;
  if (fileWatch_) {
    knownFile_ = settingsFileText();
    watchSettingsFile();  // the file (or its folder) may be new
  }
  return true;
}

ControlValues CameraStore::supportedOnly(const ControlValues& values) const {
  ControlValues kept;
  for (const auto& [id, v] : values) {
    if (supports(id)) kept[id] = v;
  }
  return kept;
}

// --- Reset and preferences ----------------------------------------------------------------------

void CameraStore::resetCamera() {
  if (!open_ || isResetting()) return;
  setResetting(device_);
  resetReturned_ = false;
  resetSettle_ = clock_.singleShot(this, kResetSettleTime, [this] { setResetting(std::nullopt); });
  onIo([device = open_] { return device->reenumerate(); },
       [this](usb::Status status) {
         if (status == usb::status::success) {
           clearLastError(ErrorKind::reset);
           clearLastError(ErrorKind::login);
           // Over once the camera answers again: a new connection after it left the bus, or a
           // read through the same device where the reset kept its place on the bus.
           resetReturned_ = true;
         } else {
           const UserText message(QT_TRANSLATE_NOOP("Messages", "Couldn't reset the camera (%1, %2)."),
                                  {statusReasonText(status), UserText::verbatim(statusNumber(status))});
           setLastError(message, ErrorKind::reset);  // the carrier logged the failing call
           setResetting(std::nullopt);
         }
       },
       SerialQueue::Priority::urgent);
}

void CameraStore::resetAnswered() {
  if (resetReturned_) setResetting(std::nullopt);
}

void CameraStore::setLaunchAtLogin(bool on) {
  const std::optional<QString> error = on ? loginItem_.registerItem() : loginItem_.unregisterItem();
  if (error) {
    setLastError(UserText(QT_TRANSLATE_NOOP("Messages", "Couldn't change Launch at Login: %1"), {UserText::verbatim(*error)}),
                 ErrorKind::login);
  } else {
    clearLastError(ErrorKind::login);
    clearLastError(ErrorKind::reset);
  }
  setLaunchAtLoginState(loginItem_.status() == LoginItem::Status::enabled);
}

void CameraStore::setOpenWindowAtLaunch(bool on) {
  storage_.saveBoolean(kOpenWindowAtLaunch, on);
  settingsChanged();
  if (on == openWindowAtLaunch_) return;
  openWindowAtLaunch_ = on;
  emit openWindowAtLaunchChanged();
}

void CameraStore::setKeepLocked(bool on) {
  storage_.saveBoolean(kKeepLocked, on);
  settingsChanged();
  if (on == keepLocked_) return;
  keepLocked_ = on;
  emit keepLockedChanged();
}

// --- Published properties: each signal fires only on a real change -------------------------------

void CameraStore::setCameras(QList<CameraSummary> cameras) {
  if (cameras == cameras_) return;
  cameras_ = std::move(cameras);
  emit camerasChanged();
}

void CameraStore::setDevice(std::optional<ConnectedCamera> device) {
  if (device == device_) return;
  device_ = std::move(device);
  emit deviceChanged();
}

void CameraStore::setRanges(ControlRanges ranges) {
  if (ranges == ranges_) return;
  ranges_ = std::move(ranges);
  emit rangesChanged();
}

void CameraStore::setValues(ControlValues values) {
  if (values == values_) return;
  values_ = std::move(values);
  emit valuesChanged();
}

void CameraStore::setLastError(std::optional<UserText> message, ErrorKind kind) {
  lastErrorKind_ = message ? kind : ErrorKind::none;
  if (message == lastErrorMessage_) return;
  lastError_ = message ? std::optional(message->english()) : std::nullopt;
  lastErrorMessage_ = std::move(message);
  emit lastErrorChanged();
}

void CameraStore::clearLastError(ErrorKind kind) {
  if (lastErrorKind_ == kind) setLastError(std::nullopt, ErrorKind::none);
}

void CameraStore::setResetting(std::optional<ConnectedCamera> camera) {
  if (!camera) {
    resetSettle_.cancel();
    resetReturned_ = false;
  }
  if (camera == resetting_) return;
  resetting_ = std::move(camera);
  emit resettingChanged();
}

void CameraStore::setLaunchAtLoginState(bool on) {
  if (on == launchAtLogin_) return;
  launchAtLogin_ = on;
  emit launchAtLoginChanged();
}

}  // namespace velto
