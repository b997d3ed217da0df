// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/video/sim_stream.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/usb/sim_directory.h"
#include "platform/usb/simcam_protocol.h"

namespace velto::video {
namespace {

namespace simcam = usb::simcam;
using Result = SimStream::Result;
using Format = SimStream::Format;

constexpr std::uint16_t kCodedStreamVersion = simcam::kCodedStreamProtocolVersion;
constexpr std::size_t kCodedFrameHeaderSize = simcam::kCodedFrameHeaderSize;

std::uint32_t u32At(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

constexpr std::uint32_t fourcc(const char (&code)[5]) {
  return static_cast<std::uint32_t>(code[0]) | static_cast<std::uint32_t>(code[1]) << 8 |
         static_cast<std::uint32_t>(code[2]) << 16 | static_cast<std::uint32_t>(code[3]) << 24;
}

// How long the handshake may take; a live simulator answers at once.
constexpr int kHandshakeMs = 5000;
// Frame buffers kept for reuse: one being filled, a few held downstream.
constexpr std::size_t kPoolSize = 4;

void say(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

std::int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct SimStream::Impl {
  enum class Io { done, closed, interrupted, timedOut, failed };

  int fd = -1;
  std::mutex fdMutex;  // over replacing `fd`, against interrupt() shutting it down meanwhile
  int wakeup = -1;  // eventfd written by interrupt()
  std::atomic<bool> interrupted{false};
  std::uint16_t version = 0;
  // The most a frame may take: exactly its pixels in BGRA, at most 4 × width × height bytes
  // after the frame header otherwise.
  std::size_t frameBytes = 0;
  std::optional<Format> format;  // of the stream's first frame
  std::vector<std::shared_ptr<std::uint8_t[]>> pool;
  int savedErrno = 0;

  ~Impl() {
    if (fd >= 0) ::close(fd);
    if (wakeup >= 0) ::close(wakeup);
  }

  // Waits for the socket to be ready for `events`; deadline in ms of nowMs(), or -1 for none.
  Io wait(short events, std::int64_t deadline) {
    for (;;) {
      if (interrupted.load()) return Io::interrupted;
      const std::int64_t left = deadline < 0 ? -1 : deadline - nowMs();
      if (deadline >= 0 && left <= 0) return Io::timedOut;
      pollfd fds[2] = {{fd, events, 0}, {wakeup, POLLIN, 0}};
      const int n = ::poll(fds, 2, static_cast<int>(std::min<std::int64_t>(left, 60'000)));
      if (n < 0 && errno != EINTR) {
        savedErrno = errno;
        return Io::failed;
      }
      if (fds[1].revents != 0) return Io::interrupted;
      if (n > 0 && fds[0].revents != 0) return Io::done;
    }
  }

  // Reads exactly `size` bytes into `into`, straight from the socket.
  Io read(std::uint8_t* into, std::size_t size, std::int64_t deadline) {
    std::size_t got = 0;
    while (got < size) {
      if (interrupted.load()) return Io::interrupted;
      const ssize_t n = ::recv(fd, into + got, size - got, 0);
      if (n > 0) {
        got += static_cast<std::size_t>(n);
      } else if (n == 0) {
        return Io::closed;
      } else if (errno == EAGAIN || errno == EINTR) {
        if (const Io w = wait(POLLIN, deadline); w != Io::done) return w;
      } else if (errno == ECONNRESET) {
        return Io::closed;
      } else {
        savedErrno = errno;
        return Io::failed;
      }
    }
    return Io::done;
  }

  Io send(const std::vector<std::uint8_t>& bytes, std::int64_t deadline) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        if (const Io w = wait(POLLOUT, deadline); w != Io::done) return w;
      } else {
        if (errno == EPIPE || errno == ECONNRESET) return Io::closed;
        savedErrno = errno;
        return Io::failed;
      }
    }
    return Io::done;
  }

  // The rest of a message whose first five bytes (length and type) are in `start`.
  Io readRest(const std::uint8_t* start, simcam::Message& out, bool& malformed, std::int64_t deadline) {
    const std::uint32_t length = static_cast<std::uint32_t>(start[0]) | static_cast<std::uint32_t>(start[1]) << 8 |
                                 static_cast<std::uint32_t>(start[2]) << 16 | static_cast<std::uint32_t>(start[3]) << 24;
    malformed = length == 0 || length > simcam::kMaxBodySize;
    if (malformed) return Io::done;
    std::vector<std::uint8_t> body(length);
    body[0] = start[4];
    if (const Io io = read(body.data() + 1, length - 1, deadline); io != Io::done) return io;
    auto message = simcam::decodeBody(body);
    malformed = !message;
    if (message) out = std::move(*message);
    return Io::done;
  }

  Result failure(Io io, std::string* error) {
    switch (io) {
      case Io::interrupted: say(error, "interrupted"); return Result::interrupted;
      case Io::closed: say(error, "the simulated camera went away"); return Result::vanished;
      case Io::timedOut: say(error, "the simulated camera did not answer"); return Result::refused;
      default: say(error, std::string("reading from the simulated camera failed: ") + std::strerror(savedErrno));
               return Result::vanished;
    }
  }

  std::shared_ptr<std::uint8_t[]> buffer() {
    // A count of one is the pool's own reference: no frame handed out still uses it. The fence
    // pairs with the release of the last holder's reference on another thread.
    for (auto& b : pool) {
      if (b.use_count() == 1) {
        std::atomic_thread_fence(std::memory_order_acquire);
        return b;
      }
    }
    std::shared_ptr<std::uint8_t[]> fresh(new std::uint8_t[frameBytes]);
    if (pool.size() < kPoolSize) pool.push_back(fresh);
    return fresh;
  }
};

SimStream::SimStream() : impl_(std::make_unique<Impl>()) {
  impl_->wakeup = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

SimStream::~SimStream() = default;

void SimStream::interrupt() {
  impl_->interrupted.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(impl_->wakeup, &one, sizeof one);
  // The camera learns at once that this stream is over, before the reader lets the socket go: a
  // stream asked for next (the session rebuilt, another program) does not find it still taken.
  std::lock_guard lock(impl_->fdMutex);
  if (impl_->fd >= 0) ::shutdown(impl_->fd, SHUT_RDWR);
}

SimStream::Result SimStream::open(const std::string& socketPath, int maxWidth, int maxHeight, std::string* error) {
  return open(socketPath, std::nullopt, maxWidth, maxHeight, error);
}

SimStream::Result SimStream::open(const std::string& socketPath, const CaptureMode& mode, std::string* error) {
  return open(socketPath, mode, mode.width, mode.height, error);
}

SimStream::Result SimStream::open(const std::string& socketPath, const std::optional<CaptureMode>& mode, int maxWidth,
                                  int maxHeight, std::string* error) {
  Impl& s = *impl_;
  if (s.interrupted.load()) return s.failure(Impl::Io::interrupted, error);
  if (s.wakeup < 0) {
    say(error, std::string("cannot create an eventfd: ") + std::strerror(errno));
    return Result::refused;
  }
  const int connected = usb::connectUnixSocket(socketPath, 1000);
  {
    std::lock_guard lock(s.fdMutex);
    if (s.fd >= 0) ::close(s.fd);
    s.fd = connected;
  }
  if (s.fd < 0) {
    say(error, "no simulated camera at " + socketPath + ": " + std::strerror(errno));
    return Result::refused;
  }
  const std::int64_t deadline = nowMs() + kHandshakeMs;
  // A mode is asked for once the server has said which version it speaks; a size goes out with
  // the hello.
  std::vector<std::uint8_t> hello = simcam::encode(
      simcam::Hello{simcam::kStreamProtocolVersion, mode ? simcam::kModeStreamProtocolVersion : kCodedStreamVersion});
  const std::vector<std::uint8_t> request = simcam::encode(simcam::StreamRequest{
      static_cast<std::uint16_t>(std::clamp(maxWidth, 0, 0xffff)), static_cast<std::uint16_t>(std::clamp(maxHeight, 0, 0xffff))});
  if (!mode) hello.insert(hello.end(), request.begin(), request.end());
  if (const auto io = s.send(hello, deadline); io != Impl::Io::done) return s.failure(io, error);

  bool welcomed = false;
  for (;;) {
    std::uint8_t start[5];
    simcam::Message message;
    bool malformed = false;
    auto io = s.read(start, sizeof start, deadline);
    if (io == Impl::Io::done) io = s.readRest(start, message, malformed, deadline);
    if (io != Impl::Io::done) return s.failure(io, error);
    if (malformed) {
      say(error, "the simulated camera sent a message this client cannot read");
      return Result::malformed;
    }
    if (const auto* e = std::get_if<simcam::Error>(&message)) {
      say(error, "the simulated camera does not stream: " + e->text);
      return Result::refused;
    }
    if (const auto* w = std::get_if<simcam::Welcome>(&message); w && !welcomed) {
      if (w->version < simcam::kStreamProtocolVersion) {
        say(error, "the simulated camera does not stream (protocol version " + std::to_string(w->version) + ")");
        return Result::refused;
      }
      welcomed = true;
      s.version = w->version;
      if (mode) {
        const bool exact = w->version >= simcam::kModeStreamProtocolVersion;
        const auto wire = [](int v) { return static_cast<std::uint16_t>(std::clamp(v, 0, 0xffff)); };
        const auto ask = exact ? simcam::encode(simcam::StreamModeRequest{mode->fourcc, wire(mode->width), wire(mode->height),
                                                                          wire(mode->fps)})
                               : request;
        if (const auto io = s.send(ask, deadline); io != Impl::Io::done) return s.failure(io, error);
      }
    } else if (std::holds_alternative<simcam::DeviceInfo>(message) && welcomed) {
      // The description of the device; the registry has it already.
    } else if (const auto* r = std::get_if<simcam::StreamRefused>(&message); r && welcomed) {
      say(error, r->text);
      return r->reason == simcam::StreamRefused::Reason::busy ? Result::busy : Result::refused;
    } else if (const auto* start = std::get_if<simcam::StreamStart>(&message); start && welcomed) {
      width_ = start->width;
      height_ = start->height;
      fps_ = start->fps;
      s.frameBytes = 4 * static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_);
      if (s.version >= kCodedStreamVersion) s.frameBytes += kCodedFrameHeaderSize;
      s.format.reset();
      s.pool.clear();
      return Result::frame;
    } else {
      say(error, "the simulated camera sent an unexpected message");
      return Result::malformed;
    }
  }
}

SimStream::Result SimStream::next(Packet& packet, std::string* error) {
  Impl& s = *impl_;
  if (s.interrupted.load()) return s.failure(Impl::Io::interrupted, error);
  if (s.fd < 0 || s.frameBytes == 0) {
    say(error, "the stream is not open");
    return Result::refused;
  }
  auto outOfPlace = [&](const char* what) {
    say(error, std::string("the simulated camera sent ") + what);
    return Result::malformed;
  };
  const bool coded = s.version >= kCodedStreamVersion;
  std::shared_ptr<std::uint8_t[]> bytes;
  std::uint32_t sequence = 0;
  std::size_t filled = 0;
  // A raw frame's length is known up front; a coded one's once its header is in.
  std::size_t total = coded ? 0 : s.frameBytes;
  Format format = Format::bgra;
  while (total == 0 || filled < total) {
    std::uint8_t header[simcam::kChunkHeaderSize];
    if (const auto io = s.read(header, 5, -1); io != Impl::Io::done) return s.failure(io, error);
    if (header[4] != static_cast<std::uint8_t>(simcam::MessageType::frameChunk)) {
      // Not a chunk: the server explains why it gives up, or breaks the protocol.
      simcam::Message message;
      bool malformed = false;
      if (const auto io = s.readRest(header, message, malformed, nowMs() + kHandshakeMs); io != Impl::Io::done) {
        return s.failure(io, error);
      }
      const auto* e = std::get_if<simcam::Error>(&message);
      say(error, e ? "the simulated camera stopped the stream: " + e->text
                   : std::string("the simulated camera sent an unexpected message"));
      return Result::malformed;
    }
    if (const auto io = s.read(header + 5, simcam::kChunkHeaderSize - 5, -1); io != Impl::Io::done) {
      return s.failure(io, error);
    }
    const auto chunk = simcam::decodeChunkHeader(std::span<const std::uint8_t, simcam::kChunkHeaderSize>(header));
    // Chunks fill one frame in order, back to back, and never past its end.
    const std::size_t room = (total == 0 ? s.frameBytes : total) - filled;
    if (!chunk || chunk->offset != filled || (filled > 0 && chunk->sequence != sequence) || chunk->dataLength > room ||
        (total == 0 && chunk->dataLength < kCodedFrameHeaderSize)) {
      return outOfPlace("a frame chunk out of place");
    }
    if (filled == 0) {
      bytes = s.buffer();
      sequence = chunk->sequence;
    }
    if (const auto io = s.read(bytes.get() + filled, chunk->dataLength, -1); io != Impl::Io::done) {
      return s.failure(io, error);
    }
    filled += chunk->dataLength;
    if (total == 0) {
      // The first chunk of a coded frame starts with its header.
      const std::uint32_t code = u32At(bytes.get());
      const std::size_t length = u32At(bytes.get() + 4);
      const std::size_t yuy2Bytes = 4 * static_cast<std::size_t>((width_ + 1) / 2) * static_cast<std::size_t>(height_);
      if (code == fourcc("YUY2") && length == yuy2Bytes) {
        format = Format::yuy2;
      } else if (code == fourcc("MJPG") && length > 0 && length <= s.frameBytes - kCodedFrameHeaderSize) {
        format = Format::mjpeg;
      } else {
        return outOfPlace("a frame of an unknown format or length");
      }
      total = kCodedFrameHeaderSize + length;
      if (filled > total) return outOfPlace("a frame chunk out of place");
    }
  }
  if (s.format && *s.format != format) return outOfPlace("a frame in another format than the stream's");
  s.format = format;
  const std::size_t skip = coded ? kCodedFrameHeaderSize : 0;
  packet.format = format;
  packet.width = width_;
  packet.height = height_;
  packet.bytesPerRow = format == Format::bgra ? 4 * width_ : format == Format::yuy2 ? 4 * ((width_ + 1) / 2) : 0;
  packet.data = bytes.get() + skip;
  packet.size = total - skip;
  packet.owner = std::move(bytes);
  return Result::frame;
}

}  // namespace velto::video
