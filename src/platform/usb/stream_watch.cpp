// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/stream_watch.h"

#include <fcntl.h>
#include <unistd.h>

#include <QObject>
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
  std::unique_ptr<StreamWatch> watch(new StreamWatch(clock, std::move(signs), std::move(started)));
  watch->events_ = NodeEvents::create(watch->signs_.node, [self = watch.get()](const NodeEvents::Tally& tally) {
    self->onNodeEvents(tally);
  });
  if (!watch->events_) return nullptr;
  return watch;
}

StreamWatch::StreamWatch(Clock& clock, StreamSigns signs, std::function<void()> started)
    : clock_(clock), signs_(std::move(signs)), started_(std::move(started)), context_(std::make_unique<QObject>()) {
  // A stream already running is not a start.
  streaming_ = readSetting(signs_.alternateSetting).value_or(0) != 0;
}

StreamWatch::~StreamWatch() {
  nextLook_.cancel();
  events_.reset();
}

void StreamWatch::onNodeEvents(const NodeEvents::Tally& tally) {
  opens_ += tally.opens;
  closes_ += tally.closes;
  if (tally.gone) {
    nextLook_.cancel();
    return;
  }
  if (tally.opens != 0) eagerUntil_ = clock_.monotonicNow() + kEagerSpan;
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
