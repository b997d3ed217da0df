// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/preview_controller.h"

#include <QPointer>
#include <QThread>

#include <cinttypes>
#include <cstdio>
#include <utility>

#include "capture/capture_mode_settings.h"
#include "support/log.h"
#include "support/weak_context.h"

namespace velto {

namespace {

std::string lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Runs a backend's answer on the controller's thread: queued when it comes from a worker, at once
// when a stand-in backend answers on that thread (tests), as a synchronous look would be.
void takeAnswer(const WeakContext& self, const QPointer<PreviewController>& alive, QThread* home,
                std::function<void()> take) {
  if (QThread::currentThread() != home) {
    self.post(std::move(take));
  } else if (alive) {
    take();
  }
}

}  // namespace

PreviewController::PreviewController(Clock& clock, std::unique_ptr<video::CaptureBackend> backend,
                                     std::function<void()> resetCamera, QObject* parent)
    : QObject(parent), clock_(clock), resetCamera_(std::move(resetCamera)), backend_(std::move(backend)) {
  toSelf_ = WeakContext(this);
  const WeakContext& self = toSelf_;
  analyzer_.setStatsHandler([self, controller = this](FrameStats stats) {
    self.post([controller, stats = std::move(stats)] {
      controller->stats_ = stats;
      emit controller->statsChanged();
      // The picture is back: a camera another program just let go shows at once, not a tick later.
      if (!controller->clients_.empty()) controller->noteFrames();
    });
  });
  // Taken before the views read the newest frame: one arriving meanwhile is announced again.
  // Nobody watching, the notice is taken at once.
  analyzer_.setFrameHandler([self, controller = this] {
    if (controller->frameWatchers_.load() == 0) {
      controller->analyzer_.frameNoticed();
      return;
    }
    self.post([controller] {
      controller->analyzer_.frameNoticed();
      emit controller->frameReady();
    });
  });
  video::CaptureBackend::Handlers handlers;
  // Frames are taken on the session's streaming thread, which has just decoded them: the frame
  // statistics every sixth frame cost less than handing each frame to a thread of their own.
  handlers.frame = [this](Frame frame) { analyzer_.deliver(std::move(frame)); };
  handlers.runtimeError = [self, controller = this](const video::SessionError& error) {
    self.post([controller, error] { controller->onRuntimeError(error); });
  };
  // Created and called on this thread.
  handlers.deviceConnected = [this] { onDeviceConnected(); };
  handlers.nodeActivity = [this] { onNodeActivity(); };
  backend_->setHandlers(std::move(handlers));
}

PreviewController::~PreviewController() {
  tick_.cancel();
  backend_->stopSession();
  backend_->waitUntilIdle();
}

void PreviewController::watchFrames(const QObject* view, QSize pixels) {
  watchers_[view] = pixels;
  frameWatchersChanged();
}

void PreviewController::unwatchFrames(const QObject* view) {
  if (watchers_.erase(view) != 0) frameWatchersChanged();
}

void PreviewController::frameWatchersChanged() {
  QSize largest(0, 0);
  for (const auto& [view, size] : watchers_) largest = largest.expandedTo(size);
  frameWatchers_.store(static_cast<int>(watchers_.size()));
  backend_->setPictureSize(largest.width(), largest.height());
}

bool PreviewController::inUseByAnotherApplication() const {
  return captureDevice_.has_value() && backend_->isInUseByAnotherApplication(*captureDevice_);
}

std::optional<video::CaptureDevice> PreviewController::captureDevice(const std::vector<video::CaptureDevice>& devices,
                                                                     std::optional<std::uint32_t> locationID,
                                                                     std::optional<CameraKey> key) {
  if (locationID) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "0x%" PRIx32, *locationID);
    for (const auto& device : devices) {
      if (lowered(device.uniqueID).starts_with(prefix)) return device;
    }
  }
  if (key) {
    const std::string model =
        "VendorID_" + std::to_string(key->vendorID) + " ProductID_" + std::to_string(key->productID);
    for (const auto& device : devices) {
      if (device.modelID.find(model) != std::string::npos) return device;
    }
  }
  return std::nullopt;
}

void PreviewController::start(const QString& client, std::optional<std::uint32_t> locationID,
                              std::optional<CameraKey> key) {
  clients_.insert(client);
  analyzer_.setTaking(true);
  target_ = {locationID, key};
  if (modeSettings_ && key != chosenFor_) {
    chosenFor_ = key;
    setChosen(key ? modeSettings_->mode(*key) : std::nullopt);
  }
  ++lookUpGeneration_;  // an answer still on its way was for the request before this one
  // Asking for access is a step of its own, as it would be behind a system prompt: a client that
  // leaves before it runs starts nothing.
  QMetaObject::invokeMethod(this, [this] { requestAccess(); }, Qt::QueuedConnection);
}

