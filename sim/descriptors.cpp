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

void frameMjpeg(Bytes& b, std::uint8_t index, std::uint16_t width, std::uint16_t height) {
  const std::uint32_t interval = 333333;  // 30 fps in 100 ns units
  b.add({30, kCsInterface, 0x07 /* VS_FRAME_MJPEG */, index, 0x00 /* bmCapabilities */});
  b.u16(width);
  b.u16(height);
  b.u32(static_cast<std::uint32_t>(width) * height * 16 * 30 / 10);  // dwMinBitRate
  b.u32(static_cast<std::uint32_t>(width) * height * 16 * 30);       // dwMaxBitRate
  b.u32(static_cast<std::uint32_t>(width) * height * 2);             // dwMaxVideoFrameBufferSize
  b.u32(interval);  // dwDefaultFrameInterval
  b.add({0x01});    // bFrameIntervalType: one discrete interval
  b.u32(interval);
}

}  // namespace

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
  // output terminal: TT_STREAMING, fed by the last unit
  b.add({9, kCsInterface, 0x03, outputTerminalID, 0x01, 0x01, 0, lastUnit, 0});
  b.put16(header + 5, b.size() - header);
  // interrupt endpoint 1 IN, 16 bytes, and its class-specific descriptor
  b.add({7, kEndpoint, 0x81, 0x03, 16, 0, 6});
  b.add({5, kCsEndpoint, 0x03, 16, 0});

  // VideoStreaming interface: alternate 0, one bulk endpoint
  b.add({9, kInterface, vs, 0, 1, kVideo, 0x02, 0x00, 0x00});
  const std::size_t inputHeader = b.size();
  // VS input header: one format, wTotalLength (patched), endpoint 2 IN, linked to the output
  // terminal, one byte of bmaControls per format
  b.add({14, kCsInterface, 0x01, 1, 0, 0, 0x82, 0x00, outputTerminalID, 0, 0, 0, 1, 0});
  // MJPEG format: index 1, two frames, fixed-size samples, default frame 1
  b.add({11, kCsInterface, 0x06, 1, 2, 0x01, 1, 0, 0, 0, 0});
  frameMjpeg(b, 1, 1920, 1080);
  frameMjpeg(b, 2, 1280, 720);
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
