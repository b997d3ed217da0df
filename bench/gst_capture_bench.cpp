// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The capture path's CPU cost per delivered frame at 30 frames a second, side by side with a plain
// GStreamer pipeline doing the whole job on the same frames: for MJPEG `jpegdec ! videoconvert`
// to BGRA, for YUY2 `videoconvert` to BGRA. The application's path is the whole session as
// GstCaptureBackend runs it (appsink, the session's decoding for a 760×428 window preview, the
// hand-off to the frame queue), a test source standing in for the camera. The source's own cost
// is measured alone (source ! fakesink) and subtracted from both, so the MJPEG figures count
// decoding, not the encoder that made the frames: those are encoded once, up front, and read back
// from files. Counters are process CPU milliseconds per frame, their ratio, and frames dropped.
//
//   build/bench/velto_gst_bench                       (all sizes: 640x480 to 2560x1440)
#include <benchmark/benchmark.h>
#include <gst/gst.h>

#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/video/gst_capture_backend.h"
#include "platform/video/gst_runtime.h"
#include "support/serial_queue.h"

namespace {

using velto::video::CaptureDevice;

constexpr int kWarmup = 15;
constexpr int kFrames = 150;  // five seconds at 30 fps

double processCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Counts frames and lets the bench wait for a count.
struct Counter {
  std::mutex mutex;
  std::condition_variable changed;
  std::uint64_t count = 0;

  void add() {
    std::lock_guard lock(mutex);
    ++count;
    changed.notify_all();
  }
  bool waitFor(std::uint64_t n) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(30), [&] { return count >= n; });
  }
};

struct Measured {
  double cpuMsPerFrame = 0;
  double fps = 0;
  std::uint64_t dropped = 0;
  bool ok = false;
};

// The window's preview, in device pixels.
constexpr int kViewWidth = 760;
constexpr int kViewHeight = 428;

// The whole session with `source` as its test source, frames made for the window's preview.
Measured session(const std::string& source) {
  CaptureDevice device;
  device.kind = CaptureDevice::Kind::test;
  device.uniqueID = "bench";
  velto::video::GstCaptureOptions options;
  options.sysfsRoot.clear();
  options.watchDevices = false;
  options.testSource = source;
  options.testDevices = {device};
  velto::video::GstCaptureBackend backend(options);
  velto::SerialQueue frames("camera.frames");
  Counter counter;
  std::atomic<std::uint64_t> checksum{0};
  velto::video::CaptureBackend::Handlers handlers;
  handlers.frameQueue = &frames;
  handlers.frame = [&](velto::Frame frame) {
    if (const std::uint8_t* p = frame.pixels()) checksum += p[frame.size() / 2] + frame.width();
    counter.add();
  };
  backend.setHandlers(handlers);
  backend.setPictureSize(kViewWidth, kViewHeight);
  backend.configure(device, false);

  Measured m;
  if (!counter.waitFor(kWarmup)) return m;
  const double cpu0 = processCpuMs();
  const auto t0 = std::chrono::steady_clock::now();
  const std::uint64_t dropped0 = backend.framesDropped();
  const std::uint64_t delivered0 = backend.framesDelivered();
  if (!counter.waitFor(kWarmup + kFrames)) return m;
  const double cpu1 = processCpuMs();
  const auto t1 = std::chrono::steady_clock::now();
  const double delivered = static_cast<double>(backend.framesDelivered() - delivered0);
  m.dropped = backend.framesDropped() - dropped0;
  backend.stopSession();
  backend.waitUntilIdle();
  frames.waitUntilIdle();
  m.cpuMsPerFrame = (cpu1 - cpu0) / delivered;
  m.fps = delivered / std::chrono::duration<double>(t1 - t0).count();
  m.ok = checksum.load() != 0;
  return m;
}

void onHandoff(GstElement*, GstBuffer*, GstPad*, gpointer data) { static_cast<Counter*>(data)->add(); }

// `source` alone, into a fakesink.
Measured sourceAlone(const std::string& source) {
  Measured m;
  GstElement* pipeline =
      gst_parse_launch((source + " ! fakesink name=sink sync=false signal-handoffs=true").c_str(), nullptr);
  if (pipeline == nullptr) return m;
  Counter counter;
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  g_signal_connect(sink, "handoff", G_CALLBACK(onHandoff), &counter);
  gst_object_unref(sink);
  gst_element_set_state(pipeline, GST_STATE_PLAYING);
  if (counter.waitFor(kWarmup)) {
    const double cpu0 = processCpuMs();
    if (counter.waitFor(kWarmup + kFrames)) {
      m.cpuMsPerFrame = (processCpuMs() - cpu0) / kFrames;
      m.ok = true;
    }
  }
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
  return m;
}

