// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The GStreamer backend on the real GStreamer path, test sources and simulated cameras standing
// in for cameras: frames and their geometry, the single-slot hand-off, sessions that leave nothing
// open, failures by kind (bus errors posted as an element of the pipeline would), stopping a
// blocked source, access, and devices appearing.
#include "platform/video/gst_capture_backend.h"

#include <gst/gst.h>
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <optional>
#include <set>

#include "capture/preview_controller.h"
#include "eventually.h"
#include "fake_video_nodes.h"
#include "platform_linux/sysfs_tree.h"
#include "sim_fixture.h"
#include "support/manual_clock.h"
#include "support/serial_queue.h"

namespace velto::video {
namespace {

CaptureDevice v4l2Device(const std::string& path, CaptureDevice::Kind kind = CaptureDevice::Kind::v4l2) {
  CaptureDevice device;
  device.kind = kind;
  device.uniqueID = "0x1200000291a3369";
  device.path = path;
  return device;
}
CaptureDevice testDevice() { return v4l2Device("", CaptureDevice::Kind::test); }

int openDescriptors() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// What the handlers saw, with waits for it (real time, bounded).
struct Received {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Frame> frames;
  std::vector<SessionError> errors;
  std::vector<std::string> errorThreads;  // the name of the thread each error came on

  // Woken by each frame and error; looks again every few milliseconds for conditions that
  // neither signals.
  template <typename Predicate>
  bool waitFor(Predicate done) {
    std::unique_lock lock(mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      changed.wait_for(lock, std::chrono::milliseconds(5));
    }
    return true;
  }
  std::optional<SessionError> firstError() {
    if (!waitFor([&] { return !errors.empty(); })) return std::nullopt;
    std::lock_guard lock(mutex);
    return errors.front();
  }
};

class GstCaptureBackendTest : public ::testing::Test {
 protected:
  std::unique_ptr<GstCaptureBackend> make(GstCaptureOptions options) {
    options.calls = &kernel;
    auto backend = std::make_unique<GstCaptureBackend>(std::move(options));
    CaptureBackend::Handlers handlers;
    handlers.frameQueue = &frames;
    handlers.frame = [this](Frame frame) {
      if (hold) hold();
      std::lock_guard lock(received.mutex);
      received.frames.push_back(std::move(frame));
      received.changed.notify_all();
    };
    handlers.runtimeError = [this](const SessionError& error) {
      char thread[16] = {};
      pthread_getname_np(pthread_self(), thread, sizeof thread);
      std::lock_guard lock(received.mutex);
      received.errors.push_back(error);
      received.errorThreads.emplace_back(thread);
      received.changed.notify_all();
    };
    backend->setHandlers(std::move(handlers));
    return backend;
  }
  static GstCaptureOptions quiet(std::string testSource = "videotestsrc is-live=true") {
    GstCaptureOptions options;
    options.sysfsRoot.clear();
    options.watchDevices = false;
    options.testSource = std::move(testSource);
    return options;
  }

