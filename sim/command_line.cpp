// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "sim/command_line.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <tuple>

#include "platform/usb/sim_directory.h"
#include "support/integer_text.h"

namespace velto::sim {
namespace {

std::optional<std::int64_t> parseBounded(const std::string& text, std::int64_t max) {
  const auto v = parseInteger(text);
  if (!v || *v < 0 || *v > max) return std::nullopt;
  return v;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "1280x720" with each side from 16 to 4096.
std::optional<std::pair<int, int>> parseSize(const std::string& text) {
  const auto x = text.find('x');
  if (x == std::string::npos) return std::nullopt;
  const auto w = parseBounded(text.substr(0, x), 4096), h = parseBounded(text.substr(x + 1), 4096);
  if (!w || !h || *w < 16 || *h < 16) return std::nullopt;
  return std::pair(static_cast<int>(*w), static_cast<int>(*h));
}

// A plain decimal number ("7", "-1.5"), nothing after it.
std::optional<double> parseDecimal(const std::string& text) {
  if (text.empty() || text.find_first_not_of("+-.0123456789") != std::string::npos) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace

const char* const kUsage =
    "usage: velto-simcam [--profile c200|generic] [--id NAME] [--name TEXT] [--vendor 0xVVVV]\n"
    "                    [--product 0xPPPP] [--location 0xLLLLLLLL] [--latency-ms N]\n"
    "                    [--reenumerate-ms N] [--descriptors HEX] [--log FILE] [--size WxH]\n"
    "                    [--fps N] [--illuminant K] [--light EV] [--flip-needs-stream]\n"
    "                    [--pipewire]\n"
    "       velto-simcam ctl [--id NAME] COMMAND\n"
    "commands: state | info | set NAME VALUE | unplug | plug | hang | unhang | refuse NAME |\n"
    "          accept NAME | ignore NAME | sleep | reenumerate | latency MS | hold | release |\n"
    "          scene | freeze | thaw | busy | free | call-app [--after-ms N] [--hold-ms M] [--timing]\n";

std::optional<std::vector<std::uint8_t>> parseHex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == ':' || c == '\n' || c == '\t' || c == ',') continue;
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && high < 0) {
      ++i;
      continue;
    }
    const int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    if (high < 0) {
      high = d;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

std::optional<RunOptions> parseRunOptions(const std::vector<std::string>& args,
                                          const std::string& directory, std::string* error) {
  auto fail = [error](std::string text) -> std::optional<RunOptions> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  // Every option takes a value, given as "--name value" or "--name=value".
  std::map<std::string, std::string> given;
  static const char* const kKnown[] = {"--profile", "--id", "--name", "--vendor", "--product",
                                       "--location", "--latency-ms", "--reenumerate-ms",
                                       "--descriptors", "--log", "--size", "--fps", "--illuminant",
                                       "--light", "--flip-needs-stream", "--pipewire"};
  // Options that take no value.
  static const std::string kFlags[] = {"--flip-needs-stream", "--pipewire"};
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    }
    bool known = false;
    for (const char* k : kKnown) known = known || name == k;
    if (!known) return fail("unknown argument '" + args[i] + "'");
    if (std::find(std::begin(kFlags), std::end(kFlags), name) != std::end(kFlags)) {
      if (value) return fail(name + " takes no value");
      given[name] = "";
      continue;
    }
    if (!value) {
      if (i + 1 >= args.size()) return fail(name + " needs a value");
      value = args[++i];
    }
    given[name] = *value;
  }

  const std::string profileName = given.contains("--profile") ? given["--profile"] : "c200";
  std::optional<Profile> profile = profileNamed(profileName);
  if (!profile) return fail("unknown profile '" + profileName + "' (c200 or generic)");
  RunOptions run{std::move(*profile), {}};
  run.server.directory = directory;

