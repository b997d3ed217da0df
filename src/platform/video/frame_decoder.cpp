// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/frame_decoder.h"

#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velto::video {
namespace {

Frame allocate(int width, int height) { return Frame::unset(width, height); }

bool rowsFit(const CodedFrame& coded, int bytesPerPixel) {
  if (coded.width <= 0 || coded.height <= 0 || coded.bytesPerRow < bytesPerPixel * coded.width) return false;
  const std::size_t needed = static_cast<std::size_t>(coded.height - 1) * static_cast<std::size_t>(coded.bytesPerRow) +
                             static_cast<std::size_t>(bytesPerPixel) * static_cast<std::size_t>(coded.width);
  return coded.bytes.size() >= needed;
}

// A handle of libjpeg-turbo's decompressor.
struct JpegHandle {
  tjhandle handle = tjInitDecompress();
  ~JpegHandle() {
    if (handle != nullptr) tjDestroy(handle);
  }
};

// Decodes `coded` at `width` × `height` (one of the decoder's scaled sizes) into `pixels`.
// Errors give way to nothing; a warning (a truncated or slightly damaged frame) still decodes.
bool decompress(tjhandle handle, const CodedFrame& coded, std::uint8_t* pixels, int width, int height, std::string* why) {
  if (handle == nullptr) {
    *why = "the JPEG decoder could not be set up";
    return false;
  }
  const int result = tjDecompress2(handle, coded.bytes.data(), static_cast<unsigned long>(coded.bytes.size()), pixels,
                                   width, 4 * width, height, TJPF_BGRA, TJFLAG_NOREALLOC);
  if (result == 0 || tjGetErrorCode(handle) == TJERR_WARNING) return true;
  *why = std::string("a JPEG frame that cannot be decoded: ") + tjGetErrorStr2(handle);
  return false;
}

// The header's size, checked against what the stream said.
bool jpegHeader(tjhandle handle, const CodedFrame& coded, std::string* why) {
  int width = 0, height = 0, subsampling = 0, colorspace = 0;
  if (handle == nullptr || tjDecompressHeader3(handle, coded.bytes.data(), static_cast<unsigned long>(coded.bytes.size()),
                                               &width, &height, &subsampling, &colorspace) != 0) {
    *why = "a JPEG frame without a readable header";
    return false;
  }
  if (width != coded.width || height != coded.height) {
    *why = "a JPEG frame of " + std::to_string(width) + "x" + std::to_string(height) + " in a stream of " +
           std::to_string(coded.width) + "x" + std::to_string(coded.height);
    return false;
  }
  return true;
}

// Whether `size` is near enough to `wanted` to be painted at it: at least four fifths of it each
// way (a picture a little smaller is enlarged a little; one much smaller would look soft).
bool nearEnough(PictureSize size, PictureSize wanted) {
  return 5 * size.width >= 4 * wanted.width && 5 * size.height >= 4 * wanted.height;
}

// The smallest of libjpeg-turbo's DCT scales 1, 1/2, 1/4 and 1/8 that is near enough to `wanted`.
// Only these have fast inverse DCTs and upsampling: 3/8 of a 1080p frame takes longer than 1/2,
// and 3/4 twice as long as the whole.
PictureSize jpegScale(PictureSize source, PictureSize wanted) {
  PictureSize best = source;
  for (const int denominator : {2, 4, 8}) {
    const tjscalingfactor factor{1, denominator};
    const PictureSize scaled{TJSCALED(source.width, factor), TJSCALED(source.height, factor)};
    if (!nearEnough(scaled, wanted)) break;
    best = scaled;
  }
  return best;
}

// `from` averaged down to `to`'s size, an exact power-of-two fraction of it: each step halves
// with a rounded 2×2 box (libyuv's filters at other ratios darken by about 1 %, which would move
// the statistics).
void halve(const std::uint8_t* from, int fromRow, PictureSize fromSize, Frame& to) {
  std::vector<std::uint8_t> step;
  while (fromSize.width > 2 * to.width()) {
    const PictureSize half{fromSize.width / 2, fromSize.height / 2};
    std::vector<std::uint8_t> next(static_cast<std::size_t>(half.width) * half.height * 4);
    libyuv::ARGBScale(from, fromRow, fromSize.width, fromSize.height, next.data(), 4 * half.width, half.width,
                      half.height, libyuv::kFilterBox);
    step = std::move(next);
    from = step.data();
    fromRow = 4 * half.width;
    fromSize = half;
  }
  libyuv::ARGBScale(from, fromRow, fromSize.width, fromSize.height, to.mutablePixels(), to.bytesPerRow(), to.width(),
                    to.height(), libyuv::kFilterBox);
}

}  // namespace