  testing::FakeVideoNodes kernel;
  Received received;
  std::function<void()> hold;          // runs on the frame queue before a frame is recorded
  SerialQueue frames{"camera.frames"};  // last: drained before what its tasks touch goes
};

TEST_F(GstCaptureBackendTest, DeliversBgraFramesWithTheGeometryOfTheSample) {
  // 638 is not a multiple of 8 or 16: a row of any padded layout would be longer than 4 × width.
  auto backend = make(quiet("videotestsrc is-live=true pattern=solid-color foreground-color=0xff3060c0"
                            " ! video/x-raw,format=I420,width=638,height=480,framerate=30/1"));
  backend->configure(testDevice(), false);
  backend->waitUntilIdle();
  EXPECT_TRUE(backend->isSessionRunning());
  ASSERT_TRUE(received.waitFor([&] { return received.frames.size() >= 2; }));
  backend->stopSession();
  backend->waitUntilIdle();
  EXPECT_FALSE(backend->isSessionRunning());

  std::lock_guard lock(received.mutex);
  const Frame& frame = received.frames.back();
  EXPECT_EQ(frame.width(), 638);
  EXPECT_EQ(frame.height(), 480);
  EXPECT_GE(frame.bytesPerRow(), 4 * 638);
  const std::uint8_t* pixels = frame.pixels();
  ASSERT_NE(pixels, nullptr);
  // The last pixel of the last row, bytes blue, green, red, alpha (I420 rounds colours a little).
  const std::uint8_t* last = pixels + static_cast<std::size_t>(479) * frame.bytesPerRow() + 4 * 637;
  EXPECT_NEAR(last[0], 0xc0, 6);
  EXPECT_NEAR(last[1], 0x60, 6);
  EXPECT_NEAR(last[2], 0x30, 6);
  EXPECT_EQ(last[3], 0xff);
  EXPECT_TRUE(received.errors.empty());
}

TEST_F(GstCaptureBackendTest, AtMostOneFrameWaitsForASlowReceiver) {
  std::promise<void> release;
  hold = [gate = release.get_future().share()] { gate.wait(); };
  auto backend = make(quiet("videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=60/1"));
  backend->configure(testDevice(), false);
  // The receiver is stuck in its first frame while the source goes on.
  ASSERT_TRUE(received.waitFor([&] { return backend->framesDropped() >= 5; }));
  EXPECT_LE(frames.backlog(), 2u) << "the frame in the receiver, and at most one more";
  release.set_value();
  ASSERT_TRUE(received.waitFor([&] { return received.frames.size() >= 3; }));
  backend->stopSession();
  backend->waitUntilIdle();
  frames.waitUntilIdle();
  EXPECT_EQ(backend->framesDelivered(), received.frames.size());
}

TEST_F(GstCaptureBackendTest, SessionsThatEndLeaveNoPipelineBehind) {
  // A pipeline that outlives its session keeps its bus (a socket pair), its elements and its last
  // frame: an owner that streams once per command would grow by that much every time.
  auto backend = make(quiet("videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=60/1"));
  auto runSession = [&](bool replaceRunning) {
    std::size_t seen = 0;
    {
      std::lock_guard lock(received.mutex);
      seen = received.frames.size();
    }
    backend->configure(testDevice(), replaceRunning);
    ASSERT_TRUE(received.waitFor([&] { return received.frames.size() > seen; }));
  };
  auto settle = [&] {
    backend->stopSession();
    backend->waitUntilIdle();
    frames.waitUntilIdle();
    std::lock_guard lock(received.mutex);
    received.frames.clear();  // the frames hold their buffers' pools
  };
  // The first session also starts what GStreamer keeps for good (the system clock, its poll).
  runSession(false);
  settle();
  const int before = openDescriptors();
  for (int i = 0; i < 4; ++i) {
    runSession(false);
    runSession(true);  // replaces the running one
    settle();
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_TRUE(received.errors.empty());
}

TEST_F(GstCaptureBackendTest, AMissingElementIsNamedWithItsPackage) {
  ASSERT_EQ(gst_init_check(nullptr, nullptr, nullptr), TRUE);
  // As on a system without gstreamer1.0-plugins-good; nothing else in this program uses v4l2src.
  if (GstPluginFeature* v4l2src = gst_registry_lookup_feature(gst_registry_get(), "v4l2src")) {
    gst_registry_remove_feature(gst_registry_get(), v4l2src);
    gst_object_unref(v4l2src);
  }
  kernel.caps["/fake/dev/video0"] = V4L2_CAP_VIDEO_CAPTURE;
  auto backend = make(quiet());
  backend->configure(v4l2Device("/fake/dev/video0"), false);
  const auto error = received.firstError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind, SessionError::Kind::missingElement);
  EXPECT_EQ(error->text, "GStreamer element 'v4l2src' is missing (install gstreamer1.0-plugins-good)");
  backend->waitUntilIdle();
  EXPECT_FALSE(backend->isSessionRunning());
}

TEST_F(GstCaptureBackendTest, ARefusedNodeIsDeniedByAccessAndBySession) {
  auto backend = make(quiet());
  kernel.refuse["/fake/dev/video0"] = EACCES;
  kernel.refuse["/fake/dev/video1"] = EPERM;
  EXPECT_EQ(backend->access(v4l2Device("/fake/dev/video0")), Access::denied);
  EXPECT_EQ(backend->access(v4l2Device("/fake/dev/video1")), Access::denied);
  EXPECT_EQ(backend->access(v4l2Device("/fake/dev/video2")), Access::granted) << "gone is not denied";
  EXPECT_EQ(backend->access(testDevice()), Access::granted);

  backend->configure(v4l2Device("/fake/dev/video0"), false);
  const auto error = received.firstError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind, SessionError::Kind::denied);
  EXPECT_NE(error->text.find("/fake/dev/video0"), std::string::npos) << error->text;

