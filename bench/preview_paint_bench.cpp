// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The preview's picture on the main thread, on the offscreen platform:
//   BM_PreviewPaint        one paint of a 1920×1080 frame into a 760 × 428 box (the window's
//                          default preview), plain, mirrored with the clipping overlay, and at
//                          device pixel ratio 2; the time is the main thread's per paint.
//   BM_PaintWhileDragging  a slider moved 240 times a second on the event loop while a 1080p
//                          camera delivers 30 frames a second from another thread, for two
//                          seconds. Counters: painted_fps (frames the view painted), delivered_fps,
//                          slider_moves.
// Run by hand: build/bench/velto_views_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QSlider>
#include <QStyleFactory>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "capture/preview_controller.h"
#include "support/system_clock.h"
#include "views/preview_layer_view.h"

namespace {

using namespace velto;

// Frames handed over as the capture session does, on the analyzer's frame queue.
class BenchCapture final : public video::CaptureBackend {
 public:
  void setHandlers(Handlers handlers) override { handlers_ = std::move(handlers); }
  std::vector<video::CaptureDevice> devices() override { return {}; }
  video::Access access(const video::CaptureDevice&) override { return video::Access::granted; }
  bool isInUseByAnotherApplication(const video::CaptureDevice&) override { return false; }
  void configure(const video::CaptureDevice&, bool) override {}
  void stopSession() override {}
  bool isSessionRunning() const override { return false; }
  void waitUntilIdle() override {}

  void deliver(const Frame& frame) {
    handlers_.frameQueue->post([this, frame] { handlers_.frame(frame); });
  }
  void drain() { handlers_.frameQueue->waitUntilIdle(); }

 private:
  Handlers handlers_;
};

// A 1080p frame with detail everywhere (a gradient crossed by fine stripes).
Frame testFrame(int shift = 0) {
  Frame frame = Frame::filled(1920, 1080, 1920 * 4, 255);
  for (int y = 0; y < 1080; ++y) {
    std::uint8_t* row = frame.mutablePixels() + std::size_t(y) * frame.bytesPerRow();
    for (int x = 0; x < 1920; ++x) {
      row[4 * x + 0] = std::uint8_t(x * 255 / 1919);
      row[4 * x + 1] = std::uint8_t(y * 255 / 1079);
      row[4 * x + 2] = std::uint8_t(((x + shift) / 4 + y / 4) % 2 ? 220 : 40);
    }
  }
  return frame;
}

struct Preview {
  SystemClock clock;
  BenchCapture* capture = nullptr;
  std::unique_ptr<PreviewController> controller;
  Preview() {
    auto owned = std::make_unique<BenchCapture>();
    capture = owned.get();
    controller = std::make_unique<PreviewController>(clock, std::move(owned), [] {});
  }
};

void BM_PreviewPaint(benchmark::State& state) {
  const bool decorated = state.range(0) == 1;
  const int ratio = int(state.range(1));
  Preview preview;
  for (int i = 0; i < 6; ++i) preview.capture->deliver(testFrame());  // statistics for the overlay
  preview.capture->drain();
  QCoreApplication::processEvents();
  views::PreviewLayerView layer(*preview.controller);
  layer.resize(760, 428);
  if (decorated) {
    layer.setMirrored(true);
    if (const auto& stats = preview.controller->stats(); stats && stats->clipping) layer.setOverlay(stats->clipping);
  }
  layer.refresh();
  // What a backing store is on the desktop: premultiplied ARGB at the screen's ratio.
  QImage target(760 * ratio, 428 * ratio, QImage::Format_ARGB32_Premultiplied);
  target.setDevicePixelRatio(ratio);
  for (auto _ : state) {
    layer.render(&target);
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetLabel(std::string(decorated ? "mirrored+clipping" : "plain") + " ratio " + std::to_string(ratio));
}
BENCHMARK(BM_PreviewPaint)->Args({0, 1})->Args({1, 1})->Args({0, 2})->Unit(benchmark::kMillisecond);

void BM_PaintWhileDragging(benchmark::State& state) {
  Preview preview;
  QWidget window;
  auto* row = new QHBoxLayout(&window);
  auto* layer = new views::PreviewLayerView(*preview.controller);
  layer->setFixedSize(760, 428);
  auto* slider = new QSlider(Qt::Horizontal);
  slider->setRange(0, 255);
  row->addWidget(layer);
  row->addWidget(slider);
  window.show();
  QCoreApplication::processEvents();
  const Frame frames[2] = {testFrame(0), testFrame(2)};

  for (auto _ : state) {
    const std::int64_t paintedBefore = layer->framesPainted();
    std::atomic<bool> running{true};
    std::atomic<int> delivered{0};
    std::thread camera([&] {
      auto next = std::chrono::steady_clock::now();
      for (int i = 0; running; ++i) {
        preview.capture->deliver(frames[i % 2]);
        ++delivered;
        next += std::chrono::microseconds(33333);
        std::this_thread::sleep_until(next);
      }
    });
    int moves = 0;
    QTimer drag;
    drag.setTimerType(Qt::PreciseTimer);
    QObject::connect(&drag, &QTimer::timeout, [&] {
      slider->setValue((slider->value() + 7) % 256);
      ++moves;
    });
    drag.start(1000 / 240);
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < 2000) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    drag.stop();
    running = false;
    camera.join();
    preview.capture->drain();
    const double seconds = elapsed.elapsed() / 1000.0;
    state.counters["painted_fps"] = double(layer->framesPainted() - paintedBefore) / seconds;
    state.counters["delivered_fps"] = delivered / seconds;
    state.counters["slider_moves"] = moves;
  }
}
BENCHMARK(BM_PaintWhileDragging)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
