// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "cli/ctl_arguments.h"

#include <algorithm>
#include <set>

#include "capture/capture_bus.h"
#include "support/integer_text.h"

namespace velto::cli {

const char* const kUsageText =
    "usage: velto-ctl [--camera VVVV:PPPP] [--simulated-cameras] [--verbose] COMMAND [--] ...\n"
    "  list [--json]                 attached cameras\n"
    "  controls [--json]             the chosen camera's controls, ranges and values\n"
    "  get NAME... [--json]          current values\n"
    "  set NAME=VALUE...             change controls\n"
    "  auto NAME on|off              switch autoExposure, autoFocus or autoWhiteBalance\n"
    "  defaults [NAME...]            reset controls (all when none are named) to their defaults\n"
    "  refocus                       make auto focus search again\n"
    "  preset list [--json] | save NAME | apply NAME | update NAME | rename NAME NEW | delete NAME\n"
    "  lock [on|off]                 whether other applications' changes are undone; turn it on or off\n"
    "  reset                         reset the camera on USB\n"
    "  watch [--lock | --no-lock]    keep restoring the wanted settings until interrupted\n"
    "  stats [--frames N] [--json]   capture N frames (30) and print their statistics\n"
    "  formats [--json]              the modes (format, size, rate) the camera streams in\n"
    "  snapshot FILE.png [--size WxH] [--format NAME] [--fps N]\n"
    "                                write one frame, in a mode the camera offers when one is named\n"
    "  calibrate white-balance|exposure X Y [--target 0.4|0.5|0.6]\n"
    "                                click-to-set at the point (X, Y), each 0 to 1 from the top left\n";

namespace {

std::optional<unsigned> parseHex16(std::string text) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text = text.substr(2);
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    value <<= 4;
    if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
  }
  return value;
}

// How many operands each command takes: [min, max]; max -1 is unbounded.
struct Arity {
  int min;
  int max;
};

std::optional<Arity> arityOf(const std::string& command, const std::string& sub) {
  if (command == "list" || command == "controls" || command == "refocus" || command == "reset" ||
      command == "watch" || command == "formats") {
    return Arity{0, 0};
  }
  if (command == "get" || command == "set") return Arity{1, -1};
  if (command == "stats") return Arity{0, 0};
  if (command == "snapshot") return Arity{1, 1};
  if (command == "calibrate") return Arity{3, 3};
  if (command == "auto") return Arity{2, 2};
  if (command == "defaults") return Arity{0, -1};
  if (command == "lock") return Arity{0, 1};
  if (command == "preset") {
    if (sub == "list") return Arity{0, 0};
    if (sub == "save" || sub == "apply" || sub == "update" || sub == "delete") return Arity{1, 1};
    if (sub == "rename") return Arity{2, 2};
  }
  return std::nullopt;
}

}  // namespace

std::optional<CameraKey> parseCameraKey(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const auto vendor = parseHex16(text.substr(0, colon));
  const auto product = parseHex16(text.substr(colon + 1));
  if (!vendor || !product) return std::nullopt;
  return CameraKey{static_cast<std::uint16_t>(*vendor), static_cast<std::uint16_t>(*product)};
}

std::optional<long long> parseInteger(const std::string& text) { return velto::parseInteger(text); }

