// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Frames made for the screen from the simulated camera's chart as the camera sends it: their
// size, statistics that match the full picture's, the full picture made again on request, and
// data that cannot be read.
#include "platform/video/frame_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <vector>

#include "capture/frame_analyzer.h"
#include "sim/frame_renderer.h"
#include "sim/scene.h"

namespace velto::video {
namespace {

std::vector<std::uint8_t> chart(int width, int height, double exposure = 156) {
  std::vector<std::uint8_t> bgra(4 * static_cast<std::size_t>(width) * height);
  sim::SceneSettings settings;
  settings.exposure = exposure;
  sim::renderScene(settings, {}, 3, width, height, 4 * width, bgra.data());
  return bgra;
}

// The chart as the camera sends it, without the simulator's frame header.
std::shared_ptr<CodedFrame> coded(int width, int height, CodedFrame::Format format, double exposure = 156) {
  const std::vector<std::uint8_t> bgra = chart(width, height, exposure);
  sim::FrameEncoder encoder;
  std::vector<std::uint8_t> out;
  std::string error;
  const auto encoding = format == CodedFrame::Format::mjpeg ? sim::Encoding::mjpeg : sim::Encoding::yuy2;
  EXPECT_TRUE(encoder.encode(bgra.data(), width, height, encoding, out, &error)) << error;
  auto frame = std::make_shared<CodedFrame>();
  frame->format = format;
  frame->width = width;
  frame->height = height;
  frame->bytesPerRow = format == CodedFrame::Format::yuy2 ? 2 * width : 0;
  frame->bytes.assign(out.begin() + sim::kCodedFrameHeaderSize, out.end());
  return frame;
}

// The mean of one colour channel over a region given in fractions of the frame.
double patchMean(const Frame& frame, double x0, double y0, double x1, double y1, int channel) {
  double sum = 0;
  int count = 0;
  for (int y = int(y0 * frame.height()); y < int(y1 * frame.height()); ++y) {
    for (int x = int(x0 * frame.width()); x < int(x1 * frame.width()); ++x) {
      sum += frame.pixels()[static_cast<std::size_t>(y) * frame.bytesPerRow() + 4 * x + channel];
      ++count;
    }
  }
  return sum / count;
}

// Whether `frame` shows the middle of each of the chart's patches in `reference`'s colours,
// within `levels`.
void expectChartColours(const Frame& frame, const Frame& reference, double levels, const std::string& what) {
  for (const sim::Patch& patch : sim::chart()) {
    const double x0 = patch.x + patch.width / 4, x1 = patch.x + 3 * patch.width / 4;
    const double y0 = patch.y + patch.height / 4, y1 = patch.y + 3 * patch.height / 4;
    for (int channel = 0; channel < 3; ++channel) {
      EXPECT_NEAR(patchMean(frame, x0, y0, x1, y1, channel), patchMean(reference, x0, y0, x1, y1, channel), levels)
          << what << ": " << patch.name << " channel " << channel;
    }
  }
}

TEST(FrameDecoderTest, TheScreenSizeCoversTheViewKeepsTheAspectAndNeverEnlarges) {
  EXPECT_EQ(screenSize({1920, 1080}, {760, 428}), (PictureSize{760, 428})) << "a rounded pixel off: the view's own";
  EXPECT_EQ(screenSize({1920, 1080}, {760, 400}), (PictureSize{760, 428})) << "another aspect: covered";
  EXPECT_EQ(screenSize({1920, 1080}, {584, 900}), (PictureSize{1600, 900})) << "a tall view: its height rules";
  EXPECT_EQ(screenSize({640, 480}, {760, 428}), (PictureSize{640, 480})) << "never enlarged";
  EXPECT_EQ(screenSize({1920, 1080}, {}), kStatisticsSize) << "no view: enough for the statistics";
  EXPECT_EQ(screenSize({0, 1080}, {760, 428}), PictureSize{});

  // What the decoder reaches: MJPEG at 1/2, 1/4, 1/8, raw video in halves; never below four
  // fifths of the view.
  using Format = CodedFrame::Format;
  EXPECT_EQ(FrameDecoder::decodedSize(Format::mjpeg, {1920, 1080}, {760, 428}), (PictureSize{960, 540}));
  EXPECT_EQ(FrameDecoder::decodedSize(Format::mjpeg, {1280, 720}, {760, 428}), (PictureSize{640, 360})) << "84 %";
  EXPECT_EQ(FrameDecoder::decodedSize(Format::mjpeg, {1920, 1080}, {800, 450}), (PictureSize{960, 540})) << "not 480: 60 %";
  EXPECT_EQ(FrameDecoder::decodedSize(Format::mjpeg, {2560, 1440}, {292, 164}), (PictureSize{320, 180}));
  EXPECT_EQ(FrameDecoder::decodedSize(Format::mjpeg, {1920, 1080}, {584, 900}), (PictureSize{1920, 1080}));
  EXPECT_EQ(FrameDecoder::decodedSize(Format::yuy2, {640, 480}, {292, 219}), (PictureSize{320, 240}));
  EXPECT_EQ(FrameDecoder::decodedSize(Format::yuy2, {640, 480}, {190, 143}), (PictureSize{160, 120}));
  EXPECT_EQ(FrameDecoder::decodedSize(Format::bgra, {638, 480}, {100, 75}), (PictureSize{319, 240})) << "odd: no more halving";
}

TEST(FrameDecoderTest, MjpegForTheScreenHasTheFullPicturesStatisticsAndMakesItAgain) {
  FrameDecoder decoder;
  // As set, over- and underexposed: the chart's bright and dark patches clip and crush.
  for (const double exposure : {156.0, 600.0, 30.0}) {
    for (const PictureSize source : {PictureSize{1920, 1080}, PictureSize{2560, 1440}}) {
      auto jpeg = coded(source.width, source.height, CodedFrame::Format::mjpeg, exposure);
      std::string why;
      const std::optional<Frame> full = FrameDecoder::decodeFull(*jpeg, &why);
      ASSERT_TRUE(full) << why;
      const FrameStats whole = analyzeFrame(*full);
      for (const PictureSize view : {PictureSize{760, 428}, PictureSize{292, 164}, PictureSize{}}) {
        const std::optional<Frame> frame = decoder.decode(jpeg, view, &why);
        ASSERT_TRUE(frame) << why;
        const PictureSize expected =
            view.empty() ? FrameDecoder::decodedSize(CodedFrame::Format::mjpeg, source, view) : screenSize(source, view);
        EXPECT_EQ(frame->width(), expected.width);
        EXPECT_EQ(frame->height(), expected.height);
        EXPECT_EQ(frame->sourceWidth(), source.width);
        EXPECT_EQ(frame->sourceHeight(), source.height);
        const FrameStats reduced = analyzeFrame(*frame);
        EXPECT_NEAR(reduced.clippedHighlights, whole.clippedHighlights, 0.01) << exposure << " into " << view.width;
        EXPECT_NEAR(reduced.crushedShadows, whole.crushedShadows, 0.01) << exposure << " into " << view.width;
        expectChartColours(*frame, *full, 2.0, "MJPEG into " + std::to_string(view.width));
      }
      if (exposure == 600.0) {
        EXPECT_GT(whole.clippedHighlights, 0.05);
      } else if (exposure == 30.0) {
        EXPECT_GT(whole.crushedShadows, 0.05);
      }
    }
  }
  // The full picture, made again from the frame the screen got, once for every copy of it.
  auto jpeg = coded(1920, 1080, CodedFrame::Format::mjpeg);
  std::string why;
  const Frame reduced = *decoder.decode(jpeg, {760, 428}, &why);
  const Frame copy = reduced;
  const Frame full = reduced.fullResolution();
  ASSERT_NE(full.pixels(), nullptr);
  EXPECT_EQ(full.width(), 1920);
  EXPECT_EQ(full.height(), 1080);
  EXPECT_EQ(copy.fullResolution().pixels(), full.pixels());
  EXPECT_EQ(full.fullResolution().pixels(), full.pixels()) << "a full frame is its own";
}

TEST(FrameDecoderTest, PicturesAreReusedOnceLetGoAndOutliveTheirDecoder) {
  auto jpeg = coded(1920, 1080, CodedFrame::Format::mjpeg);
  auto decoder = std::make_unique<FrameDecoder>();
  std::string why;
  const Frame kept = *decoder->decode(jpeg, {760, 428}, &why);
  const std::vector<std::uint8_t> before(kept.pixels(), kept.pixels() + kept.size());
  std::set<const std::uint8_t*> used;
  for (int i = 0; i < 5; ++i) {
    const Frame next = *decoder->decode(jpeg, {760, 428}, &why);
    EXPECT_NE(next.pixels(), kept.pixels()) << "a picture still held is not handed out again";
    used.insert(next.pixels());
  }
  EXPECT_EQ(used.size(), 1u) << "a picture let go is reused";

  // The coded pictures copied out of the camera's buffers likewise, memory and all.
  std::shared_ptr<CodedFrame> copy = decoder->codedFrame();
  copy->bytes = jpeg->bytes;
  const std::uint8_t* memory = copy->bytes.data();
  copy.reset();
  std::shared_ptr<CodedFrame> again = decoder->codedFrame();
  again->bytes.assign(jpeg->bytes.begin(), jpeg->bytes.end());
  EXPECT_EQ(again->bytes.data(), memory) << "a coded picture let go is reused without a new block";

  decoder.reset();
  EXPECT_TRUE(std::equal(before.begin(), before.end(), kept.pixels())) << "a picture outlives its decoder";
  EXPECT_EQ(again->bytes, jpeg->bytes) << "and so does a coded one";
}

TEST(FrameDecoderTest, Yuy2IsConvertedAndReducedWithTheRightColours) {
  const std::vector<std::uint8_t> bgra = chart(640, 480);
  const Frame original(640, 480, 4 * 640, bgra.data(), bgra.size(), nullptr);
  auto yuy2 = coded(640, 480, CodedFrame::Format::yuy2);
  FrameDecoder decoder;
  std::string why;
  const std::optional<Frame> panel = decoder.decode(yuy2, {292, 219}, &why);
  ASSERT_TRUE(panel) << why;
  EXPECT_EQ(panel->width(), 292) << "halved, then resampled to the view's size";
  EXPECT_EQ(panel->height(), 219);
  const Frame full = panel->fullResolution();
  ASSERT_EQ(full.width(), 640);
  // BT.601 limited range there and back, chroma shared by pairs: within a few levels.
  expectChartColours(full, original, 4.0, "YUY2 in full");
  expectChartColours(*panel, original, 4.0, "YUY2 for the panel");
}

TEST(FrameDecoderTest, DataThatCannotBeReadIsRefusedWithAReason) {
  FrameDecoder decoder;
  std::string why;
  auto jpeg = coded(1280, 720, CodedFrame::Format::mjpeg);

  // A frame cut short (a USB transfer lost mid-frame) still shows what arrived.
  auto truncated = std::make_shared<CodedFrame>(*jpeg);
  truncated->bytes.resize(truncated->bytes.size() / 2);
  EXPECT_TRUE(decoder.decode(truncated, {760, 428}, &why)) << why;

  auto garbage = std::make_shared<CodedFrame>(*jpeg);
  garbage->bytes.assign(5000, 0x5a);
  why.clear();
  EXPECT_FALSE(decoder.decode(garbage, {760, 428}, &why));
  EXPECT_NE(why.find("JPEG"), std::string::npos) << why;

  auto resized = std::make_shared<CodedFrame>(*jpeg);
  resized->width = 1920;  // the stream said one size, the frame is another
  EXPECT_FALSE(decoder.decode(resized, {760, 428}, &why));
  EXPECT_FALSE(FrameDecoder::decodeFull(*resized, &why));
  EXPECT_NE(why.find("1280x720"), std::string::npos) << why;

  auto shortYuy2 = coded(320, 240, CodedFrame::Format::yuy2);
  shortYuy2->bytes.resize(shortYuy2->bytes.size() - 1);
  EXPECT_FALSE(decoder.decode(shortYuy2, {}, &why));
  EXPECT_FALSE(FrameDecoder::decodeFull(*shortYuy2, &why));

  auto empty = std::make_shared<CodedFrame>();
  EXPECT_FALSE(decoder.decode(empty, {760, 428}, &why));

  // The decoder goes on after each of them.
  EXPECT_TRUE(decoder.decode(jpeg, {760, 428}, &why)) << why;
}

}  // namespace
}  // namespace velto::video