  // The real open(2), where permissions apply (never for root).
  if (::geteuid() != 0) {
    const std::string path = ::testing::TempDir() + "velto-video-node";
    std::ofstream(path) << "";
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    GstCaptureOptions options = quiet();
    GstCaptureBackend real(options);
    EXPECT_EQ(real.access(v4l2Device(path)), Access::denied);
    ::unlink(path.c_str());
  }
}

// The element named `name` of the pipeline built last, caught as it joins its bin: a test posts on
// the session's bus as that element would.
class ElementCatcher {
 public:
  explicit ElementCatcher(std::string name)
      : name_(std::move(name)), signal_(g_signal_lookup("element-added", GST_TYPE_BIN)),
        hook_(g_signal_add_emission_hook(signal_, 0, &ElementCatcher::added, this, nullptr)) {}
  ~ElementCatcher() {
    g_signal_remove_emission_hook(signal_, hook_);
    if (GstElement* left = take()) gst_object_unref(left);
  }
  GstElement* take() {  // a reference of the caller's own, or null
    std::lock_guard lock(mutex_);
    return std::exchange(caught_, nullptr);
  }

 private:
  static gboolean added(GSignalInvocationHint*, guint count, const GValue* values, gpointer data) {
    auto* self = static_cast<ElementCatcher*>(data);
    auto* element = count >= 2 ? static_cast<GstElement*>(g_value_get_object(&values[1])) : nullptr;
    if (element != nullptr && self->name_ == GST_OBJECT_NAME(element)) {
      std::lock_guard lock(self->mutex_);
      if (self->caught_ != nullptr) gst_object_unref(self->caught_);
      self->caught_ = GST_ELEMENT(gst_object_ref(element));
    }
    return TRUE;
  }
  std::string name_;
  guint signal_;
  gulong hook_;
  std::mutex mutex_;
  GstElement* caught_ = nullptr;
};

TEST_F(GstCaptureBackendTest, BusErrorsAreReadOnTheSessionQueueByCodeAndByTheNodesAnswer) {
  ASSERT_EQ(gst_init_check(nullptr, nullptr, nullptr), TRUE);
  using Kind = SessionError::Kind;
  struct Case {
    GQuark domain;
    int code;
    int node;  // errno of the node's open(2); 0: it opens and answers VIDIOC_QUERYCAP
    Kind kind;
  };
  const Case cases[] = {
      // The code says it all; the node, asked, would say otherwise.
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY, EACCES, Kind::busy},
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_AUTHORIZED, ENOENT, Kind::denied},
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, EBUSY, Kind::vanished},
      {GST_CORE_ERROR, GST_CORE_ERROR_MISSING_PLUGIN, EBUSY, Kind::missingElement},
      {GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND, 0, Kind::missingElement},
      // How v4l2src reports a refused open or a camera pulled out: the node tells which.
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ_WRITE, EBUSY, Kind::busy},
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_OPEN_READ_WRITE, EACCES, Kind::denied},
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, ENOENT, Kind::vanished},
      // A node that answers leaves GStreamer's words, shown but never read.
      {GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_FAILED, 0, Kind::failed},
  };
  const std::string node = "/fake/dev/video0";
  CaptureDevice device = v4l2Device(node, CaptureDevice::Kind::test);
  device.name = "Cam";
  auto backend = make(quiet("videotestsrc is-live=true name=scripted ! video/x-raw,width=64,height=48"));
  ElementCatcher catcher("scripted");
  int descriptors = -1;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(g_quark_to_string(c.domain)) + " " + std::to_string(c.code));
    kernel.refuse.clear();
    kernel.caps.clear();
    if (c.node == 0) kernel.caps[node] = V4L2_CAP_VIDEO_CAPTURE;
    else kernel.refuse[node] = c.node;
    backend->configure(device, true);
    backend->waitUntilIdle();
    GstElement* source = catcher.take();
    ASSERT_NE(source, nullptr);
    // The words a matcher of error text would take for a busy camera.
    GError* err = g_error_new_literal(c.domain, c.code, "Device or resource busy");
    gst_element_post_message(source, gst_message_new_error(GST_OBJECT(source), err, "system error: Device or resource busy"));
    g_error_free(err);
    gst_object_unref(source);
    const auto error = received.firstError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind, c.kind) << error->text;
    if (c.kind == Kind::failed) {
      EXPECT_EQ(error->text, "Cam stopped sending video: Device or resource busy");
    }
    backend->waitUntilIdle();
    frames.waitUntilIdle();
    EXPECT_FALSE(backend->isSessionRunning());
    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.errorThreads, std::vector<std::string>{"camera.session"});
    received.errors.clear();
    received.errorThreads.clear();
    received.frames.clear();
    // Each message went to the session queue and was let go there, with its pipeline: no case
    // leaves more open than the first did, once GStreamer's own threads have let go of theirs a
    // moment after the pipeline (a loaded machine sees that moment).
    if (descriptors < 0) descriptors = openDescriptors();
    else EXPECT_TRUE(testing::eventually([&] { return openDescriptors() <= descriptors; }, 2000))
        << openDescriptors() << " open, " << descriptors << " after the first case";
  }
}