ParseResult parseArguments(const std::vector<std::string>& args) {
  CtlRequest request;
  std::vector<std::string> words;
  std::set<std::string> seen;  // options that belong to one command
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (optionsEnded) {
      words.push_back(a);  // a preset may well be called "-10 dB"
    } else if (a == "--") {
      optionsEnded = true;
    } else if (a == "--json") {
      request.json = true;
    } else if (a == "--lock" || a == "--no-lock") {
      request.lock = a == "--lock";
    } else if (a == "--size" || a == "--format" || a == "--fps") {
      if (i + 1 >= args.size()) return {std::nullopt, a + " needs a value"};
      const std::string value = args[++i];
      if (a == "--size") {
        const auto x = value.find_first_of("xX");
        const auto width = x == std::string::npos ? std::nullopt : parseInteger(value.substr(0, x));
        const auto height = x == std::string::npos ? std::nullopt : parseInteger(value.substr(x + 1));
        if (!width || !height || *width < 1 || *height < 1 || *width > 16384 || *height > 16384) {
          return {std::nullopt, "--size takes WIDTHxHEIGHT such as 1280x720, not '" + value + "'"};
        }
        request.mode.width = static_cast<int>(*width);
        request.mode.height = static_cast<int>(*height);
      } else if (a == "--format") {
        request.mode.fourcc = video::formatNamed(value);
        if (!request.mode.fourcc) return {std::nullopt, "--format takes MJPEG, YUY2, NV12 or H.264, not '" + value + "'"};
      } else {
        const auto n = parseInteger(value);
        if (!n || *n < 1 || *n > 1000) return {std::nullopt, "--fps takes a number of frames a second, not '" + value + "'"};
        request.mode.fps = static_cast<int>(*n);
      }
      seen.insert("--mode");
    } else if (a == "--frames" || a == "--target") {
      if (i + 1 >= args.size()) return {std::nullopt, a + " needs a value"};
      const std::string value = args[++i];
      if (a == "--frames") {
        const auto n = parseInteger(value);
        if (!n || *n < 1 || *n > 10000) return {std::nullopt, "--frames takes a number of frames from 1 to 10000, not '" + value + "'"};
        request.frames = static_cast<int>(*n);
      } else {
        if (value != "0.4" && value != "0.5" && value != "0.6") return {std::nullopt, "--target takes 0.4, 0.5 or 0.6, not '" + value + "'"};
        request.target = std::stod(value);
      }
      seen.insert(a);
    } else if (a == "--simulated-cameras") {
      request.simulatedCameras = true;
    } else if (a == "--verbose" || a == "-v") {
      request.verbose = true;
    } else if (a == "--help" || a == "-h") {
      request.help = true;
    } else if (a == "--camera" || a.rfind("--camera=", 0) == 0) {
      std::string value;
      if (a == "--camera") {
        if (i + 1 >= args.size()) return {std::nullopt, "--camera needs a value such as 291a:3369"};
        value = args[++i];
      } else {
        value = a.substr(9);
      }
      request.camera = parseCameraKey(value);
      if (!request.camera) return {std::nullopt, "--camera takes VVVV:PPPP in hexadecimal, not '" + value + "'"};
    } else if (a.size() > 1 && a[0] == '-' && !parseInteger(a)) {
      return {std::nullopt, "unknown option '" + a + "'"};
    } else {
      words.push_back(a);
    }
  }
  if (request.help) return {request, {}};
  if (words.empty()) return {std::nullopt, "no command given"};

  request.command = words[0];
  std::size_t first = 1;
  if (request.command == "preset") {
    if (words.size() < 2) return {std::nullopt, "preset needs one of list, save, apply, update, rename, delete"};
    request.subcommand = words[1];
    first = 2;
  }
  const auto arity = arityOf(request.command, request.subcommand);
  if (!arity) {
    if (request.command == "preset") return {std::nullopt, "unknown preset command '" + request.subcommand + "'"};
    return {std::nullopt, "unknown command '" + request.command + "'"};
  }
  request.operands.assign(words.begin() + static_cast<std::ptrdiff_t>(first), words.end());
  const int n = static_cast<int>(request.operands.size());
  if (n < arity->min || (arity->max >= 0 && n > arity->max)) {
    return {std::nullopt, "wrong number of arguments for '" + request.command +
                              (request.subcommand.empty() ? "" : " " + request.subcommand) + "'"};
  }
  if (request.lock && request.command != "watch") return {std::nullopt, "--lock and --no-lock go with watch"};
  if (seen.contains("--frames") && request.command != "stats") return {std::nullopt, "--frames goes with stats"};
  if (seen.contains("--target") && request.command != "calibrate") return {std::nullopt, "--target goes with calibrate exposure"};
  if (seen.contains("--mode") && request.command != "snapshot") return {std::nullopt, "--size, --format and --fps go with snapshot"};
  if (request.json) {
    static const std::set<std::string> withJson = {"list", "controls", "get", "stats", "formats"};
    if (!withJson.contains(request.command) && !(request.command == "preset" && request.subcommand == "list")) {
      return {std::nullopt, "--json goes with list, controls, get, stats, formats and preset list"};
    }
  }
  if (request.command == "set") {
    for (const std::string& pair : request.operands) {
      const auto eq = pair.find('=');
      if (eq == std::string::npos || eq == 0) return {std::nullopt, "set takes NAME=VALUE, not '" + pair + "'"};
    }
  }
  if (request.command == "lock" && !request.operands.empty() && request.operands[0] != "on" && request.operands[0] != "off") {
    return {std::nullopt, "lock takes on or off, not '" + request.operands[0] + "'"};
  }
  if (request.command == "auto" && request.operands[1] != "on" && request.operands[1] != "off") {
    return {std::nullopt, "auto takes on or off, not '" + request.operands[1] + "'"};
  }
  return {request, {}};
}

