// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Carries out one velto-ctl request and returns its exit code. Reading commands talk to the
// camera directly and change nothing; changing commands go through the camera store exactly as the
// application does. Needs a QCoreApplication; runs on its thread.
#pragma once

#include <iosfwd>

#include "cli/ctl_arguments.h"

namespace velto::cli {

// Exit codes; scripts rely on them. Those a command's outcome gives are the outcome's codes.
enum ExitCode : int {
  kSuccess = CommandOutcome::ok,
  kUsage = 1,
  kNoCamera = CommandOutcome::noCamera,
  kInvalid = CommandOutcome::invalid,  // unknown control or preset, or an invalid value
  kCameraFailed = CommandOutcome::cameraFailed,
  kOutputFailed = 5,  // standard output could not be written (a full disk, a closed pipe)
  kSaveFailed = CommandOutcome::saveFailed,  // the settings file could not be written
};

int runCtl(const CtlRequest& request, std::ostream& out, std::ostream& err);

}  // namespace velto::cli
