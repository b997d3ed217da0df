// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A carrier whose device is a script: tests say what the descriptor is and how each request is
// answered, and read back every request that reached the "wire".
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb/carrier.h"
#include "platform/usb/service.h"

namespace velto::testing {

struct SentRequest {
  usb::DeviceRequest setup;          // pData is not kept
  std::vector<std::uint8_t> outData; // what an OUT request carried
};

struct Answer {
  usb::Status status = usb::status::success;
  std::vector<std::uint8_t> data;  // IN data; may be shorter than wLength
};

// State shared between a test and the carrier it handed out, which cuvc owns and destroys.
struct ScriptedDevice {
  std::vector<std::uint8_t> descriptor;
  usb::Status descriptorStatus = usb::status::success;
  std::uint16_t vendorID = 0x291A;
  std::uint16_t productID = 0x3369;
  std::uint32_t locationID = 0x01120000;
  usb::Status openStatus = usb::status::success;
  usb::Status reenumerateStatus = usb::status::success;
  std::function<Answer(const SentRequest&)> answer = [](const SentRequest&) { return Answer{}; };

  std::vector<SentRequest> requests;
  std::vector<std::string> calls;  // "open", "reenumerate", "close", "destroy"
};

class ScriptedCarrier final : public usb::Carrier {
 public:
  explicit ScriptedCarrier(std::shared_ptr<ScriptedDevice> device) : device_(std::move(device)) {}
  ~ScriptedCarrier() override { device_->calls.push_back("destroy"); }

  usb::Status configurationDescriptor(std::vector<std::uint8_t>& out) override {
    if (device_->descriptorStatus == usb::status::success) out = device_->descriptor;
    return device_->descriptorStatus;
  }
  std::uint16_t vendorID() const override { return device_->vendorID; }
  std::uint16_t productID() const override { return device_->productID; }
  std::uint32_t locationID() const override { return device_->locationID; }

  usb::Status deviceRequest(usb::DeviceRequest& request) override {
    SentRequest sent{request, {}};
    sent.setup.pData = nullptr;
    const auto* bytes = static_cast<const std::uint8_t*>(request.pData);
    if (!request.isDeviceToHost() && bytes != nullptr) {
      sent.outData.assign(bytes, bytes + request.wLength);
    }
    device_->requests.push_back(sent);
    Answer answer = device_->answer(sent);
    if (request.isDeviceToHost() && answer.status == usb::status::success) {
      const std::size_t n = std::min<std::size_t>(answer.data.size(), request.wLength);
      if (n > 0) std::memcpy(request.pData, answer.data.data(), n);
      request.wLenDone = static_cast<std::uint32_t>(n);
    } else if (answer.status == usb::status::success) {
      request.wLenDone = request.wLength;
    }
    return answer.status;
  }

  usb::Status open() override {
    device_->calls.push_back("open");
    return device_->openStatus;
  }
  usb::Status reenumerate() override {
    device_->calls.push_back("reenumerate");
    return device_->reenumerateStatus;
  }
  void close() override { device_->calls.push_back("close"); }

 private:
  std::shared_ptr<ScriptedDevice> device_;
};

// A registry entry whose carrier is a ScriptedCarrier over `device`.
inline usb::Service scriptedService(const std::shared_ptr<ScriptedDevice>& device) {
  usb::Service service;
  service.registryID = 42;
  service.vendorID = device->vendorID;
  service.productID = device->productID;
  service.locationID = device->locationID;
  service.connect = [device] { return usb::Connection(std::make_unique<ScriptedCarrier>(device)); };
  return service;
}

}  // namespace velto::testing
