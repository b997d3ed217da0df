// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/frame_analyzer.h"

#include <gtest/gtest.h>

#include <cstring>

namespace velto {
namespace {

// A frame of one colour, rows padded with bytes that must never be read as pixels.
Frame uniform(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b, int padding = 12) {
  Frame frame = Frame::filled(width, height, 4 * width + padding, 0xFF);
  std::uint8_t* p = frame.mutablePixels();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* px = p + static_cast<std::size_t>(y) * frame.bytesPerRow() + 4 * x;
      px[0] = b;
      px[1] = g;
      px[2] = r;
      px[3] = 255;
    }
  }
  return frame;
}

std::vector<float> oneAt(int bin) {
  std::vector<float> h(64, 0.0f);
  h[bin] = 1.0f;
  return h;
}

TEST(FrameStatsTest, SampleGridFollowsTheWidth) {
  for (auto [width, height, gridWidth, gridHeight] :
       std::vector<std::array<int, 4>>{{239, 10, 239, 10}, {480, 20, 240, 10}, {1920, 1080, 240, 135}}) {
    const FrameStats stats = analyzeFrame(uniform(width, height, 90, 90, 90));
    ASSERT_TRUE(stats.clipping);
    EXPECT_EQ(stats.clipping->size(), QSize(gridWidth, gridHeight)) << width;
    EXPECT_EQ(stats.size, QSizeF(width, height));
  }
}

TEST(FrameStatsTest, WhiteIsAllBlownBlackAllCrushedAndPaddingIsNeverRead) {
  const FrameStats white = analyzeFrame(uniform(300, 200, 255, 255, 255));
  for (const auto* h : {&white.red, &white.green, &white.blue, &white.luma}) EXPECT_EQ(*h, oneAt(63));
  EXPECT_EQ(white.clippedHighlights, 1.0);
  EXPECT_EQ(white.crushedShadows, 0.0);
  // Premultiplied: red (255, 0, 0) at alpha 200 is stored as (200, 0, 0, 200).
  EXPECT_EQ(std::vector<int>(white.clipping->constBits(), white.clipping->constBits() + 4), (std::vector<int>{200, 0, 0, 200}));

  // The padding of every row is 0xFF: read as pixels, it would count as blown.
  const FrameStats black = analyzeFrame(uniform(300, 200, 0, 0, 0));
  for (const auto* h : {&black.red, &black.green, &black.blue, &black.luma}) EXPECT_EQ(*h, oneAt(0));
  EXPECT_EQ(black.crushedShadows, 1.0);
  EXPECT_EQ(black.clippedHighlights, 0.0);
  const std::uint8_t* last = black.clipping->constScanLine(99) + 4 * 149;
  EXPECT_EQ(std::vector<int>(last, last + 4), (std::vector<int>{0, 55, 157, 200})) << "(0, 70, 200) at alpha 200";
}

TEST(FrameStatsTest, ThresholdsAndLumaWeights) {
  Frame frame = Frame::filled(4, 1, 16);
  const std::uint8_t bgr[4][3] = {{0, 0, 250}, {6, 6, 6}, {0, 0, 7}, {100, 150, 200}};
  for (int x = 0; x < 4; ++x) std::memcpy(frame.mutablePixels() + 4 * x, bgr[x], 3);
  const FrameStats stats = analyzeFrame(frame);
  EXPECT_EQ(stats.clippedHighlights, 0.25) << "one channel at 250 is enough";
  EXPECT_EQ(stats.crushedShadows, 0.25) << "(6, 6, 6) is crushed, (7, 0, 0) is not";
  EXPECT_EQ(stats.clipping->pixelColor(2, 0).alpha(), 0);
  // (54·200 + 183·150 + 19·100) >> 10 = 39
  EXPECT_GT(stats.luma[39], 0.0f);
  EXPECT_EQ(stats.red[62], 0.5f) << "250 / 4, against the peak of 2 in bin 1 (6 and 7)";
}

