// Which unit of a camera's VideoControl interface is which. The v4l2 carrier sees only the unit ID
// in a request's wIndex; to serve it from the driver it must know whether that ID is the camera
// terminal, the processing unit or an extension unit, and only the configuration descriptor says.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace velto::usb {

struct VideoControlUnits {
  std::uint8_t interfaceNumber = 0;    // of the first VideoControl interface
  std::uint8_t cameraTerminal = 0;     // first input terminal of type camera; 0 when none
  std::uint8_t processingUnit = 0;     // first processing unit; 0 when none
  std::vector<std::uint8_t> extensionUnits;  // every extension unit, in descriptor order

  bool isExtensionUnit(std::uint8_t unit) const;
};

// Walks a configuration descriptor. None when it has no VideoControl interface. A descriptor that
// is too short or runs past the end stops the walk; what was found before it stands. Never reads
// outside `configuration`.
std::optional<VideoControlUnits> findVideoControlUnits(std::span<const std::uint8_t> configuration);

}  // namespace velto::usb
