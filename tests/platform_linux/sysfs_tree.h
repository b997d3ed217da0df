// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A sysfs tree in a temporary directory, laid out like the kernel's: devices under devices/,
// links to them in bus/usb/devices, interface directories inside their device, video4linux
// children inside the interface, and a driver link.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velto::testing {

class SysfsTree {
 public:
  SysfsTree();
  ~SysfsTree();
  SysfsTree(const SysfsTree&) = delete;
  SysfsTree& operator=(const SysfsTree&) = delete;

  std::string root() const { return root_.string(); }

  struct Device {
    std::string name = "1-2";  // kernel name: bus-ports
    unsigned busnum = 1;
    unsigned devnum = 4;
    std::uint16_t vendorID = 0x291a;
    std::uint16_t productID = 0x3369;
    std::optional<std::string> product;
    int configurationValue = 1;
    std::vector<std::uint8_t> descriptors;  // the whole `descriptors` file
  };
  // Adds a device; returns its directory.
  std::string addDevice(const Device& device);

  // Adds interface `number` of the device's configuration `configuration`; returns its directory.
  std::string addInterface(const std::string& device, int configuration, int number,
                           std::uint8_t cls, std::uint8_t subclass,
                           std::optional<std::string> driver = std::nullopt);

  // Adds video4linux/<name> under an interface directory.
  void addVideoNode(const std::string& interfaceDir, const std::string& name);
  void removeVideoNode(const std::string& interfaceDir, const std::string& name);

  // Writes (or replaces) an attribute file.
  static void write(const std::string& dir, const std::string& name, const std::string& text);
  static void writeBytes(const std::string& dir, const std::string& name,
                         const std::vector<std::uint8_t>& bytes);

 private:
  std::filesystem::path root_;
};

}  // namespace velto::testing
