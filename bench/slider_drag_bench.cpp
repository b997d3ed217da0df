// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A slider drag against a camera that takes 4 ms per request (and, for contrast, 10 ms, where the
// camera cannot keep up): 240 brightness changes a second for two seconds, written through the
// coalescer, against queueing one write per change and against writing each change on the calling
// thread. Counters:
//   set_requests    SET_CUR requests the camera received
//   settle_ms       from the last change until the camera holds it
//   max_blocked_us  the longest a single change kept the calling (interface) thread busy
#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include "model/write_coalescer.h"
#include "platform/usb/registry.h"
#include "sim/profile.h"
#include "sim/sim_server.h"
#include "support/serial_queue.h"
#include "uvc/uvc_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using velto::ControlID;

constexpr int kChangesPerSecond = 240;
constexpr int kSeconds = 2;

enum class Mode { coalesced, queuedPerChange, directOnCaller };

struct Camera {
  QTemporaryDir dir;
  std::unique_ptr<velto::sim::SimServer> server;
  std::shared_ptr<velto::UVCDevice> device;

  explicit Camera(int latencyMs) {
    velto::sim::ServerOptions options;
    options.directory = dir.filePath("sim").toStdString();
    options.latencyMs = latencyMs;
    options.logPath = dir.filePath("requests.jsonl").toStdString();
    server = std::make_unique<velto::sim::SimServer>(velto::sim::c200Profile(), options, [] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
    });
    std::string error;
    server->startThread(&error);
    velto::usb::RegistryOptions registry;
    registry.simDirectory = options.directory;
    auto devices = velto::UVCDevice::connected(registry);
    if (!devices.empty()) device = devices.front();
  }
  std::int64_t brightness() {
    const std::string state = server->command("state");
    const auto at = state.find("\"brightness\":");
    return std::stoll(state.substr(at + 13));
  }
  // SET_CUR requests so far, from the camera's request log.
  std::int64_t setRequests() {
    QFile log(dir.filePath("requests.jsonl"));
    if (!log.open(QIODevice::ReadOnly)) return 0;
    return log.readAll().count("\"SET_CUR\"");
  }
};

void sliderDrag(benchmark::State& state, Mode mode) {
  Camera camera(static_cast<int>(state.range(0)));
  if (!camera.device) {
    state.SkipWithError("the simulated camera did not come up");
    return;
  }
  for (auto _ : state) {
    velto::SerialQueue io("camera.io");
    auto writer = velto::WriteCoalescer::create();
    const std::int64_t before = camera.setRequests();
    Clock::duration maxBlocked{};
    const auto start = Clock::now();
    const int changes = kChangesPerSecond * kSeconds;
    std::int64_t last = 0;
    for (int i = 0; i < changes; ++i) {
      std::this_thread::sleep_until(start + std::chrono::microseconds(1'000'000 / kChangesPerSecond) * i);
      last = (i % 128) - 64;  // sweep the range
      const auto t0 = Clock::now();
      switch (mode) {
        case Mode::coalesced:
          writer->enqueue({{ControlID::brightness, last}}, camera.device, io);
          break;
        case Mode::queuedPerChange:
          io.post([device = camera.device, last] { device->write({{ControlID::brightness, last}}); });
          break;
        case Mode::directOnCaller:
          camera.device->write({{ControlID::brightness, last}});
          break;
      }
      maxBlocked = std::max(maxBlocked, Clock::now() - t0);
    }
    const auto lastChange = Clock::now();
    io.waitUntilIdle();
    const auto settled = Clock::now();
    if (camera.brightness() != last) state.SkipWithError("the camera does not hold the last value");
    state.counters["set_requests"] = static_cast<double>(camera.setRequests() - before);
    state.counters["settle_ms"] = std::chrono::duration<double, std::milli>(settled - lastChange).count();
    state.counters["max_blocked_us"] = std::chrono::duration<double, std::micro>(maxBlocked).count();
  }
}

// The argument is the camera's time per request in milliseconds.
BENCHMARK_CAPTURE(sliderDrag, coalesced, Mode::coalesced)->Arg(4)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(sliderDrag, queued_per_change, Mode::queuedPerChange)->Arg(4)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(sliderDrag, direct_on_caller, Mode::directOnCaller)->Arg(4)->Arg(10)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
