// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/node_events.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <array>
#include <cerrno>

#include "support/log.h"

namespace velto::usb {

std::unique_ptr<NodeEvents> NodeEvents::create(const std::string& path, std::function<void(const Tally&)> changed) {
  if (path.empty()) return nullptr;
  const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) {
    log::systemCallFailed(log::Layer::usb, "inotify_init1", path, errno);
    return nullptr;
  }
  if (::inotify_add_watch(fd, path.c_str(), IN_OPEN | IN_CLOSE | IN_DELETE_SELF) < 0) {
    log::systemCallFailed(log::Layer::usb, "inotify_add_watch", path, errno);
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<NodeEvents>(new NodeEvents(path, std::move(changed), fd));
}

NodeEvents::NodeEvents(std::string path, std::function<void(const Tally&)> changed, int inotifyFd)
    : path_(std::move(path)),
      changed_(std::move(changed)),
      fd_(inotifyFd),
      context_(std::make_unique<QObject>()),
      notifier_(std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read)) {
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, context_.get(), [this] { onEvents(); });
}

NodeEvents::~NodeEvents() {
  notifier_.reset();
  ::close(fd_);
}

void NodeEvents::onEvents() {
  alignas(inotify_event) std::array<char, 4096> buffer{};
  Tally tally;
  for (;;) {
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n <= 0) break;
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + at);
      if ((event->mask & IN_OPEN) != 0) ++tally.opens;
      if ((event->mask & IN_CLOSE) != 0) ++tally.closes;
      if ((event->mask & (IN_DELETE_SELF | IN_IGNORED)) != 0) tally.gone = true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  // The node went with its camera: the camera's next connection watches the new one.
  if (tally.gone) notifier_->setEnabled(false);
  if (tally.opens != 0 || tally.closes != 0 || tally.gone) changed_(tally);
}

}  // namespace velto::usb
