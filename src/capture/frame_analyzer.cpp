// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/frame_analyzer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velto {
namespace {

constexpr int kBins = 64;
constexpr int kSampledColumns = 240;
constexpr int kMaxGridWidth = 2 * kSampledColumns;  // width ÷ (width ÷ 240) stays below 480
constexpr unsigned kBlown = 250;   // a brightest channel this high is a blown highlight
constexpr unsigned kCrushed = 6;   // this low, a crushed shadow
constexpr std::int64_t kStatsEvery = 6;

// The overlay's colours, premultiplied as the image format requires: red and blue at alpha 200.
// Written as the described unpremultiplied (255, 0, 0, 200) they would be brighter than their own
// alpha, which a premultiplied image cannot hold and which composites to the wrong colour.
constexpr std::uint8_t premultiplied(unsigned channel) { return static_cast<std::uint8_t>((channel * 200 + 127) / 255); }
constexpr std::array<std::uint8_t, 4> kRedCell{premultiplied(255), 0, 0, 200};
constexpr std::array<std::uint8_t, 4> kBlueCell{0, premultiplied(70), premultiplied(200), 200};

std::uint32_t asWord(const std::array<std::uint8_t, 4>& bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes.data(), 4);
  return word;
}
const std::uint32_t kRedWord = asWord(kRedCell);
const std::uint32_t kBlueWord = asWord(kBlueCell);

std::uint32_t loadPixel(const std::uint8_t* p) {
  std::uint32_t bgra;
  std::memcpy(&bgra, p, 4);  // bytes blue, green, red, alpha in memory order
  return bgra;
}

// A sample's four bins as byte offsets into one 256-counter table: blue at 0, green at 64, red at
// 128 and luma at 192, one byte each, so that a sample is one word between the passes.
constexpr std::uint32_t kTableOffsets = 0xC0804000;
std::uint32_t packedBins(std::uint32_t bgra) {
  const std::uint32_t luma = (54 * ((bgra >> 16) & 0xFF) + 183 * ((bgra >> 8) & 0xFF) + 19 * (bgra & 0xFF)) >> 10;
  return ((bgra >> 2) & 0x3F3F3F) | (luma << 24) | kTableOffsets;
}