PictureSize screenSize(PictureSize source, PictureSize target) {
  if (source.empty()) return {};
  if (target.empty()) target = kStatisticsSize;
  const double factor = std::min(1.0, std::max(static_cast<double>(target.width) / source.width,
                                               static_cast<double>(target.height) / source.height));
  if (factor >= 1.0) return source;
  return {std::max(1, static_cast<int>(std::lround(source.width * factor))),
          std::max(1, static_cast<int>(std::lround(source.height * factor)))};
}

struct FrameDecoder::Jpeg : JpegHandle {};

FrameDecoder::FrameDecoder() : jpeg_(std::make_unique<Jpeg>()) {}
FrameDecoder::~FrameDecoder() = default;

PictureSize FrameDecoder::decodedSize(CodedFrame::Format format, PictureSize source, PictureSize target) {
  const PictureSize wanted = screenSize(source, target);
  if (wanted.empty()) return {};
  if (format == CodedFrame::Format::mjpeg) return jpegScale(source, wanted);
  PictureSize size = source;
  while (size.width % 2 == 0 && size.height % 2 == 0 && nearEnough({size.width / 2, size.height / 2}, wanted)) {
    size = {size.width / 2, size.height / 2};
  }
  return size;
}

std::optional<Frame> FrameDecoder::decode(std::shared_ptr<const CodedFrame> coded, PictureSize target, std::string* why) {
  const CodedFrame& c = *coded;
  const PictureSize source{c.width, c.height};
  const PictureSize size = decodedSize(c.format, source, target);
  if (size.empty()) {
    *why = "a frame of no size";
    return std::nullopt;
  }
  Frame frame = allocate(size.width, size.height);
  switch (c.format) {
    case CodedFrame::Format::mjpeg:
      if (!jpegHeader(jpeg_->handle, c, why) ||
          !decompress(jpeg_->handle, c, frame.mutablePixels(), size.width, size.height, why)) {
        return std::nullopt;
      }
      break;
    case CodedFrame::Format::yuy2:
      if (!rowsFit(c, 2) || c.width % 2 != 0) {
        *why = "a YUY2 frame shorter than its rows";
        return std::nullopt;
      }
      if (size == source) {
        libyuv::YUY2ToARGB(c.bytes.data(), c.bytesPerRow, frame.mutablePixels(), frame.bytesPerRow(), c.width, c.height);
      } else {
        scratch_.resize(static_cast<std::size_t>(c.width) * c.height * 4);
        libyuv::YUY2ToARGB(c.bytes.data(), c.bytesPerRow, scratch_.data(), 4 * c.width, c.width, c.height);
        halve(scratch_.data(), 4 * c.width, source, frame);
      }
      break;
    case CodedFrame::Format::bgra:
      if (!rowsFit(c, 4)) {
        *why = "a BGRA frame shorter than its rows";
        return std::nullopt;
      }
      // The camera's picture is the screen's: shared, not copied.
      if (size == source) return Frame(c.width, c.height, c.bytesPerRow, c.bytes.data(), c.bytes.size(), coded);
      halve(c.bytes.data(), c.bytesPerRow, source, frame);
      break;
  }
  if (size == source) return frame;  // the camera's picture in full already
  return frame.reducedFrom(c.width, c.height, [coded = std::move(coded)] {
    std::string ignored;
    return decodeFull(*coded, &ignored).value_or(Frame());
  });
}

std::optional<Frame> FrameDecoder::decodeFull(const CodedFrame& coded, std::string* why) {
  switch (coded.format) {
    case CodedFrame::Format::mjpeg: {
      JpegHandle jpeg;
      if (!jpegHeader(jpeg.handle, coded, why)) return std::nullopt;
      Frame frame = allocate(coded.width, coded.height);
      if (!decompress(jpeg.handle, coded, frame.mutablePixels(), coded.width, coded.height, why)) return std::nullopt;
      return frame;
    }
    case CodedFrame::Format::yuy2: {
      if (!rowsFit(coded, 2) || coded.width % 2 != 0) {
        *why = "a YUY2 frame shorter than its rows";
        return std::nullopt;
      }
      Frame frame = allocate(coded.width, coded.height);
      libyuv::YUY2ToARGB(coded.bytes.data(), coded.bytesPerRow, frame.mutablePixels(), frame.bytesPerRow(), coded.width,
                         coded.height);
      return frame;
    }
    case CodedFrame::Format::bgra: {
      if (!rowsFit(coded, 4)) {
        *why = "a BGRA frame shorter than its rows";
        return std::nullopt;
      }
      Frame frame = allocate(coded.width, coded.height);
      for (int y = 0; y < coded.height; ++y) {
        std::memcpy(frame.mutablePixels() + static_cast<std::size_t>(y) * frame.bytesPerRow(),
                    coded.bytes.data() + static_cast<std::size_t>(y) * coded.bytesPerRow, 4 * static_cast<std::size_t>(coded.width));
      }
      return frame;
    }
  }
  return std::nullopt;
}

}  // namespace velto::video
