// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Frame statistics per frame at common sizes, rows padded as capture buffers often are, beside a
// plain copy of the same frame as the reference, and for a flat frame; and the per-frame delivery
// path without statistics (a lock, a reference swap and an increment).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "capture/frame_analyzer.h"

namespace {

// A frame of noise, so that histogram bins and clipping vary as in a real picture.
velto::Frame noise(int width, int height) {
  velto::Frame frame = velto::Frame::filled(width, height, 4 * width + 64);
  std::mt19937 random(7);
  std::uint8_t* p = frame.mutablePixels();
  for (std::size_t i = 0; i < frame.size(); ++i) p[i] = static_cast<std::uint8_t>(random());
  return frame;
}

void BM_FrameStats(benchmark::State& state) {
  const velto::Frame frame = noise(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) benchmark::DoNotOptimize(velto::analyzeFrame(frame));
}
BENCHMARK(BM_FrameStats)->Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

// A flat grey frame: every sample lands in the same bins, the worst case for counters that wait on
// one another, which noise never shows.
void BM_FrameStatsFlat(benchmark::State& state) {
  const velto::Frame frame = velto::Frame::filled(1920, 1080, 4 * 1920 + 64, 90);
  for (auto _ : state) benchmark::DoNotOptimize(velto::analyzeFrame(frame));
}
BENCHMARK(BM_FrameStatsFlat)->Unit(benchmark::kMicrosecond);

void BM_FrameCopy(benchmark::State& state) {
  const velto::Frame frame = noise(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  std::vector<std::uint8_t> copy(frame.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), frame.pixels(), frame.size());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_FrameCopy)->Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

void BM_FrameDelivery(benchmark::State& state) {
  velto::FrameAnalyzer analyzer;  // no statistics handler: the per-frame path alone
  const velto::Frame frame = noise(1920, 1080);
  for (auto _ : state) analyzer.deliver(frame);
  benchmark::DoNotOptimize(analyzer.frameCount());
}
BENCHMARK(BM_FrameDelivery)->Unit(benchmark::kNanosecond);

}  // namespace
