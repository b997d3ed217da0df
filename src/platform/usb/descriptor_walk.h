// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The one walk over a configuration descriptor that finds a UVC camera's VideoControl interface
// and the units the application talks to. cuvc reports its findings when a device is opened; the
// v4l2 carrier uses them to tell which unit a request is for. Both must see the same camera, so
// there is only this walk. A pure function over bytes: no device, no allocation, any thread.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>

namespace velto::usb {

// A terminal or unit: its ID (0 when there is none; UVC gives every real one a non-zero ID) and
// the first up to four bytes of its bmControls, little-endian (0 when its bControlSize runs past
// the descriptor).
struct VideoControlEntity {
  std::uint8_t id = 0;
  std::uint32_t controls = 0;
};

struct VideoControlLayout {
  std::uint8_t interfaceNumber = 0;              // bInterfaceNumber of the first VideoControl interface
  VideoControlEntity cameraTerminal;             // the first input terminal of type camera
  VideoControlEntity processingUnit;             // the first processing unit
  VideoControlEntity extensionUnit;              // the first extension unit, whatever its GUID
  std::array<std::uint8_t, 16> extensionGUID{};  // its guidExtensionCode in descriptor byte order
  std::bitset<256> extensionUnits;               // the IDs of every extension unit

  bool isExtensionUnit(std::uint8_t unit) const { return unit != 0 && extensionUnits.test(unit); }
};

// Walks `configuration` (configuration descriptor 0, starting with the configuration descriptor
// itself). None when it has no VideoControl interface.
//
// Only the class-specific descriptors that follow the first VideoControl interface (in any of its
// alternate settings) count: any other interface ends them. A second VideoControl interface is
// another function's; requests carry the first one's number, so its units could not be reached.
// A terminal or unit too short for the fields read (camera terminal 15 bytes, processing unit 8,
// extension unit 24) or with ID 0 is skipped. Source IDs are not followed, so a descriptor naming
// a unit that does not exist (the C200's output terminal does) changes nothing.
//
// Never reads outside `configuration`: a wTotalLength beyond it is cut to it, and a descriptor
// shorter than 2 bytes or running past the end ends the walk, keeping what was found before.
std::optional<VideoControlLayout> walkVideoControl(std::span<const std::uint8_t> configuration);

}  // namespace velto::usb
