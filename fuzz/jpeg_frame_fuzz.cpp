// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Feeds arbitrary bytes to the frame decoder as a camera's MJPEG frame: its header checks, then
// libjpeg-turbo at the scale the view asks for, then the picture in full. The first byte chooses
// the stream's size (the header's own, so that decoding goes on past the check, or a small one of
// its own) and the view's. Beyond memory errors, a finding is a failure without a reason, a
// reason beside a picture, or a picture of another size than the view's.
#include <turbojpeg.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/video/frame_decoder.h"

using velto::video::CodedFrame;
using velto::video::FrameDecoder;
using velto::video::PictureSize;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static FrameDecoder decoder;  // one per session in the program, reused from frame to frame
  static tjhandle handle = tjInitDecompress();
  const std::uint8_t choice = data[0];
  auto coded = std::make_shared<CodedFrame>();
  coded->format = CodedFrame::Format::mjpeg;
  coded->bytes.assign(data + 1, data + size);
  int width = 8 * (1 + (choice & 0x7)), height = 8 * (1 + ((choice >> 3) & 0x3)), subsampling = 0, colorspace = 0;
  if ((choice & 0x20) != 0) {
    int w = 0, h = 0;
    if (tjDecompressHeader3(handle, coded->bytes.data(), static_cast<unsigned long>(coded->bytes.size()), &w, &h,
                            &subsampling, &colorspace) == 0 &&
        w > 0 && h > 0 && w <= 4096 && h <= 4096) {
      width = w;
      height = h;
    }
  }
  coded->width = width;
  coded->height = height;
  const PictureSize target = (choice & 0x40) != 0 ? PictureSize{width / 3 + 1, height / 3 + 1} : PictureSize{};
  std::string why;
  const auto frame = decoder.decode(coded, target, &why);
  if (frame.has_value() == !why.empty()) std::abort();
  if (frame) {
    const PictureSize expected = target.empty() ? FrameDecoder::decodedSize(coded->format, {width, height}, target)
                                                : velto::video::screenSize({width, height}, target);
    if (frame->width() != expected.width || frame->height() != expected.height) std::abort();
    if ((choice & 0x80) != 0) {
      const velto::Frame full = frame->fullResolution();
      if (full.width() != 0 && (full.width() != width || full.height() != height)) std::abort();
    }
  }
  return 0;
}
