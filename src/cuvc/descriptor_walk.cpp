// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cuvc/descriptor_walk.h"

#include <algorithm>
#include <cstring>

#include "platform/usb/descriptor_walk.h"

namespace velto::cuvc {

bool walkDescriptors(std::span<const std::uint8_t> config, cuvc_info& info) {
  std::memset(&info, 0, sizeof info);
  const auto layout = usb::walkVideoControl(config);
  if (!layout) return false;
  info.interfaceNumber = layout->interfaceNumber;
  info.cameraTerminalID = layout->cameraTerminal.id;
  info.cameraControls = layout->cameraTerminal.controls;
  info.processingUnitID = layout->processingUnit.id;
  info.processingControls = layout->processingUnit.controls;
  info.extensionUnitID = layout->extensionUnit.id;
  info.extensionControls = layout->extensionUnit.controls;
  std::copy(layout->extensionGUID.begin(), layout->extensionGUID.end(), info.extensionGUID);
  return true;
}

}  // namespace velto::cuvc
