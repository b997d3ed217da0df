// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The cameras PipeWire publishes: the rules that read them (properties, format params, matching a
// capture device) on their own, then the list against a private PipeWire where velto-simcam
// --pipewire publishes a simulated C200, two consumers sharing it, and no PipeWire at all.
#include <gtest/gtest.h>

#include <signal.h>
#include <spa/param/format.h>
#include <spa/param/video/format.h>
#include <spa/pod/builder.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "platform/video/pipewire_cameras.h"
#include "private_pipewire.h"
#include "sim/profile.h"

namespace velto::video {
namespace {

using testing::PrivatePipeWire;
using Kind = CaptureDevice::Kind;

CaptureMode mode(const char* code, int width, int height, int fps) { return {fourccOf(code), width, height, fps}; }

PipeWireCamera published(const char* name, const char* path, std::uint16_t vendor, std::uint16_t product, const char* serial) {
  PipeWireCamera c;
  std::tie(c.nodeName, c.v4l2Path, c.vendorID, c.productID, c.serial) = std::tuple(name, path, vendor, product, serial);
  return c;
}

CaptureDevice device(Kind kind, std::string path, std::uint16_t vendor = 0, std::uint16_t product = 0, const char* serial = "") {
  CaptureDevice d;
  std::tie(d.kind, d.path, d.vendorID, d.productID, d.serial) = std::tuple(kind, std::move(path), vendor, product, serial);
  return d;
}

TEST(PipeWireCameraFor, ByNodePathFirstThenByIdentity) {
  const std::vector<PipeWireCamera> cameras = {
      published("a", "/dev/video2", 0x291a, 0x3369, "Anker_C200_AAA1"),
      published("b", "/dev/video4", 0x291a, 0x3369, "Anker_C200_BBB2"),
      published("c", "", 0x046d, 0x085e, ""),
      published("sim", "/run/x/velto-simcam/cam0.video", 0, 0, ""),
      published("no Device", "", 0, 0, ""),
  };
  struct Case {
    const char* what;
    CaptureDevice device;
    const char* expected;  // nullptr: none
  };
  const Case cases[] = {
      {"the node path wins", device(Kind::v4l2, "/dev/video4", 0x291a, 0x3369, "AAA1"), "b"},
      {"the serial tells twins apart", device(Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "BBB2"), "b"},
      {"udev's whole ID_SERIAL", device(Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "Anker_C200_BBB2"), "b"},
      {"no serial on the device", device(Kind::v4l2, "/dev/video9", 0x291a, 0x3369), "a"},
      {"serials that disagree", device(Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "CCC3"), nullptr},
      {"a serial's tail is no serial", device(Kind::v4l2, "/dev/video9", 0x291a, 0x3369, "B2"), nullptr},
      {"no serial on the Device", device(Kind::v4l2, "/dev/video9", 0x046d, 0x085e, "X"), "c"},
      {"a simulated camera by its node file", device(Kind::sim, "/run/x/velto-simcam/cam0.sock"), "sim"},
      {"unknown IDs match nothing", device(Kind::v4l2, "/dev/video9"), nullptr},
  };
  for (const Case& c : cases) {
    const auto found = pipeWireCameraFor(cameras, c.device);
    EXPECT_EQ(found ? found->nodeName : "(none)", c.expected ? c.expected : "(none)") << c.what;
  }
}

TEST(CameraFromProperties, IdentityFromTheDeviceOnlyAndCamerasOnly) {
  // As PipeWire 0.3.41 to 1.0 write a node's own IDs: cut short.
  const PropertyMap node = {{"media.class", "Video/Source"}, {"media.role", "Camera"},      {"object.serial", "38"},
                            {"api.v4l2.path", "/dev/video0"}, {"device.vendor.id", "0x291"}, {"device.product.id", "0x336"}};
  const PropertyMap device = {{"device.vendor.id", "0x291a"}, {"device.product.id", "0x3369"}};
  auto with = [](PropertyMap props, const std::string& key, std::optional<std::string> value) {
    props.erase(key);
    if (value) props[key] = *value;
    return props;
  };
  struct Case {
    const char* what;
    PropertyMap node;
    std::optional<PropertyMap> device;
    std::optional<std::array<std::uint64_t, 3>> expected;  // vendor, product, object.serial
  };
  const Case cases[] = {
      {"a V4L2 camera", node, device, {{0x291a, 0x3369, 38}}},
      {"no Device: never the node's own IDs", node, std::nullopt, {{0, 0, 38}}},
      {"malformed values count as absent", with(node, "object.serial", "38a"),
       PropertyMap{{"device.vendor.id", "291a"}, {"device.product.id", "0x13369"}}, {{0, 0, 0}}},
      {"a camera without a node path", with(node, "api.v4l2.path", std::nullopt), device, {{0x291a, 0x3369, 38}}},
      {"a V4L2 node without a role", with(node, "media.role", std::nullopt), device, {{0x291a, 0x3369, 38}}},
      {"a video source that is no camera", with(with(node, "media.role", std::nullopt), "api.v4l2.path", std::nullopt),
       device, std::nullopt},
      {"a program's capture stream", with(node, "media.class", "Stream/Input/Video"), device, std::nullopt},
  };
  for (const Case& c : cases) {
    const auto camera = cameraFromProperties(7, c.node, c.device ? &*c.device : nullptr,
                                             {mode("YUY2", 640, 480, 30), mode("MJPG", 1280, 720, 30)});
    ASSERT_EQ(camera.has_value(), c.expected.has_value()) << c.what;
    if (!camera) continue;
    EXPECT_EQ((std::array<std::uint64_t, 3>{camera->vendorID, camera->productID, camera->objectSerial}), *c.expected) << c.what;
    EXPECT_EQ(camera->modes.front(), mode("MJPG", 1280, 720, 30)) << c.what << ": ordered";
  }
}

// One EnumFormat param; a property is left out when its values are empty, and is a `choice` of
// them otherwise (an enumeration's or a range's default first).
std::vector<std::uint8_t> formatParam(std::uint32_t mediaType, std::uint32_t subtype, std::vector<std::uint32_t> formats,
                                      std::uint32_t sizeChoice, std::vector<spa_rectangle> sizes, std::uint32_t rateChoice,
                                      std::vector<spa_fraction> rates) {
  std::vector<std::uint8_t> storage(4096);
  spa_pod_builder b{};
  spa_pod_builder_init(&b, storage.data(), static_cast<std::uint32_t>(storage.size()));
  spa_pod_frame object, choice;
  spa_pod_builder_push_object(&b, &object, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat);
  spa_pod_builder_prop(&b, SPA_FORMAT_mediaType, 0);
  spa_pod_builder_id(&b, mediaType);
  spa_pod_builder_prop(&b, SPA_FORMAT_mediaSubtype, 0);
  spa_pod_builder_id(&b, subtype);
  auto property = [&](std::uint32_t key, std::uint32_t kind, std::size_t count, const std::function<void(std::size_t)>& add) {
    if (count == 0) return;
    spa_pod_builder_prop(&b, key, 0);
    spa_pod_builder_push_choice(&b, &choice, kind, 0);
    for (std::size_t i = 0; i < count; ++i) add(i);
    spa_pod_builder_pop(&b, &choice);
  };
  property(SPA_FORMAT_VIDEO_format, formats.size() > 1 ? SPA_CHOICE_Enum : SPA_CHOICE_None, formats.size(),
           [&](std::size_t i) { spa_pod_builder_id(&b, formats[i]); });
  property(SPA_FORMAT_VIDEO_size, sizeChoice, sizes.size(),
           [&](std::size_t i) { spa_pod_builder_rectangle(&b, sizes[i].width, sizes[i].height); });
  property(SPA_FORMAT_VIDEO_framerate, rateChoice, rates.size(),
           [&](std::size_t i) { spa_pod_builder_fraction(&b, rates[i].num, rates[i].denom); });
  storage.resize(SPA_POD_SIZE(static_cast<const spa_pod*>(spa_pod_builder_pop(&b, &object))));
  return storage;
}

TEST(ModesOfFormatParam, ReadsEnumerationsRangesAndKnownFormatsOnly) {
  const std::uint32_t video = SPA_MEDIA_TYPE_video, mjpeg = SPA_MEDIA_SUBTYPE_mjpg, raw = SPA_MEDIA_SUBTYPE_raw;
  const std::uint32_t none = SPA_CHOICE_None, range = SPA_CHOICE_Range;
  struct Case {
    const char* what;
    std::vector<std::uint8_t> pod;
    std::vector<CaptureMode> expected;
  };
  const std::vector<Case> cases = {
      {"a V4L2 node's: every rate of the enumeration",
       formatParam(video, mjpeg, {}, none, {{1280, 720}}, SPA_CHOICE_Enum, {{30, 1}, {30, 1}, {15, 1}}),
       {mode("MJPG", 1280, 720, 30), mode("MJPG", 1280, 720, 15)}},
      {"a range's default", formatParam(video, mjpeg, {}, range, {{320, 240}, {16, 16}, {4096, 4096}}, range, {{25, 1}, {1, 1}, {60, 1}}),
       {mode("MJPG", 320, 240, 25)}},
      {"the raw formats the session knows, an NTSC rate rounded",
       formatParam(video, raw, {SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_YUY2, SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_NV12}, none,
                   {{640, 480}}, none, {{30000, 1001}}),
       {mode("YUY2", 640, 480, 30), mode("NV12", 640, 480, 30)}},
      {"H.264", formatParam(video, SPA_MEDIA_SUBTYPE_h264, {}, none, {{1920, 1080}}, none, {{30, 1}}), {mode("H264", 1920, 1080, 30)}},
      {"only a raw format it does not know", formatParam(video, raw, {SPA_VIDEO_FORMAT_RGB}, none, {{640, 480}}, none, {{30, 1}}), {}},
      {"a variable rate", formatParam(video, mjpeg, {}, none, {{640, 480}}, none, {{0, 1}}), {}},
      {"no size", formatParam(video, mjpeg, {}, none, {}, none, {{30, 1}}), {}},
      {"audio", formatParam(SPA_MEDIA_TYPE_audio, raw, {}, none, {}, none, {}), {}},
  };
  for (const Case& c : cases) EXPECT_EQ(modesOfFormatParam(c.pod), c.expected) << c.what;
  // Cut short, or no pod at all: nothing, and nothing read past the end (under ASan).
  const std::vector<std::uint8_t>& whole = cases.front().pod;
  for (const std::size_t cut : {std::size_t{0}, std::size_t{7}, whole.size() / 2, whole.size() - 1}) {
    EXPECT_TRUE(modesOfFormatParam(std::span(whole).first(cut)).empty()) << cut << " bytes";
  }
  EXPECT_TRUE(modesOfFormatParam(std::vector<std::uint8_t>(64, 0xff)).empty());
}

// Runs a shell command to completion: its exit status and its output, standard error included.
std::pair<int, std::string> run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

pid_t startInBackground(const std::string& command) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

TEST(PipeWireCamerasWithoutPipeWire, EmptyListAndTheSimulatorRefuses) {
  char pattern[] = "/tmp/velto-nopw-XXXXXX";
  const std::string empty = ::mkdtemp(pattern);
  const char* saved = std::getenv("PIPEWIRE_RUNTIME_DIR");
  const std::optional<std::string> previous = saved ? std::optional<std::string>(saved) : std::nullopt;
  ::setenv("PIPEWIRE_RUNTIME_DIR", empty.c_str(), 1);
  // An hour: a list that waited for its time-out instead of failing at once would meet the
  // test's own time-out.
  EXPECT_TRUE(listPipeWireCameras(std::chrono::hours(1)).empty());
  const auto [status, out] = run("XDG_RUNTIME_DIR=" + empty + " " VELTO_SIMCAM_PATH " --pipewire");
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("velto-simcam: PipeWire is not running (" + empty + "/pipewire-0: "), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(empty + "/velto-simcam/cam0.sock")) << "never plugged in";
  previous ? ::setenv("PIPEWIRE_RUNTIME_DIR", previous->c_str(), 1) : ::unsetenv("PIPEWIRE_RUNTIME_DIR");
  std::filesystem::remove_all(empty);
}

class PublishedSimcamTest : public testing::PrivatePipeWireTest {
 protected:
  void SetUp() override {
    PrivatePipeWireTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    simDirectory = pipewire.directory() + "/velto-simcam";
    simcam = startInBackground(VELTO_SIMCAM_PATH " --pipewire 2>" + pipewire.directory() + "/simcam.log");
    ASSERT_TRUE(PrivatePipeWire::waitFor([&] { return PrivatePipeWire::hasNode(nodeName); })) << pipewire.logs();
  }
  void TearDown() override {
    if (simcam <= 0) return;
    ::kill(simcam, SIGTERM);
    ::waitpid(simcam, nullptr, 0);
  }

