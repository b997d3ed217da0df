// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The simulated camera's frames as they travel: the format it picks for a size, the YUY2 bytes,
// and MJPEG that decodes to a picture with the raw one's statistics.
#include "sim/frame_renderer.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstring>
#include <memory>
#include <vector>

#include "capture/frame_analyzer.h"
#include "sim/scene.h"

namespace velto::sim {
namespace {

std::uint32_t u32At(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

std::shared_ptr<std::vector<std::uint8_t>> render(const SceneSettings& settings, int width, int height) {
  auto bgra = std::make_shared<std::vector<std::uint8_t>>(4 * std::size_t(width) * height);
  renderScene(settings, {}, 3, width, height, 4 * width, bgra->data());
  return bgra;
}

Frame asFrame(std::shared_ptr<std::vector<std::uint8_t>> bgra, int width, int height) {
  const std::uint8_t* data = bgra->data();
  const std::size_t size = bgra->size();
  return Frame(width, height, 4 * width, data, size, std::move(bgra));
}

TEST(FrameEncoderTest, TheCameraSendsYuy2UpTo640x480AndMjpegAbove) {
  EXPECT_EQ(cameraEncoding(640, 480), Encoding::yuy2);
  EXPECT_EQ(cameraEncoding(16, 16), Encoding::yuy2);
  EXPECT_EQ(cameraEncoding(641, 360), Encoding::mjpeg);
  EXPECT_EQ(cameraEncoding(480, 481), Encoding::mjpeg);
  EXPECT_EQ(cameraEncoding(1920, 1080), Encoding::mjpeg);

  // YUY2: one Y per pixel and U, V per pair, behind the header; an odd last pixel pairs with
  // itself. White and black land on the limited range's ends, neutral on 128.
  FrameEncoder encoder;
  const std::uint8_t bgra[] = {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255};
  std::vector<std::uint8_t> out;
  std::string error;
  ASSERT_TRUE(encoder.encode(bgra, 3, 1, Encoding::yuy2, out, &error)) << error;
  ASSERT_EQ(out.size(), kCodedFrameHeaderSize + 8);
  EXPECT_EQ(std::memcmp(out.data(), "YUY2", 4), 0);
  EXPECT_EQ(u32At(out, 4), 8u);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 8, out.end()),
            (std::vector<std::uint8_t>{235, 128, 16, 128, 16, 128, 16, 128}));
}

TEST(FrameEncoderTest, MjpegKeepsTheSizeAndTheShareOfClippedAndCrushedSamples) {
  const int width = 1280, height = 720;
  tjhandle decoder = tjInitDecompress();
  ASSERT_NE(decoder, nullptr);
  FrameEncoder encoder;
  // As set, over- and underexposed: the chart's bright and dark patches clip and crush. JPEG
  // smooths the noise, so a patch just above the clipping level loses the samples the noise took
  // below it: the share moves by about one point there, whatever the quality.
  for (const double exposure : {156.0, 250.0, 600.0, 30.0}) {
    SceneSettings settings;
    settings.exposure = exposure;
    auto raw = render(settings, width, height);
    std::vector<std::uint8_t> out;
    std::string error;
    ASSERT_TRUE(encoder.encode(raw->data(), width, height, Encoding::mjpeg, out, &error)) << error;
    EXPECT_EQ(std::memcmp(out.data(), "MJPG", 4), 0);
    ASSERT_EQ(u32At(out, 4), out.size() - kCodedFrameHeaderSize);
    EXPECT_LT(out.size(), raw->size() / 8) << "compressed";

    int w = 0, h = 0, subsampling = 0, colours = 0;
    ASSERT_EQ(tjDecompressHeader3(decoder, out.data() + 8, out.size() - 8, &w, &h, &subsampling, &colours), 0);
    ASSERT_EQ(w, width);
    ASSERT_EQ(h, height);
    auto decoded = std::make_shared<std::vector<std::uint8_t>>(raw->size());
    ASSERT_EQ(tjDecompress2(decoder, out.data() + 8, out.size() - 8, decoded->data(), width, 4 * width, height,
                            TJPF_BGRA, 0), 0);
    const FrameStats before = analyzeFrame(asFrame(raw, width, height));
    const FrameStats after = analyzeFrame(asFrame(decoded, width, height));
    EXPECT_NEAR(after.clippedHighlights, before.clippedHighlights, 0.015) << "exposure " << exposure;
    EXPECT_NEAR(after.crushedShadows, before.crushedShadows, 0.015) << "exposure " << exposure;
    if (exposure == 600.0) {
      EXPECT_GT(before.clippedHighlights, 0.05);
    } else if (exposure == 30.0) {
      EXPECT_GT(before.crushedShadows, 0.05);
    }
  }
  tjDestroy(decoder);
}

}  // namespace
}  // namespace velto::sim
