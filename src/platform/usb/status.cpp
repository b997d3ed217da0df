// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/status.h"

#include <cerrno>

namespace velto::usb {

Status fromErrno(int err) {
  switch (err) {
    case 0:
      return status::success;
    case ENODEV:
    case ENOENT:
    case ESHUTDOWN:
      return status::noDevice;
    case EACCES:
    case EPERM:
      return status::notPrivileged;
    case EBUSY:
      return status::exclusiveAccess;
    case EINVAL:
    case ERANGE:
      return status::badArgument;
    case ENOTTY:
    case EOPNOTSUPP:
    case EBADRQC:
      return status::unsupported;
    case EPIPE:
      return status::pipeStalled;
    case ETIMEDOUT:
      return status::timeout;
    case EIO:
      return status::ioError;
    case ENOMEM:
      return status::noMemory;
    default:
      return status::error;
  }
}

std::string_view statusName(Status s) {
  switch (s) {
    case status::success: return "success";
    case status::noMemory: return "no memory";
    case status::noDevice: return "no device";
    case status::notPrivileged: return "not privileged";
    case status::badArgument: return "bad argument";
    case status::exclusiveAccess: return "exclusive access";
    case status::unsupported: return "unsupported";
    case status::ioError: return "I/O error";
    case status::pipeStalled: return "pipe stalled";
    case status::timeout: return "transaction timed out";
    default: return "error";
  }
}

}  // namespace velto::usb
