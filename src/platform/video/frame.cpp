// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/frame.h"

#include <cstring>
#include <mutex>

namespace velto {

Frame Frame::filled(int width, int height, int bytesPerRow, std::uint8_t fill) {
  const std::size_t size = height > 0 && bytesPerRow > 0 ? static_cast<std::size_t>(height) * static_cast<std::size_t>(bytesPerRow) : 0;
  std::shared_ptr<std::uint8_t[]> memory(new std::uint8_t[size > 0 ? size : 1]);
  std::memset(memory.get(), fill, size);
  Frame frame(width, height, bytesPerRow, memory.get(), size, memory);
  frame.own_ = memory;
  return frame;
}

Frame Frame::unset(int width, int height, std::shared_ptr<std::uint8_t[]> memory) {
  const std::size_t size = width > 0 && height > 0 ? static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4 : 0;
  if (!memory) memory.reset(new std::uint8_t[size > 0 ? size : 1]);
  Frame frame(width, height, 4 * width, memory.get(), size, memory);
  frame.own_ = memory;
  return frame;
}

const std::uint8_t* Frame::pixels() const {
  if (pixels_ == nullptr || width_ <= 0 || height_ <= 0 || bytesPerRow_ < 4 * width_) return nullptr;
  const std::size_t needed =
      static_cast<std::size_t>(height_ - 1) * static_cast<std::size_t>(bytesPerRow_) + 4 * static_cast<std::size_t>(width_);
  return size_ >= needed ? pixels_ : nullptr;
}

struct Frame::Source {
  int width = 0;
  int height = 0;
  std::function<Frame()> make;
  std::once_flag once;
  Frame made;
};

int Frame::sourceWidth() const { return source_ ? source_->width : width_; }
int Frame::sourceHeight() const { return source_ ? source_->height : height_; }

Frame Frame::fullResolution() const {
  if (!source_) return *this;
  Source& source = *source_;
  std::call_once(source.once, [&source] {
    if (source.make) source.made = source.make();
    source.make = nullptr;  // what it held (the camera's picture as sent) is needed no more
  });
  return source.made;
}

Frame Frame::reducedFrom(int width, int height, std::function<Frame()> full) const {
  Frame reduced = *this;
  reduced.source_ = std::make_shared<Source>();
  reduced.source_->width = width;
  reduced.source_->height = height;
  reduced.source_->make = std::move(full);
  return reduced;
}

std::uint8_t* Frame::mutablePixels() { return own_ && pixels() != nullptr ? own_.get() : nullptr; }

}  // namespace velto
