// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Location and registry IDs, picking the configuration out of sysfs descriptors, and reading
// devices and listing cameras from a sysfs tree, including what sysfs looks like when a device is
// half gone or its files are malformed.
#include <gtest/gtest.h>

#include "platform/usb/registry.h"
#include "platform/usb/sysfs_device.h"
#include "platform/usb/sysfs_registry.h"
#include "sim/descriptors.h"
#include "sim/profile.h"
#include "sysfs_tree.h"

namespace velto::usb {
namespace {

using testing::SysfsTree;

TEST(LocationID, BusInTopByteAndOneNibblePerPort) {
  EXPECT_EQ(locationFromPortChain(1, "2.3"), 0x01230000u);
  EXPECT_EQ(locationFromPortChain(3, "1"), 0x03100000u);
  EXPECT_EQ(locationFromPortChain(2, "4.1.2.3.4.1"), 0x02412341u);
  // Root hubs have the port chain "0".
  EXPECT_EQ(locationFromPortChain(1, "0"), 0x01000000u);
}

TEST(LocationID, SaturatesPortsBusAndDropsTiersPastTheSixth) {
  EXPECT_EQ(locationFromPortChain(1, "16.2"), 0x01F20000u);
  EXPECT_EQ(locationFromPortChain(1, "1.2.3.4.5.6.7"), 0x01123456u);
  EXPECT_EQ(locationFromPortChain(300, "1"), 0xFF100000u);
}

TEST(LocationID, RejectsChainsThatAreNotDecimalPorts) {
  EXPECT_FALSE(locationFromPortChain(1, "2.x"));
  EXPECT_FALSE(locationFromPortChain(1, "2..3"));
  EXPECT_FALSE(locationFromPortChain(1, "2."));
  EXPECT_FALSE(locationFromPortChain(1, "-2"));
}

TEST(RegistryID, BusAboveDeviceNumber) {
  EXPECT_EQ(registryIDFor(1, 4), 0x100000004u);
  EXPECT_NE(registryIDFor(1, 4), registryIDFor(1, 5));
  EXPECT_NE(registryIDFor(2, 4), registryIDFor(1, 4));
}

std::vector<std::uint8_t> deviceDescriptor() { return sim::buildDeviceDescriptor(0x291a, 0x3369); }

// A minimal configuration: header only, with bConfigurationValue `value` and `extra` bytes.
std::vector<std::uint8_t> configuration(std::uint8_t value, std::uint8_t extra) {
  std::vector<std::uint8_t> c{9, 2, static_cast<std::uint8_t>(9 + extra), 0, 0, value, 0, 0x80, 50};
  for (std::uint8_t i = 0; i < extra; ++i) c.push_back(i);
  return c;
}

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(SysfsDescriptors, PicksTheActiveConfigurationAmongSeveral) {
  const auto first = configuration(1, 3), second = configuration(2, 5);
  std::vector<std::uint8_t> out;
  ASSERT_EQ(configurationFromSysfs(concat({deviceDescriptor(), first, second}), 2, out), status::success);
  EXPECT_EQ(out, second);
  // Older kernels list only the active configuration, whatever its value.
  ASSERT_EQ(configurationFromSysfs(concat({deviceDescriptor(), first}), 2, out), status::success);
  EXPECT_EQ(out, first);
}

TEST(SysfsDescriptors, ShortOrGarbageFilesAreAnError) {
  std::vector<std::uint8_t> out;
  const auto device = deviceDescriptor();
  EXPECT_EQ(configurationFromSysfs({}, 1, out), status::ioError);
  EXPECT_EQ(configurationFromSysfs(std::vector<std::uint8_t>(device.begin(), device.begin() + 10), 1, out),
            status::ioError);
  EXPECT_EQ(configurationFromSysfs(device, 1, out), status::ioError);  // no configuration at all
  auto truncated = concat({device, configuration(1, 20)});
  truncated.resize(truncated.size() - 1);  // wTotalLength runs past the end
  EXPECT_EQ(configurationFromSysfs(truncated, 1, out), status::ioError);
  std::vector<std::uint8_t> garbage(64, 0xAB);
  EXPECT_EQ(configurationFromSysfs(garbage, 1, out), status::ioError);
}

class SysfsTreeTest : public ::testing::Test {
 protected:
  SysfsTree tree;

