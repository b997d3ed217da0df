// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cuvc/cuvc.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <new>
#include <vector>

#include "cuvc/descriptor_walk.h"
#include "platform/usb/carrier.h"
#include "platform/usb/service.h"

namespace usb = velto::usb;

struct cuvc_handle {
  std::unique_ptr<usb::Carrier> carrier;  // owned; destroying it releases the device
  std::uint8_t interfaceNumber = 0;       // low byte of every request's wIndex
};

namespace {

constexpr std::uint8_t kClassInterfaceIn = 0xA1;
constexpr std::uint8_t kClassInterfaceOut = 0x21;

// Builds the setup packet for one class request to a VideoControl unit and hands it to the
// carrier. The status comes back unchanged.
cuvc_status request(cuvc_handle* handle, std::uint8_t requestType, std::uint8_t code,
                    std::uint8_t unit, std::uint8_t selector, void* data, std::uint16_t length,
                    std::uint16_t* transferred) {
  if (handle == nullptr || handle->carrier == nullptr || (data == nullptr && length != 0)) {
    return usb::status::badArgument;
  }
  usb::DeviceRequest req;
  req.bmRequestType = requestType;
  req.bRequest = code;
  req.wValue = static_cast<std::uint16_t>(selector << 8);
  req.wIndex = static_cast<std::uint16_t>((unit << 8) | handle->interfaceNumber);
  req.wLength = length;
  req.pData = data;
  req.wLenDone = 0;
  req.noDataTimeout = CUVC_NO_DATA_TIMEOUT_MS;
  req.completionTimeout = CUVC_COMPLETION_TIMEOUT_MS;
  const cuvc_status status = handle->carrier->deviceRequest(req);
  if (transferred != nullptr) *transferred = static_cast<std::uint16_t>(req.wLenDone);
  return status;
}

}  // namespace

extern "C" {

cuvc_handle* cuvc_open(const cuvc_service* service, cuvc_info* info) { return cuvc_open_ex(service, info, nullptr); }

cuvc_handle* cuvc_open_ex(const cuvc_service* service, cuvc_info* info, cuvc_open_failure* failure) {
  auto fail = [failure](cuvc_status status, const std::string& path = {}) -> cuvc_handle* {
    if (failure != nullptr) {
      failure->status = status;
      const std::size_t n = std::min(path.size(), sizeof failure->path - 1);
      std::memcpy(failure->path, path.data(), n);
      failure->path[n] = '\0';
    }
    return nullptr;
  };
  if (failure != nullptr) *failure = cuvc_open_failure{};
  if (info == nullptr) return fail(usb::status::badArgument);
  *info = cuvc_info{};
  if (service == nullptr || !service->connect) return fail(usb::status::badArgument);

  usb::Connection connection = service->connect();
  if (connection.carrier == nullptr) {
    return fail(connection.status != usb::status::success ? connection.status : usb::status::noDevice, connection.path);
  }
  std::unique_ptr<usb::Carrier> carrier = std::move(connection.carrier);

  std::vector<std::uint8_t> config;
  if (const cuvc_status read = carrier->configurationDescriptor(config); read != usb::status::success) return fail(read);
  if (!velto::cuvc::walkDescriptors(config, *info)) return fail(usb::status::unsupported);

  info->vendorID = carrier->vendorID();
  info->productID = carrier->productID();
  info->locationID = carrier->locationID();

  auto* handle = new (std::nothrow) cuvc_handle;
  if (handle == nullptr) return fail(usb::status::noMemory);
  handle->carrier = std::move(carrier);
  handle->interfaceNumber = info->interfaceNumber;
  return handle;
}

void cuvc_close(cuvc_handle* handle) { delete handle; }

cuvc_status cuvc_get(cuvc_handle* handle, uint8_t code, uint8_t unit, uint8_t selector, void* data,
                     uint16_t length, uint16_t* transferred) {
  return request(handle, kClassInterfaceIn, code, unit, selector, data, length, transferred);
}

cuvc_status cuvc_set(cuvc_handle* handle, uint8_t unit, uint8_t selector, const void* data,
                     uint16_t length) {
  // The carrier only reads an OUT request's data.
  return request(handle, kClassInterfaceOut, CUVC_SET_CUR, unit, selector, const_cast<void*>(data),
                 length, nullptr);
}

cuvc_status cuvc_reenumerate(cuvc_handle* handle) {
  if (handle == nullptr || handle->carrier == nullptr) return usb::status::badArgument;
  const cuvc_status opened = handle->carrier->open();
  if (opened != usb::status::success) return opened;
  const cuvc_status status = handle->carrier->reenumerate();
  handle->carrier->close();
  return status;
}

int cuvc_notice_source(cuvc_handle* handle, int* priority) {
  if (priority != nullptr) *priority = 0;
  if (handle == nullptr || handle->carrier == nullptr) return -1;
  const usb::NoticeSource source = handle->carrier->noticeSource();
  if (priority != nullptr && source.fd >= 0) *priority = source.priority ? 1 : 0;
  return source.fd;
}

int cuvc_take_notices(cuvc_handle* handle, cuvc_notice* out, size_t capacity) {
  if (handle == nullptr || handle->carrier == nullptr) return -1;
  const usb::Notices notices = handle->carrier->takeNotices();
  const std::size_t n = out == nullptr ? 0 : std::min(capacity, notices.changed.size());
  for (std::size_t i = 0; i < n; ++i) out[i] = cuvc_notice{notices.changed[i].unit, notices.changed[i].selector};
  return notices.ended ? -1 : static_cast<int>(n);
}

int cuvc_notice_coverage(cuvc_handle* handle, cuvc_notice* out, size_t capacity) {
  if (handle == nullptr || handle->carrier == nullptr) return 0;
  const usb::NoticeSource source = handle->carrier->noticeSource();
  if (source.fd < 0) return 0;
  if (source.coversAll) return -1;
  const std::size_t n = out == nullptr ? 0 : std::min(capacity, source.covers.size());
  for (std::size_t i = 0; i < n; ++i) out[i] = cuvc_notice{source.covers[i].unit, source.covers[i].selector};
  return static_cast<int>(source.covers.size());
}

int cuvc_stream_signs(cuvc_handle* handle, char* node, char* alternate_setting, size_t capacity) {
  if (node == nullptr || alternate_setting == nullptr || capacity == 0) return -1;
  node[0] = alternate_setting[0] = '\0';
  if (handle == nullptr || handle->carrier == nullptr) return -1;
  const usb::StreamSigns signs = handle->carrier->streamSigns();
  if (signs.empty() || signs.node.size() >= capacity || signs.alternateSetting.size() >= capacity) return -1;
  std::memcpy(node, signs.node.c_str(), signs.node.size() + 1);
  std::memcpy(alternate_setting, signs.alternateSetting.c_str(), signs.alternateSetting.size() + 1);
  return 0;
}

}  // extern "C"
