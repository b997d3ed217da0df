// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The one model object: finds the attached cameras, chooses and opens one, publishes its ranges
// and values, and is the only path by which anything changes a camera setting. It keeps the
// user's wanted settings per camera model and writes them back whenever the camera is found
// again, optionally keeps them locked against other applications, holds the presets, resets the
// camera on USB and keeps the application preferences.
//
// Threads: every property and operation belongs to the main thread (the thread that created the
// store). All USB traffic runs on the store's serial queue "camera.io"; its results come back to
// the main thread and are dropped when the store is gone or the connected device has changed.
// The device object itself never leaves the store: what it publishes are plain values.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "model/camera_summary.h"
#include "model/preset.h"
#include "model/storage.h"
#include "model/write_coalescer.h"
#include "platform/session/user_defaults.h"
#include "platform/usb/registry.h"
#include "platform/usb/status.h"
#include "support/cancel_token.h"
#include "support/clock.h"
#include "support/periodic_task.h"
#include "support/serial_queue.h"
#include "support/user_text.h"
#include "support/weak_context.h"
#include "uvc/controls.h"

class QFileSystemWatcher;
class QSocketNotifier;

namespace velto {
namespace usb {
class StreamWatch;
}

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
    // For this run only, not saved: the camera model to connect to instead of the preferred one
    // (no other model is used then), and "Keep settings locked" instead of the saved choice.
    std::optional<CameraKey> camera;
    std::optional<bool> keepLocked;
    // Follow the settings file: when another program changes it, read it again and merge (the
    // session's owner does; a one-shot command that holds the file does not need to).
    bool followSettingsFile = true;
    // Follow the camera's change notices where it sends them, and notice when any program starts
    // streaming from it (a program that runs for a while does; a one-shot command reads what it
    // needs).
    bool followNotices = true;
    // The controls whose ranges and values are read when a camera is connected, instead of all
    // of them: a one-shot command that names a few controls (controlsToRead, store_commands.h)
    // need not wait for a slow camera to answer for every other one. Those not read keep their
    // wanted values as saved. None for the owner and the application, which show every control.
    std::optional<std::vector<ControlID>> controls;
  };

  // Runs the start-up sequence: loads the saved state, starts the monitor, the wake observer and
  // the poll, and looks for cameras. `clock`, `defaults` and `loginItem` must outlive the store.
  CameraStore(Clock& clock, UserDefaults& defaults, LoginItem& loginItem, Options options, QObject* parent = nullptr);
  // Writes that are still pending go out (bounded by their time-outs, and skipped for a camera
  // that has just let a request time out); queued reads and rescans are dropped.
  ~CameraStore() override;

  // Published state.
  const QList<CameraSummary>& cameras() const { return cameras_; }
  // The camera being connected or connected; none without one.
  const std::optional<ConnectedCamera>& device() const { return device_; }
  // True once the connected camera's ranges and values have arrived; false while connecting, and
  // while the camera does not answer.
  bool isConnected() const { return connected_; }
  const ControlRanges& ranges() const { return ranges_; }
  const ControlValues& values() const { return values_; }
  const QList<Preset>& presets() const { return presets_; }
  // The one message for the user (a reset that failed, a camera that cannot be opened, a save
  // that failed, ...), in English; lastErrorMessage is the same message for the views to translate.
  const std::optional<QString>& lastError() const { return lastError_; }
  QString lastErrorText() const { return lastError_.value_or(QString()); }
  const std::optional<UserText>& lastErrorMessage() const { return lastErrorMessage_; }
  CameraKey preferredCamera() const { return preferredCamera_; }
  bool keepLocked() const { return keepLocked_; }
  bool openWindowAtLaunch() const { return openWindowAtLaunch_; }
  bool launchAtLogin() const { return launchAtLogin_; }
  // The camera a USB reset was asked for, from the request until the camera answers again (or
  // the reset failed, or kResetSettleTime passed without it); none otherwise. It stays set while
  // the camera is off the bus, so views can say that it is coming back rather than gone.
  const std::optional<ConnectedCamera>& resettingCamera() const { return resetting_; }
  bool isResetting() const { return resetting_.has_value(); }

  // Reading and changing controls. Changes made while a camera is still connecting are carried
  // out once its ranges have arrived (clamped to them), and dropped if it never answers.
  bool supports(ControlID id) const;
  std::int64_t value(ControlID id) const;  // shown value, else range default, else 0
  // Whether `value` may be set at all: auto modes take only the modes the camera offers; every
  // other value is clamped into range instead.
  bool accepts(ControlID id, std::int64_t value) const;
  void set(ControlID id, std::int64_t value);
  // Several controls at once, each as by set(); they reach the camera in one write.
  void set(const ControlValues& values);
  void setAuto(ControlID autoControl, bool on);
  void resetToDefaults(std::optional<std::vector<ControlID>> controls = std::nullopt);
  void refocus();
  void rescan();
  void setPreferredCamera(CameraKey key);  // saves and rescans, also when unchanged

  // Enforcement: reads back `only` those controls (every one when none), shows what was read and
  // writes back what drifted (with `force`, or while locked).
  void reconcile(bool force, std::optional<std::vector<ControlID>> only = std::nullopt);
  void setKeepLocked(bool on);

  // Whether `viewer` (a view that shows control values) is on screen now. A camera that tells of
  // changes to its controls is read back whole every kQuietPollPeriod, as a safety net for what
  // it does not tell; while some viewer is on screen, the controls its notices leave out and
  // those an auto mode moves (a camera need not tell of its firmware's changes) are read every
  // kPollPeriod as well. A camera that tells of nothing is read back whole every kPollPeriod all
  // the time. `viewer` is only compared, never used.
  void setShowingValues(const void* viewer, bool showing);
  // Whether the connected camera's change notices are being followed.
  bool followsNotices() const { return noticeWatch_ != nullptr; }
  static constexpr std::chrono::milliseconds kPollPeriod{1500};
  static constexpr std::chrono::seconds kQuietPollPeriod{60};
  // Some cameras drop a vendor setting written while nothing streams (the C200 its flip): when
  // any program starts streaming, the wanted flip, HDR and microphone pickup are written again
  // this long after the stream was seen to start, whether or not settings are kept locked.
  static constexpr std::chrono::milliseconds kAfterStreamStart{300};

  // Presets. Rename and delete act on the first preset with the id.
  void savePreset(const QString& name);
  void applyPreset(const Preset& preset);
  void updatePreset(const QUuid& id);
  void renamePreset(const QUuid& id, const QString& name);
  void deletePreset(const QUuid& id);
  // By position, for callers that found a preset by its name (two may share an id).
  void renamePresetAt(qsizetype index, const QString& name);
  void deletePresetAt(qsizetype index);
  void movePresets(const std::set<int>& positions, int destination);
  std::optional<QUuid> activePresetID() const;

  // Reset and preferences.
  void resetCamera();
  void setLaunchAtLogin(bool on);
  void setOpenWindowAtLaunch(bool on);

  // Writes the saved settings to the file now instead of shortly after the last change; false,
  // with lastError saying why, when that failed. Blocks for a file write.
  bool saveNow();

  // Reads `controls` (every readable supported control when empty) from the camera now, ahead of
  // queued read-backs, and calls `done` on the main thread with what answered and the status of
  // the first read that failed (success when none did). Nothing is read without a connection.
  void read(std::vector<ControlID> controls, std::function<void(ControlValues, usb::Status)> done);

  // Calls `done` on the main thread once every change, refocus, zoom re-read and reset asked of
  // the store so far has been carried out and its failures reported (writeFailed), without
  // waiting for the periodic read-backs. For callers that must know their own work is done
  // (velto-ctl before it exits).
  void whenChangesDone(std::function<void()> done);

  // The I/O queue, and whether work the store started is still under way (queued USB work, or a
  // result waiting for the main thread); for tests that let everything settle.
  SerialQueue& io() { return io_; }
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
  void resettingChanged();
  // Looking for a camera has come to an end for now: connected, none attached, none that could
  // be opened, or the camera does not answer.
  void connectionSettled();
  // Controls of a user change or correction that the camera refused (or failed to take).
  void writeFailed(const std::vector<velto::WriteFailure>& failures);

 private:
  // What lastError_ currently says, so that each kind is cleared by its own remedy.
  enum class ErrorKind { none, reset, login, open, unresponsive, save, read };
  // A camera that answered nothing (at connection or to a poll) is looked for again after this.
  static constexpr std::chrono::seconds kRescanAfterSilence{1};
  // A reset whose camera has not answered by then is over as far as the views are concerned: the
  // camera stays away (the views say so) or comes back through the ordinary rescan.
  static constexpr std::chrono::seconds kResetSettleTime{15};
  struct Opened;

  void scheduleRescan(Clock::Duration delay);
  void adopt(std::vector<usb::Service> services);
  void openAndConnect(std::vector<usb::Service> candidates);
  void connectTo(std::shared_ptr<UVCDevice> device);
  void disconnect();
  void apply(const ControlValues& changes);
  // Until the connecting camera's ranges have arrived, user operations wait here.
  bool deferWhileConnecting(std::function<void()> operation);
  void adoptFirmwareZoom(std::shared_ptr<UVCDevice> device);
  // Writes back what drifted in `current` from the wanted values, and returns what it wrote. With
  // `partial`, `current` holds only some controls (those a notice named) and the others are left
  // as they are.
  ControlValues correct(const ControlValues& current, const std::shared_ptr<UVCDevice>& device, bool force,
                        bool partial = false);
  // Change notices of the connected camera (camera_store_notices.cpp).
  void followNotices(const std::shared_ptr<UVCDevice>& device);
  void onNotices(const std::shared_ptr<UVCDevice>& device);
  // Reads back what a correction wrote: a value that held clears its "tried once" memo, so the
  // next drift of it is corrected again.
  void confirmHeld(const ControlValues& written, const std::shared_ptr<UVCDevice>& device);
  void stopNotices();
  // Stops following the notices and the streams of the camera that is no longer open_.
  void stopFollowing();
  void onStreamStarted(const std::shared_ptr<UVCDevice>& device);
  void updatePollPace();
  // The periodic read-back: whole, or only what notices do not keep current (see setShowingValues).
  void poll();
  // The controls whose wanted auto mode is on: the camera moves them itself.
  std::vector<ControlID> autoMovedControls() const;
  void onWriteFailures(const std::shared_ptr<UVCDevice>& device, const std::vector<WriteFailure>& failures);
  // Forgets touches older than the touch grace.
  void pruneTouched();
  void recheckAfterTouch(ControlID id);
  void recheck();
  void saveDesired();
  void savePresets();
  void settingsChanged();
  ControlValues supportedOnly(const ControlValues& values) const;

  // Runs `work` on io, then `done` with its result on the main thread, while the store lives.
  // Urgent work (what the user asked for) overtakes queued read-backs; normal work is dropped
  // unstarted once the store is being destroyed.
  template <typename Work, typename Done>
  void onIo(Work work, Done done, SerialQueue::Priority priority = SerialQueue::Priority::normal);

  void setCameras(QList<CameraSummary> cameras);
  void setDevice(std::optional<ConnectedCamera> device);
  void setRanges(ControlRanges ranges);
  void setValues(ControlValues values);
  void setLastError(std::optional<UserText> message, ErrorKind kind);
  void clearLastError(ErrorKind kind);
  void setLaunchAtLoginState(bool on);
  void setResetting(std::optional<ConnectedCamera> camera);
  // A camera answered after a reset came back: the reset is over.
  void resetAnswered();

  // The settings file changed behind us (camera_store_file.cpp).
  void watchSettingsFile();
  void settingsFileChanged();
  SettingsFileText settingsFileText() const;
  // Shows what the settings file's last reading could not use (lastError), or clears it.
  void showReadProblem();

  Clock& clock_;
  Storage storage_;
  LoginItem& loginItem_;
  Options options_;

  QList<CameraSummary> cameras_;
  std::shared_ptr<UVCDevice> open_;  // the open device behind device_; used on io only
  std::optional<ConnectedCamera> device_;
  bool connected_ = false;
  ControlRanges ranges_;
  ControlValues values_;
  QList<Preset> presets_;
  std::optional<QString> lastError_;
  std::optional<UserText> lastErrorMessage_;
  ErrorKind lastErrorKind_ = ErrorKind::none;
  CameraKey preferredCamera_ = kAnkerC200;
  bool keepLocked_ = true;
  bool openWindowAtLaunch_ = true;
  bool launchAtLogin_ = false;
  std::optional<ConnectedCamera> resetting_;
  bool resetReturned_ = false;  // the reset request itself has answered with success
  TimerHandle resetSettle_;

  ControlValues desired_;
  std::map<ControlID, Clock::WallTime> touched_;
  // Locked controls another program changed while the user's own change was fresh: read again
  // once that touch has passed, so that the grace delays their correction and never cancels it.
  std::set<ControlID> recheck_;
  TimerHandle recheckTask_;
  std::map<ControlID, std::pair<std::int64_t, std::int64_t>> unenforceable_;  // (want, have)
  // Wanted values the camera refused: not written again, nor saved, until the user changes them.
  ControlValues refused_;
  std::vector<std::function<void()>> whenConnected_;
  // What this process changed since its last save reached the file, and the file as that save
  // (or the last reading) left it: a different file is another program's doing.
  std::set<ControlID> changedHere_;
  bool presetsChangedHere_ = false;
  SettingsFileText knownFile_;
  std::unique_ptr<QFileSystemWatcher> fileWatch_;

  CancelToken lifetime_;  // cancelled at destruction: ends the waits of queued work
  int inFlight_ = 0;      // io work whose result has not come back yet
  int scan_ = 0;          // the newest rescan; older ones' results are dropped
  bool pollReadPending_ = false;  // a poll's readAll is queued or running
  std::shared_ptr<WriteCoalescer> writer_;
  std::unique_ptr<USBMonitor> monitor_;
  std::unique_ptr<WakeObserver> wake_;
  std::unique_ptr<PeriodicTask> pollTask_;
  std::unique_ptr<QSocketNotifier> noticeWatch_;  // the connected camera's notices; none without
  std::unique_ptr<usb::StreamWatch> streamWatch_;  // its streams' starts; none where they do not show
  TimerHandle streamRewrite_;
  std::set<const void*> valueViewers_;            // views showing values that are on screen
  std::vector<ControlID> untold_;  // readable controls the followed notices do not tell of
  Clock::MonotonicTime lastWholeRead_{};
  TimerHandle rescanTask_;
  TimerHandle saveTask_;
  SerialQueue io_{"camera.io"};  // last: joined first at destruction, while the rest still exists
};

template <typename Work, typename Done>
void CameraStore::onIo(Work work, Done done, SerialQueue::Priority priority) {
  ++inFlight_;
  io_.post(
      [self = WeakContext(this), store = this, lifetime = lifetime_, priority, work = std::move(work),
       done = std::move(done)]() mutable {
        if (priority == SerialQueue::Priority::normal && lifetime.isCancelled()) return;
        auto result = std::make_shared<decltype(work())>(work());
        // `store` is touched only on the main thread, and only if it still exists there.
        self.post([store, done, result] {
          --store->inFlight_;
          done(std::move(*result));
        });
      },
      priority);
}

}  // namespace velto
