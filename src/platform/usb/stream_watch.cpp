// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/stream_watch.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <array>
#include <cerrno>
#include <charconv>
#include <optional>

#include "support/log.h"

namespace velto::usb {
namespace {

// The attribute's number (" 1\n" as sysfs writes it); none when it cannot be read.
std::optional<int> readSetting(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::array<char, 32> text{};
  const ssize_t n = ::read(fd, text.data(), text.size());
  ::close(fd);
  if (n <= 0) return std::nullopt;
  const char* begin = text.data();
  const char* end = text.data() + n;
  while (begin < end && *begin == ' ') ++begin;
  int value = 0;
  if (std::from_chars(begin, end, value).ec != std::errc{}) return std::nullopt;
  return value;
}

}  // namespace

std::unique_ptr<StreamWatch> StreamWatch::create(Clock& clock, StreamSigns signs, std::function<void()> started) {
  if (signs.empty()) return nullptr;
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    log::systemCallFailed(log::Layer::usb, "inotify_init1", signs.node, errno);
    return nullptr;
  }
  if (::inotify_add_watch(fd, signs.node.c_str(), IN_OPEN | IN_CLOSE | IN_DELETE_SELF) < 0) {
    log::systemCallFailed(log::Layer::usb, "inotify_add_watch", signs.node, errno);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<StreamWatch>(new StreamWatch(clock, std::move(signs), std::move(started), fd));
}

StreamWatch::StreamWatch(Clock& clock, StreamSigns signs, std::function<void()> started, int inotifyFd)
    : clock_(clock),
      signs_(std::move(signs)),
      started_(std::move(started)),
      fd_(inotifyFd),
      context_(std::make_unique<QObject>()),
      notifier_(std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read)) {
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, context_.get(), [this] { onNodeEvents(); });
  // A stream already running is not a start.
  streaming_ = readSetting(signs_.alternateSetting).value_or(0) != 0;
}

StreamWatch::~StreamWatch() {
  nextLook_.cancel();
  notifier_.reset();
  ::close(fd_);
}

void StreamWatch::onNodeEvents() {
  alignas(inotify_event) std::array<char, 4096> buffer{};
  bool opened = false;
  bool gone = false;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
      if ((event->mask & IN_OPEN) != 0) {
        ++opens_;
        opened = true;
      }
      if ((event->mask & IN_CLOSE) != 0) ++closes_;
      if ((event->mask & (IN_DELETE_SELF | IN_IGNORED)) != 0) gone = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  if (gone) {
    // The node went with its camera; the camera's next connection watches the new one.
    notifier_->setEnabled(false);
    nextLook_.cancel();
    return;
  }
  if (opened) eagerUntil_ = clock_.monotonicNow() + kEagerSpan;
  // A close may be the stream's end: seen now, so that the next start is one.
  look();
}

void StreamWatch::look() {
  if (const std::optional<int> setting = readSetting(signs_.alternateSetting)) {
    const bool streaming = *setting != 0;
    const bool started = streaming && !streaming_;
    streaming_ = streaming;
    if (started) started_();
  }
  const Clock::MonotonicTime now = clock_.monotonicNow();
  Clock::Duration next{};
  if (now < eagerUntil_) {
    next = kEagerLook;
  } else if (opens_ > closes_) {
    next = kHeldLook;
  } else {
    nextLook_.cancel();
    return;
  }
  nextLook_ = clock_.singleShot(context_.get(), next, [this] { look(); });
}

}  // namespace velto::usb