TEST_F(GstCaptureBackendTest, AStreamThatEndsIsAFailure) {
  auto backend = make(quiet("videotestsrc is-live=true num-buffers=2"));
  backend->configure(testDevice(), false);
  const auto error = received.firstError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind, SessionError::Kind::failed);
  EXPECT_EQ(error->text, "The camera stopped sending video: the stream ended.");
  backend->waitUntilIdle();
  EXPECT_FALSE(backend->isSessionRunning());
}

class SimCaptureTest : public GstCaptureBackendTest {
 protected:
  void SetUp() override {
    bus.plug(sim::c200Profile(), "cam", 20, [](sim::ServerOptions& o) {
      o.width = 320;
      o.height = 180;
      o.fps = 60;
    });
    GstCaptureOptions options = quiet();
    options.simDirectory = bus.directory();
    backend = make(options);
    const std::vector<CaptureDevice> devices = backend->devices();
    ASSERT_EQ(devices.size(), 1u);
    camera = devices[0];
    ASSERT_EQ(camera.kind, CaptureDevice::Kind::sim);
  }
  testing::SimBus bus;
  std::unique_ptr<GstCaptureBackend> backend;
  CaptureDevice camera;
};

TEST_F(SimCaptureTest, StreamsThroughTheSessionAndStopsWhileFrozen) {
  backend->configure(camera, false);
  ASSERT_TRUE(received.waitFor([&] { return received.frames.size() >= 3; }));
  {
    std::lock_guard lock(received.mutex);
    const Frame& frame = received.frames.back();
    EXPECT_EQ(frame.width(), 320);
    EXPECT_EQ(frame.height(), 180);
    EXPECT_EQ(frame.bytesPerRow(), 4 * 320);
    EXPECT_NE(frame.pixels(), nullptr);
  }
  // The camera stops sending in the middle of the stream: the feeder waits in vain.
  bus.command("cam", "freeze");
  backend->stopSession();
  backend->waitUntilIdle();
  EXPECT_FALSE(backend->isSessionRunning());
  EXPECT_TRUE(received.errors.empty()) << received.errors.front().text;
}

TEST_F(SimCaptureTest, BusyMarksTheCameraInUseUntilAFrameComesAndUnplugIsVanished) {
  bus.command("cam", "busy");
  backend->configure(camera, false);
  auto error = received.firstError();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->kind, SessionError::Kind::busy);
  EXPECT_TRUE(backend->isInUseByAnotherApplication(camera));
  backend->waitUntilIdle();
  EXPECT_FALSE(backend->isSessionRunning()) << "a failed session takes itself down";

  bus.command("cam", "free");
  backend->configure(camera, false);
  ASSERT_TRUE(received.waitFor([&] { return !received.frames.empty(); }));
  EXPECT_FALSE(backend->isInUseByAnotherApplication(camera));

  bus.command("cam", "unplug");
  ASSERT_TRUE(received.waitFor([&] { return received.errors.size() == 2; }));
  std::lock_guard lock(received.mutex);
  EXPECT_EQ(received.errors[1].kind, SessionError::Kind::vanished) << received.errors[1].text;
}

