// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Which programs have a camera's node open: when the camera answers busy, the user learns who
// to close. Found the way fuser(1) does, through /proc/<pid>/fd: an entry whose link names the
// node's path, or (for a node reached by another name, a link in /dev/v4l/by-id) whose target is
// the same file or character device. Only processes of this user can be looked into; others are
// passed over, as are processes that end meanwhile and this process itself.
//
// Blocks for a readlink per open descriptor of each process of the user, and reads no more once
// `limit` holders are found: runs on the capture worker, never on the main thread. Any thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

namespace velto::video {

struct CameraHolder {
  pid_t pid = 0;
  std::string name;  // /proc/<pid>/comm: the program's name, at most 15 bytes

  friend bool operator==(const CameraHolder&, const CameraHolder&) = default;
};

struct HolderSearch {
  std::string procRoot = "/proc";  // tests point this at a tree of their own
  pid_t self = 0;                  // skipped; 0: this process
  std::size_t limit = 4;
  std::vector<std::string> passOver;  // program names (comm) not counted
  std::vector<pid_t> passOverProcesses;  // nor these processes
};

// The names PipeWire's own processes go by: the daemon holds a camera's node while any of its
// clients streams, and its session manager opens it to list what it offers.
const std::vector<std::string>& pipeWireProcessNames();

// The processes that hold `nodePath` open, by ascending PID; empty when none can be seen (none
// holds it, they belong to another user, or the node cannot be examined).
std::vector<CameraHolder> findCameraHolders(const std::string& nodePath, const HolderSearch& search = {});

}  // namespace velto::video
