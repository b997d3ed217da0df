// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// velto-ctl's command line, parsed into a request. Pure: no camera, no files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "capture/capture_commands.h"
#include "model/store_commands.h"
#include "uvc/camera_key.h"

namespace velto::cli {

struct CtlRequest {
  // list, controls, get, set, auto, defaults, refocus, preset, reset, watch, stats, snapshot,
  // calibrate, formats
  std::string command;
  // preset: list, save, apply, update, rename, delete
  std::string subcommand;
  // The words after the command (control names, NAME=VALUE pairs, preset names), unchecked.
  std::vector<std::string> operands;
  bool json = false;
  std::optional<CameraKey> camera;  // --camera VVVV:PPPP
  bool simulatedCameras = false;    // --simulated-cameras: list velto-simcam's cameras too
  std::optional<bool> lock;         // watch --lock / --no-lock
  bool help = false;
  bool verbose = false;             // --verbose: the velto.* logs on standard error
  int frames = 30;                  // stats --frames N
  video::ModeWish mode;             // snapshot --size WxH --format NAME --fps N
  double target = 0.5;              // calibrate exposure --target 0.4|0.5|0.6
};

struct ParseResult {
  std::optional<CtlRequest> request;
  std::string error;  // a usage error, when there is no request
};

ParseResult parseArguments(const std::vector<std::string>& args);

// "291a:3369" (hexadecimal, with or without 0x); none for anything else.
std::optional<CameraKey> parseCameraKey(const std::string& text);

// A whole integer as support/integer_text.h reads it ("-12", "+7", "0x1f"; "010" is ten); none
// for anything else, including out-of-range values.
std::optional<long long> parseInteger(const std::string& text);

// A changing command's words turned into the command: control names checked against the
// catalogue, values parsed, preset names taken as given. `error` says why when it cannot be
// (exit code 3 territory: an unknown control, a value that is not an integer).
struct ChangeParse {
  std::optional<ChangeCommand> command;
  std::string error;
};
ChangeParse parseChange(const CtlRequest& request);

// stats, snapshot and calibrate turned into the capture command; `error` says why when the words
// do not make one (a point outside 0…1, an unknown tool).
struct CaptureParse {
  std::optional<CaptureCommand> command;
  std::string error;
};
CaptureParse parseCapture(const CtlRequest& request);

extern const char* const kUsageText;

}  // namespace velto::cli
