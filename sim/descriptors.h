// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Builds a UVC 1.10 camera's configuration descriptor from the units and video formats it has.
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

// One frame size of a format and the rates offered at it, the default (fastest) first.
struct StreamFrame {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
  std::vector<int> fps = {30};
};

// One VideoStreaming format with its frame sizes.
struct StreamFormat {
  enum Kind { mjpeg, yuy2, h264 };  // H.264 as a UVC 1.1 frame-based format
  Kind kind = mjpeg;
  std::vector<StreamFrame> frames;
};

// The four characters a stream in `kind` is asked for by: "MJPG", "YUY2", "H264".
const char* formatCode(StreamFormat::Kind kind);

struct CameraLayout {
  std::uint8_t interfaceNumber = 0;  // of the VideoControl interface; streaming is the next one
  std::uint8_t cameraTerminalID = 1;
  std::uint32_t cameraControls = 0;      // 3 bytes of bmControls
  std::uint8_t processingUnitID = 2;
  std::uint32_t processingControls = 0;  // 2 bytes of bmControls
  std::optional<ExtensionUnitLayout> extension;
  // bSourceID of the output terminal; by default the last unit of the chain.
  std::optional<std::uint8_t> outputSourceID;
  std::vector<StreamFormat> formats;
};

// Configuration descriptor 0: interface association, VideoControl interface (header, camera
// terminal, processing unit, extension unit when present, output terminal, interrupt endpoint),
// VideoStreaming interface with the formats, in order, and one bulk endpoint.
std::vector<std::uint8_t> buildConfiguration(const CameraLayout& layout);

// The 18-byte device descriptor of a camera with these IDs.
std::vector<std::uint8_t> buildDeviceDescriptor(std::uint16_t vendorID, std::uint16_t productID);

}  // namespace velto::sim
