// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The libusb carrier with real libusb against umockdev's usbfs emulation, the simulated C200
// answering every URB: listing, descriptor findings, round trips, a stall, a time-out, a reset,
// a usbfs node that refuses the user.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "cuvc/cuvc.h"
#include "platform/usb/libusb_carrier.h"
#include "platform/usb/registry.h"
#include "umockdev_bench.h"
#include "uvc_requests.h"

namespace velto::testing {
namespace {

namespace status = usb::status;

class LibusbUmockdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(UmockdevBench::preloaded());
    UmockdevBench::Plug plug;
    plug.uvcvideo = false;
    bench.plug(plug);
  }

  usb::Service service() {
    auto services = usb::listServices(kEmulatedSystem);
    EXPECT_EQ(services.size(), 1u);
    return services.empty() ? usb::Service{} : services.front();
  }

  std::unique_ptr<usb::Carrier> connect() {
    usb::Service s = service();
    return s.connect ? std::move(s.connect().carrier) : nullptr;
  }

  UmockdevBench bench;
};

TEST_F(LibusbUmockdevTest, ListsACameraWithoutDriverForLibusb) {
  usb::Service s = service();
  EXPECT_EQ(s.carrier, usb::CarrierKind::libusb);
  EXPECT_EQ(s.vendorID, 0x291a);
  EXPECT_EQ(s.productID, 0x3369);
  EXPECT_EQ(s.productName, "Anker PowerConf C200");
  EXPECT_EQ(s.locationID, 0x01200000u);
  EXPECT_EQ(s.registryID, 0x100000004u);
}

TEST_F(LibusbUmockdevTest, DescriptorFindingsComeFromGetDescriptor) {
  usb::Service s = service();
  cuvc_info info;
  cuvc_handle* handle = cuvc_open(&s, &info);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(info.vendorID, 0x291a);
  EXPECT_EQ(info.productID, 0x3369);
  EXPECT_EQ(info.locationID, 0x01200000u);
  EXPECT_EQ(info.interfaceNumber, 0);
  EXPECT_EQ(info.cameraTerminalID, 1);
  EXPECT_EQ(info.processingUnitID, 2);
  EXPECT_EQ(info.extensionUnitID, 6);
  EXPECT_EQ(std::memcmp(info.extensionGUID, sim::kAnkerExtensionGUID, 16), 0);
  EXPECT_NE(info.cameraControls & (1u << 11), 0u) << "pan/tilt advertised";
  EXPECT_NE(info.processingControls & 1u, 0u) << "brightness advertised";
  cuvc_close(handle);
}

TEST_F(LibusbUmockdevTest, GetAndSetRoundTrip) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  EXPECT_EQ(set(*carrier, 2, 0x02, {0xEC, 0xFF}), status::success);  // brightness -20
  EXPECT_EQ(bench.withCamera([](sim::SimCamera& c) { return c.value(ControlID::brightness); }), -20);
  Answer cur = get(*carrier, kGetCur, 2, 0x02, 2);
  ASSERT_EQ(cur.status, status::success);
  EXPECT_EQ(cur.data, (std::vector<std::uint8_t>{0xEC, 0xFF}));
  Answer min = get(*carrier, kGetMin, 2, 0x02, 2);
  EXPECT_EQ(min.data, (std::vector<std::uint8_t>{0xC0, 0xFF}));

  Answer vendor = get(*carrier, kGetCur, 6, 0x10, 60);
  ASSERT_EQ(vendor.status, status::success);
  ASSERT_EQ(vendor.data.size(), 60u);
  vendor.data[5] = 0;  // pickup: whole room
  EXPECT_EQ(set(*carrier, 6, 0x10, vendor.data), status::success);
  EXPECT_EQ(bench.withCamera([](sim::SimCamera& c) { return c.value(ControlID::micPickup); }), 0);
}

