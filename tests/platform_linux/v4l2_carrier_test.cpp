// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The v4l2 carrier against a fake uvcvideo behind the system-call seam, with the simulated C200
// behind the fake driver: every catalogue control through cuvc, and the ways a node, a driver or
// a descriptor file can let the carrier down, and what a refused node tells the user.
#include <gtest/gtest.h>

#include <QString>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "cuvc/cuvc.h"
#include "fake_kernel.h"
#include "platform/usb/sysfs_registry.h"
#include "platform/usb/v4l2_carrier.h"
#include "sim/descriptors.h"
#include "sim/profile.h"
#include "sysfs_tree.h"
#include "uvc_requests.h"

namespace velto::testing {
namespace {

using usb::Status;
namespace status = usb::status;

class V4l2CarrierTest : public ::testing::Test {
 protected:
  explicit V4l2CarrierTest(sim::Profile profile = sim::c200Profile())
      : camera(std::move(profile), [this] { return now; }), capture(camera), metadata(camera) {
    metadata.setMetadataNode(true);
    SysfsTree::Device d;
    d.vendorID = camera.profile().vendorID;
    d.productID = camera.profile().productID;
    d.product = camera.profile().productName;
    d.descriptors = sim::buildDeviceDescriptor(d.vendorID, d.productID);
    d.descriptors.insert(d.descriptors.end(), camera.profile().configuration.begin(),
                         camera.profile().configuration.end());
    device = tree.addDevice(d);
    vc = tree.addInterface(device, 1, 0, 0x0e, 0x01, "uvcvideo");
    tree.addInterface(device, 1, 1, 0x0e, 0x02, "uvcvideo");
    tree.addVideoNode(vc, "video0");
    tree.addVideoNode(vc, "video1");
    kernel.nodes["/dev/video0"].driver = &capture;
    kernel.nodes["/dev/video1"].driver = &metadata;
    kernel.nodes["/dev/bus/usb/001/004"];
  }

  usb::SysfsDevice sysfsDevice() { return *usb::readSysfsDevice(device); }

  usb::Connection connection() { return usb::V4l2Carrier::create(sysfsDevice(), kernel); }

  std::unique_ptr<usb::V4l2Carrier> connect() {
    usb::Connection c = connection();
    EXPECT_EQ(c.status, status::success) << c.path;
    return std::unique_ptr<usb::V4l2Carrier>(dynamic_cast<usb::V4l2Carrier*>(c.carrier.release()));
  }

  usb::Service service() {
    auto services = usb::SysfsRegistry(tree.root(), kernel).services();
    EXPECT_EQ(services.size(), 1u);
    return services.empty() ? usb::Service{} : services.front();
  }

