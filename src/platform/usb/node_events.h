// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Every open and close of one file, as inotify tells of them: a camera's video node, where each
// program that streams (or only looks) opens it first. Ours count too: inotify cannot say who.
//
// The main thread's object: create it, and destroy it, on the thread whose event loop delivers
// the node's events.
#pragma once

#include <functional>
#include <memory>
#include <string>

class QObject;
class QSocketNotifier;

namespace velto::usb {

class NodeEvents {
 public:
  // What arrived since the last call.
  struct Tally {
    long opens = 0;
    long closes = 0;
    bool gone = false;  // the file was removed (its camera left): nothing more will be told
  };

  // Watches `path` and calls `changed` with what happened whenever anything did. None when it
  // cannot be watched (gone, inotify refuses); why is logged.
  static std::unique_ptr<NodeEvents> create(const std::string& path, std::function<void(const Tally&)> changed);
  ~NodeEvents();
  NodeEvents(const NodeEvents&) = delete;
  NodeEvents& operator=(const NodeEvents&) = delete;

  const std::string& path() const { return path_; }

 private:
  NodeEvents(std::string path, std::function<void(const Tally&)> changed, int inotifyFd);
  void onEvents();

  std::string path_;
  std::function<void(const Tally&)> changed_;
  int fd_;
  std::unique_ptr<QObject> context_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace velto::usb
