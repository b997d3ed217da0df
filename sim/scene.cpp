// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/scene.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

namespace velto::sim {
namespace {

// Three bands: the bright window and two colours on top, the neutral ramp across the middle with
// mid grey in the centre (20 % × 40 % of the field), three saturated colours below.
constexpr double kTop = 0.3, kMiddle = 0.4, kBottom = 0.3;
constexpr Patch kChart[] = {
    {"window", 0.0, 0.0, 0.5, kTop, {4.0, 4.0, 4.0}},
    {"skin", 0.5, 0.0, 0.25, kTop, {0.45, 0.32, 0.25}},
    {"yellow", 0.75, 0.0, 0.25, kTop, {0.75, 0.65, 0.05}},
    {"black", 0.0, kTop, 0.2, kMiddle, {0.03, 0.03, 0.03}},
    {"dark-grey", 0.2, kTop, 0.2, kMiddle, {0.09, 0.09, 0.09}},
    {"mid-grey", 0.4, kTop, 0.2, kMiddle, {0.18, 0.18, 0.18}},
    {"light-grey", 0.6, kTop, 0.2, kMiddle, {0.45, 0.45, 0.45}},
    {"white", 0.8, kTop, 0.2, kMiddle, {0.90, 0.90, 0.90}},
    {"red", 0.0, kTop + kMiddle, 1.0 / 3, kBottom, {0.50, 0.05, 0.04}},
    {"green", 1.0 / 3, kTop + kMiddle, 1.0 / 3, kBottom, {0.08, 0.35, 0.07}},
    {"blue", 2.0 / 3, kTop + kMiddle, 1.0 / 3, kBottom, {0.0, 0.06, 0.40}},
};
// What a row shows where rounding leaves a pixel outside every patch.
constexpr Patch kWall = {"wall", 0, 0, 1, 1, {0.25, 0.25, 0.25}};

// Exposure 156 (15.6 ms) at gain 1 and the default light puts 18 % grey at 0.45 of full scale.
constexpr double kReferenceExposure = 156;
constexpr double kDefaultEV = 7;
constexpr double kMidGreyLevel = 0.45 / 0.18;
// ln(R/B) of a grey = kWhiteBalanceSlope · ln(illuminant / whiteBalance), split evenly.
constexpr double kWhiteBalanceSlope = 1.3;

double luma(const std::array<double, 3>& c) { return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2]; }

// Noise: a fixed table of roughly normal values (σ = 32 = 1 << kNoiseUnitBits, so n / 32 is in
// units of σ) that is exactly zero on average, stored twice over so that a row reads it without
// wrapping.
constexpr std::size_t kNoiseSize = 1 << 16;
constexpr int kNoiseUnitBits = 5;

const std::int8_t* noiseTable() {
  static const std::vector<std::int8_t> table = [] {
    std::vector<int> values(kNoiseSize);
    std::uint32_t state = 0x9e3779b9;
    long sum = 0;
    for (int& v : values) {
      int total = 0;
      for (int k = 0; k < 4; ++k) {  // the sum of four uniforms is close enough to normal
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        total += static_cast<int>(state % 111) - 55;  // σ of each ≈ 32; of the sum ≈ 64
      }
      v = std::clamp(total / 2, -127, 127);
      sum += v;
    }
    // Take the remainder off a spread of entries so that the mean is exactly zero.
    for (std::size_t i = 0; sum != 0; i = (i + 7919) % kNoiseSize) {
      const int step = sum > 0 ? -1 : 1;
      if (std::abs(values[i] + step) > 127) continue;
      values[i] += step;
      sum += step;
    }
    std::vector<std::int8_t> doubled(2 * kNoiseSize);
    for (std::size_t i = 0; i < doubled.size(); ++i) doubled[i] = static_cast<std::int8_t>(values[i % kNoiseSize]);
    return doubled;
  }();
  return table.data();
}

std::uint32_t mix(std::uint64_t v) {
  v ^= v >> 33;
  v *= 0xff51afd7ed558ccdULL;
  v ^= v >> 33;
  v *= 0xc4ceb9fe1a85ec53ULL;
  v ^= v >> 33;
  return static_cast<std::uint32_t>(v);
}

// One patch's colour as the renderer writes it: 8-bit levels in 1/16 steps and the noise's σ in
// the same steps, per channel (B, G, R order, as in memory).
struct Ink {
  std::array<int, 3> level16;
  std::array<int, 3> sigma16;
};

Ink inkFor(const std::array<double, 3>& rgb) {
  Ink ink{};
  for (int c = 0; c < 3; ++c) {
    const double levels = rgb[static_cast<std::size_t>(2 - c)] * 255;
    ink.level16[static_cast<std::size_t>(c)] = static_cast<int>(std::lround(levels * 16));
    // Shot noise: σ grows with the square root of the signal, so black stays black.
    ink.sigma16[static_cast<std::size_t>(c)] = static_cast<int>(std::lround(0.2 * std::sqrt(levels) * 16));
  }
  return ink;
}

void fill(std::uint8_t* row, int from, int to, const Ink& ink, const std::array<const std::int8_t*, 3>& noise) {
  for (int x = from; x < to; ++x) {
    std::uint8_t* p = row + 4 * x;
    for (int c = 0; c < 3; ++c) {
      const int v = ink.level16[static_cast<std::size_t>(c)] +
                    ((noise[static_cast<std::size_t>(c)][x] * ink.sigma16[static_cast<std::size_t>(c)]) >> kNoiseUnitBits);
      p[c] = static_cast<std::uint8_t>(std::clamp((v + 8) >> 4, 0, 255));
    }
    p[3] = 255;
  }
}

}  // namespace