  std::int64_t now = 0;
  sim::SimCamera camera;
  FakeUvcDriver capture;
  FakeUvcDriver metadata;
  FakeKernel kernel;
  SysfsTree tree;
  std::string device, vc;
};

std::vector<std::uint8_t> payloadOf(ControlID id, std::int64_t value, std::vector<std::uint8_t> base = {}) {
  base.resize(static_cast<std::size_t>(spec(id).length), 0);
  spec(id).encode(value, base);
  return base;
}

TEST_F(V4l2CarrierTest, EveryTranslatedControlReadsItsRangeAndValueLikeTheCamera) {
  usb::Service s = service();
  ASSERT_EQ(s.carrier, usb::CarrierKind::v4l2);
  cuvc_info info;
  cuvc_handle* handle = cuvc_open(&s, &info);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(info.cameraTerminalID, 1);
  EXPECT_EQ(info.processingUnitID, 2);
  EXPECT_EQ(info.extensionUnitID, 6);

  int checked = 0;
  for (ControlID id : allControls()) {
    const ControlSpec& s = spec(id);
    const sim::Field* field = camera.profile().field(id);
    // The camera's own controls only: the driver has no V4L2 control for one the camera lacks.
    if (s.unit == UnitKind::ankerExtension || field == nullptr) continue;
    const std::uint8_t unit = s.unit == UnitKind::cameraTerminal ? info.cameraTerminalID : info.processingUnitID;
    const auto length = static_cast<std::uint16_t>(s.length);
    auto read = [&](std::uint8_t code, std::int64_t& value) {
      std::vector<std::uint8_t> buffer(length, 0xEE);
      std::uint16_t done = 0;
      const Status st = cuvc_get(handle, static_cast<std::uint8_t>(code), unit, s.selector, buffer.data(),
                                 length, &done);
      if (st == status::success) {
        EXPECT_EQ(done, length) << rawValue(id);
      }
      value = s.decode(buffer);
      return st;
    };
    std::int64_t v = 0;
    if (id == ControlID::autoExposure) {
      EXPECT_EQ(read(CUVC_GET_MIN, v), status::pipeStalled);
      EXPECT_EQ(read(CUVC_GET_MAX, v), status::pipeStalled);
      ASSERT_EQ(read(CUVC_GET_RES, v), status::success);
      EXPECT_EQ(v, 0x0B) << "manual, auto and aperture priority";
    } else {
      ASSERT_EQ(read(CUVC_GET_MIN, v), status::success) << rawValue(id);
      EXPECT_EQ(v, field->range.min) << rawValue(id);
      ASSERT_EQ(read(CUVC_GET_MAX, v), status::success) << rawValue(id);
      EXPECT_EQ(v, field->range.max) << rawValue(id);
      ASSERT_EQ(read(CUVC_GET_RES, v), status::success) << rawValue(id);
      EXPECT_EQ(v, field->range.step) << rawValue(id);
    }
    ASSERT_EQ(read(CUVC_GET_DEF, v), status::success) << rawValue(id);
    EXPECT_EQ(v, field->range.defaultValue) << rawValue(id);
    ASSERT_EQ(read(CUVC_GET_CUR, v), status::success) << rawValue(id);
    EXPECT_EQ(v, camera.value(id)) << rawValue(id);
    ++checked;
  }
  EXPECT_GE(checked, 16) << "the C200's standard controls";
  cuvc_close(handle);
}

TEST_F(V4l2CarrierTest, EveryTranslatedControlWritesWhatTheCameraStores) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  // Auto modes off first, so that the manual controls they govern accept writes; exposure is
  // switched through aperture priority so that the manual mode written below is a change.
  ASSERT_EQ(set(*carrier, 1, 0x02, {8}), status::success);
  EXPECT_EQ(camera.value(ControlID::autoExposure), 8);
  ASSERT_EQ(set(*carrier, 1, 0x08, {0}), status::success);
  ASSERT_EQ(set(*carrier, 2, 0x0B, {0}), status::success);
  for (ControlID id : allControls()) {
    const ControlSpec& s = spec(id);
    const sim::Field* field = camera.profile().field(id);
    if (s.unit == UnitKind::ankerExtension || id == ControlID::tilt || field == nullptr) continue;
    // A value away from the default and, for signed controls, below zero where the range allows.
    std::int64_t wanted = field->allowed.empty() ? field->range.max - field->range.step : field->allowed.back();
    if (s.isSigned && field->range.min < 0) wanted = field->range.min + field->range.step;
    if (id == ControlID::autoExposure) wanted = 1;
    std::vector<std::uint8_t> payload = payloadOf(id, wanted);
    if (id == ControlID::pan) spec(ControlID::tilt).encode(-7200, payload);
    const std::uint8_t unit = s.unit == UnitKind::cameraTerminal ? 1 : 2;
    ASSERT_EQ(set(*carrier, unit, s.selector, payload), status::success) << rawValue(id);
    EXPECT_EQ(camera.value(id), wanted) << rawValue(id);
    Answer back = get(*carrier, kGetCur, unit, s.selector, static_cast<std::uint16_t>(s.length));
    ASSERT_EQ(back.status, status::success) << rawValue(id);
    EXPECT_EQ(back.data, payload) << rawValue(id);
  }
  EXPECT_EQ(camera.value(ControlID::tilt), -7200);
}

TEST_F(V4l2CarrierTest, RequestsTheDriverCannotExpressAreUnsupported) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  EXPECT_EQ(get(*carrier, kGetLen, 2, 0x02, 2).status, status::unsupported);
  EXPECT_EQ(get(*carrier, kGetInfo, 2, 0x02, 1).status, status::unsupported);
  EXPECT_EQ(get(*carrier, kGetCur, 9, 0x02, 2).status, status::unsupported);   // no such unit
  EXPECT_EQ(get(*carrier, kGetCur, 1, 0x03, 1).status, status::unsupported);   // AE priority
  EXPECT_EQ(get(*carrier, kGetCur, 6, 0x05, 60).status, status::unsupported);  // unknown vendor selector

