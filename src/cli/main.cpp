// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// velto-ctl: Velto Camera from the command line.
#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "cli/ctl_arguments.h"
#include "cli/ctl_runner.h"

int main(int argc, char** argv) {
  // A reader that has gone (`velto-ctl stats | head -1`) makes a write fail with EPIPE, reported
  // below as an output error, instead of ending the program.
  std::signal(SIGPIPE, SIG_IGN);
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName("velto-ctl");
  std::vector<std::string> args(argv + 1, argv + argc);
  const velto::cli::ParseResult parsed = velto::cli::parseArguments(args);
  if (!parsed.request) {
    std::cerr << "velto-ctl: " << parsed.error << "\n" << velto::cli::kUsageText;
    return velto::cli::kUsage;
  }
  const int code = velto::cli::runCtl(*parsed.request, std::cout, std::cerr);
  // Output that never arrived is a failure, not a success with nothing to show.
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::cerr << "velto-ctl: cannot write the output: " << std::strerror(errno) << "\n";
    return code == velto::cli::kSuccess ? velto::cli::kOutputFailed : code;
  }
  return code;
}