void PreviewController::lookUp(bool checkAccess, std::function<void(const video::CaptureBackend::LookUpResult&)> then) {
  const std::uint64_t generation = ++lookUpGeneration_;
  video::CaptureBackend::LookUp request;
  request.choose = [target = target_](const std::vector<video::CaptureDevice>& devices) {
    return captureDevice(devices, target.locationID, target.key);
  };
  request.checkAccess = checkAccess;
  request.inUse = captureDevice_;
  request.listModes = true;
  backend_->lookUp(std::move(request), [self = toSelf_, controller = this, alive = QPointer<PreviewController>(this),
                                        home = thread(), generation,
                                        then = std::move(then)](video::CaptureBackend::LookUpResult found) {
    auto take = [controller, generation, then, found = std::move(found)] {
      // A newer request or the last client leaving made the answer stale.
      if (generation != controller->lookUpGeneration_ || controller->clients_.empty()) return;
      controller->setModes(found.device ? found.modes : std::vector<video::CaptureMode>{});
      then(found);
    };
    takeAnswer(self, alive, home, std::move(take));
  });
}

void PreviewController::requestAccess() {
  if (clients_.empty()) return;
  lookUp(true, [this](const video::CaptureBackend::LookUpResult& found) {
    if (found.device && found.access == video::Access::denied) {
      if (state_ != State::unauthorized) {
        log::warning(log::Layer::capture, "no permission to open the video device " + found.device->path);
      }
      setState(State::unauthorized);
      return;
    }
    if (currentLocationID_ == target_.locationID && sessionStarted_ && found.inUseListed) {
      modeMayHaveChanged();  // a client that came with a mode of its own
      setState(State::running);
      return;
    }
    connectTo(found.device, false);
  });
}

void PreviewController::connect(bool restart) {
  lookUp(false, [this, restart](const video::CaptureBackend::LookUpResult& found) { connectTo(found.device, restart); });
}

void PreviewController::connectTo(const std::optional<video::CaptureDevice>& device, bool restart) {
  // Paused for another program, the same camera stays let go until that program is done.
  const bool stillPaused = pausedFor_ && device && captureDevice_ && device->uniqueID == captureDevice_->uniqueID;
  if (!stillPaused) setPausedFor(std::nullopt);
  if (device) {
    currentLocationID_ = target_.locationID;
    captureDevice_ = device;
    if (!stillPaused) configure(*device, restart);
    setState(State::running);
  } else {
    setState(State::noCamera);
    captureDevice_.reset();
    stopSession();
  }
  backend_->watchNode(captureDevice_);
  startWatchdog();
}

void PreviewController::configure(const video::CaptureDevice& device, bool restart) {
  sessionStarted_ = true;
  const std::optional<video::CaptureMode> mode = effectiveMode();
  if (mode != streamed_) {
    streamed_ = mode;
    backend_->setCaptureMode(mode);
  }
  backend_->configure(device, restart);
}

std::optional<video::CaptureMode> PreviewController::effectiveMode() {
  std::optional<video::CaptureMode> wanted = chosen_;
  if (!clientModes_.empty()) wanted = clientModes_.back().second;
  if (!wanted) return std::nullopt;
  if (std::find(modes_.begin(), modes_.end(), *wanted) != modes_.end()) {
    fallbackLogged_.reset();
    return wanted;
  }
  // The camera changed, or the mode was chosen for another of the same model.
  if (fallbackLogged_ != wanted) {
    fallbackLogged_ = wanted;
    const std::string name = captureDevice_ ? captureDevice_->name : std::string("the camera");
    log::info(log::Layer::capture, name + " does not offer " + video::describeMode(*wanted) + "; streaming automatically");
  }
  return std::nullopt;
}

void PreviewController::modeMayHaveChanged() {
  if (!sessionStarted_ || !captureDevice_ || effectiveMode() == streamed_) return;
  configure(*captureDevice_, false);
}

void PreviewController::chooseMode(std::optional<video::CaptureMode> mode) {
  if (modeSettings_ && target_.key) modeSettings_->setMode(*target_.key, mode);
  setChosen(std::move(mode));
  modeMayHaveChanged();
}

void PreviewController::rememberModesIn(UserDefaults& defaults) {
  modeSettings_ = std::make_unique<CaptureModeSettings>(defaults);
  chosenFor_.reset();
}

void PreviewController::setClientMode(const QString& client, std::optional<video::CaptureMode> mode) {
  std::erase_if(clientModes_, [&](const auto& entry) { return entry.first == client; });
  if (mode) clientModes_.emplace_back(client, *mode);
  modeMayHaveChanged();
}

