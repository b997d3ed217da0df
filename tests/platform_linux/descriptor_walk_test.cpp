// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The one configuration-descriptor walk, which both cuvc and the v4l2 carrier rely on: annotated
// descriptors of real and odd cameras, and malformed ones that must neither crash nor mislead.
#include "platform/usb/descriptor_walk.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>

#include "fixtures/descriptors.h"

namespace velto::usb {
namespace {

using fixtures::Bytes;

// Pieces to assemble odd configurations from.

Bytes configurationHeader(std::uint16_t totalLength) {
  return {0x09, 0x02,                                     // bLength, CONFIGURATION
          static_cast<std::uint8_t>(totalLength & 0xFF),  // wTotalLength low
          static_cast<std::uint8_t>(totalLength >> 8),    // wTotalLength high
          0x01, 0x01, 0x00, 0x80, 0x32};                  // interfaces, value, string, attributes, power
}

Bytes interface(std::uint8_t number, std::uint8_t cls, std::uint8_t subclass) {
  return {0x09, 0x04,    // bLength, INTERFACE
          number, 0x00,  // bInterfaceNumber, bAlternateSetting
          0x00,          // bNumEndpoints
          cls, subclass, // bInterfaceClass, bInterfaceSubClass
          0x00, 0x00};   // bInterfaceProtocol, iInterface
}
Bytes videoControl(std::uint8_t number) { return interface(number, 0x0E, 0x01); }
Bytes videoStreaming(std::uint8_t number) { return interface(number, 0x0E, 0x02); }

Bytes inputTerminal(std::uint8_t id, std::uint16_t type, std::initializer_list<std::uint8_t> bm) {
  Bytes d = {static_cast<std::uint8_t>(15 + bm.size()),  // bLength
             0x24, 0x02,                                 // CS_INTERFACE, VC_INPUT_TERMINAL
             id,                                         // bTerminalID
             static_cast<std::uint8_t>(type & 0xFF),     // wTerminalType
             static_cast<std::uint8_t>(type >> 8),
             0x00, 0x00,                                 // bAssocTerminal, iTerminal
             0x00, 0x00, 0x00, 0x00, 0x00, 0x00,         // focal lengths
             static_cast<std::uint8_t>(bm.size())};      // bControlSize
  d.insert(d.end(), bm);                                 // bmControls
  return d;
}

Bytes processingUnit(std::uint8_t id, std::initializer_list<std::uint8_t> bm) {
  Bytes d = {static_cast<std::uint8_t>(9 + bm.size()),  // bLength
             0x24, 0x05,                                // CS_INTERFACE, VC_PROCESSING_UNIT
             id, 0x01,                                  // bUnitID, bSourceID
             0x00, 0x00,                                // wMaxMultiplier
             static_cast<std::uint8_t>(bm.size())};     // bControlSize
  d.insert(d.end(), bm);                                // bmControls
  d.push_back(0x00);                                    // iProcessing
  return d;
}

Bytes extensionUnit(std::uint8_t id, std::uint8_t guidFirstByte, std::initializer_list<std::uint8_t> bm) {
  Bytes d = {static_cast<std::uint8_t>(24 + 1 + bm.size()),  // bLength
             0x24, 0x06,                                     // CS_INTERFACE, VC_EXTENSION_UNIT
             id,                                             // bUnitID
             guidFirstByte, 0x9E, 0x76, 0x41, 0xDE, 0x04, 0x47, 0xE3,  // guidExtensionCode
             0x8B, 0x2B, 0xF4, 0x34, 0x1A, 0xFF, 0x00, 0x3B,
             0x01,                                           // bNumControls
             0x01, 0x02,                                     // bNrInPins, baSourceID(1)
             static_cast<std::uint8_t>(bm.size())};          // bControlSize
  d.insert(d.end(), bm);                                     // bmControls
  d.push_back(0x00);                                         // iExtension
  return d;
}

// A configuration of `parts` with a correct wTotalLength.
Bytes configuration(std::initializer_list<Bytes> parts) {
  std::size_t total = 9;
  for (const Bytes& p : parts) total += p.size();
  Bytes all = configurationHeader(static_cast<std::uint16_t>(total));
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct Walk {
  bool found = false;
  VideoControlLayout layout;
};
Walk walk(const Bytes& bytes) {
  const auto layout = walkVideoControl(bytes);
  return Walk{layout.has_value(), layout.value_or(VideoControlLayout{})};
}

// The IDs of every extension unit the walk recorded.
std::vector<int> extensionIDs(const VideoControlLayout& layout) {
  std::vector<int> ids;
  for (int id = 0; id < 256; ++id) {
    if (layout.extensionUnits.test(static_cast<std::size_t>(id))) ids.push_back(id);
  }
  return ids;
}

TEST(DescriptorWalk, FindsEveryUnitOfTheC200) {
  const Walk w = walk(fixtures::c200Configuration());
  ASSERT_TRUE(w.found);
  EXPECT_EQ(w.layout.interfaceNumber, 0);
  EXPECT_EQ(w.layout.cameraTerminal.id, 1);
  EXPECT_EQ(w.layout.cameraTerminal.controls, 0x00020A2Au);
  EXPECT_EQ(w.layout.processingUnit.id, 2);
  EXPECT_EQ(w.layout.processingUnit.controls, 0x177Fu);
  EXPECT_EQ(w.layout.extensionUnit.id, 6);
  EXPECT_EQ(w.layout.extensionUnit.controls, 0x078200u);
  const std::array<std::uint8_t, 16> guid = {0xA2, 0x9E, 0x76, 0x41, 0xDE, 0x04, 0x47, 0xE3,
                                             0x8B, 0x2B, 0xF4, 0x34, 0x1A, 0xFF, 0x00, 0x3B};
  EXPECT_EQ(w.layout.extensionGUID, guid);
  EXPECT_EQ(extensionIDs(w.layout), std::vector<int>{6});
  EXPECT_TRUE(w.layout.isExtensionUnit(6));
  EXPECT_FALSE(w.layout.isExtensionUnit(2));
}

TEST(DescriptorWalk, ToleratesTheRealC200sOutputTerminalNamingAUnitThatIsNotThere) {
  // As the C200's firmware 1.05 describes itself: other bmControls, and an output terminal whose
  // bSourceID is 4, which no terminal or unit has.
  Bytes real = fixtures::c200Configuration();
  const std::size_t terminal = 39, processing = 57, extension = 69, output = 97;
  ASSERT_EQ(real[terminal + 2], 0x02);
  ASSERT_EQ(real[processing + 2], 0x05);
  ASSERT_EQ(real[extension + 2], 0x06);
  ASSERT_EQ(real[output + 2], 0x03);
  real[terminal + 15] = 0x2A, real[terminal + 16] = 0x8A, real[terminal + 17] = 0x02;
  real[processing + 8] = 0x7F, real[processing + 9] = 0x14;
  real[extension + 24] = 0x00, real[extension + 25] = 0xF8, real[extension + 26] = 0x27;
  real[output + 7] = 0x04;  // bSourceID
  const Walk w = walk(real);
  ASSERT_TRUE(w.found);
  EXPECT_EQ(w.layout.cameraTerminal.id, 1);
  EXPECT_EQ(w.layout.cameraTerminal.controls, 0x028A2Au);
  EXPECT_EQ(w.layout.processingUnit.id, 2);
  EXPECT_EQ(w.layout.processingUnit.controls, 0x147Fu);
  EXPECT_EQ(w.layout.extensionUnit.id, 6);
  EXPECT_EQ(w.layout.extensionUnit.controls, 0x27F800u);
  EXPECT_EQ(extensionIDs(w.layout), std::vector<int>{6});
}

TEST(DescriptorWalk, GenericCameraHasNoExtensionUnit) {
  const Walk w = walk(fixtures::genericConfiguration());
  ASSERT_TRUE(w.found);
  EXPECT_EQ(w.layout.cameraTerminal.id, 1);
  EXPECT_EQ(w.layout.cameraTerminal.controls, 0x020Au);
  EXPECT_EQ(w.layout.processingUnit.id, 3);
  EXPECT_EQ(w.layout.processingUnit.controls, 0x104Bu);
  EXPECT_EQ(w.layout.extensionUnit.id, 0);
  EXPECT_EQ(w.layout.extensionUnit.controls, 0u);
  EXPECT_EQ(w.layout.extensionGUID[0], 0);
  EXPECT_TRUE(extensionIDs(w.layout).empty());
}

TEST(DescriptorWalk, RejectsWhatIsNotAVideoControlDevice) {
  EXPECT_FALSE(walk(fixtures::audioOnlyConfiguration()).found);
  EXPECT_FALSE(walk({}).found);
  EXPECT_FALSE(walk({0x09, 0x02, 0x01}).found);  // shorter than the configuration header
  // wTotalLength below 2, even though a VideoControl interface follows.
  Bytes tiny = configuration({videoControl(0)});
  tiny[2] = 0x01;
  tiny[3] = 0x00;
  EXPECT_FALSE(walk(tiny).found);
  // Video interfaces, but only VideoStreaming ones.
  EXPECT_FALSE(walk(configuration({videoStreaming(0), videoStreaming(1)})).found);
}

TEST(DescriptorWalk, VideoControlNeedNotBeTheFirstInterface) {
  const Walk w = walk(configuration({interface(0, 0x01, 0x01), videoControl(2),
                                     inputTerminal(4, 0x0201, {0x0A})}));
  ASSERT_TRUE(w.found);
  EXPECT_EQ(w.layout.interfaceNumber, 2);
  EXPECT_EQ(w.layout.cameraTerminal.id, 4);
}

TEST(DescriptorWalk, IgnoresClassDescriptorsOutsideVideoControl) {
  // A terminal-shaped descriptor after VideoStreaming, and a unit after an audio interface:
  // neither belongs to the VideoControl interface that came first.
  const Walk w = walk(configuration({videoControl(0), videoStreaming(1),
                                     inputTerminal(7, 0x0201, {0xFF}),
                                     interface(2, 0x01, 0x01), processingUnit(8, {0xFF, 0xFF})}));
  ASSERT_TRUE(w.found);
  EXPECT_EQ(w.layout.cameraTerminal.id, 0);
  EXPECT_EQ(w.layout.processingUnit.id, 0);
  // A second VideoControl interface is another function's: requests carry interface 0 in wIndex,
  // so its units could not be reached; an alternate setting of interface 0 is still interface 0.
  Bytes alternate = videoControl(0);
  alternate[3] = 1;  // bAlternateSetting
  const Walk again = walk(configuration({videoControl(0), videoStreaming(1), videoControl(3),
                                         processingUnit(8, {0x01, 0x00}), extensionUnit(9, 0x11, {0x01}),
                                         alternate, processingUnit(2, {0x01, 0x00})}));
  EXPECT_EQ(again.layout.interfaceNumber, 0);
  EXPECT_EQ(again.layout.processingUnit.id, 2);
  EXPECT_FALSE(again.layout.isExtensionUnit(9));
}

TEST(DescriptorWalk, SkipsUnitsTooShortForTheirFieldsOrWithoutAnID) {
  // An input terminal of type camera cut before bControlSize is no camera terminal, even though
  // its type is readable; the next, whole one is.
  Bytes shortTerminal = inputTerminal(3, 0x0201, {});
  shortTerminal.resize(14);
  shortTerminal[0] = 14;
  Bytes shortUnit = processingUnit(4, {});
  shortUnit.resize(7);
  shortUnit[0] = 7;
  Bytes shortExtension = extensionUnit(5, 0x11, {});
  shortExtension.resize(23);
  shortExtension[0] = 23;
  const Walk w = walk(configuration({videoControl(0), shortTerminal, shortUnit, shortExtension,
                                     inputTerminal(0, 0x0201, {0xFF}), processingUnit(0, {0xFF}),
                                     extensionUnit(0, 0x22, {0xFF}), inputTerminal(1, 0x0201, {0x0A}),
                                     processingUnit(2, {0x01}), extensionUnit(6, 0xA2, {0x01})}));
  ASSERT_TRUE(w.found);
  EXPECT_EQ(w.layout.cameraTerminal.id, 1);
  EXPECT_EQ(w.layout.cameraTerminal.controls, 0x0Au);
  EXPECT_EQ(w.layout.processingUnit.id, 2);
  EXPECT_EQ(w.layout.extensionUnit.id, 6);
  EXPECT_EQ(w.layout.extensionGUID[0], 0xA2);
  EXPECT_EQ(extensionIDs(w.layout), std::vector<int>{6});
  EXPECT_FALSE(w.layout.isExtensionUnit(0));
}

TEST(DescriptorWalk, DescriptorsThatAreNotInterfacesKeepTheFlag) {
  const Bytes association = {0x08, 0x0B, 0x00, 0x02, 0x0E, 0x03, 0x00, 0x00};  // IAD
  const Bytes shortInterface = {0x07, 0x04, 0x05, 0x00, 0x00, 0x0E, 0x02};     // bLength < 9
  const Bytes empty = {0x02, 0x24};                                            // bLength 2
  const Walk w = walk(configuration({videoControl(0), association, shortInterface, empty,
                                     processingUnit(2, {0x01})}));
  EXPECT_EQ(w.layout.processingUnit.id, 2);
  EXPECT_EQ(w.layout.processingUnit.controls, 0x01u);
}

TEST(DescriptorWalk, RecordsOnlyTheFirstOfEachUnit) {
  const Walk w = walk(configuration({
      videoControl(0),
      inputTerminal(9, 0x0401, {0xFF}),  // composite input: not a camera
      inputTerminal(1, 0x0201, {0x0A}),
      inputTerminal(5, 0x0201, {0xFF}),
      processingUnit(2, {0x01}),
      processingUnit(3, {0xFF}),
      extensionUnit(6, 0xA2, {0x01}),
      extensionUnit(7, 0x11, {0xFF}),  // second extension unit, another GUID
  }));
  EXPECT_EQ(w.layout.cameraTerminal.id, 1);
  EXPECT_EQ(w.layout.cameraTerminal.controls, 0x0Au);
  EXPECT_EQ(w.layout.processingUnit.id, 2);
  EXPECT_EQ(w.layout.processingUnit.controls, 0x01u);
  EXPECT_EQ(w.layout.extensionUnit.id, 6);
  EXPECT_EQ(w.layout.extensionGUID[0], 0xA2);
  EXPECT_EQ(w.layout.extensionUnit.controls, 0x01u);
  // Every extension unit is one the v4l2 carrier passes requests to.
  EXPECT_EQ(extensionIDs(w.layout), (std::vector<int>{6, 7}));
}

TEST(DescriptorWalk, ControlBitmapsTakeAtMostFourBytes) {
  const Walk w = walk(configuration({videoControl(0),
                                     inputTerminal(1, 0x0201, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06}),
                                     processingUnit(2, {}),
                                     extensionUnit(6, 0xA2, {0x11, 0x22, 0x33, 0x44, 0x55})}));
  EXPECT_EQ(w.layout.cameraTerminal.controls, 0x04030201u);
  EXPECT_EQ(w.layout.processingUnit.id, 2);
  EXPECT_EQ(w.layout.processingUnit.controls, 0u);
  EXPECT_EQ(w.layout.extensionUnit.controls, 0x44332211u);
}

TEST(DescriptorWalk, ControlSizePastTheDescriptorLeavesTheBitmapZero) {
  Bytes terminal = inputTerminal(1, 0x0201, {0xFF, 0xFF});
  terminal[14] = 3;  // bControlSize claims one byte more than bLength holds
  Bytes unit = processingUnit(2, {0xFF});
  unit[7] = 4;  // bControlSize runs past iProcessing
  Bytes extension = extensionUnit(6, 0xA2, {0xFF});
  extension[21] = 40;  // bNrInPins pushes bControlSize past the end
  const Walk w = walk(configuration({videoControl(0), terminal, unit, extension}));
  EXPECT_EQ(w.layout.cameraTerminal.id, 1);
  EXPECT_EQ(w.layout.cameraTerminal.controls, 0u);
  EXPECT_EQ(w.layout.processingUnit.id, 2);
  EXPECT_EQ(w.layout.processingUnit.controls, 0u);
  EXPECT_EQ(w.layout.extensionUnit.id, 6);
  EXPECT_EQ(w.layout.extensionGUID[0], 0xA2);
  EXPECT_EQ(w.layout.extensionUnit.controls, 0u);
}

TEST(DescriptorWalk, MalformedLengthEndsTheWalkKeepingEarlierFindings) {
  // A descriptor with bLength 1 stops the walk before the processing unit.
  const Bytes broken = {0x01, 0x24, 0x05};
  Walk w = walk(configuration({videoControl(0), inputTerminal(1, 0x0201, {0x0A}), broken,
                               processingUnit(2, {0xFF})}));
  EXPECT_TRUE(w.found);
  EXPECT_EQ(w.layout.cameraTerminal.id, 1);
  EXPECT_EQ(w.layout.processingUnit.id, 0);

  // bLength 0 would loop forever if it were not caught.
  w = walk(configuration({videoControl(0), Bytes{0x00, 0x24}, processingUnit(2, {0xFF})}));
  EXPECT_TRUE(w.found);
  EXPECT_EQ(w.layout.processingUnit.id, 0);

  // The processing unit's bLength runs past wTotalLength: it is not visited.
  Bytes pastTotal = configuration({videoControl(0), processingUnit(2, {0xFF})});
  pastTotal[2] = static_cast<std::uint8_t>(pastTotal.size() - 1);
  w = walk(pastTotal);
  EXPECT_TRUE(w.found);
  EXPECT_EQ(w.layout.processingUnit.id, 0);

  // Nothing was found before the bad descriptor: no VideoControl interface.
  EXPECT_FALSE(walk(configuration({Bytes{0x01, 0x04}, videoControl(0)})).found);
}

TEST(DescriptorWalk, NeverReadsPastTheBufferWhateverWTotalLengthSays) {
  Bytes truncated = fixtures::c200Configuration();
  truncated.resize(50);  // cut inside the camera terminal (bytes 39 to 56); wTotalLength still says 189
  const Walk w = walk(truncated);
  EXPECT_TRUE(w.found);
  EXPECT_EQ(w.layout.cameraTerminal.id, 0);

  // Every prefix of a real descriptor walks safely (the sanitizer build checks the reads), and
  // finds the VideoControl interface exactly when its descriptor (bytes 17 to 25) is whole.
  const Bytes full = fixtures::c200Configuration();
  for (std::size_t n = 0; n <= full.size(); ++n) {
    EXPECT_EQ(walkVideoControl(std::span(full.data(), n)).has_value(), n >= 26) << "prefix " << n;
  }
}

}  // namespace
}  // namespace velto::usb
