// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/capture_device.h"

#include <cstdio>
#include <string_view>

namespace velto::video {

std::string makeUniqueID(std::uint32_t locationID, std::uint16_t vendorID, std::uint16_t productID) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%x%04x%04x", static_cast<unsigned>(locationID), static_cast<unsigned>(vendorID),
                static_cast<unsigned>(productID));
  return text;
}

std::string makeModelID(const std::string& name, std::uint16_t vendorID, std::uint16_t productID) {
  std::string model = name.empty() ? std::string() : name + " ";
  return model + "VendorID_" + std::to_string(vendorID) + " ProductID_" + std::to_string(productID);
}

std::string nodePath(const CaptureDevice& device) {
  if (device.kind != CaptureDevice::Kind::sim) return device.path;
  constexpr std::string_view socketSuffix = ".sock";
  if (!device.path.ends_with(socketSuffix)) return {};
  return device.path.substr(0, device.path.size() - socketSuffix.size()) + ".video";
}

}  // namespace velto::video