std::span<const Patch> chart() { return kChart; }

SceneSettings sceneSettings(const Profile& profile, const std::vector<std::pair<ControlID, std::int64_t>>& values) {
  SceneSettings s;
  for (const auto& [id, raw] : values) {
    const Field* f = profile.field(id);
    if (f == nullptr) continue;
    const Range& r = f->range;
    const double v = static_cast<double>(raw);
    const double def = static_cast<double>(r.defaultValue);
    switch (id) {
      case ControlID::exposure: s.exposure = v; break;
      case ControlID::gain: s.gain = std::exp2((v - static_cast<double>(r.min)) / 25); break;
      case ControlID::whiteBalance: s.whiteBalance = v; break;
      case ControlID::brightness: s.brightness = v / 256; break;
      case ControlID::contrast: s.contrast = def > 0 ? v / def : 1; break;
      case ControlID::saturation: s.saturation = def > 0 ? v / def : 1; break;
      case ControlID::hue: s.hueDegrees = v; break;
      case ControlID::gamma: s.gammaExponent = v > 0 ? def / v : 1; break;
      case ControlID::backlightCompensation: s.backlight = v; break;
      case ControlID::hdr: s.hdr = raw != 0; break;
      case ControlID::zoom: s.zoom = r.min > 0 ? std::max(1.0, v / static_cast<double>(r.min)) : 1; break;
      case ControlID::pan: s.pan = r.max > 0 ? std::clamp(v / static_cast<double>(r.max), -1.0, 1.0) : 0; break;
      case ControlID::tilt: s.tilt = r.max > 0 ? std::clamp(v / static_cast<double>(r.max), -1.0, 1.0) : 0; break;
      case ControlID::horizontalFlip: s.flip = raw != 0; break;
      default: break;
    }
  }
  return s;
}

std::array<double, 3> patchColour(const Patch& patch, const SceneSettings& s, const Lighting& light) {
  const double level = kMidGreyLevel * (s.exposure / kReferenceExposure) * s.gain * std::exp2(light.ev - kDefaultEV);
  const double half = kWhiteBalanceSlope / 2 * std::log(light.illuminantK / s.whiteBalance);
  const std::array<double, 3> balance = {std::exp(half), 1.0, std::exp(-half)};
  std::array<double, 3> c{};
  for (std::size_t i = 0; i < 3; ++i) {
    double v = patch.reflectance[i] * level * balance[i];
    if (s.hdr && v > kHdrKnee) {
      const double over = (v - kHdrKnee) / (1 - kHdrKnee);
      v = kHdrKnee + (1 - kHdrKnee) * over / (1 + over);
    }
    v = std::min(v, 1.0);
    v += 0.5 * s.backlight * v * (1 - v) * (1 - v);
    c[i] = std::pow(v, s.gammaExponent);
  }
  if (s.saturation != 1 || s.hueDegrees != 0) {
    // Chroma scaled, then turned about the grey axis (Rodrigues' rotation about (1,1,1)/√3).
    const double y = luma(c);
    std::array<double, 3> d = {(c[0] - y) * s.saturation, (c[1] - y) * s.saturation, (c[2] - y) * s.saturation};
    const double a = s.hueDegrees * std::numbers::pi / 180;
    const double cosA = std::cos(a), sinA = std::sin(a), k = 1 / std::numbers::sqrt3;
    const double dot = (d[0] + d[1] + d[2]) * k;
    const std::array<double, 3> cross = {k * (d[2] - d[1]), k * (d[0] - d[2]), k * (d[1] - d[0])};
    for (std::size_t i = 0; i < 3; ++i) c[i] = y + d[i] * cosA + cross[i] * sinA + k * dot * (1 - cosA);
  }
  for (double& v : c) v = std::clamp(0.5 + (v - 0.5) * s.contrast + s.brightness, 0.0, 1.0);
  return c;
}