void PreviewController::lookUpModes(
    std::optional<std::uint32_t> locationID, std::optional<CameraKey> key,
    std::function<void(std::optional<video::CaptureDevice>, std::vector<video::CaptureMode>)> done) {
  video::CaptureBackend::LookUp request;
  request.choose = [locationID, key](const std::vector<video::CaptureDevice>& devices) {
    return captureDevice(devices, locationID, key);
  };
  request.listModes = true;
  backend_->lookUp(std::move(request), [self = toSelf_, alive = QPointer<PreviewController>(this), home = thread(),
                                        done = std::move(done)](video::CaptureBackend::LookUpResult found) {
    takeAnswer(self, alive, home, [done, found = std::move(found)] { done(found.device, found.modes); });
  });
}

void PreviewController::setModes(std::vector<video::CaptureMode> modes) {
  if (modes == modes_) return;
  modes_ = std::move(modes);
  emit modesChanged();
}

void PreviewController::setChosen(std::optional<video::CaptureMode> mode) {
  if (mode == chosen_) return;
  chosen_ = std::move(mode);
  emit chosenModeChanged();
}

void PreviewController::stopSession() {
  sessionStarted_ = false;
  backend_->stopSession();
}

void PreviewController::stop(const QString& client) {
  clients_.erase(client);
  const bool hadMode = std::erase_if(clientModes_, [&](const auto& entry) { return entry.first == client; }) != 0;
  if (!clients_.empty()) {
    if (hadMode) modeMayHaveChanged();
    return;
  }
  ++lookUpGeneration_;
  currentLocationID_.reset();
  captureDevice_.reset();
  setState(State::idle);
  setRecovering(false);
  setProblem(std::nullopt);
  setPausedFor(std::nullopt);
  backend_->watchNode(std::nullopt);
  watchdog_ = false;
  tick_.cancel();
  stopSession();
  analyzer_.setTaking(false);  // the last picture goes with the last viewer
}

void PreviewController::startWatchdog() {
  if (watchdog_) return;
  watchdog_ = true;
  lastFrameCount_ = analyzer_.frameCount();
  lastProgress_ = clock_.monotonicNow();
  scheduleTick();
}

void PreviewController::scheduleTick() {
  tick_ = clock_.singleShot(this, kTick, [this] {
    checkHealth();
    if (watchdog_) scheduleTick();
  });
}

bool PreviewController::noteFrames() {
  const std::int64_t count = analyzer_.frameCount();
  if (count == lastFrameCount_) return false;
  lastFrameCount_ = count;
  lastProgress_ = clock_.monotonicNow();
  sessionRestarts_ = 0;
  setRecovering(false);
  setProblem(std::nullopt);
  return true;
}

void PreviewController::checkHealth() {
  if (clients_.empty()) return;
  if (pausedFor_) {
    // No frames are expected while another program has the camera: that is no stall.
    lastFrameCount_ = analyzer_.frameCount();
    lastProgress_ = clock_.monotonicNow();
    return;
  }
  if (noteFrames()) return;
  const auto now = clock_.monotonicNow();
  if (!lastProgress_ || now - *lastProgress_ > kStallAfter) recover();
}

void PreviewController::recover() {
  const auto now = clock_.monotonicNow();
  const bool firstStep = !recovering_;
  setRecovering(true);
  lastProgress_ = now;
  if (state_ != State::noCamera) {
    // A camera shared through PipeWire is in use by PipeWire's other clients as well: resetting
    // it would take their picture too.
    const bool inUse = inUseByAnotherApplication() || (captureDevice_ && !captureDevice_->pipeWireNode.empty());
    if (sessionRestarts_ >= 1 && !inUse && (!lastReset_ || now - *lastReset_ > kResetInterval)) {
      lastReset_ = now;
      sessionRestarts_ = 0;
      lastProgress_ = now + kResetGrace;
      log::info(log::Layer::capture, "no frames after a session restart: asking for a USB reset of the camera");
      if (resetCamera_) resetCamera_();
      return;
    }
    // Said once per stall; the restarts that follow every few seconds are not news.
    ++sessionRestarts_;
    if (firstStep) {
      log::info(log::Layer::capture, inUse ? "no frames; the camera is in use by another application: restarting the session"
                                           : "no frames: restarting the session");
    }
  }
  connect(true);
}