std::uint32_t cellOf(std::uint32_t bgra) {
  const std::uint32_t brightest = std::max({(bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF});
  return brightest >= kBlown ? kRedWord : brightest <= kCrushed ? kBlueWord : 0;
}

// Four tables of counters, used in turn by consecutive samples: in a flat area every increment
// would otherwise wait for the one before. 4 KB in all, well inside the L1 cache.
class Counts {
 public:
  static constexpr int kSets = 4;
  void add(int set, std::uint32_t packed) {
    std::uint32_t* table = tables_[set].data();
    ++table[packed & 0xFF];
    ++table[(packed >> 8) & 0xFF];
    ++table[(packed >> 16) & 0xFF];
    ++table[packed >> 24];
  }
  // One channel's bins summed over the tables; `offset` as in kTableOffsets.
  std::array<std::uint32_t, kBins> channel(int offset) const {
    std::array<std::uint32_t, kBins> sum{};
    for (const auto& table : tables_) {
      for (int i = 0; i < kBins; ++i) sum[i] += table[offset + i];
    }
    return sum;
  }

 private:
  alignas(64) std::array<std::array<std::uint32_t, 4 * kBins>, kSets> tables_{};
};

std::vector<float> normalised(const std::array<std::uint32_t, kBins>& counts) {
  // The top bin is left out of the peak: a spike of clipped pixels must not flatten the rest.
  const std::uint32_t peak = *std::max_element(counts.begin(), counts.end() - 1);
  const float divisor = peak < 2 ? 1.0f : static_cast<float>(peak);
  std::vector<float> out(kBins);
  for (int i = 0; i < kBins; ++i) out[i] = std::min(static_cast<float>(counts[i]) / divisor, 1.0f);
  return out;
}

#if defined(__SSE2__)
// Four samples at a time: bins, overlay cells and clip counts without a branch. The blown and
// crushed tests work on the three colour bytes at once: a byte is 250 or more when its top bit is
// set and its low seven bits plus 6 carry into bit 7; 7 or more when its top bit is set or its
// low seven bits plus 121 do. Luma's weights are applied with one multiply-add per pair of
// channels, blue and red in one, green (alpha weighted 0) in the other.
class FourSamples {
 public:
  // Bins of the four pixels in `bgra` into `bins`, their cells into `cells` (unaligned).
  void run(__m128i bgra, std::uint32_t* bins, std::uint32_t* cells) {
    const __m128i lumaSum = _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(bgra, lowBytes_), blueRed_),
                                          _mm_madd_epi16(_mm_and_si128(_mm_srli_epi32(bgra, 8), lowBytes_), green_));
    const __m128i channels = _mm_and_si128(_mm_srli_epi32(bgra, 2), _mm_set1_epi32(0x3F3F3F));
    const __m128i luma = _mm_and_si128(_mm_slli_epi32(lumaSum, 14), _mm_set1_epi32(0x3F000000));
    _mm_store_si128(reinterpret_cast<__m128i*>(bins),
                    _mm_or_si128(_mm_or_si128(channels, luma), _mm_set1_epi32(static_cast<int>(kTableOffsets))));

    const __m128i low = _mm_and_si128(bgra, _mm_set1_epi32(0x7F7F7F));
    const __m128i tops = _mm_set1_epi32(0x808080);
    const __m128i notBlown = _mm_cmpeq_epi32(_mm_and_si128(_mm_and_si128(_mm_add_epi32(low, _mm_set1_epi32(0x060606)), bgra), tops), zero_);
    const __m128i crushed = _mm_cmpeq_epi32(_mm_and_si128(_mm_or_si128(_mm_add_epi32(low, _mm_set1_epi32(0x797979)), bgra), tops), zero_);
    notBlown_ = _mm_sub_epi32(notBlown_, notBlown);
    crushed_ = _mm_sub_epi32(crushed_, crushed);
    samples_ += 4;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cells),
                     _mm_or_si128(_mm_andnot_si128(notBlown, red_), _mm_and_si128(crushed, blue_)));
  }

  std::uint32_t highlights() const { return samples_ - sum(notBlown_); }
  std::uint32_t shadows() const { return sum(crushed_); }

 private:
  static std::uint32_t sum(__m128i lanes) {
    alignas(16) std::uint32_t words[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(words), lanes);
    return words[0] + words[1] + words[2] + words[3];
  }

  const __m128i lowBytes_ = _mm_set1_epi32(0x00FF00FF);
  const __m128i blueRed_ = _mm_set1_epi32(54 << 16 | 19);
  const __m128i green_ = _mm_set1_epi32(183);
  const __m128i red_ = _mm_set1_epi32(static_cast<int>(kRedWord));
  const __m128i blue_ = _mm_set1_epi32(static_cast<int>(kBlueWord));
  const __m128i zero_ = _mm_setzero_si128();
  __m128i notBlown_ = zero_;
  __m128i crushed_ = zero_;
  std::uint32_t samples_ = 0;
};
#endif

}  // namespace

