#include "sim/profile.h"

#include <cstring>

#include "sim/descriptors.h"

namespace velto::sim {
namespace {

constexpr std::uint8_t kCameraTerminal = 1;
constexpr std::uint16_t kVendorLength = 60;

// A control that fills its whole payload (or one field of it), as the catalogue lays it out.
WireControl standard(std::uint8_t unit, ControlID id, ControlRange range,
                     std::vector<std::int64_t> allowed = {}) {
  const ControlSpec& s = spec(id);
  WireControl w;
  w.unitID = unit;
  w.selector = s.selector;
  w.length = static_cast<std::uint16_t>(s.length);
  w.fields.push_back({id, range, std::move(allowed)});
  return w;
}

WireControl vendor(std::uint8_t unit, std::uint8_t selector, std::vector<Field> fields,
                   std::vector<std::uint8_t> named) {
  WireControl w;
  w.unitID = unit;
  w.selector = selector;
  w.length = kVendorLength;
  w.fields = std::move(fields);
  w.fixedBytes = std::move(named);
  w.fixedBytes.resize(kVendorLength, 0);
  return w;
}

// bmControls of one unit: the support bit of every catalogue control it carries.
std::uint32_t supportBits(const std::vector<WireControl>& controls, std::uint8_t unit) {
  std::uint32_t bits = 0;
  for (const WireControl& w : controls) {
    if (w.unitID != unit) continue;
    for (const Field& f : w.fields) bits |= 1u << spec(f.id).supportBit;
  }
  return bits;
}

}  // namespace

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
  constexpr std::uint8_t CT = kCameraTerminal, PU = 2, XU = 6;
  Profile p;
  p.name = "c200";
  p.vendorID = 0x291A;
  p.productID = 0x3369;
  p.locationID = 0x01100000;  // bus 1, port 1
  p.productName = "Anker PowerConf C200";

  using C = ControlID;
  // Auto-exposure mode: GET_RES is the bitmap of supported modes (manual, auto, aperture
  // priority); like most UVC cameras it has no minimum or maximum.
  WireControl aeMode = standard(CT, C::autoExposure, {1, 8, 0x0B, 2}, {1, 2, 8});
  aeMode.stallsMinMax = true;
  p.controls = {
      aeMode,
      // exposure in 100 us units: 0.1 ms .. 500 ms, about 1/64 s by default
      standard(CT, C::exposure, {1, 5000, 1, 156}),
      standard(CT, C::autoFocus, {0, 1, 1, 1}),
      standard(CT, C::focus, {0, 1023, 1, 340}),
      standard(PU, C::autoWhiteBalance, {0, 1, 1, 1}),
      standard(PU, C::whiteBalance, {2800, 6500, 10, 4600}),
      standard(PU, C::powerLineFrequency, {0, 2, 1, 1}),
      standard(PU, C::brightness, {-64, 64, 1, 0}),
      standard(PU, C::contrast, {0, 100, 1, 50}),
      standard(PU, C::saturation, {0, 100, 1, 60}),
      standard(PU, C::sharpness, {0, 100, 1, 50}),
      standard(PU, C::gamma, {100, 500, 1, 300}),
      standard(PU, C::hue, {-180, 180, 1, 0}),
      standard(PU, C::gain, {0, 100, 1, 0}),
      standard(PU, C::backlightCompensation, {0, 2, 1, 1}),
      standard(CT, C::zoom, {100, 400, 1, 100}),
      // pan and tilt in arc seconds, one degree a step
      [&] {
        WireControl w = standard(CT, C::pan, {-36000, 36000, 3600, 0});
        w.fields.push_back({C::tilt, {-36000, 36000, 3600, 0}, {}});
        return w;
      }(),
      // Vendor controls: 60-byte payloads. 0x10 reads 00 01 in bytes 0-1, the field of view in
      // bytes 2-3, 0 in byte 4 and the microphone pickup in byte 5; the rest are firmware bytes
      // the host must send back unchanged.
      vendor(XU, 0x10,
             {{C::fieldOfView, {65, 95, 1, 95}, {65, 78, 95}}, {C::micPickup, {0, 90, 90, 90}, {0, 90}}},
             {0x00, 0x01, 0, 0, 0x00, 0, 0x03, 0x1E, 0x00, 0x02}),
      vendor(XU, 0x11, {{C::horizontalFlip, {0, 1, 1, 0}, {}}}, {0, 0x01, 0x00, 0x10}),
      [&] {
        WireControl w = vendor(XU, 0x13, {{C::hdr, {0, 1, 1, 1}, {}}}, {0, 0x02});
        w.readsBackOne = true;
        return w;
      }(),
      // Selectors the application does not use: firmware version and a status block.
      vendor(XU, 0x0A, {}, {0x01, 0x05, 0x02, 0x00, 'C', '2', '0', '0'}),
      vendor(XU, 0x12, {}, {0x00, 0x01, 0x00, 0x00, 0x3C}),
  };

  CameraLayout layout;
  layout.cameraTerminalID = CT;
  layout.cameraControls = supportBits(p.controls, CT);
  layout.processingUnitID = PU;
  layout.processingControls = supportBits(p.controls, PU);
  ExtensionUnitLayout xu;
  xu.unitID = XU;
  std::memcpy(xu.guid, kAnkerExtensionGUID, sizeof xu.guid);
  for (const WireControl& w : p.controls) {
    if (w.unitID == XU) xu.controls |= 1u << (w.selector - 1);
  }
  layout.extension = xu;
  p.configuration = buildConfiguration(layout);
  return p;
}

Profile genericProfile() {
  constexpr std::uint8_t CT = kCameraTerminal, PU = 3;
  Profile p;
  p.name = "generic";
  p.vendorID = 0x0C45;
  p.productID = 0x6366;
  p.locationID = 0x01200000;  // bus 1, port 2
  p.productName = "USB 2.0 Camera";

  using C = ControlID;
  WireControl aeMode = standard(CT, C::autoExposure, {1, 2, 0x03, 2}, {1, 2});
  aeMode.stallsMinMax = true;
  p.controls = {
      aeMode,
      standard(CT, C::exposure, {3, 2047, 1, 250}),
      standard(PU, C::autoWhiteBalance, {0, 1, 1, 1}),
      standard(PU, C::whiteBalance, {2800, 6500, 1, 4600}),
      standard(PU, C::powerLineFrequency, {0, 2, 1, 1}),
      standard(PU, C::brightness, {-64, 64, 1, 0}),
      standard(PU, C::contrast, {0, 64, 1, 32}),
      standard(PU, C::saturation, {0, 128, 1, 64}),
      standard(PU, C::sharpness, {0, 6, 1, 3}),
      standard(PU, C::gamma, {72, 500, 1, 100}),
      standard(PU, C::hue, {-40, 40, 1, 0}),
      standard(PU, C::gain, {0, 100, 1, 0}),
      standard(PU, C::backlightCompensation, {0, 2, 1, 1}),
  };

  CameraLayout layout;
  layout.cameraTerminalID = CT;
  layout.cameraControls = supportBits(p.controls, CT);
  layout.processingUnitID = PU;
  layout.processingControls = supportBits(p.controls, PU);
  p.configuration = buildConfiguration(layout);
  return p;
}

std::optional<Profile> profileNamed(std::string_view name) {
  if (name == "c200") return c200Profile();
  if (name == "generic") return genericProfile();
  return std::nullopt;
}

}  // namespace velto::sim
