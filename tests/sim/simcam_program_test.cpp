// The velto-simcam program itself, run as a user would, in a private XDG_RUNTIME_DIR.
#include <gtest/gtest.h>

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

  // Starts `velto-simcam ARGS` in the background.
  void start(const std::string& args) {
    child = ::fork();
    if (child == 0) {
      ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
      const std::string command = std::string("exec ") + VELTO_SIMCAM_PATH + " " + args + " 2>/dev/null";
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

  std::string runtime, dir;
  pid_t child = -1;
};

TEST_F(SimcamProgramTest, ServesAndIsControlled) {
  const std::string log = runtime + "/x.jsonl";
  start("--log " + log);
  ASSERT_TRUE(eventually([&] { return fs::exists(dir + "/cam0.sock") && fs::exists(dir + "/cam0.ctl"); }));

  Result state = run("ctl state");
  EXPECT_EQ(state.status, 0) << state.out;
  EXPECT_TRUE(state.out.starts_with("{\"autoExposure\":2,")) << state.out;
  EXPECT_NE(state.out.find("\"brightness\":0,"), std::string::npos) << state.out;

  EXPECT_EQ(run("ctl set brightness 10").status, 0);
  EXPECT_NE(run("ctl state").out.find("\"brightness\":10,"), std::string::npos);

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
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "{\"seq\":1,\"event\":\"plug\"}\n{\"seq\":2,\"event\":\"unplug\"}\n"
            "{\"seq\":3,\"event\":\"plug\"}\n{\"seq\":4,\"event\":\"unplug\"}\n");
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

}  // namespace
