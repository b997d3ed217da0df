// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cuvc/cuvc.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fixtures/descriptors.h"
#include "platform/usb/service.h"
#include "scripted_carrier.h"

namespace velto {
namespace {

using testing::Answer;
using testing::ScriptedDevice;
using testing::SentRequest;

class CuvcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device->descriptor = fixtures::c200Configuration();
    device->descriptor[19] = 2;  // VideoControl interface number 2, to see it in wIndex
  }
  cuvc_handle* open() {
    service = testing::scriptedService(device);
    return cuvc_open(&service, &info);
  }

  std::shared_ptr<ScriptedDevice> device = std::make_shared<ScriptedDevice>();
  usb::Service service;
  cuvc_info info{};
};

TEST_F(CuvcTest, OpenFillsInfoFromDescriptorAndDevice) {
  cuvc_handle* handle = open();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(info.vendorID, 0x291A);
  EXPECT_EQ(info.productID, 0x3369);
  EXPECT_EQ(info.locationID, 0x01120000u);
  // Every finding of the descriptor walk, in its own field.
  EXPECT_EQ(info.interfaceNumber, 2);
  EXPECT_EQ(info.cameraTerminalID, 1);
  EXPECT_EQ(info.cameraControls, 0x00020A2Au);
  EXPECT_EQ(info.processingUnitID, 2);
  EXPECT_EQ(info.processingControls, 0x177Fu);
  EXPECT_EQ(info.extensionUnitID, 6);
  EXPECT_EQ(info.extensionControls, 0x078200u);
  EXPECT_EQ(info.extensionGUID[0], 0xA2);
  EXPECT_EQ(info.extensionGUID[15], 0x3B);
  EXPECT_TRUE(device->requests.empty()) << "opening sends no control request";
  cuvc_close(handle);
  EXPECT_EQ(device->calls, std::vector<std::string>{"destroy"});
}

TEST_F(CuvcTest, OpenFailsCleanly) {
  // No way to reach the device.
  service = testing::scriptedService(device);
  service.connect = [] { return usb::Connection{}; };
  std::memset(&info, 0xAB, sizeof info);
  EXPECT_EQ(cuvc_open(&service, &info), nullptr);
  EXPECT_EQ(info.vendorID, 0) << "info is cleared before anything else";

  // The descriptor cannot be read: the carrier is released.
  device->descriptorStatus = usb::status::noDevice;
  EXPECT_EQ(open(), nullptr);
  EXPECT_EQ(device->calls, std::vector<std::string>{"destroy"});

  // No VideoControl interface.
  device->calls.clear();
  device->descriptorStatus = usb::status::success;
  device->descriptor = fixtures::audioOnlyConfiguration();
  EXPECT_EQ(open(), nullptr);
  EXPECT_EQ(device->calls, std::vector<std::string>{"destroy"});

  EXPECT_EQ(cuvc_open(nullptr, &info), nullptr);
  EXPECT_EQ(cuvc_open(&service, nullptr), nullptr);
}

