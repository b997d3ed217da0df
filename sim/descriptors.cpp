// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/descriptors.h"

#include <initializer_list>

namespace velto::sim {
namespace {

class Bytes {
 public:
  void add(std::initializer_list<std::uint8_t> list) { bytes_.insert(bytes_.end(), list); }
  void u16(std::uint16_t v) { add({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); }
  void u32(std::uint32_t v) {
    u16(static_cast<std::uint16_t>(v));
    u16(static_cast<std::uint16_t>(v >> 16));
  }
  void controls(std::uint32_t bits, int size) {
    for (int i = 0; i < size; ++i) bytes_.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  }
  std::size_t size() const { return bytes_.size(); }
  void put16(std::size_t at, std::size_t v) {
    bytes_[at] = static_cast<std::uint8_t>(v);
    bytes_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  std::vector<std::uint8_t> take() { return std::move(bytes_); }
  std::vector<std::uint8_t>& raw() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

constexpr std::uint8_t kInterface = 0x04, kEndpoint = 0x05, kCsInterface = 0x24;
constexpr std::uint8_t kCsEndpoint = 0x25, kVideo = 0x0E;

// A frame interval in 100 ns units: 333333 for 30 frames a second.
constexpr std::uint32_t interval(int fps) { return fps > 0 ? 10'000'000u / static_cast<std::uint32_t>(fps) : 0; }

// The GUID of an uncompressed or frame-based format: its four-character code, then the fixed
// tail the class gives every such GUID.
void formatGUID(Bytes& b, const char (&fourcc)[5]) {
  for (int i = 0; i < 4; ++i) b.add({static_cast<std::uint8_t>(fourcc[i])});
  b.add({0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71});
}

void format(Bytes& b, std::uint8_t index, const StreamFormat& f) {
  const auto frames = static_cast<std::uint8_t>(f.frames.size());
  switch (f.kind) {
    case StreamFormat::mjpeg:
      // VS_FORMAT_MJPEG: fixed-size samples, default frame 1, no aspect ratio, interlacing or
      // copy protection
      b.add({11, kCsInterface, 0x06, index, frames, 0x01, 1, 0, 0, 0, 0});
      break;
    case StreamFormat::yuy2:
      // VS_FORMAT_UNCOMPRESSED: 16 bits per pixel
      b.add({27, kCsInterface, 0x04, index, frames});
      formatGUID(b, "YUY2");
      b.add({16, 1, 0, 0, 0, 0});
      break;
    case StreamFormat::h264:
      // VS_FORMAT_FRAME_BASED: bits per pixel not given, variable-size frames
      b.add({28, kCsInterface, 0x10, index, frames});
      formatGUID(b, "H264");
      b.add({0, 1, 0, 0, 0, 0, 1});
      break;
  }
  std::uint8_t frameIndex = 0;
  for (const StreamFrame& frame : f.frames) {
    const std::uint16_t width = frame.width, height = frame.height;
    const std::uint32_t pixels = static_cast<std::uint32_t>(width) * height;
    const int fastest = frame.fps.empty() ? 30 : frame.fps.front();
    const std::uint32_t maxBitRate = pixels * 16 * static_cast<std::uint32_t>(fastest);
    const auto intervals = static_cast<std::uint8_t>(frame.fps.size());
    const auto length = static_cast<std::uint8_t>(26 + 4 * intervals);
    const std::uint32_t defaultInterval = interval(fastest);
    if (f.kind == StreamFormat::h264) {
      // VS_FRAME_FRAME_BASED: no frame buffer size, the bytes per line 0 for a compressed stream
      b.add({length, kCsInterface, 0x11, ++frameIndex, 0x00});
      b.u16(width);
      b.u16(height);
      b.u32(maxBitRate / 50);
      b.u32(maxBitRate / 10);
      b.u32(defaultInterval);
      b.add({intervals});  // discrete intervals
      b.u32(0);
    } else {
      // VS_FRAME_MJPEG or VS_FRAME_UNCOMPRESSED
      b.add({length, kCsInterface, static_cast<std::uint8_t>(f.kind == StreamFormat::mjpeg ? 0x07 : 0x05),
             ++frameIndex, 0x00});
      b.u16(width);
      b.u16(height);
      b.u32(f.kind == StreamFormat::mjpeg ? maxBitRate / 10 : maxBitRate);
      b.u32(maxBitRate);
      b.u32(pixels * 2);  // dwMaxVideoFrameBufferSize
      b.u32(defaultInterval);
      b.add({intervals});
    }
    for (int fps : frame.fps) b.u32(interval(fps));
  }
  // colour matching: BT.709 primaries, BT.709 transfer, SMPTE 170M matrix
  b.add({6, kCsInterface, 0x0D, 1, 1, 4});
}

}  // namespace

const char* formatCode(StreamFormat::Kind kind) {
  switch (kind) {
    case StreamFormat::mjpeg: return "MJPG";
    case StreamFormat::yuy2: return "YUY2";
    case StreamFormat::h264: return "H264";
  }
  return "";
}

std::vector<std::uint8_t> buildConfiguration(const CameraLayout& layout) {
  Bytes b;
  const std::uint8_t vc = layout.interfaceNumber;
  const auto vs = static_cast<std::uint8_t>(vc + 1);
  const std::uint8_t outputTerminalID = 3;

  // configuration: bLength, CONFIGURATION, wTotalLength (patched), bNumInterfaces,
  // bConfigurationValue, iConfiguration, bmAttributes (bus powered), bMaxPower (500 mA)
  b.add({9, 0x02, 0, 0, 2, 1, 0, 0x80, 0xFA});
  // interface association: first interface, count 2, video interface collection
  b.add({8, 0x0B, vc, 2, kVideo, 0x03, 0x00, 0x00});
  // VideoControl interface: alternate 0, one endpoint, video / VideoControl
  b.add({9, kInterface, vc, 0, 1, kVideo, 0x01, 0x00, 0x00});

  const std::size_t header = b.size();
  // VC header: UVC 1.10, wTotalLength (patched), 48 MHz clock, one streaming interface
  b.add({13, kCsInterface, 0x01, 0x10, 0x01, 0, 0, 0x00, 0x6C, 0xDC, 0x02, 1, vs});
  // camera terminal: ITT_CAMERA, no focal lengths, 3 bytes of bmControls
  b.add({18, kCsInterface, 0x02, layout.cameraTerminalID, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 3});
  b.controls(layout.cameraControls, 3);
  // processing unit: source the camera terminal, wMaxMultiplier 0x4000, 2 bytes of bmControls,
  // iProcessing, bmVideoStandards
  b.add({12, kCsInterface, 0x05, layout.processingUnitID, layout.cameraTerminalID, 0x00, 0x40, 2});
  b.controls(layout.processingControls, 2);
  b.add({0, 0});
  std::uint8_t lastUnit = layout.processingUnitID;
  if (layout.extension) {
    const ExtensionUnitLayout& xu = *layout.extension;
    int count = 0;
    for (std::uint32_t bits = xu.controls; bits != 0; bits &= bits - 1) ++count;
    // extension unit: GUID, bNumControls, one input pin (the processing unit), 3 bytes of
    // bmControls, iExtension
    b.add({28, kCsInterface, 0x06, xu.unitID});
    for (std::uint8_t g : xu.guid) b.add({g});
    b.add({static_cast<std::uint8_t>(count), 1, layout.processingUnitID, 3});
    b.controls(xu.controls, 3);
    b.add({0});
    lastUnit = xu.unitID;
  }
  // output terminal: TT_STREAMING
  b.add({9, kCsInterface, 0x03, outputTerminalID, 0x01, 0x01, 0, layout.outputSourceID.value_or(lastUnit), 0});
  b.put16(header + 5, b.size() - header);
  // interrupt endpoint 1 IN, 16 bytes, and its class-specific descriptor
  b.add({7, kEndpoint, 0x81, 0x03, 16, 0, 6});
  b.add({5, kCsEndpoint, 0x03, 16, 0});

  // VideoStreaming interface: alternate 0, one bulk endpoint
  b.add({9, kInterface, vs, 0, 1, kVideo, 0x02, 0x00, 0x00});
  const std::size_t inputHeader = b.size();
  const auto formats = static_cast<std::uint8_t>(layout.formats.size());
  // VS input header: wTotalLength (patched), endpoint 2 IN, linked to the output terminal, no
  // still capture or trigger, one byte of bmaControls (none) per format
  b.add({static_cast<std::uint8_t>(13 + formats), kCsInterface, 0x01, formats, 0, 0, 0x82, 0x00,
         outputTerminalID, 0, 0, 0, 1});
  for (std::uint8_t i = 0; i < formats; ++i) b.add({0});
  for (std::uint8_t i = 0; i < formats; ++i) format(b, static_cast<std::uint8_t>(i + 1), layout.formats[i]);
  b.put16(inputHeader + 4, b.size() - inputHeader);
  // bulk endpoint 2 IN, 512 bytes
  b.add({7, kEndpoint, 0x82, 0x02, 0x00, 0x02, 0});

  b.put16(2, b.size());
  return b.take();
}

std::vector<std::uint8_t> buildDeviceDescriptor(std::uint16_t vendorID, std::uint16_t productID) {
  Bytes b;
  // bLength, DEVICE, bcdUSB 2.00, miscellaneous class / common / IAD, bMaxPacketSize0 64
  b.add({18, 0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 64});
  b.u16(vendorID);
  b.u16(productID);
  // bcdDevice 1.00, iManufacturer 1, iProduct 2, iSerialNumber 0, one configuration
  b.add({0x00, 0x01, 1, 2, 0, 1});
  return b.take();
}

}  // namespace velto::sim
