// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The system-call seam with a kernel made of test state: device nodes by path, each answered by a
// fake uvcvideo, a usbfs node that counts resets, and failures switched on per node. Any other
// path is a real file (the sysfs tree a test built), opened (and counted) and read for real.
#pragma once

#include <cerrno>
#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <map>
#include <string>

#include "fake_uvc_driver.h"
#include "platform/usb/system_calls.h"

namespace velto::testing {

class FakeKernel final : public usb::SystemCalls {
 public:
  struct Node {
    FakeUvcDriver* driver = nullptr;  // null: a usbfs node
    int openErrno = 0;                // open() fails with it
    bool gone = false;                // every ioctl answers ENODEV, as after an unbind
    int resetErrno = 0;               // USBDEVFS_RESET fails with it
    int resets = 0;
  };

  std::map<std::string, Node> nodes;
  int openCount = 0;                      // successful opens of nodes
  std::map<std::string, int> fileOpens;   // opens per real file

  int open(const std::string& path, int flags) override {
    auto it = nodes.find(path);
    if (it == nodes.end()) {
      const int real = ::open(path.c_str(), flags | O_CLOEXEC);
      if (real < 0) return -1;
      ++fileOpens[path];
      const int fd = nextFd_++;
      files_[fd] = {path, real};
      return fd;
    }
    if (it->second.openErrno != 0) return fail(it->second.openErrno);
    ++openCount;
    const int fd = nextFd_++;
    fds_[fd] = path;
    return fd;
  }

  int close(int fd) override {
    if (auto file = files_.find(fd); file != files_.end()) {
      ::close(file->second.real);
      files_.erase(file);
      return 0;
    }
    return fds_.erase(fd) == 1 ? 0 : fail(EBADF);
  }

  ssize_t read(int fd, void* buffer, std::size_t size) override {
    auto file = files_.find(fd);
    if (file == files_.end()) return fail(fds_.count(fd) != 0 ? EINVAL : EBADF);
    return ::read(file->second.real, buffer, size);
  }

  int ioctl(int fd, unsigned long request, void* arg) override {
    auto open = fds_.find(fd);
    if (open == fds_.end()) return fail(EBADF);
    auto node = nodes.find(open->second);
    if (node == nodes.end() || node->second.gone) return fail(ENODEV);
    Node& n = node->second;
    if (n.driver == nullptr) {
      if (request != USBDEVFS_RESET) return fail(ENOTTY);
      if (n.resetErrno != 0) return fail(n.resetErrno);
      ++n.resets;
      return 0;
    }
    const int err = n.driver->ioctl(request, arg);
    return err == 0 ? 0 : fail(err);
  }

  std::size_t openDescriptors() const { return fds_.size() + files_.size(); }

 private:
  struct File {
    std::string path;
    int real = -1;
  };

  static int fail(int err) {
    errno = err;
    return -1;
  }

  std::map<int, std::string> fds_;
  std::map<int, File> files_;
  int nextFd_ = 100;
};

}  // namespace velto::testing
