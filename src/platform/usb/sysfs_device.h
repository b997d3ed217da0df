// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// One USB device as sysfs describes it (/sys/bus/usb/devices/<bus>-<ports>), and the pure rules
// that turn what sysfs says into the identity the rest of the system uses.
//
// Everything here reads files only; nothing opens a device node. Reads never throw: a missing,
// unreadable or malformed attribute makes the device unusable (none) or leaves an optional field
// empty, because devices come and go while we look at them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/usb/status.h"
#include "platform/usb/system_calls.h"

namespace velto::usb {

// Bus number in the top byte, then one nibble per port of `portChain` ("2.3": ports 2 then 3)
// from bit 20 downwards. Ports above 15 saturate to 15, tiers past the sixth are dropped, bus
// numbers above 255 saturate to 255. None when the chain is not dot-separated decimal numbers.
std::optional<std::uint32_t> locationFromPortChain(unsigned busnum, std::string_view portChain);

// busnum << 32 | devnum: the kernel gives a device a new number on every enumeration.
std::uint64_t registryIDFor(unsigned busnum, unsigned devnum);

// Picks configuration `configurationValue` out of a sysfs `descriptors` file: the 18-byte device
// descriptor followed by every configuration, each wTotalLength bytes long. Falls back to the
// first configuration when none carries that value (older kernels list only the active one).
// status::ioError when the file is short or its descriptors do not add up.
Status configurationFromSysfs(std::span<const std::uint8_t> blob, int configurationValue,
                              std::vector<std::uint8_t>& out);

struct SysfsDevice {
  std::string path;  // the device directory
  std::string name;  // its kernel name, "1-2.3"
  unsigned busnum = 0;
  unsigned devnum = 0;
  std::uint16_t vendorID = 0;
  std::uint16_t productID = 0;
  std::optional<std::string> productName;  // the `product` attribute
  int configurationValue = 0;              // 0 while unconfigured
  std::uint32_t locationID = 0;
  std::uint64_t registryID = 0;
  // The first VideoControl interface (class 0x0e, subclass 0x01) of the active configuration.
  std::optional<int> videoControlInterface;
  std::string videoControlPath;                   // its interface directory
  std::optional<std::string> videoControlDriver;  // the driver bound to it, if any
  std::string videoStreamingPath;                 // the first VideoStreaming interface's directory
};

// Reads the device directory `path`. None when it is not a USB device (an interface, a
// vanished directory) or its identifying attributes are missing or malformed.
std::optional<SysfsDevice> readSysfsDevice(const std::string& path);

// The text of attribute `name` of directory `dir` without trailing white space; none when it
// cannot be read.
std::optional<std::string> readAttribute(const std::string& dir, std::string_view name);

// The whole of a binary attribute, read through `calls`; status::noDevice when it is absent, the
// errno's status when it cannot be read. A failure is logged here, with the file's path.
Status readBinaryAttribute(const std::string& dir, std::string_view name, std::vector<std::uint8_t>& out,
                           SystemCalls& calls = SystemCalls::real());

// /dev/bus/usb/BBB/DDD, the usbfs node of a device.
std::string usbfsNodePath(unsigned busnum, unsigned devnum);

}  // namespace velto::usb