  std::vector<std::uint8_t> buffer(18);
  usb::DeviceRequest standard = classRequest(kGetCur, 0, 0, 18);
  standard.bmRequestType = 0x80;
  standard.bRequest = 0x06;
  standard.wValue = 0x0100;
  standard.pData = buffer.data();
  EXPECT_EQ(carrier->deviceRequest(standard), status::unsupported);
  usb::DeviceRequest otherInterface = classRequest(kGetCur, 2, 0x02, 2, 1);
  otherInterface.pData = buffer.data();
  EXPECT_EQ(carrier->deviceRequest(otherInterface), status::unsupported);
  // The camera answers only with the control's own length.
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 4).status, status::pipeStalled);
  // A mode byte that is not one mode cannot be put to the driver.
  EXPECT_EQ(set(*carrier, 1, 0x02, {3}), status::badArgument);
  EXPECT_EQ(camera.value(ControlID::autoExposure), 2);
}

TEST_F(V4l2CarrierTest, SkipsTheMetadataNode) {
  kernel.nodes["/dev/video0"].driver = &metadata;
  kernel.nodes["/dev/video1"].driver = &capture;
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  EXPECT_EQ(carrier->nodePath(), "/dev/video1");
  carrier.reset();
  EXPECT_EQ(kernel.openDescriptors(), 0u);
}

TEST_F(V4l2CarrierTest, ARefusedNodeSaysWhyAndWhich) {
  auto& video0 = kernel.nodes["/dev/video0"];
  video0.openErrno = EACCES;
  usb::Connection c = connection();
  EXPECT_EQ(c.carrier, nullptr);
  EXPECT_EQ(c.status, status::notPrivileged);
  EXPECT_EQ(c.path, "/dev/video0");
  video0.openErrno = EBUSY;
  c = connection();
  EXPECT_EQ(c.status, status::exclusiveAccess);
  EXPECT_EQ(c.path, "/dev/video0");
  EXPECT_EQ(kernel.openDescriptors(), 0u) << "the metadata node opened on the way is closed again";

  // No node at all: the driver is not bound; nothing refused.
  tree.removeVideoNode(vc, "video0");
  tree.removeVideoNode(vc, "video1");
  c = connection();
  EXPECT_EQ(c.status, status::noDevice);
  EXPECT_EQ(c.path, "");
}

// Every Qt message of the test's lifetime.
class LogCapture {
 public:
  struct Entry {
    QtMsgType type;
    std::string category, text;
  };
  LogCapture() {
    entries().clear();
    previous_ = qInstallMessageHandler(&LogCapture::handle);
  }
  ~LogCapture() { qInstallMessageHandler(previous_); }
  static std::vector<Entry>& entries() {
    static std::vector<Entry> all;
    return all;
  }

 private:
  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    entries().push_back({type, context.category != nullptr ? context.category : "", text.toStdString()});
  }
  QtMessageHandler previous_;
};

TEST_F(V4l2CarrierTest, ARefusedOpenReachesCuvcsCallerAndIsLoggedOnce) {
  // Another failure of the same open first, so that the refusal below is news to the log whatever
  // ran before in this process.
  kernel.nodes["/dev/video0"].openErrno = EIO;
  connection();
  kernel.nodes["/dev/video0"].openErrno = EACCES;
  usb::Service s = service();
  cuvc_info info;
  cuvc_open_failure failure;
  std::vector<LogCapture::Entry> warnings;
  {
    LogCapture log;
    // Through the registry's connect and cuvc: the reason arrives, and neither says it again.
    EXPECT_EQ(cuvc_open_ex(&s, &info, &failure), nullptr);
    for (const LogCapture::Entry& e : LogCapture::entries()) {
      if (e.type != QtDebugMsg && e.type != QtInfoMsg) warnings.push_back(e);
    }
  }
  EXPECT_EQ(failure.status, status::notPrivileged);
  EXPECT_STREQ(failure.path, "/dev/video0");
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0].type, QtWarningMsg);
  EXPECT_EQ(warnings[0].category, "velto.usb");
  EXPECT_NE(warnings[0].text.find("open(/dev/video0)"), std::string::npos) << warnings[0].text;
  EXPECT_NE(warnings[0].text.find("errno 13"), std::string::npos) << warnings[0].text;
}

TEST_F(V4l2CarrierTest, OpeningReadsTheDescriptorsOnce) {
  usb::Service s = service();
  cuvc_info info;
  cuvc_handle* handle = cuvc_open(&s, &info);
  ASSERT_NE(handle, nullptr);
  int reads = 0;
  for (const auto& [path, opens] : kernel.fileOpens) {
    if (path.ends_with("/descriptors")) reads += opens;
  }
  EXPECT_EQ(reads, 1);
  EXPECT_EQ(info.processingUnitID, 2);
  cuvc_close(handle);
}

