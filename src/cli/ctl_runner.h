// Carries out one velto-ctl request and returns its exit code. Reading commands talk to the
// camera directly and change nothing; changing commands go through the camera store exactly as the
// application does. Needs a QCoreApplication; runs on its thread.
#pragma once

#include <iosfwd>

#include "cli/ctl_arguments.h"

namespace velto::cli {

// Exit codes; scripts rely on them.
enum ExitCode : int {
  kSuccess = 0,
  kUsage = 1,
  kNoCamera = 2,
  kInvalid = 3,  // unknown control or preset, or an invalid value
  kCameraFailed = 4,
  kOutputFailed = 5,  // standard output could not be written (a full disk, a closed pipe)
  kSaveFailed = 6,    // the settings file could not be written
};

int runCtl(const CtlRequest& request, std::ostream& out, std::ostream& err);

}  // namespace velto::cli