TEST_F(GstCaptureBackendTest, ReportsOnlyDevicesAppearing) {
  testing::SimBus bus;
  bus.plug(sim::c200Profile(), "present");
  GstCaptureOptions options = quiet();
  options.simDirectory = bus.directory();
  options.watchDevices = true;
  auto backend = make(options);
  std::vector<std::size_t> listedAtCall;
  CaptureBackend::Handlers handlers;
  handlers.deviceConnected = [&] { listedAtCall.push_back(backend->devices().size()); };
  backend->setHandlers(handlers);
  backend->waitUntilIdle();  // the first listing, which a later one is compared with
  auto waitForCalls = [&](std::size_t count) {
    QDeadlineTimer deadline(10000);
    while (listedAtCall.size() < count && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    return listedAtCall.size();
  };

  bus.plug(sim::genericProfile(), "arriving");
  ASSERT_EQ(waitForCalls(1), 1u);
  const std::vector<CaptureDevice> devices = backend->devices();
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1].kind, CaptureDevice::Kind::sim);

  // Leaving is not news; coming back is.
  bus.command("arriving", "unplug");
  bus.command("arriving", "plug");
  ASSERT_EQ(waitForCalls(2), 2u);
  EXPECT_EQ(listedAtCall, (std::vector<std::size_t>{2, 2}));
}


// The kernel's video nodes, noting the thread each open(2) came from.
class ThreadNotingCalls final : public usb::SystemCalls {
 public:
  explicit ThreadNotingCalls(usb::SystemCalls& kernel) : kernel_(kernel) {}
  int open(const std::string& path, int flags) override {
    char thread[16] = {};
    pthread_getname_np(pthread_self(), thread, sizeof thread);
    std::lock_guard lock(mutex_);
    threads_.emplace_back(thread);
    return kernel_.open(path, flags);
  }
  int close(int fd) override { return kernel_.close(fd); }
  int ioctl(int fd, unsigned long request, void* arg) override { return kernel_.ioctl(fd, request, arg); }
  ssize_t read(int fd, void* buffer, std::size_t size) override { return kernel_.read(fd, buffer, size); }
  std::vector<std::string> threads() const {
    std::lock_guard lock(mutex_);
    return threads_;
  }

 private:
  usb::SystemCalls& kernel_;
  mutable std::mutex mutex_;
  std::vector<std::string> threads_;
};

// A slow driver must not freeze the window: listing, access checks and hot-plug listings open
// video nodes on "camera.session" only, whatever the preview asks for.
TEST(GstCaptureBackendThreads, VideoNodesAreOpenedOffTheMainThreadAsAPreviewStartsRecoversAndSeesAPlug) {
  namespace fs = std::filesystem;
  testing::SysfsTree tree;
  testing::SysfsTree::Device c200;
  c200.product = "Anker PowerConf C200";
  const std::string control = tree.addInterface(tree.addDevice(c200), 1, 0, 0x0e, 0x01, "uvcvideo");
  tree.addVideoNode(control, "video0");
  testing::SysfsTree::write(control + "/video4linux/video0", "index", "0\n");
  fs::create_directories(tree.root() + "/class/video4linux");
  fs::create_directory_symlink(fs::canonical(control + "/video4linux/video0"), tree.root() + "/class/video4linux/video0");
  testing::FakeVideoNodes kernel;
  kernel.caps["/fake/dev/video0"] = V4L2_CAP_VIDEO_CAPTURE;
  ThreadNotingCalls calls(kernel);
  testing::SimBus bus;
  bus.plug(sim::genericProfile(), "other");

  GstCaptureOptions options;
  options.sysfsRoot = tree.root();
  options.devRoot = "/fake/dev";
  options.simDirectory = bus.directory();
  options.calls = &calls;
  ManualClock clock;
  PreviewController preview(clock, std::make_unique<GstCaptureBackend>(options), {});
  auto settle = [&] {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::processEvents();
      preview.session().waitUntilIdle();
    }
  };

  preview.start("window", std::nullopt, CameraKey{0x291a, 0x3369});
  settle();
  ASSERT_EQ(preview.state(), PreviewController::State::running);
  const std::size_t started = calls.threads().size();
  EXPECT_GT(started, 0u);

  // v4l2src cannot open the fake node: the watchdog restarts the session, looking the device up.
  for (int i = 0; i < 5; ++i) {
    clock.advance(std::chrono::seconds(1));
    settle();
  }
  ASSERT_TRUE(preview.recovering());
  const std::size_t recovered = calls.threads().size();
  EXPECT_GT(recovered, started);

  // The backend's listing, then the controller's look-up in answer to the device appearing.
  bus.plug(sim::genericProfile(), "arriving");
  EXPECT_TRUE(testing::eventually([&] { return calls.threads().size() >= recovered + 2; }));
  settle();

  const std::vector<std::string> threads = calls.threads();
  EXPECT_EQ(std::set<std::string>(threads.begin(), threads.end()), std::set<std::string>{"camera.session"});
}

}  // namespace
}  // namespace velto::video
