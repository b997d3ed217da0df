// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/sim_carrier.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string_view>

#include "platform/usb/sim_directory.h"

namespace velto::usb {
namespace {

std::int64_t nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Time-outs of 0 mean "none given"; a carrier never waits without bound.
int orDefault(std::uint32_t ms, int fallback) { return ms == 0 ? fallback : static_cast<int>(ms); }

}  // namespace

std::unique_ptr<SimCarrier> SimCarrier::connect(const std::string& socketPath, Status* status,
                                                int timeoutMs) {
  Status ignored = status::success;
  Status& result = status != nullptr ? *status : ignored;
  const std::int64_t deadline = nowMs() + timeoutMs;
  const int fd = connectUnixSocket(socketPath, timeoutMs);
  if (fd < 0) {
    // A socket file without a listener is a camera that is gone.
    result = errno == ECONNREFUSED ? status::noDevice : fromErrno(errno);
    return nullptr;
  }
  std::unique_ptr<SimCarrier> carrier(new SimCarrier(fd));
  result = carrier->send(simcam::Hello{}, deadline);
  simcam::Message message;
  if (result == status::success) result = carrier->receive(message, timeoutMs, deadline);
  if (result == status::success) {
    const auto* welcome = std::get_if<simcam::Welcome>(&message);
    if (welcome == nullptr || welcome->version != simcam::kProtocolVersion) {
      result = std::holds_alternative<simcam::Error>(message) ? status::unsupported : status::ioError;
    } else {
      result = carrier->receive(message, timeoutMs, deadline);
    }
  }
  if (result == status::success) {
    if (auto* info = std::get_if<simcam::DeviceInfo>(&message)) {
      carrier->info_ = std::move(*info);
    } else {
      result = status::ioError;
    }
  }
  if (result != status::success) return nullptr;
  carrier->socketPath_ = socketPath;
  return carrier;
}

SimCarrier::~SimCarrier() { drop(); }

void SimCarrier::drop() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  open_ = false;
}

Status SimCarrier::send(const simcam::Message& message, std::int64_t deadline) {
  if (fd_ < 0) return status::noDevice;
  const std::vector<std::uint8_t> bytes = simcam::encode(message);
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      const std::int64_t left = deadline - nowMs();
      pollfd p{fd_, POLLOUT, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) == 0) return status::timeout;
      continue;
    }
    drop();  // EPIPE, ECONNRESET: the camera closed its end
    return status::noDevice;
  }
  return status::success;
}

Status SimCarrier::receive(simcam::Message& out, int noDataMs, std::int64_t deadline) {
  std::int64_t quietUntil = nowMs() + noDataMs;
  for (;;) {
    if (fd_ < 0) return status::noDevice;
    switch (reader_.next(out)) {
      case simcam::FrameReader::Result::message:
        return status::success;
      case simcam::FrameReader::Result::malformed:
        drop();
        return status::ioError;
      case simcam::FrameReader::Result::needMore:
        break;
    }
    const std::int64_t wait = std::min(quietUntil, deadline) - nowMs();
    if (wait <= 0) return status::timeout;
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(wait));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return status::timeout;
    std::uint8_t buffer[16 * 1024];
    const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      drop();  // end of stream: the camera left the bus
      return status::noDevice;
    }
    reader_.append(std::span(buffer, static_cast<std::size_t>(n)));
    quietUntil = nowMs() + noDataMs;
  }
}

Status SimCarrier::configurationDescriptor(std::vector<std::uint8_t>& out) {
  if (fd_ < 0) return status::noDevice;
  out = info_.configuration;
  return status::success;
}

