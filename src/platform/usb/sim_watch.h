// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Watches a simulated-camera directory and reports cameras appearing and disappearing: the
// hot-plug source for simulated cameras (a device socket created or removed).
//
// Thread: created, used and destroyed on a thread that runs a Qt event loop (the main thread);
// the callback runs there. One call per batch of changes the kernel delivered together (three
// cameras plugged at once: one call, or a few, never one per unrelated file); no call for cameras
// present at construction. The directory is created (0700) when missing; one that is not trusted
// (sim_directory.h: a symbolic link, another user's, open to others) is not watched.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velto::usb {

class SimWatch {
 public:
  SimWatch(std::string directory, std::function<void()> onChange);
  ~SimWatch();
  SimWatch(const SimWatch&) = delete;
  SimWatch& operator=(const SimWatch&) = delete;

  // False when the directory could not be created, was not trusted or could not be watched; the
  // watch is then inert.
  bool isActive() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace velto::usb