FrameStats analyzeFrame(const Frame& frame) {
  FrameStats stats;
  stats.size = QSizeF(std::max(frame.sourceWidth(), 0), std::max(frame.sourceHeight(), 0));
  const std::uint8_t* pixels = frame.pixels();
  if (pixels == nullptr) return stats;

  const int width = frame.width();
  const int height = frame.height();
  const std::size_t bytesPerRow = static_cast<std::size_t>(frame.bytesPerRow());
  const int step = width >= kSampledColumns ? width / kSampledColumns : 1;
  const int gridWidth = (width + step - 1) / step;
  const int gridHeight = (height + step - 1) / step;
  const std::size_t pixelStep = 4 * static_cast<std::size_t>(step);

  // Every cell is written below, so the image needs no clearing first.
  QImage overlay(gridWidth, gridHeight, QImage::Format_RGBA8888_Premultiplied);
  alignas(16) std::uint32_t scratchCells[kMaxGridWidth];
  alignas(16) std::uint32_t bins[kMaxGridWidth];
  Counts counts;
  std::uint32_t highlights = 0;
  std::uint32_t shadows = 0;
#if defined(__SSE2__)
  FourSamples four;
#endif

  for (int y = 0, r = 0; y < height; y += step, ++r) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * bytesPerRow;
    std::uint32_t* cells = overlay.isNull() ? scratchCells : reinterpret_cast<std::uint32_t*>(overlay.scanLine(r));
    int c = 0;
#if defined(__SSE2__)
    for (; c + 4 <= gridWidth; c += 4) {
      const std::uint8_t* p = row + static_cast<std::size_t>(c) * pixelStep;
      const __m128i bgra = _mm_setr_epi32(static_cast<int>(loadPixel(p)), static_cast<int>(loadPixel(p + pixelStep)),
                                          static_cast<int>(loadPixel(p + 2 * pixelStep)), static_cast<int>(loadPixel(p + 3 * pixelStep)));
      four.run(bgra, bins + c, cells + c);
    }
#endif
    for (; c < gridWidth; ++c) {
      const std::uint32_t bgra = loadPixel(row + static_cast<std::size_t>(c) * pixelStep);
      bins[c] = packedBins(bgra);
      cells[c] = cellOf(bgra);
      highlights += cells[c] == kRedWord;
      shadows += cells[c] == kBlueWord;
    }

    // Counting is the long part; meanwhile the next sampled row, too far below for the hardware
    // prefetcher to guess, is brought in at the samples' own addresses.
    const std::uint8_t* next = y + step < height ? row + static_cast<std::size_t>(step) * bytesPerRow : row;
    c = 0;
    for (; c + 4 <= gridWidth; c += 4) {  // written out: GCC does not unroll at -O2
      const std::uint8_t* ahead = next + static_cast<std::size_t>(c) * pixelStep;
      __builtin_prefetch(ahead);
      __builtin_prefetch(ahead + pixelStep);
      __builtin_prefetch(ahead + 2 * pixelStep);
      __builtin_prefetch(ahead + 3 * pixelStep);
      counts.add(0, bins[c]);
      counts.add(1, bins[c + 1]);
      counts.add(2, bins[c + 2]);
      counts.add(3, bins[c + 3]);
    }
    for (; c < gridWidth; ++c) counts.add(0, bins[c]);
  }
#if defined(__SSE2__)
  highlights += four.highlights();
  shadows += four.shadows();
#endif

  stats.blue = normalised(counts.channel(0));
  stats.green = normalised(counts.channel(kBins));
  stats.red = normalised(counts.channel(2 * kBins));
  stats.luma = normalised(counts.channel(3 * kBins));
  if (!overlay.isNull()) stats.clipping = std::move(overlay);
  const double samples = std::max(1.0, static_cast<double>(gridWidth) * gridHeight);
  stats.clippedHighlights = highlights / samples;
  stats.crushedShadows = shadows / samples;
  return stats;
}

void FrameAnalyzer::deliver(Frame frame) {
  std::int64_t count = 0;
  bool announce = false;
  {
    std::lock_guard guard(lock_);
    if (!taking_) return;
    latest_ = frame;
    count = ++frameCount_;
    announce = std::exchange(noticed_, false);
  }
  if (announce && onFrame_) onFrame_();
  if (count % kStatsEvery == 0 && onStats_) onStats_(analyzeFrame(frame));
}

void FrameAnalyzer::setTaking(bool taking) {
  Frame dropped;  // freed outside the lock
  std::lock_guard guard(lock_);
  taking_ = taking;
  if (!taking) std::swap(dropped, latest_);
}

void FrameAnalyzer::frameNoticed() {
  std::lock_guard guard(lock_);
  noticed_ = true;
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
  const Frame frame = latest().fullResolution();
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
