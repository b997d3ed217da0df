// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// A private PipeWire session for a test, as a desktop session has one: a runtime directory of its
// own (mode 0700) holding a session bus (WirePlumber exits without one), `pipewire`, `wireplumber`
// and their configuration and state. While it runs, the test process's XDG_RUNTIME_DIR,
// PIPEWIRE_RUNTIME_DIR and DBUS_SESSION_BUS_ADDRESS point into it, so the code under test and the
// programs the test starts find it; the destructor kills what it started, removes the directory
// and puts the environment back. PrivatePipeWireTest skips, naming them, when programs are missing.
// Every wait polls with a bounded deadline; none sleeps for a period.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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
    // The session manager first, the bus last: each may still talk to those started before it.
    for (auto pid = children_.rbegin(); pid != children_.rend(); ++pid) {
      ::kill(*pid, SIGTERM);
      if (!waitFor([&] { return ::waitpid(*pid, nullptr, WNOHANG) != 0; }, std::chrono::seconds(3))) {
        ::kill(*pid, SIGKILL);
        ::waitpid(*pid, nullptr, 0);
      }
    }
    for (const auto& [name, value] : savedEnvironment_) setEnvironment(name, value);
    if (!directory_.empty()) std::filesystem::remove_all(directory_);
  }
  PrivatePipeWire(const PrivatePipeWire&) = delete;
  PrivatePipeWire& operator=(const PrivatePipeWire&) = delete;

  // The programs it needs that are not installed, separated by spaces; empty when all are.
  static std::string missingPrograms() {
    std::string missing;
    for (const char* program : {"dbus-daemon", "pipewire", "wireplumber", "pw-dump", "pw-metadata"}) {
      if (output(std::string("command -v ") + program).empty()) missing += std::string(missing.empty() ? "" : " ") + program;
    }
    return missing;
  }

  // Starts the bus, PipeWire and WirePlumber; returns once WirePlumber has made its default
  // metadata. Empty on success, otherwise what failed with the daemons' output.
  std::string start() {
    char pattern[] = "/tmp/velto-pipewire-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return "mkdtemp failed";
    directory_ = pattern;  // 0700, as a runtime directory must be
    const std::string bus = directory_ + "/bus";
    spawn("exec dbus-daemon --session --nofork --address=unix:path=" + bus, "dbus.log");
    if (!waitFor([&] { return std::filesystem::exists(bus); })) return "dbus-daemon did not come up" + logs();
    for (const char* name : {"XDG_RUNTIME_DIR", "PIPEWIRE_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE"}) {
      const char* value = std::getenv(name);
      savedEnvironment_[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    }
    setEnvironment("XDG_RUNTIME_DIR", directory_);
    setEnvironment("PIPEWIRE_RUNTIME_DIR", directory_);
    setEnvironment("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + bus);
    setEnvironment("PIPEWIRE_REMOTE", std::nullopt);
    spawn("exec pipewire", "pipewire.log");
    if (!waitFor([] { return !dump().empty(); })) return "pipewire did not come up" + logs();
    spawn("exec wireplumber", "wireplumber.log");
    if (!waitFor([] { return output("pw-metadata -n default").find("Found \"default\"") != std::string::npos; })) {
      return "wireplumber did not make its default metadata" + logs();
    }
    return {};
  }

  const std::string& directory() const { return directory_; }

  // Everything the session holds, as pw-dump prints it (JSON); empty when PipeWire does not answer.
  static std::string dump() { return output("pw-dump"); }
  // Whether pw-dump shows a node with this node.name.
  static bool hasNode(const std::string& name) { return dump().find("\"node.name\": \"" + name + "\"") != std::string::npos; }
  // The node.name in default.video.source, as WirePlumber chose it; empty while none.
  static std::string defaultVideoSource() {
    const std::string text = output("pw-metadata -n default 0 default.video.source"), key = "\"name\":\"";
    const auto at = text.find(key);
    return at == std::string::npos ? "" : text.substr(at + key.size(), text.find('"', at + key.size()) - at - key.size());
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

  // The daemons' output so far, for a failure message.
  std::string logs() const {
    std::string text;
    for (const char* name : {"dbus.log", "pipewire.log", "wireplumber.log"}) {
      std::stringstream s;
      s << std::ifstream(directory_ + "/" + name).rdbuf();
      text += std::string("\n--- ") + name + "\n" + s.str();
    }
    return text;
  }

 private:
  // A shell command's standard output; its errors are dropped.
  static std::string output(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    char buffer[4096];
    for (std::size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
    if (pipe != nullptr) ::pclose(pipe);
    return text;
  }

  static void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  // Runs `command` through the shell, its output in `log` and its configuration and state in the
  // private directory rather than the user's. The child only execs: the test may have threads.
  void spawn(const std::string& command, const char* log) {
    const std::string d = directory_;
    const std::string line = "XDG_CONFIG_HOME=" + d + " XDG_STATE_HOME=" + d + " XDG_DATA_HOME=" + d + " " + command +
                             " >>" + d + "/" + log + " 2>&1";
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid > 0) children_.push_back(pid);
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
