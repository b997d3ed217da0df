// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Draws the simulated camera's frames on a thread of its own, so that a 1280×720 frame never
// holds up a control answer on the server's loop.
//
// The loop thread asks for a frame with a snapshot of the settings; the render thread draws it
// into a buffer of a small pool and calls `ready` (from the render thread), after which the loop
// takes the frame. A buffer goes back to the pool when the last reference to it (the frame being
// sent to clients) is dropped. When the thread is still drawing, or every buffer is still being
// sent, the request is refused: the frame is dropped rather than queued.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "sim/scene.h"

namespace velto::sim {

struct RenderedFrame {
  std::uint32_t sequence = 0;
  int width = 0;
  int height = 0;  // rows of exactly 4 × width bytes
  std::shared_ptr<const std::vector<std::uint8_t>> pixels;
};

class FrameRenderer {
 public:
  explicit FrameRenderer(std::function<void()> ready);
  ~FrameRenderer();  // waits for the frame being drawn
  FrameRenderer(const FrameRenderer&) = delete;
  FrameRenderer& operator=(const FrameRenderer&) = delete;

  // Loop thread: frame `sequence` in each of `sizes` (width, height). False when the frame is
  // dropped (still drawing the last one, or not enough free buffers).
  bool request(const SceneSettings& settings, const Lighting& light, std::uint32_t sequence,
               const std::vector<std::pair<int, int>>& sizes);

  // Loop thread: the frame finished since the last call, one per size; empty when none.
  std::vector<RenderedFrame> take();

 private:
  struct Job {
    SceneSettings settings;
    Lighting light;
    std::uint32_t sequence = 0;
    std::vector<std::pair<int, int>> sizes;
    std::vector<std::shared_ptr<std::vector<std::uint8_t>>> buffers;
  };
  void run();

  // Enough for one frame being drawn, one being sent and one waiting, in two sizes: more would
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
  std::thread thread_;
};

}  // namespace velto::sim
