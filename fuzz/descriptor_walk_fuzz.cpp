// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Feeds arbitrary bytes to the configuration-descriptor walk, the one both cuvc and the v4l2
// carrier use. Any out-of-bounds read is a finding (the fuzzer build runs under AddressSanitizer);
// so is a result that contradicts the input or a cuvc_info that says something else than the walk.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "cuvc/descriptor_walk.h"
#include "platform/usb/descriptor_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto layout = velto::usb::walkVideoControl(std::span(data, size));
  cuvc_info info;
  const bool found = velto::cuvc::walkDescriptors(std::span(data, size), info);
  if (found != layout.has_value()) std::abort();
  if (!found) {
    // Without a VideoControl interface nothing may have been recorded.
    const cuvc_info zero{};
    if (std::memcmp(&info, &zero, sizeof info) != 0) std::abort();
    return 0;
  }
  // ID 0 is no unit; the first extension unit is one of the extension units.
  if (layout->extensionUnits.test(0)) std::abort();
  if (layout->extensionUnit.id != 0 && !layout->isExtensionUnit(layout->extensionUnit.id)) std::abort();
  if (layout->extensionUnit.id == 0 && layout->extensionUnits.any()) std::abort();
  if (info.cameraTerminalID != layout->cameraTerminal.id || info.processingUnitID != layout->processingUnit.id ||
      info.extensionUnitID != layout->extensionUnit.id || info.interfaceNumber != layout->interfaceNumber) {
    std::abort();
  }
  // The walk never writes the device identity.
  if (info.vendorID != 0 || info.productID != 0 || info.locationID != 0) std::abort();
  return 0;
}
