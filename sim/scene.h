// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The picture the simulated camera sees: a chart of flat patches over its whole field, lit by one
// illuminant, seen through the camera's controls. docs/simcam.md gives the formulas.
//
// Pure functions: renderScene() draws one BGRA frame from a snapshot of the control values, so a
// test can check a rule without sockets and the server can draw on a thread of its own. Each
// patch's colour is worked out once per frame and rows are filled span by span, with a little
// fixed noise from a table, the same for the same frame index.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/profile.h"

namespace velto::sim {

// The light on the scene.
struct Lighting {
  double illuminantK = 4500;  // colour temperature
  double ev = 7;              // light level; +1 doubles it
  friend bool operator==(const Lighting&, const Lighting&) = default;
};

// The controls that shape the picture, in the renderer's own units.
struct SceneSettings {
  double exposure = 156;      // exposure time, 100 µs units
  double gain = 1;            // sensor gain factor (1 = none)
  double whiteBalance = 4500; // K
  double brightness = 0;      // offset, fraction of full scale
  double contrast = 1;        // slope around half scale
  double saturation = 1;      // chroma factor
  double hueDegrees = 0;      // chroma rotation about the grey axis
  double gammaExponent = 1;   // output = input ^ exponent
  double backlight = 0;       // shadow lift, 0 = none
  bool hdr = false;           // highlights compressed above kHdrKnee
  double zoom = 1;            // 1 = whole field; the visible part is 1/zoom of each side
  double pan = 0;             // -1 (left edge) .. 1 (right edge)
  double tilt = 0;            // -1 (bottom edge) .. 1 (top edge)
  bool flip = false;          // mirrored left to right
  friend bool operator==(const SceneSettings&, const SceneSettings&) = default;
};

// The noise repeats every kNoisePeriod frames (frame i shows what frame i mod kNoisePeriod does),
// so a camera looking at a still scene can send frames it has already encoded.
inline constexpr std::uint64_t kNoisePeriod = 16;

inline constexpr double kHdrKnee = 0.6;

struct Patch {
  const char* name;
  double x, y, width, height;      // normalised to the full field, origin top-left
  std::array<double, 3> reflectance;  // R, G, B; the window's is its brightness relative to a perfect white
};

// The chart, covering the field without gaps. "mid-grey" lies under the field's centre.
std::span<const Patch> chart();

// The settings the camera's current values give (controls the profile lacks keep their neutral
// value; ranges and defaults come from the profile, so each default gives the neutral picture).
SceneSettings sceneSettings(const Profile& profile, const std::vector<std::pair<ControlID, std::int64_t>>& values);

// A patch's output colour without noise, R, G, B in 0..1 (before quantising to 8 bits).
std::array<double, 3> patchColour(const Patch& patch, const SceneSettings& settings, const Lighting& light);

// The visible part of the field as (x, y, width, height), normalised.
std::array<double, 4> visibleField(const SceneSettings& settings);

// The mean Rec. 709 luma (0..1) of the visible field without noise: what the auto exposure
// looks at.
double meanLuma(const SceneSettings& settings, const Lighting& light);

// Draws frame `frameIndex` into `pixels`: `height` rows of `bytesPerRow` bytes (at least
// 4 × width), bytes B, G, R, A; padding bytes are left alone.
void renderScene(const SceneSettings& settings, const Lighting& light, std::uint64_t frameIndex, int width,
                 int height, int bytesPerRow, std::uint8_t* pixels);

// The chart as JSON for `velto-simcam ctl scene` (docs/simcam.md).
std::string sceneJson(const Lighting& light);

}  // namespace velto::sim
