// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A private PipeWire session for a test, as a desktop session has one: a runtime directory of its own (mode 0700), a session bus (WirePlumber exits without
// one), `pipewire` and `wireplumber`, each with its configuration and state kept in that
// directory. While it runs, the test process's XDG_RUNTIME_DIR, PIPEWIRE_RUNTIME_DIR and
// DBUS_SESSION_BUS_ADDRESS point at it, so code under test and programs the test starts
// (velto-simcam --pipewire, gst-launch-1.0) find it; the destructor kills what it started,
// removes the directory and puts the environment back.
//
// Use PrivatePipeWireTest as a fixture: it skips, saying which, when a program is not installed.
// Readiness and every wait are polls with a bounded deadline, never a sleep for a period.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velto::testing {

class PrivatePipeWire {
 public:
  PrivatePipeWire() = default;
  ~PrivatePipeWire() {
    // The session manager first, the bus last: each may still talk to the ones after it.
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) stopChild(*it);
    for (const auto& [name, value] : savedEnvironment_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
    if (!directory_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(directory_, ec);
    }
  }
  PrivatePipeWire(const PrivatePipeWire&) = delete;
  PrivatePipeWire& operator=(const PrivatePipeWire&) = delete;

  // The programs it needs that are not on PATH, separated by spaces; empty when all are there.
  static std::string missingPrograms() {
    std::string missing;
    for (const char* program : {"dbus-daemon", "pipewire", "wireplumber", "pw-dump", "pw-metadata"}) {
      if (findProgram(program).empty()) missing += std::string(missing.empty() ? "" : " ") + program;
    }
    return missing;
  }

  // Starts the bus, PipeWire and WirePlumber and waits until WirePlumber has made the default
  // metadata. Empty on success, otherwise what failed (with the daemons' output).
  std::string start() {
    char pattern[] = "/tmp/velto-pipewire-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return "mkdtemp failed";
    directory_ = pattern;  // mkdtemp makes it 0700, as a runtime directory must be
    for (const char* sub : {"/config", "/state", "/data"}) std::filesystem::create_directory(directory_ + sub);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return "pipe failed";
    const pid_t bus = spawn({findProgram("dbus-daemon"), "--session", "--nofork", "--print-address"}, "dbus.log", out[1]);
    ::close(out[1]);
    std::string address = readLine(out[0], std::chrono::seconds(10));
    ::close(out[0]);
    if (bus < 0 || address.empty()) return "dbus-daemon gave no address" + logs();

    saveAndSet("XDG_RUNTIME_DIR", directory_);
    saveAndSet("PIPEWIRE_RUNTIME_DIR", directory_);
    saveAndSet("DBUS_SESSION_BUS_ADDRESS", address);
    saveAndSet("PIPEWIRE_REMOTE", std::nullopt);

    spawn({findProgram("pipewire")}, "pipewire.log");
    if (!waitFor([&] { return std::filesystem::exists(directory_ + "/pipewire-0") && !dump().empty(); })) {
      return "pipewire did not come up" + logs();
    }
    spawn({findProgram("wireplumber")}, "wireplumber.log");
    if (!waitFor([&] { return output("pw-metadata -n default 2>/dev/null").find("Found \"default\"") != std::string::npos; })) {
      return "wireplumber did not make the default metadata" + logs();
    }
    return {};
  }

  const std::string& directory() const { return directory_; }

  // Everything the session holds, as pw-dump prints it (JSON); empty when PipeWire does not answer.
  static std::string dump() { return output("pw-dump 2>/dev/null"); }

  // The name in default.video.source, as WirePlumber chose it ("" while none).
  static std::string defaultVideoSource() {
    const std::string text = output("pw-metadata -n default 0 default.video.source 2>/dev/null");
    const std::string key = "\"name\":\"";
    const auto at = text.find(key);
    if (at == std::string::npos) return {};
    return text.substr(at + key.size(), text.find('"', at + key.size()) - at - key.size());
  }

  // Polls `condition` until it holds, for at most `deadline`.
  static bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = std::chrono::seconds(15)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  // Whether pw-dump shows a node of that node.name.
  static bool hasNode(const std::string& name) {
    return dump().find("\"node.name\": \"" + name + "\"") != std::string::npos;
  }

  // The daemons' output so far, for a failure message.
  std::string logs() const {
    std::string text;
    for (const char* name : {"dbus.log", "pipewire.log", "wireplumber.log"}) {
      std::ifstream in(directory_ + "/" + name);
      std::stringstream s;
      s << in.rdbuf();
      if (!s.str().empty()) text += std::string("\n--- ") + name + "\n" + s.str();
    }
    return text;
  }

 private:
  static std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
      const std::string candidate = dir + "/" + name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
  }

  static std::string output(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    std::array<char, 4096> buffer{};
    for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) text.append(buffer.data(), n);
    ::pclose(pipe);
    return text;
  }

  static std::string readLine(int fd, std::chrono::milliseconds deadline) {
    std::string line;
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n <= 0) return {};
      line.append(buffer, static_cast<std::size_t>(n));
    }
    return line.substr(0, line.find('\n'));
  }

  void saveAndSet(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    if (!savedEnvironment_.contains(name)) {
      savedEnvironment_[name] = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  // Starts `argv` with its output in `log` (or its stdout on `stdoutFd`), its configuration and
  // state in the private directory rather than the user's.
  pid_t spawn(const std::vector<std::string>& argv, const char* log, int stdoutFd = -1) {
    const std::string logPath = directory_ + "/" + log;
    // Everything the child needs is made before fork(): the test process may have threads.
    std::vector<std::string> environment = {"XDG_CONFIG_HOME=" + directory_ + "/config",
                                            "XDG_STATE_HOME=" + directory_ + "/state",
                                            "XDG_DATA_HOME=" + directory_ + "/data"};
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      if (!entry.starts_with("XDG_CONFIG_HOME=") && !entry.starts_with("XDG_STATE_HOME=") &&
          !entry.starts_with("XDG_DATA_HOME=")) {
        environment.push_back(entry);
      }
    }
    std::vector<char*> args, env;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
      ::dup2(stdoutFd >= 0 ? stdoutFd : logFd, 1);
      ::dup2(logFd, 2);
      ::setpgid(0, 0);
      ::execve(args[0], args.data(), env.data());
      ::_exit(127);
    }
    if (pid > 0) children_.push_back(pid);
    return pid;
  }

  static void stopChild(pid_t pid) {
    ::kill(pid, SIGTERM);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (::waitpid(pid, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  std::string directory_;
  std::vector<pid_t> children_;
  std::map<std::string, std::optional<std::string>> savedEnvironment_;
};

// A test with a private PipeWire running; skipped when its programs are not installed.
class PrivatePipeWireTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = PrivatePipeWire::missingPrograms(); !missing.empty()) {
      GTEST_SKIP() << "a private PipeWire needs programs that are not installed: " << missing;
    }
    const std::string failure = pipewire.start();
    ASSERT_TRUE(failure.empty()) << failure;
  }

  PrivatePipeWire pipewire;
};

}  // namespace velto::testing
