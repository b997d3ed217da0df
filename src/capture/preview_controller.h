// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The live picture of the camera the store controls. Views register as named clients ("window",
// "menu", "cli"); capture runs while at least one is registered. The controller finds the video
// device that belongs to the USB camera (by location first, by model as a fallback), runs the
// capture session that feeds the frame analyzer, publishes a small state and the latest
// statistics, and keeps the picture alive with a watchdog: when frames stop it restarts the
// session, and when that does not help it asks for a USB reset of the camera (at most one every
// 30 s, never while another application streams from it).
//
// Main thread: every property and operation. Finding the device (the listing, which opens video
// nodes, and the access check) and the session work on "camera.session"; what a look-up found
// comes back here queued and is dropped when a newer request or the last client's leaving made it
// stale. Frames arrive on the session's streaming thread and are announced here with frameReady, one queued
// notice at a time; every delay runs on the injected clock.
#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "capture/frame_analyzer.h"
#include "capture/frame_stats.h"
#include "platform/video/capture_backend.h"
#include "support/clock.h"
#include "support/weak_context.h"
#include "uvc/camera_key.h"

namespace velto {

class CaptureModeSettings;
class UserDefaults;

class PreviewController : public QObject {
  Q_OBJECT

 public:
  enum class State {
    idle,          // no client wants a preview
    unauthorized,  // the camera's video device may not be opened by this user
    noCamera,      // no video device matches the camera
    running,       // the session is configured for the device and started
  };

  // Watchdog timing: a tick every second; a stall is more than 4 s without a new frame; one USB
  // reset per 30 s; after a reset the camera gets 4 s more before the next step.
  static constexpr auto kTick = std::chrono::seconds(1);
  static constexpr auto kStallAfter = std::chrono::seconds(4);
  static constexpr auto kResetInterval = std::chrono::seconds(30);
  static constexpr auto kResetGrace = std::chrono::seconds(4);
  // While paused for another program, the node's holders are looked at on each of its opens and
  // closes (a program that ends closes it too), every kPausedLook besides, and once more when
  // nobody else has held it for kTakeBackAfter: then the preview takes the camera back.
  static constexpr auto kPausedLook = std::chrono::seconds(2);
  static constexpr auto kTakeBackAfter = std::chrono::seconds(1);

  // `resetCamera` asks the store for a USB reset of its camera.
  PreviewController(Clock& clock, std::unique_ptr<video::CaptureBackend> backend,
                    std::function<void()> resetCamera, QObject* parent = nullptr);
  // Stops the session and waits for it; frames still queued are analysed or dropped.
  ~PreviewController() override;

  State state() const { return state_; }
  const std::optional<FrameStats>& stats() const { return stats_; }
  bool recovering() const { return recovering_; }
  // Why the picture is missing while the state says it should be there: the last session error
  // (the device is busy, vanished, a GStreamer element is missing) until frames flow again.
  const std::optional<video::SessionError>& problem() const { return problem_; }
  // Whether another application streams from the device in use (it answered busy).
  bool inUseByAnotherApplication() const;
  // The program the preview let the camera go for: another program of this user opened the
  // camera's node (or held it when the preview tried to stream), so the session stopped and the
  // last picture stays. The camera is taken back once nobody else has held the node for
  // kTakeBackAfter. A pause is no fault: the watchdog neither restarts nor resets meanwhile.
  const std::optional<video::CameraHolder>& pausedFor() const { return pausedFor_; }
  FrameAnalyzer& analyzer() { return analyzer_; }
  // A view that shows the picture holds a watch while it is on screen, naming its size in device
  // pixels (again when that changes): frameReady is emitted only while one is held, so that
  // capture without a picture (statistics for velto-ctl, a hidden window) does not wake this
  // thread for every frame, and frames are made no larger than the largest watching view needs.
  void watchFrames(const QObject* view, QSize pixels);
  void unwatchFrames(const QObject* view);
  video::CaptureBackend& session() { return *backend_; }
  int sessionRestarts() const { return sessionRestarts_; }

  // The modes the camera in use offers, ordered, as of the last look-up that found it; empty
  // before, and when the device cannot be asked.
  const std::vector<video::CaptureMode>& modes() const { return modes_; }
  // The mode chosen for the camera's model; none: automatic (the default).
  const std::optional<video::CaptureMode>& chosenMode() const { return chosen_; }
  // Chooses the mode for the camera's model (remembered there once rememberModesIn was called)
  // and streams in it from now on: a running session restarts. A mode the camera does not offer
  // streams as automatic, with a line in velto.capture.
  void chooseMode(std::optional<video::CaptureMode> mode);
  // Keeps each model's choice in `defaults`, which must outlive the controller. Call before the
  // first start().
  void rememberModesIn(UserDefaults& defaults);
  // A client's own mode while it is registered (a velto-ctl snapshot at a size); the newest
  // client's wins over the chosen one. None gives the choice back.
  void setClientMode(const QString& client, std::optional<video::CaptureMode> mode);
  // What the session was last configured to stream in; none: automatic.
  const std::optional<video::CaptureMode>& streamedMode() const { return streamed_; }
  // Finds the device of the camera at `locationID` or of model `key` and what it offers, without
  // streaming; `done` is called here (not when the controller is gone first).
  void lookUpModes(std::optional<std::uint32_t> locationID, std::optional<CameraKey> key,
                   std::function<void(std::optional<video::CaptureDevice>, std::vector<video::CaptureMode>)> done);

