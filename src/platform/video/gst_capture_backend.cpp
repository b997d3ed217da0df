// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/gst_capture_backend.h"

#include <cerrno>
#include <mutex>
#include <optional>

#include "platform/usb/node_events.h"
#include "platform/usb/registry.h"
#include "platform/usb/sim_watch.h"
#include "platform/usb/udev_notifier.h"
#include "platform/video/camera_holders.h"
#include "platform/video/gst_session.h"
#include "platform/video/pipewire_cameras.h"
#include "platform/video/v4l2_devices.h"
#include "platform/video/v4l2_modes.h"
#include "support/log.h"

namespace velto::video {
namespace {

// A running PipeWire answers its list within a few round trips; one that does not is passed by.
constexpr std::chrono::milliseconds kPipeWireLook{500};

}  // namespace

// What the session queue, GStreamer's threads and the frame queue share. The session's callbacks
// hold it, so it lives as long as the last of them.
struct GstCaptureBackend::Core {
  GstSession::Options sessionOptions;
  std::shared_ptr<PictureSizeCell> pictureSize = std::make_shared<PictureSizeCell>();
  Handlers handlers;  // set before anything runs, then only read

  // Session queue only.
  std::unique_ptr<GstSession> session;
  std::uint64_t generation = 0;
  std::atomic<bool> running{false};

  // Where a failing session posts its own teardown; null once the backend is going.
  std::mutex queueMutex;
  SerialQueue* queue = nullptr;  // guarded by queueMutex

  std::mutex busyMutex;
  std::set<std::string> busy;  // uniqueIDs; guarded by busyMutex

  // The single-slot hand-off to the frame queue: at most one frame waits there.
  std::mutex slotMutex;
  std::optional<Frame> waiting;  // guarded by slotMutex
  bool posted = false;           // a task that takes `waiting` is queued; guarded by slotMutex
  std::atomic<std::uint64_t> dropped{0};
  std::atomic<std::uint64_t> delivered{0};

  void offer(std::shared_ptr<Core> self, Frame frame) {
    if (handlers.frameQueue == nullptr) {
      ++delivered;
      if (handlers.frame) handlers.frame(std::move(frame));
      return;
    }
    bool post = false;
    {
      std::lock_guard lock(slotMutex);
      if (waiting) ++dropped;
      waiting = std::move(frame);
      post = !posted;
      posted = true;
    }
    if (!post) return;
    handlers.frameQueue->post([self = std::move(self)] {
      std::optional<Frame> next;
      {
        std::lock_guard lock(self->slotMutex);
        next.swap(self->waiting);
        self->posted = false;
      }
      if (!next) return;
      ++self->delivered;
      if (self->handlers.frame) self->handlers.frame(std::move(*next));
    });
  }

  void endSession() {
    if (session) session->stop();
    session.reset();
    running.store(false);
  }