TEST_F(V4l2CarrierTest, BrokenDescriptorFilesFailCleanly) {
  SysfsTree::writeBytes(device, "descriptors", std::vector<std::uint8_t>(7, 0x12));
  usb::Connection c = connection();
  EXPECT_EQ(c.carrier, nullptr);
  EXPECT_EQ(c.status, status::ioError);
  EXPECT_EQ(c.path, device + "/descriptors");

  SysfsTree::writeBytes(device, "descriptors", sim::buildDeviceDescriptor(1, 2));
  EXPECT_EQ(connection().status, status::ioError);

  // The device left between listing and opening.
  std::filesystem::remove(device + "/descriptors");
  c = connection();
  EXPECT_EQ(c.status, status::noDevice);
  EXPECT_EQ(c.path, device + "/descriptors");
  EXPECT_EQ(kernel.openDescriptors(), 0u);
}

TEST_F(V4l2CarrierTest, AVanishedNodeIsFoundAgainUnderItsNewNumber) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  // The driver was rebound: video0 answers ENODEV and is gone from sysfs, video2 replaced it.
  kernel.nodes["/dev/video0"].gone = true;
  tree.removeVideoNode(vc, "video0");
  tree.addVideoNode(vc, "video2");
  kernel.nodes["/dev/video2"].driver = &capture;
  Answer a = get(*carrier, kGetCur, 2, 0x02, 2);
  EXPECT_EQ(a.status, status::success);
  EXPECT_EQ(carrier->nodePath(), "/dev/video2");

  // Unbound for good: no device, and no descriptor left open.
  kernel.nodes["/dev/video2"].gone = true;
  tree.removeVideoNode(vc, "video2");
  tree.removeVideoNode(vc, "video1");
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::noDevice);
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::noDevice);
  EXPECT_EQ(kernel.openDescriptors(), 0u);

  // Bound again later: the next request finds it.
  tree.addVideoNode(vc, "video3");
  kernel.nodes["/dev/video3"].driver = &capture;
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::success);
}

TEST_F(V4l2CarrierTest, ResetGoesThroughTheUsbfsNode) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  auto& usbfs = kernel.nodes["/dev/bus/usb/001/004"];
  EXPECT_EQ(carrier->reenumerate(), status::badArgument) << "needs open() first";

  usbfs.openErrno = EBUSY;
  EXPECT_EQ(carrier->open(), status::exclusiveAccess);
  usbfs.openErrno = EACCES;
  EXPECT_EQ(carrier->open(), status::notPrivileged) << "no udev rule for this user";
  usbfs.openErrno = 0;

  ASSERT_EQ(carrier->open(), status::success);
  usbfs.resetErrno = ENODEV;
  EXPECT_EQ(carrier->reenumerate(), status::noDevice);
  usbfs.resetErrno = 0;
  const int opensBefore = kernel.openCount;
  EXPECT_EQ(carrier->reenumerate(), status::success);
  carrier->close();
  EXPECT_EQ(usbfs.resets, 1);
  // The driver lets go of its node in a reset; the next request opens it afresh.
  EXPECT_EQ(get(*carrier, kGetCur, 2, 0x02, 2).status, status::success);
  EXPECT_GT(kernel.openCount, opensBefore);
  carrier.reset();
  EXPECT_EQ(kernel.openDescriptors(), 0u);
}

class GenericCameraTest : public V4l2CarrierTest {
 protected:
  GenericCameraTest() : V4l2CarrierTest(sim::genericProfile()) {}
};

TEST_F(GenericCameraTest, ControlsTheDriverLacksAreUnsupported) {
  auto carrier = connect();
  ASSERT_NE(carrier, nullptr);
  // No zoom, pan or tilt on this camera: the driver has no such V4L2 control.
  EXPECT_EQ(get(*carrier, kGetCur, 1, 0x0B, 2).status, status::unsupported);
  EXPECT_EQ(get(*carrier, kGetMin, 1, 0x0D, 8).status, status::unsupported);
  EXPECT_EQ(set(*carrier, 1, 0x0B, {100, 0}), status::unsupported);
  // Its exposure modes: manual and auto only.
  Answer modes = get(*carrier, kGetRes, 1, 0x02, 1);
  ASSERT_EQ(modes.status, status::success);
  EXPECT_EQ(modes.data, std::vector<std::uint8_t>{0x03});
  // Its processing unit has ID 3.
  EXPECT_EQ(get(*carrier, kGetCur, 3, 0x02, 2).status, status::success);
}

}  // namespace
}  // namespace velto::testing
