// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/frame.h"

#include <cstring>

namespace velto {

Frame Frame::filled(int width, int height, int bytesPerRow, std::uint8_t fill) {
  const std::size_t size = height > 0 && bytesPerRow > 0 ? static_cast<std::size_t>(height) * static_cast<std::size_t>(bytesPerRow) : 0;
  std::shared_ptr<std::uint8_t[]> memory(new std::uint8_t[size > 0 ? size : 1]);
  std::memset(memory.get(), fill, size);
  Frame frame(width, height, bytesPerRow, memory.get(), size, memory);
  frame.own_ = memory;
  return frame;
}

const std::uint8_t* Frame::pixels() const {
  if (pixels_ == nullptr || width_ <= 0 || height_ <= 0 || bytesPerRow_ < 4 * width_) return nullptr;
  const std::size_t needed =
      static_cast<std::size_t>(height_ - 1) * static_cast<std::size_t>(bytesPerRow_) + 4 * static_cast<std::size_t>(width_);
  return size_ >= needed ? pixels_ : nullptr;
}

std::uint8_t* Frame::mutablePixels() { return own_ && pixels() != nullptr ? own_.get() : nullptr; }

}  // namespace velto
