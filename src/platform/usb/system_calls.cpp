// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/system_calls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velto::usb {
namespace {

class RealSystemCalls final : public SystemCalls {
 public:
  int open(const std::string& path, int flags) override {
    // Never handed to a child process, never a controlling terminal.
    return ::open(path.c_str(), flags | O_CLOEXEC | O_NOCTTY);
  }

  int close(int fd) override { return ::close(fd); }

  int ioctl(int fd, unsigned long request, void* arg) override {
    int r;
    do {
      r = ::ioctl(fd, request, arg);
    } while (r == -1 && errno == EINTR);
    return r;
  }

  ssize_t read(int fd, void* buffer, std::size_t size) override {
    ssize_t n;
    do {
      n = ::read(fd, buffer, size);
    } while (n == -1 && errno == EINTR);
    return n;
  }

  int duplicate(int fd) override { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }
};

}  // namespace

SystemCalls& SystemCalls::real() {
  static RealSystemCalls calls;
  return calls;
}

}  // namespace velto::usb
