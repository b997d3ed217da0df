// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The V4L2 device list against a fake sysfs tree and a fake kernel: which node of each USB camera
// is listed, and the identity the preview looks cameras up by.
#include "platform/video/v4l2_devices.h"

#include <gtest/gtest.h>
#include <filesystem>

#include "fake_video_nodes.h"
#include "platform_linux/sysfs_tree.h"

namespace velto::video {
namespace {

namespace fs = std::filesystem;

// A video node under an interface, linked from class/video4linux as the kernel does.
void addNode(testing::SysfsTree& tree, const std::string& interface, const std::string& name, int index) {
  tree.addVideoNode(interface, name);
  testing::SysfsTree::write(interface + "/video4linux/" + name, "index", std::to_string(index) + "\n");
  fs::create_directories(tree.root() + "/class/video4linux");
  fs::create_directory_symlink(fs::canonical(interface + "/video4linux/" + name),
                               tree.root() + "/class/video4linux/" + name);
}

TEST(V4l2Devices, FirstCaptureNodeOfEachUsbCameraByCapsOrElseByIndex) {
  testing::SysfsTree tree;
  testing::FakeVideoNodes kernel;
  const std::string dev = "/fake/dev";

  // A C200 whose lower-numbered node only carries metadata: the capture node is the second.
  testing::SysfsTree::Device c200;
  c200.product = "Anker PowerConf C200";
  const std::string c200Dir = tree.addDevice(c200);
  const std::string c200Control = tree.addInterface(c200Dir, 1, 0, 0x0e, 0x01, "uvcvideo");
  addNode(tree, c200Control, "video4", 1);
  addNode(tree, c200Control, "video5", 0);
  kernel.caps[dev + "/video4"] = V4L2_CAP_META_CAPTURE;
  kernel.caps[dev + "/video5"] = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;

  // A camera on bus 3 behind a hub whose nodes refuse to open: sysfs index 0 names the capture node.
  testing::SysfsTree::Device other;
  other.name = "3-1.4";
  other.busnum = 3;
  other.devnum = 7;
  other.vendorID = 0x046d;
  other.productID = 0x085e;
  other.product = "HD Pro Webcam C920";
  const std::string otherDir = tree.addDevice(other);
  const std::string otherControl = tree.addInterface(otherDir, 1, 0, 0x0e, 0x01, "uvcvideo");
  addNode(tree, otherControl, "video0", 1);
  addNode(tree, otherControl, "video1", 0);
  kernel.refuse[dev + "/video0"] = EACCES;
  kernel.refuse[dev + "/video1"] = EACCES;

  // A node of no USB device (a virtual driver) is not a camera of ours.
  fs::create_directories(tree.root() + "/devices/platform/vivid.0/video4linux/video9");
  fs::create_directory_symlink(tree.root() + "/devices/platform/vivid.0/video4linux/video9",
                               tree.root() + "/class/video4linux/video9");
  kernel.caps[dev + "/video9"] = V4L2_CAP_VIDEO_CAPTURE;

  std::vector<CaptureDevice> devices;
  for (ListedDevice& listed : listV4l2Devices(tree.root(), dev, kernel)) devices.push_back(listed.device);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].path, dev + "/video1");
  EXPECT_EQ(devices[0].uniqueID, "0x3140000046d085e");
  EXPECT_EQ(devices[0].modelID, "HD Pro Webcam C920 VendorID_1133 ProductID_2142");
  EXPECT_EQ(devices[1].kind, CaptureDevice::Kind::v4l2);
  EXPECT_EQ(devices[1].path, dev + "/video5");
  EXPECT_EQ(devices[1].uniqueID, "0x1200000291a3369");
  EXPECT_EQ(devices[1].modelID, "Anker PowerConf C200 VendorID_10522 ProductID_13161");
  EXPECT_EQ(devices[1].locationID, 0x01200000u);
  EXPECT_EQ(kernel.openNow(), 0u) << "every node opened for the look is closed again";

  // Half gone: the USB device's attributes vanish while its node is still linked.
  fs::remove(c200Dir + "/idVendor");
  const std::vector<ListedDevice> after = listV4l2Devices(tree.root(), dev, kernel);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].device.path, dev + "/video1");
}

}  // namespace
}  // namespace velto::video
