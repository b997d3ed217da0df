// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The video stream of a simulated camera, client side: connects to the camera's device socket,
// asks for frames (protocol versions 2 to 4, docs/simcam-protocol.md): of at most a size, or in
// one mode the camera advertises (version 4). It receives them into memory of their own as the
// camera sends them: YUY2 or MJPEG like the real camera (version 3 on), or BGRA from an older
// simulator (version 2). The GStreamer backend feeds these into an appsrc,
// so from the source's output onward, decoding included, a simulated camera takes the same path as
// a real one.
//
// Blocking, one thread: open() then next() in a loop on the thread that feeds the pipeline;
// interrupt() from any other thread wakes a blocked next() (it then returns `interrupted`).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/video/capture_mode.h"

namespace velto::video {

class SimStream {
 public:
  enum class Result {
    frame,        // `frame` holds the next frame
    busy,         // the camera is streaming to another application (velto-simcam ctl busy)
    vanished,     // the camera was unplugged or re-enumerated, or the simulator stopped
    refused,      // no stream: the socket is missing or stale, or the server does not stream
    malformed,    // the server sent something this client cannot read
    interrupted,  // interrupt() was called
  };

  SimStream();
  ~SimStream();
  SimStream(const SimStream&) = delete;
  SimStream& operator=(const SimStream&) = delete;

  // Connects to `socketPath` and asks for frames of at most `maxWidth` × `maxHeight` (the camera
  // sends its own size when that fits). `frame` on success; `busy`, `refused` or `vanished`
  // otherwise, with `error` saying why in words for people.
  Result open(const std::string& socketPath, int maxWidth, int maxHeight, std::string* error);
  // Connects and asks for frames in exactly `mode` (protocol version 4): `refused` with the
  // camera's reason when it does not offer it. A simulator older than that is asked for frames of
  // at most the mode's size instead, and sends what it sends.
  Result open(const std::string& socketPath, const CaptureMode& mode, std::string* error);

  // The frame size and rate the camera announced; valid after a successful open().
  int width() const { return width_; }
  int height() const { return height_; }
  int fps() const { return fps_; }

  enum class Format {
    bgra,   // rows of 4 × width bytes: B, G, R, A
    yuy2,   // rows of 4 × ⌈width / 2⌉ bytes: Y0, U, Y1, V (BT.601, limited range)
    mjpeg,  // one JPEG picture
  };
  // One frame as it came. `data` stays valid while `owner` (or a copy of it) is held.
  struct Packet {
    Format format = Format::bgra;
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;  // of the raw formats; 0 for MJPEG
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::shared_ptr<const void> owner;
  };

  // Waits for the next whole frame. Every frame of a stream has the first one's format; a frame
  // that breaks the framing, or changes format, is `malformed`. A frozen camera sends nothing:
  // next() then blocks until a frame comes, the camera goes away, or interrupt().
  Result next(Packet& packet, std::string* error);

  // Wakes a blocked next() and makes every later call return `interrupted`. Any thread.
  void interrupt();

 private:
  Result open(const std::string& socketPath, const std::optional<CaptureMode>& mode, int maxWidth, int maxHeight,
              std::string* error);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  int width_ = 0;
  int height_ = 0;
  int fps_ = 0;
};

}  // namespace velto::video
