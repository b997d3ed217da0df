#include "sim/command_line.h"

#include <map>

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

}  // namespace

const char* const kUsage =
    "usage: velto-simcam [--profile c200|generic] [--id NAME] [--name TEXT] [--vendor 0xVVVV]\n"
    "                    [--product 0xPPPP] [--location 0xLLLLLLLL] [--latency-ms N]\n"
    "                    [--reenumerate-ms N] [--descriptors HEX] [--log FILE]\n"
    "       velto-simcam ctl [--id NAME] COMMAND\n"
    "commands: state | info | set NAME VALUE | unplug | plug | hang | unhang | refuse NAME |\n"
    "          accept NAME | ignore NAME | sleep | reenumerate | latency MS | hold | release\n";

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
                                       "--descriptors", "--log"};
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
  static const std::map<std::string, std::size_t> kArity = {
      {"state", 0}, {"info", 0},   {"set", 2},    {"unplug", 0}, {"plug", 0},  {"hang", 0},
      {"unhang", 0}, {"refuse", 1}, {"accept", 1}, {"ignore", 1}, {"sleep", 0}, {"reenumerate", 0}, {"latency", 1},
      {"hold", 0},   {"release", 0}};
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
