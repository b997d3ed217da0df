#include "model/camera_store.h"

#include <QThread>
#include <algorithm>

#include "model/write_coalescer.h"
#include "platform/session/login_item.h"
#include "platform/session/user_defaults.h"
#include "platform/session/wake_observer.h"
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

const QString kKeepLocked = QStringLiteral("keepLocked");
const QString kOpenWindowAtLaunch = QStringLiteral("openWindowAtLaunch");

}  // namespace

std::optional<std::size_t> chooseCamera(const std::vector<CameraKey>& attached, CameraKey preferred) {
  for (CameraKey wanted : {preferred, kAnkerC200}) {
    const auto it = std::find(attached.begin(), attached.end(), wanted);
    if (it != attached.end()) return static_cast<std::size_t>(it - attached.begin());
  }
  if (attached.empty()) return std::nullopt;
  return 0;
}

CameraStore::CameraStore(Clock& clock, UserDefaults& defaults, LoginItem& loginItem, Options options, QObject* parent)
    : QObject(parent), clock_(clock), storage_(defaults), loginItem_(loginItem), options_(std::move(options)) {
  presets_ = storage_.loadPresets().value_or(QList<Preset>{});
  preferredCamera_ = storage_.loadPreferredCamera().value_or(kAnkerC200);
  keepLocked_ = options_.keepLocked.value_or(storage_.loadBoolean(kKeepLocked).value_or(true));
  openWindowAtLaunch_ = storage_.loadBoolean(kOpenWindowAtLaunch).value_or(true);
  launchAtLogin_ = loginItem_.status() == LoginItem::Status::enabled;

  writer_ = WriteCoalescer::create();
  writer_->setFailureHandler([self = WeakContext(this), store = this](std::vector<WriteFailure> failures) {
    self.post([store, failures] { emit store->writeFailed(failures); });
  });
  if (options_.watchHotplug) {
    monitor_ = std::make_unique<USBMonitor>([this] { scheduleRescan(kRescanAfterUsbChange); }, options_.registry);
  }
  if (options_.watchWake) wake_ = std::make_unique<WakeObserver>([this] { scheduleRescan(kRescanAfterWake); });
  rescan();
  pollTask_ = std::make_unique<PeriodicTask>(clock_, this, std::chrono::milliseconds(1500), [this] {
    if (device_) reconcile(false);
  });
  pollTask_->start();
}

CameraStore::~CameraStore() {
  // Queued work may be waiting on the clock; let it end now. The queue drains before the rest
  // of the store goes (it is the last member), and results posted back are dropped.
  lifetime_.cancel();
  pollTask_.reset();
  rescanTask_.cancel();
}

bool CameraStore::isBusy() const { return inFlight_ > 0 || io_.backlog() > 0; }

// --- Discovery and connection ---------------------------------------------------------------

void CameraStore::scheduleRescan(Clock::Duration delay) {
  // Assigning the new timer cancels the pending one: a burst of events gives one rescan.
  rescanTask_ = clock_.singleShot(this, delay, [this] { rescan(); });
}

void CameraStore::rescan() {
  Q_ASSERT(QThread::currentThread() == thread());
  onIo([registry = options_.registry] { return UVCDevice::connected(registry); },
       [this](std::vector<std::shared_ptr<UVCDevice>> devices) { adopt(std::move(devices)); });
}

void CameraStore::adopt(std::vector<std::shared_ptr<UVCDevice>> devices) {
  QList<CameraSummary> summaries;
  for (const auto& d : devices) {
    summaries.append(CameraSummary{QString::fromStdString(d->name()), d->key(), d->locationID()});
  }
  setCameras(std::move(summaries));

  if (devices.empty()) {
    setDevice(nullptr);
    setRanges({});
    setValues({});
    emit connectionSettled();
    return;
  }

  std::vector<CameraKey> keys;
  for (const auto& d : devices) keys.push_back(d->key());
  const std::shared_ptr<UVCDevice>& chosen = devices[*chooseCamera(keys, options_.camera.value_or(preferredCamera_))];

  if (device_ && device_->registryID() == chosen->registryID()) {
    // Same camera as before (wake, an unrelated USB change): keep it, restore what drifted.
    reconcile(true);
    return;
  }
  connectTo(chosen);
}

void CameraStore::connectTo(std::shared_ptr<UVCDevice> device) {
  setDevice(device);
  struct Reading {
    ControlRanges ranges;
    ControlValues values;
  };
  onIo([device] { return Reading{device->readRanges(), device->readAll()}; },
       [this, device](Reading reading) {
         if (device_ != device) return;
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
         saveDesired();
         // Touches are otherwise pruned only by a poll that read something; one that expired while
         // the camera was away must not keep the returning camera from its wanted value.
         pruneTouched();
         correct(reading.values, device, true);
         emit connectionSettled();
       });
}

void CameraStore::setPreferredCamera(CameraKey key) {
  const bool changed = key != preferredCamera_;
  preferredCamera_ = key;
  storage_.savePreferredCamera(key);
  if (changed) emit preferredCameraChanged();
  rescan();
}

