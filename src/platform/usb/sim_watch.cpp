// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/sim_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <string_view>

#include "platform/usb/sim_directory.h"
#include "support/log.h"

namespace velto::usb {

struct SimWatch::Impl {
  int fd = -1;
  std::unique_ptr<QSocketNotifier> notifier;
  std::function<void()> onChange;

  ~Impl() {
    notifier.reset();
    if (fd >= 0) ::close(fd);
  }

  // Drains every pending event; true when one of them concerns a device socket.
  bool drain() {
    bool changed = false;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if ((event->mask & IN_Q_OVERFLOW) != 0) {
          changed = true;  // events were lost: something may have changed
        } else if (event->len > 0 && isSimSocketName(std::string_view(event->name))) {
          changed = true;
        }
      }
    }
    return changed;
  }
};

SimWatch::SimWatch(std::string directory, std::function<void()> onChange)
    : impl_(std::make_unique<Impl>()) {
  impl_->onChange = std::move(onChange);
  if (const SimDirectoryCheck check = prepareSimDirectory(directory, ::getuid()); !check.trusted()) {
    log::warning(log::Layer::usb, "not watching for simulated cameras: " + check.problem);
    return;
  }
  impl_->fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (impl_->fd < 0) return;
  // Servers bind under a temporary name and rename it into place once they listen, so a camera
  // appears as IN_MOVED_TO; IN_CREATE covers other writers of the directory.
  constexpr std::uint32_t mask = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE_SELF;
  if (::inotify_add_watch(impl_->fd, directory.c_str(), mask) < 0) {
    ::close(impl_->fd);
    impl_->fd = -1;
    return;
  }
  impl_->notifier = std::make_unique<QSocketNotifier>(impl_->fd, QSocketNotifier::Read);
  Impl* impl = impl_.get();
  QObject::connect(impl_->notifier.get(), &QSocketNotifier::activated, impl_->notifier.get(), [impl] {
    if (impl->drain() && impl->onChange) impl->onChange();
  });
}

SimWatch::~SimWatch() = default;

bool SimWatch::isActive() const { return impl_->notifier != nullptr; }

}  // namespace velto::usb
