// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/descriptor_walk.h"

#include <algorithm>

namespace velto::usb {
namespace {

constexpr std::uint8_t kInterfaceDescriptor = 0x04;
constexpr std::uint8_t kClassSpecificInterface = 0x24;
constexpr std::uint8_t kVideoClass = 0x0E;
constexpr std::uint8_t kVideoControlSubclass = 0x01;
constexpr std::uint8_t kInputTerminal = 0x02;
constexpr std::uint8_t kProcessingUnit = 0x05;
constexpr std::uint8_t kExtensionUnit = 0x06;
constexpr std::uint16_t kCameraTerminalType = 0x0201;

// The shortest descriptor of each kind that holds every field read from it, bControlSize last.
constexpr std::size_t kCameraTerminalLength = 15;
constexpr std::size_t kProcessingUnitLength = 8;
constexpr std::size_t kExtensionUnitLength = 24;

// bmControls of `size` bytes at `at` in `d`: the first up to four, little-endian; 0 when they run
// past the descriptor.
std::uint32_t controlBitmap(std::span<const std::uint8_t> d, std::size_t at, std::size_t size) {
  if (at + size > d.size()) return 0;
  std::uint32_t bits = 0;
  for (std::size_t k = std::min<std::size_t>(size, 4); k > 0; --k) bits = (bits << 8) | d[at + k - 1];
  return bits;
}

// One class-specific descriptor `d` of the VideoControl interface; d.size() >= 3.
void visitUnit(std::span<const std::uint8_t> d, VideoControlLayout& layout) {
  const std::size_t len = d.size();
  const std::uint8_t id = d.size() > 3 ? d[3] : 0;
  if (id == 0) return;
  switch (d[2]) {
    case kInputTerminal:
      if (len >= kCameraTerminalLength && (d[4] | (d[5] << 8)) == kCameraTerminalType &&
          layout.cameraTerminal.id == 0) {
        layout.cameraTerminal = {id, controlBitmap(d, 15, d[14])};
      }
      break;
    case kProcessingUnit:
      if (len >= kProcessingUnitLength && layout.processingUnit.id == 0) {
        layout.processingUnit = {id, controlBitmap(d, 8, d[7])};
      }
      break;
    case kExtensionUnit:
      if (len < kExtensionUnitLength) break;
      layout.extensionUnits.set(id);
      if (layout.extensionUnit.id == 0) {
        // bNrInPins source IDs sit between bNrInPins and bControlSize.
        const std::size_t pins = d[21];
        const std::size_t sizeAt = 22 + pins;
        layout.extensionUnit = {id, sizeAt < len ? controlBitmap(d, sizeAt + 1, d[sizeAt]) : 0};
        std::copy(d.begin() + 4, d.begin() + 20, layout.extensionGUID.begin());
      }
      break;
    default:
      break;
  }
}

}  // namespace

std::optional<VideoControlLayout> walkVideoControl(std::span<const std::uint8_t> configuration) {
  if (configuration.size() < 4) return std::nullopt;
  // A device may claim more than it delivered; never trust wTotalLength past the buffer.
  const std::size_t claimed = static_cast<std::size_t>(configuration[2] | (configuration[3] << 8));
  const std::size_t total = std::min(claimed, configuration.size());

  VideoControlLayout layout;
  bool found = false;
  bool inVideoControl = false;
  for (std::size_t at = 0; at + 2 <= total;) {
    const std::size_t len = configuration[at];
    if (len < 2 || at + len > total) break;
    const auto d = configuration.subspan(at, len);
    if (d[1] == kInterfaceDescriptor && len >= 9) {
      const bool videoControl = d[5] == kVideoClass && d[6] == kVideoControlSubclass;
      inVideoControl = videoControl && (!found || d[2] == layout.interfaceNumber);
      if (videoControl && !found) {
        layout.interfaceNumber = d[2];
        found = true;
      }
    } else if (d[1] == kClassSpecificInterface && inVideoControl && len >= 3) {
      visitUnit(d, layout);
    }
    at += len;
  }
  if (!found) return std::nullopt;
  return layout;
}

}  // namespace velto::usb
