// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/libusb_carrier.h"

#include <libusb.h>

#include "platform/usb/sysfs_device.h"
#include "support/log.h"

namespace velto::usb {
namespace {

constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint16_t kConfigurationDescriptor = 0x0200;  // type 2, index 0
// The bound of a whole exchange, which cuvc gives every request; also where a request names none.
constexpr unsigned kNormalTimeoutMs = 1000;

// One failing libusb call: libusb's own error name says more than the errno it came from.
void logFailure(const char* call, const std::string& path, int error) {
  std::string message = call;
  if (!path.empty()) message += "(" + path + ")";
  log::warning(log::Layer::usb, message + ": " + libusb_error_name(error));
}

}  // namespace

unsigned transferTimeout(const DeviceRequest& request) {
  return request.completionTimeout != 0 ? request.completionTimeout : kNormalTimeoutMs;
}

Status fromLibusb(int error) {
  if (error >= 0) return status::success;
  switch (error) {
    case LIBUSB_ERROR_IO: return status::ioError;
    case LIBUSB_ERROR_INVALID_PARAM: return status::badArgument;
    case LIBUSB_ERROR_ACCESS: return status::notPrivileged;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return status::noDevice;
    case LIBUSB_ERROR_BUSY: return status::exclusiveAccess;
    case LIBUSB_ERROR_TIMEOUT: return status::timeout;
    case LIBUSB_ERROR_PIPE: return status::pipeStalled;
    case LIBUSB_ERROR_NO_MEM: return status::noMemory;
    case LIBUSB_ERROR_NOT_SUPPORTED: return status::unsupported;
    default: return status::error;  // overflow, interrupted, other
  }
}

Connection LibusbCarrier::create(const Identity& identity) {
  libusb_context* context = nullptr;
  if (int r = libusb_init(&context); r < 0) {
    logFailure("libusb_init", {}, r);
    return Connection::failed(fromLibusb(r));
  }
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  if (count < 0) logFailure("libusb_get_device_list", {}, static_cast<int>(count));
  // Not on the bus (any more): nothing refused us, so there is no path to name.
  Connection result = Connection::failed(count < 0 ? fromLibusb(static_cast<int>(count)) : status::noDevice);
  for (ssize_t i = 0; i < count; ++i) {
    if (libusb_get_bus_number(list[i]) != identity.busnum || libusb_get_device_address(list[i]) != identity.devnum) {
      continue;
    }
    libusb_device_handle* handle = nullptr;
    if (int r = libusb_open(list[i], &handle); r < 0) {
      // The usbfs node refused: its path tells the user which permissions to fix.
      const std::string node = usbfsNodePath(identity.busnum, identity.devnum);
      logFailure("libusb_open", node, r);
      result = Connection::failed(fromLibusb(r), node);
    } else {
      result = Connection(std::unique_ptr<Carrier>(new LibusbCarrier(identity, context, handle)));
    }
    break;
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  if (result.carrier == nullptr) libusb_exit(context);
  return result;
}

LibusbCarrier::LibusbCarrier(const Identity& identity, libusb_context* context,
                             libusb_device_handle* handle)
    : identity_(identity),
      context_(context),
      handle_(handle),
      node_(usbfsNodePath(identity.busnum, identity.devnum)) {}

LibusbCarrier::~LibusbCarrier() {
  close();
  libusb_close(handle_);
  libusb_exit(context_);
}

Status LibusbCarrier::configurationDescriptor(std::vector<std::uint8_t>& out) {
  // The 9-byte header says how long the whole configuration is; then ask for all of it.
  unsigned char header[9] = {};
  int r = libusb_control_transfer(handle_, LIBUSB_ENDPOINT_IN, kGetDescriptor, kConfigurationDescriptor,
                                  0, header, sizeof header, kNormalTimeoutMs);
  if (r < 0) {
    logFailure("libusb_control_transfer GET_DESCRIPTOR", node_, r);
    return fromLibusb(r);
  }
  if (r < 4 || header[1] != LIBUSB_DT_CONFIG) return status::ioError;
  const std::uint16_t total = static_cast<std::uint16_t>(header[2] | (header[3] << 8));
  if (total < sizeof header) return status::ioError;
  std::vector<std::uint8_t> whole(total);
  r = libusb_control_transfer(handle_, LIBUSB_ENDPOINT_IN, kGetDescriptor, kConfigurationDescriptor, 0,
                              whole.data(), total, kNormalTimeoutMs);
  if (r < 0) {
    logFailure("libusb_control_transfer GET_DESCRIPTOR", node_, r);
    return fromLibusb(r);
  }
  whole.resize(static_cast<std::size_t>(r));
  out = std::move(whole);
  return status::success;
}

Status LibusbCarrier::deviceRequest(DeviceRequest& request) {
  request.wLenDone = 0;
  if (request.wLength > 0 && request.pData == nullptr) return status::badArgument;
  // libusb has one time-out for the whole transfer; the completion bound is the one that holds.
  const int r = libusb_control_transfer(handle_, request.bmRequestType, request.bRequest, request.wValue,
                                        request.wIndex, static_cast<unsigned char*>(request.pData),
                                        request.wLength, transferTimeout(request));
  // A stall is the camera's answer to a request it refuses, not a failure of the call.
  if (r < 0 && r != LIBUSB_ERROR_PIPE && r != lastRequestError_) logFailure("libusb_control_transfer", node_, r);
  lastRequestError_ = r < 0 ? r : 0;
  if (r < 0) return fromLibusb(r);
  request.wLenDone = static_cast<std::uint32_t>(r);
  return status::success;
}

Status LibusbCarrier::open() {
  if (claimed_) return status::success;
  const int r = libusb_claim_interface(handle_, identity_.videoControlInterface);
  if (r < 0) {
    logFailure("libusb_claim_interface", node_, r);
    return fromLibusb(r);
  }
  claimed_ = true;
  return status::success;
}

Status LibusbCarrier::reenumerate() {
  if (!claimed_) return status::badArgument;
  // NOT_FOUND: the device came back as a different one, or left. Either way it left the bus,
  // which is what was asked; the registry sees what returns.
  const int r = libusb_reset_device(handle_);
  if (r == LIBUSB_ERROR_NOT_FOUND) return status::success;
  if (r < 0) logFailure("libusb_reset_device", node_, r);
  return fromLibusb(r);
}

void LibusbCarrier::close() {
  if (!claimed_) return;
  libusb_release_interface(handle_, identity_.videoControlInterface);
  claimed_ = false;
}

}  // namespace velto::usb
