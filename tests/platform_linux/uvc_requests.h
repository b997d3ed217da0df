// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// UVC class requests as cuvc builds them, sent straight to a carrier, for tests that look at one
// carrier answer at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/usb/carrier.h"

namespace velto::testing {

inline constexpr std::uint8_t kSetCur = 0x01, kGetCur = 0x81, kGetMin = 0x82, kGetMax = 0x83;
inline constexpr std::uint8_t kGetRes = 0x84, kGetLen = 0x85, kGetInfo = 0x86, kGetDef = 0x87;

struct Answer {
  usb::Status status = usb::status::error;
  std::vector<std::uint8_t> data;  // wLenDone bytes
};

inline usb::DeviceRequest classRequest(std::uint8_t code, std::uint8_t unit, std::uint8_t selector,
                                       std::uint16_t length, std::uint8_t interface = 0) {
  usb::DeviceRequest r;
  r.bmRequestType = code == kSetCur ? 0x21 : 0xA1;
  r.bRequest = code;
  r.wValue = static_cast<std::uint16_t>(selector << 8);
  r.wIndex = static_cast<std::uint16_t>(unit << 8 | interface);
  r.wLength = length;
  r.noDataTimeout = 500;
  r.completionTimeout = 1000;
  return r;
}

inline Answer get(usb::Carrier& carrier, std::uint8_t code, std::uint8_t unit, std::uint8_t selector,
                  std::uint16_t length) {
  std::vector<std::uint8_t> buffer(length, 0xEE);
  usb::DeviceRequest r = classRequest(code, unit, selector, length);
  r.pData = buffer.data();
  Answer a;
  a.status = carrier.deviceRequest(r);
  buffer.resize(r.wLenDone);
  a.data = std::move(buffer);
  return a;
}

inline usb::Status set(usb::Carrier& carrier, std::uint8_t unit, std::uint8_t selector,
                       std::vector<std::uint8_t> payload) {
  usb::DeviceRequest r = classRequest(kSetCur, unit, selector, static_cast<std::uint16_t>(payload.size()));
  r.pData = payload.data();
  return carrier.deviceRequest(r);
}

}  // namespace velto::testing
