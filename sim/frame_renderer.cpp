// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/frame_renderer.h"

#include <atomic>
#include <utility>

namespace velto::sim {

FrameRenderer::FrameRenderer(std::function<void()> ready) : ready_(std::move(ready)) {
  thread_ = std::thread([this] { run(); });
}

FrameRenderer::~FrameRenderer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

bool FrameRenderer::request(const SceneSettings& settings, const Lighting& light, std::uint32_t sequence,
                            const std::vector<std::pair<int, int>>& sizes) {
  {
    std::lock_guard lock(mutex_);
    if (job_ || drawing_) return false;
  }
  Job job{settings, light, sequence, sizes, {}};
  // Only the loop thread hands buffers out (through take()), so a count of one, the pool's own
  // reference, cannot grow behind this check; the fence pairs with the release of the last
  // sender's reference, whose reads of the pixels then come before our writes.
  for (auto& b : pool_) {
    if (job.buffers.size() < sizes.size() && b.use_count() == 1) {
      std::atomic_thread_fence(std::memory_order_acquire);
      job.buffers.push_back(b);
    }
  }
  while (job.buffers.size() < sizes.size()) {
    if (pool_.size() >= kPoolSize) return false;
    job.buffers.push_back(pool_.emplace_back(std::make_shared<std::vector<std::uint8_t>>()));
  }
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    job.buffers[i]->resize(4 * static_cast<std::size_t>(sizes[i].first) * static_cast<std::size_t>(sizes[i].second));
  }
  {
    std::lock_guard lock(mutex_);
    job_ = std::move(job);
  }
  wake_.notify_one();
  return true;
}

std::vector<RenderedFrame> FrameRenderer::take() {
  std::lock_guard lock(mutex_);
  return std::exchange(done_, {});
}

void FrameRenderer::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || job_; });
    if (stopping_) return;
    Job job = std::move(*job_);
    job_.reset();
    drawing_ = true;
    lock.unlock();
    std::vector<RenderedFrame> frames;
    for (std::size_t i = 0; i < job.sizes.size(); ++i) {
      const auto [width, height] = job.sizes[i];
      renderScene(job.settings, job.light, job.sequence, width, height, 4 * width, job.buffers[i]->data());
      frames.push_back({job.sequence, width, height, std::move(job.buffers[i])});
    }
    lock.lock();
    drawing_ = false;
    // A frame the loop has not taken yet is replaced: it would only be sent late.
    done_ = std::move(frames);
    lock.unlock();
    ready_();
    lock.lock();
  }
}

}  // namespace velto::sim
