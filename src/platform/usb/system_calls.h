// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The kernel as the Linux carriers see it: the few system calls they make on device nodes and
// sysfs files, behind one small interface so that tests can stand in for a driver and count what
// the carriers read.
//
// Every call has the shape and result of the system call it is named after: -1 with errno set on
// failure. Translating errno into a Status is the caller's job, done once, right where the call
// returns; so is logging it. An implementation is shared by every carrier and may be called from
// any thread; the real one holds no state.
#pragma once

#include <cerrno>
#include <cstddef>
#include <string>
#include <sys/types.h>

namespace velto::usb {

class SystemCalls {
 public:
  virtual ~SystemCalls() = default;

  // open(2) of a device node or a sysfs file; returns the new descriptor.
  virtual int open(const std::string& path, int flags) = 0;
  // close(2).
  virtual int close(int fd) = 0;
  // ioctl(2) with a pointer argument; the real one restarts after EINTR.
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  // read(2); the real one restarts after EINTR.
  virtual ssize_t read(int fd, void* buffer, std::size_t size) = 0;
  // A second descriptor for the same open file (close-on-exec), as F_DUPFD_CLOEXEC makes one;
  // kernels without file descriptions of their own need not offer it (ENOSYS).
  virtual int duplicate(int fd) {
    (void)fd;
    errno = ENOSYS;
    return -1;
  }

  // The process's own kernel.
  static SystemCalls& real();
};

}  // namespace velto::usb
