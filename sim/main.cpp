// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// velto-simcam: plugs one simulated camera in and serves it until SIGINT or SIGTERM; or, with
// "ctl", acts on a running one. docs/simcam.md describes both.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb/sim_directory.h"
#include "sim/command_line.h"
#include "sim/pipewire_publisher.h"
#include "sim/sim_server.h"

namespace {

velto::sim::SimServer* gServer = nullptr;

void onSignal(int) {
  if (gServer != nullptr) gServer->requestStop();
}

int serve(const std::vector<std::string>& args) {
  std::string error;
  auto options = velto::sim::parseRunOptions(args, velto::usb::defaultSimDirectory(), &error);
  if (!options) {
    std::fprintf(stderr, "velto-simcam: %s\n%s", error.c_str(), velto::sim::kUsage);
    return 2;
  }
  const auto clock = [] {
    using namespace std::chrono;
    return static_cast<std::int64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  };
  const velto::sim::Profile& p = options->profile;
  std::string description = p.productName.value_or("(no product name)");
  char ids[32];
  std::snprintf(ids, sizeof ids, "%04x:%04x", p.vendorID, p.productID);
  // PipeWire is reached first, so that a camera is never plugged in only to be pulled out again.
  std::optional<velto::sim::PipeWirePublisher> publisher;
  if (options->pipewire) {
    publisher.emplace(options->profile, options->server.id, options->server.directory);
    if (!publisher->connect(&error)) {
      std::fprintf(stderr, "velto-simcam: %s\n", error.c_str());
      return 1;
    }
  }
  velto::sim::SimServer server(options->profile, options->server, clock);
  if (!server.start(&error) || (publisher && !publisher->start(&error))) {
    std::fprintf(stderr, "velto-simcam: %s\n", error.c_str());
    return 1;
  }
  gServer = &server;
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::fprintf(stderr, "velto-simcam: %s (%s, profile %s) plugged in as %s\n", description.c_str(), ids,
               p.name.c_str(), server.socketPath().c_str());
  server.run();
  gServer = nullptr;
  std::fprintf(stderr, "velto-simcam: %s unplugged\n", options->server.id.c_str());
  return 0;
}

int control(const std::vector<std::string>& args) {
  std::string error;
  auto ctl = velto::sim::parseControlOptions(args, &error);
  if (!ctl) {
    std::fprintf(stderr, "velto-simcam ctl: %s\n%s", error.c_str(), velto::sim::kUsage);
    return 2;
  }
  const std::string directory = velto::usb::defaultSimDirectory();
  // Only a simulator of ours listens in a trusted directory; anything else is not told commands.
  if (const auto check = velto::usb::checkSimDirectory(directory, ::getuid());
      check.verdict == velto::usb::SimDirectoryCheck::Verdict::refused) {
    std::fprintf(stderr, "velto-simcam ctl: %s\n", check.problem.c_str());
    return 1;
  }
  if (ctl->callApp) {
    double freeAfterMs = -1;
    const auto result = velto::sim::runCallApp(directory, ctl->id, *ctl->callApp, &error, &freeAfterMs);
    if (result == velto::sim::CallAppResult::failed) {
      std::fprintf(stderr, "velto-simcam ctl: %s\n", error.c_str());
      return 2;
    }
    const bool streamed = result == velto::sim::CallAppResult::streaming;
    if (ctl->callApp->timing) {
      if (freeAfterMs >= 0) std::fprintf(stderr, "free after %.1f ms\n", freeAfterMs);
      else std::fprintf(stderr, "not free within %d ms\n", ctl->callApp->afterMs);
    }
    std::printf("%s\n", streamed ? "streaming" : "busy");
    return streamed ? 0 : 1;
  }
  const std::string path = velto::usb::simControlPath(directory, ctl->id);
  const int fd = velto::usb::connectUnixSocket(path, 1000);
  if (fd < 0) {
    std::fprintf(stderr, "velto-simcam ctl: no simulated camera '%s' is running (%s: %s)\n",
                 ctl->id.c_str(), path.c_str(), std::strerror(errno));
    return 1;
  }
  const std::string line = ctl->line + "\n";
  std::string answer;
  bool sent = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, static_cast<short>(sent ? POLLIN : POLLOUT), 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    if (!sent) {
      sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
      if (!sent) break;
      continue;
    }
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
    if (answer.find('\n') != std::string::npos) break;
  }
  ::close(fd);
  if (const auto end = answer.find('\n'); end != std::string::npos) answer.resize(end);
  if (answer == "ok") return 0;
  if (answer.starts_with("ok ")) {
    std::printf("%s\n", answer.c_str() + 3);
    return 0;
  }
  if (answer.starts_with("error ")) {
    std::fprintf(stderr, "velto-simcam ctl: %s\n", answer.c_str() + 6);
  } else {
    std::fprintf(stderr, "velto-simcam ctl: no answer from '%s'\n", ctl->id.c_str());
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // A client or a reader that has gone is a failed write, for the server and `ctl` alike.
  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(velto::sim::kUsage, stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "ctl") return control({args.begin() + 1, args.end()});
  return serve(args);
}
