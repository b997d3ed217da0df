// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/sim_server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "platform/usb/sim_directory.h"
#include "support/integer_text.h"

namespace velto::sim {
namespace {

namespace simcam = usb::simcam;

constexpr std::size_t kMaxControlLine = 4096;
// Version-2 clients still get BGRA (docs/simcam-protocol.md).
constexpr std::uint16_t kCodedStreamVersion = simcam::kCodedStreamProtocolVersion;
// The newest version spoken: a client may ask for one of the advertised modes.
constexpr std::uint16_t kNewestVersion = simcam::kModeStreamProtocolVersion;
constexpr std::size_t kMaxOutput = 8 * 1024 * 1024;  // a client that stops reading is dropped
constexpr std::uint64_t kRegistryBase = 0x53494d0000000000;  // "SIM" in the top bytes

std::int64_t realNowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::int64_t realNowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// A stream connection's socket buffer: a few chunks, so a reader that keeps up takes a frame in
// a few wake-ups; the kernel caps it at its own maximum.
constexpr int kStreamSendBuffer = 1 << 20;
// How often the firmware's own changes are looked for while a host wants notices: a few frame
// periods, as a camera's interrupt endpoint would batch them.
constexpr std::int64_t kNoticeLookMs = 100;

int listenAt(const std::string& path) {
  sockaddr_un addr{};
  const int fd = usb::unixSocketFor(path, addr);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

std::string compact(const QJsonObject& object) {
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// accept() failures that say the process or the system is out of something: retrying at once
// fails again.
bool outOfResources(int error) {
  return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

}  // namespace

struct SimServer::Connection {
  int fd = -1;
  std::uint64_t serial = 0;
  bool control = false;   // a `ctl` client rather than a camera host
  bool greeted = false;   // the handshake is done
  bool closing = false;   // close once the output has gone out
  bool dead = false;      // close now
  simcam::FrameReader reader;
  std::string line;       // control: the command received so far
  std::vector<std::uint8_t> out;
  std::uint16_t version = 0;  // of the protocol, once greeted
  bool notices = false;       // carries change notices only
  // Streaming: the size and encoding sent, and the frame under way with how far it has gone.
  bool streaming = false;
  FrameShape shape;
  // The connection's own rate: of each tick's frames it takes `fps` in every tickFps() (a
  // running credit), so a 15 fps stream beside a 30 fps one gets every other frame.
  int fps = 0;
  int credit = 0;
  bool due = false;  // a frame of this tick is owed to it
  RenderedFrame frame;
  std::size_t frameOffset = 0;  // where the chunk being sent starts in the frame
  std::size_t chunkSent = 0;    // bytes of that chunk's message sent, header included
  std::array<std::uint8_t, simcam::kChunkHeaderSize> chunkHeader{};
};

struct SimServer::Pending {
  std::int64_t due = 0;
  std::uint64_t serial = 0;
  std::vector<std::uint8_t> bytes;
};

std::uint64_t allocateRegistryID(const std::string& directory) {
  const std::string path = directory + "/registry-ids";
  std::uint64_t next = 1;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return kRegistryBase | static_cast<std::uint64_t>(realNowMs());  // still fresh
  ::flock(fd, LOCK_EX);
  char text[32] = {};
  if (::pread(fd, text, sizeof text - 1, 0) > 0) {
    next = std::strtoull(text, nullptr, 10) + 1;
  }
  const std::string written = std::to_string(next) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, written.data(), written.size(), 0) < 0) {
    // Without a counter the time still gives a fresh ID.
    next = static_cast<std::uint64_t>(realNowMs());
  }
  ::flock(fd, LOCK_UN);
  ::close(fd);
  return kRegistryBase | (next & 0xffffffffffff);
}

SimServer::SimServer(Profile profile, ServerOptions options, SimCamera::Clock clock)
    : options_(std::move(options)), camera_(std::move(profile), std::move(clock)) {
  options_.latencyMs = std::clamp(options_.latencyMs, 0, kMaxDelayMs);
  options_.reenumerateMs = std::clamp(options_.reenumerateMs, 0, kMaxDelayMs);
  options_.width = std::clamp(options_.width, 16, 4096);
  options_.height = std::clamp(options_.height, 16, 4096);
  options_.fps = std::clamp(options_.fps, 1, 120);
  camera_.setLighting(options_.lighting);
  camera_.setFlipNeedsStream(options_.flipNeedsStream);
}

SimServer::~SimServer() {
  stop();
  shutdown();
  renderer_.reset();  // its thread writes to the wake pipe
  // Closed only now: requestStop() may write to it from any thread until the loop has ended.
  for (int& fd : wake_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

std::string SimServer::socketPath() const { return usb::simSocketPath(options_.directory, options_.id); }
std::string SimServer::controlPath() const { return usb::simControlPath(options_.directory, options_.id); }
std::string SimServer::nodePath() const { return options_.directory + "/" + options_.id + ".video"; }
std::string SimServer::alternateSettingPath() const { return options_.directory + "/" + options_.id + ".alt"; }

void SimServer::showStreaming(bool streaming) {
  shownStreaming_ = streaming;
  const std::string path = alternateSettingPath();
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const char* text = streaming ? "1\n" : "0\n";
  [[maybe_unused]] const ssize_t written = ::write(fd, text, 2);
  ::close(fd);
}

bool SimServer::start(std::string* error) {
  auto fail = [error](std::string text) {
    if (error) *error = std::move(text);
    return false;
  };
  if (!usb::isValidSimID(options_.id)) return fail("invalid camera id '" + options_.id + "'");
  // Hosts trust what they find there: never serve from a directory others could reach.
  if (const usb::SimDirectoryCheck check = usb::prepareSimDirectory(options_.directory, ::getuid()); !check.trusted()) {
    return fail(check.problem);
  }
  const std::string ctl = controlPath();
  if (const int fd = usb::connectUnixSocket(ctl, 200); fd >= 0) {
    ::close(fd);
    return fail("a simulated camera with id '" + options_.id + "' is already running");
  }
  // Whatever is left was left by a simulator that was killed.
  ::unlink(ctl.c_str());
  ::unlink(socketPath().c_str());

  if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) return fail(std::strerror(errno));
  renderer_ = std::make_unique<FrameRenderer>([this] {
    const char byte = 'f';
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
  });
  controlListener_ = listenAt(ctl);
  if (controlListener_ < 0) return fail("cannot listen on " + ctl + ": " + std::strerror(errno));
  if (!options_.logPath.empty() && !log_.open(options_.logPath)) {
    return fail("cannot open the log " + options_.logPath + ": " + std::strerror(errno));
  }
  std::string why;
  if (!plug(&why)) return fail(why);
  log_.event("plug");
  return true;
}

bool SimServer::startThread(std::string* error) {
  if (!start(error)) return false;
  std::thread loop([this] { run(); });
  {
    // command() must find the loop running before this returns.
    std::unique_lock lock(commandsMutex_);
    commandsChanged_.wait(lock, [this] { return phase_ != Phase::idle; });
  }
  thread_ = std::move(loop);
  return true;
}

void SimServer::requestStop() {
  stopRequested_.store(true);
  if (wake_[1] >= 0) {
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
  }
}

void SimServer::stop() {
  requestStop();
  if (thread_.joinable()) thread_.join();
}

bool SimServer::plug(std::string* error) {
  // The node is there before the socket that announces the camera. A fresh file: a program that
  // held the node of an earlier enumeration (or of a simulator that was killed) holds none now.
  const std::string node = nodePath();
  ::unlink(node.c_str());
  const int nodeFd = ::open(node.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (nodeFd < 0) {
    if (error) *error = "cannot create " + node + ": " + std::strerror(errno);
    return false;
  }
  ::close(nodeFd);
  const std::string final = socketPath();
  const std::string temporary = options_.directory + "/." + options_.id + ".sock.tmp";
  ::unlink(temporary.c_str());
  const int fd = listenAt(temporary);
  // Renamed into place only once it listens: a watcher never sees a socket that refuses.
  if (fd < 0 || ::rename(temporary.c_str(), final.c_str()) != 0) {
    if (error) *error = "cannot listen on " + final + ": " + std::strerror(errno);
    if (fd >= 0) ::close(fd);
    ::unlink(temporary.c_str());
    ::unlink(node.c_str());
    return false;
  }
  deviceListener_ = fd;
  registryID_.store(allocateRegistryID(options_.directory));
  showStreaming(false);
  return true;
}

void SimServer::unplug() {
  if (deviceListener_ >= 0) {
    ::unlink(socketPath().c_str());
    ::unlink(nodePath().c_str());
    ::unlink(alternateSettingPath().c_str());
    ::close(deviceListener_);
    deviceListener_ = -1;
  }
  registryID_.store(0);
  pending_.clear();
  // A device that leaves the bus answers nothing more; connections see the end of the stream.
  for (auto& c : connections_) {
    if (!c->control) c->dead = true;
  }
}

void SimServer::reenumerate() {
  unplug();
  plugBackAt_ = realNowMs() + options_.reenumerateMs;
}

void SimServer::shutdown() {
  if (controlListener_ < 0 && deviceListener_ < 0) return;
  if (deviceListener_ >= 0) {
    log_.event("unplug");
    unplug();
  }
  plugBackAt_ = -1;
  for (auto& c : connections_) {
    if (c->streaming) log_.event("stream-stop");
    ::close(c->fd);
  }
  connections_.clear();
  if (controlListener_ >= 0) {
    ::unlink(controlPath().c_str());
    ::close(controlListener_);
    controlListener_ = -1;
  }
}

void SimServer::queue(Connection& c, std::vector<std::uint8_t> bytes) {
  if (c.dead) return;
  c.out.insert(c.out.end(), bytes.begin(), bytes.end());
  if (c.out.size() > kMaxOutput) {
    c.dead = true;
    return;
  }
  flush(c);
}

void SimServer::flush(Connection& c) {
  // A chunk already begun goes out whole first: anything else in between would break the framing.
  if (!sendFrame(c, true)) return;
  while (!c.out.empty() && !c.dead) {
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out.erase(c.out.begin(), c.out.begin() + n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN) {
      return;  // poll() tells when there is room
    } else {
      c.dead = true;
    }
  }
  if (!c.closing) sendFrame(c, false);
}

bool SimServer::sendFrame(Connection& c, bool begunOnly) {
  while (c.frame.pixels && !c.dead) {
    const std::vector<std::uint8_t>& pixels = *c.frame.pixels;
    const std::size_t length = std::min(simcam::kMaxChunkData, pixels.size() - c.frameOffset);
    if (c.chunkSent == 0) {
      if (begunOnly) return true;
      c.chunkHeader = simcam::encodeChunkHeader(c.frame.sequence, static_cast<std::uint32_t>(c.frameOffset), length);
    }
    // The header's rest and the pixels' rest in one call, straight from the shared frame.
    iovec parts[2];
    int count = 0;
    const std::size_t header = simcam::kChunkHeaderSize;
    if (c.chunkSent < header) {
      parts[count++] = {c.chunkHeader.data() + c.chunkSent, header - c.chunkSent};
    }
    const std::size_t dataSent = c.chunkSent > header ? c.chunkSent - header : 0;
    parts[count++] = {const_cast<std::uint8_t*>(pixels.data() + c.frameOffset + dataSent), length - dataSent};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<std::size_t>(count);
    const ssize_t n = ::sendmsg(c.fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return false;
    if (n <= 0) {
      c.dead = true;
      return false;
    }
    c.chunkSent += static_cast<std::size_t>(n);
    if (c.chunkSent == header + length) {
      c.chunkSent = 0;
      c.frameOffset += length;
      if (c.frameOffset == pixels.size()) {
        c.frame = {};
        c.frameOffset = 0;
      }
    }
  }
  return true;
}

void SimServer::acceptOn(int listener, bool control, std::size_t room) {
  for (; room > 0; --room) {
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (outOfResources(errno)) {
        if (!acceptWarned_) {
          std::fprintf(stderr, "velto-simcam: accept failed (%s); new clients wait until one leaves\n",
                       std::strerror(errno));
        }
        acceptWarned_ = true;
        acceptPausedUntil_ = realNowMs() + kAcceptRetryMs;
      }
      return;
    }
    acceptWarned_ = false;
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->serial = ++nextSerial_;
    c->control = control;
    connections_.push_back(std::move(c));
  }
}

void SimServer::readFrom(Connection& c) {
  std::uint8_t buffer[16 * 1024];
  const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (n <= 0) {
    c.dead = true;
    return;
  }
  if (c.closing) return;  // its answer is on the way; the rest is not read
  if (c.control) {
    c.line.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
    const std::size_t end = c.line.find('\n');
    if (end == std::string::npos) {
      if (c.line.size() > kMaxControlLine) c.dead = true;
      return;
    }
    const std::string answer = execute(c.line.substr(0, end)) + "\n";
    c.closing = true;
    queue(c, std::vector<std::uint8_t>(answer.begin(), answer.end()));
    return;
  }
  c.reader.append(std::span(buffer, static_cast<std::size_t>(n)));
  for (;;) {
    simcam::Message message;
    const auto result = c.reader.next(message);
    if (result == simcam::FrameReader::Result::needMore) return;
    if (result == simcam::FrameReader::Result::malformed) {
      queue(c, simcam::encode(simcam::Error{"malformed message"}));
      c.closing = true;
      return;
    }
    onDeviceMessage(c, message);
    if (c.closing || c.dead) return;
  }
}

void SimServer::onDeviceMessage(Connection& c, simcam::Message& message) {
  if (!c.greeted) {
    const auto* hello = std::get_if<simcam::Hello>(&message);
    // The highest version both sides speak.
    const std::uint16_t version =
        hello == nullptr ? 0 : std::min(hello->maxVersion, kNewestVersion);
    if (hello == nullptr || version < simcam::kProtocolVersion || version < hello->minVersion) {
      queue(c, simcam::encode(simcam::Error{"unsupported protocol version; this camera speaks versions " +
                                            std::to_string(simcam::kProtocolVersion) + " to " +
                                            std::to_string(kNewestVersion)}));
      c.closing = true;
      return;
    }
    c.greeted = true;
    c.version = version;
    const Profile& p = camera_.profile();
    queue(c, simcam::encode(simcam::Welcome{version}));
    queue(c, simcam::encode(simcam::DeviceInfo{registryID_.load(), p.vendorID, p.productID, p.locationID,
                                               p.productName, p.configuration}));
    return;
  }
  if (auto* request = std::get_if<simcam::StreamRequest>(&message);
      request != nullptr && c.version >= simcam::kStreamProtocolVersion && !c.streaming) {
    startStream(c, *request);
    return;
  }
  if (auto* request = std::get_if<simcam::StreamModeRequest>(&message);
      request != nullptr && c.version >= simcam::kModeStreamProtocolVersion && !c.streaming) {
    startModeStream(c, *request);
    return;
  }
  // A stream connection carries frames only, a notice connection notices only.
  if (c.streaming || c.notices) {
    queue(c, simcam::encode(simcam::Error{c.streaming ? "unexpected message on a stream connection"
                                                      : "unexpected message on a notice connection"}));
    c.closing = true;
    return;
  }
  if (std::holds_alternative<simcam::NoticeRequest>(message)) {
    if (nextLookAt_ < 0) {
      told_.clear();
      for (const auto& [id, value] : camera_.state()) told_[id] = value;
      nextLookAt_ = realNowMs() + kNoticeLookMs;
    }
    c.notices = true;
    return;
  }
  if (auto* request = std::get_if<simcam::ControlRequest>(&message)) {
    const Setup setup{request->bmRequestType, request->bRequest, request->wValue, request->wIndex,
                      request->wLength};
    std::optional<Reply> reply = camera_.handle(setup, request->data);
    if (!reply) return;  // hung: never answered
    const bool in = (setup.bmRequestType & 0x80) != 0;
    log_.request(setup, in ? std::span<const std::uint8_t>(reply->data) : request->data, reply->status);
    auto bytes = simcam::encode(simcam::ControlReply{request->tag, reply->status, std::move(reply->data)});
    if (options_.latencyMs > 0) {
      pending_.push_back({realNowMs() + options_.latencyMs, c.serial, std::move(bytes)});
    } else {
      queue(c, std::move(bytes));
    }
    return;
  }
  if (auto* reenumerate = std::get_if<simcam::Reenumerate>(&message)) {
    if (held_) {
      // The exclusive open a re-enumeration needs fails while another client holds the camera.
      queue(c, simcam::encode(simcam::ReenumerateReply{reenumerate->tag, usb::status::exclusiveAccess}));
      return;
    }
    queue(c, simcam::encode(simcam::ReenumerateReply{reenumerate->tag, usb::status::success}));
    flush(c);
    log_.event("reenumerate");
    this->reenumerate();
    return;
  }
  // A message only a camera sends, or a second hello.
  queue(c, simcam::encode(simcam::Error{"unexpected message"}));
  c.closing = true;
}

void SimServer::tellChanges() {
  const bool anyone = std::any_of(connections_.begin(), connections_.end(), [](const std::unique_ptr<Connection>& c) {
    return c->notices && !c->dead && !c->closing;
  });
  if (!anyone || registryID_.load() == 0) {
    nextLookAt_ = -1;
    return;
  }
  nextLookAt_ = realNowMs() + kNoticeLookMs;
  std::vector<std::pair<std::uint8_t, std::uint8_t>> changed;
  for (const auto& entry : camera_.state()) {
    const auto& [id, value] = entry;
    auto [it, fresh] = told_.try_emplace(id, value);
    if (fresh || it->second == value) continue;
    it->second = value;
    for (const WireControl& wire : camera_.profile().controls) {
      const bool carries =
          std::any_of(wire.fields.begin(), wire.fields.end(), [&entry](const Field& f) { return f.id == entry.first; });
      const std::pair key{wire.unitID, wire.selector};
      if (carries && std::find(changed.begin(), changed.end(), key) == changed.end()) changed.push_back(key);
    }
  }
  for (const auto& [unit, selector] : changed) {
    const auto bytes = simcam::encode(simcam::ControlChanged{unit, selector});
    for (auto& c : connections_) {
      if (c->notices && !c->dead && !c->closing) queue(*c, bytes);
    }
  }
}

void SimServer::refuseStream(Connection& c, simcam::StreamRefused::Reason reason, std::string text) {
  queue(c, simcam::encode(simcam::StreamRefused{reason, std::move(text)}));
  c.closing = true;
}

bool SimServer::refusedAsBusy(Connection& c) {
  // One streamer at a time, as uvcvideo refuses a second program's S_FMT and STREAMON. A
  // streamer that has hung up is gone, even before this pass has read its end: a program that
  // closed its stream just before another asks has let the camera go.
  const bool taken = busy_ || std::any_of(connections_.begin(), connections_.end(), [&c](const auto& other) {
                       if (other.get() == &c || !other->streaming || other->dead || other->closing) return false;
                       pollfd hangup{other->fd, POLLRDHUP, 0};
                       if (::poll(&hangup, 1, 0) > 0 && (hangup.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
                         other->dead = true;
                         return false;
                       }
                       return true;
                     });
  if (taken) refuseStream(c, simcam::StreamRefused::Reason::busy, "the camera is in use by another application");
  return taken;
}

void SimServer::startStream(Connection& c, const simcam::StreamRequest& request) {
  if (refusedAsBusy(c)) return;
  // The camera's own size, or the largest of its shape that fits.
  const double scale = std::min({1.0, double(request.maxWidth) / options_.width, double(request.maxHeight) / options_.height});
  const int width = static_cast<int>(options_.width * scale), height = static_cast<int>(options_.height * scale);
  if (width < 16 || height < 16) {
    refuseStream(c, simcam::StreamRefused::Reason::unsupported,
           "no frame size fits " + std::to_string(request.maxWidth) + "x" + std::to_string(request.maxHeight));
    return;
  }
  beginStream(c, {width, height, c.version >= kCodedStreamVersion ? cameraEncoding(width, height) : Encoding::bgra},
              options_.fps);
}

void SimServer::startModeStream(Connection& c, const simcam::StreamModeRequest& request) {
  if (refusedAsBusy(c)) return;
  std::string code;
  for (int i = 0; i < 4; ++i) code.push_back(static_cast<char>(request.fourcc >> (8 * i)));
  const std::string asked = code + " " + std::to_string(request.width) + "x" + std::to_string(request.height) + " at " +
                            std::to_string(request.fps) + " fps";
  // Only what the streaming descriptors advertise, as a camera's probe would settle on.
  const StreamFormat* format = nullptr;
  for (const StreamFormat& f : camera_.profile().formats) {
    if (formatCode(f.kind) == code) format = &f;
  }
  const bool offered = format != nullptr && std::any_of(format->frames.begin(), format->frames.end(), [&](const StreamFrame& f) {
    return f.width == request.width && f.height == request.height &&
           std::find(f.fps.begin(), f.fps.end(), int(request.fps)) != f.fps.end();
  });
  if (!offered) {
    refuseStream(c, simcam::StreamRefused::Reason::unsupported, "the camera does not offer " + asked);
    return;
  }
  if (format->kind == StreamFormat::h264) {
    // Advertised as the real camera does, but the simulator has no H.264 encoder.
    refuseStream(c, simcam::StreamRefused::Reason::unsupported, "H.264 is advertised but the simulated camera cannot encode it");
    return;
  }
  beginStream(c, {request.width, request.height, format->kind == StreamFormat::mjpeg ? Encoding::mjpeg : Encoding::yuy2},
              request.fps);
}

void SimServer::beginStream(Connection& c, FrameShape shape, int fps) {
  c.streaming = true;
  c.shape = shape;
  c.fps = fps;
  c.credit = 0;
  c.due = false;
  ::setsockopt(c.fd, SOL_SOCKET, SO_SNDBUF, &kStreamSendBuffer, sizeof kStreamSendBuffer);
  queue(c, simcam::encode(simcam::StreamStart{static_cast<std::uint16_t>(shape.width), static_cast<std::uint16_t>(shape.height),
                                              static_cast<std::uint16_t>(fps)}));
  log_.event("stream-start");
  camera_.setStreaming(true);
  if (nextFrameAt_ < 0) nextFrameAt_ = realNowUs();
}

int SimServer::tickFps() const {
  int fastest = 1;
  for (const auto& c : connections_) {
    if (c->streaming && !c->dead) fastest = std::max(fastest, c->fps);
  }
  return fastest;
}

void SimServer::renderFrame() {
  if (frozen_) return;
  const int tick = tickFps();
  std::vector<FrameShape> shapes;
  for (const auto& c : connections_) {
    if (!c->streaming || c->dead) continue;
    if (!c->due) {
      c->credit += c->fps;
      if (c->credit < tick) continue;
      c->credit -= tick;
      c->due = true;
    }
    if (std::find(shapes.begin(), shapes.end(), c->shape) == shapes.end()) shapes.push_back(c->shape);
  }
  if (shapes.empty()) return;
  // A frame the renderer cannot take now is skipped, as a camera drops frames it cannot send.
  if (renderer_->request(camera_.sceneSettings(), camera_.lighting(), frameSequence_, shapes)) ++frameSequence_;
}

void SimServer::deliverFrames() {
  const std::vector<RenderedFrame> frames = renderer_->take();
  if (frames.empty() || frozen_) return;
  for (auto& c : connections_) {
    // A client still taking the previous frame misses this one; one slower than the tick takes
    // only the frames owed to it.
    if (!c->streaming || c->dead || c->closing || c->frame.pixels || !c->due) continue;
    for (const RenderedFrame& f : frames) {
      if (f.shape == c->shape) {
        c->frame = f;
        c->due = false;
      }
    }
    flush(*c);
  }
}

std::string SimServer::execute(const std::string& line) {
  const std::vector<std::string> w = words(line);
  if (w.empty()) return "error empty command";
  const std::string& verb = w[0];
  auto needs = [&](std::size_t n) { return w.size() == n + 1; };
  auto control = [&](const std::string& name, std::string* error) -> std::optional<ControlID> {
    auto id = controlFromRawValue(name);
    if (!id) {
      *error = "error unknown control '" + name + "'";
    } else if (!camera_.profile().field(*id)) {
      *error = "error this camera has no control " + name;
      id.reset();
    }
    return id;
  };
  const bool plugged = deviceListener_ >= 0;

  if (verb == "state" && needs(0)) {
    QJsonObject state;
    for (const auto& [id, value] : camera_.state()) {
      const std::string_view name = rawValue(id);
      state.insert(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())),
                   static_cast<qint64>(value));
    }
    return "ok " + compact(state);
  }
  if (verb == "info" && needs(0)) {
    const Profile& p = camera_.profile();
    char ids[32], registry[32];
    std::snprintf(ids, sizeof ids, "%04x:%04x", p.vendorID, p.productID);
    std::snprintf(registry, sizeof registry, "0x%016llx",
                  static_cast<unsigned long long>(registryID_.load()));
    return "ok " + compact({
                       {"id", QString::fromStdString(options_.id)},
                       {"profile", QString::fromStdString(p.name)},
                       {"usb", QString::fromLatin1(ids)},
                       {"plugged", plugged},
                       {"registryID", QString::fromLatin1(registry)},
                       {"hung", camera_.hung()},
                       {"socket", QString::fromStdString(socketPath())},
                   });
  }
  if (verb == "set" && needs(2)) {
    std::string error;
    const auto id = control(w[1], &error);
    if (!id) return error;
    const auto value = parseInteger(w[2]);
    if (!value) return "error '" + w[2] + "' is not an integer";
    if (!camera_.set(*id, *value, &error)) return "error " + error;
    return "ok";
  }
  if ((verb == "refuse" || verb == "accept" || verb == "ignore") && needs(1)) {
    std::string error;
    const auto id = control(w[1], &error);
    if (!id) return error;
    if (verb == "refuse") {
      camera_.setRefused(*id, true);
    } else if (verb == "ignore") {
      camera_.setIgnored(*id, true);
    } else {
      camera_.setRefused(*id, false);
      camera_.setIgnored(*id, false);
    }
    return "ok";
  }
  if (verb == "latency" && needs(1)) {
    const auto ms = parseInteger(w[1]);
    if (!ms || *ms < 0) return "error latency: '" + w[1] + "' is not a number of milliseconds";
    if (*ms > kMaxDelayMs) {
      return "error latency: " + std::to_string(*ms) + " ms is more than the maximum of " +
             std::to_string(kMaxDelayMs) + " ms";
    }
    options_.latencyMs = static_cast<int>(*ms);
    return "ok";
  }
  if (verb == "unplug" && needs(0)) {
    if (!plugged && plugBackAt_ < 0) return "error the camera is not plugged in";
    log_.event("unplug");
    unplug();
    plugBackAt_ = -1;
    return "ok";
  }
  if (verb == "plug" && needs(0)) {
    if (plugged) return "error the camera is already plugged in";
    plugBackAt_ = -1;
    std::string error;
    if (!plug(&error)) return "error " + error;
    log_.event("plug");
    return "ok";
  }
  if ((verb == "hold" || verb == "release") && needs(0)) {
    held_ = verb == "hold";
    log_.event(verb);
    return "ok";
  }
  if (verb == "scene" && needs(0)) return "ok " + sceneJson(camera_.lighting());
  if ((verb == "freeze" || verb == "thaw") && needs(0)) {
    frozen_ = verb == "freeze";
    if (!frozen_ && nextFrameAt_ >= 0) nextFrameAt_ = realNowUs();
    log_.event(verb);
    return "ok";
  }
  if ((verb == "busy" || verb == "free") && needs(0)) {
    busy_ = verb == "busy";
    // The other application opens the node before it streams (and lets it go at once: it is
    // not to be found holding it).
    if (busy_) {
      if (const int fd = ::open(nodePath().c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) ::close(fd);
      if (deviceListener_ >= 0) showStreaming(true);
    }
    log_.event(verb);
    return "ok";
  }
  if ((verb == "hang" || verb == "unhang") && needs(0)) {
    camera_.setHung(verb == "hang");
    log_.event(verb);
    return "ok";
  }
  if ((verb == "sleep" || verb == "reenumerate") && needs(0)) {
    if (verb == "sleep") {
      log_.event("sleep");
      camera_.resetToDefaults();
    }
    if (plugged) {
      log_.event("reenumerate");
      reenumerate();
    } else if (verb == "reenumerate") {
      return "error the camera is not plugged in";
    }
    return "ok";
  }
  return "error unknown command or wrong arguments: '" + line + "'";
}

std::string SimServer::command(const std::string& line) {
  // On the heap, never on the caller's stack: the loop thread writes the answer into it.
  auto cmd = std::make_shared<Command>(Command{line, {}, false});
  {
    std::unique_lock lock(commandsMutex_);
    if (phase_ == Phase::stopped) return "error the simulator is stopping";
    // Before run() the caller owns the camera; the loop thread itself must not wait for itself.
    if (phase_ == Phase::idle || std::this_thread::get_id() == loopThread_) {
      lock.unlock();
      return execute(line);
    }
    commands_.push_back(cmd);
  }
  const char byte = 'c';
  [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
  std::unique_lock lock(commandsMutex_);
  commandsChanged_.wait(lock, [&] { return cmd->done; });
  return std::move(cmd->answer);
}

void SimServer::runCommands() {
  std::unique_lock lock(commandsMutex_);
  while (!commands_.empty()) {
    std::shared_ptr<Command> cmd = std::move(commands_.front());
    commands_.pop_front();
    if (phase_ == Phase::running) {
      // Executed without the lock: a command may take a while (plugging), and command() from
      // the loop thread itself runs directly.
      lock.unlock();
      std::string answer = execute(cmd->line);
      lock.lock();
      cmd->answer = std::move(answer);
    } else {
      cmd->answer = "error the simulator is stopping";
    }
    cmd->done = true;
  }
  commandsChanged_.notify_all();
}

void SimServer::run() {
  {
    std::lock_guard lock(commandsMutex_);
    loopThread_ = std::this_thread::get_id();
    phase_ = Phase::running;
  }
  commandsChanged_.notify_all();
  std::vector<pollfd> fds;
  while (!stopRequested_.load()) {
    std::size_t deviceConnections = 0;
    for (const auto& c : connections_) deviceConnections += c->control ? 0 : 1;
    const std::size_t controlConnections = connections_.size() - deviceConnections;
    const std::int64_t now = realNowMs();
    if (acceptPausedUntil_ >= 0 && acceptPausedUntil_ <= now) acceptPausedUntil_ = -1;
    const bool accepting = acceptPausedUntil_ < 0;
    // A listener not polled leaves new clients in its backlog; a negative descriptor is ignored.
    const bool acceptControl = accepting && controlConnections < kMaxControlConnections;
    const bool acceptDevice = accepting && deviceConnections < kMaxDeviceConnections;

    fds.clear();
    fds.push_back({wake_[0], POLLIN, 0});
    fds.push_back({acceptControl ? controlListener_ : -1, POLLIN, 0});
    fds.push_back({acceptDevice ? deviceListener_ : -1, POLLIN, 0});
    const std::size_t base = fds.size();
    for (const auto& c : connections_) {
      const bool sending = !c->out.empty() || c->frame.pixels != nullptr;
      fds.push_back({c->fd, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0});
    }
    std::int64_t timeout = -1;
    auto wakeAt = [&](std::int64_t due) {
      const std::int64_t t = std::max<std::int64_t>(0, due - now);
      timeout = timeout < 0 ? t : std::min(timeout, t);
    };
    if (!pending_.empty()) wakeAt(pending_.front().due);
    if (plugBackAt_ >= 0) wakeAt(plugBackAt_);
    if (acceptPausedUntil_ >= 0) wakeAt(acceptPausedUntil_);
    if (nextFrameAt_ >= 0 && !frozen_) wakeAt((nextFrameAt_ + 999) / 1000);
    if (nextLookAt_ >= 0) wakeAt(nextLookAt_);
    if (::poll(fds.data(), fds.size(), static_cast<int>(std::min<std::int64_t>(timeout, 60000))) < 0 &&
        errno != EINTR) {
      break;
    }
    loopWakeups_.fetch_add(1);

    if (fds[0].revents != 0) {
      char drain[64];
      while (::read(wake_[0], drain, sizeof drain) > 0) {
      }
      runCommands();
      deliverFrames();
    }
    const std::size_t existing = connections_.size();
    for (std::size_t i = 0; i < existing; ++i) {
      Connection& c = *connections_[i];
      const short revents = fds[base + i].revents;
      if (c.dead) continue;
      if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) readFrom(c);
      if ((revents & POLLOUT) != 0) flush(c);
    }
    if (fds[1].fd >= 0 && fds[1].revents != 0) {
      acceptOn(controlListener_, true, kMaxControlConnections - controlConnections);
    }
    // The device listener may have been replaced by a command (unplug, plug) since poll().
    if (fds[2].fd >= 0 && fds[2].fd == deviceListener_ && fds[2].revents != 0) {
      acceptOn(deviceListener_, false, kMaxDeviceConnections - deviceConnections);
    }

    const std::int64_t later = realNowMs();
    while (!pending_.empty() && pending_.front().due <= later) {
      Pending p = std::move(pending_.front());
      pending_.pop_front();
      for (auto& c : connections_) {
        if (c->serial == p.serial) queue(*c, std::move(p.bytes));
      }
    }
    if (nextFrameAt_ >= 0 && !frozen_ && realNowUs() >= nextFrameAt_) {
      renderFrame();
      const std::int64_t period = 1'000'000 / tickFps();
      nextFrameAt_ += period;
      // After a stall the cadence starts afresh instead of catching up in a burst.
      if (nextFrameAt_ < realNowUs()) nextFrameAt_ = realNowUs() + period;
    }
    if (plugBackAt_ >= 0 && plugBackAt_ <= later) {
      plugBackAt_ = -1;
      std::string error;
      if (plug(&error)) {
        log_.event("plug");
      } else {
        std::fprintf(stderr, "velto-simcam: %s\n", error.c_str());
      }
    }

    const std::size_t before = connections_.size();
    std::erase_if(connections_, [this](const std::unique_ptr<Connection>& c) {
      if (c->dead || (c->closing && c->out.empty())) {
        if (c->streaming) log_.event("stream-stop");
        ::close(c->fd);
        return true;
      }
      return false;
    });
    const bool streaming = std::any_of(connections_.begin(), connections_.end(),
                                       [](const std::unique_ptr<Connection>& c) { return c->streaming; });
    // A frozen camera sends no frames, so its auto modes have none to meter either.
    camera_.setStreaming((streaming && !frozen_) || busy_);
    if (deviceListener_ >= 0 && (streaming || busy_) != shownStreaming_) showStreaming(streaming || busy_);
    // Whatever changed the controls in this pass (a host, a command, the firmware's clock) is told.
    if (nextLookAt_ >= 0) tellChanges();
    if (!streaming) nextFrameAt_ = -1;
    // A closed connection gave a descriptor back: accepting may work again.
    if (connections_.size() < before) acceptPausedUntil_ = -1;
    connectionCount_.store(connections_.size());
  }
  {
    std::lock_guard lock(commandsMutex_);
    phase_ = Phase::stopped;
  }
  runCommands();
  shutdown();
}

}  // namespace velto::sim