CaptureParse parseCapture(const CtlRequest& request) {
  CaptureCommand command;
  const std::string& cmd = request.command;
  if (cmd == "stats") {
    command.kind = CaptureCommand::Kind::stats;
    command.frames = request.frames;
  } else if (cmd == "snapshot") {
    command.kind = CaptureCommand::Kind::snapshot;
    command.file = QString::fromStdString(request.operands[0]);
    command.mode = request.mode;
  } else if (cmd == "formats") {
    command.kind = CaptureCommand::Kind::formats;
  } else {
    command.kind = CaptureCommand::Kind::calibrate;
    const auto tool = calibrationToolNamed(QString::fromStdString(request.operands[0]));
    if (!tool) return {std::nullopt, "calibrate takes white-balance or exposure, not '" + request.operands[0] + "'"};
    command.tool = *tool;
    double xy[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      const std::string& text = request.operands[static_cast<std::size_t>(i) + 1];
      const QString q = QString::fromStdString(text);
      bool ok = false;
      xy[i] = q.toDouble(&ok);
      if (!ok || !(xy[i] >= 0 && xy[i] <= 1)) return {std::nullopt, "the point takes numbers from 0 to 1, not '" + text + "'"};
    }
    command.point = {xy[0], xy[1]};
    command.target = request.target;
  }
  return {command, {}};
}

ChangeParse parseChange(const CtlRequest& request) {
  using Kind = ChangeCommand::Kind;
  ChangeCommand command;
  command.camera = request.camera;
  const std::string& cmd = request.command;
  auto control = [](const std::string& name) { return controlFromRawValue(name); };
  if (cmd == "set") {
    for (const std::string& pair : request.operands) {
      const auto eq = pair.find('=');
      const std::string name = pair.substr(0, eq);
      const std::string text = pair.substr(eq + 1);
      const auto id = control(name);
      if (!id) return {std::nullopt, "unknown control '" + name + "'"};
      const auto value = parseInteger(text);
      if (!value) return {std::nullopt, "invalid value '" + text + "' for " + name + " (an integer is needed)"};
      command.values[*id] = *value;
    }
    // Refused before any camera is asked.
    if (auto why = impossibleValue(command.values)) return {std::nullopt, why->toStdString()};
  } else if (cmd == "auto") {
    const auto id = control(request.operands[0]);
    if (!id || !governedControl(*id)) {
      return {std::nullopt, "'" + request.operands[0] + "' is not an auto mode (autoExposure, autoFocus, autoWhiteBalance)"};
    }
    command.kind = Kind::autoMode;
    command.controls = {*id};
    command.on = request.operands[1] == "on";
  } else if (cmd == "defaults") {
    command.kind = Kind::defaults;
    for (const std::string& name : request.operands) {
      const auto id = control(name);
      if (!id) return {std::nullopt, "unknown control '" + name + "'"};
      command.controls.push_back(*id);
    }
  } else if (cmd == "refocus") {
    command.kind = Kind::refocus;
  } else if (cmd == "reset") {
    command.kind = Kind::reset;
  } else if (cmd == "preset") {
    const std::string& sub = request.subcommand;
    command.kind = sub == "save"     ? Kind::presetSave
                   : sub == "apply"  ? Kind::presetApply
                   : sub == "update" ? Kind::presetUpdate
                   : sub == "rename" ? Kind::presetRename
                                     : Kind::presetDelete;
    command.preset = QString::fromStdString(request.operands[0]);
    if (sub == "rename") command.newName = QString::fromStdString(request.operands[1]);
  }
  return {command, {}};
}

}  // namespace velto::cli