std::array<double, 4> visibleField(const SceneSettings& s) {
  const double side = 1 / std::max(1.0, s.zoom);
  const double x = 0.5 + s.pan * (1 - side) / 2 - side / 2;
  const double y = 0.5 - s.tilt * (1 - side) / 2 - side / 2;
  return {x, y, side, side};
}

double meanLuma(const SceneSettings& s, const Lighting& light) {
  const auto [vx, vy, vw, vh] = visibleField(s);
  double sum = 0;
  for (const Patch& p : kChart) {
    const double w = std::min(vx + vw, p.x + p.width) - std::max(vx, p.x);
    const double h = std::min(vy + vh, p.y + p.height) - std::max(vy, p.y);
    if (w > 0 && h > 0) sum += w * h * luma(patchColour(p, s, light));
  }
  return sum / (vw * vh);
}

void renderScene(const SceneSettings& s, const Lighting& light, std::uint64_t frameIndex, int width, int height,
                 int bytesPerRow, std::uint8_t* pixels) {
  // Rows read the noise table from an offset below kNoiseSize without wrapping.
  if (width <= 0 || height <= 0 || width > static_cast<int>(kNoiseSize) || bytesPerRow < 4 * width ||
      pixels == nullptr) {
    return;
  }
  constexpr std::size_t n = std::size(kChart);
  std::array<Ink, n> inks{};
  for (std::size_t i = 0; i < n; ++i) inks[i] = inkFor(patchColour(kChart[i], s, light));
  const Ink wall = inkFor(patchColour(kWall, s, light));

  const auto [vx, vy, vw, vh] = visibleField(s);
  // Output column x shows field u = vx + (x + 0.5) · vw / width (mirrored when flipped); a patch
  // [u0, u1) covers the columns from ceil((u0 - vx) · width / vw - 0.5) up to that of u1.
  auto column = [vx = vx, vw = vw, width](double u) {
    return std::clamp(static_cast<int>(std::ceil((u - vx) * width / vw - 0.5)), 0, width);
  };
  std::array<std::pair<int, int>, n> startEnd{};
  for (std::size_t i = 0; i < n; ++i) {
    int a = column(kChart[i].x), b = column(kChart[i].x + kChart[i].width);
    if (s.flip) std::tie(a, b) = std::pair(width - b, width - a);
    startEnd[i] = {a, b};
  }

  const std::int8_t* table = noiseTable();
  const std::uint64_t frameSeed = static_cast<std::uint64_t>(mix(frameIndex % kNoisePeriod + 1)) << 20;
  struct Span {
    int from, to;
    const Ink* ink;
  };
  std::array<Span, n> spans{};
  for (int y = 0; y < height; ++y) {
    const double v = vy + (y + 0.5) * vh / height;
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const Patch& p = kChart[i];
      if (v >= p.y && v < p.y + p.height && startEnd[i].first < startEnd[i].second) {
        spans[count++] = {startEnd[i].first, startEnd[i].second, &inks[i]};
      }
    }
    std::sort(spans.begin(), spans.begin() + static_cast<std::ptrdiff_t>(count),
              [](const Span& a, const Span& b) { return a.from < b.from; });
    std::uint8_t* row = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(bytesPerRow);
    const std::uint32_t seed = mix(frameSeed ^ static_cast<std::uint64_t>(y));
    const std::array<const std::int8_t*, 3> noise = {table + (seed & (kNoiseSize - 1)),
                                                     table + ((seed >> 8) & (kNoiseSize - 1)),
                                                     table + ((seed >> 16) & (kNoiseSize - 1))};
    int x = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (spans[i].from > x) fill(row, x, spans[i].from, wall, noise);
      fill(row, std::max(x, spans[i].from), spans[i].to, *spans[i].ink, noise);
      x = std::max(x, spans[i].to);
    }
    if (x < width) fill(row, x, width, wall, noise);
  }
}

std::string sceneJson(const Lighting& light) {
  QJsonArray patches;
  for (const Patch& p : kChart) {
    patches.append(QJsonObject{
        {"name", QString::fromLatin1(p.name)},
        {"x", p.x},
        {"y", p.y},
        {"width", p.width},
        {"height", p.height},
        {"reflectance", QJsonArray{p.reflectance[0], p.reflectance[1], p.reflectance[2]}},
    });
  }
  const QJsonObject scene{{"illuminant", light.illuminantK}, {"light", light.ev}, {"patches", patches}};
  return QJsonDocument(scene).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace velto::sim
