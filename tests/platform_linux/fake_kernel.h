// The system-call seam with a kernel made of test state: device nodes by path, each answered by a
// fake uvcvideo, a usbfs node that counts resets, and failures switched on per node.
#pragma once

#include <cerrno>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
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
  int openCount = 0;

  int open(const std::string& path, int) override {
    auto it = nodes.find(path);
    if (it == nodes.end()) return fail(ENOENT);
    if (it->second.openErrno != 0) return fail(it->second.openErrno);
    ++openCount;
    const int fd = nextFd_++;
    fds_[fd] = path;
    return fd;
  }

  int close(int fd) override { return fds_.erase(fd) == 1 ? 0 : fail(EBADF); }

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

  std::size_t openDescriptors() const { return fds_.size(); }

 private:
  static int fail(int err) {
    errno = err;
    return -1;
  }

  std::map<int, std::string> fds_;
  int nextFd_ = 100;
};

}  // namespace velto::testing
