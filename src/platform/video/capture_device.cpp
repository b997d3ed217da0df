// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/capture_device.h"

#include <cstdio>

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

}  // namespace velto::video