  std::optional<PipeWireCamera> listed() {
    for (const PipeWireCamera& c : listPipeWireCameras(std::chrono::seconds(5))) {
      if (c.nodeName == nodeName) return c;
    }
    return std::nullopt;
  }
  std::string alternateSetting() const { return run("cat " + simDirectory + "/cam0.alt").second; }

  const std::string nodeName = "v4l2_input.velto-simcam-cam0";  // as docs/simcam.md names it for cam0
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
  EXPECT_EQ(camera->process, simcam) << "the process that publishes the node, which holds the camera for it";
  // What the descriptors advertise, read by the application's own walk, but H.264, which the
  // simulator cannot send.
  std::vector<CaptureMode> advertised = modesFromConfiguration(sim::c200Profile().configuration);
  std::erase_if(advertised, [](const CaptureMode& m) { return m.fourcc == fourccOf("H264"); });
  EXPECT_EQ(camera->modes, advertised);
  EXPECT_EQ(PrivatePipeWire::defaultVideoSource(), nodeName);
  const auto matched = pipeWireCameraFor({*camera}, device(Kind::sim, simDirectory + "/cam0.sock"));
  EXPECT_TRUE(matched && matched->nodeID == camera->nodeID);

  // The objects leave with the camera and come back with it.
  ASSERT_EQ(run(VELTO_SIMCAM_PATH " ctl unplug").first, 0);
  EXPECT_TRUE(PrivatePipeWire::waitFor([&] { return !PrivatePipeWire::hasNode(nodeName); }));
  EXPECT_FALSE(listed());
  ASSERT_EQ(run(VELTO_SIMCAM_PATH " ctl plug").first, 0);
  ASSERT_TRUE(PrivatePipeWire::waitFor([&] { return PrivatePipeWire::hasNode(nodeName); }));
  const auto back = listed();
  ASSERT_TRUE(back);
  EXPECT_EQ(back->vendorID, 0x291a) << "under its Device again";
  EXPECT_NE(back->objectSerial, camera->objectSerial);
}

TEST_F(PublishedSimcamTest, TwoConsumersTakeFramesAtOnce) {
  if (run("gst-inspect-1.0 pipewiresrc").first != 0) GTEST_SKIP() << "GStreamer's pipewiresrc is not installed";
  // Both ask for one mode: the first consumer fixes it.
  const std::string source =
      "gst-launch-1.0 -v pipewiresrc target-object=" + nodeName + " ! image/jpeg,width=640,height=480 ! fakesink";
  const std::string firstLog = pipewire.directory() + "/first.log";
  const pid_t first = startInBackground(source + " silent=false >" + firstLog + " 2>&1");
  auto framesOfFirst = [&] {
    std::ifstream in(firstLog);
    int frames = 0;
    for (std::string line; std::getline(in, line);) frames += line.find("chain") != std::string::npos ? 1 : 0;
    return frames;
  };
  EXPECT_TRUE(PrivatePipeWire::waitFor([&] { return framesOfFirst() >= 5; }));
  EXPECT_EQ(alternateSetting(), "1\n") << "the camera streams";
  const int before = framesOfFirst();

  const auto [status, out] = run("timeout 60 " + source + " num-buffers=60");
  EXPECT_EQ(status, 0) << out;
  // The first went on meanwhile, taking at least half as many as the second.
  EXPECT_GE(framesOfFirst() - before, 30);
  ::kill(first, SIGINT);
  ::waitpid(first, nullptr, 0);
  EXPECT_TRUE(PrivatePipeWire::waitFor([&] { return alternateSetting() == "0\n"; })) << "the stream ends with its last consumer";
}

}  // namespace
}  // namespace velto::video
