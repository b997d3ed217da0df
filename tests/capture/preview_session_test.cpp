// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

// The preview end to end: the real GStreamer session streaming from a simulated C200, the
// watchdog on the manual clock. Frames arrive in real time, so waits for them are bounded polls
// for an event; every period of the watchdog passes only when the test advances its clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <string>
#include <thread>

#include "capture/preview_controller.h"
#include "platform/video/gst_capture_backend.h"
#include "sim/profile.h"
#include "eventually.h"
#include "sim_fixture.h"
#include "support/manual_clock.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using State = PreviewController::State;
using testing::eventually;
const CameraKey kC200{0x291a, 0x3369};

// Another program that holds `path` open under the name `name`, as a video-call application holds
// a camera's node. Killed and reaped by release() or at destruction.
class NodeHolder {
 public:
  NodeHolder(const char* name, const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      // Only system calls from here: the parent has threads. The copies of the parent's
      // descriptors (sockets of the simulated camera among them) are closed first.
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::prctl(PR_SET_NAME, name);
      ::syscall(SYS_close_range, 3u, static_cast<unsigned>(ready[1]) - 1, 0u);
      ::syscall(SYS_close_range, static_cast<unsigned>(ready[1]) + 1, ~0u, 0u);
      const char opened = ::open(path.c_str(), O_RDONLY) >= 0 ? '1' : '0';
      [[maybe_unused]] const ssize_t n = ::write(ready[1], &opened, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char opened = '0';
    holds_ = pid_ > 0 && ::read(ready[0], &opened, 1) == 1 && opened == '1';
    ::close(ready[0]);
  }
  ~NodeHolder() { release(); }
  NodeHolder(const NodeHolder&) = delete;
  NodeHolder& operator=(const NodeHolder&) = delete;

  bool holds() const { return holds_; }
  pid_t pid() const { return pid_; }
  void release() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  bool holds_ = false;
};

class PreviewSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bus.plug(sim::c200Profile(), "c200");
    video::GstCaptureOptions options;
    options.sysfsRoot.clear();  // simulated cameras only
    options.simDirectory = bus.directory();
    options.watchDevices = false;
    preview = std::make_unique<PreviewController>(clock, std::make_unique<video::GstCaptureBackend>(options),
                                                  [this] { ++resets; });
  }
  void start(CameraKey key = kC200) {
    preview->start("window", std::nullopt, key);
    settle();
  }
  // The device is looked up on the session queue and the answer taken here, and the session asked
  // for in answer has been built.
  void settle() {
    for (int i = 0; i < 3; ++i) {
      QCoreApplication::processEvents();
      preview->session().waitUntilIdle();
    }
  }
  bool framesFlow() {
    const std::int64_t before = preview->analyzer().frameCount();
    return eventually([&] { return preview->analyzer().frameCount() > before + 2; });
  }
  // Frames already on their way when the camera froze have arrived.
  void settleFrozen() {
    std::int64_t seen = -1;
    for (int i = 0; i < 100 && preview->analyzer().frameCount() != seen; ++i) {
      seen = preview->analyzer().frameCount();
      std::this_thread::sleep_for(100ms);
    }
  }
  void tick(int seconds) {
    for (int i = 0; i < seconds; ++i) {
      clock.advance(1s);
      settle();
    }
  }

  ManualClock clock;
  testing::SimBus bus{clock};
  std::unique_ptr<PreviewController> preview;
  int resets = 0;
};

TEST_F(PreviewSessionTest, AFrozenCameraIsRestartedThenResetAndRecoversWhenFramesFlow) {
  start();
  ASSERT_EQ(preview->state(), State::running);
  ASSERT_TRUE(framesFlow());
  ASSERT_TRUE(eventually([&] { return preview->stats().has_value(); }));
  EXPECT_EQ(preview->stats()->size, QSizeF(1280, 720));

  bus.command("c200", "freeze");
  settleFrozen();
  tick(6);
  EXPECT_TRUE(preview->recovering());
  EXPECT_EQ(preview->sessionRestarts(), 1);
  EXPECT_EQ(resets, 0);
  tick(5);
  EXPECT_EQ(resets, 1) << "a USB reset is asked for about 5 s after the restart";

  bus.command("c200", "thaw");
  ASSERT_TRUE(framesFlow());
  tick(1);
  EXPECT_FALSE(preview->recovering());
  EXPECT_EQ(preview->state(), State::running);
}

TEST_F(PreviewSessionTest, ACameraBusyElsewhereNamesTheProgramIsNeverResetAndShowsWithinASecondOnceFree) {
  NodeHolder zoom("zoom", bus.camera("c200").nodePath());
  ASSERT_TRUE(zoom.holds());
  bus.command("c200", "busy");
  start();
  ASSERT_TRUE(eventually([&] { return preview->problem().has_value(); }));
  EXPECT_EQ(preview->problem()->kind, video::SessionError::Kind::busy);
  EXPECT_EQ(preview->problem()->text, "zoom (PID " + std::to_string(zoom.pid()) + ") is using the camera.");
  EXPECT_TRUE(preview->inUseByAnotherApplication());
  tick(16);
  EXPECT_EQ(resets, 0);
  EXPECT_GE(preview->sessionRestarts(), 2);

  // The last try has been refused and the controller heard of it.
  ASSERT_TRUE(eventually([&] { return !preview->session().isSessionRunning(); }));
  QCoreApplication::processEvents();
  zoom.release();
  bus.command("c200", "free");
  tick(1);  // the next try finds the camera free
  ASSERT_TRUE(framesFlow());
  EXPECT_TRUE(eventually([&] { return !preview->problem().has_value(); })) << "shown without another tick";
  EXPECT_FALSE(preview->recovering());
  EXPECT_FALSE(preview->inUseByAnotherApplication());
}

TEST_F(PreviewSessionTest, ACameraThatVanishesIsLookedForUntilItReturns) {
  start(CameraKey{0x046d, 0x085e});
  EXPECT_EQ(preview->state(), State::noCamera) << "no video device of that model";
  preview->stop("window");

  start();
  ASSERT_TRUE(framesFlow());
  bus.command("c200", "unplug");
  ASSERT_TRUE(eventually([&] { return preview->problem().has_value(); }));
  EXPECT_EQ(preview->problem()->kind, video::SessionError::Kind::vanished);
  tick(6);
  EXPECT_EQ(preview->state(), State::noCamera);
  bus.command("c200", "plug");
  tick(5);
  EXPECT_EQ(preview->state(), State::running);
  ASSERT_TRUE(framesFlow());
}

}  // namespace
}  // namespace velto
