// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uvc/camera_key.h"

#include <cstdio>

namespace velto {

std::string CameraKey::hexString() const {
  char text[10];
  std::snprintf(text, sizeof text, "%04x:%04x", vendorID, productID);
  return text;
}

}  // namespace velto
