// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What the preview shows of one frame: four 64-bin histograms, where highlights are blown and
// shadows crushed (an overlay the size of the sample grid), and how much of the picture each is.
#pragma once

#include <QImage>
#include <QSizeF>
#include <optional>
#include <vector>

namespace velto {

struct FrameStats {
  // Normalised to 0…1 by the tallest of bins 0…62 (the top bin, where clipped pixels pile up,
  // is left out of the peak and clamped at 1). 64 entries each, or empty when the frame could
  // not be read.
  std::vector<float> red;
  std::vector<float> green;
  std::vector<float> blue;
  std::vector<float> luma;
  // RGBA8888, premultiplied: red (255, 0, 0, 200) where a sample's brightest channel is 250 or
  // more, blue (0, 70, 200, 200) where it is 6 or less, transparent elsewhere.
  std::optional<QImage> clipping;
  double clippedHighlights = 0;  // fraction of samples, 0…1
  double crushedShadows = 0;
  QSizeF size;  // of the camera's picture, in pixels
};

}  // namespace velto
