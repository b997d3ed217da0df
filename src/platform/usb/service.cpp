// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/service.h"

namespace velto::usb {

std::string_view carrierName(CarrierKind kind) {
  switch (kind) {
    case CarrierKind::sim: return "sim";
    case CarrierKind::v4l2: return "v4l2";
    case CarrierKind::libusb: return "libusb";
  }
  return "unknown";
}

}  // namespace velto::usb