  SysfsTree::Device c200() {
    SysfsTree::Device d;
    d.product = "Anker PowerConf C200";
    d.descriptors = concat({deviceDescriptor(), sim::c200Profile().configuration});
    return d;
  }
};

TEST_F(SysfsTreeTest, ReadsIdentityNameLocationAndTheVideoControlInterface) {
  SysfsTree::Device d = c200();
  d.name = "1-2.3";
  const std::string dir = tree.addDevice(d);
  tree.addInterface(dir, 1, 1, 0x0e, 0x02);  // VideoStreaming
  tree.addInterface(dir, 1, 0, 0x0e, 0x01, "uvcvideo");
  tree.addInterface(dir, 1, 2, 0x01, 0x01, "snd-usb-audio");

  auto device = readSysfsDevice(dir);
  ASSERT_TRUE(device);
  EXPECT_EQ(device->vendorID, 0x291a);
  EXPECT_EQ(device->productID, 0x3369);
  EXPECT_EQ(device->productName, "Anker PowerConf C200");
  EXPECT_EQ(device->locationID, 0x01230000u);
  EXPECT_EQ(device->registryID, registryIDFor(1, 4));
  EXPECT_EQ(device->videoControlInterface, 0);
  EXPECT_EQ(device->videoControlDriver, "uvcvideo");
  EXPECT_EQ(SysfsRegistry::carrierFor(*device), CarrierKind::v4l2);
}

TEST_F(SysfsTreeTest, ProductNameIsAbsentWithoutTheAttribute) {
  SysfsTree::Device d = c200();
  d.product.reset();
  const std::string dir = tree.addDevice(d);
  tree.addInterface(dir, 1, 0, 0x0e, 0x01);
  auto device = readSysfsDevice(dir);
  ASSERT_TRUE(device);
  EXPECT_FALSE(device->productName);
  EXPECT_FALSE(device->videoControlDriver);
  EXPECT_EQ(SysfsRegistry::carrierFor(*device), CarrierKind::libusb);
}

TEST_F(SysfsTreeTest, OnlyInterfacesOfTheActiveConfigurationCount) {
  SysfsTree::Device d = c200();
  d.configurationValue = 2;
  const std::string dir = tree.addDevice(d);
  tree.addInterface(dir, 1, 0, 0x0e, 0x01, "uvcvideo");  // a stale directory of configuration 1
  EXPECT_FALSE(readSysfsDevice(dir)->videoControlInterface);
  d.name = "1-3";
  d.configurationValue = 0;  // unconfigured: an empty bConfigurationValue
  const std::string unconfigured = tree.addDevice(d);
  tree.addInterface(unconfigured, 1, 0, 0x0e, 0x01);
  auto device = readSysfsDevice(unconfigured);
  ASSERT_TRUE(device);
  EXPECT_FALSE(device->videoControlInterface);
}

TEST_F(SysfsTreeTest, MalformedOrMissingAttributesLeaveTheDeviceOut) {
  const std::string dir = tree.addDevice(c200());
  tree.addInterface(dir, 1, 0, 0x0e, 0x01);
  SysfsTree::write(dir, "idVendor", "zz91\n");
  EXPECT_FALSE(readSysfsDevice(dir));
  SysfsTree::write(dir, "idVendor", "291a\n");
  SysfsTree::write(dir, "busnum", "");
  EXPECT_FALSE(readSysfsDevice(dir));
  SysfsTree::write(dir, "busnum", "1\n");
  std::filesystem::remove(dir + "/devpath");
  EXPECT_FALSE(readSysfsDevice(dir));
  EXPECT_FALSE(readSysfsDevice(tree.root() + "/bus/usb/devices/9-9"));  // vanished
  EXPECT_FALSE(readSysfsDevice(dir + "/1-2:1.0"));                     // an interface
}

TEST_F(SysfsTreeTest, RegistryListsCamerasOnlyAndChoosesTheirCarrier) {
  SysfsTree::Device bound = c200();
  bound.name = "1-2";
  bound.devnum = 7;
  const std::string a = tree.addDevice(bound);
  tree.addInterface(a, 1, 0, 0x0e, 0x01, "uvcvideo");

  SysfsTree::Device free = c200();
  free.name = "1-1";
  free.devnum = 9;
  free.vendorID = 0x0c45;
  free.product.reset();
  const std::string b = tree.addDevice(free);
  tree.addInterface(b, 1, 0, 0x0e, 0x01);

  SysfsTree::Device keyboard = c200();
  keyboard.name = "1-4";
  keyboard.devnum = 2;
  const std::string k = tree.addDevice(keyboard);
  tree.addInterface(k, 1, 0, 0x03, 0x01, "usbhid");

  SysfsTree::Device broken = c200();
  broken.name = "1-5";
  broken.devnum = 3;
  const std::string x = tree.addDevice(broken);
  tree.addInterface(x, 1, 0, 0x0e, 0x01);
  SysfsTree::write(x, "devnum", "three\n");

  auto services = SysfsRegistry(tree.root()).services();
  ASSERT_EQ(services.size(), 2u);
  EXPECT_EQ(services[0].registryID, registryIDFor(1, 7));
  EXPECT_EQ(services[0].carrier, CarrierKind::v4l2);
  EXPECT_EQ(services[0].productName, "Anker PowerConf C200");
  EXPECT_EQ(services[0].locationID, 0x01200000u);
  EXPECT_EQ(services[1].registryID, registryIDFor(1, 9));
  EXPECT_EQ(services[1].carrier, CarrierKind::libusb);
  EXPECT_EQ(services[1].vendorID, 0x0c45);
  EXPECT_FALSE(services[1].productName);
  EXPECT_TRUE(services[0].connect && services[1].connect);

  EXPECT_TRUE(SysfsRegistry(tree.root() + "/nowhere").services().empty());

  // The combined listing includes them only when given a sysfs root.
  EXPECT_EQ(listServices(RegistryOptions{"", tree.root()}).size(), 2u);
  EXPECT_TRUE(listServices(RegistryOptions{"", ""}).empty());
  EXPECT_EQ(defaultRegistryOptions().sysfsRoot, "/sys");
}

}  // namespace
}  // namespace velto::usb