TEST_F(CuvcTest, GetBuildsTheClassReadRequest) {
  device->answer = [](const SentRequest&) { return Answer{0, {0x10, 0x0E, 0x00, 0x00}}; };
  cuvc_handle* handle = open();
  ASSERT_NE(handle, nullptr);
  std::uint8_t data[8];
  std::memset(data, 0xEE, sizeof data);
  std::uint16_t transferred = 99;
  EXPECT_EQ(cuvc_get(handle, CUVC_GET_MAX, 1, 0x0D, data, 8, &transferred), CUVC_SUCCESS);

  ASSERT_EQ(device->requests.size(), 1u);
  const usb::DeviceRequest& r = device->requests[0].setup;
  EXPECT_EQ(r.bmRequestType, 0xA1);
  EXPECT_EQ(r.bRequest, 0x83);
  EXPECT_EQ(r.wValue, 0x0D00);
  EXPECT_EQ(r.wIndex, 0x0102);  // unit 1, interface 2
  EXPECT_EQ(r.wLength, 8);
  EXPECT_EQ(r.noDataTimeout, 500u);
  EXPECT_EQ(r.completionTimeout, 1000u);

  // A short answer is not an error; the rest of the buffer keeps what it had.
  EXPECT_EQ(transferred, 4);
  const std::uint8_t expected[8] = {0x10, 0x0E, 0x00, 0x00, 0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(0, std::memcmp(data, expected, sizeof data));

  // Without a place for the count.
  EXPECT_EQ(cuvc_get(handle, CUVC_GET_CUR, 2, 0x02, data, 2, nullptr), CUVC_SUCCESS);
  EXPECT_EQ(device->requests[1].setup.wIndex, 0x0202);
  cuvc_close(handle);
}

TEST_F(CuvcTest, StatusesPassThroughUnchanged) {
  device->answer = [](const SentRequest& s) {
    return Answer{s.setup.bRequest == CUVC_GET_MIN ? usb::status::pipeStalled : usb::status::timeout, {}};
  };
  cuvc_handle* handle = open();
  ASSERT_NE(handle, nullptr);
  std::uint8_t byte = 0;
  std::uint16_t transferred = 7;
  EXPECT_EQ(cuvc_get(handle, CUVC_GET_MIN, 1, 0x02, &byte, 1, &transferred), usb::status::pipeStalled);
  EXPECT_EQ(transferred, 0) << "wLenDone starts at zero for every request";
  EXPECT_EQ(cuvc_set(handle, 1, 0x02, &byte, 1), usb::status::timeout);
  cuvc_close(handle);
}

TEST_F(CuvcTest, SetSendsTheWholePayloadAsSetCur) {
  cuvc_handle* handle = open();
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> payload(60, 0);
  payload[0] = 0x00;
  payload[1] = 0x01;
  payload[2] = 95;
  payload[5] = 90;
  EXPECT_EQ(cuvc_set(handle, 6, 0x10, payload.data(), 60), CUVC_SUCCESS);
  ASSERT_EQ(device->requests.size(), 1u);
  const SentRequest& sent = device->requests[0];
  EXPECT_EQ(sent.setup.bmRequestType, 0x21);
  EXPECT_EQ(sent.setup.bRequest, 0x01);
  EXPECT_EQ(sent.setup.wValue, 0x1000);
  EXPECT_EQ(sent.setup.wIndex, 0x0602);
  EXPECT_EQ(sent.setup.wLength, 60);
  EXPECT_EQ(sent.setup.noDataTimeout, 500u);
  EXPECT_EQ(sent.setup.completionTimeout, 1000u);
  EXPECT_EQ(sent.outData, payload);
  cuvc_close(handle);
}

TEST_F(CuvcTest, ReenumerateOpensReenumeratesAndCloses) {
  device->reenumerateStatus = usb::status::ioError;
  cuvc_handle* handle = open();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(cuvc_reenumerate(handle), usb::status::ioError);
  EXPECT_EQ(device->calls, (std::vector<std::string>{"open", "reenumerate", "close"}));

  // Another client holds the device: nothing else happens.
  device->calls.clear();
  device->openStatus = usb::status::exclusiveAccess;
  EXPECT_EQ(cuvc_reenumerate(handle), usb::status::exclusiveAccess);
  EXPECT_EQ(device->calls, std::vector<std::string>{"open"});
  cuvc_close(handle);
}

TEST(Cuvc, NullHandlesAreHarmless) {
  cuvc_close(nullptr);
  std::uint8_t byte = 0;
  EXPECT_NE(cuvc_get(nullptr, CUVC_GET_CUR, 1, 2, &byte, 1, nullptr), CUVC_SUCCESS);
  EXPECT_NE(cuvc_set(nullptr, 1, 2, &byte, 1), CUVC_SUCCESS);
  EXPECT_NE(cuvc_reenumerate(nullptr), CUVC_SUCCESS);
}

// cuvc.h is a C interface: this function lives in a C translation unit.
extern "C" int cuvc_c_client_compiles(void);
TEST(Cuvc, HeaderIsPlainC) { EXPECT_EQ(cuvc_c_client_compiles(), (int)sizeof(cuvc_info)); }

}  // namespace
}  // namespace velto
