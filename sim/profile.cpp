// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/profile.h"

#include <cstring>

#include "sim/descriptors.h"

namespace velto::sim {
namespace {

using C = ControlID;

// A one-field control that fills its whole payload.
WireControl whole(std::uint8_t unit, std::uint8_t selector, int bit, ControlID id, int length, bool isSigned,
                  Range range, std::vector<std::int64_t> allowed = {}) {
  WireControl w;
  w.unitID = unit;
  w.selector = selector;
  w.length = static_cast<std::uint16_t>(length);
  w.bit = bit;
  w.fields.push_back({id, 0, length, isSigned, range, std::move(allowed)});
  return w;
}

// A 60-byte vendor control; `named` are its leading firmware bytes, the rest start as zero.
WireControl vendor(std::uint8_t unit, std::uint8_t selector, std::vector<Field> fields,
                   std::vector<std::uint8_t> named) {
  constexpr std::uint16_t kVendorLength = 60;
  WireControl w;
  w.unitID = unit;
  w.selector = selector;
  w.length = kVendorLength;
  w.fields = std::move(fields);
  w.fixedBytes = std::move(named);
  w.fixedBytes.resize(kVendorLength, 0);
  return w;
}

// bmControls of one unit: the bits of the controls it answers.
std::uint32_t advertised(const std::vector<WireControl>& controls, std::uint8_t unit) {
  std::uint32_t bits = 0;
  for (const WireControl& w : controls) {
    if (w.unitID == unit && w.bit >= 0) bits |= 1u << w.bit;
  }
  return bits;
}

// The controls of a camera terminal and a processing unit as UVC 1.1 lays them out. Selector,
// bmControls bit, length and signedness of each are the class's; ranges and defaults are the
// camera's own.
WireControl aeMode(std::uint8_t ct, Range r, std::vector<std::int64_t> modes) {
  // GET_RES is the bitmap of supported modes; like most UVC cameras it has no minimum or maximum.
  WireControl w = whole(ct, 0x02, 1, C::autoExposure, 1, false, r, std::move(modes));
  w.stallsMinMax = true;
  return w;
}
WireControl exposureTime(std::uint8_t ct, Range r) { return whole(ct, 0x04, 3, C::exposure, 4, false, r); }
WireControl focusAbsolute(std::uint8_t ct, Range r) { return whole(ct, 0x06, 5, C::focus, 2, false, r); }
WireControl focusAuto(std::uint8_t ct, Range r) { return whole(ct, 0x08, 17, C::autoFocus, 1, false, r); }
WireControl zoomAbsolute(std::uint8_t ct, Range r) { return whole(ct, 0x0B, 9, C::zoom, 2, false, r); }
WireControl panTiltAbsolute(std::uint8_t ct, Range pan, Range tilt) {
  WireControl w;
  w.unitID = ct;
  w.selector = 0x0D;
  w.length = 8;
  w.bit = 11;
  w.fields = {{C::pan, 0, 4, true, pan, {}}, {C::tilt, 4, 4, true, tilt, {}}};
  return w;
}
WireControl backlight(std::uint8_t pu, Range r) { return whole(pu, 0x01, 8, C::backlightCompensation, 2, false, r); }
WireControl brightness(std::uint8_t pu, Range r) { return whole(pu, 0x02, 0, C::brightness, 2, true, r); }
WireControl contrast(std::uint8_t pu, Range r) { return whole(pu, 0x03, 1, C::contrast, 2, false, r); }
WireControl gain(std::uint8_t pu, Range r) { return whole(pu, 0x04, 9, C::gain, 2, false, r); }
WireControl powerLine(std::uint8_t pu, Range r) { return whole(pu, 0x05, 10, C::powerLineFrequency, 1, false, r); }
WireControl hue(std::uint8_t pu, Range r) { return whole(pu, 0x06, 2, C::hue, 2, true, r); }
WireControl saturation(std::uint8_t pu, Range r) { return whole(pu, 0x07, 3, C::saturation, 2, false, r); }
WireControl sharpness(std::uint8_t pu, Range r) { return whole(pu, 0x08, 4, C::sharpness, 2, false, r); }
WireControl gamma(std::uint8_t pu, Range r) { return whole(pu, 0x09, 5, C::gamma, 2, false, r); }
WireControl whiteBalance(std::uint8_t pu, Range r) { return whole(pu, 0x0A, 6, C::whiteBalance, 2, false, r); }
WireControl whiteBalanceAuto(std::uint8_t pu, Range r) {
  return whole(pu, 0x0B, 12, C::autoWhiteBalance, 1, false, r);
}

}  // namespace

std::int64_t Field::read(std::span<const std::uint8_t> payload) const {
  std::uint64_t bits = 0;
  for (int i = width - 1; i >= 0; --i) {
    const auto at = static_cast<std::size_t>(offset + i);
    bits = bits << 8 | (at < payload.size() ? payload[at] : 0);
  }
  if (isSigned && width < 8 && (bits >> (8 * width - 1)) != 0) bits |= ~std::uint64_t{0} << (8 * width);
  return static_cast<std::int64_t>(bits);
}

void Field::write(std::int64_t value, std::span<std::uint8_t> payload) const {
  const auto bits = static_cast<std::uint64_t>(value);
  for (int i = 0; i < width; ++i) {
    const auto at = static_cast<std::size_t>(offset + i);
    if (at < payload.size()) payload[at] = static_cast<std::uint8_t>(i < 8 ? bits >> (8 * i) : 0);
  }
}

const WireControl* Profile::find(ControlID id) const {
  for (const WireControl& w : controls) {
    for (const Field& f : w.fields) {
      if (f.id == id) return &w;
    }
  }
  return nullptr;
}

const Field* Profile::field(ControlID id) const {
  for (const WireControl& w : controls) {
    for (const Field& f : w.fields) {
      if (f.id == id) return &f;
    }
  }
  return nullptr;
}

Profile c200Profile() {
  constexpr std::uint8_t CT = 1, PU = 2, XU = 6;
  Profile p;
  p.name = "c200";
  p.vendorID = 0x291A;
  p.productID = 0x3369;
  p.locationID = 0x01100000;  // bus 1, port 1
  p.productName = "Anker PowerConf C200";

  p.controls = {
      aeMode(CT, {1, 8, 0x0B, 2}, {1, 2, 8}),  // manual, auto, aperture priority
      // exposure in 100 us units: 0.1 ms .. 500 ms, about 1/64 s by default
      exposureTime(CT, {1, 5000, 1, 156}),
      focusAuto(CT, {0, 1, 1, 1}),
      focusAbsolute(CT, {0, 1023, 1, 340}),
      whiteBalanceAuto(PU, {0, 1, 1, 1}),
      whiteBalance(PU, {2800, 6500, 10, 4600}),
      powerLine(PU, {0, 2, 1, 1}),
      brightness(PU, {-64, 64, 1, 0}),
      contrast(PU, {0, 100, 1, 50}),
      saturation(PU, {0, 100, 1, 60}),
      sharpness(PU, {0, 100, 1, 50}),
      gamma(PU, {100, 500, 1, 300}),
      hue(PU, {-180, 180, 1, 0}),
      zoomAbsolute(CT, {100, 400, 1, 100}),
      // pan and tilt in arc seconds, one degree a step
      panTiltAbsolute(CT, {-36000, 36000, 3600, 0}, {-36000, 36000, 3600, 0}),
      // Vendor controls: 60-byte payloads. 0x10 reads 00 01 in bytes 0-1, the field of view in
      // bytes 2-3, 0 in byte 4 and the microphone pickup in byte 5; the rest are firmware bytes
      // the host must send back unchanged.
      vendor(XU, 0x10,
             {{C::fieldOfView, 2, 2, false, {65, 95, 1, 95}, {65, 78, 95}},
              {C::micPickup, 5, 1, false, {0, 90, 90, 90}, {0, 90}}},
             {0x00, 0x01, 0, 0, 0x00, 0, 0x03, 0x1E, 0x00, 0x02}),
      vendor(XU, 0x11, {{C::horizontalFlip, 0, 1, false, {0, 1, 1, 0}, {}}}, {0, 0x01, 0x00, 0x10}),
      [&] {
        WireControl w = vendor(XU, 0x13, {{C::hdr, 0, 1, false, {0, 1, 1, 1}, {}}}, {0, 0x02});
        w.readsBackOne = true;
        return w;
      }(),
      // Selectors the application does not use: firmware version and a status block.
      vendor(XU, 0x0A, {}, {0x01, 0x05, 0x02, 0x00, 'C', '2', '0', '0'}),
      vendor(XU, 0x12, {}, {0x00, 0x01, 0x00, 0x00, 0x3C}),
  };

  CameraLayout layout;
  layout.cameraTerminalID = CT;
  // The firmware also sets bit 15, reserved in UVC 1.1: 2A 8A 02 in all.
  layout.cameraControls = advertised(p.controls, CT) | 1u << 15;
  layout.processingUnitID = PU;
  layout.processingControls = advertised(p.controls, PU);
  ExtensionUnitLayout xu;
  xu.unitID = XU;
  std::memcpy(xu.guid, kAnkerExtensionGUID, sizeof xu.guid);
  // 00 F8 27, as the firmware reports it: selectors 0x0c-0x13 and 0x16. It answers 0x0a too
  // without advertising it.
  xu.controls = 0x27F800;
  layout.extension = xu;
  // The output terminal names a unit 4 that the descriptor never defines.
  layout.outputSourceID = 4;
  // MJPEG up to 2560x1440, the sizes below 1080p also at 15 frames a second; YUY2 up to
  // 640x480, which is what USB 2 carries uncompressed at 30; H.264 at the two HD sizes.
  layout.formats = {
      {StreamFormat::mjpeg,
       {{2560, 1440, {30}}, {1920, 1080, {30}}, {1280, 720, {30, 15}}, {960, 540, {30, 15}}, {848, 480, {30, 15}},
        {640, 480, {30, 15}}, {640, 360, {30, 15}}, {320, 240, {30, 15}}}},
      {StreamFormat::yuy2, {{640, 480, {30, 15}}, {640, 360, {30, 15}}, {320, 240, {30, 15}}}},
      {StreamFormat::h264, {{1920, 1080, {30}}, {1280, 720, {30}}}},
  };
  p.formats = layout.formats;
  p.configuration = buildConfiguration(layout);
  return p;
}

Profile genericProfile() {
  constexpr std::uint8_t CT = 1, PU = 3;
  Profile p;
  p.name = "generic";
  p.vendorID = 0x0C45;
  p.productID = 0x6366;
  p.locationID = 0x01200000;  // bus 1, port 2
  p.productName = "USB 2.0 Camera";

  p.controls = {
      aeMode(CT, {1, 2, 0x03, 2}, {1, 2}),
      exposureTime(CT, {3, 2047, 1, 250}),
      whiteBalanceAuto(PU, {0, 1, 1, 1}),
      whiteBalance(PU, {2800, 6500, 1, 4600}),
      powerLine(PU, {0, 2, 1, 1}),
      brightness(PU, {-64, 64, 1, 0}),
      contrast(PU, {0, 64, 1, 32}),
      saturation(PU, {0, 128, 1, 64}),
      sharpness(PU, {0, 6, 1, 3}),
      gamma(PU, {72, 500, 1, 100}),
      hue(PU, {-40, 40, 1, 0}),
      gain(PU, {0, 100, 1, 0}),
      backlight(PU, {0, 2, 1, 1}),
  };

  CameraLayout layout;
  layout.cameraTerminalID = CT;
  layout.cameraControls = advertised(p.controls, CT);
  layout.processingUnitID = PU;
  layout.processingControls = advertised(p.controls, PU);
  layout.formats = {
      {StreamFormat::mjpeg, {{1280, 720, {30}}, {640, 480, {30}}}},
      {StreamFormat::yuy2, {{640, 480, {30}}}},
  };
  p.formats = layout.formats;
  p.configuration = buildConfiguration(layout);
  return p;
}

std::optional<Profile> profileNamed(std::string_view name) {
  if (name == "c200") return c200Profile();
  if (name == "generic") return genericProfile();
  return std::nullopt;
}

}  // namespace velto::sim
