// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The cameras PipeWire publishes: the rules that read them (properties, format params, matching a
// capture device) on their own, then the list against a private PipeWire where velto-simcam
// --pipewire publishes a simulated C200, consumers sharing it, and no PipeWire at all.
#include <gtest/gtest.h>

#include <signal.h>
#include <spa/param/format.h>
#include <spa/param/video/format.h>
#include <spa/pod/builder.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "platform/video/pipewire_cameras.h"
#include "private_pipewire.h"
#include "sim/profile.h"

namespace velto::video {
namespace {

using testing::PrivatePipeWire;

CaptureMode mode(const char* code, int width, int height, int fps) { return {fourccOf(code), width, height, fps}; }

PipeWireCamera publishedCamera(std::string name, std::string path, std::uint16_t vendor, std::uint16_t product,
                               std::string serial) {
  PipeWireCamera c;
  c.nodeName = std::move(name);
  c.v4l2Path = std::move(path);
  c.vendorID = vendor;
  c.productID = product;
  c.serial = std::move(serial);
  return c;
}

TEST(PipeWireCameraFor, ByNodePathFirstThenByIdentity) {
  const std::vector<PipeWireCamera> cameras = {
      publishedCamera("a", "/dev/video2", 0x291a, 0x3369, "Anker_PowerConf_C200_AAA1"),
      publishedCamera("b", "/dev/video4", 0x291a, 0x3369, "Anker_PowerConf_C200_BBB2"),
      publishedCamera("c", "", 0x046d, 0x085e, ""),
      publishedCamera("sim", "/run/x/velto-simcam/cam0.video", 0x0c45, 0x6366, ""),
      publishedCamera("unknown", "", 0, 0, ""),  // its Device could not be read
  };
  struct Case {
    const char* what;
    CaptureDevice::Kind kind;
    const char* path;
    std::uint16_t vendor, product;
    const char* serial;
    const char* expected;  // nullptr: none
  };
  const Case cases[] = {
      {"the node path wins over the serial", CaptureDevice::Kind::v4l2, "/dev/video4", 0x291a, 0x3369, "AAA1", "b"},
      {"another path: the serial tells twins apart", CaptureDevice::Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "BBB2", "b"},
      {"udev's whole ID_SERIAL", CaptureDevice::Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "Anker_PowerConf_C200_BBB2", "b"},
      {"no serial on the device: the first twin", CaptureDevice::Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "", "a"},
      {"serials that disagree", CaptureDevice::Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "CCC3", nullptr},
      {"a serial's tail is not a serial", CaptureDevice::Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "B2", nullptr},
      {"no serial on the Device", CaptureDevice::Kind::v4l2, "/dev/video9", 0x046d, 0x085e, "XYZ", "c"},
      {"another product of the vendor", CaptureDevice::Kind::v4l2, "/dev/video9", 0x046d, 0x0825, "", nullptr},
      {"a simulated camera by its node file", CaptureDevice::Kind::sim, "/run/x/velto-simcam/cam0.sock", 0, 0, "", "sim"},
      {"unknown IDs match nothing", CaptureDevice::Kind::v4l2, "/dev/video9", 0, 0, "", nullptr},
  };
  for (const Case& c : cases) {
    CaptureDevice device;
    device.kind = c.kind;
    device.path = c.path;
    device.vendorID = c.vendor;
    device.productID = c.product;
    device.serial = c.serial;
    const auto found = pipeWireCameraFor(cameras, device);
    if (c.expected == nullptr) {
      EXPECT_FALSE(found) << c.what << ": found " << found->nodeName;
    } else {
      ASSERT_TRUE(found) << c.what;
      EXPECT_EQ(found->nodeName, c.expected) << c.what;
    }
  }
}

TEST(CameraFromProperties, IdentityFromTheDeviceOnlyAndCamerasOnly) {
  const PropertyMap cameraNode = {{"media.class", "Video/Source"},
                                  {"media.role", "Camera"},
                                  {"node.name", "v4l2_input.x"},
                                  {"object.serial", "38"},
                                  {"api.v4l2.path", "/dev/video0"},
                                  // As PipeWire 0.3.41 to 1.0 write them on the node: cut short.
                                  {"device.vendor.id", "0x291"},
                                  {"device.product.id", "0x336"}};
  const PropertyMap device = {{"device.vendor.id", "0x291a"}, {"device.product.id", "0x3369"}, {"device.serial", "S_1"}};
  auto with = [](PropertyMap props, const std::string& key, const char* value) {
    if (value == nullptr) {
      props.erase(key);
    } else {
      props[key] = value;
    }
    return props;
  };
  struct Case {
    const char* what;
    PropertyMap node;
    std::optional<PropertyMap> device;
    bool camera;
    std::uint16_t vendor, product;
    std::uint64_t objectSerial;
  };
  const Case cases[] = {
      {"a V4L2 camera", cameraNode, device, true, 0x291a, 0x3369, 38},
      {"no Device: never the node's own IDs", cameraNode, std::nullopt, true, 0, 0, 38},
      {"malformed IDs count as absent", cameraNode,
       PropertyMap{{"device.vendor.id", "291a"}, {"device.product.id", "0x13369"}}, true, 0, 0, 38},
      {"a malformed object.serial", with(cameraNode, "object.serial", "38a"), device, true, 0x291a, 0x3369, 0},
      {"a camera without a node path", with(cameraNode, "api.v4l2.path", nullptr), device, true, 0x291a, 0x3369, 38},
      {"a V4L2 node without a role", with(cameraNode, "media.role", nullptr), device, true, 0x291a, 0x3369, 38},
      {"a video source that is no camera",
       with(with(cameraNode, "media.role", nullptr), "api.v4l2.path", nullptr), device, false, 0, 0, 0},
      {"a program's capture stream", with(cameraNode, "media.class", "Stream/Input/Video"), device, false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const auto camera = cameraFromProperties(7, c.node, c.device ? &*c.device : nullptr,
                                             {mode("YUY2", 640, 480, 30), mode("MJPG", 1280, 720, 30)});
    ASSERT_EQ(camera.has_value(), c.camera) << c.what;
    if (!camera) continue;
    EXPECT_EQ(camera->vendorID, c.vendor) << c.what;
    EXPECT_EQ(camera->productID, c.product) << c.what;
    EXPECT_EQ(camera->objectSerial, c.objectSerial) << c.what;
    EXPECT_EQ(camera->nodeID, 7u) << c.what;
    EXPECT_EQ(camera->modes.front(), mode("MJPG", 1280, 720, 30)) << c.what << ": ordered";
  }
}

// Builds one EnumFormat param, its properties written by `body`.
std::vector<std::uint8_t> formatParam(std::uint32_t mediaType, std::uint32_t subtype,
                                      const std::function<void(spa_pod_builder&)>& body) {
  std::vector<std::uint8_t> storage(4096);
  spa_pod_builder b{};
  spa_pod_builder_init(&b, storage.data(), static_cast<std::uint32_t>(storage.size()));
  spa_pod_frame object;
  spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_prop(&b, SPA_FORMAT_mediaType, 0);
  spa_pod_builder_id(&b, mediaType);
  spa_pod_builder_prop(&b, SPA_FORMAT_mediaSubtype, 0);
  spa_pod_builder_id(&b, subtype);
  body(b);
  const auto* pod = static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object));
  storage.resize(SPA_POD_SIZE(pod));
  return storage;
}

void size(spa_pod_builder& b, std::uint32_t w, std::uint32_t h) {
  spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_size, 0);
  spa_pod_builder_rectangle(&b, w, h);
}

