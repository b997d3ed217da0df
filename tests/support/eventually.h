// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Waiting for what arrives in real time (over a socket, from capture threads, from another
// process): bounded, with the thread's Qt events processed meanwhile. For events only, never to
// let a period pass.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <functional>
#include <thread>

namespace velto::testing {

// Whether `condition` came to hold within `ms`.
inline bool eventually(const std::function<bool()>& condition, int ms = 10000) {
  QElapsedTimer timer;
  timer.start();
  while (!condition() && timer.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return condition();
}

}  // namespace velto::testing
