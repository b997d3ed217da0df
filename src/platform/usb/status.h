// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Status codes of the USB layer.
//
// Every USB operation reports a 32-bit status in one fixed code space: 0 is success, anything else
// is a failure whose value is stable enough to show to a user ("... error 0x%08x"). Carriers
// translate errno and libusb errors into this space exactly once, at the operating-system edge;
// nothing above them re-interprets or re-translates a status.
#pragma once

#include <cstdint>
#include <string_view>

namespace velto::usb {

using Status = std::uint32_t;

namespace status {
inline constexpr Status success = 0;
inline constexpr Status error = 0xe00002bc;            // anything not listed below
inline constexpr Status noMemory = 0xe00002bd;
inline constexpr Status noDevice = 0xe00002c0;         // ENODEV, ENOENT, ESHUTDOWN
inline constexpr Status notPrivileged = 0xe00002c1;    // EACCES, EPERM
inline constexpr Status badArgument = 0xe00002c2;      // EINVAL, ERANGE
inline constexpr Status exclusiveAccess = 0xe00002c5;  // EBUSY
inline constexpr Status unsupported = 0xe00002c7;      // ENOTTY, EOPNOTSUPP, EBADRQC
inline constexpr Status ioError = 0xe00002ca;          // EIO
inline constexpr Status pipeStalled = 0xe000404f;      // EPIPE
inline constexpr Status timeout = 0xe0004051;          // ETIMEDOUT and our own request time-outs
}  // namespace status

// Translates an errno value; 0 maps to success.
Status fromErrno(int err);

// A short English name for a status ("no device", "pipe stalled"); "error" for unknown codes.
std::string_view statusName(Status s);

}  // namespace velto::usb
