// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Where simulated cameras publish their sockets: one directory per user, one device socket per
// plugged camera (<id>.sock, listed by the registry and watched for hot-plug) and one control
// socket per running simulator (<id>.ctl, never listed). docs/simcam-protocol.md has the details.
#pragma once

#include <string>
#include <string_view>

#include <sys/types.h>
#include <sys/un.h>

namespace velto::usb {

// $XDG_RUNTIME_DIR/velto-simcam, or /tmp/velto-simcam-<uid> when XDG_RUNTIME_DIR is unset.
std::string defaultSimDirectory();

// Whatever sits in the directory is taken for a camera and told the wanted settings, and anyone
// who can write there can plug one in: a directory is trusted only when lstat(2) shows a real
// directory (not a symbolic link to one) that belongs to `owner` and has mode 0700.
struct SimDirectoryCheck {
  enum class Verdict { trusted, missing, refused };
  Verdict verdict = Verdict::refused;
  // Why it is not trusted, for the user: "/tmp/velto-simcam-1000 is a symbolic link". Empty when
  // trusted.
  std::string problem;

  bool trusted() const { return verdict == Verdict::trusted; }
};
SimDirectoryCheck checkSimDirectory(const std::string& directory, uid_t owner);

// Creates `directory` when it is missing (mode 0700, and missing parents), then checks it as
// above. A directory that was already there is never changed, only checked.
SimDirectoryCheck prepareSimDirectory(const std::string& directory, uid_t owner);

// Simulated cameras are listed only when asked for: `requested`, or VELTO_SIMCAM set to anything
// but "" or "0". The one decision the registry and the video device list both follow.
struct SimDirectoryChoice {
  std::string directory;  // empty: no simulated cameras are listed
  std::string refusal;    // why a requested directory is not used; empty otherwise
};
// `runtimeDirectory` is $XDG_RUNTIME_DIR (null or empty: unset); the directory is prepared for
// `owner`.
SimDirectoryChoice chooseSimDirectory(bool requested, const char* runtimeDirectory, uid_t owner);

// Asks for simulated cameras for the rest of the run (the programs' --simulated-cameras), before
// anything lists devices. Any thread.
void requestSimulatedCameras();

// chooseSimDirectory for this process: its request, environment and real user ID. A refusal is
// logged once per run (velto.usb). Any thread.
SimDirectoryChoice simulatedCameraDirectory();

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
