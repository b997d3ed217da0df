// SPDX-FileCopyrightText: 2026 Velto Camera developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#include "platform/usb/sim_directory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "sim_test_server.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using Verdict = usb::SimDirectoryCheck::Verdict;

unsigned mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 0777;
}

class SimDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(good);
    fs::permissions(good, fs::perms::owner_all);
    fs::create_directory_symlink(good, link);
    fs::create_directory(open);
    ASSERT_EQ(::chmod(open.c_str(), 0770), 0);
    std::ofstream(file) << "x";
  }

  testing::TempDirectory root;  // 0700, ours
  const uid_t me = ::getuid();
  const std::string good = root.path() + "/good";
  const std::string link = root.path() + "/link";
  const std::string file = root.path() + "/file";
  const std::string open = root.path() + "/open";
};

TEST_F(SimDirectoryTest, OnlyAPrivateDirectoryOfItsOwnerIsTrusted) {
  EXPECT_TRUE(usb::checkSimDirectory(good, me).trusted());
  EXPECT_EQ(usb::checkSimDirectory(root.path() + "/none", me).verdict, Verdict::missing);
  // Another user's directory: the owner expected is injected, so that this holds for root too.
  const uid_t other = me == 65534 ? 65533 : 65534;
  const struct {
    std::string path;
    uid_t owner;
    std::string problem;
  } refused[] = {
      {link, me, link + " is a symbolic link"},
      {open, me, open + " has mode 0770, not 0700: other users can reach it"},
      {file, me, file + " is not a directory"},
      {good, other, "belongs to"},
  };
  for (const auto& c : refused) {
    const usb::SimDirectoryCheck check = usb::checkSimDirectory(c.path, c.owner);
    EXPECT_EQ(check.verdict, Verdict::refused) << c.path;
    EXPECT_NE(check.problem.find(c.problem), std::string::npos) << check.problem;
  }
}

TEST_F(SimDirectoryTest, PreparingCreatesAMissingDirectoryAndLeavesAnExistingOneAsItIs) {
  const std::string fresh = root.path() + "/a/b/velto-simcam";
  EXPECT_TRUE(usb::prepareSimDirectory(fresh, me).trusted());
  EXPECT_EQ(mode(fresh), 0700u);

  EXPECT_EQ(usb::prepareSimDirectory(open, me).verdict, Verdict::refused);
  EXPECT_EQ(mode(open), 0770u) << "not made private behind the user's back";
  EXPECT_EQ(usb::prepareSimDirectory(link, me).verdict, Verdict::refused);
  EXPECT_TRUE(fs::is_symlink(link));
}

TEST_F(SimDirectoryTest, SimulatedCamerasOnlyOnRequestAndFromATrustedDirectory) {
  const std::string runtime = root.path();
  EXPECT_EQ(usb::chooseSimDirectory(false, runtime.c_str(), me).directory, "");
  EXPECT_FALSE(fs::exists(runtime + "/velto-simcam")) << "nothing created unasked";
  EXPECT_EQ(usb::chooseSimDirectory(true, runtime.c_str(), me).directory, runtime + "/velto-simcam");

  // Without XDG_RUNTIME_DIR the fallback in /tmp, where anyone may have put something first. An
  // owner of its own keeps this test off the fallback of the user who runs it.
  const uid_t owner = 2'000'000'000u + static_cast<uid_t>(::getpid());
  const std::string fallback = "/tmp/velto-simcam-" + std::to_string(owner);
  fs::create_directory_symlink(good, fallback);
  const usb::SimDirectoryChoice planted = usb::chooseSimDirectory(true, "", owner);
  fs::remove(fallback);
  EXPECT_EQ(planted.directory, "");
  EXPECT_EQ(planted.refusal, fallback + " is a symbolic link");

  // The process's own choice: asked for in the environment, refused and logged once however often
  // the devices are listed.
  ASSERT_EQ(::chmod((runtime + "/velto-simcam").c_str(), 0777), 0);
  const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("VELTO_SIMCAM", "1");
  qputenv("XDG_RUNTIME_DIR", runtime.c_str());
  static int logged = 0;
  const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
    if (m.contains("simulated cameras are not listed")) ++logged;
  });
  EXPECT_EQ(usb::simulatedCameraDirectory().directory, "");
  EXPECT_EQ(usb::simulatedCameraDirectory().refusal,
            runtime + "/velto-simcam has mode 0777, not 0700: other users can reach it");
  qInstallMessageHandler(previous);
  qunsetenv("VELTO_SIMCAM");
  if (savedRuntime.isNull()) qunsetenv("XDG_RUNTIME_DIR");
  else qputenv("XDG_RUNTIME_DIR", savedRuntime);
  EXPECT_EQ(logged, 1);
}

}  // namespace
}  // namespace velto
