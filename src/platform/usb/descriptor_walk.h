// The walk over a configuration descriptor that finds a UVC camera's VideoControl interface and
// the units the application talks to. A pure function over bytes: no device, no allocation.
#pragma once

#include <cstdint>
#include <span>

#include "cuvc/cuvc.h"

namespace velto::cuvc {

// Clears `info`, then walks `config` (configuration descriptor 0, starting with the configuration
// descriptor itself) and records the first VideoControl interface number, the first camera
// terminal, processing unit and extension unit that follow a VideoControl interface. Only the
// descriptor fields of `info` are written; IDs and location stay zero.
//
// Returns true when a VideoControl interface was found. Never reads outside `config`: a
// wTotalLength beyond the buffer is cut to the buffer, and a descriptor that runs past the end
// ends the walk, keeping what was found before it.
bool walkDescriptors(std::span<const std::uint8_t> config, cuvc_info& info);

}  // namespace velto::cuvc
