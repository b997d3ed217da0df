// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Receives the capture session's frames, one thread at a time (the preview's session delivers them
// on its streaming thread; queue() serves receivers that want a queue of their own, as tests do):
// keeps the newest one
// and counts them (the count is the preview watchdog's heartbeat), announces a new frame through
// onFrame (one notice at a time: frames arriving before the notice was taken only replace the
// newest), and for every sixth frame computes a FrameStats record and hands it to onStats, still
// on that thread. On request it measures the average colour of a small patch of the newest frame,
// for click-to-set calibration.
#pragma once

#include <QPointF>
#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/video/frame.h"
#include "capture/frame_stats.h"
#include "support/serial_queue.h"

namespace velto {

// The statistics of one frame: about 240 columns sampled across it (every width ÷ 240-th pixel
// of every width ÷ 240-th row). A frame that cannot be read gives empty histograms, no overlay
// and zero fractions. Pure; any thread.
FrameStats analyzeFrame(const Frame& frame);

class FrameAnalyzer {
 public:
  using StatsHandler = std::function<void(FrameStats)>;
  using FrameHandler = std::function<void()>;

  FrameAnalyzer() = default;
  FrameAnalyzer(const FrameAnalyzer&) = delete;
  FrameAnalyzer& operator=(const FrameAnalyzer&) = delete;

  // A queue for a receiver that wants frames delivered and analysed on a thread of their own.
  SerialQueue& queue() { return queue_; }

  // Called where frames are delivered; set it before frames flow.
  void setStatsHandler(StatsHandler handler) { onStats_ = std::move(handler); }
  // Called where frames are delivered when one arrives and no notice is outstanding; the notice
  // stays outstanding until frameNoticed(). Set it before frames flow.
  void setFrameHandler(FrameHandler handler) { onFrame_ = std::move(handler); }
  // The notice was taken: the next frame is announced again. Call it before reading latest(), so
  // that a frame arriving in between gets a notice of its own. Any thread.
  void frameNoticed();

  // One frame from the session, from one thread at a time: becomes the newest and is announced
  // unless a notice is outstanding; every sixth is analysed.
  void deliver(Frame frame);

  // Whether delivered frames are taken (the default). Not taking lets go of the newest frame at
  // once, and drops the frames a stopping session may still deliver, uncounted: a preview nobody
  // watches holds no picture. Any thread.
  void setTaking(bool taking);

  // Frames received since creation. Any thread.
  std::int64_t frameCount() const;
  // The newest frame (shares its pixels). Any thread.
  Frame latest() const;

  // The mean red, green and blue (0…1) of a patch of the newest frame, at the camera's full
  // resolution (decoded again when the frame was reduced for the screen), around `point` (normalised,
  // origin top left), `radius` a fraction of the frame's height (at least 2 pixels), sampling
  // every second row and column; none without a frame or when the patch lies outside it. Any
  // thread; reads outside the lock.
  std::optional<std::array<double, 3>> averageColor(QPointF point, double radius) const;

 private:
  mutable std::mutex lock_;     // guards latest_, frameCount_, noticed_ and taking_, held only to swap or set
  Frame latest_;
  std::int64_t frameCount_ = 0;
  bool noticed_ = true;         // false from an announcement until frameNoticed()
  bool taking_ = true;
  StatsHandler onStats_;        // set before use, then read where frames are delivered only
  FrameHandler onFrame_;        // likewise
  SerialQueue queue_{"camera.frames"};  // last: drained and joined first; no thread until used
};

}  // namespace velto