// --- Reading and changing controls ------------------------------------------------------------

bool CameraStore::supports(ControlID id) const { return device_ && device_->supports(id); }

std::int64_t CameraStore::value(ControlID id) const {
  if (auto it = values_.find(id); it != values_.end()) return it->second;
  if (auto it = ranges_.find(id); it != ranges_.end()) return it->second.defaultValue;
  return 0;
}

void CameraStore::set(ControlID id, std::int64_t value) { set(ControlValues{{id, value}}); }

void CameraStore::set(const ControlValues& values) {
  ControlValues changes;
  for (auto [id, value] : values) {
    // Auto-mode values are mode bits, not points in a range.
    if (!governedControl(id)) {
      if (auto it = ranges_.find(id); it != ranges_.end()) value = it->second.clamp(value);
    }
    if (supports(id)) changes[id] = value;
  }
  apply(changes);
}

void CameraStore::setAuto(ControlID autoControl, bool on) {
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
  if (!device_ || changes.empty()) return;
  const Clock::WallTime now = clock_.wallNow();
  ControlValues shown = values_;
  for (const auto& [id, v] : changes) {
    shown[id] = v;
    desired_[id] = v;
    touched_[id] = now;
  }
  setValues(std::move(shown));
  saveDesired();
  writer_->enqueue(changes, device_, io_);
  if (changes.contains(ControlID::fieldOfView) && !changes.contains(ControlID::zoom)) adoptFirmwareZoom(device_);
}

void CameraStore::adoptFirmwareZoom(std::shared_ptr<UVCDevice> device) {
  touched_[ControlID::zoom] = clock_.wallNow();
  onIo(
      [device, &clock = clock_, lifetime = lifetime_]() -> std::optional<std::int64_t> {
        if (!clock.sleepFor(kFirmwareZoomDelay, lifetime)) return std::nullopt;
        return device->read(ControlID::zoom);
      },
      [this, device](std::optional<std::int64_t> zoom) {
        if (device_ != device || !zoom) return;
        ControlValues shown = values_;
        shown[ControlID::zoom] = *zoom;
        setValues(std::move(shown));
        desired_[ControlID::zoom] = *zoom;
        touched_[ControlID::zoom] = clock_.wallNow();
        saveDesired();
      });
}

void CameraStore::resetToDefaults(std::optional<std::vector<ControlID>> controls) {
  std::vector<ControlID> list = controls ? *controls : device_ ? device_->supported() : std::vector<ControlID>{};
  ControlValues changes;
  for (ControlID id : list) {
    if (auto it = ranges_.find(id); it != ranges_.end()) changes[id] = it->second.defaultValue;
  }
  apply(changes);
}

void CameraStore::refocus() {
  if (!device_ || !supports(ControlID::autoFocus)) return;
  const Clock::WallTime now = clock_.wallNow();
  touched_[ControlID::autoFocus] = now;
  touched_[ControlID::focus] = now;
  onIo(
      [device = device_, &clock = clock_, lifetime = lifetime_] {
        device->write({{ControlID::autoFocus, 0}});
        if (clock.sleepFor(kRefocusDelay, lifetime)) device->write({{ControlID::autoFocus, 1}});
        return true;
      },
      [](bool) {});
  ControlValues shown = values_;
  shown[ControlID::autoFocus] = 1;
  setValues(std::move(shown));
  desired_[ControlID::autoFocus] = 1;
  saveDesired();
}

void CameraStore::saveDesired() {
  if (device_) storage_.saveSettings(device_->key(), desired_);
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
  if (!device_) return;
  onIo([device = device_] { return device->reenumerate(); },
       [this](usb::Status status) {
         if (status == usb::status::success) {
           setLastError(std::nullopt);
         } else {
           setLastError(QString::asprintf("Couldn't reset the camera (IOKit error 0x%08x).", status));
         }
       });
}

void CameraStore::setLaunchAtLogin(bool on) {
  const std::optional<QString> error = on ? loginItem_.registerItem() : loginItem_.unregisterItem();
  setLastError(error ? std::optional<QString>(QStringLiteral("Couldn't change Launch at Login: ") + *error)
                     : std::nullopt);
  setLaunchAtLoginState(loginItem_.status() == LoginItem::Status::enabled);
}

void CameraStore::setOpenWindowAtLaunch(bool on) {
  storage_.saveBoolean(kOpenWindowAtLaunch, on);
  if (on == openWindowAtLaunch_) return;
  openWindowAtLaunch_ = on;
  emit openWindowAtLaunchChanged();
}

void CameraStore::setKeepLocked(bool on) {
  storage_.saveBoolean(kKeepLocked, on);
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

void CameraStore::setDevice(std::shared_ptr<UVCDevice> device) {
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

void CameraStore::setLastError(std::optional<QString> message) {
  if (message == lastError_) return;
  lastError_ = std::move(message);
  emit lastErrorChanged();
}

void CameraStore::setLaunchAtLoginState(bool on) {
  if (on == launchAtLogin_) return;
  launchAtLogin_ = on;
  emit launchAtLoginChanged();
}

}  // namespace velto
