// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What kind of camera the simulator is: USB identity, configuration descriptor, and the controls
// it answers, each with its payload layout, range and quirks. A profile is plain data; SimCamera
// gives it behaviour.
//
// The tables are written from the device's side: unit IDs, selectors, lengths, byte offsets,
// widths, signedness and bmControls bits are the sim's own literal numbers, never taken from the
// application's control catalogue. ControlID serves only as a field's name (for `ctl set`, the
// state JSON and faults), so a mistake in the catalogue shows as a disagreement with this camera.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/descriptors.h"
#include "uvc/controls.h"

namespace velto::sim {

// The GET_MIN, GET_MAX, GET_RES (step) and GET_DEF answers of one field.
struct Range {
  std::int64_t min = 0;
  std::int64_t max = 0;
  std::int64_t step = 1;
  std::int64_t defaultValue = 0;
};

// One value carried in a wire control's payload: little-endian, `width` bytes from `offset`.
struct Field {
  ControlID id;  // its name only
  int offset = 0;
  int width = 1;
  bool isSigned = false;  // two's complement
  Range range;
  // When not empty, the only values SET_CUR accepts (mode bytes, the three fields of view);
  // otherwise anything within [min, max].
  std::vector<std::int64_t> allowed;

  // The value in `payload`, sign-extended when signed; bytes past its end count as zero.
  std::int64_t read(std::span<const std::uint8_t> payload) const;
  // Stores `value` in the field's bytes and leaves every other byte as it is.
  void write(std::int64_t value, std::span<std::uint8_t> payload) const;
};

// One (unit, selector) pair of the camera: what the host addresses with a request.
struct WireControl {
  std::uint8_t unitID = 0;
  std::uint8_t selector = 0;
  std::uint16_t length = 0;  // the only wLength the camera accepts
  // The bit of its unit's bmControls that advertises it; -1 where the unit's bitmap is given
  // whole (the vendor extension unit).
  int bit = -1;
  std::vector<Field> fields;  // empty for vendor selectors the application does not use
  // Payload bytes before the fields' defaults are stored: the bytes no layout names, which the
  // camera keeps whatever the host writes there.
  std::vector<std::uint8_t> fixedBytes;
  std::uint8_t info = 0x03;   // GET_INFO: GET and SET supported
  bool stallsMinMax = false;  // the auto-exposure mode: GET_MIN and GET_MAX stall
  bool readsBackOne = false;  // HDR: GET_CUR answers 1 in byte 0, whatever was written
};

struct Profile {
  std::string name;  // "c200", "generic"
  std::uint16_t vendorID = 0;
  std::uint16_t productID = 0;
  std::uint32_t locationID = 0;
  std::optional<std::string> productName;
  std::uint8_t interfaceNumber = 0;  // of the VideoControl interface: low byte of wIndex
  std::vector<std::uint8_t> configuration;
  std::vector<WireControl> controls;
  // What its VideoStreaming interface advertises, as the configuration's descriptors say it: the
  // only formats, sizes and rates a stream may be asked for in.
  std::vector<StreamFormat> formats;

  // The wire control that carries the field named `id`, or null.
  const WireControl* find(ControlID id) const;
  const Field* field(ControlID id) const;
};

// The Anker PowerConf C200 as its firmware 1.05 describes itself: the standard controls it has
// (no gain, no backlight compensation) and the vendor extension unit 6.
Profile c200Profile();

// Another vendor's plain UVC camera: no extension unit, no focus, zoom, pan or tilt.
Profile genericProfile();

// The profile called `name`, or none.
std::optional<Profile> profileNamed(std::string_view name);

// The GUID of the C200's vendor extension unit, in descriptor byte order.
inline constexpr std::uint8_t kAnkerExtensionGUID[16] = {0xA2, 0x9E, 0x76, 0x41, 0xDE, 0x04,
                                                         0x47, 0xE3, 0x8B, 0x2B, 0xF4, 0x34,
                                                         0x1A, 0xFF, 0x00, 0x3B};

}  // namespace velto::sim
