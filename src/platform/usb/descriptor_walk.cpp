#include "cuvc/descriptor_walk.h"

#include <algorithm>
#include <cstring>

namespace velto::cuvc {
namespace {

constexpr std::uint8_t kInterfaceDescriptor = 0x04;
constexpr std::uint8_t kClassSpecificInterface = 0x24;
constexpr std::uint8_t kVideoClass = 0x0E;
constexpr std::uint8_t kVideoControlSubclass = 0x01;
constexpr std::uint8_t kInputTerminal = 0x02;
constexpr std::uint8_t kProcessingUnit = 0x05;
constexpr std::uint8_t kExtensionUnit = 0x06;
constexpr std::uint16_t kCameraTerminalType = 0x0201;

// bmControls: the first up to four of `size` bytes at `d`, little-endian.
std::uint32_t controlBitmap(const std::uint8_t* d, std::size_t size) {
  std::uint32_t bits = 0;
  for (std::size_t k = std::min<std::size_t>(size, 4); k > 0; --k) bits = (bits << 8) | d[k - 1];
  return bits;
}

// One class-specific VideoControl descriptor `d` of `len` bytes (len >= 3 is guaranteed).
void visitVideoControlUnit(const std::uint8_t* d, std::size_t len, cuvc_info& info) {
  const std::uint8_t subtype = d[2];
  if (len >= 15 && subtype == kInputTerminal) {
    const std::uint16_t terminalType = static_cast<std::uint16_t>(d[4] | (d[5] << 8));
    if (terminalType == kCameraTerminalType && info.cameraTerminalID == 0) {
      info.cameraTerminalID = d[3];
      const std::size_t n = d[14];
      if (15 + n <= len) info.cameraControls = controlBitmap(d + 15, n);
    }
  } else if (len >= 8 && subtype == kProcessingUnit) {
    if (info.processingUnitID == 0) {
      info.processingUnitID = d[3];
      const std::size_t n = d[7];
      if (8 + n <= len) info.processingControls = controlBitmap(d + 8, n);
    }
  } else if (len >= 24 && subtype == kExtensionUnit) {
    if (info.extensionUnitID == 0) {
      info.extensionUnitID = d[3];
      std::memcpy(info.extensionGUID, d + 4, sizeof info.extensionGUID);
      const std::size_t pins = d[21];
      if (23 + pins <= len) {
        const std::size_t n = d[22 + pins];
        if (23 + pins + n <= len) info.extensionControls = controlBitmap(d + 23 + pins, n);
      }
    }
  }
}

}  // namespace

bool walkDescriptors(std::span<const std::uint8_t> config, cuvc_info& info) {
  std::memset(&info, 0, sizeof info);
  if (config.size() < 4) return false;

  // A device may claim more than it delivered; never trust wTotalLength past the buffer.
  const std::size_t claimed = static_cast<std::size_t>(config[2] | (config[3] << 8));
  if (claimed < 2) return false;
  const std::size_t total = std::min(claimed, config.size());

  bool inVideoControl = false;
  bool found = false;
  for (std::size_t i = 0; i + 2 <= total;) {
    const std::uint8_t* d = config.data() + i;
    const std::size_t len = d[0];
    const std::uint8_t type = d[1];
    if (len < 2 || i + len > total) break;

    if (len >= 9 && type == kInterfaceDescriptor) {
      if (d[5] == kVideoClass) {
        inVideoControl = d[6] == kVideoControlSubclass;
        if (inVideoControl && !found) {
          info.interfaceNumber = d[2];
          found = true;
        }
      } else {
        inVideoControl = false;
      }
    } else if (len > 2 && type == kClassSpecificInterface && inVideoControl) {
      visitVideoControlUnit(d, len, info);
    }
    i += len;
  }
  return found;
}

}  // namespace velto::cuvc
