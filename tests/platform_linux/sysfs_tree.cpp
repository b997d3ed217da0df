// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sysfs_tree.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace velto::testing {

namespace fs = std::filesystem;

SysfsTree::SysfsTree() {
  std::string pattern = (fs::temp_directory_path() / "velto-sysfs-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  fs::create_directories(root_ / "bus/usb/devices");
  fs::create_directories(root_ / "bus/usb/drivers");
  fs::create_directories(root_ / "devices/pci0000:00/usb1");
}

SysfsTree::~SysfsTree() {
  std::error_code ec;
  fs::remove_all(root_, ec);
}

void SysfsTree::write(const std::string& dir, const std::string& name, const std::string& text) {
  std::ofstream(dir + "/" + name, std::ios::trunc) << text;
}

void SysfsTree::writeBytes(const std::string& dir, const std::string& name,
                           const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string SysfsTree::addDevice(const Device& d) {
  const fs::path dir = root_ / "devices/pci0000:00/usb1" / d.name;
  fs::create_directories(dir);
  const std::string path = dir.string();
  char hex[8];
  write(path, "busnum", std::to_string(d.busnum) + "\n");
  write(path, "devnum", std::to_string(d.devnum) + "\n");
  write(path, "devpath", d.name.substr(d.name.find('-') + 1) + "\n");
  std::snprintf(hex, sizeof hex, "%04x", d.vendorID);
  write(path, "idVendor", std::string(hex) + "\n");
  std::snprintf(hex, sizeof hex, "%04x", d.productID);
  write(path, "idProduct", std::string(hex) + "\n");
  if (d.product) write(path, "product", *d.product + "\n");
  write(path, "bConfigurationValue",
        d.configurationValue > 0 ? std::to_string(d.configurationValue) + "\n" : "\n");
  writeBytes(path, "descriptors", d.descriptors);
  fs::create_directory_symlink(dir, root_ / "bus/usb/devices" / d.name);
  return (root_ / "bus/usb/devices" / d.name).string();
}

std::string SysfsTree::addInterface(const std::string& device, int configuration, int number,
                                    std::uint8_t cls, std::uint8_t subclass,
                                    std::optional<std::string> driver) {
  const std::string name = fs::path(device).filename().string() + ":" + std::to_string(configuration) +
                           "." + std::to_string(number);
  const fs::path dir = fs::path(device) / name;
  fs::create_directories(dir);
  char hex[8];
  std::snprintf(hex, sizeof hex, "%02x", cls);
  write(dir.string(), "bInterfaceClass", std::string(hex) + "\n");
  std::snprintf(hex, sizeof hex, "%02x", subclass);
  write(dir.string(), "bInterfaceSubClass", std::string(hex) + "\n");
  std::snprintf(hex, sizeof hex, "%02x", number);
  write(dir.string(), "bInterfaceNumber", std::string(hex) + "\n");
  if (driver) {
    fs::create_directories(root_ / "bus/usb/drivers" / *driver);
    fs::create_directory_symlink(root_ / "bus/usb/drivers" / *driver, dir / "driver");
  }
  return dir.string();
}

void SysfsTree::addVideoNode(const std::string& interfaceDir, const std::string& name) {
  fs::create_directories(fs::path(interfaceDir) / "video4linux" / name);
  write(interfaceDir + "/video4linux/" + name, "name", "Anker PowerConf C200\n");
}

void SysfsTree::removeVideoNode(const std::string& interfaceDir, const std::string& name) {
  fs::remove_all(fs::path(interfaceDir) / "video4linux" / name);
}

}  // namespace velto::testing
