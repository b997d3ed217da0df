#include "platform/usb/video_control_units.h"

#include <algorithm>

namespace velto::usb {
namespace {

constexpr std::uint8_t kInterface = 0x04;
constexpr std::uint8_t kClassSpecificInterface = 0x24;
constexpr std::uint8_t kVideoClass = 0x0e;
constexpr std::uint8_t kVideoControlSubclass = 0x01;
constexpr std::uint8_t kInputTerminal = 0x02;
constexpr std::uint8_t kProcessingUnit = 0x05;
constexpr std::uint8_t kExtensionUnit = 0x06;
constexpr std::uint16_t kCameraTerminalType = 0x0201;

}  // namespace

bool VideoControlUnits::isExtensionUnit(std::uint8_t unit) const {
  return unit != 0 && std::find(extensionUnits.begin(), extensionUnits.end(), unit) != extensionUnits.end();
}

std::optional<VideoControlUnits> findVideoControlUnits(std::span<const std::uint8_t> configuration) {
  if (configuration.size() < 4) return std::nullopt;
  const std::size_t total =
      std::min<std::size_t>(configuration.size(), configuration[2] | (configuration[3] << 8));
  VideoControlUnits units;
  bool found = false;
  bool inVideoControl = false;
  for (std::size_t at = 0; at + 2 <= total;) {
    const std::size_t length = configuration[at];
    if (length < 2 || at + length > total) break;
    const auto d = configuration.subspan(at, length);
    if (d[1] == kInterface && length >= 9) {
      inVideoControl = d[5] == kVideoClass && d[6] == kVideoControlSubclass;
      // A second VideoControl interface (a second function of a composite device) is not ours.
      if (inVideoControl && found && d[2] != units.interfaceNumber) inVideoControl = false;
      if (inVideoControl && !found) {
        units.interfaceNumber = d[2];
        found = true;
      }
    } else if (d[1] == kClassSpecificInterface && inVideoControl && length >= 4) {
      const std::uint8_t id = d[3];
      switch (d[2]) {
        case kInputTerminal:
          if (length >= 8 && (d[4] | (d[5] << 8)) == kCameraTerminalType && units.cameraTerminal == 0) {
            units.cameraTerminal = id;
          }
          break;
        case kProcessingUnit:
          if (units.processingUnit == 0) units.processingUnit = id;
          break;
        case kExtensionUnit:
          if (id != 0) units.extensionUnits.push_back(id);
          break;
        default:
          break;
      }
    }
    at += length;
  }
  if (!found) return std::nullopt;
  return units;
}

}  // namespace velto::usb
