// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The payload rules of the V4L2 mapping: how values sit in the bytes the camera would send.
#include <gtest/gtest.h>

#include <linux/videodev2.h>
#include <set>

#include "platform/usb/v4l2_controls.h"

namespace velto::usb {
namespace {

TEST(V4l2Mappings, OneRowPerSelectorAndNoControlTwice) {
  std::set<std::pair<VcUnit, std::uint8_t>> selectors;
  std::set<std::uint32_t> ids;
  for (const V4l2Mapping& m : v4l2Mappings()) {
    EXPECT_TRUE(selectors.insert({m.unit, m.selector}).second) << int(m.selector);
    EXPECT_TRUE(ids.insert(m.id).second) << m.id;
    if (m.secondID != 0) {
      EXPECT_TRUE(ids.insert(m.secondID).second);
    }
  }
  EXPECT_EQ(ids.size(), 18u);  // every camera-terminal and processing-unit control
  EXPECT_EQ(findV4l2Mapping(VcUnit::processingUnit, 0x02)->id, static_cast<std::uint32_t>(V4L2_CID_BRIGHTNESS));
  EXPECT_EQ(findV4l2Mapping(VcUnit::cameraTerminal, 0x02)->id, static_cast<std::uint32_t>(V4L2_CID_EXPOSURE_AUTO));
  EXPECT_EQ(findV4l2Mapping(VcUnit::cameraTerminal, 0x03), nullptr);
}

TEST(V4l2Mappings, ExposureMenuAndModeBitsMapBothWays) {
  const std::pair<int, std::uint8_t> pairs[] = {{0, 2}, {1, 1}, {2, 4}, {3, 8}};
  for (auto [index, mode] : pairs) {
    EXPECT_EQ(exposureModeFromMenu(index), mode);
    EXPECT_EQ(exposureMenuFromMode(mode), index);
  }
  EXPECT_FALSE(exposureModeFromMenu(4));
  EXPECT_FALSE(exposureModeFromMenu(-1));
  EXPECT_FALSE(exposureMenuFromMode(0));
  EXPECT_FALSE(exposureMenuFromMode(3));  // two modes at once
  EXPECT_FALSE(exposureMenuFromMode(16));

  const V4l2Mapping& ae = *findV4l2Mapping(VcUnit::cameraTerminal, 0x02);
  std::uint8_t byte[1] = {0};
  ASSERT_TRUE(payloadFromValues(ae, {2, 0}, byte));
  EXPECT_EQ(byte[0], 4);
  EXPECT_FALSE(payloadFromValues(ae, {7, 0}, byte));
  const std::uint8_t aperture[1] = {8};
  EXPECT_EQ(valuesFromPayload(ae, aperture)->first, 3);
  const std::uint8_t both[1] = {3};
  EXPECT_FALSE(valuesFromPayload(ae, both));
}

TEST(V4l2Mappings, SignedAndUnsignedTwoByteValues) {
  const V4l2Mapping& brightness = *findV4l2Mapping(VcUnit::processingUnit, 0x02);
  const V4l2Mapping& contrast = *findV4l2Mapping(VcUnit::processingUnit, 0x03);
  std::uint8_t bytes[2] = {};
  ASSERT_TRUE(payloadFromValues(brightness, {-64, 0}, bytes));
  EXPECT_EQ(bytes[0], 0xC0);
  EXPECT_EQ(bytes[1], 0xFF);
  EXPECT_EQ(valuesFromPayload(brightness, bytes)->first, -64);
  EXPECT_EQ(valuesFromPayload(contrast, bytes)->first, 0xFFC0);
  // A payload of the wrong length is never read or written.
  std::uint8_t four[4] = {};
  EXPECT_FALSE(valuesFromPayload(brightness, four));
  EXPECT_FALSE(payloadFromValues(brightness, {1, 0}, four));
}

TEST(V4l2Mappings, PanAndTiltShareEightBytes) {
  const V4l2Mapping& panTilt = *findV4l2Mapping(VcUnit::cameraTerminal, 0x0D);
  EXPECT_EQ(panTilt.id, static_cast<std::uint32_t>(V4L2_CID_PAN_ABSOLUTE));
  EXPECT_EQ(panTilt.secondID, static_cast<std::uint32_t>(V4L2_CID_TILT_ABSOLUTE));
  std::uint8_t bytes[8] = {};
  ASSERT_TRUE(payloadFromValues(panTilt, {3600, -3600}, bytes));
  const std::uint8_t expected[8] = {0x10, 0x0E, 0x00, 0x00, 0xF0, 0xF1, 0xFF, 0xFF};
  EXPECT_TRUE(std::equal(bytes, bytes + 8, expected));
  auto values = valuesFromPayload(panTilt, expected);
  ASSERT_TRUE(values);
  EXPECT_EQ(values->first, 3600);
  EXPECT_EQ(values->second, -3600);
}

}  // namespace
}  // namespace velto::usb
