// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/sysfs_registry.h"

#include <algorithm>
#include <filesystem>

#include "platform/usb/libusb_carrier.h"
#include "platform/usb/v4l2_carrier.h"

namespace velto::usb {

SysfsRegistry::SysfsRegistry(std::string sysfsRoot, SystemCalls& calls)
    : root_(std::move(sysfsRoot)), calls_(&calls) {}

std::vector<SysfsDevice> SysfsRegistry::devices() const {
  std::vector<SysfsDevice> found;
  std::error_code ec;
  std::filesystem::directory_iterator it(root_ + "/bus/usb/devices", ec);
  if (ec) return found;
  for (const std::filesystem::directory_entry& entry : it) {
    auto device = readSysfsDevice(entry.path().string());
    if (device && device->videoControlInterface) found.push_back(std::move(*device));
  }
  std::sort(found.begin(), found.end(), [](const SysfsDevice& a, const SysfsDevice& b) {
    return a.registryID < b.registryID;
  });
  return found;
}

CarrierKind SysfsRegistry::carrierFor(const SysfsDevice& device) {
  // A bound driver (uvcvideo, or anything else) makes usbfs refuse interface requests, so only
  // the driver can serve them.
  return device.videoControlDriver ? CarrierKind::v4l2 : CarrierKind::libusb;
}

std::vector<Service> SysfsRegistry::services() const {
  std::vector<Service> list;
  for (const SysfsDevice& device : devices()) {
    Service s;
    s.registryID = device.registryID;
    s.vendorID = device.vendorID;
    s.productID = device.productID;
    s.locationID = device.locationID;
    s.productName = device.productName;
    s.carrier = carrierFor(device);
    s.path = device.path;
    if (s.carrier == CarrierKind::v4l2) {
      SystemCalls* calls = calls_;
      s.connect = [device, calls] { return V4l2Carrier::create(device, *calls); };
    } else {
      LibusbCarrier::Identity id{device.busnum, device.devnum, device.vendorID, device.productID,
                                 device.locationID, device.videoControlInterface.value_or(0)};
      s.connect = [id] { return LibusbCarrier::create(id); };
    }
    list.push_back(std::move(s));
  }
  return list;
}

}  // namespace velto::usb
