// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// What opening a device reports of its configuration descriptor, in cuvc_info's terms. The walk
// itself is the platform layer's (platform/usb/descriptor_walk.h), shared with the v4l2 carrier.
#pragma once

#include <cstdint>
#include <span>

#include "cuvc/cuvc.h"

namespace velto::cuvc {

// Clears `info`, then fills its descriptor fields (interface number, camera terminal, processing
// unit, first extension unit) from usb::walkVideoControl(config). IDs and location stay zero.
// Returns true when a VideoControl interface was found; `info` holds only zeros otherwise.
bool walkDescriptors(std::span<const std::uint8_t> config, cuvc_info& info);

}  // namespace velto::cuvc
