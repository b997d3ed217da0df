// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_camera.h"

namespace velto::sim {
namespace {

const Patch& patch(const std::string& name) {
  for (const Patch& p : chart()) {
    if (name == p.name) return p;
  }
  throw std::runtime_error("no patch " + name);
}

struct Image {
  int width, height, stride;
  std::vector<std::uint8_t> bytes;
  Image(int w, int h, int padding = 0) : width(w), height(h), stride(4 * w + padding), bytes(std::size_t(stride) * h, 0xAB) {}
  void render(const SceneSettings& s, const Lighting& l = {}, std::uint64_t index = 0) {
    renderScene(s, l, index, width, height, stride, bytes.data());
  }
  // Mean of channel (0 B, 1 G, 2 R) over the pixels whose centres lie in the normalised box.
  double mean(int channel, double x0, double y0, double x1, double y1) const {
    double sum = 0;
    int n = 0;
    for (int y = int(y0 * height); y < int(y1 * height); ++y) {
      for (int x = int(x0 * width); x < int(x1 * width); ++x, ++n) sum += bytes[std::size_t(y) * stride + 4 * x + channel];
    }
    return sum / n;
  }
};

// The box inside a patch with a margin of a tenth of its size on each side.
std::array<double, 4> inside(const Patch& p) {
  return {p.x + p.width / 10, p.y + p.height / 10, p.x + p.width * 0.9, p.y + p.height * 0.9};
}

TEST(SceneTest, ChartTilesTheFieldWithMidGreyUnderTheCentre) {
  double area = 0;
  for (const Patch& a : chart()) {
    area += a.width * a.height;
    for (const Patch& b : chart()) {
      if (&a == &b) continue;
      const bool apart = a.x + a.width <= b.x + 1e-9 || b.x + b.width <= a.x + 1e-9 ||
                         a.y + a.height <= b.y + 1e-9 || b.y + b.height <= a.y + 1e-9;
      EXPECT_TRUE(apart) << a.name << " overlaps " << b.name;
    }
  }
  EXPECT_NEAR(area, 1.0, 1e-9);
  const Patch& grey = patch("mid-grey");
  EXPECT_GE(grey.width, 0.15);
  EXPECT_GE(grey.height, 0.15);
  // A spot of radius 3 % of the height at the centre of a 16:9 picture lies inside it.
  EXPECT_LE(grey.x, 0.5 - 0.03 * 9 / 16);
  EXPECT_GE(grey.x + grey.width, 0.5 + 0.03 * 9 / 16);
  EXPECT_LE(grey.y, 0.47);
  EXPECT_GE(grey.y + grey.height, 0.53);
  EXPECT_EQ(patch("blue").reflectance[0], 0.0);
  EXPECT_GT(patch("window").reflectance[1], 2 * patch("white").reflectance[1]);
}

TEST(SceneTest, CameraDefaultsGiveTheNeutralPictureWithMidGreyAtFortyFivePercent) {
  for (const Profile& profile : {c200Profile(), genericProfile()}) {
    std::vector<std::pair<ControlID, std::int64_t>> defaults;
    for (const WireControl& w : profile.controls) {
      for (const Field& f : w.fields) defaults.emplace_back(f.id, f.range.defaultValue);
    }
    SceneSettings s = sceneSettings(profile, defaults);
    EXPECT_EQ(s.contrast, 1) << profile.name;
    EXPECT_EQ(s.saturation, 1) << profile.name;
    EXPECT_EQ(s.gammaExponent, 1) << profile.name;
    EXPECT_EQ(s.zoom, 1) << profile.name;
    s.exposure = 156;
    s.whiteBalance = Lighting{}.illuminantK;
    s.backlight = 0;
    EXPECT_NEAR(patchColour(patch("mid-grey"), s, {})[1], 0.45, 1e-9) << profile.name;
  }
}

TEST(SceneTest, WhiteBalanceIsNeutralExactlyAtTheIlluminantAndRedOverBlueFallsAsItRises) {
  SceneSettings s;
  s.exposure = 60;  // nothing clips
  for (double illuminant : {3000.0, 4500.0, 6000.0}) {
    const Lighting light{illuminant, 7};
    s.whiteBalance = illuminant;
    for (const char* name : {"black", "dark-grey", "mid-grey", "light-grey", "white"}) {
      const auto c = patchColour(patch(name), s, light);
      EXPECT_DOUBLE_EQ(c[0], c[1]) << name << " at " << illuminant;
      EXPECT_DOUBLE_EQ(c[2], c[1]) << name << " at " << illuminant;
    }
    double previous = INFINITY;
    for (double wb = 2800; wb <= 6500; wb += 10) {
      s.whiteBalance = wb;
      const auto c = patchColour(patch("mid-grey"), s, light);
      const double lnRB = std::log(c[0] / c[2]);
      EXPECT_LT(lnRB, previous) << wb;
      EXPECT_NEAR(lnRB, 1.3 * std::log(illuminant / wb), 1e-9);
      previous = lnRB;
    }
  }
}

TEST(SceneTest, ExposureAndGainAreProportionalUntilClipping) {
  SceneSettings s;
  const double base = patchColour(patch("mid-grey"), s, {})[1];
  for (double factor : {0.25, 0.5, 2.0}) {
    s.exposure = 156 * factor;
    EXPECT_NEAR(patchColour(patch("mid-grey"), s, {})[1], base * factor, 1e-9);
  }
  s.exposure = 78;
  s.gain = 2;
  EXPECT_NEAR(patchColour(patch("mid-grey"), s, {})[1], base, 1e-9);
  s.gain = 1;
  s.exposure = 156 * 4;
  EXPECT_EQ(patchColour(patch("mid-grey"), s, {})[1], 1.0) << "clipped";
  // HDR brings the window under full scale and leaves what lies below its knee alone.
  s.exposure = 156;
  s.hdr = true;
  EXPECT_LT(patchColour(patch("window"), s, {})[1], 0.99);
  EXPECT_GT(patchColour(patch("window"), s, {})[1], patchColour(patch("white"), s, {})[1]);
  EXPECT_NEAR(patchColour(patch("mid-grey"), s, {})[1], base, 1e-9);
}

TEST(SceneTest, OtherControlsMoveThePicture) {
  const SceneSettings plain;
  const auto skin = patchColour(patch("skin"), plain, {});
  auto changed = [&](auto edit) {
    SceneSettings s = plain;
    edit(s);
    return patchColour(patch("skin"), s, {});
  };
  EXPECT_GT(changed([](SceneSettings& s) { s.brightness = 0.1; })[1], skin[1] + 0.09);
  EXPECT_LT(changed([](SceneSettings& s) { s.contrast = 0.5; })[0], skin[0]);  // above half: pulled down
  const auto grey = changed([](SceneSettings& s) { s.saturation = 0; });
  EXPECT_NEAR(grey[0], grey[2], 1e-9);
  EXPECT_NE(changed([](SceneSettings& s) { s.hueDegrees = 90; })[1], skin[1]);
  EXPECT_GT(changed([](SceneSettings& s) { s.gammaExponent = 0.5; })[1], skin[1]);
  EXPECT_GT(changed([](SceneSettings& s) { s.backlight = 2; })[1], skin[1]);
}

TEST(SceneTest, FrameShowsThePatchesWithSmallUnbiasedNoiseAndKeepsRowPadding) {
  SceneSettings s;
  s.exposure = 60;  // only the window clips
  Image padded(320, 180, 12), plain(320, 180);
  padded.render(s, {}, 7);
  plain.render(s, {}, 7);
  for (int y = 0; y < 180; ++y) {
    EXPECT_EQ(std::memcmp(&padded.bytes[std::size_t(y) * padded.stride], &plain.bytes[std::size_t(y) * plain.stride], 4 * 320), 0);
    for (int i = 0; i < 12; ++i) ASSERT_EQ(padded.bytes[std::size_t(y) * padded.stride + 4 * 320 + i], 0xAB) << "row " << y;
  }
  EXPECT_EQ(plain.bytes[3], 255) << "opaque";

  for (const Patch& p : chart()) {
    const auto expected = patchColour(p, s, {});
    const auto [x0, y0, x1, y1] = inside(p);
    for (int channel = 0; channel < 3; ++channel) {
      if (expected[std::size_t(2 - channel)] >= 1) continue;  // clipped noise is biased, as a sensor's is
      // Well over a few hundred pixels per patch; within half a percent of full scale.
      EXPECT_NEAR(plain.mean(channel, x0, y0, x1, y1), expected[std::size_t(2 - channel)] * 255, 0.005 * 255)
          << p.name << " channel " << channel;
    }
  }
  EXPECT_EQ(plain.mean(2, inside(patch("blue"))[0], inside(patch("blue"))[1], inside(patch("blue"))[2],
                       inside(patch("blue"))[3]),
            0.0)
      << "not one pixel of the blue patch has red in it";

  Image next(320, 180);
  next.render(s, {}, 8);
  EXPECT_NE(next.bytes, plain.bytes) << "the noise changes from frame to frame";
  Image again(320, 180);
  again.render(s, {}, 7);
  EXPECT_EQ(again.bytes, plain.bytes) << "and is the same for the same frame";
}

TEST(SceneTest, ZoomPanAndTiltCropTheFieldUpToItsEdgesAndFlipMirrors) {
  SceneSettings s;
  s.exposure = 60;
  s.zoom = 4;
  // A quarter of each side: at the far corners the picture lies inside the corner patches.
  const auto colourOf = [&](const char* name) { return patchColour(patch(name), s, {})[1] * 255; };
  for (auto [pan, tilt, name] : {std::tuple(1.0, 1.0, "yellow"), std::tuple(-1.0, -1.0, "red"),
                                 std::tuple(-1.0, 1.0, "window")}) {
    s.pan = pan;
    s.tilt = tilt;
    Image image(64, 36);
    image.render(s);
    EXPECT_NEAR(image.mean(1, 0, 0, 1, 1), colourOf(name), 1.5) << name;
  }

  s = SceneSettings{};
  s.exposure = 60;
  Image straight(160, 90), mirrored(160, 90);
  straight.render(s);
  s.flip = true;
  mirrored.render(s);
  for (int i = 0; i < 10; ++i) {
    const double x = i / 10.0;
    EXPECT_NEAR(mirrored.mean(2, x, 0, x + 0.1, 1), straight.mean(2, 0.9 - x, 0, 1 - x, 1), 1.0) << x;
  }
  EXPECT_GT(std::abs(mirrored.mean(2, 0, 0, 0.1, 1) - straight.mean(2, 0, 0, 0.1, 1)), 10);
}

TEST(SceneTest, MeanLumaIsThatOfTheRenderedPicture) {
  SceneSettings s;
  s.exposure = 40;
  s.zoom = 2;
  s.pan = 0.5;
  Image image(320, 180);
  image.render(s);
  double sum = 0;
  for (int y = 0; y < 180; ++y) {
    for (int x = 0; x < 320; ++x) {
      const std::uint8_t* p = &image.bytes[std::size_t(y) * image.stride + 4 * x];
      sum += 0.2126 * p[2] + 0.7152 * p[1] + 0.0722 * p[0];
    }
  }
  EXPECT_NEAR(meanLuma(s, {}), sum / (320 * 180) / 255, 0.005);
}

}  // namespace
}  // namespace velto::sim
