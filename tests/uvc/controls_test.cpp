// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "uvc/controls.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace velto {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ControlCatalogue, DecodesVendorFieldsFromTheSharedPayload) {
  Bytes payload(60, 0);
  payload[0] = 0x00;
  payload[1] = 0x01;
  payload[2] = 0x4E;
  payload[3] = 0x00;
  payload[5] = 0x5A;
  EXPECT_EQ(spec(ControlID::fieldOfView).decode(payload), 78);
  EXPECT_EQ(spec(ControlID::micPickup).decode(payload), 90);
  payload[0] = 1;
  EXPECT_EQ(spec(ControlID::horizontalFlip).decode(payload), 1);
  EXPECT_EQ(spec(ControlID::hdr).decode(payload), 1);
}

TEST(ControlCatalogue, DecodesSignedAndUnsignedValues) {
  EXPECT_EQ(spec(ControlID::brightness).decode(Bytes{0xFF, 0xFF}), -1);
  EXPECT_EQ(spec(ControlID::hue).decode(Bytes{0x00, 0x80}), -32768);
  EXPECT_EQ(spec(ControlID::contrast).decode(Bytes{0xFF, 0xFF}), 65535);
  EXPECT_EQ(spec(ControlID::exposure).decode(Bytes{0xFF, 0xFF, 0xFF, 0xFF}), 4294967295);
  EXPECT_EQ(spec(ControlID::pan).decode(Bytes{0x10, 0x0E, 0x00, 0x00, 0, 0, 0, 0}), 3600);
  EXPECT_EQ(spec(ControlID::tilt).decode(Bytes{0, 0, 0, 0, 0xF0, 0xF1, 0xFF, 0xFF}), -3600);
  EXPECT_EQ(spec(ControlID::pan).decode(Bytes{0xF0, 0xF1, 0xFF, 0xFF, 0x10, 0x0E, 0, 0}), -3600);
}

TEST(ControlCatalogue, MissingPayloadBytesCountAsZero) {
  // Only the low byte arrived: the high byte is zero, so no sign extension either.
  EXPECT_EQ(spec(ControlID::brightness).decode(Bytes{0xFF}), 255);
  EXPECT_EQ(spec(ControlID::tilt).decode(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x10}), 0x10);
  EXPECT_EQ(spec(ControlID::fieldOfView).decode(Bytes{0x00, 0x01}), 0);
  EXPECT_EQ(spec(ControlID::exposure).decode(Bytes{}), 0);
}

TEST(ControlCatalogue, EncodingRoundTripsAndLeavesOtherBytesAlone) {
  for (ControlID id : allControls()) {
    const ControlSpec& s = spec(id);
    const int bits = 8 * s.valueSize();
    const std::int64_t low = s.isSigned ? -(std::int64_t{1} << (bits - 1)) : 0;
    const std::int64_t high = s.isSigned ? (std::int64_t{1} << (bits - 1)) - 1
                                         : static_cast<std::int64_t>((std::uint64_t{1} << bits) - 1);
    for (std::int64_t value : {low, high, std::int64_t{1}}) {
      Bytes payload(static_cast<std::size_t>(s.length), 0x5C);
      s.encode(value, payload);
      EXPECT_EQ(s.decode(payload), value) << rawValue(id) << " " << value;
      for (int i = 0; i < s.length; ++i) {
        if (i < s.offset || i >= s.offset + s.valueSize()) {
          EXPECT_EQ(payload[static_cast<std::size_t>(i)], 0x5C) << rawValue(id) << " byte " << i;
        }
      }
    }
  }
}

TEST(ControlCatalogue, EncodesLowOrderBytesOfNegativeValues) {
  Bytes payload(8, 0);
  spec(ControlID::tilt).encode(-3600, payload);
  EXPECT_EQ(payload, (Bytes{0, 0, 0, 0, 0xF0, 0xF1, 0xFF, 0xFF}));
  Bytes two(2, 0);
  spec(ControlID::brightness).encode(-70000, two);  // out of 16 bits: low bytes only
  EXPECT_EQ(two, (Bytes{0x90, 0xEE}));
  Bytes shortPayload(3, 0);  // a payload too short for the field takes what fits
  spec(ControlID::fieldOfView).encode(0x0155, shortPayload);
  EXPECT_EQ(shortPayload, (Bytes{0, 0, 0x55}));
}

