// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "capture/caller_file.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velto {
namespace {

// A descriptor of our own, closed on leaving.
struct OwnDescriptor {
  int fd = -1;
  ~OwnDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::optional<QString> unwritableFile(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return QStringLiteral("the snapshot needs a file or a pipe opened for writing");
  if (!S_ISREG(st.st_mode) && !S_ISFIFO(st.st_mode)) {
    return QStringLiteral("the snapshot is written to a regular file or a pipe, and this descriptor is neither");
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ((flags & O_ACCMODE) != O_WRONLY && (flags & O_ACCMODE) != O_RDWR)) {
    return QStringLiteral("the snapshot's file is not open for writing");
  }
  return std::nullopt;
}

int writeFully(int fd, const QByteArray& bytes, const CancelToken& cancel) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  OwnDescriptor pipe;
  if (S_ISFIFO(st.st_mode)) {
    // O_NONBLOCK on the caller's own description would be the caller's too (a shell's standard
    // output left non-blocking); opening the pipe anew gives one of ours. No reader: ENXIO.
    pipe.fd = ::open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (pipe.fd < 0) return errno;
    fd = pipe.fd;
  }
  const OwnDescriptor wake{::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  if (wake.fd < 0) return errno;
  const int wakeFd = wake.fd;
  // Ends a wait for room at once; unsubscribed before the eventfd closes.
  const CancelToken::Subscription woken = cancel.onCancel([wakeFd] {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeFd, &one, sizeof one);
  });
  const char* at = bytes.constData();
  auto left = static_cast<std::size_t>(bytes.size());
  while (left > 0) {
    if (cancel.isCancelled()) return ECANCELED;
    const ssize_t n = ::write(fd, at, left);
    if (n > 0) {
      at += n;
      left -= static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) return EIO;  // nothing taken and no reason given: no use trying again
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return errno;
    pollfd wanted[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    if (::poll(wanted, 2, -1) < 0 && errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace velto