// Samples are taken four at a time and the rest of a row one by one: the same colours must count
// the same either way, and the padding after the last column must stay unread.
TEST(FrameStatsTest, TheLastColumnsOfARowCountLikeTheOthers) {
  Frame frame = Frame::filled(7, 2, 4 * 7 + 8, 0xFF);
  const std::uint8_t bgr[7][3] = {{0, 0, 250}, {6, 6, 6}, {0, 0, 7}, {100, 150, 200}, {0, 0, 250}, {6, 6, 6}, {100, 150, 200}};
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 7; ++x) std::memcpy(frame.mutablePixels() + y * frame.bytesPerRow() + 4 * x, bgr[x], 3);
  }
  const FrameStats stats = analyzeFrame(frame);
  EXPECT_DOUBLE_EQ(stats.clippedHighlights, 2.0 / 7);
  EXPECT_DOUBLE_EQ(stats.crushedShadows, 2.0 / 7);
  for (auto [early, late] : {std::pair{0, 4}, {1, 5}, {2, 2}, {3, 6}}) {
    EXPECT_EQ(stats.clipping->pixelColor(late, 1), stats.clipping->pixelColor(early, 0)) << late;
  }
  // Per row: red 250 twice (bin 62), 6 twice and 7 once (bin 1), 200 twice (bin 50).
  EXPECT_EQ(stats.red[62], 2.0f / 3);
  EXPECT_EQ(stats.red[50], 2.0f / 3);
  EXPECT_EQ(stats.luma[39], 1.0f);
  EXPECT_EQ(stats.luma[13], 1.0f) << "(54 * 250) >> 10";
  EXPECT_EQ(stats.luma[0], 0.5f);
}

TEST(FrameStatsTest, FramesThatCannotBeReadGiveEmptyStats) {
  const Frame whole = uniform(64, 48, 10, 20, 30);
  const std::size_t needed = 47 * static_cast<std::size_t>(whole.bytesPerRow()) + 4 * 64;  // the last row's padding is not
  const Frame truncated(64, 48, whole.bytesPerRow(), whole.pixels(), needed - 1, nullptr);
  const Frame narrowRows(64, 48, 4 * 64 - 4, whole.pixels(), whole.size(), nullptr);
  for (const Frame& bad : {Frame(), Frame::filled(0, 10, 0), Frame::filled(10, 0, 40), truncated, narrowRows}) {
    const FrameStats stats = analyzeFrame(bad);
    EXPECT_TRUE(stats.luma.empty() && stats.red.empty());
    EXPECT_FALSE(stats.clipping);
    EXPECT_EQ(stats.clippedHighlights, 0.0);
  }
}

TEST(FrameAnalyzerTest, EverySixthFrameIsAnalysedAndTheNewestStaysReadable) {
  FrameAnalyzer analyzer;
  std::vector<std::int64_t> analysedAt;
  analyzer.setStatsHandler([&](FrameStats) { analysedAt.push_back(analyzer.frameCount()); });
  for (int i = 0; i < 13; ++i) {
    analyzer.queue().post([&analyzer, i] { analyzer.deliver(uniform(8, 8, static_cast<std::uint8_t>(i * 10), 0, 0)); });
  }
  analyzer.queue().waitUntilIdle();
  EXPECT_EQ(analysedAt, (std::vector<std::int64_t>{6, 12}));
  EXPECT_EQ(analyzer.frameCount(), 13);
  const auto color = analyzer.averageColor({0.5, 0.5}, 0.1);
  ASSERT_TRUE(color);
  EXPECT_DOUBLE_EQ((*color)[0], 120.0 / 255);
}

TEST(FrameAnalyzerTest, AverageColorSamplesAPatchCutAtTheEdges) {
  FrameAnalyzer analyzer;
  EXPECT_FALSE(analyzer.averageColor({0.5, 0.5}, 0.01)) << "no frame yet";
  Frame frame = uniform(100, 100, 0, 0, 0, 0);
  // A 2-pixel radius around (50, 50) at step 2 reads x and y in {48, 50}: make only those bright.
  for (int y : {48, 50}) {
    for (int x : {48, 50}) frame.mutablePixels()[y * 400 + 4 * x + 2] = 255;
  }
  analyzer.queue().post([&] { analyzer.deliver(frame); });
  analyzer.queue().waitUntilIdle();
  EXPECT_EQ(analyzer.averageColor({0.5, 0.5}, 0.001), (std::array<double, 3>{1.0, 0.0, 0.0}));
  EXPECT_TRUE(analyzer.averageColor({0.0, 0.0}, 0.05)) << "a corner: cut off, not empty";
  EXPECT_FALSE(analyzer.averageColor({1.5, 0.5}, 0.05)) << "outside the frame";
}

}  // namespace
}  // namespace velto