TEST(ControlCatalogue, ClampsIntoRangeAndOntoTheStepGrid) {
  const ControlRange wide{0, 10000, 1, 0};
  EXPECT_EQ(wide.clamp(1234), 1234);
  EXPECT_EQ(wide.clamp(-5), 0);
  EXPECT_EQ(wide.clamp(10001), 10000);

  const ControlRange tens{0, 100, 10, 50};
  EXPECT_EQ(tens.clamp(14), 10);
  EXPECT_EQ(tens.clamp(15), 20);
  EXPECT_EQ(tens.clamp(-3), 0);

  const ControlRange offGrid{5, 100, 10, 5};
  EXPECT_EQ(offGrid.clamp(9), 5);
  EXPECT_EQ(offGrid.clamp(10), 15);
  EXPECT_EQ(offGrid.clamp(100), 105) << "snapping anchored at min may pass max; not clamped again";

  const ControlRange negative{-64, 64, 4, 0};
  EXPECT_EQ(negative.clamp(-63), -64);
  EXPECT_EQ(negative.clamp(-62), -60);

  const ControlRange zeroStep{0, 90, 0, 90};
  EXPECT_EQ(zeroStep.clamp(45), 45);
  const ControlRange pickup{0, 90, 90, 90};
  EXPECT_EQ(pickup.clamp(44), 0);
  EXPECT_EQ(pickup.clamp(45), 90);
}

TEST(ControlCatalogue, RawValuesParseExactly) {
  for (ControlID id : allControls()) {
    EXPECT_EQ(controlFromRawValue(rawValue(id)), id);
  }
  EXPECT_EQ(controlFromRawValue("backlightCompensation"), ControlID::backlightCompensation);
  EXPECT_EQ(controlFromRawValue("Brightness"), std::nullopt);
  EXPECT_EQ(controlFromRawValue("brightness "), std::nullopt);
  EXPECT_EQ(controlFromRawValue(""), std::nullopt);
  EXPECT_EQ(controlFromRawValue("Backlight"), std::nullopt) << "titles are not keys";
  EXPECT_EQ(title(ControlID::backlightCompensation), "Backlight");
  EXPECT_EQ(title(ControlID::whiteBalance), "Temperature");
}

TEST(ControlCatalogue, AutoModesComeBeforeTheControlsTheyGovern) {
  const auto& all = allControls();
  ASSERT_EQ(all.size(), 22u);
  auto position = [&](ControlID id) { return std::find(all.begin(), all.end(), id) - all.begin(); };
  EXPECT_LT(position(ControlID::autoExposure), position(ControlID::exposure));
  EXPECT_LT(position(ControlID::autoFocus), position(ControlID::focus));
  EXPECT_LT(position(ControlID::autoWhiteBalance), position(ControlID::whiteBalance));
  EXPECT_EQ(all.front(), ControlID::autoExposure);
  EXPECT_EQ(all.back(), ControlID::tilt);
}

TEST(ControlCatalogue, ControlsSharingARequestUseDisjointBytesOfOnePayload) {
  // Controls with the same unit and selector must agree on the payload length and must not
  // overlap, or a batch write would clobber one with the other.
  std::map<std::string, std::vector<ControlID>> groups;
  for (ControlID id : allControls()) {
    const ControlSpec& s = spec(id);
    EXPECT_LE(s.offset + s.valueSize(), s.length) << rawValue(id);
    groups[std::string(unitName(s.unit)) + "/" + std::to_string(s.selector)].push_back(id);
  }
  EXPECT_EQ(groups["cameraTerminal/13"], (std::vector{ControlID::pan, ControlID::tilt}));
  EXPECT_EQ(groups["ankerExtension/16"], (std::vector{ControlID::micPickup, ControlID::fieldOfView}));
  for (const auto& [key, members] : groups) {
    std::set<int> used;
    for (ControlID id : members) {
      EXPECT_EQ(spec(id).length, spec(members.front()).length) << key;
      for (int b = spec(id).offset; b < spec(id).offset + spec(id).valueSize(); ++b) {
        EXPECT_TRUE(used.insert(b).second) << key << " byte " << b << " used twice";
      }
    }
  }
  EXPECT_EQ(groups.size(), 20u);
}

TEST(ControlCatalogue, ControlIDsWorkAsHashKeys) {
  std::unordered_map<ControlID, int> values;
  for (ControlID id : allControls()) values[id] = static_cast<int>(id);
  EXPECT_EQ(values.size(), 22u);
  EXPECT_EQ(values.at(ControlID::tilt), 21);
}

}  // namespace
}  // namespace velto