// A framerate choice: `choice` over `rates`, the first being the default.
void rates(spa_pod_builder& b, std::uint32_t choice, std::vector<spa_fraction> values) {
  spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_framerate, 0);
  spa_pod_frame f;
  spa_pod_builder_push_choice(&b, &f, choice, 0);
  for (const spa_fraction& r : values) spa_pod_builder_fraction(&b, r.num, r.denom);
  spa_pod_builder_pop(&b, &f);
}

TEST(ModesOfFormatParam, ReadsEnumerationsRangesAndKnownFormatsOnly) {
  const auto mjpeg = SPA_MEDIA_SUBTYPE_mjpg;
  const auto raw = SPA_MEDIA_SUBTYPE_raw;
  const auto video = SPA_MEDIA_TYPE_video;
  struct Case {
    const char* what;
    std::vector<std::uint8_t> pod;
    std::vector<CaptureMode> expected;
  };
  const std::vector<Case> cases = {
      {"a V4L2 node's param: each rate of the enumeration",
       formatParam(video, mjpeg, [](auto& b) { size(b, 1280, 720);
         rates(b, SPA_CHOICE_Enum, {{30, 1}, {30, 1}, {15, 1}}); }),
       {mode("MJPG", 1280, 720, 30), mode("MJPG", 1280, 720, 15)}},
      {"a range gives its default",
       formatParam(video, mjpeg,
                   [](auto& b) {
                     spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_size, 0);
                     spa_pod_frame f;
                     spa_pod_builder_push_choice(&b, &f, SPA_CHOICE_Range, 0);
                     spa_pod_builder_rectangle(&b, 320, 240);
                     spa_pod_builder_rectangle(&b, 16, 16);
                     spa_pod_builder_rectangle(&b, 4096, 4096);
                     spa_pod_builder_pop(&b, &f);
                     rates(b, SPA_CHOICE_Range, {{25, 1}, {1, 1}, {60, 1}});
                   }),
       {mode("MJPG", 320, 240, 25)}},
      {"raw formats the session knows, and a fixed NTSC rate rounded",
       formatParam(video, raw,
                   [](auto& b) {
                     spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_format, 0);
                     spa_pod_frame f;
                     spa_pod_builder_push_choice(&b, &f, SPA_CHOICE_Enum, 0);
                     for (auto id : {SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_NV12}) {
                       spa_pod_builder_id(&b, id);
                     }
                     spa_pod_builder_pop(&b, &f);
                     size(b, 640, 480);
                     spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_framerate, 0);
                     spa_pod_builder_fraction(&b, 30000, 1001);
                   }),
       {mode("YUY2", 640, 480, 30), mode("NV12", 640, 480, 30)}},
      {"H.264", formatParam(video, SPA_MEDIA_SUBTYPE_h264, [](auto& b) { size(b, 1920, 1080);
         rates(b, SPA_CHOICE_None, {{30, 1}}); }),
       {mode("H264", 1920, 1080, 30)}},
      {"only raw formats the session cannot ask for",
       formatParam(video, raw,
                   [](auto& b) {
                     spa_pod_builder_prop(&b, SPA_FORMAT_VIDEO_format, 0);
                     spa_pod_builder_id(&b, SPA_VIDEO_FORMAT_RGB);
                     size(b, 640, 480);
                     rates(b, SPA_CHOICE_None, {{30, 1}});
                   }),
       {}},
      {"a variable rate", formatParam(video, mjpeg, [](auto& b) { size(b, 640, 480);
         rates(b, SPA_CHOICE_None, {{0, 1}}); }), {}},
      {"no size", formatParam(video, mjpeg, [](auto& b) { rates(b, SPA_CHOICE_None, {{30, 1}}); }), {}},
      {"audio", formatParam(SPA_MEDIA_TYPE_audio, SPA_MEDIA_SUBTYPE_raw, [](auto&) {}), {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(modesOfFormatParam(c.pod), c.expected) << c.what;
  }
  // Cut short, or not a pod at all: nothing, and nothing read past the end (under ASan).
  const std::vector<std::uint8_t>& whole = cases.front().pod;
  for (std::size_t cut : {std::size_t{0}, std::size_t{7}, whole.size() / 2, whole.size() - 1}) {
    const std::vector<std::uint8_t> part(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_TRUE(modesOfFormatParam(part).empty()) << cut << " bytes";
  }
  EXPECT_TRUE(modesOfFormatParam(std::vector<std::uint8_t>(64, 0xff)).empty());
}

// Runs a shell command to completion: its exit status and what it printed (stdout and stderr).
std::pair<int, std::string> run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(PipeWireCamerasWithoutPipeWire, EmptyListAndTheSimulatorRefuses) {
  char pattern[] = "/tmp/velto-nopw-XXXXXX";
  const std::string empty = ::mkdtemp(pattern);
  const char* saved = std::getenv("PIPEWIRE_RUNTIME_DIR");
  const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("PIPEWIRE_RUNTIME_DIR", empty.c_str(), 1);
  // An hour: a list that waited for its time-out instead of failing at once would hit the
  // test's own time-out.
  EXPECT_TRUE(listPipeWireCameras(std::chrono::hours(1)).empty());

  const auto [status, out] = run("XDG_RUNTIME_DIR=" + empty + " " VELTO_SIMCAM_PATH " --pipewire");
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("velto-simcam: PipeWire is not running (" + empty + "/pipewire-0: "), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(empty + "/velto-simcam/cam0.sock")) << "never plugged in";

  if (previous) {
    ::setenv("PIPEWIRE_RUNTIME_DIR", previous->c_str(), 1);
  } else {
    ::unsetenv("PIPEWIRE_RUNTIME_DIR");
  }
  std::filesystem::remove_all(empty);
}

