// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/frame_renderer.h"

#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <utility>

namespace velto::sim {
namespace {

// Like a webcam's own encoder: good enough that the picture's statistics hardly move, small
// enough to be cheap to send.
constexpr int kJpegQuality = 90;

void putU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t fourcc(const char (&code)[5]) {
  return static_cast<std::uint32_t>(code[0]) | static_cast<std::uint32_t>(code[1]) << 8 |
         static_cast<std::uint32_t>(code[2]) << 16 | static_cast<std::uint32_t>(code[3]) << 24;
}

// BT.601, limited range, in 16.16 fixed point.
std::uint8_t lumaOf(int r, int g, int b) { return static_cast<std::uint8_t>((16829 * r + 33039 * g + 6416 * b + (16 << 16) + 32768) >> 16); }
std::uint8_t blueDifference(int r, int g, int b) {
  return static_cast<std::uint8_t>((-9714 * r - 19070 * g + 28784 * b + (128 << 16) + 32768) >> 16);
}
std::uint8_t redDifference(int r, int g, int b) {
  return static_cast<std::uint8_t>((28784 * r - 24103 * g - 4681 * b + (128 << 16) + 32768) >> 16);
}

void toYuy2(const std::uint8_t* bgra, int width, int height, std::uint8_t* out) {
  const int pairs = (width + 1) / 2;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = bgra + 4 * static_cast<std::size_t>(width) * static_cast<std::size_t>(y);
    std::uint8_t* o = out + 4 * static_cast<std::size_t>(pairs) * static_cast<std::size_t>(y);
    for (int x = 0; x < width; x += 2) {
      const std::uint8_t* p = row + 4 * x;
      const std::uint8_t* q = x + 1 < width ? p + 4 : p;  // an odd last pixel pairs with itself
      const int r = (p[2] + q[2] + 1) / 2, g = (p[1] + q[1] + 1) / 2, b = (p[0] + q[0] + 1) / 2;
      o[0] = lumaOf(p[2], p[1], p[0]);
      o[1] = blueDifference(r, g, b);
      o[2] = lumaOf(q[2], q[1], q[0]);
      o[3] = redDifference(r, g, b);
      o += 4;
    }
  }
}

}  // namespace

Encoding cameraEncoding(int width, int height) {
  return width <= 640 && height <= 480 ? Encoding::yuy2 : Encoding::mjpeg;
}

FrameEncoder::~FrameEncoder() {
  if (jpeg_ != nullptr) tjDestroy(static_cast<tjhandle>(jpeg_));
}

bool FrameEncoder::encode(const std::uint8_t* bgra, int width, int height, Encoding encoding,
                          std::vector<std::uint8_t>& out, std::string* error) {
  const std::size_t rawBytes = 4 * static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  if (encoding == Encoding::bgra) {
    out.assign(bgra, bgra + rawBytes);
    return true;
  }
  if (encoding == Encoding::yuy2) {
    const std::size_t bytes = 4 * static_cast<std::size_t>((width + 1) / 2) * static_cast<std::size_t>(height);
    out.resize(kCodedFrameHeaderSize + bytes);
    putU32(out.data(), fourcc("YUY2"));
    putU32(out.data() + 4, static_cast<std::uint32_t>(bytes));
    toYuy2(bgra, width, height, out.data() + kCodedFrameHeaderSize);
    return true;
  }
  if (jpeg_ == nullptr) jpeg_ = tjInitCompress();
  if (jpeg_ == nullptr) {
    out.clear();
    if (error) *error = std::string("cannot start the JPEG encoder: ") + tjGetErrorStr2(nullptr);
    return false;
  }
  // Straight into the frame's buffer, which is made large enough for the worst case once.
  const unsigned long bound = tjBufSize(width, height, TJSAMP_422);
  out.resize(kCodedFrameHeaderSize + bound);
  unsigned char* jpeg = out.data() + kCodedFrameHeaderSize;
  unsigned long size = bound;
  if (tjCompress2(static_cast<tjhandle>(jpeg_), bgra, width, 4 * width, height, TJPF_BGRA, &jpeg, &size, TJSAMP_422,
                  kJpegQuality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT) != 0) {
    out.clear();
    if (error) *error = std::string("the JPEG encoder failed: ") + tjGetErrorStr2(static_cast<tjhandle>(jpeg_));
    return false;
  }
  out.resize(kCodedFrameHeaderSize + size);
  putU32(out.data(), fourcc("MJPG"));
  putU32(out.data() + 4, static_cast<std::uint32_t>(size));
  return true;
}

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
                            const std::vector<FrameShape>& shapes) {
  {
    std::lock_guard lock(mutex_);
    if (job_ || drawing_) return false;
  }
  Job job{settings, light, sequence, shapes, {}};
  // Raw frames are drawn into the pool's buffers; encoded ones are small and get their own.
  const auto raw = static_cast<std::size_t>(
      std::count_if(shapes.begin(), shapes.end(), [](const FrameShape& s) { return s.encoding == Encoding::bgra; }));
  // Only the loop thread hands buffers out (through take()), so a count of one, the pool's own
  // reference, cannot grow behind this check; the fence pairs with the release of the last
  // sender's reference, whose reads of the pixels then come before our writes.
  for (auto& b : pool_) {
    if (job.buffers.size() < raw && b.use_count() == 1) {
      std::atomic_thread_fence(std::memory_order_acquire);
      job.buffers.push_back(b);
    }
  }
  while (job.buffers.size() < raw) {
    if (pool_.size() >= kPoolSize) return false;
    job.buffers.push_back(pool_.emplace_back(std::make_shared<std::vector<std::uint8_t>>()));
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
    if (!(job.settings == cachedSettings_ && job.light == cachedLight_)) {
      cache_.clear();
      cachedSettings_ = job.settings;
      cachedLight_ = job.light;
    }
    const std::uint64_t phase = job.sequence % kNoisePeriod;
    std::size_t nextBuffer = 0;
    for (const FrameShape& shape : job.shapes) {
      if (shape.encoding == Encoding::bgra) {
        std::shared_ptr<std::vector<std::uint8_t>> out = std::move(job.buffers[nextBuffer++]);
        out->resize(4 * static_cast<std::size_t>(shape.width) * static_cast<std::size_t>(shape.height));
        renderScene(job.settings, job.light, job.sequence, shape.width, shape.height, 4 * shape.width, out->data());
        frames.push_back({job.sequence, shape, std::move(out)});
        continue;
      }
      const auto cached = std::find_if(cache_.begin(), cache_.end(),
                                       [&](const Encoded& e) { return e.shape == shape && e.phase == phase; });
      if (cached != cache_.end()) {
        frames.push_back({job.sequence, shape, cached->bytes});
        continue;
      }
      raw_.resize(4 * static_cast<std::size_t>(shape.width) * static_cast<std::size_t>(shape.height));
      renderScene(job.settings, job.light, job.sequence, shape.width, shape.height, 4 * shape.width, raw_.data());
      std::string error;
      if (!encoder_.encode(raw_.data(), shape.width, shape.height, shape.encoding, encoded_, &error)) {
        if (!std::exchange(encodeFailed_, true)) std::fprintf(stderr, "velto-simcam: %s\n", error.c_str());
        continue;  // the frame is dropped, as a camera drops one it cannot encode
      }
      // A buffer of its own, no larger than the frame: it is kept and sent again.
      auto out = std::make_shared<const std::vector<std::uint8_t>>(encoded_);
      if (cache_.size() >= kMaxCached) cache_.clear();
      cache_.push_back({shape, phase, out});
      frames.push_back({job.sequence, shape, std::move(out)});
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
