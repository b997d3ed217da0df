// Builds a UVC camera's configuration descriptor from the units it has, so that a profile's
// bmControls always advertise exactly the controls it answers.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace velto::sim {

struct ExtensionUnitLayout {
  std::uint8_t unitID = 0;
  std::uint8_t guid[16] = {};
  std::uint32_t controls = 0;  // bmControls: bit n is selector n + 1
};

struct CameraLayout {
  std::uint8_t interfaceNumber = 0;  // of the VideoControl interface; streaming is the next one
  std::uint8_t cameraTerminalID = 1;
  std::uint32_t cameraControls = 0;      // 3 bytes of bmControls
  std::uint8_t processingUnitID = 2;
  std::uint32_t processingControls = 0;  // 2 bytes of bmControls
  std::optional<ExtensionUnitLayout> extension;
};

// Configuration descriptor 0: interface association, VideoControl interface (header, camera
// terminal, processing unit, extension unit when present, output terminal, interrupt endpoint),
// VideoStreaming interface with one MJPEG format in 1920x1080 and 1280x720.
std::vector<std::uint8_t> buildConfiguration(const CameraLayout& layout);

// The 18-byte device descriptor of a camera with these IDs.
std::vector<std::uint8_t> buildDeviceDescriptor(std::uint16_t vendorID, std::uint16_t productID);

}  // namespace velto::sim
