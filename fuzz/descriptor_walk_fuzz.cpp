// Feeds arbitrary bytes to the configuration-descriptor walk. Any out-of-bounds read is a finding
// (the fuzzer build runs under AddressSanitizer); so is a result that contradicts the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cuvc/descriptor_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cuvc_info info;
  const bool found = velto::cuvc::walkDescriptors(std::span(data, size), info);
  // Without a VideoControl interface no unit can have been recorded.
  if (!found && (info.cameraTerminalID | info.processingUnitID | info.extensionUnitID) != 0) std::abort();
  // The walk never writes the device identity.
  if (info.vendorID != 0 || info.productID != 0 || info.locationID != 0) std::abort();
  return 0;
}