  void configure(const std::shared_ptr<Core>& self, const CaptureDevice& device, bool restart) {
    if (!restart && running.load() && session && session->device() == device && session->mode() == sessionOptions.mode) {
      return;
    }
    endSession();
    const std::uint64_t run = ++generation;
    std::weak_ptr<Core> weak = self;
    auto sawFrame = std::make_shared<std::atomic<bool>>(false);
    GstSession::Callbacks callbacks;
    callbacks.frame = [weak, sawFrame, id = device.uniqueID](Frame frame) {
      auto core = weak.lock();
      if (!core) return;
      if (!sawFrame->exchange(true)) {
        std::lock_guard lock(core->busyMutex);
        core->busy.erase(id);
      }
      core->offer(core, std::move(frame));
    };
    callbacks.error = [weak, run, id = device.uniqueID](const SessionError& error) {
      auto core = weak.lock();
      if (!core) return;
      if (error.kind == SessionError::Kind::busy) {
        std::lock_guard lock(core->busyMutex);
        core->busy.insert(id);
      }
      {
        // Torn down before the receiver hears of it, so that a configure it posts in answer
        // runs after the teardown.
        std::lock_guard lock(core->queueMutex);
        if (core->queue != nullptr) {
          core->queue->post([core, run] {
            if (core->generation == run) core->endSession();
          });
        }
      }
      if (core->handlers.runtimeError) core->handlers.runtimeError(error);
    };
    session = std::make_unique<GstSession>(device, sessionOptions, std::move(callbacks));
    running.store(session->start());
    if (!running.load()) endSession();
  }
};

GstCaptureOptions defaultGstCaptureOptions() {
  const usb::RegistryOptions registry = usb::defaultRegistryOptions();
  GstCaptureOptions options;
  options.sysfsRoot = registry.sysfsRoot;
  options.simDirectory = registry.simDirectory;
  options.pipeWire = true;
  return options;
}

GstCaptureBackend::GstCaptureBackend(GstCaptureOptions options)
    : options_(std::move(options)), core_(std::make_shared<Core>()) {
  core_->sessionOptions.testSource = options_.testSource;
  core_->sessionOptions.calls = options_.calls;
  core_->sessionOptions.pictureSize = core_->pictureSize;
  // The session's bus messages are read on its own queue; dropped once the backend is going.
  core_->sessionOptions.post = [weak = std::weak_ptr<Core>(core_)](std::function<void()> task) {
    auto core = weak.lock();
    if (!core) return;
    std::lock_guard lock(core->queueMutex);
    if (core->queue != nullptr) core->queue->post(std::move(task));
  };
  core_->queue = &sessionQueue_;
  if (!options_.watchDevices) return;
  home_ = std::make_unique<QObject>();
  toHome_ = WeakContext(home_.get());
  // Listed on the queue like every later look. A device that appears before this runs counts as
  // present from the start: every look-up is queued after it and finds the device anyway.
  sessionQueue_.post([this] {
    for (const ListedDevice& listed : list()) known_.emplace(listed.device.uniqueID, listed.registryID);
  });
  auto changed = [this] { devicesMayHaveChanged(); };
  if (!options_.sysfsRoot.empty()) udev_ = std::make_unique<usb::UdevNotifier>(changed);
  if (!options_.simDirectory.empty()) simWatch_ = std::make_unique<usb::SimWatch>(options_.simDirectory, changed);
}

GstCaptureBackend::~GstCaptureBackend() {
  udev_.reset();
  simWatch_.reset();
  stopSession();
  sessionQueue_.waitUntilIdle();
  std::lock_guard lock(core_->queueMutex);
  core_->queue = nullptr;
}

void GstCaptureBackend::setHandlers(Handlers handlers) { core_->handlers = std::move(handlers); }

void GstCaptureBackend::lookUp(LookUp request, std::function<void(LookUpResult)> done) {
  // The queue is drained before the backend goes, so `this` outlives the task.
  sessionQueue_.post([this, request = std::move(request), done = std::move(done)] {
    LookUpResult result = lookUpNow(request);
    if (result.device && options_.pipeWire) {
      if (const auto published = pipeWireCameraFor(listPipeWireCameras(kPipeWireLook), *result.device)) {
        result.device->pipeWireNode = published->nodeName;
        result.device->pipeWireModes = published->modes;
        result.device->pipeWireStreaming = published->streaming;
        result.device->pipeWireProcess = published->process;
        if (request.listModes) result.modes = published->modes;
      }
    }
    done(std::move(result));
  });
}

std::vector<CaptureDevice> GstCaptureBackend::devices() {
  std::vector<CaptureDevice> devices;
  for (ListedDevice& listed : list()) devices.push_back(std::move(listed.device));
  return devices;
}

std::vector<ListedDevice> GstCaptureBackend::list() {
  std::vector<ListedDevice> list;
  if (!options_.simDirectory.empty()) {
    for (const usb::Service& service : usb::listSimServices(options_.simDirectory)) {
      CaptureDevice device;
      device.kind = CaptureDevice::Kind::sim;
      device.name = service.productName.value_or("");
      device.path = service.path;
      device.locationID = service.locationID;
      device.vendorID = service.vendorID;
      device.productID = service.productID;
      device.uniqueID = makeUniqueID(device.locationID, device.vendorID, device.productID);
      device.modelID = makeModelID(device.name, device.vendorID, device.productID);
      list.push_back(ListedDevice{std::move(device), service.registryID});
    }
  }
  if (!options_.sysfsRoot.empty()) {
    std::vector<ListedDevice> v4l2 = listV4l2Devices(options_.sysfsRoot, options_.devRoot, *options_.calls);
    list.insert(list.end(), std::make_move_iterator(v4l2.begin()), std::make_move_iterator(v4l2.end()));
  }
  for (const CaptureDevice& device : options_.testDevices) list.push_back(ListedDevice{device, 0});
  return list;
}

std::vector<CaptureMode> GstCaptureBackend::modes(const CaptureDevice& device) {
  switch (device.kind) {
    case CaptureDevice::Kind::v4l2: return listV4l2Modes(device.path, *options_.calls);
    case CaptureDevice::Kind::sim:
      // What its streaming descriptors advertise, as for a camera on the wire.
      for (const usb::Service& service : usb::listSimServices(options_.simDirectory)) {
        if (service.path != device.path || !service.connect) continue;
        usb::Connection connection = service.connect();
        std::vector<std::uint8_t> configuration;
        if (!connection.carrier || connection.carrier->configurationDescriptor(configuration) != usb::status::success) {
          log::warning(log::Layer::capture, device.path + ": the simulated camera's descriptors cannot be read");
          return {};
        }
        return modesFromConfiguration(configuration);
      }
      return {};
    case CaptureDevice::Kind::test: return {};
  }
  return {};
}

void GstCaptureBackend::setCaptureMode(std::optional<CaptureMode> mode) {
  sessionQueue_.post([core = core_, mode] { core->sessionOptions.mode = mode; });
}

Access GstCaptureBackend::access(const CaptureDevice& device) {
  if (device.kind != CaptureDevice::Kind::v4l2) return Access::granted;
  const int fd = options_.calls->open(device.path, videoNodeOpenFlags());
  if (fd >= 0) {
    options_.calls->close(fd);
    return Access::granted;
  }
  const int err = errno;
  log::systemCallFailed(log::Layer::capture, "open", device.path, err);
  return err == EACCES || err == EPERM ? Access::denied : Access::granted;
}

bool GstCaptureBackend::isInUseByAnotherApplication(const CaptureDevice& device) {
  std::lock_guard lock(core_->busyMutex);
  return core_->busy.count(device.uniqueID) != 0;
}

void GstCaptureBackend::configure(const CaptureDevice& device, bool restart) {
  sessionQueue_.post([core = core_, device, restart] { core->configure(core, device, restart); });
}

void GstCaptureBackend::stopSession() {
  sessionQueue_.post([core = core_] {
    ++core->generation;  // a failure reported meanwhile no longer tears down what comes next
    core->endSession();
  });
}

void GstCaptureBackend::watchNode(const std::optional<CaptureDevice>& device) {
  const std::string path = device ? nodePath(*device) : std::string();
  if (path.empty()) {
    nodeEvents_.reset();
    return;
  }
  if (nodeEvents_ && nodeEvents_->path() == path) return;
  nodeEvents_.reset();
  nodeEvents_ = usb::NodeEvents::create(path, [core = core_](const usb::NodeEvents::Tally&) {
    if (core->handlers.nodeActivity) core->handlers.nodeActivity();
  });
}

void GstCaptureBackend::lookForHolders(HolderLook look, std::function<void(std::vector<CameraHolder>)> done) {
  sessionQueue_.post(
      [core = core_, look = std::move(look), done = std::move(done)] {
        HolderSearch search;
        if (look.passOverPipeWire) {
          search.passOver = pipeWireProcessNames();
          if (look.device.pipeWireProcess > 0) search.passOverProcesses = {static_cast<pid_t>(look.device.pipeWireProcess)};
        }
        std::vector<CameraHolder> holders = findCameraHolders(nodePath(look.device), search);
        if (!holders.empty() && look.stopIfHeld) {
          ++core->generation;
          core->endSession();
        }
        done(std::move(holders));
      },
      SerialQueue::Priority::urgent);
}

void GstCaptureBackend::setPictureSize(int width, int height) { core_->pictureSize->set({width, height}); }

bool GstCaptureBackend::isSessionRunning() const { return core_->running.load(); }

void GstCaptureBackend::waitUntilIdle() { sessionQueue_.waitUntilIdle(); }

std::uint64_t GstCaptureBackend::framesDropped() const { return core_->dropped.load(); }
std::uint64_t GstCaptureBackend::framesDelivered() const { return core_->delivered.load(); }

void GstCaptureBackend::devicesMayHaveChanged() {
  if (rescanQueued_.exchange(true)) return;
  sessionQueue_.post([this] { rescan(); });
}

void GstCaptureBackend::rescan() {
  // Cleared before listing: a notice that comes while the list is read asks for another.
  rescanQueued_.store(false);
  // A camera that left and came back between two looks has a new enumeration: it appeared too.
  std::set<std::pair<std::string, std::uint64_t>> now;
  for (const ListedDevice& listed : list()) now.emplace(listed.device.uniqueID, listed.registryID);
  bool appeared = false;
  for (const auto& device : now) appeared = appeared || known_.count(device) == 0;
  known_ = std::move(now);
  if (appeared) {
    toHome_.post([this] {
      if (core_->handlers.deviceConnected) core_->handlers.deviceConnected();
    });
  }
}

}  // namespace velto::video