  if (given.contains("--id")) {
    if (!usb::isValidSimID(given["--id"])) {
      return fail("invalid --id '" + given["--id"] + "' (letters, digits, '-', '_', '.'; at most 64)");
    }
    run.server.id = given["--id"];
  }
  if (given.contains("--name")) run.profile.productName = given["--name"];
  struct Number {
    const char* option;
    std::int64_t max;
  };
  for (const Number n : {Number{"--vendor", 0xffff}, Number{"--product", 0xffff},
                         Number{"--location", 0xffffffff}, Number{"--latency-ms", kMaxDelayMs},
                         Number{"--reenumerate-ms", kMaxDelayMs}}) {
    if (!given.contains(n.option)) continue;
    const auto v = parseBounded(given[n.option], n.max);
    if (!v) return fail(std::string(n.option) + ": '" + given[n.option] + "' is not a number from 0 to " +
                        std::to_string(n.max));
    const std::string option = n.option;
    if (option == "--vendor") run.profile.vendorID = static_cast<std::uint16_t>(*v);
    if (option == "--product") run.profile.productID = static_cast<std::uint16_t>(*v);
    if (option == "--location") run.profile.locationID = static_cast<std::uint32_t>(*v);
    if (option == "--latency-ms") run.server.latencyMs = static_cast<int>(*v);
    if (option == "--reenumerate-ms") run.server.reenumerateMs = static_cast<int>(*v);
  }
  if (given.contains("--descriptors")) {
    auto bytes = parseHex(given["--descriptors"]);
    if (!bytes) return fail("--descriptors: not an even number of hexadecimal digits");
    if (bytes->size() > 65535) return fail("--descriptors: longer than 65535 bytes");
    run.profile.configuration = std::move(*bytes);
  }
  if (given.contains("--log")) run.server.logPath = given["--log"];
  if (given.contains("--size")) {
    const auto size = parseSize(given["--size"]);
    if (!size) return fail("--size: '" + given["--size"] + "' is not WIDTHxHEIGHT with each from 16 to 4096");
    std::tie(run.server.width, run.server.height) = *size;
  }
  if (given.contains("--fps")) {
    const auto fps = parseBounded(given["--fps"], 120);
    if (!fps || *fps < 1) return fail("--fps: '" + given["--fps"] + "' is not a number from 1 to 120");
    run.server.fps = static_cast<int>(*fps);
  }
  if (given.contains("--illuminant")) {
    const auto k = parseBounded(given["--illuminant"], 15000);
    if (!k || *k < 1500) return fail("--illuminant: '" + given["--illuminant"] + "' is not a number from 1500 to 15000 (K)");
    run.server.lighting.illuminantK = static_cast<double>(*k);
  }
  if (given.contains("--light")) {
    const auto ev = parseDecimal(given["--light"]);
    if (!ev || *ev < -5 || *ev > 20) return fail("--light: '" + given["--light"] + "' is not a number from -5 to 20 (EV)");
    run.server.lighting.ev = *ev;
  }
  run.server.flipNeedsStream = given.contains("--flip-needs-stream");
  run.pipewire = given.contains("--pipewire");
  return run;
}

std::optional<ControlOptions> parseControlOptions(const std::vector<std::string>& args, std::string* error) {
  auto fail = [error](std::string text) -> std::optional<ControlOptions> {
    if (error) *error = std::move(text);
    return std::nullopt;
  };
  ControlOptions ctl;
  std::size_t i = 0;
  if (i < args.size() && args[i].starts_with("--id")) {
    if (args[i].starts_with("--id=")) {
      ctl.id = args[i].substr(5);
      ++i;
    } else {
      if (i + 1 >= args.size()) return fail("--id needs a value");
      ctl.id = args[i + 1];
      i += 2;
    }
    if (!usb::isValidSimID(ctl.id)) return fail("invalid --id '" + ctl.id + "'");
  }
  if (i >= args.size()) return fail("missing command");
  if (args[i] == "call-app") {
    CallAppOptions call;
    for (std::size_t j = i + 1; j < args.size();) {
      if (args[j] == "--timing") {
        call.timing = true;
        ++j;
        continue;
      }
      const bool after = args[j] == "--after-ms", hold = args[j] == "--hold-ms";
      if (!after && !hold) return fail("call-app: unknown option '" + args[j] + "'");
      const auto value = j + 1 < args.size() ? parseDecimal(args[j + 1]) : std::nullopt;
      // A call may be held for ten minutes; the wait before it is a moment at most.
      const int most = after ? kMaxDelayMs : 600'000;
      if (!value || *value < 0 || *value > most || *value != static_cast<int>(*value)) {
        return fail(args[j] + " takes a whole number of milliseconds from 0 to " + std::to_string(most));
      }
      (after ? call.afterMs : call.holdMs) = static_cast<int>(*value);
      j += 2;
    }
    ctl.line = "call-app";
    ctl.callApp = call;
    return ctl;
  }
  static const std::map<std::string, std::size_t> kArity = {
      {"state", 0}, {"info", 0},   {"set", 2},    {"unplug", 0}, {"plug", 0},  {"hang", 0},
      {"unhang", 0}, {"refuse", 1}, {"accept", 1}, {"ignore", 1}, {"sleep", 0}, {"reenumerate", 0}, {"latency", 1},
      {"hold", 0},   {"release", 0}, {"scene", 0}, {"freeze", 0}, {"thaw", 0}, {"busy", 0}, {"free", 0}};
  const auto found = kArity.find(args[i]);
  if (found == kArity.end()) return fail("unknown command '" + args[i] + "'");
  if (args.size() - i - 1 != found->second) {
    return fail(args[i] + " takes " + std::to_string(found->second) + " argument(s)");
  }
  for (std::size_t j = i; j < args.size(); ++j) {
    if (args[j].find_first_of(" \t\n") != std::string::npos || args[j].empty()) {
      return fail("bad argument '" + args[j] + "'");
    }
    ctl.line += (j > i ? " " : "") + args[j];
  }
  return ctl;
}

}  // namespace velto::sim
