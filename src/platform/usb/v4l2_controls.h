// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// How the camera-terminal and processing-unit controls of a UVC camera appear through uvcvideo's
// V4L2 controls, and how their values sit in the payload the camera itself would send. One table
// row per (unit, selector); the v4l2 carrier is written once over the table.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace velto::usb {

enum class VcUnit : std::uint8_t { cameraTerminal, processingUnit };

enum class PayloadLayout : std::uint8_t {
  unsignedInt,   // the whole payload, little-endian, unsigned
  signedInt,     // the whole payload, little-endian, two's complement
  exposureMode,  // one byte, a single UVC mode bit; V4L2 has a menu index instead
  panTilt,       // pan in bytes 0-3, tilt in bytes 4-7, both signed
};

struct V4l2Mapping {
  VcUnit unit;
  std::uint8_t selector;
  std::uint16_t length;  // the payload length the camera uses for the control
  std::uint32_t id;      // the V4L2 control
  std::uint32_t secondID;  // the second control sharing the payload (tilt); 0 when none
  PayloadLayout layout;
};

// Every mapping, camera terminal first.
std::span<const V4l2Mapping> v4l2Mappings();

// The row for a request addressed to `unit` with `selector`, or null: the driver has no control
// for it.
const V4l2Mapping* findV4l2Mapping(VcUnit unit, std::uint8_t selector);

// Auto-exposure: uvcvideo's menu index (0 auto, 1 manual, 2 shutter priority, 3 aperture priority)
// and the UVC mode bit (2, 1, 4, 8). None for an index or a byte that names no single mode.
std::optional<std::uint8_t> exposureModeFromMenu(std::int64_t index);
std::optional<std::int32_t> exposureMenuFromMode(std::uint8_t mode);

// The V4L2 values carried by a payload of `mapping`: one, or two for pan/tilt. The payload must be
// mapping.length bytes; an exposure-mode byte that names no mode yields none.
struct V4l2Values {
  std::int32_t first = 0;
  std::int32_t second = 0;
};
std::optional<V4l2Values> valuesFromPayload(const V4l2Mapping& mapping,
                                            std::span<const std::uint8_t> payload);

// The payload for V4L2 values, mapping.length bytes into `payload`. For the exposure mode the
// value is a menu index; an index that names no mode gives false.
bool payloadFromValues(const V4l2Mapping& mapping, V4l2Values values, std::span<std::uint8_t> payload);

}  // namespace velto::usb
