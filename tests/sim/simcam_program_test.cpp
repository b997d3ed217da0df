// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The velto-simcam program itself, run as a user would, in a private XDG_RUNTIME_DIR.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cuvc/cuvc.h"
#include "platform/usb/registry.h"
#include "platform/usb/sim_directory.h"

namespace {

namespace fs = std::filesystem;

struct Result {
  int status = -1;
  std::string out;
};

class SimcamProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/velto-xdg-XXXXXX";
    runtime = ::mkdtemp(pattern);
    dir = runtime + "/velto-simcam";
  }
  void TearDown() override {
    if (child > 0) {
      ::kill(child, SIGKILL);
      ::waitpid(child, nullptr, 0);
    }
    fs::remove_all(runtime);
  }

  // Starts `velto-simcam ARGS` in the background, after the shell commands `before`.
  void start(const std::string& args, const std::string& before = "") {
    child = ::fork();
    if (child == 0) {
      ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      const std::string command = before + "exec " + VELTO_SIMCAM_PATH + " " + args + " 2>/dev/null";
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }

  // Runs `velto-simcam ARGS` to completion; stdout and stderr together.
  Result run(const std::string& args) {
    const std::string command =
        "XDG_RUNTIME_DIR=" + runtime + " " + VELTO_SIMCAM_PATH + " " + args + " 2>&1";
    Result r;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) r.out += buffer.data();
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
  }

  // Polls for a condition on the file system with a generous deadline.
  static bool eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  static QJsonObject json(const std::string& text) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
  }

  // Processor time the child has used so far, in clock ticks.
  long cpuTicks() const {
    std::ifstream in("/proc/" + std::to_string(child) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Fields after the command name, which is in parentheses and may hold spaces: utime and
    // stime are the 12th and 13th of them.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
      if (i == 12) utime = std::stol(field);
      if (i == 13) stime = std::stol(field);
    }
    return utime + stime;
  }

  std::string runtime, dir;
  pid_t child = -1;
};

TEST_F(SimcamProgramTest, ServesAndIsControlled) {
  const std::string log = runtime + "/x.jsonl";
  start("--log " + log);
  ASSERT_TRUE(eventually([&] { return fs::exists(dir + "/cam0.sock") && fs::exists(dir + "/cam0.ctl"); }));

  Result state = run("ctl state");
  EXPECT_EQ(state.status, 0) << state.out;
  EXPECT_EQ(json(state.out)["autoExposure"].toInteger(), 2) << state.out;
  EXPECT_EQ(json(state.out)["brightness"].toInteger(), 0) << state.out;

  EXPECT_EQ(run("ctl set brightness 10").status, 0);
  EXPECT_EQ(json(run("ctl state").out)["brightness"].toInteger(), 10);

  EXPECT_EQ(run("ctl unplug").status, 0);
  EXPECT_FALSE(fs::exists(dir + "/cam0.sock"));
  EXPECT_EQ(run("ctl plug").status, 0);
  EXPECT_TRUE(fs::exists(dir + "/cam0.sock"));

  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  child = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(fs::exists(dir + "/cam0.sock")) << "unplugged cleanly";
  EXPECT_FALSE(fs::exists(dir + "/cam0.ctl"));

  std::ifstream in(log);
  std::vector<std::string> events;
  for (std::string line; std::getline(in, line);) events.push_back(json(line)["event"].toString().toStdString());
  EXPECT_EQ(events, (std::vector<std::string>{"plug", "unplug", "plug", "unplug"})) << "at start and exit too";
}

TEST_F(SimcamProgramTest, BadArgumentsExitNonZeroWithAMessage) {
  Result r = run("--profile webcam");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("unknown profile 'webcam'"), std::string::npos) << r.out;
  r = run("ctl frobnicate");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("unknown command 'frobnicate'"), std::string::npos) << r.out;
  r = run("ctl state");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.out.find("no simulated camera 'cam0' is running"), std::string::npos) << r.out;

  // A directory someone else could have put there is not talked to.
  fs::create_directory(runtime + "/elsewhere");
  fs::create_directory_symlink(runtime + "/elsewhere", dir);
  r = run("ctl state");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(dir + " is a symbolic link"), std::string::npos) << r.out;
}

TEST_F(SimcamProgramTest, RefusedValuesAreReported) {
  start("--profile generic --id side");
  ASSERT_TRUE(eventually([&] { return fs::exists(dir + "/side.ctl"); }));
  Result r = run("ctl --id side set focus 10");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("this camera has no control focus"), std::string::npos) << r.out;
  r = run("ctl --id side set brightness 1000");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("brightness: 1000 is not accepted (-64..64)"), std::string::npos) << r.out;
}

TEST_F(SimcamProgramTest, RunningOutOfDescriptorsNeitherSpinsNorLocksOutLaterClients) {
  // With 24 descriptors accept() fails for want of them long before the connection cap.
  start("", "ulimit -n 24; ");
  ASSERT_TRUE(eventually([&] { return fs::exists(dir + "/cam0.sock") && fs::exists(dir + "/cam0.ctl"); }));
  // More connections than it has descriptors for: the rest wait in its listen backlog, and with
  // them waiting it keeps trying to accept.
  std::vector<int> idle;
  ASSERT_TRUE(eventually([&] {
    const int fd = velto::usb::connectUnixSocket(dir + "/cam0.sock", 0);  // a full backlog refuses
    if (fd >= 0) idle.push_back(fd);
    return idle.size() >= 30;
  }));
  // A server that retries a failing accept() at once uses a whole processor; one that waits
  // uses next to nothing however long it is watched.
  const long before = cpuTicks();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_LT(cpuTicks() - before, 5) << "ticks of processor time in half a second";

  for (int fd : idle) ::close(fd);
  Result info = run("ctl info");
  EXPECT_EQ(info.status, 0) << info.out;
  EXPECT_TRUE(json(info.out)["plugged"].toBool()) << info.out;
  const auto services = velto::usb::listSimServices(dir);
  ASSERT_EQ(services.size(), 1u);
  cuvc_info cameraInfo{};
  cuvc_handle* handle = cuvc_open(&services[0], &cameraInfo);
  EXPECT_NE(handle, nullptr) << "a new host is served again";
  cuvc_close(handle);
}

}  // namespace
