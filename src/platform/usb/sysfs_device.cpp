// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/sysfs_device.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>

#include "support/log.h"

namespace velto::usb {
namespace {

namespace fs = std::filesystem;

// sysfs text attributes are a page at most; descriptors of a real configuration stay far below
// the 64 KiB wTotalLength ceiling times the handful of configurations a device may have.
constexpr std::size_t kMaxAttributeSize = 1 << 20;

constexpr std::size_t kDeviceDescriptorLength = 18;
constexpr std::uint8_t kConfigurationType = 0x02;
constexpr std::uint8_t kVideoClass = 0x0e;
constexpr std::uint8_t kVideoControlSubclass = 0x01;
constexpr std::uint8_t kVideoStreamingSubclass = 0x02;

// Reads a whole file; errno's status on failure. `report` logs a failing call: for files whose
// absence is news, not for optional attributes a device may simply lack.
Status readFile(SystemCalls& calls, const std::string& path, std::vector<std::uint8_t>& out, bool report) {
  out.clear();
  auto failed = [&](const char* call, int err) {
    if (report) log::systemCallFailed(log::Layer::usb, call, path, err);
    return fromErrno(err);
  };
  const int fd = calls.open(path, O_RDONLY);
  if (fd < 0) return failed("open", errno);
  std::uint8_t chunk[4096];
  for (;;) {
    const ssize_t n = calls.read(fd, chunk, sizeof chunk);
    if (n < 0) {
      const int err = errno;
      calls.close(fd);
      return failed("read", err);
    }
    if (n == 0) break;
    out.insert(out.end(), chunk, chunk + n);
    if (out.size() > kMaxAttributeSize) {
      calls.close(fd);
      if (report) log::warning(log::Layer::usb, path + ": larger than any descriptor set, not read");
      return status::ioError;
    }
  }
  calls.close(fd);
  return status::success;
}

template <typename T>
std::optional<T> parseNumber(std::string_view text, int base) {
  T value{};
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
  return value;
}

template <typename T>
std::optional<T> numberAttribute(const std::string& dir, std::string_view name, int base) {
  auto text = readAttribute(dir, name);
  return text ? parseNumber<T>(*text, base) : std::nullopt;
}

std::uint16_t readLittle16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// Finds the first VideoControl and the first VideoStreaming interface among the interface
// directories of `device` that belong to its active configuration ("<name>:<configuration>.<interface>").
void findVideoControl(SysfsDevice& device) {
  std::optional<unsigned> streaming;
  const std::string prefix = device.name + ":" + std::to_string(device.configurationValue) + ".";
  std::error_code ec;
  fs::directory_iterator it(device.path, ec);
  if (ec) return;
  for (const fs::directory_entry& entry : it) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix)) continue;
    const std::string dir = entry.path().string();
    const auto cls = numberAttribute<unsigned>(dir, "bInterfaceClass", 16);
    const auto sub = numberAttribute<unsigned>(dir, "bInterfaceSubClass", 16);
    const auto number = numberAttribute<unsigned>(dir, "bInterfaceNumber", 16);
    if (cls == kVideoClass && sub == kVideoStreamingSubclass && number && (!streaming || *number < *streaming)) {
      streaming = number;
      device.videoStreamingPath = dir;
    }
    if (cls != kVideoClass || sub != kVideoControlSubclass || !number || *number > 255) continue;
    if (device.videoControlInterface && *device.videoControlInterface <= static_cast<int>(*number)) {
      continue;
    }
    device.videoControlInterface = static_cast<int>(*number);
    device.videoControlPath = dir;
    device.videoControlDriver.reset();
    fs::path driver = fs::read_symlink(entry.path() / "driver", ec);
    if (!ec && !driver.filename().empty()) device.videoControlDriver = driver.filename().string();
  }
}

}  // namespace

