// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uvc/controls.h"

namespace velto {
namespace {

struct CatalogueRow {
  ControlID id;
  std::string_view rawValue;
  std::string_view title;
  ControlSpec spec;
};

constexpr auto CT = UnitKind::cameraTerminal;
constexpr auto PU = UnitKind::processingUnit;
constexpr auto XU = UnitKind::ankerExtension;
constexpr std::optional<int> whole = std::nullopt;

// clang-format off
// The whole catalogue. Selectors are the UVC control selectors of each unit; the vendor controls
// are 60-byte payloads on the C200's extension unit, where one selector can carry several values.
constexpr std::array<CatalogueRow, kControlCount> kCatalogue{{
  //  id                                  raw value                title                 unit sel.  bit len off width  signed readable
  {ControlID::autoExposure,          "autoExposure",          "Auto Exposure",       {CT, 0x02,  1,  1, 0, whole, false, true}},
  {ControlID::exposure,              "exposure",              "Exposure",            {CT, 0x04,  3,  4, 0, whole, false, true}},
  {ControlID::autoFocus,             "autoFocus",             "Auto Focus",          {CT, 0x08, 17,  1, 0, whole, false, true}},
  {ControlID::focus,                 "focus",                 "Focus",               {CT, 0x06,  5,  2, 0, whole, false, true}},
  {ControlID::autoWhiteBalance,      "autoWhiteBalance",      "Auto White Balance",  {PU, 0x0B, 12,  1, 0, whole, false, true}},
  {ControlID::whiteBalance,          "whiteBalance",          "Temperature",         {PU, 0x0A,  6,  2, 0, whole, false, true}},
  {ControlID::powerLineFrequency,    "powerLineFrequency",    "Anti-Flicker",        {PU, 0x05, 10,  1, 0, whole, false, true}},
  {ControlID::brightness,            "brightness",            "Brightness",          {PU, 0x02,  0,  2, 0, whole, true,  true}},
  {ControlID::contrast,              "contrast",              "Contrast",            {PU, 0x03,  1,  2, 0, whole, false, true}},
  {ControlID::saturation,            "saturation",            "Saturation",          {PU, 0x07,  3,  2, 0, whole, false, true}},
  {ControlID::sharpness,             "sharpness",             "Sharpness",           {PU, 0x08,  4,  2, 0, whole, false, true}},
  {ControlID::gamma,                 "gamma",                 "Gamma",               {PU, 0x09,  5,  2, 0, whole, false, true}},
  {ControlID::hue,                   "hue",                   "Hue",                 {PU, 0x06,  2,  2, 0, whole, true,  true}},
  {ControlID::gain,                  "gain",                  "Gain",                {PU, 0x04,  9,  2, 0, whole, false, true}},
  {ControlID::backlightCompensation, "backlightCompensation", "Backlight",           {PU, 0x01,  8,  2, 0, whole, false, true}},
  {ControlID::horizontalFlip,        "horizontalFlip",        "Flip Horizontally",   {XU, 0x11,  0, 60, 0, 1,     false, true}},
  {ControlID::hdr,                   "hdr",                   "HDR",                 {XU, 0x13,  0, 60, 0, 1,     false, false}},
  {ControlID::micPickup,             "micPickup",             "Pickup",              {XU, 0x10,  0, 60, 5, 1,     false, true}},
  {ControlID::fieldOfView,           "fieldOfView",           "Field of View",       {XU, 0x10,  0, 60, 2, 2,     false, true}},
  {ControlID::zoom,                  "zoom",                  "Zoom",                {CT, 0x0B,  9,  2, 0, whole, false, true}},
  {ControlID::pan,                   "pan",                   "Pan",                 {CT, 0x0D, 11,  8, 0, 4,     true,  true}},
  {ControlID::tilt,                  "tilt",                  "Tilt",                {CT, 0x0D, 11,  8, 4, 4,     true,  true}},
}};
// clang-format on

constexpr bool catalogueIsInOrder() {
  for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
    if (static_cast<std::size_t>(kCatalogue[i].id) != i) return false;
  }
  return true;
}
static_assert(catalogueIsInOrder(), "catalogue rows must follow the ControlID order");

constexpr std::array<ControlID, kControlCount> makeAllControls() {
  std::array<ControlID, kControlCount> ids{};
  for (std::size_t i = 0; i < kControlCount; ++i) ids[i] = kCatalogue[i].id;
  return ids;
}
constexpr std::array<ControlID, kControlCount> kAllControls = makeAllControls();

const CatalogueRow& row(ControlID id) { return kCatalogue[static_cast<std::size_t>(id)]; }

}  // namespace

std::string_view unitName(UnitKind unit) {
  switch (unit) {
    case UnitKind::cameraTerminal: return "cameraTerminal";
    case UnitKind::processingUnit: return "processingUnit";
    case UnitKind::ankerExtension: return "ankerExtension";
  }
  return "unknown";
}

std::int64_t ControlSpec::decode(std::span<const std::uint8_t> payload) const {
  const int n = valueSize();
  std::uint64_t bits = 0;  // unsigned, so that payloads wider than 8 bytes wrap instead of overflow
  for (int i = n; i >= 1; --i) {
    const std::size_t p = static_cast<std::size_t>(offset) + static_cast<std::size_t>(i) - 1;
    if (p < payload.size()) bits = bits * 256 + payload[p];
  }
  if (isSigned && n >= 1 && n <= 7) {
    const int shift = 64 - 8 * n;
    return static_cast<std::int64_t>(bits << shift) >> shift;
  }
  return static_cast<std::int64_t>(bits);
}

void ControlSpec::encode(std::int64_t value, std::span<std::uint8_t> payload) const {
  const auto bits = static_cast<std::uint64_t>(value);
  const std::uint8_t fill = value < 0 ? 0xFF : 0x00;  // two's complement beyond 64 bits
  const int n = valueSize();
  for (int i = 0; i < n; ++i) {
    const std::size_t p = static_cast<std::size_t>(offset) + static_cast<std::size_t>(i);
    if (p >= payload.size()) break;
    payload[p] = i < 8 ? static_cast<std::uint8_t>(bits >> (8 * i)) : fill;
  }
}

std::int64_t ControlRange::clamp(std::int64_t value) const {
  std::int64_t v = value < min ? min : value;
  if (v > max) v = max;
  if (step < 2) return v;
  return min + ((v - min + step / 2) / step) * step;
}

const std::array<ControlID, kControlCount>& allControls() { return kAllControls; }

std::string_view rawValue(ControlID id) { return row(id).rawValue; }

std::string_view title(ControlID id) { return row(id).title; }

const ControlSpec& spec(ControlID id) { return row(id).spec; }

std::optional<ControlID> controlFromRawValue(std::string_view text) {
  for (const CatalogueRow& r : kCatalogue) {
    if (r.rawValue == text) return r.id;
  }
  return std::nullopt;
}

}  // namespace velto