TEST_F(LibusbUmockdevTest, RefusedRequestsStall) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  EXPECT_EQ(set(*carrier, 2, 0x02, {0xE8, 0x03}), status::pipeStalled);  // brightness 1000
  EXPECT_EQ(get(*carrier, kGetMin, 1, 0x02, 1).status, status::pipeStalled);  // AE mode
  EXPECT_EQ(get(*carrier, kGetCur, 6, 0x10, 2).status, status::pipeStalled);  // short vendor read
  // The stalls leave the pipe usable.
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::success);
}

TEST_F(LibusbUmockdevTest, ASilentCameraTimesOutAndTheNextRequestWorks) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  bench.withCamera([](sim::SimCamera& c) { c.setHung(true); });
  std::vector<std::uint8_t> buffer(2);
  usb::DeviceRequest r = classRequest(kGetCur, 2, 0x02, 2);
  r.pData = buffer.data();
  // A short bound keeps the test quick; the time-out itself is libusb's, not ours.
  r.completionTimeout = 50;
  EXPECT_EQ(carrier->deviceRequest(r), status::timeout);
  EXPECT_EQ(r.wLenDone, 0u);
  bench.withCamera([](sim::SimCamera& c) { c.setHung(false); });
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::success);
}

TEST_F(LibusbUmockdevTest, ResetIsAUsbfsResetWhileOpen) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  EXPECT_EQ(carrier->reenumerate(), status::badArgument) << "needs open() first";
  EXPECT_EQ(bench.resets(), 0);
  usb::Service s = service();
  cuvc_info info;
  cuvc_handle* handle = cuvc_open(&s, &info);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(cuvc_reenumerate(handle), status::success);
  EXPECT_EQ(bench.resets(), 1);
  cuvc_close(handle);
}

TEST_F(LibusbUmockdevTest, UnpluggedCameraAnswersNoDevice) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  bench.unplug();
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::noDevice);
  EXPECT_TRUE(usb::listServices(kEmulatedSystem).empty());
  usb::Connection gone = usb::LibusbCarrier::create({1, 4, 0x291a, 0x3369, 0x01200000, 0});
  EXPECT_EQ(gone.carrier, nullptr);
  EXPECT_EQ(gone.status, status::noDevice);
}

TEST(LibusbTimeout, ZeroIsTheNormalBoundNeverForever) {
  // libusb waits without limit for 0; a request that names no bound gets the whole exchange's.
  usb::DeviceRequest r;
  EXPECT_EQ(usb::transferTimeout(r), 1000u);
  r.noDataTimeout = 500;
  EXPECT_EQ(usb::transferTimeout(r), 1000u);
  r.completionTimeout = 50;
  EXPECT_EQ(usb::transferTimeout(r), 50u);
}

// Takes this thread's power to ignore file permissions (root's CAP_DAC_OVERRIDE and
// CAP_DAC_READ_SEARCH) for its lifetime, so that a file's mode refuses root as it would refuse a
// user. Capabilities belong to a thread, and the raw capset changes only the calling one.
class FilePermissionsApply {
 public:
  FilePermissionsApply() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (::syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    active_ = ::syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~FilePermissionsApply() {
    if (active_) ::syscall(SYS_capset, &header_, saved_);
  }
  bool active() const { return active_; }

 private:
  __user_cap_header_struct header_{};
  __user_cap_data_struct saved_[2]{};
  bool active_ = false;
};

TEST_F(LibusbUmockdevTest, ARefusedUsbfsNodeSaysWhyAndWhich) {
  namespace fs = std::filesystem;
  const fs::path node = fs::path(bench.sysDir()).parent_path() / "dev/bus/usb/001/004";
  const fs::perms before = fs::status(node).permissions();
  fs::permissions(node, fs::perms::none);
  usb::Connection c;
  {
    FilePermissionsApply asAUser;
    ASSERT_TRUE(asAUser.active());
    c = usb::LibusbCarrier::create({1, 4, 0x291a, 0x3369, 0x01200000, 0});
  }
  fs::permissions(node, before);
  EXPECT_EQ(c.carrier, nullptr);
  EXPECT_EQ(c.status, status::notPrivileged);
  EXPECT_EQ(c.path, "/dev/bus/usb/001/004");
}

}  // namespace
}  // namespace velto::testing
