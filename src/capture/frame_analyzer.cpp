#include "capture/frame_analyzer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velto {
namespace {

constexpr int kBins = 64;
constexpr int kSampledColumns = 240;
constexpr unsigned kBlown = 250;   // a brightest channel this high is a blown highlight
constexpr unsigned kCrushed = 6;   // this low, a crushed shadow
constexpr std::int64_t kStatsEvery = 6;

// The overlay's colours, premultiplied as the image format requires: red and blue at alpha 200.
// Written as the described unpremultiplied (255, 0, 0, 200) they would be brighter than their own
// alpha, which a premultiplied image cannot hold and which composites to the wrong colour.
constexpr std::uint8_t premultiplied(unsigned channel) { return static_cast<std::uint8_t>((channel * 200 + 127) / 255); }
constexpr std::array<std::uint8_t, 4> kRedCell{premultiplied(255), 0, 0, 200};
constexpr std::array<std::uint8_t, 4> kBlueCell{0, premultiplied(70), premultiplied(200), 200};


std::vector<float> normalised(const std::array<std::uint32_t, kBins>& counts) {
  // The top bin is left out of the peak: a spike of clipped pixels must not flatten the rest.
  const std::uint32_t peak = *std::max_element(counts.begin(), counts.end() - 1);
  const float divisor = peak < 2 ? 1.0f : static_cast<float>(peak);
  std::vector<float> out(kBins);
  for (int i = 0; i < kBins; ++i) out[i] = std::min(static_cast<float>(counts[i]) / divisor, 1.0f);
  return out;
}

}  // namespace

FrameStats analyzeFrame(const Frame& frame) {
  FrameStats stats;
  stats.size = QSizeF(std::max(frame.width(), 0), std::max(frame.height(), 0));
  const std::uint8_t* pixels = frame.pixels();
  if (pixels == nullptr) return stats;

  const int width = frame.width();
  const int height = frame.height();
  const std::size_t bytesPerRow = static_cast<std::size_t>(frame.bytesPerRow());
  const int step = width >= kSampledColumns ? width / kSampledColumns : 1;
  const int gridWidth = (width + step - 1) / step;
  const int gridHeight = (height + step - 1) / step;

  QImage overlay(gridWidth, gridHeight, QImage::Format_RGBA8888_Premultiplied);
  if (!overlay.isNull()) overlay.fill(Qt::transparent);
  // Two sets of counters, for even and odd columns: a run of equal pixels would otherwise make
  // every increment wait for the one before. One table per set, channels side by side.
  enum Channel { kRed = 0, kGreen = kBins, kBlue = 2 * kBins, kLuma = 3 * kBins };
  std::array<std::array<std::uint32_t, 4 * kBins>, 2> counts{};
  std::uint32_t highlights = 0;
  std::uint32_t shadows = 0;
  std::vector<std::uint8_t> scratch;
  if (overlay.isNull()) scratch.resize(static_cast<std::size_t>(gridWidth) * 4);

  // One sample: its bins, and its overlay cell when clipped.
  auto sample = [&](const std::uint8_t* p, std::uint32_t* histogram, std::uint8_t* cell) {
    std::uint32_t bgra;
    std::memcpy(&bgra, p, 4);  // one load; bytes blue, green, red, alpha in memory order
    const unsigned b = bgra & 0xFF, g = (bgra >> 8) & 0xFF, rd = (bgra >> 16) & 0xFF;
    ++histogram[kRed + (rd >> 2)];
    ++histogram[kGreen + (g >> 2)];
    ++histogram[kBlue + (b >> 2)];
    ++histogram[kLuma + ((54 * rd + 183 * g + 19 * b) >> 10)];
    const unsigned brightest = std::max(rd, std::max(g, b));
    if (brightest >= kBlown) {
      std::memcpy(cell, kRedCell.data(), 4);
      ++highlights;
    } else if (brightest <= kCrushed) {
      std::memcpy(cell, kBlueCell.data(), 4);
      ++shadows;
    }
  };
  const std::size_t pixelStep = 4 * static_cast<std::size_t>(step);
  for (int y = 0, r = 0; y < height; y += step, ++r) {
    const std::uint8_t* p = pixels + static_cast<std::size_t>(y) * bytesPerRow;
    std::uint8_t* cells = overlay.isNull() ? scratch.data() : overlay.scanLine(r);
    int c = 0;
    for (; c + 1 < gridWidth; c += 2, p += 2 * pixelStep) {
      sample(p, counts[0].data(), cells + 4 * c);
      sample(p + pixelStep, counts[1].data(), cells + 4 * c + 4);
    }
    if (c < gridWidth) sample(p, counts[0].data(), cells + 4 * c);
  }
  auto merged = [&counts](int channel) {
    std::array<std::uint32_t, kBins> sum{};
    for (int i = 0; i < kBins; ++i) sum[i] = counts[0][channel + i] + counts[1][channel + i];
    return sum;
  };
  stats.red = normalised(merged(kRed));
  stats.green = normalised(merged(kGreen));
  stats.blue = normalised(merged(kBlue));
  stats.luma = normalised(merged(kLuma));
  if (!overlay.isNull()) stats.clipping = std::move(overlay);
  const double samples = std::max(1.0, static_cast<double>(gridWidth) * gridHeight);
  stats.clippedHighlights = highlights / samples;
  stats.crushedShadows = shadows / samples;
  return stats;
}

void FrameAnalyzer::deliver(Frame frame) {
  std::int64_t count = 0;
  {
    std::lock_guard guard(lock_);
    latest_ = frame;
    count = ++frameCount_;
  }
  if (count % kStatsEvery == 0 && onStats_) onStats_(analyzeFrame(frame));
}

std::int64_t FrameAnalyzer::frameCount() const {
  std::lock_guard guard(lock_);
  return frameCount_;
}

Frame FrameAnalyzer::latest() const {
  std::lock_guard guard(lock_);
  return latest_;
}

std::optional<std::array<double, 3>> FrameAnalyzer::averageColor(QPointF point, double radius) const {
  const Frame frame = latest();
  const std::uint8_t* pixels = frame.pixels();
  if (pixels == nullptr || !std::isfinite(point.x()) || !std::isfinite(point.y()) || !std::isfinite(radius)) {
    return std::nullopt;
  }
  const int width = frame.width();
  const int height = frame.height();
  // Far outside the frame, the patch is empty; clamping first keeps the arithmetic in range.
  auto toPixel = [](double v, int extent) {
    return static_cast<int>(std::clamp(v * extent, -2.0 * extent, 3.0 * extent));
  };
  const int r = std::max(toPixel(radius, height), 2);
  const int cx = toPixel(point.x(), width);
  const int cy = toPixel(point.y(), height);
  std::uint64_t sum[3] = {0, 0, 0};
  std::uint64_t count = 0;
  for (int y = std::max(cy - r, 0); y < std::min(cy + r, height); y += 2) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.bytesPerRow());
    for (int x = std::max(cx - r, 0); x < std::min(cx + r, width); x += 2) {
      const std::uint8_t* p = row + 4 * static_cast<std::size_t>(x);
      sum[0] += p[2];
      sum[1] += p[1];
      sum[2] += p[0];
      ++count;
    }
  }
  if (count == 0) return std::nullopt;
  const double scale = 255.0 * static_cast<double>(count);
  return std::array<double, 3>{sum[0] / scale, sum[1] / scale, sum[2] / scale};
}

}  // namespace velto