Status SimCarrier::deviceRequest(DeviceRequest& request) {
  request.wLenDone = 0;
  if (request.pData == nullptr && request.wLength != 0) return status::badArgument;
  if (fd_ < 0) return status::noDevice;
  const int noData = orDefault(request.noDataTimeout, 500);
  const std::int64_t deadline = nowMs() + orDefault(request.completionTimeout, 1000);

  simcam::ControlRequest message;
  message.tag = ++lastTag_;
  message.bmRequestType = request.bmRequestType;
  message.bRequest = request.bRequest;
  message.wValue = request.wValue;
  message.wIndex = request.wIndex;
  message.wLength = request.wLength;
  const auto* bytes = static_cast<const std::uint8_t*>(request.pData);
  if (!request.isDeviceToHost() && request.wLength > 0) {
    message.data.assign(bytes, bytes + request.wLength);
  }
  if (Status s = send(message, deadline); s != status::success) return s;

  for (;;) {
    simcam::Message answer;
    if (Status s = receive(answer, noData, deadline); s != status::success) return s;
    const auto* reply = std::get_if<simcam::ControlReply>(&answer);
    // Anything else, or the answer to a request that already timed out, is dropped.
    if (reply == nullptr || reply->tag != message.tag) continue;
    if (reply->status == status::success) {
      if (request.isDeviceToHost()) {
        const std::size_t n = std::min<std::size_t>(reply->data.size(), request.wLength);
        if (n > 0) std::memcpy(request.pData, reply->data.data(), n);
        request.wLenDone = static_cast<std::uint32_t>(n);
      } else {
        request.wLenDone = request.wLength;
      }
    }
    return reply->status;
  }
}

NoticeSource SimCarrier::noticeSource() {
  if (!noticesAsked_) {
    noticesAsked_ = true;
    if (fd_ < 0) return {};
    notices_ = connect(socketPath_);
    // Another enumeration by now: its notices would be of a device this carrier is not.
    if (notices_ != nullptr && (notices_->info_.registryID != info_.registryID ||
                                notices_->send(simcam::NoticeRequest{}, nowMs() + kConnectTimeoutMs) != status::success)) {
      notices_.reset();
    }
  }
  // The simulated camera tells of every change to every control.
  return notices_ != nullptr ? NoticeSource{notices_->fd_, false, true, {}} : NoticeSource{};
}

StreamSigns SimCarrier::streamSigns() {
  constexpr std::string_view kSuffix = ".sock";
  if (!socketPath_.ends_with(kSuffix)) return {};
  const std::string base = socketPath_.substr(0, socketPath_.size() - kSuffix.size());
  return {base + ".video", base + ".alt"};
}

Notices SimCarrier::takeNotices() {
  Notices result;
  if (notices_ == nullptr) return result;
  SimCarrier& n = *notices_;
  for (;;) {
    simcam::Message message;
    const auto next = n.reader_.next(message);
    if (next == simcam::FrameReader::Result::message) {
      if (const auto* changed = std::get_if<simcam::ControlChanged>(&message)) {
        const ControlNotice notice{changed->unit, changed->selector};
        if (std::find(result.changed.begin(), result.changed.end(), notice) == result.changed.end()) {
          result.changed.push_back(notice);
        }
      }
      continue;  // anything else (an error before closing) is read past
    }
    if (next == simcam::FrameReader::Result::malformed || n.fd_ < 0) break;
    std::uint8_t buffer[4096];
    const ssize_t got = ::recv(n.fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return result;
    if (got <= 0) break;  // the camera left the bus, or the server does not tell of changes
    n.reader_.append(std::span(buffer, static_cast<std::size_t>(got)));
  }
  // The connection stays open (its descriptor is being waited on) until the carrier goes.
  result.ended = true;
  return result;
}

Status SimCarrier::open() {
  if (fd_ < 0) return status::noDevice;
  open_ = true;
  return status::success;
}

Status SimCarrier::reenumerate() {
  if (fd_ < 0) return status::noDevice;
  if (!open_) return status::badArgument;
  const std::int64_t deadline = nowMs() + 1000;
  simcam::Reenumerate message{++lastTag_};
  if (Status s = send(message, deadline); s != status::success) return s;
  for (;;) {
    simcam::Message answer;
    if (Status s = receive(answer, 1000, deadline); s != status::success) return s;
    const auto* reply = std::get_if<simcam::ReenumerateReply>(&answer);
    if (reply == nullptr || reply->tag != message.tag) continue;
    // The camera leaves the bus now; this enumeration is over whatever it answered.
    if (reply->status == status::success) drop();
    return reply->status;
  }
}

}  // namespace velto::usb
