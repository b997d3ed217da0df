// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Calls still queued through a WeakContext when the application object goes away must not keep
// the process from exiting. Its own program, since it ends the QCoreApplication; CTest's time-out
// turns a hang into a failure.
#include <QCoreApplication>
#include <QObject>
#include <cstdio>
#include <memory>

#include "support/weak_context.h"

int main(int argc, char** argv) {
  int ran = 0;
  {
    QCoreApplication app(argc, argv);
    auto context = std::make_unique<QObject>();
    {
      velto::WeakContext weak(context.get());
      for (int i = 0; i < 3; ++i) weak.post([&ran] { ++ran; });
    }
    // The queued calls now hold the last references; the application ends before running them.
  }
  std::printf("exited cleanly; %d queued calls ran (expected 0)\n", ran);
  return ran == 0 ? 0 : 1;
}
