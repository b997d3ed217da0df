// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/v4l2_devices.h"

#include <fcntl.h>
#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>

#include "platform/usb/sysfs_device.h"
#include "support/log.h"

namespace velto::video {
namespace {

namespace fs = std::filesystem;

struct Node {
  int number = 0;
  std::string name;      // "video0"
  std::string classDir;  // <sysfs>/class/video4linux/video0
};

std::optional<int> nodeNumber(const std::string& name) {
  if (!name.starts_with("video")) return std::nullopt;
  int number = 0;
  const char* first = name.data() + 5;
  const char* last = name.data() + name.size();
  auto [ptr, err] = std::from_chars(first, last, number);
  if (err != std::errc{} || ptr != last || first == last) return std::nullopt;
  return number;
}

// What the node says of itself: capture or not; none when it cannot be asked.
std::optional<bool> queryCapture(const std::string& path, usb::SystemCalls& calls) {
  std::uint32_t caps = 0;
  if (probeVideoNode(path, calls, &caps) != 0) return std::nullopt;
  return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

}  // namespace

int videoNodeOpenFlags() { return O_RDWR | O_NONBLOCK | O_CLOEXEC; }

int probeVideoNode(const std::string& path, usb::SystemCalls& calls, std::uint32_t* deviceCaps) {
  // A call that fails without an errno still failed.
  auto failed = [&](const char* call) {
    const int err = errno != 0 ? errno : EIO;
    log::systemCallFailed(log::Layer::capture, call, path, err);
    return err;
  };
  errno = 0;
  const int fd = calls.open(path, videoNodeOpenFlags());
  if (fd < 0) return failed("open");
  v4l2_capability cap{};
  int err = 0;
  if (calls.ioctl(fd, VIDIOC_QUERYCAP, &cap) != 0) {
    err = failed("VIDIOC_QUERYCAP");
  } else if (deviceCaps != nullptr) {
    *deviceCaps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) != 0 ? cap.device_caps : cap.capabilities;
  }
  calls.close(fd);
  return err;
}

std::vector<ListedDevice> listV4l2Devices(const std::string& sysfsRoot, const std::string& devRoot,
                                           usb::SystemCalls& calls) {
  // The USB device directory of each node: class/video4linux/videoN links to
  // <device>/<interface>/video4linux/videoN.
  std::map<std::string, std::vector<Node>> byDevice;
  std::error_code ec;
  fs::directory_iterator it(sysfsRoot + "/class/video4linux", ec);
  if (ec) return {};
  for (const fs::directory_entry& entry : it) {
    Node node;
    node.name = entry.path().filename().string();
    const auto number = nodeNumber(node.name);
    if (!number) continue;
    node.number = *number;
    node.classDir = entry.path().string();
    const fs::path real = fs::canonical(entry.path(), ec);
    if (ec) continue;
    const fs::path interface = real.parent_path().parent_path();
    if (interface.filename().string().find(':') == std::string::npos) continue;  // not a USB interface
    byDevice[interface.parent_path().string()].push_back(std::move(node));
  }

  std::vector<std::pair<int, ListedDevice>> found;
  for (auto& [devicePath, nodes] : byDevice) {
    const auto usbDevice = usb::readSysfsDevice(devicePath);
    if (!usbDevice) continue;
    std::sort(nodes.begin(), nodes.end(), [](const Node& a, const Node& b) { return a.number < b.number; });
    const Node* chosen = nullptr;
    for (const Node& node : nodes) {
      const auto capture = queryCapture(devRoot + "/" + node.name, calls);
      const bool pick = capture ? *capture : usb::readAttribute(node.classDir, "index") == "0";
      if (pick) {
        chosen = &node;
        break;
      }
    }
    if (chosen == nullptr) continue;
    CaptureDevice device;
    device.kind = CaptureDevice::Kind::v4l2;
    device.name = usbDevice->productName.value_or(usb::readAttribute(chosen->classDir, "name").value_or(""));
    device.path = devRoot + "/" + chosen->name;
    device.locationID = usbDevice->locationID;
    device.vendorID = usbDevice->vendorID;
    device.productID = usbDevice->productID;
    device.serial = usb::readAttribute(devicePath, "serial").value_or("");
    device.uniqueID = makeUniqueID(device.locationID, device.vendorID, device.productID);
    device.modelID = makeModelID(device.name, device.vendorID, device.productID);
    found.emplace_back(chosen->number, ListedDevice{std::move(device), usbDevice->registryID});
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<ListedDevice> devices;
  for (auto& [number, device] : found) devices.push_back(std::move(device));
  return devices;
}

}  // namespace velto::video