void PreviewController::onRuntimeError(const video::SessionError& error) {
  if (pausedFor_) return;  // the session was let go on purpose
  // Another program of this user streams already: wait for it as for one that came later.
  if (error.kind == video::SessionError::Kind::busy && error.holder && !clients_.empty()) {
    pause(*error.holder);
    return;
  }
  // The next health check treats the session as stalled, unless frames arrived since the last:
  // a failed session, a camera another program streams from included, is tried again within a
  // tick, so a camera let go shows its picture again within about a second.
  lastProgress_.reset();
  if (!clients_.empty()) setProblem(error);
}

void PreviewController::onDeviceConnected() {
  if (clients_.empty() || (state_ == State::running && !recovering_)) return;
  if (state_ == State::unauthorized) {
    // A camera plugged back in may come with new permissions (the udev rule now installed).
    requestAccess();
    return;
  }
  lastProgress_ = clock_.monotonicNow();
  connect(true);
}

void PreviewController::onNodeActivity() {
  if (clients_.empty() || !captureDevice_) return;
  lookForHolders();
}

void PreviewController::lookForHolders() {
  if (!captureDevice_) return;
  if (holderLookUnderWay_) {
    holderLookAgain_ = true;
    return;
  }
  holderLookUnderWay_ = true;
  video::CaptureBackend::HolderLook look;
  look.device = *captureDevice_;
  look.stopIfHeld = !pausedFor_ && sessionStarted_;
  // Shared through PipeWire, its daemon holding the node is the preview's own stream.
  look.passOverPipeWire = !captureDevice_->pipeWireNode.empty();
  backend_->lookForHolders(
      std::move(look), [self = toSelf_, controller = this, alive = QPointer<PreviewController>(this), home = thread(),
                        device = captureDevice_->uniqueID](std::vector<video::CameraHolder> holders) {
        auto take = [controller, device, holders = std::move(holders)] {
          controller->holderLookUnderWay_ = false;
          const bool again = std::exchange(controller->holderLookAgain_, false);
          // The last client left, or the preview moved to another camera, meanwhile.
          if (controller->clients_.empty() || !controller->captureDevice_ || controller->captureDevice_->uniqueID != device) {
            return;
          }
          const auto now = controller->clock_.monotonicNow();
          if (!holders.empty()) {
            controller->clearSince_.reset();
            controller->takeBackLook_.cancel();
            controller->pause(holders.front());
          } else if (controller->pausedFor_) {
            if (!controller->clearSince_) {
              controller->clearSince_ = now;
              controller->takeBackLook_ =
                  controller->clock_.singleShot(controller, kTakeBackAfter, [controller] { controller->lookForHolders(); });
            }
            if (now - *controller->clearSince_ >= kTakeBackAfter) {
              log::info(log::Layer::capture, controller->pausedFor_->name + " let the camera go: the preview takes it back");
              controller->setPausedFor(std::nullopt);
              controller->lastProgress_ = now;
              controller->connect(true);
              return;
            }
          }
          if (again) controller->lookForHolders();
        };
        takeAnswer(self, alive, home, std::move(take));
      });
}

void PreviewController::pause(const video::CameraHolder& holder) {
  if (!pausedFor_) {
    log::info(log::Layer::capture,
              holder.name + " (PID " + std::to_string(holder.pid) + ") opened the camera: the preview lets it go meanwhile");
    stopSession();
    sessionRestarts_ = 0;
    lastProgress_ = clock_.monotonicNow();
    setRecovering(false);
    setProblem(std::nullopt);
  }
  setPausedFor(holder);
}

void PreviewController::setPausedFor(std::optional<video::CameraHolder> holder) {
  if (!holder) {
    pausedLook_.cancel();
    takeBackLook_.cancel();
    clearSince_.reset();
  } else if (!pausedLook_.isPending()) {
    schedulePausedLook();
  }
  if (pausedFor_ == holder) return;
  pausedFor_ = std::move(holder);
  emit pausedChanged();
}

void PreviewController::schedulePausedLook() {
  // Looked at now and then while paused, not only on the node's events, in case one was missed.
  pausedLook_ = clock_.singleShot(this, kPausedLook, [this] {
    if (!pausedFor_) return;
    lookForHolders();
    schedulePausedLook();
  });
}

void PreviewController::setState(State state) {
  if (state_ == state) return;
  state_ = state;
  emit stateChanged();
}

void PreviewController::setRecovering(bool recovering) {
  if (recovering_ == recovering) return;
  recovering_ = recovering;
  emit recoveringChanged();
}

void PreviewController::setProblem(std::optional<video::SessionError> problem) {
  const bool same = problem_.has_value() == problem.has_value() &&
                    (!problem || (problem_->kind == problem->kind && problem_->text == problem->text));
  if (same) return;
  problem_ = std::move(problem);
  emit problemChanged();
}

}  // namespace velto
