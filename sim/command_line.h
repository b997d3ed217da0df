// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The command line of velto-simcam (docs/simcam.md), parsed into what the server needs. Kept out
// of main() so that it is tested like any other code.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/call_app.h"
#include "sim/profile.h"
#include "sim/sim_server.h"

namespace velto::sim {

struct RunOptions {
  Profile profile;
  ServerOptions server;
  bool pipewire = false;  // also publish the camera on the session's PipeWire
};

// Parses the arguments after the program name for serving a camera. None with a message naming
// the bad argument. `directory` becomes the server's directory.
std::optional<RunOptions> parseRunOptions(const std::vector<std::string>& args,
                                          const std::string& directory, std::string* error);

struct ControlOptions {
  std::string id = "cam0";
  std::string line;  // the command as sent on the control socket
  // `call-app`: run by the ctl program itself, as another program would, rather than sent.
  std::optional<CallAppOptions> callApp;
};

// Parses the arguments after "ctl". None with a message for an unknown command or a wrong count
// of arguments; the values themselves are checked by the running camera.
std::optional<ControlOptions> parseControlOptions(const std::vector<std::string>& args, std::string* error);

// Bytes of a hexadecimal text ("0902bd00..."; spaces, colons and a 0x prefix allowed), or none.
std::optional<std::vector<std::uint8_t>> parseHex(const std::string& text);

extern const char* const kUsage;

}  // namespace velto::sim
