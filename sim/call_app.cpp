// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/call_app.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <variant>
#include <vector>

#include "platform/usb/sim_directory.h"
#include "platform/usb/simcam_protocol.h"

namespace velto::sim {
namespace {

namespace simcam = usb::simcam;

// A descriptor closed when it goes out of scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f) : fd(f) {}
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

using Steady = std::chrono::steady_clock;

int msLeft(Steady::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool sendAll(int fd, const std::vector<std::uint8_t>& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// Reads into `reader` what is there within the deadline; false once the peer closed or failed.
bool receive(int fd, simcam::FrameReader& reader, Steady::time_point deadline) {
  pollfd p{fd, POLLIN, 0};
  const int ready = ::poll(&p, 1, msLeft(deadline));
  if (ready < 0) return errno == EINTR;
  if (ready == 0) return true;
  std::uint8_t buffer[65536];
  const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  reader.append({buffer, static_cast<std::size_t>(n)});
  return true;
}

}  // namespace

CallAppResult runCallApp(const std::string& directory, const std::string& id, const CallAppOptions& options,
                         std::string* error, double* freeAfterMs) {
  auto fail = [error](std::string text) {
    if (error) *error = std::move(text);
    return CallAppResult::failed;
  };
  const std::string node = directory + "/" + id + ".video";
  // Held until the end, as a call application holds the camera's node for the whole call.
  const Fd nodeFd(::open(node.c_str(), O_RDONLY | O_CLOEXEC));
  if (nodeFd.fd < 0) return fail("cannot open " + node + ": " + std::strerror(errno));
  const auto opened = Steady::now();
  const auto askAt = opened + std::chrono::milliseconds(options.afterMs);
  if (options.timing && freeAfterMs != nullptr) {
    *freeAfterMs = -1;
    const std::string alternate = directory + "/" + id + ".alt";
    while (Steady::now() < askAt) {
      char setting = '1';
      if (const int fd = ::open(alternate.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        if (::read(fd, &setting, 1) != 1) setting = '1';
        ::close(fd);
      }
      if (setting == '0') {
        *freeAfterMs = std::chrono::duration<double, std::milli>(Steady::now() - opened).count();
        break;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }
  std::this_thread::sleep_until(askAt);

  const std::string socketPath = usb::simSocketPath(directory, id);
  const Fd socket(usb::connectUnixSocket(socketPath, 1000));
  if (socket.fd < 0) return fail("no simulated camera at " + socketPath + ": " + std::strerror(errno));
  std::vector<std::uint8_t> hello =
      simcam::encode(simcam::Hello{simcam::kStreamProtocolVersion, simcam::kCodedStreamProtocolVersion});
  const auto request = simcam::encode(simcam::StreamRequest{640, 480});
  hello.insert(hello.end(), request.begin(), request.end());
  if (!sendAll(socket.fd, hello)) return fail("the simulated camera closed the connection");

  simcam::FrameReader reader;
  const auto answerBy = Steady::now() + std::chrono::seconds(5);
  for (bool started = false; !started;) {
    simcam::Message message;
    const auto got = reader.next(message);
    if (got == simcam::FrameReader::Result::malformed) return fail("the simulated camera sent a message this client cannot read");
    if (got == simcam::FrameReader::Result::needMore) {
      if (msLeft(answerBy) == 0) return fail("the simulated camera did not answer the stream request");
      if (!receive(socket.fd, reader, answerBy)) return fail("the simulated camera closed the connection");
      continue;
    }
    if (const auto* refused = std::get_if<simcam::StreamRefused>(&message)) {
      if (refused->reason == simcam::StreamRefused::Reason::busy) return CallAppResult::busy;
      return fail("the simulated camera refused the stream: " + refused->text);
    }
    if (const auto* e = std::get_if<simcam::Error>(&message)) return fail("the simulated camera does not stream: " + e->text);
    started = std::holds_alternative<simcam::StreamStart>(message);
  }

  // The frames are read and dropped, so the camera sends at its pace as to any viewer.
  const auto holdUntil = Steady::now() + std::chrono::milliseconds(options.holdMs);
  simcam::FrameReader sink;
  while (msLeft(holdUntil) > 0) {
    if (!receive(socket.fd, sink, holdUntil)) break;  // unplugged meanwhile: the call ends
    simcam::Message message;
    auto got = simcam::FrameReader::Result::message;
    while ((got = sink.next(message)) == simcam::FrameReader::Result::message) {
    }
    if (got == simcam::FrameReader::Result::malformed) break;
  }
  return CallAppResult::streaming;
}

}  // namespace velto::sim
