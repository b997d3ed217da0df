// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// An in-process simulated camera in a private directory, for tests of everything that talks to
// one over its socket. The camera's firmware runs on a clock the test moves; the server's own
// waits (latency, time off the bus) are real but short.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "sim/profile.h"
#include "sim/sim_server.h"

namespace velto::testing {

// A fresh directory under /tmp, removed with everything in it at destruction.
class TempDirectory {
 public:
  TempDirectory() {
    char pattern[] = "/tmp/velto-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class TestServer {
 public:
  explicit TestServer(std::string directory, sim::Profile profile = sim::c200Profile(),
                      std::string id = "cam0", std::string logPath = {}) {
    sim::ServerOptions options;
    options.directory = std::move(directory);
    options.id = std::move(id);
    options.reenumerateMs = 50;
    options.logPath = std::move(logPath);
    server_ = std::make_unique<sim::SimServer>(std::move(profile), options, [this] { return now.load(); });
    std::string error;
    started_ = server_->startThread(&error);
    EXPECT_TRUE(started_) << error;
  }

  sim::SimServer& operator*() { return *server_; }
  sim::SimServer* operator->() { return server_.get(); }

  // Runs a control command and expects it to succeed; returns the text after "ok".
  std::string command(const std::string& line) {
    const std::string answer = server_->command(line);
    EXPECT_TRUE(answer.starts_with("ok")) << line << ": " << answer;
    return answer.size() > 3 ? answer.substr(3) : std::string();
  }

  std::atomic<std::int64_t> now{1'000'000};  // the camera's clock, in ms

 private:
  std::unique_ptr<sim::SimServer> server_;
  bool started_ = false;
};

// Polls `done` every few milliseconds until it holds or a generous deadline passes.
inline bool eventually(const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace velto::testing
