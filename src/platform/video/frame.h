// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One video frame as the capture session delivers it: 32-bit BGRA (bytes blue, green, red, alpha
// per pixel), rows top to bottom, each `bytesPerRow` long, which may be more than 4 × width.
// Copies share the pixels and keep them alive (a GStreamer sample, or memory of our own), so a
// reader holding a frame is never left with freed pixels when a newer one replaces it.
//
// The capture session hands over pictures made for the screen: no larger than the views need,
// which may be smaller than what the camera sent. Such a frame remembers the camera's picture
// and makes it again in full on request (a snapshot, the click-to-set spot).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
  // A frame of its own memory, rows packed, pixels unset: for a decoder to write. `memory`, when
  // given, is used instead of new memory: at least 4 × width × height bytes, which the frame and
  // its copies keep until the last of them goes.
  static Frame unset(int width, int height, std::shared_ptr<std::uint8_t[]> memory = nullptr);

  int width() const { return width_; }
  int height() const { return height_; }
  int bytesPerRow() const { return bytesPerRow_; }
  std::size_t size() const { return size_; }

  // The size of the camera's picture: width() × height() unless this frame was reduced from it.
  int sourceWidth() const;
  int sourceHeight() const;
  // The camera's picture in full: this frame when it was not reduced, else the one `full` of
  // reducedFrom() makes (once, for every copy of this frame); an empty frame when that fails.
  // Any thread; may cost a whole decode.
  Frame fullResolution() const;
  // This frame as reduced from a camera's picture of `width` × `height`, which `full` makes again.
  Frame reducedFrom(int width, int height, std::function<Frame()> full) const;

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
  struct Source;
  std::shared_ptr<Source> source_;  // none: this is the camera's picture
};

}  // namespace velto
