// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Turns the camera's pictures, as it sends them (MJPEG, YUY2, or BGRA from GStreamer's own
// conversion for anything else), into the BGRA frames the preview needs: no larger than the
// largest view showing them, in device pixels, or near it. MJPEG is decoded at a reduced DCT
// scale (1/2, 1/4 or 1/8: a quarter of the pixels for 1080p in a window), YUY2 and BGRA are
// converted and halved with SIMD row functions, to the smallest size these reach that is at
// least four fifths of the view each way; a last bilinear step then gives the view's very size,
// so that painting is a plain copy. Each frame so made remembers the camera's picture, and makes
// it again in full when asked (Frame::fullResolution).
//
// Memory: the pictures are large and come thirty times a second. They are made on pages of their
// own, which the decoder reuses from one frame to the next and gives back to the system when it
// goes (the session has ended): left to malloc, what they leave in a thread's arena would stay
// with the process after the stream has stopped.
//
// Threads: one decoder per capture session, used by one streaming thread at a time; its frames
// may be let go on any thread; PictureSizeCell from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/video/frame.h"

namespace velto::video {

// A size in pixels; zero in either dimension means none.
struct PictureSize {
  int width = 0;
  int height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
  friend bool operator==(const PictureSize&, const PictureSize&) = default;
};

// The picture made when no view shows one: enough for the frame statistics (which sample about
// 240 columns) and the watchdog.
inline constexpr PictureSize kStatisticsSize{640, 360};

// The size that covers `target` with the aspect of a camera picture of `source` (`target` itself
// when that is a pixel larger at most), never larger than `source`; kStatisticsSize stands in for
// an empty target.
PictureSize screenSize(PictureSize source, PictureSize target);

// The largest picture the views need now: written by the capture backend, read per frame by the
// session. Any thread.
class PictureSizeCell {
 public:
  void set(PictureSize size) {
    packed_.store((static_cast<std::uint64_t>(static_cast<std::uint32_t>(size.width)) << 32) |
                  static_cast<std::uint32_t>(size.height));
  }
  PictureSize get() const {
    const std::uint64_t packed = packed_.load();
    return {static_cast<int>(packed >> 32), static_cast<int>(packed & 0xffffffffu)};
  }

 private:
  std::atomic<std::uint64_t> packed_{0};
};

// One picture as the camera sent it, in memory of its own (a capture buffer is given back at once).
struct CodedFrame {
  enum class Format { mjpeg, yuy2, bgra };
  Format format = Format::mjpeg;
  int width = 0;
  int height = 0;
  int bytesPerRow = 0;  // yuy2 and bgra; 0 for mjpeg
  std::vector<std::uint8_t> bytes;
};

class FrameDecoder {
 public:
  FrameDecoder();
  ~FrameDecoder();
  FrameDecoder(const FrameDecoder&) = delete;
  FrameDecoder& operator=(const FrameDecoder&) = delete;

  // The size the format's own reduction reaches for a picture of `source` and `target`: the
  // smallest that is at least 4/5 of screenSize(source, target) each way. decode() then gives
  // screenSize() itself for a view, this size without one.
  static PictureSize decodedSize(CodedFrame::Format format, PictureSize source, PictureSize target);

  // The picture of `coded` at screenSize(its size, `target`) (decodedSize() for an empty
  // target), remembering `coded` for
  // fullResolution(). None, with the reason in `why`, when the data cannot be read (a corrupt
  // JPEG, fewer bytes than the rows need); a JPEG that is merely damaged (truncated) still
  // gives the picture libjpeg could make of it.
  std::optional<Frame> decode(std::shared_ptr<const CodedFrame> coded, PictureSize target, std::string* why);

  // The camera's picture in full. Any thread.
  static std::optional<Frame> decodeFull(const CodedFrame& coded, std::string* why);

  // A coded frame to fill and hand to decode(), empty, its bytes' memory reused from a frame let
  // go before (a few are kept): a camera's frames are all about one size, and a fresh block for
  // each would cost the system new pages every frame. Any thread.
  std::shared_ptr<CodedFrame> codedFrame();

 private:
  // Memory of whole pages of its own, given back to the system when it goes or grows.
  class Pages {
   public:
    Pages() = default;
    ~Pages();
    Pages(const Pages&) = delete;
    Pages& operator=(const Pages&) = delete;
    // At least `size` bytes; null when the system has none to give.
    std::uint8_t* reserve(std::size_t size);

   private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
  };

  // A frame of `size` on memory the decoder hands out again once the frame's last copy is gone.
  Frame picture(PictureSize size);
  void halve(const std::uint8_t* from, int fromRow, PictureSize fromSize, Frame& to);

  struct Jpeg;
  struct Buffers;
  std::unique_ptr<Jpeg> jpeg_;
  std::shared_ptr<Buffers> buffers_;
  struct CodedFrames;
  std::shared_ptr<CodedFrames> coded_;
  Pages scratch_;     // the picture before its last scaling step
  Pages full_;        // a YUY2 picture converted in full, before it is halved
  Pages halving_[2];  // the steps of halving
};

}  // namespace velto::video
