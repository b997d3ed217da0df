// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Where simulated cameras publish their sockets: one directory per user, one device socket per
// plugged camera (<id>.sock, listed by the registry and watched for hot-plug) and one control
// socket per running simulator (<id>.ctl, never listed). docs/simcam-protocol.md has the details.
#pragma once

#include <string>
#include <string_view>

#include <sys/un.h>

namespace velto::usb {

// $XDG_RUNTIME_DIR/velto-simcam, or /tmp/velto-simcam-<uid> when XDG_RUNTIME_DIR is unset.
std::string defaultSimDirectory();

// Creates `directory` (and missing parents) with mode 0700. True when it exists afterwards.
bool ensureSimDirectory(const std::string& directory);

// "<directory>/<id>.sock" and "<directory>/<id>.ctl".
std::string simSocketPath(const std::string& directory, std::string_view id);
std::string simControlPath(const std::string& directory, std::string_view id);

// True for a name the registry lists: "<id>.sock" with a non-empty id not starting with a dot.
bool isSimSocketName(std::string_view fileName);

// A camera id usable in file names: 1-64 letters, digits, '-', '_' or '.', not starting with '.'.
bool isValidSimID(std::string_view id);

// A new non-blocking, close-on-exec Unix stream socket and the address of `path` in `address`;
// -1 with errno set when the path does not fit an address or no socket can be had.
int unixSocketFor(const std::string& path, sockaddr_un& address);

// Connects a non-blocking Unix stream socket to `path` within `timeoutMs`. Returns the descriptor
// (close-on-exec, non-blocking) or -1 with errno set (ECONNREFUSED for a stale socket).
int connectUnixSocket(const std::string& path, int timeoutMs);

}  // namespace velto::usb
