// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One video frame as the capture session delivers it: 32-bit BGRA (bytes blue, green, red, alpha
// per pixel), rows top to bottom, each `bytesPerRow` long, which may be more than 4 × width.
// Copies share the pixels and keep them alive (a GStreamer sample, or memory of our own), so a
// reader holding a frame is never left with freed pixels when a newer one replaces it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velto {

class Frame {
 public:
  Frame() = default;
  // `owner` keeps `pixels` valid; `size` is how many bytes there are from `pixels` on.
  Frame(int width, int height, int bytesPerRow, const std::uint8_t* pixels, std::size_t size,
        std::shared_ptr<const void> owner)
      : width_(width), height_(height), bytesPerRow_(bytesPerRow), pixels_(pixels), size_(size), owner_(std::move(owner)) {}

  // A frame of its own memory, every byte `fill`; for tests and benchmarks.
  static Frame filled(int width, int height, int bytesPerRow, std::uint8_t fill = 0);

  int width() const { return width_; }
  int height() const { return height_; }
  int bytesPerRow() const { return bytesPerRow_; }
  std::size_t size() const { return size_; }

  // The pixels, or null when the frame cannot be read as described: no memory, a size of zero,
  // rows shorter than 4 × width, or fewer bytes than its rows need (a truncated buffer).
  const std::uint8_t* pixels() const;
  // Writable pixels of a frame made by filled(); null for any other.
  std::uint8_t* mutablePixels();

 private:
  int width_ = 0;
  int height_ = 0;
  int bytesPerRow_ = 0;
  const std::uint8_t* pixels_ = nullptr;
  std::size_t size_ = 0;
  std::shared_ptr<const void> owner_;
  std::shared_ptr<std::uint8_t[]> own_;
};

}  // namespace velto