std::optional<std::uint32_t> locationFromPortChain(unsigned busnum, std::string_view portChain) {
  std::uint32_t location = std::min(busnum, 255u) << 24;
  int shift = 20;
  while (!portChain.empty()) {
    const std::size_t dot = portChain.find('.');
    const auto port = parseNumber<unsigned>(portChain.substr(0, dot), 10);
    if (!port) return std::nullopt;
    if (shift >= 0) location |= std::min(*port, 15u) << shift;
    shift -= 4;
    if (dot == std::string_view::npos) break;
    portChain.remove_prefix(dot + 1);
    if (portChain.empty()) return std::nullopt;  // a trailing dot
  }
  return location;
}

std::uint64_t registryIDFor(unsigned busnum, unsigned devnum) {
  return static_cast<std::uint64_t>(busnum) << 32 | devnum;
}

Status configurationFromSysfs(std::span<const std::uint8_t> blob, int configurationValue,
                              std::vector<std::uint8_t>& out) {
  if (blob.size() < kDeviceDescriptorLength || blob[0] != kDeviceDescriptorLength || blob[1] != 0x01) {
    return status::ioError;
  }
  std::optional<std::span<const std::uint8_t>> first, wanted;
  std::size_t at = kDeviceDescriptorLength;
  while (at + 9 <= blob.size()) {
    const std::uint16_t total = readLittle16(blob, at + 2);
    if (blob[at] < 9 || blob[at + 1] != kConfigurationType || total < 9 || at + total > blob.size()) {
      break;
    }
    auto config = blob.subspan(at, total);
    if (!first) first = config;
    if (config[5] == configurationValue && !wanted) wanted = config;
    at += total;
  }
  const auto chosen = wanted ? wanted : first;
  if (!chosen) return status::ioError;
  out.assign(chosen->begin(), chosen->end());
  return status::success;
}

std::optional<std::string> readAttribute(const std::string& dir, std::string_view name) {
  std::vector<std::uint8_t> bytes;
  if (readFile(SystemCalls::real(), dir + "/" + std::string(name), bytes, false) != status::success) {
    return std::nullopt;
  }
  std::string text(bytes.begin(), bytes.end());
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0')) {
    text.pop_back();
  }
  return text;
}

Status readBinaryAttribute(const std::string& dir, std::string_view name, std::vector<std::uint8_t>& out,
                           SystemCalls& calls) {
  return readFile(calls, dir + "/" + std::string(name), out, true);
}

std::optional<SysfsDevice> readSysfsDevice(const std::string& path) {
  SysfsDevice d;
  d.path = path;
  d.name = fs::path(path).filename().string();
  // Interfaces ("1-2:1.0") live beside devices in bus/usb/devices.
  if (d.name.empty() || d.name.find(':') != std::string::npos) return std::nullopt;

  const auto busnum = numberAttribute<unsigned>(path, "busnum", 10);
  const auto devnum = numberAttribute<unsigned>(path, "devnum", 10);
  const auto vendor = numberAttribute<std::uint16_t>(path, "idVendor", 16);
  const auto product = numberAttribute<std::uint16_t>(path, "idProduct", 16);
  const auto devpath = readAttribute(path, "devpath");
  if (!busnum || !devnum || !vendor || !product || !devpath) return std::nullopt;
  const auto location = locationFromPortChain(*busnum, *devpath);
  if (!location) return std::nullopt;

  d.busnum = *busnum;
  d.devnum = *devnum;
  d.vendorID = *vendor;
  d.productID = *product;
  d.locationID = *location;
  d.registryID = registryIDFor(*busnum, *devnum);
  d.productName = readAttribute(path, "product");
  if (d.productName && d.productName->empty()) d.productName.reset();
  // Empty while the device is unconfigured: it then has no interfaces to look at.
  d.configurationValue = numberAttribute<int>(path, "bConfigurationValue", 10).value_or(0);
  if (d.configurationValue > 0) findVideoControl(d);
  return d;
}

std::string usbfsNodePath(unsigned busnum, unsigned devnum) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", busnum % 1000, devnum % 1000);
  return node;
}

}  // namespace velto::usb