  // Registers `client` and asks for the picture of the camera at `locationID` with `key` (the
  // store's camera; none of either when it has none). Repeat it when the store's camera changes;
  // for the camera already running it only re-asserts `running`. Returns at once: the state
  // follows once the device has been looked up.
  void start(const QString& client, std::optional<std::uint32_t> locationID, std::optional<CameraKey> key);
  // Unregisters `client`; capture stops with the last one.
  void stop(const QString& client);
  bool hasClient(const QString& client) const { return clients_.contains(client); }

  // The device of the USB camera at `locationID` (the start of its uniqueID, compared
  // case-insensitively), else of the model `key` (its modelID); none when neither matches. Pure;
  // the look-up calls it on the backend's worker.
  static std::optional<video::CaptureDevice> captureDevice(const std::vector<video::CaptureDevice>& devices,
                                                           std::optional<std::uint32_t> locationID,
                                                           std::optional<CameraKey> key);

 signals:
  void stateChanged();
  void statsChanged();
  // The analyzer holds a frame newer than at the previous notice. Frames arriving before this
  // signal has been emitted share it (a view then paints only the newest); without frames or
  // without a watch nothing is emitted.
  void frameReady();
  void recoveringChanged();
  void problemChanged();
  void pausedChanged();
  void modesChanged();
  void chosenModeChanged();

 private:
  // Asks the backend for the target's device; `then` runs here with the answer unless it is stale.
  void lookUp(bool checkAccess, std::function<void(const video::CaptureBackend::LookUpResult&)> then);
  void requestAccess();
  void connect(bool restart);  // looks the device up again, then connects to it
  void connectTo(const std::optional<video::CaptureDevice>& device, bool restart);
  void configure(const video::CaptureDevice& device, bool restart);
  void stopSession();
  void startWatchdog();
  void scheduleTick();
  bool noteFrames();  // frames arrived since the last look: the picture is healthy; true then
  void checkHealth();
  void recover();
  void onRuntimeError(const video::SessionError& error);
  void onDeviceConnected();
  // Another program may have opened or closed the node: who holds it is looked at.
  void onNodeActivity();
  void lookForHolders();
  void pause(const video::CameraHolder& holder);
  void setPausedFor(std::optional<video::CameraHolder> holder);
  void schedulePausedLook();

  void frameWatchersChanged();
  void setState(State state);
  void setRecovering(bool recovering);
  void setProblem(std::optional<video::SessionError> problem);
  void setModes(std::vector<video::CaptureMode> modes);
  void setChosen(std::optional<video::CaptureMode> mode);
  // The client's or the chosen mode when the camera offers it; none otherwise.
  std::optional<video::CaptureMode> effectiveMode();
  // Configures the session anew when the mode to stream in changed.
  void modeMayHaveChanged();

  Clock& clock_;
  State state_ = State::idle;
  std::optional<FrameStats> stats_;
  bool recovering_ = false;
  std::optional<video::SessionError> problem_;
  std::function<void()> resetCamera_;
  std::optional<std::uint32_t> currentLocationID_;
  struct Target {
    std::optional<std::uint32_t> locationID;
    std::optional<CameraKey> key;
  } target_;
  std::optional<video::CaptureDevice> captureDevice_;
  bool sessionStarted_ = false;  // configured and started, as far as this thread has asked
  std::set<QString> clients_;
  bool watchdog_ = false;
  TimerHandle tick_;
  std::int64_t lastFrameCount_ = 0;
  std::optional<Clock::MonotonicTime> lastProgress_;  // none: the distant past
  int sessionRestarts_ = 0;
  std::optional<Clock::MonotonicTime> lastReset_;     // none: the distant past
  std::optional<video::CameraHolder> pausedFor_;
  std::optional<Clock::MonotonicTime> clearSince_;    // paused: since when nobody else holds the node
  TimerHandle pausedLook_;
  TimerHandle takeBackLook_;
  bool holderLookUnderWay_ = false;
  bool holderLookAgain_ = false;                       // activity while a look was under way
  std::vector<video::CaptureMode> modes_;
  std::optional<video::CaptureMode> chosen_;
  std::optional<CameraKey> chosenFor_;                 // the model chosen_ was read for
  std::optional<video::CaptureMode> streamed_;
  std::optional<video::CaptureMode> fallbackLogged_;   // said once that the camera lacks it
  std::vector<std::pair<QString, video::CaptureMode>> clientModes_;  // oldest first
  std::unique_ptr<CaptureModeSettings> modeSettings_;
  std::map<const QObject*, QSize> watchers_;
  std::atomic<int> frameWatchers_{0};                 // watchers_'s size, read where frames arrive
  // Counts look-ups, starts and the last client leaving: only the newest look-up's answer acts.
  std::uint64_t lookUpGeneration_ = 0;
  WeakContext toSelf_;                                // answers from worker threads come back here
  // Declared last: the session stops (and with it the frames) before the analyzer goes.
  FrameAnalyzer analyzer_;
  std::unique_ptr<video::CaptureBackend> backend_;
};

}  // namespace velto
