// The one model object: finds the attached cameras, chooses and opens one, publishes its ranges
// and values, and is the only path by which anything changes a camera setting. It keeps the
// user's wanted settings per camera model and writes them back whenever the camera is found
// again, optionally keeps them locked against other applications, holds the presets, resets the
// camera on USB and keeps the application preferences.
//
// Threads: every property and operation belongs to the main thread (the thread that created the
// store). All USB traffic runs on the store's serial queue "camera.io"; its results come back to
// the main thread and are dropped when the store is gone or the connected device has changed.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "model/camera_summary.h"
#include "model/preset.h"
#include "model/write_coalescer.h"
#include "model/storage.h"
#include "platform/usb/registry.h"
#include "platform/usb/status.h"
#include "support/cancel_token.h"
#include "support/clock.h"
#include "support/periodic_task.h"
#include "support/serial_queue.h"
#include "support/weak_context.h"
#include "uvc/controls.h"

namespace velto {

class LoginItem;
class USBMonitor;
class UVCDevice;
class UserDefaults;
class WakeObserver;

class CameraStore : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool keepLocked READ keepLocked WRITE setKeepLocked NOTIFY keepLockedChanged)
  Q_PROPERTY(bool openWindowAtLaunch READ openWindowAtLaunch WRITE setOpenWindowAtLaunch NOTIFY openWindowAtLaunchChanged)
  Q_PROPERTY(bool launchAtLogin READ launchAtLogin NOTIFY launchAtLoginChanged)
  Q_PROPERTY(QString lastError READ lastErrorText NOTIFY lastErrorChanged)

 public:
  struct Options {
    usb::RegistryOptions registry = usb::defaultRegistryOptions();
    bool watchHotplug = true;  // the USB monitor
    bool watchWake = true;     // logind's wake-from-sleep signal
    // For this run only, not saved: the camera model to connect to instead of the preferred one,
    // and "Keep settings locked" instead of the saved choice.
    std::optional<CameraKey> camera;
    std::optional<bool> keepLocked;
  };

  // Runs the start-up sequence: loads the saved state, starts the monitor, the wake observer and
  // the poll, and looks for cameras. `clock`, `defaults` and `loginItem` must outlive the store.
  CameraStore(Clock& clock, UserDefaults& defaults, LoginItem& loginItem, Options options, QObject* parent = nullptr);
  ~CameraStore() override;

  // Published state.
  const QList<CameraSummary>& cameras() const { return cameras_; }
  const std::shared_ptr<UVCDevice>& device() const { return device_; }
  const ControlRanges& ranges() const { return ranges_; }
  const ControlValues& values() const { return values_; }
  const QList<Preset>& presets() const { return presets_; }
  const std::optional<QString>& lastError() const { return lastError_; }
  QString lastErrorText() const { return lastError_.value_or(QString()); }
  CameraKey preferredCamera() const { return preferredCamera_; }
  bool keepLocked() const { return keepLocked_; }
  bool openWindowAtLaunch() const { return openWindowAtLaunch_; }
  bool launchAtLogin() const { return launchAtLogin_; }

  // Reading and changing controls.
  bool supports(ControlID id) const;
  std::int64_t value(ControlID id) const;  // shown value, else range default, else 0
  void set(ControlID id, std::int64_t value);
  // Several controls at once, each as by set(); they reach the camera in one write.
  void set(const ControlValues& values);
  void setAuto(ControlID autoControl, bool on);
  void resetToDefaults(std::optional<std::vector<ControlID>> controls = std::nullopt);
  void refocus();
  void rescan();
  void setPreferredCamera(CameraKey key);  // saves and rescans, also when unchanged

  // Enforcement.
  void reconcile(bool force);
  void setKeepLocked(bool on);

  // Presets.
  void savePreset(const QString& name);
  void applyPreset(const Preset& preset);
  void updatePreset(const QUuid& id);
  void renamePreset(const QUuid& id, const QString& name);
  void deletePreset(const QUuid& id);
  void movePresets(const std::set<int>& positions, int destination);
  std::optional<QUuid> activePresetID() const;

  // Reset and preferences.
  void resetCamera();
  void setLaunchAtLogin(bool on);
  void setOpenWindowAtLaunch(bool on);

  // The I/O queue, for callers that must know when the store's USB work is done (tests,
  // velto-ctl before it exits).
  SerialQueue& io() { return io_; }
  // Whether work the store started is still under way: queued USB work, or a result waiting for
  // the main thread. Main thread.
  bool isBusy() const;

 signals:
  void camerasChanged();
  void deviceChanged();
  void rangesChanged();
  void valuesChanged();
  void presetsChanged();
  void lastErrorChanged();
  void preferredCameraChanged();
  void keepLockedChanged();
  void openWindowAtLaunchChanged();
  void launchAtLoginChanged();
  // The connected camera's ranges and values have arrived (or the camera is gone).
  void connectionSettled();
  // Controls of a user change or correction that the camera refused.
  void writeFailed(const std::vector<velto::WriteFailure>& failures);

 private:
  void scheduleRescan(Clock::Duration delay);
  void adopt(std::vector<std::shared_ptr<UVCDevice>> devices);
  void connectTo(std::shared_ptr<UVCDevice> device);
  void apply(const ControlValues& changes);
  void adoptFirmwareZoom(std::shared_ptr<UVCDevice> device);
  void correct(const ControlValues& current, const std::shared_ptr<UVCDevice>& device, bool force);
  // Forgets touches older than the touch grace.
  void pruneTouched();
  void saveDesired();
  void savePresets();
  ControlValues supportedOnly(const ControlValues& values) const;

  // Runs `work` on io, then `done` with its result on the main thread, while the store lives.
  template <typename Work, typename Done>
  void onIo(Work work, Done done);

  void setCameras(QList<CameraSummary> cameras);
  void setDevice(std::shared_ptr<UVCDevice> device);
  void setRanges(ControlRanges ranges);
  void setValues(ControlValues values);
  void setLastError(std::optional<QString> message);
  void setLaunchAtLoginState(bool on);

  Clock& clock_;
  Storage storage_;
  LoginItem& loginItem_;
  Options options_;

  QList<CameraSummary> cameras_;
  std::shared_ptr<UVCDevice> device_;
  ControlRanges ranges_;
  ControlValues values_;
  QList<Preset> presets_;
  std::optional<QString> lastError_;
  CameraKey preferredCamera_{0x291A, 0x3369};
  bool keepLocked_ = true;
  bool openWindowAtLaunch_ = true;
  bool launchAtLogin_ = false;

  ControlValues desired_;
  std::map<ControlID, Clock::WallTime> touched_;
  std::map<ControlID, std::pair<std::int64_t, std::int64_t>> unenforceable_;  // (want, have)

  CancelToken lifetime_;  // cancelled at destruction: ends the waits of queued work
  int inFlight_ = 0;      // io work whose result has not come back yet
  bool pollReadPending_ = false;  // a poll's readAll is queued or running
  std::shared_ptr<WriteCoalescer> writer_;
  std::unique_ptr<USBMonitor> monitor_;
  std::unique_ptr<WakeObserver> wake_;
  std::unique_ptr<PeriodicTask> pollTask_;
  TimerHandle rescanTask_;
  SerialQueue io_{"camera.io"};  // last: joined first at destruction, while the rest still exists
};

template <typename Work, typename Done>
void CameraStore::onIo(Work work, Done done) {
  ++inFlight_;
  io_.post([self = WeakContext(this), store = this, work = std::move(work), done = std::move(done)]() mutable {
    auto result = std::make_shared<decltype(work())>(work());
    // `store` is touched only on the main thread, and only if it still exists there.
    self.post([store, done, result] {
      --store->inFlight_;
      done(std::move(*result));
    });
  });
}

}  // namespace velto
