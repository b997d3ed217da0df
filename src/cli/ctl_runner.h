// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// Carries out one velto-ctl request and returns its exit code. Reading commands talk to the
// camera directly and change nothing; changing commands go through the camera store exactly as the
// application does. Needs a QCoreApplication; runs on its thread.
#pragma once

#include <QSaveFile>
#include <iosfwd>
#include <optional>
#include <string>

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

// A snapshot's file: the picture goes into a temporary file beside it, which replaces it only once
// the picture is complete, so a snapshot that fails leaves an existing file as it was.
class SnapshotFile {
 public:
  explicit SnapshotFile(const QString& path) : file_(path) {}
  // Why it cannot be written, in the words of the message velto-ctl prints; none when it can.
  std::optional<std::string> open();
  int handle() const { return file_.handle(); }
  std::optional<std::string> commit();
  QString path() const { return file_.fileName(); }

 private:
  QSaveFile file_;
};

}  // namespace velto::cli
