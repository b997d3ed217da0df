// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Draws the simulated camera's frames on a thread of its own, so that a 1280×720 frame never
// holds up a control answer on the server's loop.
//
// The loop thread asks for a frame with a snapshot of the settings; the render thread draws it for
// each kind of client (raw BGRA, or as the camera sends it: YUY2 up to 640×480, MJPEG above) and
// calls `ready` (from the render thread), after which the loop takes the frame. Raw frames are
// drawn into buffers of a small pool; a buffer goes back to the pool when the last reference to
// it (the frame being sent to clients) is dropped. When the thread is still drawing, or every
// buffer is still being sent, the request is refused: the frame is dropped rather than queued.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/usb/simcam_protocol.h"
#include "sim/scene.h"

namespace velto::sim {

// How a frame travels (docs/simcam-protocol.md). `bgra`: rows of exactly 4 × width bytes, for
// version-2 clients. The others carry a frame header first (kCodedFrameHeaderSize): `yuy2` rows of
// 4 × ⌈width / 2⌉ bytes (Y0 U Y1 V, BT.601 limited range), `mjpeg` one baseline JPEG (4:2:2).
enum class Encoding { bgra, yuy2, mjpeg };

// What the real camera sends at a size: YUY2 up to 640×480, MJPEG above.
Encoding cameraEncoding(int width, int height);

// A coded frame's first bytes: the format's four-character code ("YUY2", "MJPG") and the length
// of what follows, both u32 little-endian (the simulator protocol's frame header).
inline constexpr std::size_t kCodedFrameHeaderSize = usb::simcam::kCodedFrameHeaderSize;

struct FrameShape {
  int width = 0;
  int height = 0;
  Encoding encoding = Encoding::bgra;
  friend bool operator==(const FrameShape&, const FrameShape&) = default;
};

struct RenderedFrame {
  std::uint32_t sequence = 0;
  FrameShape shape;
  std::shared_ptr<const std::vector<std::uint8_t>> pixels;  // the bytes as they travel
};

// Encodes frames as they travel; keeps its JPEG compressor from one frame to the next.
class FrameEncoder {
 public:
  FrameEncoder() = default;
  ~FrameEncoder();
  FrameEncoder(const FrameEncoder&) = delete;
  FrameEncoder& operator=(const FrameEncoder&) = delete;

  // `bgra` (rows of exactly 4 × width bytes) as `encoding` into `out`, frame header included.
  // False, with `out` empty and `error` saying why, when the JPEG compressor fails.
  bool encode(const std::uint8_t* bgra, int width, int height, Encoding encoding, std::vector<std::uint8_t>& out,
              std::string* error);

 private:
  void* jpeg_ = nullptr;  // the TurboJPEG compressor, made on first use
};

class FrameRenderer {
 public:
  explicit FrameRenderer(std::function<void()> ready);
  ~FrameRenderer();  // waits for the frame being drawn
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;

  // Loop thread: frame `sequence` in each of `shapes`. False when the frame is dropped (still
  // drawing the last one, or not enough free buffers).
  bool request(const SceneSettings& settings, const Lighting& light, std::uint32_t sequence,
               const std::vector<FrameShape>& shapes);

  // Loop thread: the frame finished since the last call, one per shape; empty when none.
  std::vector<RenderedFrame> take();

 private:
  struct Job {
    SceneSettings settings;
    Lighting light;
    std::uint32_t sequence = 0;
    std::vector<FrameShape> shapes;
    std::vector<std::shared_ptr<std::vector<std::uint8_t>>> buffers;  // one per BGRA shape, in order
  };
  void run();

  // Enough for one frame being drawn, one being sent and one waiting, in two shapes: more would
  // only be frames a slow client never gets.
  static constexpr std::size_t kPoolSize = 6;

  std::function<void()> ready_;
  std::vector<std::shared_ptr<std::vector<std::uint8_t>>> pool_;  // loop thread
  std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Job> job_;             // guarded by mutex_
  bool drawing_ = false;               // guarded by mutex_: a job is taken and not yet done
  std::vector<RenderedFrame> done_;    // guarded by mutex_
  bool stopping_ = false;              // guarded by mutex_
  // Render thread only: the picture before encoding, the encoder, and the encoded frames of the
  // last settings: the noise repeats (kNoisePeriod), so while the scene stands still each frame
  // of the period is drawn and encoded once and then sent again.
  std::vector<std::uint8_t> raw_;
  std::vector<std::uint8_t> encoded_;
  FrameEncoder encoder_;
  struct Encoded {
    FrameShape shape;
    std::uint64_t phase = 0;  // sequence mod kNoisePeriod
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
  };
  SceneSettings cachedSettings_;
  Lighting cachedLight_;
  std::vector<Encoded> cache_;  // at most kMaxCached
  static constexpr std::size_t kMaxCached = 2 * kNoisePeriod;
  bool encodeFailed_ = false;  // said so once on stderr
  std::thread thread_;
};

}  // namespace velto::sim