// Thirty frames of `size` ("1920x1080") as a UVC camera sends them (JPEG, 4:2:2), encoded once;
// the colour bars move so that no two are alike. Returns the multifilesrc pattern, or empty on
// failure.
std::string encodedFrames(int width, int height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  static std::map<std::string, std::string> made;
  if (auto found = made.find(size); found != made.end()) return found->second;
  std::string& pattern = made[size];
  pattern = [&] {
    if (!velto::video::ensureGstreamer()) return std::string();
    const std::string dir = (std::filesystem::temp_directory_path() / "velto-gst-bench").string();
    std::filesystem::create_directories(dir);
    const std::string files = dir + "/frame-" + size + "-%02d.jpg";
    GstElement* encoder = gst_parse_launch(
        ("videotestsrc num-buffers=30 pattern=smpte horizontal-speed=8 ! video/x-raw,format=Y42B,width=" +
         std::to_string(width) + ",height=" + std::to_string(height) +
         ",framerate=30/1 ! jpegenc quality=85 ! multifilesink location=" + files).c_str(),
        nullptr);
    if (encoder == nullptr) return std::string();
    gst_element_set_state(encoder, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(encoder);
    GstMessage* done = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                                  static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const bool ok = done != nullptr && GST_MESSAGE_TYPE(done) == GST_MESSAGE_EOS;
    if (done != nullptr) gst_message_unref(done);
    gst_object_unref(bus);
    gst_element_set_state(encoder, GST_STATE_NULL);
    gst_object_unref(encoder);
    return ok ? files : std::string();
  }();
  return pattern;
}

// The session and the plain pipeline (`plain` after the source) on `source`'s frames.
void report(benchmark::State& state, const std::string& source, const std::string& plain) {
  std::string error;
  if (!velto::video::ensureGstreamer(&error)) {
    state.SkipWithError(error.c_str());
    for (auto _ : state) {
    }
    return;
  }
  Measured whole, pipeline, alone;
  for (auto _ : state) {
    whole = session(source);
    pipeline = sourceAlone(source + " ! " + plain);
    alone = sourceAlone(source);
  }
  if (!whole.ok || !pipeline.ok || !alone.ok) {
    state.SkipWithError("a pipeline delivered no frames");
    return;
  }
  const double app = whole.cpuMsPerFrame - alone.cpuMsPerFrame;
  const double gst = pipeline.cpuMsPerFrame - alone.cpuMsPerFrame;
  state.counters["app_ms_per_frame"] = app;
  state.counters["gst_ms_per_frame"] = gst;
  state.counters["app_to_gst"] = app / gst;
  state.counters["source_ms_per_frame"] = alone.cpuMsPerFrame;
  state.counters["dropped"] = static_cast<double>(whole.dropped);
  state.counters["fps"] = whole.fps;
}

void BM_CapturePathMjpeg(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0)), height = static_cast<int>(state.range(1));
  const std::string files = encodedFrames(width, height);
  if (files.empty()) {
    state.SkipWithError("no JPEG frames (is gstreamer1.0-plugins-good installed?)");
    for (auto _ : state) {
    }
    return;
  }
  // identity sleeps 1/30 s per frame, paced like a camera without costing CPU; the queue lets
  // decoding run beside that sleep, as a camera's next frame is on its way while one is decoded.
  const std::string caps = "image/jpeg,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
                           ",framerate=30/1";
  report(state,
         "multifilesrc location=" + files + " index=0 stop-index=29 loop=true caps=" + caps +
             " ! identity sleep-time=33333 ! queue max-size-buffers=2 leaky=downstream",
         "jpegdec ! videoconvert ! video/x-raw,format=BGRA");
}

void BM_CapturePathYuy2(benchmark::State& state) {
  report(state,
         "videotestsrc is-live=true pattern=smpte horizontal-speed=8 ! video/x-raw,format=YUY2,width=" +
             std::to_string(state.range(0)) + ",height=" + std::to_string(state.range(1)) + ",framerate=30/1",
         "videoconvert ! video/x-raw,format=BGRA");
}

void sizes(benchmark::internal::Benchmark* b) {
  b->Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Args({2560, 1440});
  b->ArgNames({"w", "h"})->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
}
BENCHMARK(BM_CapturePathMjpeg)->Apply(sizes);
BENCHMARK(BM_CapturePathYuy2)->Apply(sizes);

}  // namespace
