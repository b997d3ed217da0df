#include "platform/usb/libusb_carrier.h"

#include <libusb.h>

namespace velto::usb {
namespace {

constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint16_t kConfigurationDescriptor = 0x0200;  // type 2, index 0
constexpr unsigned kDescriptorTimeoutMs = 1000;

}  // namespace

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

std::unique_ptr<LibusbCarrier> LibusbCarrier::create(const Identity& identity, Status* why) {
  Status ignored = status::success;
  Status& reason = why != nullptr ? *why : ignored;
  libusb_context* context = nullptr;
  if (int r = libusb_init(&context); r < 0) {
    reason = fromLibusb(r);
    return nullptr;
  }
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  libusb_device_handle* handle = nullptr;
  reason = count < 0 ? fromLibusb(static_cast<int>(count)) : status::noDevice;
  for (ssize_t i = 0; i < count; ++i) {
    if (libusb_get_bus_number(list[i]) == identity.busnum &&
        libusb_get_device_address(list[i]) == identity.devnum) {
      reason = fromLibusb(libusb_open(list[i], &handle));
      break;
    }
  }
  if (list != nullptr) libusb_free_device_list(list, 1);
  if (handle == nullptr) {
    libusb_exit(context);
    return nullptr;
  }
  return std::unique_ptr<LibusbCarrier>(new LibusbCarrier(identity, context, handle));
}

LibusbCarrier::LibusbCarrier(const Identity& identity, libusb_context* context,
                             libusb_device_handle* handle)
    : identity_(identity), context_(context), handle_(handle) {}

LibusbCarrier::~LibusbCarrier() {
  close();
  libusb_close(handle_);
  libusb_exit(context_);
}

Status LibusbCarrier::configurationDescriptor(std::vector<std::uint8_t>& out) {
  // The 9-byte header says how long the whole configuration is; then ask for all of it.
  unsigned char header[9] = {};
  int r = libusb_control_transfer(handle_, LIBUSB_ENDPOINT_IN, kGetDescriptor, kConfigurationDescriptor,
                                  0, header, sizeof header, kDescriptorTimeoutMs);
  if (r < 0) return fromLibusb(r);
  if (r < 4 || header[1] != LIBUSB_DT_CONFIG) return status::ioError;
  const std::uint16_t total = static_cast<std::uint16_t>(header[2] | (header[3] << 8));
  if (total < sizeof header) return status::ioError;
  std::vector<std::uint8_t> whole(total);
  r = libusb_control_transfer(handle_, LIBUSB_ENDPOINT_IN, kGetDescriptor, kConfigurationDescriptor, 0,
                              whole.data(), total, kDescriptorTimeoutMs);
  if (r < 0) return fromLibusb(r);
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
                                        request.wLength, request.completionTimeout);
  if (r < 0) return fromLibusb(r);
  request.wLenDone = static_cast<std::uint32_t>(r);
  return status::success;
}

Status LibusbCarrier::open() {
  if (claimed_) return status::success;
  const int r = libusb_claim_interface(handle_, identity_.videoControlInterface);
  if (r < 0) return fromLibusb(r);
  claimed_ = true;
  return status::success;
}

Status LibusbCarrier::reenumerate() {
  if (!claimed_) return status::badArgument;
  // NOT_FOUND: the device came back as a different one, or left. Either way it left the bus,
  // which is what was asked; the registry sees what returns.
  const int r = libusb_reset_device(handle_);
  if (r == LIBUSB_ERROR_NOT_FOUND) return status::success;
  return fromLibusb(r);
}

void LibusbCarrier::close() {
  if (!claimed_) return;
  libusb_release_interface(handle_, identity_.videoControlInterface);
  claimed_ = false;
}

}  // namespace velto::usb