class PublishedSimcamTest : public testing::PrivatePipeWireTest {
 protected:
  void SetUp() override {
    PrivatePipeWireTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    simDirectory = pipewire.directory() + "/velto-simcam";
    const std::string log = pipewire.directory() + "/simcam.log";
    simcam = ::fork();
    if (simcam == 0) {
      ::execl("/bin/sh", "sh", "-c", ("exec " VELTO_SIMCAM_PATH " --pipewire 2>" + log).c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_TRUE(PrivatePipeWire::waitFor([&] { return PrivatePipeWire::hasNode(nodeName); })) << pipewire.logs();
  }
  void TearDown() override {
    if (simcam > 0) {
      ::kill(simcam, SIGTERM);
      ::waitpid(simcam, nullptr, 0);
    }
  }

  std::optional<PipeWireCamera> listed() {
    for (const PipeWireCamera& c : listPipeWireCameras(std::chrono::seconds(5))) {
      if (c.nodeName == nodeName) return c;
    }
    return std::nullopt;
  }

  int ctl(const std::string& command) { return run(VELTO_SIMCAM_PATH " ctl " + command).first; }

  // As docs/simcam.md names them for the id cam0.
  const std::string nodeName = "v4l2_input.velto-simcam-cam0";
  std::string simDirectory;
  pid_t simcam = -1;
};

TEST_F(PublishedSimcamTest, ListedWithItsDeviceAndModesAndFollowsPlugging) {
  const auto camera = listed();
  ASSERT_TRUE(camera);
  EXPECT_EQ(camera->v4l2Path, simDirectory + "/cam0.video");
  EXPECT_EQ(camera->vendorID, 0x291a);
  EXPECT_EQ(camera->productID, 0x3369);
  EXPECT_EQ(camera->serial, "Anker_PowerConf_C200_SIM-cam0");
  EXPECT_NE(camera->objectSerial, 0u);
  // What the descriptors advertise, read by the application's own walk; H.264 the simulator cannot send.
  std::vector<CaptureMode> advertised = modesFromConfiguration(sim::c200Profile().configuration);
  std::erase_if(advertised, [](const CaptureMode& m) { return m.fourcc == fourccOf("H264"); });
  EXPECT_EQ(camera->modes, advertised);
  EXPECT_EQ(PrivatePipeWire::defaultVideoSource(), nodeName);

  CaptureDevice device;
  device.kind = CaptureDevice::Kind::sim;
  device.path = simDirectory + "/cam0.sock";
  const auto matched = pipeWireCameraFor({*camera}, device);
  ASSERT_TRUE(matched);
  EXPECT_EQ(matched->nodeID, camera->nodeID);

  // The objects leave with the camera and come back with it.
  ASSERT_EQ(ctl("unplug"), 0);
  EXPECT_TRUE(PrivatePipeWire::waitFor([&] { return !PrivatePipeWire::hasNode(nodeName); }));
  EXPECT_FALSE(listed());
  ASSERT_EQ(ctl("plug"), 0);
  ASSERT_TRUE(PrivatePipeWire::waitFor([&] { return PrivatePipeWire::hasNode(nodeName); }));
  const auto back = listed();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->vendorID, 0x291a) << "under its Device again";
  EXPECT_NE(back->objectSerial, camera->objectSerial);
}

TEST_F(PublishedSimcamTest, TwoConsumersTakeFramesAtOnce) {
  if (run("gst-inspect-1.0 pipewiresrc").first != 0) GTEST_SKIP() << "GStreamer's pipewiresrc is not installed";
  // Both ask for the same mode: the first consumer fixes it.
  const std::string source =
      "gst-launch-1.0 -v pipewiresrc target-object=" + nodeName + " ! image/jpeg,width=640,height=480 ! fakesink";
  const std::string firstLog = pipewire.directory() + "/first.log";
  const pid_t first = ::fork();
  if (first == 0) {
    ::execl("/bin/sh", "sh", "-c", ("exec " + source + " silent=false >" + firstLog + " 2>&1").c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto framesOfFirst = [&] {
    std::ifstream in(firstLog);
    int frames = 0;
    for (std::string line; std::getline(in, line);) frames += line.find("chain") != std::string::npos ? 1 : 0;
    return frames;
  };
  EXPECT_TRUE(PrivatePipeWire::waitFor([&] { return framesOfFirst() >= 5; }));
  EXPECT_EQ(run("cat " + simDirectory + "/cam0.alt").second, "1\n") << "the camera streams";
  const int before = framesOfFirst();

  const auto [status, out] = run("timeout 60 " + source + " num-buffers=60");
  EXPECT_EQ(status, 0) << out;
  // Sixty frames went to the second while the first went on: it got at least half as many.
  EXPECT_GE(framesOfFirst() - before, 30);
  ::kill(first, SIGINT);
  ::waitpid(first, nullptr, 0);
  EXPECT_TRUE(PrivatePipeWire::waitFor([&] { return run("cat " + simDirectory + "/cam0.alt").second == "0\n"; }))
      << "the stream ends with its last consumer";
}

}  // namespace
}  // namespace velto::video
